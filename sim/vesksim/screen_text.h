// What a display shows, in words, for the live view.
#pragma once

#include <cstdint>
#include <string>

#include "sim/station_model.h"

namespace vesksim {

// How a row's screen reads in the view: "flag 3 yellow", "picture 20",
// "1:02.3 | P1 | 1:01.9 | +0.55 on 13", "blank on 10", ...
std::string describeScreen(const Screen& screen);
// The simulator's names of the flag types 1 to 7, by the picture code that
// a flag frame carries; nullptr for another code.
const char* flagName(std::uint16_t pictureCode, int* flagType = nullptr);

}  // namespace vesksim
