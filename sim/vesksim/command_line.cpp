#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "race_file.h"
#include "tcp.h"

namespace vesksim {

void complain(const std::string& command, const std::string& text) {
  std::fprintf(stderr, "vesksim %s: %s\n", command.c_str(), text.c_str());
}

bool parseSpeed(const std::string& text, double& speed) {
  char* end = nullptr;
  speed = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && speed >= 0.01 && speed <= 1000;
}

bool speedOption(const std::string& command, const std::string& text, double& speed) {
  if (parseSpeed(text, speed)) return true;
  complain(command, "--speed " + text + ": expected a number from 0.01 to 1000");
  return false;
}

bool portOption(const std::string& command, const std::string& text, std::uint16_t& port) {
  if (tcp::parsePort(text, port)) return true;
  complain(command, "--port " + text + ": expected a port number 1 to 65535");
  return false;
}

std::string describe(const std::string& path, const RaceFileError& error) {
  return error.line ? path + ":" + std::to_string(error.line) + ": " + error.what : path + ": " + error.what;
}

}  // namespace vesksim
