// The subcommands of vesksim. Each takes the arguments after its name and
// returns the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesksim {

int runCommand(const std::vector<std::string>& args);
int raceCommand(const std::vector<std::string>& args);
int recordCommand(const std::vector<std::string>& args);
int demoCommand(const std::vector<std::string>& args);

// "vesksim <command>: <text>" on standard error.
void complain(const std::string& command, const std::string& text);
// A --speed value: a number from 0.01 to 1000.
bool parseSpeed(const std::string& text, double& speed);
// The values of --speed and --port as the commands take them: false, after
// saying what is wrong, when the value does not fit.
bool speedOption(const std::string& command, const std::string& text, double& speed);
bool portOption(const std::string& command, const std::string& text, std::uint16_t& port);

struct RaceFileError;
// "FILE:LINE: what", or "FILE: what" for the file as a whole.
std::string describe(const std::string& path, const RaceFileError& error);

}  // namespace vesksim
