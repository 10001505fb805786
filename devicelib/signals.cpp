#include "signals.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace vesk {

namespace {

constexpr std::uint16_t kPictureScreen = kScreenOnPicture | kScreenShown;

void putPositionRecord(FramePayload& payload, const PositionRecord& record) {
    payload.put16(10, static_cast<std::uint32_t>(record.time));
    payload.put16(12, static_cast<std::uint32_t>(record.gap));
    payload.put8(14, static_cast<std::uint32_t>(record.position));
    payload.put32(16, static_cast<std::uint32_t>(record.value));
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::uint16_t flagPictureCode(std::int32_t flag) {
    constexpr std::array<std::uint16_t, 7> codes{1, 5, 4, 6, 7, 8, 9};
    return flag >= 1 && flag <= 7 ? codes[static_cast<std::size_t>(flag - 1)] : 0;
}

DeviceFrame buildFlag(std::int32_t addr, std::int32_t flag) {
    return wrapPayload(startCommand({.addr = addr,
                                     .layout = 0,
                                     .picture = flagPictureCode(flag),
                                     .screenFlags = kPictureScreen | kScreenFlagMark}));
}

DeviceFrame buildRPMLimit(std::int32_t addr, std::uint32_t limit) {
    return wrapPayload(startCommand({.addr = addr, .layout = 5, .picture = limit}));
}

DeviceFrame buildPicture(std::int32_t addr, std::int32_t picture, std::int32_t flagBit) {
    const std::uint16_t flags = flagBit == 1 ? kPictureScreen | kScreenFlagMark : kPictureScreen;
    return wrapPayload(startCommand(
        {.addr = addr, .layout = 0, .picture = static_cast<std::uint32_t>(picture), .screenFlags = flags}));
}

DeviceFrame buildCurrentPos(std::int32_t addr, const PositionRecord& record) {
    FramePayload payload = startCommand({.addr = addr, .layout = 0, .screenFlags = kScreenPosition | kScreenShown});
    putPositionRecord(payload, record);
    return wrapPayload(payload);
}

std::string passingTimeText(std::int32_t time) {
    // A negative time shows its size with a minus sign, so that no text is
    // longer than its 14-byte field.
    const long long size = std::llabs(static_cast<long long>(time));
    const long long seconds = size / 100;
    const long long minutes = seconds / 60 > 9 ? 9 : seconds / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%s%1.1lld:%2.2lld.%2.2lld", time < 0 ? "-" : "", minutes, seconds % 60,
                  size % 100);
    return text;
}

std::string passingGapText(std::int32_t gap) {
    const long long size = std::llabs(static_cast<long long>(gap));
    char text[32];
    std::snprintf(text, sizeof text, "%c%1.1lld.%2.2lld", gap > 0 ? '+' : '-', size / 100, size % 100);
    return text;
}

DeviceFrame buildPassing(std::int32_t addr, const PositionRecord& record, std::int32_t mode) {
    FramePayload payload = startCommand({.addr = addr,
                                         .layout = 0,
                                         .picture = mode == 1 ? 3u : 2u,
                                         .screenFlags = kPictureScreen,
                                         .timeBack = 8});
    putPositionRecord(payload, record);
    const std::string texts[3] = {std::to_string(record.position), passingTimeText(record.time),
                                  passingGapText(record.gap)};
    constexpr std::uint32_t xs[3] = {399, 129, 284};
    constexpr std::uint32_t ys[3] = {161, 11, 88};
    const std::uint16_t attributes[3] = {textAttribute(10, 1, 0), textAttribute(10, 1, 0), textAttribute(9, 1, 0)};
    for (std::size_t i = 0; i < 3; ++i) {
        putTextItem(payload, kTextItemOffsets[i],
                    {.x = xs[i], .y = ys[i], .attribute = attributes[i], .text = bytesOf(texts[i])});
    }
    return wrapPayload(payload);
}

}  // namespace vesk
