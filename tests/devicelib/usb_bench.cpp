// Benchmark, not a test: 300 frames through the real libusb-0.1 to the
// simulated base station. Prints frames per second and the mean time per frame
// above the 30 ms pause that paces every write.
#include <chrono>
#include <cstdio>

#include "sim/usb_station.h"
#include "vesklink.h"

int main() {
    using Clock = std::chrono::steady_clock;
    constexpr int kFrames = 300;
    constexpr double kPauseMs = 30.0;

    vesksim::UsbTestbed bed;
    vesksim::UsbStation& station = bed.addStation();
    station.model().addDisplay(1001);
    const int32_t conn = InitDevice();
    if (conn == 0) {
        std::fprintf(stderr, "bench: the simulated base station did not open (run under the umockdev preload)\n");
        return 1;
    }
    auto timePerFrameMs = [](int32_t handle) {
        const auto start = Clock::now();
        for (int i = 0; i < kFrames; ++i) {
            sendFlag(handle, 1001, 1 + i % 7);
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kFrames;
    };
    const double perFrameMs = timePerFrameMs(conn);
    // The same frames to handle 0 reach no device: what is left above the pause
    // is the library's own building and the pause's oversleep.
    const double ownMs = timePerFrameMs(0);
    closeDevice(conn);

    const std::size_t received = station.model().frameCount();
    std::printf("frames sent:              %d (received by the station: %zu)\n", kFrames, received);
    std::printf("frames per second:        %.2f (the 30 ms pause allows at most %.2f)\n", 1000.0 / perFrameMs,
                1000.0 / kPauseMs);
    std::printf("mean time per frame:      %.3f ms\n", perFrameMs);
    std::printf("mean above the pause:     %.3f ms (target: under 0.5 ms)\n", perFrameMs - kPauseMs);
    std::printf("  of which the library:   %.3f ms (building the frame and the pause's oversleep, no device)\n",
                ownMs - kPauseMs);
    std::printf("  of which the transfer:  %.3f ms (libusb-0.1 and the simulated station behind umockdev)\n",
                perFrameMs - ownMs);
    return received == kFrames ? 0 : 1;
}
