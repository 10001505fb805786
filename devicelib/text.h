// Colour text screens of one to four lines, over a picture or on their own.
#pragma once

#include <array>
#include <cstdint>

#include "frame.h"

namespace vesk {

// What every text screen puts in its header: text only when textOnly is
// exactly 1 (picture 1, flags 0x18), else over picture (flags 0x1A).
struct TextScreen {
    std::int32_t addr = 0;
    std::int32_t picture = 0;
    std::int32_t timeBack = 0;
    std::int32_t textOnly = 0;
};

// A line of the three-item screen: terminated text of at most 14 bytes.
struct ItemLine {
    const char* txt = nullptr;
    std::uint32_t colorA = 0;
    std::uint32_t colorB = 0;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::int32_t font = 0;
    std::int32_t flagA = 0;
    std::int32_t flagB = 0;
};

// A raw text field with its place; the builder copies the field's whole
// width, a null field is all zeros.
struct PlacedText {
    const void* txt = nullptr;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
};

struct TextStyle {
    std::uint32_t color = 0;
    std::int32_t fontType = 0;
    std::int32_t fontSize = 0;
};

struct StyledLine {
    PlacedText text;
    TextStyle style;
};

DeviceFrame buildMessage(const TextScreen& screen, const std::array<ItemLine, 3>& lines);
// Two lines of 32-byte fields.
DeviceFrame buildMessage2(const TextScreen& screen, const StyledLine& line1, const StyledLine& line2);
// Three lines of 20-byte fields.
DeviceFrame buildMessage3(const TextScreen& screen, const std::array<StyledLine, 3>& lines);
// Four lines of 16-byte fields; lines 1 and 2 take style1, lines 3 and 4 style3.
DeviceFrame buildMessage4(const TextScreen& screen, const TextStyle& style1, const TextStyle& style3,
                          const std::array<PlacedText, 4>& lines);

}  // namespace vesk
