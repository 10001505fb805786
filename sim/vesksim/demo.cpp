// vesksim demo: the sample race played to the real veskbridge, which drives
// a simulated base station with the race's displays, shown in the live view.
// The race server and the station live in this process, the bridge is its
// child; the demo ends when the race is over and prints its figures.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "commands.h"
#include "live_view.h"
#include "race_file.h"
#include "race_server.h"
#include "signals.h"
#include "station_host.h"
#include "tcp.h"

namespace vesksim {

namespace {

constexpr auto kConnectWait = std::chrono::seconds(30);
constexpr auto kSettleAfterRace = std::chrono::seconds(10);   // a result screen's 8 s return
constexpr auto kBlankWait = std::chrono::seconds(60);         // the 50 s blank after the end of race
constexpr auto kLatencyWindow = std::chrono::seconds(1);

RaceServer* playing = nullptr;
void stopPlaying() {
  if (playing) playing->stop();
}

// Serial numbers registered by the race's "@initDevices" commands.
std::set<std::uint32_t> registeredDisplays(const RaceFile& race) {
  std::set<std::uint32_t> numbers;
  const std::string head = "@initDevices>";
  for (const RaceMessage& m : race.messages) {
    for (std::size_t at = m.bytes.find(head); at != std::string::npos; at = m.bytes.find(head, at + 1)) {
      const std::size_t begin = at + head.size();
      const std::string fields = m.bytes.substr(begin, m.bytes.find('@', begin) - begin);
      for (std::size_t from = 0;;) {
        const std::size_t sep = fields.find("|*|*|", from);
        numbers.insert(static_cast<std::uint32_t>(std::atoll(fields.substr(from, sep - from).c_str())));
        if (sep == std::string::npos) break;
        from = sep + 5;
      }
    }
  }
  return numbers;
}

// The "#!sim" lines of a race file: station options in race seconds.
bool simLines(const std::string& path, StationOptions& options, std::string& error) {
  std::ifstream in(path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, 5, "#!sim") != 0) continue;
    std::istringstream words(line.substr(at + 5));
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    std::size_t next = 0;
    if (!parseStationOptions(args, 0, options, next, error) || next != args.size()) {
      if (next != args.size() && error.empty()) error = "unexpected " + args[next];
      error = path + ":" + std::to_string(number) + ": " + error;
      return false;
    }
  }
  return true;
}

bool endsTheRace(const RaceFile& race) {
  return std::any_of(race.messages.begin(), race.messages.end(), [](const RaceMessage& m) {
    return m.bytes.find("@endRace") != std::string::npos || m.bytes.find("|*|*|999") != std::string::npos;
  });
}

bool blank(const Screen& s) {
  return s.kind == ScreenKind::Text7 && s.picture == 10 &&
         std::all_of(s.lines.begin(), s.lines.end(), [](const TextLine& l) { return l.str().empty(); });
}

std::string milliseconds(Clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f ms", std::chrono::duration<double, std::milli>(d).count());
  return text;
}

void printFigures(const StationHost& host, const std::vector<Clock::time_point>& sent) {
  const StationTotals t = host.totals();
  std::printf("\nfigures, from the simulator's records:\n");
  std::printf("  frames received: %zu, acknowledged: %zu, lost: %zu\n", t.frames, t.acknowledged, t.lost);
  // Each message's first frame: the first within a second of it and before the next message.
  std::vector<Clock::duration> latency;
  const auto& frames = host.frames();
  for (std::size_t k = 0; k < sent.size(); ++k) {
    Clock::time_point end = sent[k] + kLatencyWindow;
    if (k + 1 < sent.size()) end = std::min(end, sent[k + 1]);
    const auto first = std::find_if(frames.begin(), frames.end(),
                                    [&](const FrameRecord& f) { return f.at >= sent[k] && f.at < end; });
    if (first != frames.end()) latency.push_back(first->at - sent[k]);
  }
  if (latency.empty()) {
    std::printf("  server message to first frame: no message caused a frame\n");
    return;
  }
  std::sort(latency.begin(), latency.end());
  const Clock::duration median = latency.size() % 2 ? latency[latency.size() / 2]
                                                   : (latency[latency.size() / 2 - 1] + latency[latency.size() / 2]) / 2;
  std::printf("  server message to first frame: median %s, worst %s (%zu of %zu messages caused frames)\n",
              milliseconds(median).c_str(), milliseconds(latency.back()).c_str(), latency.size(), sent.size());
}

}  // namespace

int demoCommand(const std::vector<std::string>& args) {
  std::string racePath = VESKSIM_SAMPLE_RACE;
  std::string bridgePath = VESKSIM_BRIDGE;
  double speed = 1;
  std::uint16_t port = 0;
  bool plain = ::isatty(1) != 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--race" && hasValue) {
      racePath = args[++i];
    } else if (args[i] == "--bridge" && hasValue) {
      bridgePath = args[++i];
    } else if (args[i] == "--speed" && hasValue) {
      if (!speedOption("demo", args[++i], speed)) return 2;
    } else if (args[i] == "--port" && hasValue) {
      if (!portOption("demo", args[++i], port)) return 2;
    } else if (args[i] == "--plain") {
      plain = true;
    } else {
      complain("demo", "unexpected argument " + args[i] +
                           " (usage: vesksim demo [--race FILE] [--speed X] [--port P] [--bridge PATH] [--plain])");
      return 2;
    }
  }

  RaceFile race;
  RaceFileError raceError;
  if (!loadRace(racePath, race, raceError)) {
    complain("demo", describe(racePath, raceError));
    return 1;
  }
  StationOptions options;
  std::string error;
  if (!simLines(racePath, options, error)) {
    complain("demo", error);
    return 1;
  }
  const std::set<std::uint32_t> registered = registeredDisplays(race);
  options.displays.insert(registered.begin(), registered.end());
  scaleTimes(options, speed);
  const bool endRace = endsTheRace(race);
  const std::size_t total = race.messages.size();

  catchEndSignals();
  LiveView view(!plain, "veskbridge");
  RaceServer server(std::move(race), speed, [&view](const std::string& line) { view.note(line); });
  if (!server.listen(port, error)) {
    complain("demo", error);
    return 1;
  }
  std::unique_ptr<StationHost> host;
  try {
    host = std::make_unique<StationHost>(options);
  } catch (const std::exception& e) {
    complain("demo", std::string("cannot set up the simulated base station: ") + e.what());
    return 1;
  }
  std::atomic<Clock::rep> raceStart{0};
  server.onStart = [&raceStart](Clock::time_point t) { raceStart = t.time_since_epoch().count(); };

  Environment env = host->childEnvironment();
  env.emplace_back("VESKBRIDGE_SERVER", "127.0.0.1:" + std::to_string(server.port()));
  ChildProcess bridge;
  if (!bridge.start({bridgePath}, env, [&view](const std::string& line) { view.consoleLine(line); }, error,
                    true)) {
    complain("demo", "cannot start veskbridge (" + bridgePath + "): " + error);
    return 1;
  }
  playing = &server;
  onEndSignal(stopPlaying);
  std::thread raceThread([&] { server.serve(true); });

  const auto begun = Clock::now();
  std::optional<Clock::time_point> raceOver;  // when the last message went out
  std::string failure;
  int status = 0;
  for (;;) {
    const auto now = Clock::now();
    if (!host->started() && raceStart) host->start(Clock::time_point(Clock::duration(raceStart.load())));
    host->tick(now);
    const auto sent = server.sentTimes();
    if (!raceOver && sent.size() == total) raceOver = now;
    char speedText[32];
    std::snprintf(speedText, sizeof speedText, "%g", speed);
    std::string state = "race " + std::to_string(sent.size()) + "/" + std::to_string(total) + " messages, speed " +
                        speedText;
    if (raceOver) state += endRace ? ", race over: waiting for the blank screens" : ", race over: settling";
    view.refresh(host->rows(), state);

    if (endSignal()) {
      failure = "interrupted";
      status = 128 + endSignal();
      break;
    }
    if (const auto s = bridge.status()) {
      failure = "veskbridge ended during the race (exit status " + std::to_string(*s) + ")";
      status = 1;
      break;
    }
    if (!raceStart && now - begun > kConnectWait) {
      failure = "veskbridge did not connect to the race server within 30 s";
      status = 1;
      break;
    }
    if (raceOver) {
      if (!endRace && now - *raceOver >= kSettleAfterRace) break;
      if (endRace) {
        const auto rows = host->rows();
        const bool allBlank = std::all_of(rows.begin(), rows.end(), [](const DisplayRow& r) { return blank(r.state.screen); });
        if (allBlank || now - *raceOver >= kBlankWait) break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  // The last frames' acknowledgements are still on their way.
  for (const auto until = Clock::now() + std::chrono::seconds(3); failure.empty() && Clock::now() < until;) {
    host->tick();
    if (host->waiting() == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  bridge.stop();
  server.stop();
  raceThread.join();
  onEndSignal(nullptr);
  playing = nullptr;
  host->tick();
  view.refresh(host->rows(), failure.empty() ? "race over" : failure);
  if (!failure.empty()) {
    complain("demo", failure);
    return status;
  }
  printFigures(*host, server.sentTimes());
  return 0;
}

}  // namespace vesksim
