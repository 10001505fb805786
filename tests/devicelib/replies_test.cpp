// Reading replies: the poll's acknowledgements and events with the last event
// sequence, and the remote-control panel's events with their acknowledgement.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "devicelib/replies.h"
#include "usb_fixture.h"

namespace vesktest {
namespace {

struct Calls {
    std::vector<std::tuple<int, int, int>> events;
    std::vector<std::pair<int, int>> acks;
};
Calls calls;

int32_t onEvent(int32_t flag, int32_t addr, int32_t c) {
    calls.events.emplace_back(flag, addr, c);
    return 0;
}
int32_t onAck(int32_t addr, int32_t nr) {
    calls.acks.emplace_back(addr, nr);
    return 0;
}

Frame withBytes(Frame f, std::initializer_list<std::pair<std::size_t, std::uint8_t>> payloadBytes) {
    for (const auto& [offset, value] : payloadBytes) {
        f[vesksim::kPayloadOffset + offset] = value;
    }
    return f;
}

class Replies : public UsbLink {
protected:
    void SetUp() override {
        UsbLink::SetUp();
        calls = {};
        vesk::setLastEventSequence(-1);
        buffer.fill(0xEE);
    }
    std::int32_t poll() { return readDataWithCallback(conn, buffer.data(), onEvent, onAck); }
    void queue(const Frame& f, std::uint8_t endpoint = vesksim::kEndpointReplies) { station->model().queueRaw(endpoint, f); }

    std::array<std::uint8_t, 1000> buffer{};
};

TEST_F(Replies, AcknowledgementsReachTheAckCallback) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 4> display;
        std::optional<int> reported;
    };
    const Case cases[] = {
        {"display 1001", {0xE9, 0x03, 0, 0}, 1001},
        {"all bits set", {0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {"0xFFFF is nobody", {0xFF, 0xFF, 0, 0}, std::nullopt},
        {"0 is nobody", {0, 0, 0, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        calls = {};
        const Frame ack = withBytes(Frame{}, {{0, c.display[0]}, {1, c.display[1]}, {2, c.display[2]},
                                              {3, c.display[3]}, {4, 42}, {6, 0}});
        queue(ack);
        EXPECT_EQ(poll(), 1);
        EXPECT_TRUE(std::equal(ack.begin(), ack.end(), buffer.begin()));
        if (c.reported) {
            ASSERT_EQ(calls.acks.size(), 1u);
            EXPECT_EQ(calls.acks[0], std::make_pair(*c.reported, 42));
        } else {
            EXPECT_TRUE(calls.acks.empty());
        }
        EXPECT_TRUE(calls.events.empty());
    }
}

TEST_F(Replies, AcknowledgementOfTheSimulatedDisplayNamesItsMessageId) {
    const int id = sendFlag(conn, kDisplay, 3);
    EXPECT_EQ(poll(), 1);
    ASSERT_EQ(calls.acks.size(), 1u);
    EXPECT_EQ(calls.acks[0], std::make_pair(int(kDisplay), id));
}

TEST_F(Replies, OtherReplyKindsAreCopiedNotReported) {
    const Frame other = withBytes(Frame{}, {{0, 5}, {6, 7}});
    queue(other);
    EXPECT_EQ(poll(), 1);
    EXPECT_TRUE(std::equal(other.begin(), other.end(), buffer.begin()));
    EXPECT_TRUE(calls.acks.empty() && calls.events.empty());
}

TEST_F(Replies, EventsReportTheirCodeOnceAndDropRepeats) {
    queue(vesksim::makeEvent(7, 0x00000003, 1001));
    queue(vesksim::makeEvent(7, 0x00000003, 1001));  // the same event again
    queue(vesksim::makeEvent(255, 0x00013700, 12));  // byte 26 is 1: no panel event
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(buffer[28 + 5], 7);  // the repeat was still copied
    EXPECT_EQ(poll(), 0);
    ASSERT_EQ(calls.events.size(), 2u);
    EXPECT_EQ(calls.events[0], std::make_tuple(3, 1001, 8));
    EXPECT_EQ(calls.events[1], std::make_tuple(79616, 12, 0));  // 255 + 1 wraps to 0
    EXPECT_EQ(vesk::lastEventSequence(), 255);
}

TEST_F(Replies, PanelEventsReachTheEventCallbackAs55) {
    // Bytes 24..29 other than 25 and 26 do not matter.
    queue(withBytes(Frame{}, {{5, 1}, {6, 0xFF}, {24, 1}, {25, 0x37}, {26, 0}, {27, 9}, {28, 4}, {29, 4}}));
    EXPECT_EQ(poll(), 0);
    ASSERT_EQ(calls.events.size(), 1u);
    EXPECT_EQ(calls.events[0], std::make_tuple(55, 0, 2));
}

TEST_F(Replies, NullCallbacksStillRecordTheSequence) {
    queue(vesksim::makeEvent(9, 4, 1));
    queue(vesksim::makeAck(kDisplay, kDisplay, 3));
    EXPECT_EQ(readDataWithCallback(conn, buffer.data(), nullptr, nullptr), 0);
    EXPECT_EQ(vesk::lastEventSequence(), 9);
    EXPECT_EQ(readDataWithCallback(conn, nullptr, nullptr, nullptr), 1);  // null buffer: not written
}

TEST_F(Replies, NothingWaitingLeavesTheBufferAfterTheReadTimeOut) {
    const auto before = buffer;
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(buffer, before);
    std::array<std::uint8_t, 128> raw{};
    raw.fill(0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readData(conn, raw.data()), 0);
    // libusb waits out the 10 ms time-out on its own clock inside the call.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);
    EXPECT_EQ(raw[0], 0x5A);
    const auto reads = transfersOn(vesksim::kEndpointReplies);
    ASSERT_EQ(reads.size(), 2u);
    for (const WireTransfer& t : reads) {
        EXPECT_EQ(t.requested, 128u);
        EXPECT_EQ(t.outcome, vesksim::TransferOutcome::Discarded);
        EXPECT_LT(t.elapsed(), 100ms);
    }
}

TEST_F(Replies, ShortReadCountsAsNothing) {
    queue(vesksim::makeAck(kDisplay, kDisplay, 3));
    station->shortReadNext(127);
    EXPECT_EQ(poll(), 0);
    EXPECT_TRUE(calls.acks.empty());
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(Replies, ReadDataCopiesAFullFrame) {
    const Frame ack = vesksim::makeAck(kDisplay, kDisplay, 200);
    queue(ack);
    std::array<std::uint8_t, 128> raw{};
    EXPECT_EQ(readData(conn, raw.data()), 1);
    EXPECT_TRUE(std::equal(ack.begin(), ack.end(), raw.begin()));
    EXPECT_TRUE(calls.acks.empty());
}

TEST_F(Replies, RemoteControlAcknowledgesEveryEventAndReportsNewOnes) {
    // A non-panel event: only the 16-bit word at offset 24 is the code.
    queue(withBytes(Frame{}, {{5, 4}, {6, 0xFF}, {24, 5}, {25, 0}, {26, 2}, {27, 0}, {40, 0x77}}),
          vesksim::kEndpointPanel);
    queue(withBytes(Frame{}, {{5, 4}, {6, 0xFF}, {24, 5}}), vesksim::kEndpointPanel);  // repeat
    queue(vesksim::makePanelEvent(255), vesksim::kEndpointPanel);
    queue(withBytes(Frame{}, {{5, 1}, {6, 0}}), vesksim::kEndpointPanel);  // no event

    EXPECT_EQ(readRemoteControl(conn), 5);
    EXPECT_EQ(readRemoteControl(conn), 0);
    EXPECT_EQ(readRemoteControl(conn), 55);
    EXPECT_EQ(readRemoteControl(conn), 0);
    EXPECT_EQ(readRemoteControl(conn), 0);  // nothing waiting

    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 3u) << "one acknowledgement per event frame, repeats included";
    const vesksim::Bytes& first = writes[0].data;
    EXPECT_EQ(first[0], 2);
    EXPECT_EQ(first[4], 1);
    EXPECT_EQ(first[5], 0);
    EXPECT_EQ(first[28 + 5], 5) << "sequence number plus 1";
    EXPECT_EQ(first[28 + 26], 2) << "the rest as received";
    EXPECT_EQ(first[28 + 40], 0x77);
    EXPECT_EQ(writes[2].data[28 + 5], 0) << "255 wraps to 0";
    EXPECT_EQ(vesk::lastEventSequence(), 255);

    // The acknowledgement follows its read after the 10 ms pause.
    const auto reads = transfersOn(vesksim::kEndpointPanel);
    ASSERT_GE(reads.size(), 1u);
    EXPECT_GE(writes[0].submitted - reads[0].finished, 9ms);
}

TEST_F(Replies, PollAndRemoteControlShareTheLastSequence) {
    queue(vesksim::makeEvent(3, 2, 1));
    EXPECT_EQ(poll(), 0);
    queue(vesksim::makePanelEvent(3), vesksim::kEndpointPanel);
    EXPECT_EQ(readRemoteControl(conn), 0);
    queue(vesksim::makeEvent(3, 2, 1));
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(calls.events.size(), 1u);
}

}  // namespace
}  // namespace vesktest
