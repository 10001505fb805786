#include "run_options.h"

#include "sim/station_model.h"

#include <cstdlib>
#include <sstream>

namespace vesksim {

const char* const kStationOptionsHelp =
    "  --display N[,N...]   displays on the USB base station, by display number\n"
    "  --silent N           display N never acknowledges\n"
    "  --late N:MS          display N acknowledges MS milliseconds late\n"
    "  --miss N[:SECONDS]   the first frame display N takes at or after SECONDS\n"
    "                       loses its acknowledgement; 9.5 s after that frame the\n"
    "                       display reports again, with the id it acknowledged before\n"
    "  --event SECONDS:CODE[:ADDRESS]\n"
    "                       a display event with flag code CODE naming ADDRESS\n"
    "                       (0, every display, unless given)\n"
    "  --panel-event SECONDS[:83]\n"
    "                       an event of the remote-control panel, on endpoint 0x82\n"
    "                       (where the bridge's poll reads it) or on 0x83\n"
    "  --bus ADDR:N[,N...]  a bus station at bus address ADDR with these displays\n"
    "  --com N              the bus line is COM<N> for the library (default 1)\n"
    "  --view               the live view of the displays, with PROGRAM's output below it\n"
    "Times are seconds from the start of PROGRAM.\n";

namespace {

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return value <= max;
}

bool parseSeconds(const std::string& text, double& value) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0';
}

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, at)) parts.push_back(part);
  if (!text.empty() && text.back() == at) parts.emplace_back();
  return parts;
}

bool parseDisplay(const std::string& text, std::uint32_t& number) {
  unsigned long long v = 0;
  if (!parseUnsigned(text, 0xFFFFFFFFull, v)) return false;
  number = static_cast<std::uint32_t>(v);
  return true;
}

bool parseDisplayList(const std::string& text, std::set<std::uint32_t>& into) {
  for (const std::string& part : split(text, ',')) {
    std::uint32_t n = 0;
    if (!parseDisplay(part, n)) return false;
    into.insert(n);
  }
  return !text.empty();
}

}  // namespace

bool parseStationOptions(const std::vector<std::string>& args, std::size_t from, StationOptions& options,
                         std::size_t& next, std::string& error) {
  std::size_t i = from;
  const auto value = [&](const std::string& name, std::string& out) {
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    out = args[++i];
    return true;
  };
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& name = args[i];
    std::string v;
    const auto bad = [&](const std::string& form) {
      error = name + " " + v + ": expected " + form;
      return false;
    };
    if (name == "--view") {
      options.view = true;
    } else if (name == "--display") {
      if (!value(name, v)) return false;
      if (!parseDisplayList(v, options.displays)) return bad("N[,N...]");
    } else if (name == "--silent") {
      if (!value(name, v)) return false;
      std::uint32_t n = 0;
      if (!parseDisplay(v, n)) return bad("a display number");
      options.displays.insert(n);
      options.silent.insert(n);
    } else if (name == "--late") {
      if (!value(name, v)) return false;
      const auto parts = split(v, ':');
      std::uint32_t n = 0;
      unsigned long long ms = 0;
      if (parts.size() != 2 || !parseDisplay(parts[0], n) || !parseUnsigned(parts[1], 3600000, ms))
        return bad("N:MILLISECONDS");
      options.displays.insert(n);
      options.late[n] = std::chrono::milliseconds(ms);
    } else if (name == "--miss") {
      if (!value(name, v)) return false;
      const auto parts = split(v, ':');
      StationOptions::Miss miss;
      if (parts.empty() || parts.size() > 2 || !parseDisplay(parts[0], miss.display) ||
          (parts.size() == 2 && !parseSeconds(parts[1], miss.at)))
        return bad("N[:SECONDS]");
      options.displays.insert(miss.display);
      options.misses.push_back(miss);
    } else if (name == "--event") {
      if (!value(name, v)) return false;
      const auto parts = split(v, ':');
      StationOptions::Event event;
      unsigned long long code = 0, address = 0;
      if (parts.size() < 2 || parts.size() > 3 || !parseSeconds(parts[0], event.at) ||
          !parseUnsigned(parts[1], 0xFFFFFFFFull, code) ||
          (parts.size() == 3 && !parseUnsigned(parts[2], 0xFFFF, address)))
        return bad("SECONDS:CODE[:ADDRESS]");
      event.code = static_cast<std::uint32_t>(code);
      event.address = static_cast<std::uint16_t>(address);
      options.events.push_back(event);
    } else if (name == "--panel-event") {
      if (!value(name, v)) return false;
      StationOptions::Event event;
      event.panel = true;
      const auto parts = split(v, ':');
      if (parts.empty() || parts.size() > 2 || !parseSeconds(parts[0], event.at) ||
          (parts.size() == 2 && parts[1] != "82" && parts[1] != "83"))
        return bad("SECONDS[:82|:83]");
      if (parts.size() == 2 && parts[1] == "83") event.endpoint = kEndpointPanel;
      options.events.push_back(event);
    } else if (name == "--bus") {
      if (!value(name, v)) return false;
      const std::size_t colon = v.find(':');
      unsigned long long address = 0;
      std::set<std::uint32_t> numbers;
      if (colon == std::string::npos || !parseUnsigned(v.substr(0, colon), 255, address) || address == 0 ||
          !parseDisplayList(v.substr(colon + 1), numbers))
        return bad("ADDR:N[,N...] with ADDR 1 to 255");
      options.busStations[static_cast<std::uint8_t>(address)].insert(numbers.begin(), numbers.end());
    } else if (name == "--com") {
      if (!value(name, v)) return false;
      unsigned long long n = 0;
      if (!parseUnsigned(v, 255, n) || n == 0) return bad("a port number from 1");
      options.com = static_cast<int>(n);
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  next = i;
  return true;
}

void scaleTimes(StationOptions& options, double speed) {
  for (auto& m : options.misses) m.at /= speed;
  for (auto& e : options.events) e.at /= speed;
}

}  // namespace vesksim
