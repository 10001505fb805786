#include "panel.h"

#include "replies.h"

namespace vesk {

DeviceFrame buildRemoteControl(const std::array<PanelLine, 4>& lines, std::int32_t seq) {
    constexpr std::uint16_t kPanelAddr = 2;
    constexpr std::uint32_t kPanelCode = 0x3700;  // bytes 24-27: 0, 0x37, 0, 0
    FramePayload payload;
    payload.put16(kAddrOffset, kPanelAddr);
    payload.put8(kReplySequenceOffset, static_cast<std::uint32_t>(seq));
    payload.put8(kReplyKindOffset, kReplyEvent);
    payload.put32(kReplyCodeOffset, kPanelCode);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        payload.putBytes(28 + kPanelLineChars * i, terminatedText(lines[i].txt, kPanelLineChars));
        payload.put8(92 + i, static_cast<std::uint32_t>(lines[i].setA));
        payload.put8(96 + i, static_cast<std::uint32_t>(lines[i].setB));
    }
    return wrapPayload(payload, kPanelFrameAddress);
}

}  // namespace vesk
