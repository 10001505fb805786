// The device frame: 128 bytes, one display's 100-byte payload at byte 28,
// the payload header every display command fills, the text item shared by the
// passing screen and the three-item text screen, and the message counter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vesk {

inline constexpr std::size_t kFrameSize = 128;
inline constexpr std::size_t kPayloadSize = 100;
inline constexpr std::size_t kPayloadOffset = 28;

// Payload header offsets.
inline constexpr std::size_t kAddrOffset = 0;
inline constexpr std::size_t kLayoutOffset = 2;
inline constexpr std::size_t kMsgIdOffset = 3;
inline constexpr std::size_t kPictureOffset = 4;
inline constexpr std::size_t kScreenFlagsOffset = 6;
inline constexpr std::size_t kTimeBackOffset = 8;

// Screen flags word: one base value plus flag bits.
inline constexpr std::uint16_t kScreenTextOnly = 0x08;
inline constexpr std::uint16_t kScreenOnPicture = 0x0A;
inline constexpr std::uint16_t kScreenPosition = 0x0E;
inline constexpr std::uint16_t kScreenShown = 0x10;    // every screen command
inline constexpr std::uint16_t kScreenFlagMark = 0x20;  // flag screens

// Payload offsets of the three 24-byte text items.
inline constexpr std::array<std::size_t, 3> kTextItemOffsets{28, 52, 76};
inline constexpr std::size_t kTextItemChars = 14;

// Frame address of the remote-control panel's frames.
inline constexpr std::uint16_t kPanelFrameAddress = 1;

struct DeviceFrame {
    std::array<std::uint8_t, kFrameSize> bytes{};

    std::span<std::uint8_t, kPayloadSize> payload() {
        return std::span<std::uint8_t, kPayloadSize>(bytes.data() + kPayloadOffset, kPayloadSize);
    }
    std::span<const std::uint8_t, kPayloadSize> payload() const {
        return std::span<const std::uint8_t, kPayloadSize>(bytes.data() + kPayloadOffset, kPayloadSize);
    }
    std::uint8_t msgId() const { return bytes[kPayloadOffset + kMsgIdOffset]; }

    static DeviceFrame fromBytes(const std::uint8_t* src);
};

// 100 zero-filled bytes with little-endian field writers.
struct FramePayload {
    std::array<std::uint8_t, kPayloadSize> bytes{};

    void put8(std::size_t offset, std::uint32_t value) { bytes.at(offset) = static_cast<std::uint8_t>(value); }
    void put16(std::size_t offset, std::uint32_t value);
    void put32(std::size_t offset, std::uint32_t value);
    void putBytes(std::size_t offset, std::span<const std::uint8_t> src);
    std::uint16_t get16(std::size_t offset) const;
};

// Header of one display command: the address's low 16 bits, the layout and the
// screen flags; takes the next message id. Returns the payload with the header
// filled in.
struct CommandHeader {
    std::int32_t addr = 0;
    std::uint8_t layout = 0;
    std::uint32_t picture = 0;
    std::uint16_t screenFlags = 0;
    std::uint32_t timeBack = 0;
};
FramePayload startCommand(const CommandHeader& header);

// Byte 0 = 2, bytes 4-5 the frame address, payload at byte 28, the rest 0.
// Display commands use the payload's own address.
DeviceFrame wrapPayload(const FramePayload& payload);
DeviceFrame wrapPayload(const FramePayload& payload, std::uint16_t frameAddress);

// A text of single bytes, ended by its first 0 or 0xFF byte and cut to
// maxBytes; a null pointer is an empty text. Reads no byte past either end.
std::span<const std::uint8_t> terminatedText(const char* txt, std::size_t maxBytes);

// Text attribute word: 0x80, 0x10 for flag A, 0x20 for flag B (each on when
// exactly 1), then the font number, fonts above 15 in the escape form.
std::uint16_t textAttribute(std::int32_t font, std::int32_t flagA, std::int32_t flagB);

// One 24-byte text item at payload offset itemOffset.
struct TextItem {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint16_t attribute = 0;
    std::span<const std::uint8_t> text;  // at most 14 bytes are written
    std::uint16_t colorA = 0;
    std::uint16_t colorB = 0;
};
void putTextItem(FramePayload& payload, std::size_t itemOffset, const TextItem& item);

// 24-bit colour (c0 in bits 0-7 to the top five bits, c1 to the middle six,
// c2 to the low five), truncating each channel; bits 24-31 are ignored.
std::uint16_t colorToRGB565(std::uint32_t color);

// The one message counter of the library, shared by every link.
// nextMsgId: the id of the next command, 1 to 254, 254 followed by 1.
// seedMsgCounter: reseeds the generator from the clock and sets the counter
// to a random value from 1 to 253; every link does it when it opens.
std::uint8_t nextMsgId();
void seedMsgCounter();
// For tests: the counter as it stands, and setting it.
std::uint8_t msgCounter();
void setMsgCounter(std::uint8_t value);

}  // namespace vesk
