#include "frame.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace vesk {

namespace {

// Process-wide, like the counter it feeds: only the first id's range is fixed,
// so any uniform generator serves.
std::minstd_rand& generator() {
    static std::minstd_rand gen(
        static_cast<std::minstd_rand::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    return gen;
}

std::uint8_t randomId1To253() {
    std::uniform_int_distribution<int> draw(0, 252);
    return static_cast<std::uint8_t>(draw(generator()) + 1);
}

std::uint8_t counter = 0;  // 0 until a link opens or a command is built

}  // namespace

DeviceFrame DeviceFrame::fromBytes(const std::uint8_t* src) {
    DeviceFrame frame;
    std::memcpy(frame.bytes.data(), src, kFrameSize);
    return frame;
}

void FramePayload::put16(std::size_t offset, std::uint32_t value) {
    put8(offset, value & 0xFF);
    put8(offset + 1, (value >> 8) & 0xFF);
}

void FramePayload::put32(std::size_t offset, std::uint32_t value) {
    put16(offset, value & 0xFFFF);
    put16(offset + 2, value >> 16);
}

void FramePayload::putBytes(std::size_t offset, std::span<const std::uint8_t> src) {
    std::copy(src.begin(), src.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint16_t FramePayload::get16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

FramePayload startCommand(const CommandHeader& header) {
    FramePayload payload;
    payload.put16(kAddrOffset, static_cast<std::uint32_t>(header.addr));
    payload.put8(kLayoutOffset, header.layout);
    payload.put8(kMsgIdOffset, nextMsgId());
    payload.put16(kPictureOffset, header.picture);
    payload.put16(kScreenFlagsOffset, header.screenFlags);
    payload.put16(kTimeBackOffset, header.timeBack);
    return payload;
}

DeviceFrame wrapPayload(const FramePayload& payload) {
    return wrapPayload(payload, payload.get16(kAddrOffset));
}

DeviceFrame wrapPayload(const FramePayload& payload, std::uint16_t frameAddress) {
    DeviceFrame frame;
    frame.bytes[0] = 2;
    frame.bytes[4] = static_cast<std::uint8_t>(frameAddress & 0xFF);
    frame.bytes[5] = static_cast<std::uint8_t>(frameAddress >> 8);
    std::copy(payload.bytes.begin(), payload.bytes.end(), frame.bytes.begin() + kPayloadOffset);
    return frame;
}

std::span<const std::uint8_t> terminatedText(const char* txt, std::size_t maxBytes) {
    if (txt == nullptr) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(txt);
    std::size_t length = 0;
    while (length < maxBytes && bytes[length] != 0 && bytes[length] != 0xFF) {
        ++length;
    }
    return {bytes, length};
}

std::uint16_t textAttribute(std::int32_t font, std::int32_t flagA, std::int32_t flagB) {
    const auto f = static_cast<std::uint32_t>(font) & 0xFF;
    std::uint32_t word = 0x80;
    if (flagA == 1) {
        word += 0x10;
    }
    if (flagB == 1) {
        word += 0x20;
    }
    word += f <= 15 ? f : 15 + (f - 15) * 256;
    return static_cast<std::uint16_t>(word);
}

void putTextItem(FramePayload& payload, std::size_t itemOffset, const TextItem& item) {
    payload.put16(itemOffset, item.x);
    payload.put16(itemOffset + 2, item.y);
    payload.put16(itemOffset + 4, item.attribute);
    payload.putBytes(itemOffset + 6, item.text.first(std::min(item.text.size(), kTextItemChars)));
    payload.put16(itemOffset + 20, item.colorA);
    payload.put16(itemOffset + 22, item.colorB);
}

std::uint16_t colorToRGB565(std::uint32_t color) {
    const std::uint32_t r5 = (color & 0xFF) * 31 / 255;
    const std::uint32_t g6 = ((color >> 8) & 0xFF) * 63 / 255;
    const std::uint32_t b5 = ((color >> 16) & 0xFF) * 31 / 255;
    return static_cast<std::uint16_t>(r5 * 2048 + g6 * 32 + b5);
}

std::uint8_t nextMsgId() {
    if (counter == 0) {
        counter = randomId1To253();
    } else {
        counter = static_cast<std::uint8_t>(counter + 1);
    }
    if (counter == 0 || counter > 254) {
        counter = 1;
    }
    return counter;
}

void seedMsgCounter() {
    generator().seed(
        static_cast<std::minstd_rand::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    counter = randomId1To253();
}

std::uint8_t msgCounter() { return counter; }

void setMsgCounter(std::uint8_t value) { counter = value; }

}  // namespace vesk
