// The race file: a recorded race server's messages, one per line, each with
// the time in seconds, from the start of the race, at which it is sent.
//
//   # comment
//   0      @initDevices>1001|*|*|1002
//   2.5    @sendFlag>ALL|*|*|2
//
// The time and the message are separated by blanks; the message is the rest
// of the line. Escapes carry what a line cannot: \\ \n \r \t and \xHH (any
// byte). Times never decrease. Blank lines and lines whose first non-blank
// character is '#' are skipped.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vesksim {

struct RaceMessage {
  double at = 0;      // seconds from the start of the race
  std::string bytes;  // sent as they stand
  int line = 0;       // where it stands in the file
};

struct RaceFile {
  std::vector<RaceMessage> messages;
  double duration() const { return messages.empty() ? 0 : messages.back().at; }
};

struct RaceFileError {
  int line = 0;  // 0: the file as a whole
  std::string what;
};

// Reads a race file; a malformed line gives its error and no messages.
// Returns false and fills `error` on failure.
bool parseRace(std::istream& in, RaceFile& race, RaceFileError& error);
bool loadRace(const std::string& path, RaceFile& race, RaceFileError& error);

// One line of a race file for a message (without the line end).
std::string formatRaceLine(double at, const std::string& bytes);

}  // namespace vesksim
