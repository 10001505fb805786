// Display events, acknowledgements and lost sends, and hostile server text.
#include "recorder.h"

namespace {

TEST(EventCommand, EventsBecomeFlagCommands) {
  const struct {
    int flag, addr;
    std::string command;
  } cases[] = {
      {5, 0, "@sendFlag>ALL|*|*|1"},
      {1, 12, "@sendFlag>999999912|*|*|2"},
      {2, 7, "@sendFlag>99999997|*|*|3"},
      {55, 0, "@sendFlag>ALL|*|*|"},
      {79616, 3, "@sendFlag>99999993|*|*|"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(eventToFlagCommand(c.flag, c.addr), c.command);
}

using Events = BridgeTest;

TEST_F(Events, DisplayEventShowsAFlagLikeTheServerWould) {
  registerDisplays("1|*|*|999999912");
  onDisplayEvent(1, 12, 4, 100);
  EXPECT_EQ(console(), "\nInfo z vesk2: 1 12 4\n\nc: @sendFlag>999999912|*|*|2\n");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<long long>{7, 99912, 2}));
}

TEST_F(Events, UnknownEventLeavesEveryFlagAlone) {
  registerDisplays("1|*|*|2");
  parse("@sendFlag>ALL|*|*|3", 100);
  onDisplayEvent(55, 0, 9, 101);
  EXPECT_NE(console().find("skipped @sendFlag: no number in field 1"), std::string::npos);
  EXPECT_TRUE(display(0).nowIsFlag);
  EXPECT_TRUE(display(1).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 3);
}

TEST_F(Events, AcknowledgementsWithinTheWatchPrintNothing) {
  registerDisplays("1001|*|*|1002");
  parse("@sendFlag>1001|*|*|3", 100);
  const int id = display(0).lastMsgId;
  console();
  onAcknowledgement(4242, id, 200); // no such display
  onAcknowledgement(1001, id + 1, 108); // another id, not yet 9 s
  EXPECT_FALSE(display(0).isLostMsg());
  onAcknowledgement(1001, id, 109); // the awaited one
  EXPECT_TRUE(display(0).isOk());
  onAcknowledgement(1001, id + 1, 300);
  onAcknowledgement(1002, 99, 300); // never sent anything
  EXPECT_EQ(console(), "");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Events, ALostFlagIsRepeatedAsSentAndStaysShown) {
  registerDisplays("1001");
  parse("@sendFlag>1001|*|*|3", 100);
  console();
  onAcknowledgement(1001, display(0).lastMsgId + 1, 109);
  EXPECT_EQ(console(), "\nreconnect 1001 1001|*|*|3");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].args, calls[0].args);
  EXPECT_TRUE(display(0).nowIsFlag);
  EXPECT_EQ(display(0).lastFlag, 3);
  // A new watch on the repeat.
  EXPECT_FALSE(display(0).isLostMsg());
  EXPECT_EQ(display(0).testTimestamp, 109);
  EXPECT_EQ(display(0).lastMsgId, calls[1].id);
  onAcknowledgement(1001, calls[1].id, 110);
  EXPECT_TRUE(display(0).isOk());
}

TEST_F(Events, ALostResultScreenIsRepeatedWithoutToSamoAndKeepsItsReturn) {
  registerDisplays("1001");
  parse("@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|4", 100);
  console();
  // The display answers late and with another id; its return is still
  // pending (the main loop was held up), so the repeat must not cancel it.
  onAcknowledgement(1001, 200, 109);
  EXPECT_EQ(console(), "\nreconnect 1001 1001|*|*|a|*|*|b|*|*|c|*|*|d|*|*|4");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].args, calls[0].args);
  EXPECT_EQ(calls[1].texts, calls[0].texts);
  EXPECT_TRUE(display(0).VDLR.waitToReturn);
  EXPECT_EQ(display(0).returnAfterChangeResults(109), 2);
}

TEST_F(Events, ALostEndOfRaceFlagKeepsTheFiftySecondWait) {
  registerDisplays("1001");
  parse("@endRace", 1000);
  onAcknowledgement(1001, 200, 1010);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].value(), 1);
  EXPECT_TRUE(display(0).endRace);
  EXPECT_EQ(display(0).returnAfterChangeResults(1049), 1);
  EXPECT_EQ(display(0).returnAfterChangeResults(1050), 2);
}

// Each hostile message is followed by a valid command that must still work.
TEST_F(Events, HostileServerText) {
  std::string highBytes;
  for (int b = 0x80; b <= 0xFF; ++b)
    highBytes += static_cast<char>(b);
  std::string many = "@initDevices>1001";
  for (int i = 1; i < 300; ++i)
    many += "|*|*|" + std::to_string(i);
  std::string longStream;
  while (longStream.size() < 3000)
    longStream += "@sendMsg>1001|*|*|1:02.345|*|*|P12|*|*|1:01.999|*|*|+12.34|*|*|2";
  longStream.resize(2000); // a receive cut in the middle of a command
  const std::string zeros("@sendFlag>1001\0|*|*|3\0@\0", 24);

  const std::string cases[] = {
      "",
      "@",
      "@@@@@@@@",
      "@sendFlag",
      "@sendFlag>",
      "@sendFlag>|*|*|",
      "@sendFlag>1001|*|*||*|*|",
      "@sendMsg>1001",
      "@sendMsg>|*|*||*|*||*|*||*|*||*|*|",
      "@RPMLimit>1001|*|*|   ",
      "@initDevices",
      zeros,
      highBytes,
      "@sendMsg>1001|*|*|" + highBytes + "|*|*|" + highBytes + "|*|*|\xC3|*|*|\xFF\xFE|*|*|1",
      "@sendFlag>99999999999999999999999999|*|*|3",
      "@sendFlag>-99999999999999999999999999|*|*|3",
      "@sendFlag>1001|*|*|99999999999999999999",
      "@RPMLimit>1001|*|*|-99999999999999999999",
      many,
      longStream,
      std::string(5000, '@'),
      std::string(5000, '|'),
      "@sendMsg>" + std::string(3000, 'x') + "|*|*|" + std::string(3000, 'y'),
  };
  for (const auto &hostile : cases) {
    reset();
    registerDisplays("1001");
    parse(hostile, 100);
    calls.clear();
    parse("@RPMLimit>1001|*|*|9000", 101);
    ASSERT_EQ(calls.size(), 1u) << hostile.substr(0, 60);
    EXPECT_EQ(calls[0].args, (std::vector<long long>{7, 1001, 9000})) << hostile.substr(0, 60);
    EXPECT_LE(TrueNumVESKD, 255);
  }
}

} // namespace
