// vesksim run: hosts the simulated base station and runs PROGRAM against it.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "child_process.h"
#include "commands.h"
#include "live_view.h"
#include "signals.h"
#include "station_host.h"

namespace vesksim {

int runCommand(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("usage: vesksim run [options] -- PROGRAM ARGS...\n%s", kStationOptionsHelp);
    return 0;
  }
  StationOptions options;
  std::size_t next = 0;
  std::string error;
  if (!parseStationOptions(args, 0, options, next, error)) {
    complain("run", error);
    return 2;
  }
  if (next >= args.size() || next + 1 == args.size()) {
    complain("run", "no PROGRAM after --");
    return 2;
  }
  const std::vector<std::string> program(args.begin() + static_cast<long>(next) + 1, args.end());

  catchEndSignals();
  std::unique_ptr<StationHost> host;
  try {
    host = std::make_unique<StationHost>(options);
  } catch (const std::exception& e) {
    complain("run", std::string("cannot set up the simulated base station: ") + e.what());
    return 1;
  }
  std::unique_ptr<LiveView> view;
  const std::string name = program[0].substr(program[0].rfind('/') + 1);
  if (options.view) view = std::make_unique<LiveView>(::isatty(1) == 1, name);

  ChildProcess child;
  ChildProcess::LineSink sink;
  if (view) sink = [&view](const std::string& line) { view->consoleLine(line); };
  if (!child.start(program, host->childEnvironment(), sink, error)) {
    complain("run", "cannot start " + program[0] + ": " + error);
    return 127;
  }
  host->start(Clock::now());

  int forwarded = 0;
  Clock::time_point forwardedAt;
  auto lastDraw = Clock::now();
  while (!child.status()) {
    const int sig = endSignal();
    if (sig && !forwarded) {
      child.signal(sig);
      forwarded = sig;
      forwardedAt = Clock::now();
    } else if (forwarded && Clock::now() - forwardedAt > std::chrono::seconds(5)) {
      child.signal(SIGKILL);
    }
    host->tick(Clock::now(), view != nullptr);
    if (view && Clock::now() - lastDraw >= std::chrono::milliseconds(100)) {
      view->refresh(host->rows(), name + " running");
      lastDraw = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const int status = child.stop();
  if (view) {
    host->tick();
    view->refresh(host->rows(), name + " ended with status " + std::to_string(status));
  }
  return status;
}

}  // namespace vesksim
