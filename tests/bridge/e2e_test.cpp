// The real veskbridge with the real library, the simulated base station
// behind the real libusb-0.1, and a race server played on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "process.h"
#include "sim/station_model.h"
#include "sim/usb_station.h"

namespace {

namespace fs = std::filesystem;
using vesksim::ScreenKind;

const std::string hello = "{\"type\":10}";

class EndToEnd : public ::testing::Test {
protected:
  void SetUp() override {
    station = &bed.addStation();
    for (std::uint32_t n : {1001u, 1002u, 1003u})
      station->model().addDisplay(n);
  }

  void TearDown() override {
    // A sanitizer report in the child would not fail the test by itself.
    if (bridge) {
      EXPECT_EQ(bridge->output().find("Sanitizer"), std::string::npos) << bridge->output();
    }
  }

  void start(const std::string &serverAddress) {
    Environment env = bed.childEnvironment();
    env.emplace_back("VESKBRIDGE_SERVER", serverAddress);
    bridge = std::make_unique<BridgeProcess>(VESKBRIDGE_PATH, env);
  }

  // Starts the bridge and takes its connection and hello.
  void startConnected() {
    start(server.address());
    ASSERT_TRUE(server.accept(10s)) << bridge->output();
    ASSERT_EQ(server.receive(hello.size(), 5s), hello);
  }

  // Sends one message and waits until the bridge has printed it.
  void send(const std::string &message) {
    const std::size_t before = bridge->count("\nMSG ");
    server.send(message);
    ASSERT_TRUE(eventually([&] { return bridge->count("\nMSG ") > before; }, 5s))
        << bridge->output();
  }

  void registerDisplays() {
    send("@initDevices>1001|*|*|1002|*|*|1003");
    ASSERT_TRUE(bridge->waitForOutput("VESKD: 1003\n", 5s)) << bridge->output();
  }

  vesksim::DisplayState display(std::uint32_t n) { return station->model().display(n); }

  bool shows(std::uint32_t n, ScreenKind kind, unsigned picture, std::chrono::milliseconds limit) {
    return eventually(
        [&] {
          const auto s = display(n).screen;
          return s.kind == kind && s.picture == picture;
        },
        limit);
  }

  vesksim::UsbTestbed bed;
  vesksim::UsbStation *station = nullptr;
  RaceServer server;
  std::unique_ptr<BridgeProcess> bridge;
};

TEST_F(EndToEnd, HelloRegistrationFlagToggleAndLimitsInTableOrder) {
  startConnected();
  EXPECT_EQ(server.receive(1, 300ms), ""); // the hello alone, once
  registerDisplays();

  send("@sendFlag>1001|*|*|3");
  ASSERT_TRUE(shows(1001, ScreenKind::Flag, 4, 5s)) << bridge->output();
  EXPECT_TRUE(bridge->waitForOutput("\nc: @sendFlag>1001|*|*|3\n", 2s));

  station->model().clearFrames();
  send("@RPMLimit>ALL|*|*|9000");
  ASSERT_TRUE(eventually([&] { return station->model().frameCount() == 3; }, 5s));
  const auto frames = station->model().frames();
  const std::uint16_t order[] = {1001, 1002, 1003};
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(frames[i].address(), order[i]);
  for (std::uint32_t n : order)
    EXPECT_EQ(display(n).rpmLimit, 9000);

  // The same flag again clears it: no flag frame, the (empty) results come
  // back over picture 11 instead.
  station->model().clearFrames();
  send("@sendFlag>1001|*|*|3");
  ASSERT_TRUE(shows(1001, ScreenKind::Text7, 11, 5s)) << bridge->output();
  EXPECT_EQ(station->model().frameCount(), 1u);
  EXPECT_EQ(bridge->count("reconnect"), 0u);
}

TEST_F(EndToEnd, IdleBridgeSleeps) {
  startConnected();
  registerDisplays();
  std::this_thread::sleep_for(500ms);
  const auto before = bridge->cpuTime();
  std::this_thread::sleep_for(3s);
  // A thread that spins on the mailbox would take the whole 3 s.
  EXPECT_LT(bridge->cpuTime() - before, 1s);
}

TEST_F(EndToEnd, ResultScreenReturnsOverPicture11After8Seconds) {
  startConnected();
  registerDisplays();
  const auto sent = std::chrono::steady_clock::now();
  send("@sendMsg>1002|*|*|1:02.3|*|*|P1|*|*|1:01.9|*|*|+0.55|*|*|3");
  ASSERT_TRUE(shows(1002, ScreenKind::Text7, 13, 5s)) << bridge->output();
  const auto first = display(1002).screen;
  ASSERT_EQ(first.lines.size(), 4u);
  EXPECT_EQ(first.lines[0].str(), "1:02.3");
  EXPECT_EQ(first.lines[1].str(), "P1");
  EXPECT_EQ(first.lines[2].str(), "1:01.9");
  EXPECT_EQ(first.lines[3].str(), "+0.55");
  EXPECT_EQ(first.lines[0].x, 10);
  EXPECT_EQ(first.lines[1].x, 375);
  EXPECT_EQ(first.lines[3].y, 170);

  send("@sendMsg>1002|*|*|1:02.3|*|*|P1|*|*|1:01.9|*|*|+0.55|*|*|3");
  EXPECT_TRUE(bridge->waitForOutput("\nTO SAMO\n", 3s));

  ASSERT_TRUE(shows(1002, ScreenKind::Text7, 11, 12s)) << bridge->output();
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 7s);
  EXPECT_EQ(display(1002).screen.lines, first.lines);
  EXPECT_EQ(display(1002).frameCount, 2u);
}

TEST_F(EndToEnd, DisplayEventsBecomeFlagCommands) {
  startConnected();
  registerDisplays();
  station->model().queueEvent(1, 5, 0); // code 5 for every display: flag 1
  ASSERT_TRUE(bridge->waitForOutput("\nInfo z vesk2: 5 0 2\n", 5s)) << bridge->output();
  EXPECT_TRUE(bridge->waitForOutput("\nc: @sendFlag>ALL|*|*|1\n", 2s));
  for (std::uint32_t n : {1001u, 1002u, 1003u})
    EXPECT_TRUE(shows(n, ScreenKind::Flag, 1, 5s)) << n;

  // An event without a flag of its own changes nothing.
  station->model().clearFrames();
  station->model().queueEvent(2, 77, 0);
  ASSERT_TRUE(bridge->waitForOutput("skipped @sendFlag: no number in field 1", 5s))
      << bridge->output();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(station->model().frameCount(), 0u);
  EXPECT_EQ(display(1001).screen.kind, ScreenKind::Flag);
}

TEST_F(EndToEnd, AnAcknowledgementWithAnotherIdAfter8SecondsRepeatsTheSend) {
  startConnected();
  registerDisplays();
  station->model().missAcks(1001, 1);
  send("@sendFlag>1001|*|*|3");
  ASSERT_TRUE(shows(1001, ScreenKind::Flag, 4, 5s));
  const auto sent = std::chrono::steady_clock::now();
  const std::uint8_t id = display(1001).lastMsgId;
  const std::uint8_t other = static_cast<std::uint8_t>(id % 254 + 1);

  // Within 8 s another id is just not the awaited one.
  station->model().queueRaw(vesksim::kEndpointReplies, vesksim::makeAck(1001, 1001, other));
  ASSERT_TRUE(eventually([&] { return station->model().pendingReplies(0x82) == 0; }, 3s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(bridge->count("reconnect"), 0u);

  std::this_thread::sleep_until(sent + 9500ms);
  station->model().queueRaw(vesksim::kEndpointReplies, vesksim::makeAck(1001, 1001, other));
  ASSERT_TRUE(bridge->waitForOutput("\nreconnect 1001 1001|*|*|3", 5s)) << bridge->output();
  // The repeat is the same flag, not a clear, with an id of its own.
  ASSERT_TRUE(eventually([&] { return display(1001).frameCount == 2; }, 3s));
  EXPECT_EQ(display(1001).screen.kind, ScreenKind::Flag);
  EXPECT_EQ(display(1001).screen.picture, 4);
  EXPECT_NE(display(1001).lastMsgId, id);
  std::this_thread::sleep_for(500ms); // its acknowledgement closes the watch
  EXPECT_EQ(bridge->count("reconnect"), 1u);
}

TEST_F(EndToEnd, ReconnectsAfterTheServerClosedAndKeepsTheDisplays) {
  startConnected();
  registerDisplays();
  send("@sendFlag>1001|*|*|3");
  ASSERT_TRUE(shows(1001, ScreenKind::Flag, 4, 5s));

  // An orderly close, then a reset (the bridge's receive fails).
  const struct {
    bool reset;
    std::string line;
  } ends[] = {{false, "server closed the connection\n"}, {true, "recv failed\n"}};
  for (const auto &end : ends) {
    end.reset ? server.resetClient() : server.closeClient();
    const auto closed = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.accept(10s)) << bridge->output();
    EXPECT_GE(std::chrono::steady_clock::now() - closed, 1500ms);
    ASSERT_EQ(server.receive(hello.size(), 5s), hello);
    EXPECT_TRUE(bridge->waitForOutput(end.line, 2s)) << bridge->output();
  }
  EXPECT_TRUE(eventually([&] { return bridge->count("Data Send\n") == 3; }, 2s));
  EXPECT_EQ(bridge->count("\nMSG \n"), 0u); // no empty messages handed over

  // Flag 3 is still known: the same flag clears it.
  send("@sendFlag>1001|*|*|3");
  ASSERT_TRUE(shows(1001, ScreenKind::Text7, 11, 5s)) << bridge->output();
}

TEST_F(EndToEnd, RetriesAServerThatIsNotThereYet) {
  ReservedPort later;
  start(later.address());
  ASSERT_TRUE(eventually([&] { return bridge->count("connect error") >= 2; }, 8s))
      << bridge->output();
  later.listen();
  EXPECT_TRUE(later.connectionWaiting(5s)) << bridge->output();
}

TEST_F(EndToEnd, LongAndHostileStreamsLeaveTheBridgeWorking) {
  startConnected();
  registerDisplays();
  // 2,500 bytes in one write reach the bridge as one receive of at most
  // 2,000 bytes and the rest: the command cut in two is skipped.
  std::string stream;
  for (int n = 1000; stream.size() < 2500; ++n)
    stream += "@RPMLimit>1003|*|*|" + std::to_string(n);
  server.send(stream);
  ASSERT_TRUE(eventually([&] { return bridge->count("\nMSG ") >= 3; }, 5s)) << bridge->output();
  ASSERT_TRUE(eventually([&] { return display(1003).rpmLimit.has_value(); }, 5s));
  const std::string out = bridge->output();
  for (std::size_t at = out.find("\nMSG "); at != std::string::npos; at = out.find("\nMSG ", at + 1))
    EXPECT_LE(out.find('\n', at + 1) - (at + 5), 2000u);

  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b)
    high += static_cast<char>(b);
  for (const std::string &hostile :
       {std::string("@sendFlag>1001\0|*|*|3", 21), high, std::string("@@@@@@@@"),
        std::string("@"), std::string("@sendMsg>1002|*|*|") + high + "|*|*|\xC3|*|*|x|*|*|y|*|*|0",
        std::string("@sendFlag>1001|*|*|")})
    send(hostile);
  send("@RPMLimit>1001|*|*|4242");
  EXPECT_TRUE(eventually([&] { return display(1001).rpmLimit == 4242; }, 5s))
      << bridge->output();
  EXPECT_FALSE(bridge->waitForExit(0ms).has_value());
}

TEST(Startup, NoBaseStationEndsWithStatus255) {
  vesksim::UsbTestbed bed; // an empty bus
  RaceServer server;
  Environment env = bed.childEnvironment();
  env.emplace_back("VESKBRIDGE_SERVER", server.address());
  BridgeProcess bridge(VESKBRIDGE_PATH, env);
  EXPECT_EQ(bridge.waitForExit(10s), 255);
  EXPECT_NE(bridge.output().find("Blad polaczenia z VESK"), std::string::npos) << bridge.output();
}

TEST(Startup, UnusableServerAddressEndsWithStatus2) {
  for (const std::string value : {"localhost:4321", "127.0.0.1:0", ""}) {
    BridgeProcess bridge(VESKBRIDGE_PATH, {{"VESKBRIDGE_SERVER", value}});
    EXPECT_EQ(bridge.waitForExit(5s), 2) << value;
    EXPECT_NE(bridge.output().find("VESKBRIDGE_SERVER is not a.b.c.d or a.b.c.d:port: \"" +
                                   value + "\""),
              std::string::npos)
        << bridge.output();
  }
}

// A copy of the program in a folder of its own, with or without a library
// beside it.
class Lonely : public ::testing::Test {
protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("veskbridge-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(VESKBRIDGE_PATH, folder / "veskbridge");
  }
  void TearDown() override { fs::remove_all(folder); }
  fs::path folder;
};

TEST_F(Lonely, MissingLibraryEndsWithStatus2) {
  BridgeProcess bridge((folder / "veskbridge").string(), {{"VESKBRIDGE_SERVER", "127.0.0.1:1"}});
  EXPECT_EQ(bridge.waitForExit(5s), 2);
  EXPECT_NE(bridge.output().find("cannot load libvesklink.so"), std::string::npos)
      << bridge.output();
}

TEST_F(Lonely, MissingExportEndsWithStatus2) {
  fs::copy_file(PARTIAL_LIBRARY_PATH, folder / "libvesklink.so");
  BridgeProcess bridge((folder / "veskbridge").string(), {{"VESKBRIDGE_SERVER", "127.0.0.1:1"}});
  EXPECT_EQ(bridge.waitForExit(5s), 2);
  EXPECT_NE(bridge.output().find("libvesklink.so has no export readDataWithCallback"),
            std::string::npos)
      << bridge.output();
}

} // namespace
