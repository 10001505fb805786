#include "replies.h"

namespace vesk {

namespace {

std::int32_t lastSequence = -1;  // so the first event after loading always counts

std::uint32_t get32(std::span<const std::uint8_t, kPayloadSize> p, std::size_t offset) {
    return static_cast<std::uint32_t>(p[offset]) | static_cast<std::uint32_t>(p[offset + 1]) << 8 |
           static_cast<std::uint32_t>(p[offset + 2]) << 16 | static_cast<std::uint32_t>(p[offset + 3]) << 24;
}

std::uint32_t get16(std::span<const std::uint8_t, kPayloadSize> p, std::size_t offset) {
    return static_cast<std::uint32_t>(p[offset]) | static_cast<std::uint32_t>(p[offset + 1]) << 8;
}

// Panel events carry 0x37 in byte 25 and 0 in byte 26, whatever else the code holds.
bool isPanelEvent(std::span<const std::uint8_t, kPayloadSize> p) {
    return p[kReplyCodeOffset + 1] == 0x37 && p[kReplyCodeOffset + 2] == 0;
}

std::uint8_t sequenceAfter(std::uint8_t sequence) { return static_cast<std::uint8_t>(sequence + 1); }

}  // namespace

bool isEvent(const DeviceFrame& reply) { return reply.payload()[kReplyKindOffset] == kReplyEvent; }

std::int32_t dispatchReply(const DeviceFrame& reply, VeskEventCallback eventCallback,
                           VeskAckCallback ackCallback) {
    const auto p = reply.payload();
    const std::uint8_t kind = p[kReplyKindOffset];
    if (kind == kReplyAck) {
        const std::uint32_t display = get32(p, kReplyDisplayOffset);
        if (display != 0 && display != 0xFFFF && ackCallback != nullptr) {
            ackCallback(static_cast<std::int32_t>(display), p[kReplyMsgIdOffset]);
        }
    }
    if (kind != kReplyEvent) {
        return 1;
    }
    const std::uint8_t sequence = p[kReplySequenceOffset];
    const auto c = static_cast<std::int32_t>(sequenceAfter(sequence));
    if (eventCallback != nullptr && sequence != lastSequence) {
        if (isPanelEvent(p)) {
            eventCallback(kPanelEventCode, 0, c);
        } else {
            eventCallback(static_cast<std::int32_t>(get32(p, kReplyCodeOffset)),
                          static_cast<std::int32_t>(get16(p, kReplyEventAddrOffset)), c);
        }
    }
    // Every event read counts, repeats and unreported ones included.
    lastSequence = sequence;
    return 0;
}

DeviceFrame panelAcknowledgement(const DeviceFrame& event) {
    DeviceFrame ack = event;
    ack.bytes[0] = 2;
    ack.bytes[4] = kPanelFrameAddress & 0xFF;
    ack.bytes[5] = kPanelFrameAddress >> 8;
    auto p = ack.payload();
    p[kReplySequenceOffset] = sequenceAfter(p[kReplySequenceOffset]);
    return ack;
}

std::int32_t takePanelEventCode(const DeviceFrame& event) {
    const auto p = event.payload();
    const std::uint8_t sequence = p[kReplySequenceOffset];
    const std::int32_t code = isPanelEvent(p) ? kPanelEventCode : static_cast<std::int32_t>(get16(p, kReplyCodeOffset));
    const bool repeat = sequence == lastSequence;
    lastSequence = sequence;
    return repeat ? 0 : code;
}

std::int32_t lastEventSequence() { return lastSequence; }

void setLastEventSequence(std::int32_t sequence) { lastSequence = sequence; }

}  // namespace vesk
