#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace platform {

namespace {
constexpr char16_t replacement = 0xFFFD;

// Whole text to UTF-16 units; iconv's UTF-16LE bytes are assembled by hand
// so that the result does not depend on the host's byte order.
std::vector<char16_t> convert(const std::string &text, const char *charset) {
  std::vector<char16_t> units;
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Unknown character set: keep ASCII, mark the rest.
    for (unsigned char b : text)
      units.push_back(b < 0x80 ? b : replacement);
    return units;
  }
  char *in = const_cast<char *>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char outBytes[64];
    char *out = outBytes;
    std::size_t outLeft = sizeof outBytes;
    const std::size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    const int err = errno;
    const std::size_t produced = sizeof outBytes - outLeft;
    for (std::size_t i = 0; i + 1 < produced; i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(outBytes[i]) |
                                            static_cast<unsigned char>(outBytes[i + 1]) << 8));
    if (rc != static_cast<std::size_t>(-1))
      continue;
    if (err == E2BIG)
      continue;
    // A byte that does not convert (EILSEQ), or an incomplete sequence at the
    // end (EINVAL): one replacement character, then go on after that byte.
    units.push_back(replacement);
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return units;
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
} // namespace

void toUtf16(const std::string &text, const char *charset, char16_t *out, std::size_t units) {
  if (!out || units == 0)
    return;
  std::fill(out, out + units, u'\0');
  // Stop at the first zero byte, as the C string of the text would.
  const std::string cText = text.substr(0, text.find('\0'));
  const std::vector<char16_t> all = convert(cText, charset);
  std::size_t n = std::min(all.size(), units - 1);
  if (n > 0 && n < all.size() && isHighSurrogate(all[n - 1]))
    --n;
  std::copy(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n), out);
}

void toUtf16(const std::string &text, char16_t *out, std::size_t units) {
  toUtf16(text, nl_langinfo(CODESET), out, units);
}

} // namespace platform
