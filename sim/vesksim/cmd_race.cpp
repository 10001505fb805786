// vesksim race and vesksim record.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "race_file.h"
#include "race_server.h"
#include "recorder.h"
#include "signals.h"
#include "tcp.h"

namespace vesksim {

namespace {

RaceServer* playing = nullptr;

void stopPlaying() {
  if (playing) playing->stop();
}

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int raceCommand(const std::vector<std::string>& args) {
  std::string file;
  double speed = 1;
  std::uint16_t port = 4321;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--speed" && hasValue) {
      if (!speedOption("race", args[++i], speed)) return 2;
    } else if (args[i] == "--port" && hasValue) {
      if (!portOption("race", args[++i], port)) return 2;
    } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
      file = args[i];
    } else {
      complain("race", "unexpected argument " + args[i] + " (usage: vesksim race FILE [--speed X] [--port P])");
      return 2;
    }
  }
  if (file.empty()) {
    complain("race", "no race FILE given");
    return 2;
  }
  RaceFile race;
  RaceFileError error;
  if (!loadRace(file, race, error)) {
    complain("race", describe(file, error));
    return 1;
  }
  RaceServer server(std::move(race), speed, say);
  std::string problem;
  if (!server.listen(port, problem)) {
    complain("race", problem);
    return 1;
  }
  playing = &server;
  onEndSignal(stopPlaying);
  catchEndSignals();
  const bool done = server.serve();
  onEndSignal(nullptr);
  playing = nullptr;
  if (!done) {
    complain("race", "stopped before the race was over");
    return 1;
  }
  return 0;
}

int recordCommand(const std::vector<std::string>& args) {
  RecordOptions options;
  bool listenGiven = false, toGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--listen" && hasValue) {
      if (!tcp::parsePort(args[++i], options.listenPort)) {
        complain("record", "--listen " + args[i] + ": expected a port number 1 to 65535");
        return 2;
      }
      listenGiven = true;
    } else if (args[i] == "--to" && hasValue) {
      if (!tcp::splitAddress(args[++i], options.serverHost, options.serverPort)) {
        complain("record", "--to " + args[i] + ": expected a.b.c.d:port");
        return 2;
      }
      toGiven = true;
    } else if (options.file.empty() && !args[i].empty() && args[i][0] != '-') {
      options.file = args[i];
    } else {
      complain("record", "unexpected argument " + args[i]);
      return 2;
    }
  }
  if (!listenGiven || !toGiven || options.file.empty()) {
    complain("record", "usage: vesksim record --listen P --to ADDR:PORT FILE");
    return 2;
  }
  // An interrupted recording keeps every line written so far: each is flushed.
  std::signal(SIGPIPE, SIG_IGN);
  return runRecorder(options, say, [](const std::string& line) { complain("record", line); });
}

}  // namespace vesksim
