// What the simulated base station holds and how its displays behave, as
// given on the command line of `vesksim run` (and in the "#!sim" lines of a
// race file, for the demo).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vesksim {

struct StationOptions {
  struct Miss {
    std::uint32_t display = 0;
    double at = 0;  // seconds from the start
  };
  struct Event {
    double at = 0;
    bool panel = false;
    std::uint32_t code = 0;     // display events: the flag code the event carries
    std::uint16_t address = 0;  // the address it names; 0 for every display
    std::uint8_t endpoint = 0x82;  // where the station hands it over
  };

  std::set<std::uint32_t> displays;  // on the USB station
  std::set<std::uint32_t> silent;
  std::map<std::uint32_t, std::chrono::milliseconds> late;
  std::vector<Miss> misses;
  std::vector<Event> events;
  // Bus stations on a pseudo-terminal, by bus address, with their displays.
  std::map<std::uint8_t, std::set<std::uint32_t>> busStations;
  int com = 1;  // the line is VESKLINK_COM<com>
  bool view = false;
};

// Reads options from args[from] on, up to "--" or the end; `next` is left
// at the first argument not read. False with `error` on a bad option.
bool parseStationOptions(const std::vector<std::string>& args, std::size_t from, StationOptions& options,
                         std::size_t& next, std::string& error);

// The times of misses and events divided by `speed`.
void scaleTimes(StationOptions& options, double speed);

extern const char* const kStationOptionsHelp;

}  // namespace vesksim
