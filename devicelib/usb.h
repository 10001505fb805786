// The USB link: the base station through libusb-0.1, named by small 32-bit
// handles so that a handle the caller got wrong can never reach libusb.
#pragma once

#include <cstdint>
#include <optional>

#include "frame.h"

namespace vesk::usb {

inline constexpr int kVendorId = 0x1234;
inline constexpr int kProductId = 0x1236;
inline constexpr int kConfiguration = 1;
inline constexpr int kInterface = 1;
inline constexpr int kFrameOutEndpoint = 5;
inline constexpr int kReplyEndpoint = 0x82;
inline constexpr int kPanelEndpoint = 0x83;
inline constexpr int kWriteTimeoutMs = 100;
inline constexpr int kReadTimeoutMs = 10;
inline constexpr int kPauseAfterWriteMs = 30;

// Walks every matching device (the last one that configures and claims wins;
// the walk stops at the first failure) and returns its handle, 0 for none.
// Seeds the message counter when the walk ran to its end.
std::int32_t openStation();

// Closes the device that conn names; any other value does nothing.
void close(std::int32_t conn);

// Bulk write of the frame to endpoint 5 with the 100 ms time-out, then the
// 30 ms pause. The outcome is not reported; an unknown handle writes nothing.
void writeFrame(std::int32_t conn, const DeviceFrame& frame);

// Bulk read from the endpoint with the 10 ms time-out: a frame only when
// exactly 128 bytes came.
std::optional<DeviceFrame> readFrame(std::int32_t conn, int endpoint);

}  // namespace vesk::usb
