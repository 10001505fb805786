// The serial poll over several stations, and the pauses of the sending twins.
#include <array>
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "devicelib/replies.h"

namespace vesktest {
namespace {

struct Call {
    char kind;  // 'a' acknowledgement, 'e' event
    std::int32_t a, b, c;
    bool operator==(const Call&) const = default;
};
std::vector<Call> calls;

std::int32_t onEvent(std::int32_t flag, std::int32_t addr, std::int32_t c) {
    calls.push_back({'e', flag, addr, c});
    return 0;
}
std::int32_t onAck(std::int32_t addr, std::int32_t nr) {
    calls.push_back({'a', addr, nr, 0});
    return 0;
}

// What one station has to say when asked.
enum class Says { ack, event, nothing };

vesksim::Frame replyOf(Says says, std::uint8_t station) {
    // Station n acknowledges as display 1000 + n, id 10 + n; its event has
    // sequence 20 + n and code 0x300 + n, naming address 40 + n.
    return says == Says::ack ? vesksim::makeAck(1000u + station, 0, static_cast<std::uint8_t>(10 + station))
                             : vesksim::makeEvent(static_cast<std::uint8_t>(20 + station), 0x300u + station,
                                                  static_cast<std::uint16_t>(40 + station));
}

Call callOf(Says says, std::uint8_t station) {
    return says == Says::ack ? Call{'a', 1000 + station, 10 + station, 0}
                             : Call{'e', 0x300 + station, 40 + station, 21 + station};
}

class Poll : public Bus {
protected:
    void SetUp() override {
        Bus::SetUp();
        calls.clear();
        vesk::setLastEventSequence(-1);
    }
    void say(std::uint8_t station, Says says) {
        vesksim::BusStation& s = line.addStation(station);
        if (says != Says::nothing) {
            s.model().queueRaw(vesksim::kEndpointReplies, replyOf(says, station));
        }
    }
};

TEST_F(Poll, TwoStationsInEachOrderOfEventsAndAcknowledgements) {
    const struct {
        Says first, second;
        std::int32_t result;
        std::size_t reported;  // callbacks, in station order
        int inBuffer;          // station whose frame the buffer holds, 0 for none
        std::size_t secondAsked;
    } cases[] = {
        {Says::ack, Says::ack, 1, 2, 2, 1},
        {Says::event, Says::ack, 1, 2, 2, 1},
        {Says::ack, Says::event, 0, 2, 2, 1},
        {Says::event, Says::event, 0, 2, 2, 1},
        {Says::ack, Says::nothing, 0, 1, 1, 1},  // an answered station does not save the poll
        {Says::nothing, Says::ack, 0, 0, 0, 0},  // the poll ends at the silent station
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.first) << " then " << int(c.second));
        line.clearRecord();
        calls.clear();
        for (std::uint8_t s : {1, 2}) {
            line.addStation(s).model().clearReplies();
        }
        say(1, c.first);
        say(2, c.second);
        std::array<std::uint8_t, 1000> buffer{};
        buffer.fill(0xEE);

        EXPECT_EQ(readDataWithCallbackRS("\x01\x02", buffer.data(), onEvent, onAck), c.result);

        std::vector<Call> expected;
        const Says says[] = {c.first, c.second};
        for (std::size_t i = 0; i < c.reported; ++i) {
            expected.push_back(callOf(says[i], static_cast<std::uint8_t>(i + 1)));
        }
        EXPECT_EQ(calls, expected);
        if (c.inBuffer == 0) {
            EXPECT_EQ(buffer[0], 0xEE);
        } else {
            const vesksim::Frame want = replyOf(says[c.inBuffer - 1], static_cast<std::uint8_t>(c.inBuffer));
            EXPECT_TRUE(std::equal(want.begin(), want.end(), buffer.begin()));
            EXPECT_EQ(buffer[128], 0xEE);
        }
        EXPECT_EQ(line.station(1).readRequests(), 1u);
        EXPECT_EQ(line.station(2).readRequests(), c.secondAsked);
    }
}

TEST_F(Poll, OneEventSequenceForAllStationsAndBothLinks) {
    // The same sequence number from two stations is one event.
    line.addStation(1).model().queueEvent(7, 0x301, 41);
    line.addStation(2).model().queueEvent(7, 0x302, 42);
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataWithCallbackRS("\x01\x02", buffer.data(), onEvent, onAck), 0);
    EXPECT_EQ(calls, (std::vector<Call>{{'e', 0x301, 41, 8}}));
    EXPECT_EQ(vesk::lastEventSequence(), 7);

    // A sequence last seen by the USB poll is a repeat here too; null callbacks
    // still move the sequence on.
    calls.clear();
    vesk::setLastEventSequence(255);
    line.station(1).model().queueEvent(255, 0x303, 43);
    line.station(1).model().queueEvent(0, 0x304, 44);
    EXPECT_EQ(readDataWithCallbackRS("\x01", buffer.data(), onEvent, onAck), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(readDataWithCallbackRS("\x01", buffer.data(), nullptr, nullptr), 0);
    EXPECT_EQ(vesk::lastEventSequence(), 0);
}

TEST_F(Poll, NoStationsNoRequests) {
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataWithCallbackRS("", buffer.data(), onEvent, onAck), 0);
    EXPECT_EQ(readDataWithCallbackRS(nullptr, buffer.data(), onEvent, onAck), 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(line.wire().empty());
}

// The bridge's event callback sends a flag from inside the poll.
std::int32_t sendFlagBack(std::int32_t flag, std::int32_t addr, std::int32_t c) {
    onEvent(flag, addr, c);
    sendFlagRS("\x02", addr, 1);
    return 0;
}

TEST_F(Poll, ACallbackMaySendOnTheBusMidPoll) {
    line.addStation(1).model().queueEvent(5, 0x301, 1001);
    vesksim::BusStation& two = station(2);  // acknowledges what it is sent
    std::array<std::uint8_t, 128> buffer{};
    EXPECT_EQ(readDataWithCallbackRS("\x01\x02", buffer.data(), sendFlagBack, onAck), 1);
    ASSERT_EQ(two.frames().size(), 1u);
    EXPECT_EQ(calls.size(), 2u);  // the event, then station 2's acknowledgement of the flag
    EXPECT_EQ(calls.back().kind, 'a');
    EXPECT_EQ(calls.back().a, static_cast<std::int32_t>(kDisplay));
}

TEST_F(Bus, SendingTwinsPauseAfterEachStationAndSomeOnceMore) {
    station(1);
    station(2);
    const std::array<std::uint8_t, 128> frame{2};
    const struct {
        const char* name;
        std::function<void()> call;
        std::chrono::milliseconds atLeast;
    } cases[] = {
        {"sendMessage2RS, one station", [] { sendMessage2RS("\x01", kDisplay, 1, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0); }, 30ms},
        {"sendMessageRS, one station", [] { sendMessageRS("\x01", kDisplay, 1, 0, 0, "a", 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0); }, 60ms},
        {"sendMessageRS, two stations", [] { sendMessageRS("\x01\x02", kDisplay, 1, 0, 0, "a", 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0); }, 90ms},
        {"sendMessageRS, no station", [] { sendMessageRS("", kDisplay, 1, 0, 0, "a", 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0); }, 30ms},
        {"sendDataRS, no station", [&] { EXPECT_EQ(sendDataRS("", frame.data()), 1); }, 30ms},
        {"sendDataRS, two stations", [&] { EXPECT_EQ(sendDataRS("\x01\x02", frame.data()), 1); }, 90ms},
        {"sendDataRS, null frame", [] { EXPECT_EQ(sendDataRS("\x01", nullptr), 1); }, 30ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_GE(timed(c.call), c.atLeast);
    }
}

}  // namespace
}  // namespace vesktest
