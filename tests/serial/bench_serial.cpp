// Prints the time one frame takes to reach 1, 10 and 100 bus stations over a
// pseudo-terminal, per station, and the same for read requests. The floor is
// the 30 ms pause after each station. A figure, not a test: it never fails.
#include <chrono>
#include <cstdio>
#include <string>

#include "sim/bus_station.h"
#include "vesklink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCom = 9;
constexpr double kPauseMs = 30.0;

template <class Call>
double perStationMs(int stations, int rounds, Call&& call) {
    const auto start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        call();
    }
    const std::chrono::duration<double, std::milli> took = Clock::now() - start;
    return took.count() / (rounds * stations);
}

}  // namespace

int main() {
    vesksim::BusLine line;
    std::string all;
    for (int a = 1; a <= 100; ++a) {
        line.addStation(static_cast<std::uint8_t>(a)).model().addDisplay(1001);
        all.push_back(static_cast<char>(a));
    }
    line.useAsCom(kCom);
    if (InitDeviceRS(kCom) != 0) {
        std::fprintf(stderr, "bench_serial: could not open the pseudo-terminal as COM%d\n", kCom);
        return 1;
    }
    std::printf("%-26s %9s %9s %14s\n", "call", "stations", "rounds", "ms per station");
    for (int n : {1, 10, 100}) {
        const std::string list = all.substr(0, static_cast<std::size_t>(n));
        const int rounds = n == 100 ? 3 : 3000 / (n * 30);
        const double send = perStationMs(n, rounds, [&] { sendFlagRS(list.c_str(), 1001, 3); });
        std::printf("%-26s %9d %9d %14.2f  (+%.2f over the pause)\n", "sendFlagRS", n, rounds, send,
                    send - kPauseMs);
    }
    for (int n : {1, 10}) {
        // Each station answers its acknowledgement, then stays silent: poll
        // only as many as have something to say.
        const std::string list = all.substr(0, static_cast<std::size_t>(n));
        const int rounds = 3000 / (n * 60);
        const double poll = perStationMs(n, rounds, [&] {
            sendFlagRS(list.c_str(), 1001, 3);
            std::uint8_t buffer[128];
            readDataWithCallbackRS(list.c_str(), buffer, nullptr, nullptr);
        });
        std::printf("%-26s %9d %9d %14.2f  (+%.2f over two pauses)\n", "sendFlagRS + poll", n, rounds, poll,
                    poll - 2 * kPauseMs);
    }
    closeDeviceRS();
    return 0;
}
