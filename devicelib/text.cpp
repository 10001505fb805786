#include "text.h"

namespace vesk {

namespace {

FramePayload startTextScreen(const TextScreen& screen, std::uint8_t layout) {
    const bool textOnly = screen.textOnly == 1;
    return startCommand({.addr = screen.addr,
                         .layout = layout,
                         .picture = textOnly ? 1u : static_cast<std::uint32_t>(screen.picture),
                         .screenFlags = static_cast<std::uint16_t>((textOnly ? kScreenTextOnly : kScreenOnPicture) |
                                                                   kScreenShown),
                         .timeBack = static_cast<std::uint32_t>(screen.timeBack)});
}

void putRawField(FramePayload& payload, std::size_t offset, const void* field, std::size_t width) {
    if (field != nullptr) {
        payload.putBytes(offset, {static_cast<const std::uint8_t*>(field), width});
    }
}

}  // namespace

DeviceFrame buildMessage(const TextScreen& screen, const std::array<ItemLine, 3>& lines) {
    FramePayload payload = startTextScreen(screen, 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ItemLine& line = lines[i];
        const auto text = terminatedText(line.txt, kTextItemChars);
        if (text.empty()) {
            continue;  // an empty line leaves its whole item zero
        }
        putTextItem(payload, kTextItemOffsets[i],
                    {.x = line.x,
                     .y = line.y,
                     .attribute = textAttribute(line.font, line.flagA, line.flagB),
                     .text = text,
                     .colorA = colorToRGB565(line.colorA),
                     .colorB = colorToRGB565(line.colorB)});
    }
    return wrapPayload(payload);
}

// Layout 7 has four 16-byte slots and two styles: the first for slots 1 and 2,
// the second for slots 3 and 4.
namespace {

constexpr std::size_t kLayout7Chars = 16;

void putLayout7(FramePayload& payload, const TextStyle& first, const TextStyle& second,
                const std::array<PlacedText, 4>& slots, std::size_t fieldWidth) {
    payload.put16(12, colorToRGB565(first.color));
    payload.put16(14, colorToRGB565(second.color));
    payload.put8(16, static_cast<std::uint32_t>(first.fontType));
    payload.put8(17, static_cast<std::uint32_t>(second.fontType));
    payload.put8(18, static_cast<std::uint32_t>(first.fontSize));
    payload.put8(19, static_cast<std::uint32_t>(second.fontSize));
    for (std::size_t i = 0; i < slots.size(); ++i) {
        payload.put16(20 + 2 * i, slots[i].x);
        payload.put16(28 + 2 * i, slots[i].y);
    }
    // A 32-byte field of sendMessage2 spans two slots; it is written from its
    // first slot, and its second slot has no field of its own.
    for (std::size_t i = 0; i < slots.size(); i += fieldWidth / kLayout7Chars) {
        putRawField(payload, 36 + kLayout7Chars * i, slots[i].txt, fieldWidth);
    }
}

}  // namespace

DeviceFrame buildMessage2(const TextScreen& screen, const StyledLine& line1, const StyledLine& line2) {
    FramePayload payload = startTextScreen(screen, 7);
    // Each line's place goes into both of its slots.
    putLayout7(payload, line1.style, line2.style,
               {line1.text, PlacedText{nullptr, line1.text.x, line1.text.y}, line2.text,
                PlacedText{nullptr, line2.text.x, line2.text.y}},
               2 * kLayout7Chars);
    return wrapPayload(payload);
}

DeviceFrame buildMessage4(const TextScreen& screen, const TextStyle& style1, const TextStyle& style3,
                          const std::array<PlacedText, 4>& lines) {
    FramePayload payload = startTextScreen(screen, 7);
    putLayout7(payload, style1, style3, lines, kLayout7Chars);
    return wrapPayload(payload);
}

DeviceFrame buildMessage3(const TextScreen& screen, const std::array<StyledLine, 3>& lines) {
    constexpr std::size_t kFieldWidth = 20;
    FramePayload payload = startTextScreen(screen, 8);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const StyledLine& line = lines[i];
        payload.put16(12 + 2 * i, colorToRGB565(line.style.color));
        payload.put8(18 + i, static_cast<std::uint32_t>(line.style.fontType));
        payload.put8(21 + i, static_cast<std::uint32_t>(line.style.fontSize));
        payload.put16(24 + 2 * i, line.text.x);
        payload.put16(30 + 2 * i, line.text.y);
        putRawField(payload, 40 + kFieldWidth * i, line.text.txt, kFieldWidth);
    }
    return wrapPayload(payload);
}

}  // namespace vesk
