// The bus link through a pseudo-terminal: fan-out, read requests, replies,
// the port's states and a port pulled away in the middle of an exchange.
#include <array>
#include <cstring>
#include <string>

#include "bus_fixture.h"

namespace vesktest {
namespace {

using vesk::bus::PortState;
using vesksim::BusAnswer;
using Kind = vesksim::WireMessage::Kind;

constexpr std::size_t kMsgIdByte = vesk::kPayloadOffset + vesk::kMsgIdOffset;

TEST_F(Bus, FanOutSendsOneFrameWithOneIdToEachStationInTurn) {
    for (std::uint8_t a : {1, 2, 3}) {
        station(a);
    }
    std::int32_t id = 0;
    const auto took = timed([&] { id = sendFlagRS("\x01\x02\x03", kDisplay, 3); });
    EXPECT_GE(took, 90ms);  // a 30 ms pause after each station

    const auto wire = wireAfter(3);
    ASSERT_EQ(wire.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(wire[i].kind, Kind::BusFrame);
        EXPECT_EQ(wire[i].address, i + 1);
    }
    const vesksim::Frame first = line.station(1).frames().at(0).frame;
    EXPECT_EQ(first[kMsgIdByte], id);
    for (std::uint8_t a : {2, 3}) {
        ASSERT_EQ(line.station(a).frames().size(), 1u);
        EXPECT_EQ(line.station(a).frames()[0].frame, first);
    }
    EXPECT_EQ(line.station(2).model().display(kDisplay).screen.picture, 4);  // flag 3 shows picture 4
    EXPECT_EQ(line.badMessages(), 0u);
    EXPECT_EQ(sendFlagRS("\x01", kDisplay, 3), id == 254 ? 1 : id + 1);
}

TEST_F(Bus, StationListsAreCutAtTheirEndOrAtOneHundred) {
    std::string hundredAndOne;
    for (int a = 1; a <= 101; ++a) {
        hundredAndOne.push_back(static_cast<char>(a));
        station(static_cast<std::uint8_t>(a));
    }
    const struct {
        const char* name;
        std::string addrs;
        std::vector<std::pair<std::uint8_t, std::size_t>> framesAt;  // station, frames it gets
        std::size_t total;
    } cases[] = {
        {"empty", "", {}, 0},
        {"repeated", "\x05\x07\x05", {{5, 2}, {7, 1}}, 3},
        {"ends at the zero byte", std::string("\x08\0\x09", 3), {{8, 1}, {9, 0}}, 1},
        {"101 stations", hundredAndOne, {{1, 1}, {100, 1}, {101, 0}}, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line.clearRecord();
        const std::uint8_t before = vesk::msgCounter();
        const std::int32_t id = sendFlagRS(c.addrs.c_str(), kDisplay, 1);
        EXPECT_EQ(id, before == 254 ? 1 : before + 1);  // the id is taken whatever is sent
        if (c.total > 0) {
            wireAfter(c.total);
        }
        std::this_thread::sleep_for(50ms);  // nothing more is coming
        EXPECT_EQ(line.wire().size(), c.total);
        for (const auto& [address, count] : c.framesAt) {
            const auto frames = line.station(address).frames();
            ASSERT_EQ(frames.size(), count) << "station " << int(address);
            for (const auto& f : frames) {
                EXPECT_EQ(f.frame[kMsgIdByte], id);
            }
        }
    }
    line.clearRecord();
    sendFlagRS(nullptr, kDisplay, 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(line.wire().empty());
}

TEST_F(Bus, ReadRequestTakesOneReplyOfExactly136Bytes) {
    vesksim::BusStation& s = station(0x41);
    // An acknowledgement is queued by sending the display something.
    const std::int32_t id = sendFlagRS("\x41", kDisplay, 2);
    ASSERT_TRUE(eventually([&] { return s.model().pendingReplies(vesksim::kEndpointReplies) == 1; }));

    std::array<std::uint8_t, 200> buffer{};
    buffer.fill(0xEE);
    std::int32_t got = 0;
    const auto took = timed([&] { got = readDataRS(0x141, buffer.data()); });  // low 8 bits: station 0x41
    EXPECT_GE(took, 30ms);
    ASSERT_EQ(got, 1);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(vesksim::payloadU32(*reinterpret_cast<vesksim::Frame*>(buffer.data()), 0), kDisplay);
    EXPECT_EQ(buffer[vesk::kPayloadOffset + 4], id);
    EXPECT_EQ(buffer[128], 0xEE);  // exactly one frame is written
    EXPECT_EQ(s.readRequests(), 1u);
    EXPECT_EQ(line.wire().back().kind, Kind::Request);
    EXPECT_EQ(line.wire().back().address, 0x41);

    // Nothing left to say: the station stays silent.
    EXPECT_EQ(readDataRS(0x41, buffer.data()), 0);
    EXPECT_EQ(s.readRequests(), 2u);
}

TEST_F(Bus, RepliesAreTakenOnTheirLengthAlone) {
    vesksim::BusStation& s = station(1);
    const struct {
        BusAnswer answer;
        std::int32_t result;
    } cases[] = {
        {BusAnswer::Normal, 1},
        {BusAnswer::BadCrc, 1},  // checksum not looked at
        {BusAnswer::Short, 0},   // 135 bytes
        {BusAnswer::Silent, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        s.model().clearReplies();
        s.model().queueEvent(9, 0x1234, 77);
        s.setAnswer(c.answer);
        std::array<std::uint8_t, 128> buffer{};
        buffer.fill(0xEE);
        EXPECT_EQ(readDataRS(1, buffer.data()), c.result);
        if (c.result == 1) {
            EXPECT_EQ(buffer[vesk::kPayloadOffset + 6], 0xFF);  // the event
            EXPECT_EQ(buffer[vesk::kPayloadOffset + 5], 9);
        } else {
            EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0xEE; }));
        }
    }
}

TEST_F(Bus, ALateReplyWaitsInThePortForTheNextRead) {
    vesksim::BusStation& s = station(1);
    s.model().queueEvent(3, 0x10, 5);
    s.model().queueEvent(4, 0x10, 5);
    s.setAnswer(BusAnswer::Late);
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataRS(1, buffer.data()), 0);
    std::this_thread::sleep_for(vesksim::kLateAnswer);
    // The next request's own answer comes late again; the first one is read now.
    EXPECT_EQ(readDataRS(1, buffer.data()), 1);
    EXPECT_EQ(buffer[vesk::kPayloadOffset + 5], 3);
}

TEST_F(Bus, MoreThanOneReplyWaitingIsReadOneAtATime) {
    station(1).setAnswer(BusAnswer::Silent);
    vesksim::Bytes two(2 * vesksim::kBusFrameSize, 0);
    two[4] = 0xA1;
    two[vesksim::kBusFrameSize + 4] = 0xA2;
    line.inject(two);
    std::this_thread::sleep_for(20ms);
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataRS(1, buffer.data()), 1);
    EXPECT_EQ(buffer[0], 0xA1);
    EXPECT_EQ(readDataRS(1, buffer.data()), 1);
    EXPECT_EQ(buffer[0], 0xA2);
    EXPECT_EQ(readDataRS(1, buffer.data()), 0);
}

TEST_F(Bus, SendingDropsWhatStationsSaidUnasked) {
    vesksim::BusStation& s = station(1);
    line.inject(vesksim::Bytes(60, 0x55));
    std::this_thread::sleep_for(20ms);
    const std::int32_t id = sendFlagRS("\x01", kDisplay, 1);
    ASSERT_TRUE(eventually([&] { return s.model().pendingReplies(vesksim::kEndpointReplies) == 1; }));
    std::array<std::uint8_t, 128> buffer{};
    ASSERT_EQ(readDataRS(1, buffer.data()), 1);
    EXPECT_EQ(buffer[0], 2);  // the acknowledgement, not the noise
    EXPECT_EQ(buffer[vesk::kPayloadOffset + 4], id);
}

TEST_F(Bus, APortPulledAwayMidFanOutCountsAsClosedUntilReopened) {
    for (std::uint8_t a = 1; a <= 5; ++a) {
        station(a);
    }
    line.hangUpAfterFrames(2);
    std::int32_t id = 0;
    const auto took = timed([&] { id = sendFlagRS("\x01\x02\x03\x04\x05", kDisplay, 4); });
    EXPECT_LT(took, std::chrono::milliseconds(vesk::writeTimeoutMs(136)));
    EXPECT_GE(id, 1);
    EXPECT_EQ(line.station(1).frames().size(), 1u);
    EXPECT_EQ(line.station(2).frames().size(), 1u);
    for (std::uint8_t a = 3; a <= 5; ++a) {
        EXPECT_TRUE(line.station(a).frames().empty());
    }
    EXPECT_EQ(vesk::bus::portState(), PortState::closed);

    // Later calls neither wait on the port nor fail: ids go on, reads give 0.
    std::int32_t next = 0;
    // 100 stations would take 3 s with their pauses; a closed port skips them.
    EXPECT_LT(timed([&] { next = sendFlagRS(std::string(100, '\x01').c_str(), kDisplay, 4); }), 1500ms);
    EXPECT_EQ(next, id == 254 ? 1 : id + 1);
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataRS(1, buffer.data()), 0);
    EXPECT_EQ(readDataWithCallbackRS("\x01", buffer.data(), nullptr, nullptr), 0);

    vesksim::BusLine other;
    other.addStation(1).model().addDisplay(kDisplay);
    other.useAsCom(kCom);
    ASSERT_EQ(InitDeviceRS(kCom), 0);
    sendFlagRS("\x01", kDisplay, 4);
    EXPECT_TRUE(eventually([&] { return other.station(1).frames().size() == 1; }));
}

TEST_F(Bus, APortPulledAwayDuringAPollEndsThePoll) {
    vesksim::BusStation& s = station(1);
    s.model().queueEvent(1, 0x20, 5);
    line.hangUp();
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataWithCallbackRS("\x01\x01", buffer.data(), nullptr, nullptr), 0);
    EXPECT_EQ(vesk::bus::portState(), PortState::closed);
    // The line is gone for good: opening it again fails.
    EXPECT_EQ(InitDeviceRS(kCom), 1);
}

class PortStates : public ::testing::Test {
protected:
    void TearDown() override { closeDeviceRS(); }
};

TEST_F(PortStates, AbsentOrClosedPortsSendNothingAndStillNumberTheFrames) {
    vesksim::BusLine line;
    line.addStation(1).model().addDisplay(kDisplay);
    line.useAsCom(kCom);
    ::setenv("VESKLINK_COM98", "/nonexistent/tty", 1);

    closeDeviceRS();  // without a port: nothing happens
    EXPECT_EQ(vesk::bus::portState(), PortState::absent);

    vesk::setMsgCounter(254);
    EXPECT_EQ(InitDeviceRS(98), 1);  // fails, yet seeds
    EXPECT_EQ(vesk::bus::portState(), PortState::closed);
    const std::uint8_t seeded = vesk::msgCounter();
    EXPECT_GE(seeded, 1);
    EXPECT_LE(seeded, 253);
    EXPECT_EQ(InitDeviceRS(-3), 1);
    EXPECT_EQ(InitDeviceRS(0), 1);

    for (PortState state : {PortState::closed, PortState::absent}) {
        if (state == PortState::absent) {
            closeDeviceRS();
        }
        ASSERT_EQ(vesk::bus::portState(), state);
        const std::uint8_t before = vesk::msgCounter();
        std::int32_t id = 0;
        // No pauses either: with them 100 stations would take 3 s.
        EXPECT_LT(timed([&] { id = sendFlagRS(std::string(100, '\x01').c_str(), kDisplay, 1); }), 1500ms);
        EXPECT_EQ(id, before == 254 ? 1 : before + 1);
        std::array<std::uint8_t, 128> buffer{};
        EXPECT_EQ(readDataRS(1, buffer.data()), 0);
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(line.wire().empty());
}

TEST_F(PortStates, OpeningAgainReplacesThePort) {
    vesksim::BusLine a, b;
    a.addStation(1);
    b.addStation(1);
    a.useAsCom(kCom);
    b.useAsCom(kCom + 1);
    EXPECT_EQ(InitDeviceRS(kCom), 0);
    EXPECT_EQ(InitDeviceRS(kCom), 0);  // the same port, closed and opened again
    EXPECT_EQ(vesk::bus::portState(), PortState::open);
    EXPECT_EQ(InitDeviceRS(kCom + 1), 0);  // moves to the other port
    sendFlagRS("\x01", kDisplay, 1);
    EXPECT_TRUE(eventually([&] { return b.wire().size() == 1; }));
    EXPECT_TRUE(a.wire().empty());

    const std::uint8_t counter = vesk::msgCounter();
    closeDeviceRS();
    EXPECT_EQ(vesk::bus::portState(), PortState::absent);
    EXPECT_EQ(vesk::msgCounter(), counter);  // closing keeps the counter
}

}  // namespace
}  // namespace vesktest
