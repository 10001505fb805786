// The command stream parser and the display registry.
#include <climits>

#include "recorder.h"

namespace {

using Fields = std::vector<std::string>;

TEST(Explode, CutsAtEverySeparator) {
  const struct {
    std::string text;
    Fields fields;
  } cases[] = {
      {"a|*|*||*|*|b", {"a", "", "b"}},
      {"a|*|*|", {"a", ""}},
      {"", {""}},
      {"1001", {"1001"}},
      {"|*|*|", {"", ""}},
      {"a|*|*|*|*|b", {"a", "*|*|b"}}, // separators do not overlap
      {"a|*|b", {"a|*|b"}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(explode(c.text, "|*|*|"), c.fields) << c.text;
}

using Parser = BridgeTest;

TEST_F(Parser, CarriesOutCommandsInOrderAndPrintsEach) {
  parse("xx@initDevices>1001|*|*|1002@sendFlag>1001|*|*|3", 100);
  EXPECT_EQ(console(), "\nc: @initDevices>1001|*|*|1002\nVESKD: 1001\nVESKD: 1002\n"
                       "\nc: @sendFlag>1001|*|*|3\n");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "sendFlag");
  EXPECT_EQ(calls[0].args, (std::vector<long long>{7, 1001, 3}));
  EXPECT_EQ(display(0).lastMsgId, calls[0].id);
  EXPECT_EQ(display(0).testTimestamp, 100);
}

TEST_F(Parser, PrintsCommandsExactlyAsCutWithTheirLineBreaks) {
  registerDisplays("1001");
  parse("@RPMLimit>1001|*|*|9000\r\n@bogus\n", 5);
  EXPECT_EQ(console(), "\nc: @RPMLimit>1001|*|*|9000\r\n\n\nc: @bogus\n\n");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].value(), 9000);
}

TEST_F(Parser, TextWithoutCommandPrintsOk) {
  registerDisplays("1001");
  parse("just text", 5);
  EXPECT_EQ(console(), " OK ");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Parser, OnlyRegistrationBeforeTheFirstRegistration) {
  parse("@sendFlag>ALL|*|*|3@endRace@RPMLimit>ALL|*|*|1", 5);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(TrueNumVESKD, 0);
}

TEST_F(Parser, NamesMatchExactly) {
  const struct {
    std::string message;
    std::size_t flags;
  } cases[] = {
      {"@endRace", 2},  {"@endRace>", 2},          {"@endRace>junk", 2},
      {"@endrace", 0},  {"@sendFlagX>ALL|*|*|3", 0}, {"@sendflag>ALL|*|*|3", 0},
      {"@sendFlag>ALL|*|*|3", 2},
  };
  for (const auto &c : cases) {
    reset();
    registerDisplays("1|*|*|2");
    parse(c.message, 10);
    EXPECT_EQ(callsNamed("sendFlag").size(), c.flags) << c.message;
  }
}

// Integer fields read as stream extraction reads them; an empty or blank
// field is no number and the command is skipped with a line.
TEST_F(Parser, IntegerFields) {
  const struct {
    std::string field;
    bool sent;
    long long limit;
  } cases[] = {
      {"9000", true, 9000},          {" 9000", true, 9000},
      {"9000\n", true, 9000},        {"+12x", true, 12},
      {"abc", true, 0},              {"-", true, 0},
      {"99999999999", true, INT_MAX}, {"-99999999999", true, static_cast<uint32_t>(INT_MIN)},
      {"", false, 0},                {" \t\r\n", false, 0},
  };
  for (const auto &c : cases) {
    reset();
    registerDisplays("1001");
    parse("@RPMLimit>1001|*|*|" + c.field, 10);
    const std::string out = console();
    if (c.sent) {
      ASSERT_EQ(calls.size(), 1u) << c.field;
      EXPECT_EQ(calls[0].value(), c.limit) << c.field;
    } else {
      EXPECT_TRUE(calls.empty()) << c.field;
      EXPECT_NE(out.find("skipped @RPMLimit: no number in field 1"), std::string::npos) << out;
      EXPECT_EQ(display(0).lastCommand, "");
    }
  }
}

TEST_F(Parser, AddressFieldsReadLikeAtoll) {
  registerDisplays("1001|*|*|0|*|*|-5");
  parse("@RPMLimit> 1001xyz|*|*|1@RPMLimit>nothing|*|*|2@RPMLimit>-5|*|*|3"
        "@RPMLimit>all|*|*|4",
        10);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].addr(), 1001);
  EXPECT_EQ(calls[1].addr(), 0); // no digits: serial number 0
  EXPECT_EQ(calls[2].addr(), -5);
  EXPECT_EQ(calls[3].addr(), 0); // "all" is no "ALL"
}

TEST_F(Parser, CommandsWithoutEnoughFieldsAreSkippedWithALine) {
  registerDisplays("1001");
  const struct {
    std::string message;
    std::string line;
  } cases[] = {
      {"@sendFlag", "skipped @sendFlag: no '>' before its fields"},
      {"@RPMLimit", "skipped @RPMLimit: no '>' before its fields"},
      {"@sendMsg", "skipped @sendMsg: no '>' before its fields"},
      {"@initDevices", "skipped @initDevices: no '>' before its fields"},
      {"@sendFlag>1001", "skipped @sendFlag: 2 fields needed, 1 given"},
      {"@RPMLimit>", "skipped @RPMLimit: 2 fields needed, 1 given"},
      {"@sendMsg>1001|*|*|a|*|*|b|*|*|c|*|*|d", "skipped @sendMsg: 6 fields needed, 5 given"},
  };
  for (const auto &c : cases) {
    parse(c.message, 10);
    const std::string out = console();
    EXPECT_NE(out.find("\n" + c.line + "\n"), std::string::npos) << c.message << ": " << out;
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(TrueNumVESKD, 1);
  EXPECT_EQ(display(0).serial, 1001);
}

// ---- registry ----

using Registry = BridgeTest;

TEST_F(Registry, RegistersInOrderAndReRegistrationKeepsState) {
  parse("@initDevices>1001|*|*|1002|*|*|1003", 1);
  EXPECT_EQ(console(), "\nc: @initDevices>1001|*|*|1002|*|*|1003\n"
                       "VESKD: 1001\nVESKD: 1002\nVESKD: 1003\n");
  EXPECT_EQ(TrueNumVESKD, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(display(i).serial, 1001 + i);
    EXPECT_EQ(display(i).lastFlag, 0);
  }

  parse("@sendMsg>1001|*|*|1:02|*|*|P1|*|*|1:01|*|*|+0.5|*|*|2@sendFlag>1002|*|*|3", 10);
  parse("@initDevices>1001", 11);
  EXPECT_EQ(TrueNumVESKD, 1);
  EXPECT_EQ(display(0).VDLR.lastLap, "1:02");
  EXPECT_EQ(display(0).lastCommand, "1001|*|*|1:02|*|*|P1|*|*|1:01|*|*|+0.5|*|*|2");
  // Entry 1 is no longer addressed, but keeps its state for a later count.
  EXPECT_EQ(display(1).lastFlag, 3);
  calls.clear();
  parse("@sendFlag>ALL|*|*|4", 12);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Registry, EmptyFieldTextRegistersSerialZero) {
  parse("@initDevices>", 1);
  EXPECT_EQ(TrueNumVESKD, 1);
  EXPECT_EQ(display(0).serial, 0);
}

TEST_F(Registry, DuplicateSerialReachesOnlyTheLowerEntry) {
  registerDisplays("1001|*|*|1001");
  parse("@sendFlag>1001|*|*|3", 5);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_TRUE(display(0).nowIsFlag);
  EXPECT_FALSE(display(1).nowIsFlag);
}

TEST_F(Registry, KeepsTheFirst255SerialNumbers) {
  std::string serials;
  for (int i = 0; i < 300; ++i)
    serials += (i ? "|*|*|" : "") + std::to_string(5000 + i);
  parse("@initDevices>" + serials, 1);
  EXPECT_EQ(TrueNumVESKD, 255);
  EXPECT_EQ(display(254).serial, 5254);
  const std::string out = console();
  EXPECT_NE(out.find("VESKD: 5254\n"), std::string::npos);
  EXPECT_EQ(out.find("VESKD: 5255\n"), std::string::npos);
  EXPECT_NE(out.find("VESKD: 45 serial numbers left out, the table holds 255\n"),
            std::string::npos);
}

TEST(Acknowledgement, StatesOfTheWatch) {
  VeskDevice d;
  EXPECT_TRUE(d.checkLastMsgId(42, 1000)); // never sent

  d.resetLastMsgId(100);
  d.setLastMsgId(7);
  EXPECT_FALSE(d.checkLastMsgId(6, 108));
  EXPECT_FALSE(d.isLostMsg());
  EXPECT_FALSE(d.checkLastMsgId(6, 109));
  EXPECT_TRUE(d.isLostMsg());
  EXPECT_FALSE(d.checkLastMsgId(5, 110)); // lost stays lost, each check counts again
  EXPECT_TRUE(d.isLostMsg());
  EXPECT_TRUE(d.checkLastMsgId(7, 500)); // the awaited id, however late
  EXPECT_TRUE(d.isOk());
  EXPECT_FALSE(d.isLostMsg());
  EXPECT_TRUE(d.checkLastMsgId(6, 600)); // acknowledged: anything goes

  d.resetLastMsgId(700); // a new send leaves every state for Awaiting
  EXPECT_FALSE(d.isOk());
  EXPECT_EQ(d.lastMsgId, 1);
  EXPECT_EQ(d.testTimestamp, 700);
}

TEST(Acknowledgement, EverySendCancelsAPendingReturn) {
  VeskDevice d;
  d.storeActualResults("a", "b", "c", "d", 3, 1000);
  d.setLastMsgId(9);
  EXPECT_FALSE(d.VDLR.waitToReturn);
  EXPECT_EQ(d.VDLR.lastModTimestamp, 0);
  EXPECT_EQ(d.returnAfterChangeResults(5000), 0);
}

} // namespace
