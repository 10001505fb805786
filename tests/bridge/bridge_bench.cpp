// Figures of the bridge at work: the real veskbridge with the real library
// against the simulated base station, and a race server played here. Prints
// figures; never fails on time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "process.h"
#include "sim/usb_station.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long peakMemoryKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  return -1;
}

// Frames the station has received since index `from`.
std::size_t framesAfter(const vesksim::StationModel &model, std::size_t from) {
  const std::size_t n = model.frameCount();
  return n > from ? n - from : 0;
}

} // namespace

int main() {
  vesksim::UsbTestbed bed;
  vesksim::UsbStation &station = bed.addStation();
  vesksim::StationModel &model = station.model();
  std::string serials;
  for (int n = 1; n <= 255; ++n) {
    model.addDisplay(static_cast<std::uint32_t>(n));
    serials += (n > 1 ? "|*|*|" : "") + std::to_string(n);
  }
  RaceServer server;
  Environment env = bed.childEnvironment();
  env.emplace_back("VESKBRIDGE_SERVER", server.address());
  BridgeProcess bridge(VESKBRIDGE_PATH, env);
  if (!server.accept(10s) || server.receive(11, 5s) != "{\"type\":10}") {
    std::fprintf(stderr, "the bridge did not connect:\n%s\n", bridge.output().c_str());
    return 1;
  }
  server.send("@initDevices>" + serials);
  if (!bridge.waitForOutput("VESKD: 255\n", 5s)) {
    std::fprintf(stderr, "no registration:\n%s\n", bridge.output().c_str());
    return 1;
  }

  // Idle: the main loop polls every 100 ms, the connection thread sleeps.
  std::this_thread::sleep_for(1s);
  const auto idleSpan = 10s;
  const auto cpuBefore = bridge.cpuTime();
  std::this_thread::sleep_for(idleSpan);
  const double idleShare = 100.0 * static_cast<double>((bridge.cpuTime() - cpuBefore).count()) /
                           static_cast<double>(std::chrono::milliseconds(idleSpan).count());
  std::printf("CPU while idle:                 %.2f %% of one core over %lld s (target < 1 %%)\n",
              idleShare, static_cast<long long>(idleSpan.count()));

  // The cycle as the station sees it: one poll of endpoint 0x82 per cycle.
  std::vector<double> cycles, polls;
  Clock::time_point previous{};
  for (const auto &t : station.transfers()) {
    if (t.endpoint != vesksim::kEndpointReplies)
      continue;
    if (previous != Clock::time_point{})
      cycles.push_back(ms(t.submitted - previous));
    previous = t.submitted;
    if (t.outcome == vesksim::TransferOutcome::Discarded)
      polls.push_back(ms(t.elapsed()));
  }
  if (!cycles.empty() && !polls.empty()) {
    std::sort(cycles.begin(), cycles.end());
    std::sort(polls.begin(), polls.end());
    std::printf("main-loop cycle:                median %.1f ms, of which the USB poll %.1f ms "
                "(100 ms sleep + poll with its 10 ms time-out)\n",
                cycles[cycles.size() / 2], polls[polls.size() / 2]);
  }

  // Server send to the first frame written, at random phases of the cycle.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> phase(0, 120);
  std::vector<double> latencies;
  for (int i = 0; i < 60; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
    const std::size_t before = model.frameCount();
    const auto sent = Clock::now();
    server.send("@RPMLimit>7|*|*|" + std::to_string(5000 + i));
    if (!eventually([&] { return framesAfter(model, before) >= 1; }, 3s)) {
      std::fprintf(stderr, "no frame for send %d\n", i);
      return 1;
    }
    latencies.push_back(ms(model.frames()[before].at - sent));
    bridge.waitForOutput("\nMSG @RPMLimit>7|*|*|" + std::to_string(5000 + i), 1s);
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("server send to first frame:     median %.1f ms, worst %.1f ms over %zu sends "
              "(target: median < 60 ms, worst < 110 ms)\n",
              latencies[latencies.size() / 2], latencies.back(), latencies.size());

  // A flag to all 255 displays: one frame and one 30 ms pause each.
  std::this_thread::sleep_for(300ms);
  const std::size_t before = model.frameCount();
  const auto sent = Clock::now();
  server.send("@sendFlag>ALL|*|*|3");
  if (!eventually([&] { return framesAfter(model, before) >= 255; }, 30s)) {
    std::fprintf(stderr, "only %zu flag frames\n", framesAfter(model, before));
    return 1;
  }
  const auto frames = model.frames();
  const auto first = frames[before].at;
  const auto last = frames[before + 254].at;
  // The command ends with the pause after its last frame.
  const double span = ms(last - first) + 30.0;
  const double floor = 255 * 30.0;
  std::printf("flag to ALL, 255 displays:      %.0f ms from the first frame to the end of the last "
              "pause, %.0f ms from the server send (floor %.0f ms, %+.1f %%; target within 5 %%)\n",
              span, ms(last - sent) + 30.0, floor, 100.0 * (span - floor) / floor);

  std::this_thread::sleep_for(500ms);
  std::printf("peak memory of veskbridge:      %ld KiB (VmHWM)\n", peakMemoryKiB(bridge.pid()));
  return 0;
}
