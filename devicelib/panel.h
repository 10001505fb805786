// The remote-control panel's frame: four text lines with two setting bytes
// each, numbered by the caller's sequence number instead of a message id.
#pragma once

#include <array>
#include <cstdint>

#include "frame.h"

namespace vesk {

inline constexpr std::size_t kPanelLineChars = 16;

struct PanelLine {
    const char* txt = nullptr;  // up to 16 bytes, ended by 0 or 0xFF
    std::int32_t setA = 0;
    std::int32_t setB = 0;
};

// Leaves the message counter alone.
DeviceFrame buildRemoteControl(const std::array<PanelLine, 4>& lines, std::int32_t seq);

}  // namespace vesk
