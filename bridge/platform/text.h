// Conversion of 8-bit text in the locale's character set to UTF-16.
#ifndef VESKBRIDGE_PLATFORM_TEXT_H
#define VESKBRIDGE_PLATFORM_TEXT_H

#include <cstddef>
#include <string>

namespace platform {

// Converts text from the character set of the current C locale (LC_CTYPE,
// as set by setlocale) into out, a buffer of units UTF-16 units: at most
// units - 1 of them, never half of a surrogate pair, then zeros to the end of
// the buffer. A byte that does not convert becomes U+FFFD.
void toUtf16(const std::string &text, char16_t *out, std::size_t units);

// The same from a named character set (an iconv name such as "UTF-8").
void toUtf16(const std::string &text, const char *charset, char16_t *out, std::size_t units);

} // namespace platform

#endif
