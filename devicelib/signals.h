// Race signal commands: flag, RPM limit, picture, position screen and passing
// screen. Each builder takes the next message id and returns the frame.
#pragma once

#include <cstdint>
#include <string>

#include "frame.h"

namespace vesk {

// Picture code of flag types 1 to 7; any other type shows picture 0.
std::uint16_t flagPictureCode(std::int32_t flag);

DeviceFrame buildFlag(std::int32_t addr, std::int32_t flag);
DeviceFrame buildRPMLimit(std::int32_t addr, std::uint32_t limit);
DeviceFrame buildPicture(std::int32_t addr, std::int32_t picture, std::int32_t flagBit);

struct PositionRecord {
    std::int32_t position = 0;
    std::int32_t time = 0;  // hundredths of a second
    std::int32_t gap = 0;   // hundredths of a second
    std::int32_t value = 0;
};
DeviceFrame buildCurrentPos(std::int32_t addr, const PositionRecord& record);
DeviceFrame buildPassing(std::int32_t addr, const PositionRecord& record, std::int32_t mode);

// The passing screen's texts.
std::string passingTimeText(std::int32_t time);
std::string passingGapText(std::int32_t gap);

}  // namespace vesk
