// Text widths in the displays' fonts, for laying out the texts of the
// three-item screen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace vesk {

inline constexpr std::size_t kFontCount = 28;
inline constexpr std::size_t kFontChars = 95;  // character codes 32 to 126
inline constexpr std::uint8_t kFirstChar = 32;
inline constexpr std::size_t kMeasuredChars = kTextItemChars;

// Sum of the widths of the text's characters (at most 14, up to the first 0
// or 0xFF byte) in font 0 to 27; 0 for any other font or a null text.
std::int32_t textWidth(std::int32_t font, const char* txt);

}  // namespace vesk
