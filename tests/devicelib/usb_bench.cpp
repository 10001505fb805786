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
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        sendFlag(conn, 1001, 1 + i % 7);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    closeDevice(conn);

    const std::size_t received = station.model().frameCount();
    const double perFrameMs = seconds * 1000.0 / kFrames;
    std::printf("frames sent:              %d (received by the station: %zu)\n", kFrames, received);
    std::printf("frames per second:        %.2f (the 30 ms pause allows at most %.2f)\n", kFrames / seconds,
                1000.0 / kPauseMs);
    std::printf("mean time per frame:      %.3f ms\n", perFrameMs);
    std::printf("mean above the pause:     %.3f ms (target: under 0.5 ms)\n", perFrameMs - kPauseMs);
    return received == kFrames ? 0 : 1;
}
