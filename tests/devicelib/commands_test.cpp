// Every display command, as it reaches the simulated base station through the
// real libusb-0.1: one 128-byte frame on endpoint 5, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "devicelib/frame.h"
#include "usb_fixture.h"

namespace vesktest {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes le16(std::uint16_t v) { return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)}; }
Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}
// A 24-byte text item: x, y, attribute, 14 text bytes, two colour words.
Bytes item(std::uint16_t x, std::uint16_t y, std::uint16_t attribute, const std::string& s, std::uint16_t colourA = 0,
           std::uint16_t colourB = 0) {
    Bytes t = text(s);
    t.resize(14, 0);
    return cat({le16(x), le16(y), le16(attribute), t, le16(colourA), le16(colourB)});
}
// UTF-16LE raw field of `width` bytes.
Bytes wide(const std::u16string& s, std::size_t width) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.resize(width, 0);
    return out;
}

struct CommandCase {
    std::string name;
    std::function<std::int32_t(std::int32_t conn)> send;
    std::uint16_t address = kDisplay;
    std::uint8_t layout = 0;
    std::uint16_t picture = 0;
    std::uint16_t screenFlags = 0;
    std::uint16_t timeBack = 0;
    std::map<std::size_t, Bytes> body;  // payload offset -> bytes; every other body byte is 0
};

class Commands : public UsbLink {};

// A raw text field as the caller must pass it: exactly N UTF-16 units,
// padded with zeros, since the library reads the field's whole width.
template <std::size_t N>
struct Field {
    std::array<char16_t, N> units{};
    explicit Field(const std::u16string& s) { std::copy_n(s.begin(), std::min(s.size(), N), units.begin()); }
    const char16_t* c_str() const { return units.data(); }
    std::u16string str() const { return std::u16string(units.begin(), units.end()); }
};

const Field<16> kLong1{u"Best lap 1:02.34"};  // all 16 units, no terminator
const Field<16> kLong2{u"Gap +0.45"};
const Field<8> kFour[4] = {Field<8>{u"P3"}, Field<8>{u"1:02.3"}, Field<8>{u"BEST"}, Field<8>{u"+0.4"}};
const Field<10> kThree[3] = {Field<10>{u"Lap 12"}, Field<10>{u"Pos 3"}, Field<10>{u"Gap -1.20"}};

std::vector<CommandCase> commandCases() {
    const Bytes long1 = wide(kLong1.str(), 32), long2 = wide(kLong2.str(), 32);
    std::vector<CommandCase> cases = {
        {"flag type 2", [](int c) { return sendFlag(c, kDisplay, 2); }, kDisplay, 0, 5, 0x3A, 0, {}},
        {"flag type outside 1..7", [](int c) { return sendFlag(c, kDisplay, 8); }, kDisplay, 0, 0, 0x3A, 0, {}},
        {"flag type 0", [](int c) { return sendFlag(c, kDisplay, 0); }, kDisplay, 0, 0, 0x3A, 0, {}},
        {"address above 65535 keeps its low 16 bits", [](int c) { return sendFlag(c, 70000, 1); }, 4464, 0, 1, 0x3A, 0,
         {}},
        {"RPM limit keeps its low 16 bits", [](int c) { return setRPMLimit(c, kDisplay, 70000); }, kDisplay, 5, 4464,
         0, 0, {}},
        {"picture marked as flag", [](int c) { return sendPicture(c, kDisplay, 12, 1); }, kDisplay, 0, 12, 0x3A, 0, {}},
        {"picture, flag bit 2", [](int c) { return sendPicture(c, kDisplay, 12, 2); }, kDisplay, 0, 12, 0x1A, 0, {}},
        {"position screen",
         [](int c) { return sendCurrentPos(c, kDisplay, 300, 75456, -7, 0x12345678); },
         kDisplay, 0, 0, 0x1E, 0,
         {{10, cat({le16(9920), le16(0xFFF9), {44, 0}, le32(0x12345678)})}}},
        {"passing screen, mode 1",
         [](int c) { return sendPAssing(c, kDisplay, 300, 75456, 150, 1, 5); },
         kDisplay, 0, 3, 0x1A, 8,
         {{10, cat({le16(9920), le16(150), {44, 0}, le32(5)})},
          {28, cat({item(399, 161, 0x9A, "300"), item(129, 11, 0x9A, "9:34.56"), item(284, 88, 0x99, "+1.50")})}}},
        {"passing screen, mode 2, gap 0",
         [](int c) { return sendPAssing(c, kDisplay, 3, 7523, 0, 2, 0); },
         kDisplay, 0, 2, 0x1A, 8,
         {{10, cat({le16(7523), le16(0), {3, 0}, le32(0)})},
          {28, cat({item(399, 161, 0x9A, "3"), item(129, 11, 0x9A, "1:15.23"), item(284, 88, 0x99, "-0.00")})}}},
        {"passing screen, negative position and gap",
         [](int c) { return sendPAssing(c, kDisplay, -2147483647 - 1, 100, -7, 0, 0); },
         kDisplay, 0, 2, 0x1A, 8,
         {{10, cat({le16(100), le16(0xFFF9), {0, 0}, le32(0)})},
          {28, cat({item(399, 161, 0x9A, "-2147483648"), item(129, 11, 0x9A, "0:01.00"), item(284, 88, 0x99, "-0.07")})}}},
        {"three items over a picture",
         [](int c) {
             return sendMessage(c, kDisplay, 7, 5, 0, "P1", 0x0000FF, 0x00FF00, 10, 20, 5, 1, 0, "ABCDEFGHIJKLMNOPQRST",
                                0xFFFFFF, 0x808080, 30, 40, 27, 1, 1, "ab\xFF" "cd", 0xFF0000, 0, 50, 60, 16, 0, 1);
         },
         kDisplay, 0, 7, 0x1A, 5,
         {{28, cat({item(10, 20, 0x95, "P1", 0xF800, 0x07E0), item(30, 40, 0x0CBF, "ABCDEFGHIJKLMN", 0xFFFF, 0x7BEF),
                    item(50, 60, 0x01AF, "ab", 0x001F, 0)})}}},
        {"three items, text only, empty middle line",
         [](int c) {
             return sendMessage(c, kDisplay, 7, 0, 1, "A", 0xFFFFFF, 0, 1, 2, 0, 0, 0, "", 0xFFFFFF, 0xFFFFFF, 3, 4, 9, 1,
                                1, "C", 0, 0xFFFFFF, 5, 6, 15, 0, 1);
         },
         kDisplay, 0, 1, 0x18, 0,
         {{28, item(1, 2, 0x80, "A", 0xFFFF, 0)}, {76, item(5, 6, 0xAF, "C", 0, 0xFFFF)}}},
        {"three items all empty, null texts too",
         [](int c) {
             return sendMessage(c, kDisplay, 1, 0, 2, "", 1, 1, 1, 1, 1, 1, 1, nullptr, 1, 1, 1, 1, 1, 1, 1, "\xFF", 1, 1,
                                1, 1, 1, 1, 1);
         },
         kDisplay, 0, 1, 0x1A, 0, {}},
        {"two long lines",
         [](int c) {
             return sendMessage2(c, kDisplay, 11, 8, 0, kLong1.c_str(), 0x00FF00, 10, 20, 3, 4, 1, kLong2.c_str(),
                                 0x0000FF, 200, 40, 5, 6, 1);
         },
         kDisplay, 7, 11, 0x1A, 8,
         {{12, cat({le16(0x07E0), le16(0xF800), {3, 5, 4, 6}, le16(10), le16(10), le16(200), le16(200), le16(20),
                    le16(20), le16(40), le16(40), long1, long2})}}},
        {"two long lines, text only, null second field",
         [](int c) {
             return sendMessage2(c, kDisplay, 11, 0, 1, kLong1.c_str(), 0, 1, 2, 0, 0, 7, nullptr, 0, 3, 4, 0, 0, 9);
         },
         kDisplay, 7, 1, 0x18, 0,
         {{20, cat({le16(1), le16(1), le16(3), le16(3), le16(2), le16(2), le16(4), le16(4), long1})}}},
        {"four short lines, styles of lines 1 and 3",
         [](int c) {
             return sendMessage4(c, kDisplay, 11, 0x1234, 0, kFour[0].c_str(), 0xFFFFFF, 1, 2, 3, 4, kFour[1].c_str(), 5,
                                 6, kFour[2].c_str(), 0x00FF00, 7, 8, 9, 10, kFour[3].c_str(), 11, 12);
         },
         kDisplay, 7, 11, 0x1A, 0x1234,
         {{12, cat({le16(0xFFFF), le16(0x07E0), {3, 9, 4, 10}, le16(1), le16(5), le16(7), le16(11), le16(2), le16(6),
                    le16(8), le16(12), wide(kFour[0].str(), 16), wide(kFour[1].str(), 16), wide(kFour[2].str(), 16),
                    wide(kFour[3].str(), 16)})}}},
        {"three medium lines",
         [](int c) {
             return sendMessage3(c, kDisplay, 4, 2, 0, kThree[0].c_str(), 0x0000FF, 1, 2, 3, 4, kThree[1].c_str(),
                                 0x00FF00, 5, 6, 7, 8, kThree[2].c_str(), 0xFF0000, 9, 10, 11, 12);
         },
         kDisplay, 8, 4, 0x1A, 2,
         {{12, cat({le16(0xF800), le16(0x07E0), le16(0x001F), {3, 7, 11, 4, 8, 12}, le16(1), le16(5), le16(9), le16(2),
                    le16(6), le16(10), {0, 0, 0, 0}, wide(kThree[0].str(), 20), wide(kThree[1].str(), 20),
                    wide(kThree[2].str(), 20)})}}},
    };
    return cases;
}

TEST_F(Commands, EachFrameByteForByte) {
    for (const CommandCase& c : commandCases()) {
        SCOPED_TRACE(c.name);
        station->clearRecord();
        const std::int32_t id = c.send(conn);
        ASSERT_GE(id, 1);
        ASSERT_LE(id, 254);
        const auto writes = transfersOn(vesksim::kEndpointOut);
        ASSERT_EQ(writes.size(), 1u);
        ASSERT_EQ(writes[0].data.size(), 128u);

        Bytes expected(128, 0);
        expected[0] = 2;
        expected[4] = c.address & 0xFF;
        expected[5] = c.address >> 8;
        std::uint8_t* p = expected.data() + 28;
        p[0] = c.address & 0xFF;
        p[1] = c.address >> 8;
        p[2] = c.layout;
        p[3] = static_cast<std::uint8_t>(id);
        p[4] = c.picture & 0xFF;
        p[5] = c.picture >> 8;
        p[6] = c.screenFlags & 0xFF;
        p[7] = c.screenFlags >> 8;
        p[8] = c.timeBack & 0xFF;
        p[9] = c.timeBack >> 8;
        for (const auto& [offset, bytes] : c.body) {
            std::copy(bytes.begin(), bytes.end(), p + offset);
        }
        for (std::size_t i = 0; i < 128; ++i) {
            EXPECT_EQ(writes[0].data[i], expected[i]) << "frame byte " << i << (i >= 28 ? " (payload " : " (")
                                                      << (i >= 28 ? i - 28 : i) << ")";
        }
    }
}

TEST_F(Commands, FlagTypesMapToTheirPictureCodes) {
    const std::uint16_t codes[] = {1, 5, 4, 6, 7, 8, 9};
    for (int flag = 1; flag <= 7; ++flag) {
        sendFlag(conn, kDisplay, flag);
        EXPECT_EQ(p16(lastWritten(), 4), codes[flag - 1]) << "flag type " << flag;
    }
    EXPECT_EQ(station->model().display(kDisplay).screen.kind, vesksim::ScreenKind::Flag);
}

TEST_F(Commands, FontBlinkChangesNothing) {
    sendMessage2(conn, kDisplay, 11, 8, 0, kLong1.c_str(), 1, 2, 3, 4, 5, 0, kLong2.c_str(), 6, 7, 8, 9, 10, 0);
    Frame first = lastWritten();
    sendMessage2(conn, kDisplay, 11, 8, 0, kLong1.c_str(), 1, 2, 3, 4, 5, 1, kLong2.c_str(), 6, 7, 8, 9, 10, -1);
    Frame second = lastWritten();
    first[28 + 3] = second[28 + 3] = 0;  // message ids differ
    EXPECT_EQ(first, second);
}

TEST_F(Commands, ConsecutiveCommandsCarryConsecutiveIdsAcross254) {
    vesk::setMsgCounter(253);
    EXPECT_EQ(sendFlag(conn, kDisplay, 1), 254);
    EXPECT_EQ(sendMessage4(conn, kDisplay, 0, 0, 1, nullptr, 0, 0, 0, 0, 0, nullptr, 0, 0, nullptr, 0, 0, 0, 0, 0,
                           nullptr, 0, 0),
              1);
    EXPECT_EQ(p8(lastWritten(), 3), 1);
    EXPECT_EQ(setRPMLimit(conn, kDisplay, 9000), 2);
}

TEST_F(Commands, PanelFrameTakesNoMessageId) {
    vesk::setMsgCounter(77);
    const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(sendDataToRemoteControl(conn, twenty.c_str(), 1, 0xFF, "ab\xFF" "cd", 2, 0x1FE, "", 3, 7, nullptr, 4, 8,
                                      0x1FF),
              0);
    EXPECT_EQ(vesk::msgCounter(), 77);

    Bytes expected(128, 0);
    expected[0] = 2;
    expected[4] = 1;  // frame address of the panel
    std::uint8_t* p = expected.data() + 28;
    p[0] = 2;
    p[5] = 0xFF;  // seq, low 8 bits
    p[6] = 0xFF;
    p[25] = 0x37;
    std::copy_n(twenty.begin(), 16, p + 28);
    p[44] = 'a';
    p[45] = 'b';
    const std::uint8_t settings[8] = {1, 2, 3, 4, 0xFF, 0xFE, 7, 8};
    std::copy_n(settings, 8, p + 92);
    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].data, expected);
    EXPECT_EQ(station->model().panel().line(0), twenty.substr(0, 16));
}

TEST_F(Commands, SendDataWritesTheCallersFrameUnchanged) {
    vesk::setMsgCounter(10);
    Bytes frame(128);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(255 - i);
    }
    EXPECT_EQ(sendData(conn, frame.data()), 1);
    EXPECT_EQ(sendData(conn, nullptr), 1);
    const auto writes = transfersOn(vesksim::kEndpointOut);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].data, frame);
    EXPECT_EQ(vesk::msgCounter(), 10);
}

}  // namespace
}  // namespace vesktest
