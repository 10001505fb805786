// Result screens, "TO SAMO" and the timed return.
#include "recorder.h"

namespace {

using Results = BridgeTest;

std::u16string unit8(const std::u16string &text) {
  std::u16string whole = text;
  whole.resize(8, u'\0');
  return whole;
}

TEST_F(Results, ScreenThenTheSameTextsOverBackgroundOneAfter8s) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|1:02.3|*|*|P1|*|*|1:01.9|*|*|+0.55|*|*|3", 1000);
  ASSERT_EQ(calls.size(), 1u);
  // Every argument of the four-text screen, in order (texts aside).
  EXPECT_EQ(calls[0].args, (std::vector<long long>{7, 1001, 13, 0, 0, 0xFFFFFF, 10, 40, 1, 90,
                                                   375, 40, 0xFFFFFF, 10, 170, 1, 55, 260, 170}));
  const std::vector<std::u16string> texts = {unit8(u"1:02.3"), unit8(u"P1"), unit8(u"1:01.9"),
                                             unit8(u"+0.55")};
  EXPECT_EQ(calls[0].texts, texts);
  EXPECT_EQ(display(0).lastMsgId, calls[0].id);
  EXPECT_EQ(display(0).VDLR.bcg, 3);

  EXPECT_EQ(display(0).returnAfterChangeResults(1007), 1);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(display(0).returnAfterChangeResults(1008), 2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].value(), 11);
  EXPECT_EQ(calls[1].texts, texts);
  EXPECT_EQ(display(0).testTimestamp, 1008);
  EXPECT_EQ(display(0).returnAfterChangeResults(1100), 0);
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Results, RepeatedCommandPrintsToSamoAndTheReturnStillComes) {
  registerDisplays("1001");
  const std::string cmd = "@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|2";
  parse(cmd, 1000);
  console();
  parse(cmd, 1003);
  EXPECT_EQ(console(), "\nc: " + cmd + "\n\nTO SAMO\n");
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(display(0).returnAfterChangeResults(1008), 2);
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Results, ToSamoOnlyWhereTheCommandRepeats) {
  registerDisplays("1|*|*|2|*|*|3");
  const std::string cmd = "@sendMsg>ALL|*|*|a|*|*|b|*|*|c|*|*|d|*|*|0";
  parse(cmd, 1000);
  parse("@RPMLimit>2|*|*|8000@sendFlag>3|*|*|4", 1001);
  console();
  calls.clear();
  parse(cmd, 1002);
  const std::string out = console();
  EXPECT_EQ(out.find("TO SAMO"), out.rfind("TO SAMO")); // exactly once
  EXPECT_NE(out.find("TO SAMO"), std::string::npos);
  ASSERT_EQ(calls.size(), 1u); // display 2 again; display 3 is under a flag
  EXPECT_EQ(calls[0].addr(), 2);
  EXPECT_EQ(display(2).lastCommand, "ALL|*|*|a|*|*|b|*|*|c|*|*|d|*|*|0");
}

TEST_F(Results, BackgroundCodes) {
  const struct {
    std::string bcg;
    long long picture;
  } cases[] = {{"0", 10}, {"1", 11}, {"4", 14}, {"6", 16}, {"7", 11},
               {"-1", 11}, {"x", 10}, {"99999999999", 11}};
  for (const auto &c : cases) {
    reset();
    registerDisplays("1001");
    parse("@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|" + c.bcg, 1000);
    ASSERT_EQ(calls.size(), 1u) << c.bcg;
    EXPECT_EQ(calls[0].value(), c.picture) << c.bcg;
  }
}

TEST_F(Results, HeldBackUnderAFlagAndTheEarlierScreenReturnsOnClear) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|old|*|*|P2|*|*|x|*|*|y|*|*|0", 1000);
  parse("@sendFlag>1001|*|*|3", 1001);
  parse("@sendMsg>1001|*|*|new|*|*|P1|*|*|x|*|*|y|*|*|0", 1002);
  ASSERT_EQ(calls.size(), 2u); // screen and flag, nothing for the new results
  EXPECT_EQ(display(0).lastCommand, "1001|*|*|new|*|*|P1|*|*|x|*|*|y|*|*|0");
  console();
  parse("@sendMsg>1001|*|*|new|*|*|P1|*|*|x|*|*|y|*|*|0", 1003);
  EXPECT_NE(console().find("TO SAMO"), std::string::npos);

  parse("@sendFlag>1001|*|*|3", 1004);
  EXPECT_EQ(display(0).returnAfterChangeResults(1005), 2);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].value(), 11);
  EXPECT_EQ(calls[2].texts[0], unit8(u"old"));
}

TEST_F(Results, ALimitCancelsThePendingReturn) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|5", 1000);
  parse("@RPMLimit>1001|*|*|9000", 1003);
  EXPECT_EQ(display(0).returnAfterChangeResults(1010), 0);
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Results, EndOfRaceBlankKeepsTheStoredResults) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|5", 1990);
  parse("@endRace", 2000);
  calls.clear();
  EXPECT_EQ(display(0).returnAfterChangeResults(2049), 1);
  EXPECT_EQ(display(0).returnAfterChangeResults(2050), 2);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].value(), 10);
  EXPECT_EQ(calls[0].texts, std::vector<std::u16string>(4, std::u16string(8, u'\0')));
  EXPECT_FALSE(display(0).endRace);
  EXPECT_FALSE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).VDLR.lastLap, "a");
  EXPECT_EQ(display(0).VDLR.bcg, 5);
}

TEST_F(Results, TextsAreCutToSevenUnitsWithZerosAfter) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|1234567|*|*|12345678|*|*||*|*|abcdefghijkl|*|*|1", 1000);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].texts[0], unit8(u"1234567"));
  EXPECT_EQ(calls[0].texts[1], unit8(u"1234567"));
  EXPECT_EQ(calls[0].texts[2], unit8(u""));
  EXPECT_EQ(calls[0].texts[3], unit8(u"abcdefg"));
  // The stored screen keeps the whole texts; the return cuts them again.
  EXPECT_EQ(display(0).VDLR.gap, "abcdefghijkl");
}

} // namespace
