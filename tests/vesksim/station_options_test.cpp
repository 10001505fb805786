#include <gtest/gtest.h>

#include "run_options.h"

namespace {

using vesksim::StationOptions;

TEST(StationOptions, EachOptionAndWhereTheProgramBegins) {
  const std::vector<std::string> args = {"--display", "1001,1002", "--silent", "7",       "--late",
                                         "1002:250",  "--miss",    "1003:4.5", "--miss",  "1004",
                                         "--event",   "3:2",       "--event",  "4:5:1001", "--panel-event",
                                         "6:83",         "--bus",     "3:4001,4002", "--com", "4",
                                         "--view",    "--",        "prog",     "--display"};
  StationOptions o;
  std::size_t next = 0;
  std::string error;
  ASSERT_TRUE(vesksim::parseStationOptions(args, 0, o, next, error)) << error;
  EXPECT_EQ(args[next], "--");
  EXPECT_EQ(o.displays, (std::set<std::uint32_t>{7, 1001, 1002, 1003, 1004}));  // named anywhere: present
  EXPECT_EQ(o.silent, (std::set<std::uint32_t>{7}));
  EXPECT_EQ(o.late.at(1002), std::chrono::milliseconds(250));
  ASSERT_EQ(o.misses.size(), 2u);
  EXPECT_EQ(o.misses[0].at, 4.5);
  EXPECT_EQ(o.misses[1].at, 0);
  ASSERT_EQ(o.events.size(), 3u);
  EXPECT_EQ(o.events[0].code, 2u);
  EXPECT_EQ(o.events[0].address, 0);
  EXPECT_EQ(o.events[1].address, 1001);
  EXPECT_TRUE(o.events[2].panel);
  EXPECT_EQ(o.events[0].endpoint, 0x82);
  EXPECT_EQ(o.events[2].endpoint, 0x83);
  EXPECT_EQ(o.busStations.at(3), (std::set<std::uint32_t>{4001, 4002}));
  EXPECT_EQ(o.com, 4);
  EXPECT_TRUE(o.view);

  vesksim::scaleTimes(o, 2);
  EXPECT_EQ(o.misses[0].at, 2.25);
  EXPECT_EQ(o.events[2].at, 3);
  EXPECT_EQ(o.late.at(1002), std::chrono::milliseconds(250));  // acknowledgement delays stay real
}

TEST(StationOptions, BadOptionsAreNamed) {
  const std::vector<std::vector<std::string>> cases = {
      {"--display"},          {"--display", "12a"},  {"--display", "1,,2"}, {"--late", "5"},
      {"--late", "5:x"},      {"--miss", "5:1:2"},   {"--event", "3"},      {"--event", "x:1"},
      {"--event", "1:2:70000"}, {"--bus", "0:1"}, {"--panel-event", "1:84"},     {"--bus", "256:1"},    {"--bus", "3"},
      {"--com", "0"},         {"--frobnicate"},
  };
  for (const auto& args : cases) {
    StationOptions o;
    std::size_t next = 0;
    std::string error;
    EXPECT_FALSE(vesksim::parseStationOptions(args, 0, o, next, error)) << args[0];
    EXPECT_NE(error.find(args[0]), std::string::npos) << error;
  }
}

}  // namespace
