// Replies from the displays and the remote-control panel: acknowledgements and
// events, the last event sequence that drops repeated events, and the panel's
// acknowledgement. Shared by the USB poll and the serial poll.
#pragma once

#include <cstdint>

#include "frame.h"
#include "vesklink.h"

namespace vesk {

// Reply payload offsets.
inline constexpr std::size_t kReplyDisplayOffset = 0;  // 32 bits
inline constexpr std::size_t kReplyMsgIdOffset = 4;
inline constexpr std::size_t kReplySequenceOffset = 5;
inline constexpr std::size_t kReplyKindOffset = 6;
inline constexpr std::size_t kReplyCodeOffset = 24;  // 32 bits
inline constexpr std::size_t kReplyEventAddrOffset = 28;

inline constexpr std::uint8_t kReplyAck = 0;
inline constexpr std::uint8_t kReplyEvent = 0xFF;
inline constexpr std::int32_t kPanelEventCode = 55;  // 0x37

// Reports one frame read by a poll: an acknowledgement to ackCallback, a new
// event to eventCallback (either may be null), and records the event's
// sequence number. Returns 1 when the frame is no event, 0 when it is.
std::int32_t dispatchReply(const DeviceFrame& reply, VeskEventCallback eventCallback,
                           VeskAckCallback ackCallback);

// The acknowledgement of a panel event: the frame as read, with byte 0 = 2,
// frame address 1 and the sequence number plus 1.
DeviceFrame panelAcknowledgement(const DeviceFrame& event);

// The code readRemoteControl reports for an event frame (0 for a repeat),
// recording its sequence number.
std::int32_t takePanelEventCode(const DeviceFrame& event);

bool isEvent(const DeviceFrame& reply);

// For tests: the last event sequence, -1 before any event.
std::int32_t lastEventSequence();
void setLastEventSequence(std::int32_t sequence);

}  // namespace vesk
