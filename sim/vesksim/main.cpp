// vesksim: the simulated base station, a replayed race server, a recording
// proxy, and the one-command demo that puts them together with veskbridge.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace {

const char* const kUsage =
    "usage:\n"
    "  vesksim run [options] -- PROGRAM ARGS...   PROGRAM meets a simulated base station\n"
    "  vesksim race FILE [--speed X] [--port P]   a race server playing FILE on 127.0.0.1\n"
    "  vesksim record --listen P --to ADDR:PORT FILE   records a real race server for replay\n"
    "  vesksim demo [--race FILE] [--speed X] [--port P] [--bridge PATH] [--plain]\n"
    "  vesksim run --help                         the options of run\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty() || all[0] == "--help" || all[0] == "-h") {
    std::fputs(kUsage, all.empty() ? stderr : stdout);
    return all.empty() ? 2 : 0;
  }
  const std::string command = all[0];
  const std::vector<std::string> args(all.begin() + 1, all.end());
  if (command == "run") return vesksim::runCommand(args);
  if (command == "race") return vesksim::raceCommand(args);
  if (command == "record") return vesksim::recordCommand(args);
  if (command == "demo") return vesksim::demoCommand(args);
  std::fprintf(stderr, "vesksim: unknown command \"%s\"\n%s", command.c_str(), kUsage);
  return 2;
}
