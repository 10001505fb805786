// Result texts to UTF-16, serial numbers to addresses, the server address.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "server_address.h"
#include "vesk.h"

namespace {

std::u16string converted(const std::string &text, const char *charset) {
  char16_t out[8];
  for (auto &u : out)
    u = u'#'; // anything left over would show
  platform::toUtf16(text, charset, out, 8);
  return std::u16string(out, 8);
}

std::u16string padded(std::u16string s) {
  s.resize(8, u'\0');
  return s;
}

TEST(DisplayText, ConvertsFromTheCharacterSetAndCutsToSevenUnits) {
  const struct {
    std::string text;
    const char *charset;
    std::u16string units;
  } cases[] = {
      {"", "UTF-8", padded(u"")},
      {"1:02.34", "UTF-8", padded(u"1:02.34")},
      {"1:02.345", "UTF-8", padded(u"1:02.34")},
      {"\xC5\xBC" "ab", "UTF-8", padded(u"\u017Cab")},
      {"\xB9\xEA", "CP1250", padded(u"\u0105\u0119")},
      {"\xFF" "a", "UTF-8", padded(u"\uFFFD" "a")},
      {"ab\xC3", "UTF-8", padded(u"ab\uFFFD")},   // cut short in the middle of a character
      {"\xE9", "ASCII", padded(u"\uFFFD")},
      {"abcdef\xF0\x9F\x8F\x81", "UTF-8", padded(u"abcdef")}, // no half surrogate pair
      {"abcde\xF0\x9F\x8F\x81", "UTF-8", padded(u"abcde\U0001F3C1")},
      {std::string("ab\0cd", 5), "UTF-8", padded(u"ab")},
      {"x", "NO-SUCH-CHARSET", padded(u"x")},
  };
  for (const auto &c : cases)
    EXPECT_EQ(converted(c.text, c.charset), c.units) << c.text << " " << c.charset;
}

TEST(DisplayText, UsesTheLocaleCharacterSet) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  char16_t out[8];
  platform::toUtf16("\xC3\xB3", out, 8);
  EXPECT_EQ(out[0], u'\u00F3');
  std::setlocale(LC_CTYPE, "C");
}

TEST(SerialToAddr, KeepsTheLastFiveDigitsWithTheSign) {
  const struct {
    long long serial;
    int addr;
  } cases[] = {{5, 5},           {99999, 99999},   {100000, 0},          {123456, 23456},
               {1000012, 12},    {-123456, -23456}, {9223372036854775807LL, 75807}};
  for (const auto &c : cases)
    EXPECT_EQ(static_cast<int>(serialToAddr(c.serial)), c.addr) << c.serial;
}

TEST(ServerAddress, AcceptsAQuadWithAnOptionalPort) {
  const struct {
    std::string text;
    bool ok;
    std::string host;
    uint16_t port;
  } cases[] = {
      {"127.0.0.1", true, "127.0.0.1", 4321},
      {"10.1.2.3:5000", true, "10.1.2.3", 5000},
      {"127.0.0.1:65535", true, "127.0.0.1", 65535},
      {"127.0.0.1:1", true, "127.0.0.1", 1},
      {"", false, "", 0},
      {"localhost", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1:0", false, "", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:99999999999", false, "", 0},
      {"127.0.0.1:-1", false, "", 0},
      {"127.0.0.1:+80", false, "", 0},
      {"127.0.0.1:80x", false, "", 0},
      {"127.0.0.1:80:81", false, "", 0},
      {"127.0.0", false, "", 0},
      {"256.0.0.1", false, "", 0},
      {" 127.0.0.1", false, "", 0},
  };
  for (const auto &c : cases) {
    const auto address = parseServerAddress(c.text);
    ASSERT_EQ(address.has_value(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address->host, c.host);
      EXPECT_EQ(address->port, c.port);
    }
  }
}

} // namespace
