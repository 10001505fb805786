// The subcommands of vesksim. Each takes the arguments after its name and
// returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace vesksim {

int runCommand(const std::vector<std::string>& args);
int raceCommand(const std::vector<std::string>& args);
int recordCommand(const std::vector<std::string>& args);
int demoCommand(const std::vector<std::string>& args);

// "vesksim <command>: <text>" on standard error.
void complain(const std::string& command, const std::string& text);

}  // namespace vesksim
