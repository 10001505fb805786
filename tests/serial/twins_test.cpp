// Every serial twin against its USB twin: the same device frame reaches a bus
// station as reaches the USB base station (the message id aside), and the
// reading twins report the same replies.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "devicelib/replies.h"
#include "sim/usb_station.h"

namespace vesktest {
namespace {

constexpr std::size_t kMsgIdByte = vesk::kPayloadOffset + vesk::kMsgIdOffset;

class SerialTwins : public ::testing::Test {
protected:
    void SetUp() override {
        usbStation = &bed.addStation();
        usbStation->model().addDisplay(kDisplay);
        conn = InitDevice();
        ASSERT_NE(conn, 0);
        bus = &line.addStation(1);
        bus->model().addDisplay(kDisplay);
        line.useAsCom(kCom);
        ASSERT_EQ(InitDeviceRS(kCom), 0);
    }
    void TearDown() override {
        closeDevice(conn);
        closeDeviceRS();
    }

    std::vector<vesksim::Frame> usbFrames() const {
        std::vector<vesksim::Frame> out;
        for (const auto& t : usbStation->transfers()) {
            if (t.endpoint == vesksim::kEndpointOut && t.data.size() == vesksim::kFrameSize) {
                out.emplace_back();
                std::copy(t.data.begin(), t.data.end(), out.back().begin());
            }
        }
        return out;
    }
    std::vector<vesksim::Frame> busFrames(std::size_t atLeast) const {
        eventually([&] { return bus->frames().size() >= atLeast; });
        std::vector<vesksim::Frame> out;
        for (const auto& f : bus->frames()) {
            out.push_back(f.frame);
        }
        return out;
    }

    vesksim::UsbTestbed bed;
    vesksim::UsbStation* usbStation = nullptr;
    std::int32_t conn = 0;
    vesksim::BusLine line;
    vesksim::BusStation* bus = nullptr;
};

// Raw UTF-16 text fields of the long, medium and short lines.
const std::array<std::uint8_t, 32> wide32 = [] {
    std::array<std::uint8_t, 32> f{};
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i % 2 ? 0 : 'A' + i / 2);
    return f;
}();
const std::array<std::uint8_t, 32> other32 = [] {
    std::array<std::uint8_t, 32> f{};
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(0x80 + i);
    return f;
}();

// A caller's raw frame, passed on unchanged.
const std::array<std::uint8_t, 128> rawFrame = [] {
    std::array<std::uint8_t, 128> f{};
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(3 * i + 1);
    return f;
}();

struct SendingTwin {
    const char* name;
    std::function<std::int32_t(std::int32_t conn)> usb;
    std::function<std::int32_t(const char* busAddrs)> rs;
    bool numbered = true;  // takes a message id
};

// Every argument differs from its neighbours, so that one passed in the wrong
// place shows in the frame.
const SendingTwin sendingTwins[] = {
    {"sendFlag", [](std::int32_t c) { return sendFlag(c, 70001, 5); },
     [](const char* b) { return sendFlagRS(b, 70001, 5); }},
    {"setRPMLimit", [](std::int32_t c) { return setRPMLimit(c, 1001, 12345); },
     [](const char* b) { return setRPMLimitRS(b, 1001, 12345); }},
    {"sendPicture", [](std::int32_t c) { return sendPicture(c, 1001, 17, 1); },
     [](const char* b) { return sendPictureRS(b, 1001, 17, 1); }},
    {"sendCurrentPos", [](std::int32_t c) { return sendCurrentPos(c, 1001, 3, 6543, -210, 0x01020304); },
     [](const char* b) { return sendCurrentPosRS(b, 1001, 3, 6543, -210, 0x01020304); }},
    {"sendPAssing", [](std::int32_t c) { return sendPAssing(c, 1001, 4, 7321, 155, 1, 0x0A0B0C0D); },
     [](const char* b) { return sendPAssingRS(b, 1001, 4, 7321, 155, 1, 0x0A0B0C0D); }},
    {"sendMessage",
     [](std::int32_t c) {
         return sendMessage(c, 1001, 11, 80, 0, "first", 0xFF0000, 0x00FF00, 1, 2, 3, 1, 0, "second", 0x0000FF,
                            0x123456, 4, 5, 20, 0, 1, "third line!", 0xABCDEF, 0x010203, 6, 7, 9, 1, 1);
     },
     [](const char* b) {
         return sendMessageRS(b, 1001, 11, 80, 0, "first", 0xFF0000, 0x00FF00, 1, 2, 3, 1, 0, "second", 0x0000FF,
                              0x123456, 4, 5, 20, 0, 1, "third line!", 0xABCDEF, 0x010203, 6, 7, 9, 1, 1);
     }},
    {"sendMessage2",
     [](std::int32_t c) {
         return sendMessage2(c, 1001, 12, 81, 1, wide32.data(), 0x112233, 8, 9, 2, 3, 1, other32.data(), 0x445566,
                             10, 11, 4, 5, 0);
     },
     [](const char* b) {
         return sendMessage2RS(b, 1001, 12, 81, 1, wide32.data(), 0x112233, 8, 9, 2, 3, 1, other32.data(),
                               0x445566, 10, 11, 4, 5, 0);
     }},
    {"sendMessage3",
     [](std::int32_t c) {
         return sendMessage3(c, 1001, 13, 82, 0, wide32.data(), 0x111111, 1, 2, 3, 4, other32.data(), 0x222222, 5,
                             6, 7, 8, wide32.data() + 2, 0x333333, 9, 10, 11, 12);
     },
     [](const char* b) {
         return sendMessage3RS(b, 1001, 13, 82, 0, wide32.data(), 0x111111, 1, 2, 3, 4, other32.data(), 0x222222,
                               5, 6, 7, 8, wide32.data() + 2, 0x333333, 9, 10, 11, 12);
     }},
    {"sendMessage4",
     [](std::int32_t c) {
         return sendMessage4(c, 1001, 14, 83, 0, wide32.data(), 0x444444, 1, 2, 3, 4, other32.data(), 5, 6,
                             wide32.data() + 4, 0x555555, 7, 8, 9, 10, other32.data() + 2, 11, 12);
     },
     [](const char* b) {
         return sendMessage4RS(b, 1001, 14, 83, 0, wide32.data(), 0x444444, 1, 2, 3, 4, other32.data(), 5, 6,
                               wide32.data() + 4, 0x555555, 7, 8, 9, 10, other32.data() + 2, 11, 12);
     }},
    {"sendDataToRemoteControl",
     [](std::int32_t c) {
         return sendDataToRemoteControl(c, "line one", 1, 2, "line two", 3, 4, "line three", 5, 6, "four", 7, 8, 42);
     },
     [](const char* b) {
         return sendDataToRemoteControlRS(b, "line one", 1, 2, "line two", 3, 4, "line three", 5, 6, "four", 7, 8,
                                          42);
     },
     false},
    {"sendData", [](std::int32_t c) { return sendData(c, rawFrame.data()); },
     [](const char* b) { return sendDataRS(b, rawFrame.data()); }, false},
};

TEST_F(SerialTwins, EachSendingTwinBuildsItsUsbTwinsFrame) {
    std::size_t sent = 0;
    for (const SendingTwin& twin : sendingTwins) {
        SCOPED_TRACE(twin.name);
        const std::int32_t usbResult = twin.usb(conn);
        const std::int32_t rsResult = twin.rs("\x01");
        ++sent;
        const auto usb = usbFrames();
        const auto rs = busFrames(sent);
        ASSERT_EQ(usb.size(), sent);
        ASSERT_EQ(rs.size(), sent);
        vesksim::Frame expected = usb.back();
        if (twin.numbered) {
            EXPECT_EQ(rsResult, usbResult == 254 ? 1 : usbResult + 1);  // one counter for both links
            EXPECT_EQ(rs.back()[kMsgIdByte], rsResult);
            expected[kMsgIdByte] = rs.back()[kMsgIdByte];
        } else {
            EXPECT_EQ(rsResult, usbResult);
        }
        EXPECT_EQ(rs.back(), expected);
    }
}

TEST_F(SerialTwins, ReadingTwinsReportTheSameReplies) {
    struct Seen {
        std::vector<std::vector<std::int32_t>> calls;
    };
    static Seen seen;
    const VeskEventCallback onEvent = [](std::int32_t f, std::int32_t a, std::int32_t c) {
        seen.calls.push_back({'e', f, a, c});
        return 0;
    };
    const VeskAckCallback onAck = [](std::int32_t a, std::int32_t n) {
        seen.calls.push_back({'a', a, n});
        return 0;
    };
    const vesksim::Frame replies[] = {
        vesksim::makeAck(kDisplay, 1001, 77),
        vesksim::makeAck(0xFFFF, 1001, 78),  // display number 0xFFFF is not reported
        vesksim::makeEvent(3, 0x00013700, 0),  // a panel event
        vesksim::makeEvent(4, 6, 1001),
    };
    for (const vesksim::Frame& reply : replies) {
        SCOPED_TRACE(reply[vesksim::kPayloadOffset + 6]);
        for (int pass = 0; pass < 2; ++pass) {  // readData, then the poll
            usbStation->model().queueRaw(vesksim::kEndpointReplies, reply);
            bus->model().queueRaw(vesksim::kEndpointReplies, reply);
            std::array<std::uint8_t, 128> usbBuffer{}, rsBuffer{};
            std::int32_t usbResult = 0, rsResult = 0;
            std::vector<std::vector<std::int32_t>> usbCalls;
            seen.calls.clear();
            if (pass == 0) {
                usbResult = readData(conn, usbBuffer.data());
                rsResult = readDataRS(1, rsBuffer.data());
            } else {
                vesk::setLastEventSequence(-1);
                usbResult = readDataWithCallback(conn, usbBuffer.data(), onEvent, onAck);
                usbCalls = seen.calls;
                seen.calls.clear();
                vesk::setLastEventSequence(-1);
                rsResult = readDataWithCallbackRS("\x01", rsBuffer.data(), onEvent, onAck);
            }
            EXPECT_EQ(rsResult, usbResult);
            EXPECT_EQ(rsBuffer, usbBuffer);
            EXPECT_EQ(std::equal(reply.begin(), reply.end(), rsBuffer.begin()), true);
            if (pass == 1) {
                EXPECT_EQ(seen.calls, usbCalls);
                EXPECT_EQ(seen.calls.size(), reply == replies[1] ? 0u : 1u);
            }
        }
    }
}

}  // namespace
}  // namespace vesktest
