#include "race_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>

namespace vesksim {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes the escapes of a message; false with `what` on a bad one.
bool unescape(const std::string& text, std::string& out, std::string& what) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) {
      what = "a backslash ends the line (write \\\\ for a backslash)";
      return false;
    }
    switch (text[i]) {
      case '\\': out.push_back('\\'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'x': {
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
          what = "\\x needs two hex digits";
          return false;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        what = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  return true;
}

}  // namespace

bool parseRace(std::istream& in, RaceFile& race, RaceFileError& error) {
  RaceFile parsed;
  std::string line;
  int number = 0;
  const auto fail = [&](const std::string& what) {
    error = RaceFileError{number, what};
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a file written with CRLF
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    if (start == line.size() || line[start] == '#') continue;

    std::size_t end = start;
    while (end < line.size() && !isBlank(line[end])) ++end;
    const std::string timeText = line.substr(start, end - start);
    // strtod alone would take "inf", "0x10" or "1e3": the time is plain decimal.
    if (timeText.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(timeText.begin(), timeText.end(), '.') > 1 || timeText == ".")
      return fail("\"" + timeText + "\" is not a time in seconds");
    const double at = std::strtod(timeText.c_str(), nullptr);
    if (!parsed.messages.empty() && at < parsed.messages.back().at)
      return fail("time " + timeText + " comes before the line above it");

    std::size_t text = end;
    while (text < line.size() && isBlank(line[text])) ++text;
    if (text == line.size()) return fail("a time without a message");
    RaceMessage message;
    message.at = at;
    message.line = number;
    std::string what;
    if (!unescape(line.substr(text), message.bytes, what)) return fail(what);
    parsed.messages.push_back(std::move(message));
  }
  if (in.bad()) return fail("read error");
  race = std::move(parsed);
  return true;
}

bool loadRace(const std::string& path, RaceFile& race, RaceFileError& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = RaceFileError{0, std::strerror(errno)};
    return false;
  }
  return parseRace(in, race, error);
}

std::string formatRaceLine(double at, const std::string& bytes) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", at);
  std::string line = time;
  line += ' ';
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    switch (c) {
      case '\\': line += "\\\\"; continue;
      case '\n': line += "\\n"; continue;
      case '\r': line += "\\r"; continue;
      case '\t': line += "\\t"; continue;
      default: break;
    }
    // Blanks in front of the message would be read as the separator.
    if (c < 0x20 || c == 0x7F || (i == 0 && c == ' ')) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      line += hex;
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  return line;
}

}  // namespace vesksim
