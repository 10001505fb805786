#include <gtest/gtest.h>

#include <sstream>

#include "race_file.h"

namespace {

using vesksim::RaceFile;
using vesksim::RaceFileError;

bool parse(const std::string& text, RaceFile& race, RaceFileError& error) {
  std::istringstream in(text);
  return vesksim::parseRace(in, race, error);
}

TEST(RaceFile, CommentsBlankLinesEscapesAndLineNumbers) {
  RaceFile race;
  RaceFileError error;
  ASSERT_TRUE(parse("# a race\n"
                    "\n"
                    "   # indented comment\n"
                    "0 @initDevices>1001|*|*|1002\n"
                    "\t2.5\t @sendFlag>1001|*|*|3\\n\r\n"
                    "2.5 a\\\\b\\tc\\x00d\\x7f  \n",
                    race, error))
      << error.what;
  ASSERT_EQ(race.messages.size(), 3u);
  EXPECT_EQ(race.messages[0].at, 0);
  EXPECT_EQ(race.messages[0].bytes, "@initDevices>1001|*|*|1002");
  EXPECT_EQ(race.messages[0].line, 4);
  EXPECT_EQ(race.messages[1].at, 2.5);
  EXPECT_EQ(race.messages[1].bytes, "@sendFlag>1001|*|*|3\n");  // the CRLF line end is not part of it
  EXPECT_EQ(race.messages[2].bytes, std::string("a\\b\tc\0d\x7f  ", 10));
  EXPECT_EQ(race.duration(), 2.5);
}

TEST(RaceFile, AMalformedLineIsNamedAndNothingIsKept) {
  const struct {
    const char* line;
    const char* what;
  } cases[] = {
      {"x @sendFlag>ALL|*|*|1", "\"x\" is not a time"},
      {"-1 @endRace", "\"-1\" is not a time"},
      {"1e3 @endRace", "\"1e3\" is not a time"},
      {"1.2.3 @endRace", "not a time"},
      {"5", "a time without a message"},
      {"5   \t", "a time without a message"},
      {"1 @endRace", "comes before the line above"},
      {"9 abc\\", "a backslash ends the line"},
      {"9 \\q", "unknown escape \\q"},
      {"9 \\x4", "two hex digits"},
      {"9 \\xZZ", "two hex digits"},
  };
  for (const auto& c : cases) {
    RaceFile race;
    race.messages.push_back({});  // must stay as it was
    RaceFileError error;
    EXPECT_FALSE(parse(std::string("# head\n2 @initDevices>1\n") + c.line + "\n3 @endRace\n", race, error)) << c.line;
    EXPECT_EQ(error.line, 3) << c.line;
    EXPECT_NE(error.what.find(c.what), std::string::npos) << c.line << ": " << error.what;
    EXPECT_EQ(race.messages.size(), 1u);
  }
}

TEST(RaceFile, EveryByteSurvivesWritingAndReading) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string messages[] = {all, " leading blank", "\t@a\r\n", "\\x41 is not A"};
  std::string file;
  double at = 0;
  for (const std::string& m : messages) file += vesksim::formatRaceLine(at += 0.125, m) + "\n";
  RaceFile race;
  RaceFileError error;
  ASSERT_TRUE(parse(file, race, error)) << error.line << ": " << error.what;
  ASSERT_EQ(race.messages.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(race.messages[i].bytes, messages[i]);
    EXPECT_DOUBLE_EQ(race.messages[i].at, 0.125 * static_cast<double>(i + 1));
  }
}

TEST(RaceFile, TheSampleRaceRegistersItsKartsAndEnds) {
  RaceFile race;
  RaceFileError error;
  ASSERT_TRUE(vesksim::loadRace(VESKSIM_SAMPLE_RACE, race, error)) << error.line << ": " << error.what;
  ASSERT_FALSE(race.messages.empty());
  EXPECT_EQ(race.messages.front().bytes.rfind("@initDevices>", 0), 0u);
  EXPECT_EQ(race.messages.back().bytes, "@endRace");
  // The bridge blanks the displays 50 s after the end of race: about 90 s in all.
  EXPECT_GT(race.duration() + 50, 80);
  EXPECT_LT(race.duration() + 50, 100);

  RaceFileError missing;
  EXPECT_FALSE(vesksim::loadRace("/nonexistent/race", race, missing));
  EXPECT_EQ(missing.line, 0);
}

}  // namespace
