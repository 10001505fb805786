// The station model on its own: what it makes of the frames written to it,
// and what it answers. Frames are put together byte by byte here, so that
// the model is checked against the frame layout and not against itself.
#include "station_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace vesksim;
using namespace std::chrono_literals;

namespace {

// A device frame with its payload header, filled field by field.
struct FrameBytes {
  Frame f{};
  explicit FrameBytes(std::uint16_t address, std::uint8_t layout = 0, std::uint8_t msgId = 0,
                      std::uint16_t picture = 0, std::uint16_t flags = 0, std::uint16_t timeBack = 0) {
    f[0] = 2;
    f[4] = static_cast<std::uint8_t>(address);
    f[5] = static_cast<std::uint8_t>(address >> 8);
    u16(0, address);
    f[kPayloadOffset + 2] = layout;
    f[kPayloadOffset + 3] = msgId;
    u16(4, picture);
    u16(6, flags);
    u16(8, timeBack);
  }
  FrameBytes& u8(std::size_t off, std::uint8_t v) {
    f[kPayloadOffset + off] = v;
    return *this;
  }
  FrameBytes& u16(std::size_t off, std::uint16_t v) {
    f[kPayloadOffset + off] = static_cast<std::uint8_t>(v);
    f[kPayloadOffset + off + 1] = static_cast<std::uint8_t>(v >> 8);
    return *this;
  }
  FrameBytes& u32(std::size_t off, std::uint32_t v) {
    u16(off, static_cast<std::uint16_t>(v));
    return u16(off + 2, static_cast<std::uint16_t>(v >> 16));
  }
  FrameBytes& text(std::size_t off, const std::string& s) {
    std::memcpy(f.data() + kPayloadOffset + off, s.data(), s.size());
    return *this;
  }
  FrameBytes& wide(std::size_t off, const std::string& ascii) {
    for (std::size_t i = 0; i < ascii.size(); ++i) u16(off + 2 * i, static_cast<std::uint8_t>(ascii[i]));
    return *this;
  }
  // A layout 0 text item at payload offset `off`.
  FrameBytes& item(std::size_t off, std::uint16_t x, std::uint16_t y, std::uint16_t attr, const std::string& s,
                   std::uint16_t colA = 0, std::uint16_t colB = 0) {
    u16(off, x).u16(off + 2, y).u16(off + 4, attr).text(off + 6, s);
    return u16(off + 20, colA).u16(off + 22, colB);
  }
};

constexpr std::uint32_t kNumber = 1001;

class StationModelTest : public ::testing::Test {
 protected:
  StationModel model;
  void SetUp() override { model.addDisplay(kNumber); }
  Screen screenAfter(const FrameBytes& fb) {
    model.receive(fb.f);
    return model.display(kNumber).screen;
  }
};

TEST_F(StationModelTest, RaceSignalScreens) {
  Screen flag = screenAfter(FrameBytes(1001, 0, 7, 4, 0x3A));
  EXPECT_EQ(flag.kind, ScreenKind::Flag);
  EXPECT_EQ(flag.picture, 4);
  EXPECT_EQ(flag.msgId, 7);

  Screen picture = screenAfter(FrameBytes(1001, 0, 8, 12, 0x1A));
  EXPECT_EQ(picture.kind, ScreenKind::Picture);
  EXPECT_EQ(picture.picture, 12);

  Screen pos = screenAfter(FrameBytes(1001, 0, 9, 0, 0x1E).u16(10, 7523).u16(12, 0xFFF9).u8(14, 44).u32(16, 123456));
  EXPECT_EQ(pos.kind, ScreenKind::Position);
  EXPECT_EQ(pos.time, 7523);
  EXPECT_EQ(pos.gap, -7);
  EXPECT_EQ(pos.position, 44);
  EXPECT_EQ(pos.value, 123456u);

  // A passing screen whose record is all zero is still told apart from a
  // text screen by the fixed places of its texts.
  Screen passing = screenAfter(FrameBytes(1001, 0, 10, 2, 0x1A, 8)
                                   .item(28, 399, 161, 0x9A, "0")
                                   .item(52, 129, 11, 0x9A, "0:00.00")
                                   .item(76, 284, 88, 0x99, "-0.00"));
  EXPECT_EQ(passing.kind, ScreenKind::Passing);
  EXPECT_EQ(passing.timeBack, 8);
  ASSERT_EQ(passing.lines.size(), 3u);
  EXPECT_EQ(passing.lines[1].str(), "0:00.00");
  EXPECT_EQ(passing.lines[2].str(), "-0.00");
}

TEST_F(StationModelTest, RpmLimitKeepsTheScreen) {
  model.receive(FrameBytes(1001, 0, 1, 5, 0x3A).f);
  model.receive(FrameBytes(1001, 5, 2, 4464).f);
  DisplayState d = model.display(kNumber);
  EXPECT_EQ(d.rpmLimit, std::optional<std::uint16_t>(4464));
  EXPECT_EQ(d.screen.kind, ScreenKind::Flag);
  EXPECT_EQ(d.screen.picture, 5);
  EXPECT_EQ(d.lastMsgId, 2);
  EXPECT_EQ(d.frameCount, 2u);
}

TEST_F(StationModelTest, TextScreenOfThreeItems) {
  Screen s = screenAfter(FrameBytes(1001, 0, 3, 1, 0x18, 5)
                             .item(28, 10, 20, 0x0095, "ABCDEFGHIJKLMN", 0xF800, 0x07E0)
                             .item(76, 30, 40, 0x0CBF, "xyz"));
  EXPECT_EQ(s.kind, ScreenKind::Text0);
  EXPECT_EQ(s.timeBack, 5);
  ASSERT_EQ(s.lines.size(), 3u);
  EXPECT_EQ(s.lines[0].str(), "ABCDEFGHIJKLMN");  // all 14 bytes, no terminator
  EXPECT_EQ(s.lines[0].attribute, 0x0095);
  EXPECT_EQ(s.lines[0].colourA, 0xF800);
  EXPECT_EQ(s.lines[0].colourB, 0x07E0);
  EXPECT_EQ(s.lines[1], TextLine{.text = Bytes(14, 0)});  // the empty middle item
  EXPECT_EQ(s.lines[2].x, 30);
  EXPECT_EQ(s.lines[2].str(), "xyz");

  // The same items over a picture.
  EXPECT_EQ(screenAfter(FrameBytes(1001, 0, 4, 9, 0x1A).item(28, 1, 1, 0x80, "a")).kind, ScreenKind::Text0);
}

TEST(TextLineTest, AttributeWordGivesFontAndFlags) {
  struct Case {
    std::uint16_t word;
    int font;
    bool a, b;
  };
  const Case cases[] = {
      {0x0080, 0, false, false}, {0x0095, 5, true, false}, {0x00AF, 15, false, true},
      {0x018F, 16, false, false}, {0x0CBF, 27, true, true}, {0xF0BF, 255, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    TextLine line;
    line.attribute = c.word;
    EXPECT_EQ(line.font(), c.font);
    EXPECT_EQ(line.flagA(), c.a);
    EXPECT_EQ(line.flagB(), c.b);
  }
}

TEST_F(StationModelTest, TextScreensOfLayoutsSevenAndEight) {
  // Two long lines: each spans two slots and repeats its position.
  Screen two = screenAfter(FrameBytes(1001, 7, 5, 3, 0x1A)
                               .u16(12, 0xFFFF).u16(14, 0x001F)
                               .u8(16, 1).u8(17, 2).u8(18, 3).u8(19, 4)
                               .u16(20, 10).u16(22, 10).u16(24, 200).u16(26, 200)
                               .u16(28, 5).u16(30, 5).u16(32, 60).u16(34, 60)
                               .wide(36, "Best lap 1:02.34")
                               .wide(68, "P3"));
  EXPECT_EQ(two.kind, ScreenKind::Text7);
  ASSERT_EQ(two.lines.size(), 4u);
  EXPECT_EQ(two.joinedText(0, 2), "Best lap 1:02.34");
  EXPECT_EQ(two.joinedText(2, 2), "P3");
  EXPECT_EQ(two.lines[1].colourA, 0xFFFF);  // slot 2 shares the first style
  EXPECT_EQ(two.lines[2].colourA, 0x001F);
  EXPECT_EQ(two.lines[3].fontType, 2);
  EXPECT_EQ(two.lines[3].fontSize, 4);
  EXPECT_EQ(two.lines[2].x, 200);
  EXPECT_EQ(two.lines[3].y, 60);

  Screen three = screenAfter(FrameBytes(1001, 8, 6, 1, 0x18)
                                 .u16(12, 1).u16(14, 2).u16(16, 3)
                                 .u8(18, 4).u8(19, 5).u8(20, 6).u8(21, 7).u8(22, 8).u8(23, 9)
                                 .u16(24, 11).u16(26, 12).u16(28, 13).u16(30, 21).u16(32, 22).u16(34, 23)
                                 .wide(40, "one").wide(60, "two").wide(80, "ten chars!"));
  EXPECT_EQ(three.kind, ScreenKind::Text8);
  ASSERT_EQ(three.lines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(three.lines[i].colourA, i + 1);
    EXPECT_EQ(three.lines[i].fontType, i + 4);
    EXPECT_EQ(three.lines[i].fontSize, i + 7);
    EXPECT_EQ(three.lines[i].x, i + 11);
    EXPECT_EQ(three.lines[i].y, i + 21);
  }
  EXPECT_EQ(three.lines[2].str(), "ten chars!");
}

TEST_F(StationModelTest, PanelFrameFillsThePanelAndIsNotAcknowledged) {
  FrameBytes fb(1);
  fb.u16(0, 2).u8(5, 0xFF).u8(6, 0xFF).u32(24, 0x3700);
  fb.text(28, "0123456789ABCDEF").text(44, "ab").text(76, "last");
  for (std::uint8_t i = 0; i < 8; ++i) fb.u8(92 + i, static_cast<std::uint8_t>(0xF0 + i));
  model.receive(fb.f);

  PanelState p = model.panel();
  EXPECT_EQ(p.frameCount, 1u);
  EXPECT_EQ(p.seq, 0xFF);
  EXPECT_EQ(p.line(0), "0123456789ABCDEF");
  EXPECT_EQ(p.line(1), "ab");
  EXPECT_EQ(p.line(2), "");
  EXPECT_EQ(p.line(3), "last");
  EXPECT_EQ(p.settingA[3], 0xF3);
  EXPECT_EQ(p.settingB[0], 0xF4);

  // An event acknowledged back to address 1 is counted, not shown.
  Frame ack = makePanelEvent(4);
  ack[4] = 1;
  model.receive(ack);
  EXPECT_EQ(model.panel().ackCount, 1u);
  EXPECT_EQ(model.panel().frameCount, 1u);
  EXPECT_EQ(model.pendingReplies(kEndpointReplies), 0u);
}

TEST_F(StationModelTest, EveryFrameIsRecordedInOrderShortOnesUndecoded) {
  const auto t0 = Clock::now();
  model.receive(FrameBytes(1001, 0, 1, 1, 0x3A).f, t0);
  model.receive(Bytes{2, 0, 0, 0, 0xE9, 0x03}, t0 + 30ms);  // 6 bytes for display 1001
  model.receive(FrameBytes(4242, 0, 2, 1, 0x3A).f, t0 + 60ms);  // nobody there

  auto frames = model.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].at, t0);
  EXPECT_EQ(frames[1].length, 6u);
  EXPECT_EQ(frames[1].at - frames[0].at, 30ms);
  EXPECT_EQ(frames[2].address(), 4242);
  EXPECT_EQ(model.display(kNumber).frameCount, 1u);
  EXPECT_EQ(model.pendingReplies(kEndpointReplies), 1u);  // only the full frame to 1001 is answered
}

// --- acknowledgements -----------------------------------------------------

TEST(StationModelAcks, AckCarriesDisplayNumberAndMessageId) {
  StationModel model;
  model.addDisplay(101001);  // listens to 1001, answers as 101001
  model.addDisplay(7, 0x1234);
  model.receive(FrameBytes(1001, 0, 200, 4, 0x3A).f);
  model.receive(FrameBytes(0x1234, 5, 17, 9000).f);
  EXPECT_EQ(model.display(7).frameCount, 1u);  // each display sees only its own address

  auto first = model.takeReply(kEndpointReplies);
  ASSERT_TRUE(first);
  ASSERT_EQ(first->size(), kFrameSize);
  Frame f;
  std::copy(first->begin(), first->end(), f.begin());
  EXPECT_EQ(payloadU32(f, 0), 101001u);
  EXPECT_EQ(f[kPayloadOffset + 4], 200);
  EXPECT_EQ(f[kPayloadOffset + 6], 0);  // reply kind: acknowledgement

  auto second = model.takeReply(kEndpointReplies);
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)[kPayloadOffset + 0], 7);
  EXPECT_EQ((*second)[kPayloadOffset + 4], 17);
  EXPECT_FALSE(model.takeReply(kEndpointReplies));
  EXPECT_FALSE(model.takeReply(kEndpointPanel).has_value());
}

TEST(StationModelAcks, DisplaysSharingAnAddressAllAnswer) {
  StationModel model;
  model.addDisplay(1001);
  model.addDisplay(201001);  // the same address, 1001
  model.receive(FrameBytes(1001, 0, 5, 4, 0x3A).f);
  std::vector<std::uint32_t> answered;
  while (auto r = model.takeReply(kEndpointReplies)) {
    Frame f;
    std::copy(r->begin(), r->end(), f.begin());
    answered.push_back(payloadU32(f, 0));
  }
  EXPECT_EQ(answered, (std::vector<std::uint32_t>{1001, 201001}));
  EXPECT_EQ(model.display(201001).screen.picture, 4);
}

TEST(StationModelAcks, SilentLateAndMissedAcks) {
  const auto t0 = Clock::now();
  struct Case {
    const char* name;
    void (*setUp)(StationModel&);
    std::chrono::milliseconds askAfter;
    int expectedId;  // 0: nothing due
  };
  const Case cases[] = {
      {"answers at once", [](StationModel&) {}, 0ms, 1},
      {"silent", [](StationModel& m) { m.setSilent(kNumber); }, 1000ms, 0},
      {"late, asked too early", [](StationModel& m) { m.setAckDelay(kNumber, 50ms); }, 49ms, 0},
      {"late, asked after", [](StationModel& m) { m.setAckDelay(kNumber, 50ms); }, 50ms, 1},
      {"misses the first", [](StationModel& m) { m.missAcks(kNumber, 1); }, 0ms, 2},
      {"misses both", [](StationModel& m) { m.missAcks(kNumber, 2); }, 0ms, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StationModel model;
    model.addDisplay(kNumber);
    c.setUp(model);
    model.receive(FrameBytes(1001, 0, 1, 4, 0x3A).f, t0);
    model.receive(FrameBytes(1001, 0, 2, 4, 0x3A).f, t0);
    auto reply = model.takeReply(kEndpointReplies, t0 + c.askAfter);
    if (c.expectedId == 0) {
      EXPECT_FALSE(reply.has_value());
    } else {
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ((*reply)[kPayloadOffset + 4], c.expectedId);
    }
    EXPECT_EQ(model.display(kNumber).frameCount, 2u);  // every frame is shown all the same
  }
}

TEST(StationModelAcks, LateAckDoesNotHoldBackLaterReplies) {
  StationModel model;
  model.addDisplay(kNumber);
  model.setAckDelay(kNumber, 1h);
  model.receive(FrameBytes(1001, 0, 1, 4, 0x3A).f);
  model.queueEvent(3, 0x10, 1001);
  auto r = model.takeReply(kEndpointReplies);
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[kPayloadOffset + 6], 0xFF);
  EXPECT_EQ(model.pendingReplies(kEndpointReplies), 1u);
}

TEST(StationModelReplies, EventFramesAndTheirEndpoints) {
  StationModel model;
  model.queueEvent(255, 0x01020304, 0xBEEF);
  model.queuePanelEvent(9);
  model.queuePanelEvent(10, kEndpointReplies);
  model.queueRaw(kEndpointPanel, Bytes(60, 0xAA));

  auto ev = model.takeReply(kEndpointReplies);
  ASSERT_TRUE(ev);
  const std::uint8_t* p = ev->data() + kPayloadOffset;
  EXPECT_EQ(p[5], 255);
  EXPECT_EQ(p[6], 0xFF);
  EXPECT_EQ((Bytes{p[24], p[25], p[26], p[27], p[28], p[29]}), (Bytes{4, 3, 2, 1, 0xEF, 0xBE}));

  auto panelOn82 = model.takeReply(kEndpointReplies);
  ASSERT_TRUE(panelOn82);
  EXPECT_EQ((*panelOn82)[kPayloadOffset + 5], 10);

  auto panel = model.takeReply(kEndpointPanel);
  ASSERT_TRUE(panel);
  const std::uint8_t* q = panel->data() + kPayloadOffset;
  EXPECT_EQ((Bytes{q[5], q[6], q[24], q[25], q[26], q[27]}), (Bytes{9, 0xFF, 0, 0x37, 0, 0}));
  EXPECT_EQ(model.takeReply(kEndpointPanel), Bytes(60, 0xAA));
  EXPECT_FALSE(model.takeReply(kEndpointPanel));
}

}  // namespace
