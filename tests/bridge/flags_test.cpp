// Flags, their toggle, the end of race and RPM limits.
#include "recorder.h"

namespace {

using Flags = BridgeTest;

TEST_F(Flags, SameFlagAgainClearsWithoutAFrameAndBringsResultsBack) {
  registerDisplays("1001");
  parse("@sendFlag>1001|*|*|3", 100);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].value(), 3);
  EXPECT_TRUE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 3);
  EXPECT_FALSE(display(0).VDLR.waitToReturn);

  parse("@sendFlag>1001|*|*|3", 101);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_FALSE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 0);
  EXPECT_TRUE(display(0).VDLR.waitToReturn);
  EXPECT_EQ(display(0).VDLR.lastModTimestamp, 0);
  EXPECT_EQ(display(0).lastCommand, "1001|*|*|3");

  // Due at once: the next pass shows the (never received, so empty) results
  // over background code 1.
  EXPECT_EQ(display(0).returnAfterChangeResults(101), 2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "sendMessage4");
  EXPECT_EQ(calls[1].value(), 11);
  EXPECT_EQ(calls[1].texts, std::vector<std::u16string>(4, std::u16string(8, u'\0')));
}

TEST_F(Flags, AnotherFlagReplacesAndZeroClears) {
  registerDisplays("1001");
  parse("@sendFlag>1001|*|*|3@sendFlag>1001|*|*|4", 100);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].value(), 4);
  EXPECT_EQ(display(0).lastFlag, 4);

  parse("@sendFlag>1001|*|*|0", 101);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_FALSE(display(0).nowIsFlag);
  EXPECT_TRUE(display(0).VDLR.waitToReturn);

  // Zero on a display without a flag also arms the immediate return.
  display(0).VDLR.waitToReturn = false;
  parse("@sendFlag>1001|*|*|0", 102);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_TRUE(display(0).VDLR.waitToReturn);
}

TEST_F(Flags, EachDisplayDecidesOnItsOwnFlag) {
  registerDisplays("1|*|*|2");
  parse("@sendFlag>1|*|*|3", 100);
  calls.clear();
  parse("@sendFlag>ALL|*|*|3", 101);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].addr(), 2);
  EXPECT_FALSE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 0);
  EXPECT_TRUE(display(1).nowIsFlag);
  EXPECT_EQ(display(1).lastFlag, 3);
}

TEST_F(Flags, EndOfRaceShowsFlagOneEvenWhenShownAndBlanksAfter50s) {
  registerDisplays("1|*|*|2");
  parse("@sendFlag>ALL|*|*|1", 100);
  parse("@sendFlag>ALL|*|*|1", 101); // clears both
  EXPECT_EQ(callsNamed("sendFlag").size(), 2u);
  parse("@sendFlag>ALL|*|*|1", 102);
  parse("@endRace", 2000);
  parse("@endRace>", 2010); // the wait counts from this one
  const auto flags = callsNamed("sendFlag");
  ASSERT_EQ(flags.size(), 8u);
  for (const auto &f : flags)
    EXPECT_EQ(f.value(), 1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(display(i).endRace);
    EXPECT_TRUE(display(i).nowIsFlag);
    EXPECT_EQ(display(i).lastCommand, "ALL|*|*|999");
    EXPECT_EQ(display(i).VDLR.lastModTimestamp, 2010);
  }

  calls.clear();
  EXPECT_EQ(display(0).returnAfterChangeResults(2059), 1);
  EXPECT_EQ(display(0).returnAfterChangeResults(2060), 2);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].value(), 10); // blank screen over picture 10
  EXPECT_FALSE(display(0).endRace);
  EXPECT_FALSE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 1);

  // lastFlag is still 1: the next flag 1 clears, the one after shows it.
  calls.clear();
  parse("@sendFlag>1|*|*|1", 2100);
  EXPECT_TRUE(calls.empty());
  parse("@sendFlag>1|*|*|1", 2101);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Flags, Code999EndsTheRaceOnTheAddressedDisplayOnly) {
  registerDisplays("1001|*|*|1002");
  parse("@sendFlag>1001|*|*|999", 100);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<long long>{7, 1001, 1}));
  EXPECT_TRUE(display(0).endRace);
  EXPECT_FALSE(display(1).endRace);
}

TEST_F(Flags, AFlagOrLimitDuringTheEndOfRaceWaitBlanksAtTheNextPass) {
  for (const std::string command : {"@sendFlag>1001|*|*|3", "@RPMLimit>1001|*|*|9000"}) {
    reset();
    registerDisplays("1001");
    parse("@endRace", 2000);
    parse(command, 2005);
    calls.clear();
    EXPECT_EQ(display(0).returnAfterChangeResults(2006), 2) << command;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].value(), 10);
  }
}

TEST_F(Flags, RPMLimitGoesToEveryDisplayInTableOrderWithoutToggle) {
  registerDisplays("3|*|*|1|*|*|2");
  parse("@RPMLimit>ALL|*|*|9000", 100);
  parse("@RPMLimit>ALL|*|*|9000", 101);
  ASSERT_EQ(calls.size(), 6u);
  const int order[] = {3, 1, 2, 3, 1, 2};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].name, "setRPMLimit");
    EXPECT_EQ(calls[i].addr(), order[i]);
    EXPECT_EQ(calls[i].value(), 9000);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(display(i).lastCommand, "ALL|*|*|9000");
    EXPECT_EQ(display(i).lastMsgId, calls[3 + i].id);
    EXPECT_FALSE(display(i).nowIsFlag);
  }
}

TEST_F(Flags, SerialNumbersBecomeTheirLastFiveDigits) {
  registerDisplays("123456|*|*|100000|*|*|-123456|*|*|99999");
  parse("@RPMLimit>ALL|*|*|1", 100);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].addr(), 23456);
  EXPECT_EQ(calls[1].addr(), 0);
  EXPECT_EQ(calls[2].addr(), -23456);
  EXPECT_EQ(calls[3].addr(), 99999); // beyond 16 bits, passed on unchanged
}

} // namespace
