// The live view: a table of the displays, redrawn in place whenever
// something in it changes, with the last lines of the program's console
// below it. When the output is not a terminal it writes plain lines
// instead: one for each display whose screen, RPM limit or losses change,
// and each console line as it comes.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "screen_text.h"
#include "station_host.h"

namespace vesksim {

class LiveView {
 public:
  LiveView(bool terminal, std::string programName, std::FILE* out = stdout);

  // Any thread: a line of the program's console, or one of vesksim's own.
  void consoleLine(const std::string& line);
  void note(const std::string& line);

  // Main thread: draws what changed.
  void refresh(const std::vector<DisplayRow>& rows, const std::string& status);

  // The table as the terminal shows it (without the console lines).
  static std::string table(const std::vector<DisplayRow>& rows);
  static std::string rowText(const DisplayRow& row);

 private:
  bool terminal_;
  std::string programName_;
  std::FILE* out_;
  std::mutex mutex_;
  std::deque<std::string> fresh_;    // not yet written (plain lines)
  std::deque<std::string> console_;  // the last lines, for the terminal
  std::string drawn_;
  std::map<std::uint32_t, std::string> plainRows_;
};

}  // namespace vesksim
