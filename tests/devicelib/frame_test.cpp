// The frame helpers that every command shares: message numbering, colours,
// text attribute words, terminated texts, and the font widths.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "devicelib/fonts.h"
#include "devicelib/frame.h"
#include "devicelib/signals.h"

namespace {

using vesk::msgCounter;
using vesk::nextMsgId;
using vesk::setMsgCounter;

TEST(MessageCounter, AdvancesAndWrapsPast254) {
    struct Case {
        std::uint8_t before;
        std::uint8_t expected;
    };
    for (const Case c : {Case{1, 2}, Case{100, 101}, Case{253, 254}, Case{254, 1}, Case{255, 1}}) {
        setMsgCounter(c.before);
        EXPECT_EQ(nextMsgId(), c.expected) << "after " << int(c.before);
        EXPECT_EQ(msgCounter(), c.expected);
    }
}

TEST(MessageCounter, UnseededCounterDrawsFirstIdThenCounts) {
    std::set<int> firsts;
    for (int i = 0; i < 200; ++i) {
        setMsgCounter(0);
        const int first = nextMsgId();
        ASSERT_GE(first, 1);
        ASSERT_LE(first, 253);
        firsts.insert(first);
        ASSERT_EQ(nextMsgId(), first + 1);
    }
    EXPECT_GT(firsts.size(), 1u) << "the first id must be drawn, not fixed";
}

TEST(MessageCounter, SeedingGivesOneTo253AndIdsNeverZeroOr255) {
    for (int i = 0; i < 300; ++i) {
        vesk::seedMsgCounter();
        ASSERT_GE(msgCounter(), 1);
        ASSERT_LE(msgCounter(), 253);
    }
    setMsgCounter(1);
    for (int i = 0; i < 600; ++i) {
        const int id = nextMsgId();
        ASSERT_TRUE(id >= 1 && id <= 254) << id;
    }
}

TEST(Colour, Rgb565TruncatesEachChannel) {
    struct Case {
        std::uint32_t colour;
        std::uint16_t word;
    };
    for (const Case c : {Case{0xFFFFFF, 0xFFFF}, Case{0x0000FF, 0xF800}, Case{0x00FF00, 0x07E0},
                         Case{0xFF0000, 0x001F}, Case{0x808080, 0x7BEF}, Case{0x7F7F7F, 0x7BEF},
                         Case{0xAB808080, 0x7BEF}, Case{0x000000, 0x0000}}) {
        EXPECT_EQ(vesk::colorToRGB565(c.colour), c.word) << std::hex << c.colour;
    }
}

TEST(TextAttribute, FlagsAndFontEscape) {
    struct Case {
        int font, flagA, flagB;
        std::uint16_t word;
    };
    for (const Case c : {Case{0, 0, 0, 0x0080}, Case{5, 1, 0, 0x0095}, Case{15, 0, 1, 0x00AF}, Case{16, 0, 0, 0x018F},
                         Case{27, 1, 1, 0x0CBF}, Case{255, 1, 1, 0xF0BF}, Case{10, 1, 0, 0x9A}, Case{9, 1, 0, 0x99},
                         Case{3, 2, -1, 0x0083}, Case{0x105, 0, 0, 0x0085}}) {
        EXPECT_EQ(vesk::textAttribute(c.font, c.flagA, c.flagB), c.word)
            << "font " << c.font << " flags " << c.flagA << "," << c.flagB;
    }
}

TEST(TerminatedText, StopsAtZeroOr0xFFAndAtTheCap) {
    EXPECT_EQ(vesk::terminatedText(nullptr, 14).size(), 0u);
    EXPECT_EQ(vesk::terminatedText("", 14).size(), 0u);
    EXPECT_EQ(vesk::terminatedText("abc\xFF" "def", 14).size(), 3u);
    EXPECT_EQ(vesk::terminatedText("ABCDEFGHIJKLMNOPQRST", 14).size(), 14u);
    EXPECT_EQ(vesk::terminatedText("\xFF", 14).size(), 0u);
}

TEST(PassingTexts, TimeAndGapFormats) {
    struct Case {
        int value;
        const char* time;
        const char* gap;
    };
    for (const Case c : {Case{7523, "1:15.23", "+75.23"}, Case{75456, "9:34.56", "+754.56"}, Case{0, "0:00.00", "-0.00"},
                         Case{150, "0:01.50", "+1.50"}, Case{-7, "-0:00.07", "-0.07"},
                         Case{-2147483647 - 1, "-9:56.48", "-21474836.48"}}) {
        EXPECT_EQ(vesk::passingTimeText(c.value), c.time) << c.value;
        EXPECT_EQ(vesk::passingGapText(c.value), c.gap) << c.value;
        EXPECT_LE(vesk::passingTimeText(c.value).size(), 14u);
    }
}

TEST(FontWidths, TextWidthSumsUpToFourteenCharacters) {
    struct Case {
        int font;
        std::string text;
        int width;
    };
    const Case cases[] = {
        {16, "Hello", 74},
        {0, "ABC", 15},
        {28, "ABC", 0},
        {-1, "ABC", 0},
        {16, std::string(20, 'A'), 294},
        {1, "anything", 0},
        {16, "ab\xFF" "cd", 35},
        {16, "", 0},
        {10, "\xFF", 0},
        {4, "xy", 32},
        {8, "x", 23},
        {9, "x", 37},
        {10, "x", 47},
        {16, "\x01\x7F\x80~", 19},  // bytes without a width entry add nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vesk::textWidth(c.font, c.text.c_str()), c.width) << "font " << c.font << " \"" << c.text << "\"";
    }
    EXPECT_EQ(vesk::textWidth(16, nullptr), 0);
}

// The first and last character of every group of every per-character row, so
// that a row shifted or cut short shows.
TEST(FontWidths, EveryRowAtItsGroupEdges) {
    struct Row {
        int font;
        int w32, w63, w64, w95, w96, w126;
    };
    const Row rows[] = {
        {16, 16, 14, 25, 18, 10, 19}, {17, 23, 22, 37, 25, 13, 26}, {18, 30, 30, 49, 30, 15, 37},
        {19, 16, 18, 27, 24, 10, 19}, {20, 24, 26, 41, 33, 12, 29}, {21, 32, 35, 56, 39, 14, 38},
        {22, 16, 14, 25, 22, 12, 22}, {23, 24, 20, 37, 31, 16, 31}, {24, 32, 28, 50, 37, 19, 36},
        {25, 20, 18, 14, 23, 17, 17}, {26, 30, 27, 19, 35, 25, 28}, {27, 40, 35, 27, 45, 34, 40},
    };
    auto width = [](int font, char c) {
        const char text[2] = {c, 0};
        return vesk::textWidth(font, text);
    };
    for (const Row& r : rows) {
        EXPECT_EQ(width(r.font, ' '), r.w32) << r.font;
        EXPECT_EQ(width(r.font, '?'), r.w63) << r.font;
        EXPECT_EQ(width(r.font, '@'), r.w64) << r.font;
        EXPECT_EQ(width(r.font, '_'), r.w95) << r.font;
        EXPECT_EQ(width(r.font, '`'), r.w96) << r.font;
        EXPECT_EQ(width(r.font, '~'), r.w126) << r.font;
    }
    for (int font : {2, 3, 5, 6, 7, 11, 12, 13, 14, 15}) {
        EXPECT_EQ(vesk::textWidth(font, "Az~ "), 0) << font;
    }
}

}  // namespace
