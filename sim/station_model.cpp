#include "station_model.h"

#include <algorithm>
#include <stdexcept>

namespace vesksim {

namespace {

constexpr std::uint8_t kReplyKindEvent = 0xFF;
constexpr std::uint32_t kPanelCode = 0x3700;  // bytes 0, 0x37, 0, 0

// Layout 0 text items and where they sit in the payload.
constexpr std::size_t kItemOffsets[] = {28, 52, 76};
constexpr std::size_t kItemTextSize = 14;

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool allZero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

Bytes bytesUpToZero(const std::uint8_t* p, std::size_t n) {
  const std::uint8_t* end = std::find(p, p + n, 0);
  return Bytes(p, end);
}

TextLine decodeItem(const std::uint8_t* item) {
  TextLine line;
  line.x = u16(item);
  line.y = u16(item + 2);
  line.attribute = u16(item + 4);
  line.text = Bytes(item + 6, item + 6 + kItemTextSize);
  line.colourA = u16(item + 20);
  line.colourB = u16(item + 22);
  return line;
}

// The passing screen places its three texts at fixed spots with fixed
// attribute words; a text screen of layout 0 could match only by copying
// all of them.
bool looksLikePassing(const std::uint8_t* payload) {
  struct Spot {
    std::uint16_t x, y, attribute;
  };
  constexpr Spot spots[] = {{399, 161, 0x9A}, {129, 11, 0x9A}, {284, 88, 0x99}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint8_t* item = payload + kItemOffsets[i];
    if (u16(item) != spots[i].x || u16(item + 2) != spots[i].y || u16(item + 4) != spots[i].attribute)
      return false;
  }
  return true;
}

ScreenKind classifyLayout0(const std::uint8_t* payload, std::uint16_t flags) {
  switch (flags) {
    case 0x3A:
      return ScreenKind::Flag;
    case 0x1E:
      return ScreenKind::Position;
    case 0x18:
      return ScreenKind::Text0;
    case 0x1A:
      if (!allZero(payload + 10, 10) || looksLikePassing(payload)) return ScreenKind::Passing;
      if (!allZero(payload + 28, 72)) return ScreenKind::Text0;
      return ScreenKind::Picture;
    default:
      return ScreenKind::Other;
  }
}

Screen decodeScreen(const std::uint8_t* payload) {
  Screen s;
  s.layout = payload[2];
  s.msgId = payload[3];
  s.picture = u16(payload + 4);
  s.screenFlags = u16(payload + 6);
  s.timeBack = u16(payload + 8);
  switch (s.layout) {
    case 0:
      s.kind = classifyLayout0(payload, s.screenFlags);
      break;
    case 7:
      s.kind = ScreenKind::Text7;
      break;
    case 8:
      s.kind = ScreenKind::Text8;
      break;
    default:
      s.kind = ScreenKind::Other;
      break;
  }

  if (s.kind == ScreenKind::Position || s.kind == ScreenKind::Passing) {
    s.time = u16(payload + 10);
    s.gap = static_cast<std::int16_t>(u16(payload + 12));
    s.position = payload[14];
    s.value = u32(payload + 16);
  }

  if (s.layout == 0 && s.kind != ScreenKind::Other) {
    for (std::size_t offset : kItemOffsets) s.lines.push_back(decodeItem(payload + offset));
  } else if (s.kind == ScreenKind::Text7) {
    // Slots 0 and 1 use the first style, slots 2 and 3 the second.
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t style = i / 2;
      TextLine line;
      line.wide = true;
      line.colourA = u16(payload + 12 + 2 * style);
      line.fontType = payload[16 + style];
      line.fontSize = payload[18 + style];
      line.x = u16(payload + 20 + 2 * i);
      line.y = u16(payload + 28 + 2 * i);
      line.text = Bytes(payload + 36 + 16 * i, payload + 52 + 16 * i);
      s.lines.push_back(line);
    }
  } else if (s.kind == ScreenKind::Text8) {
    for (std::size_t i = 0; i < 3; ++i) {
      TextLine line;
      line.wide = true;
      line.colourA = u16(payload + 12 + 2 * i);
      line.fontType = payload[18 + i];
      line.fontSize = payload[21 + i];
      line.x = u16(payload + 24 + 2 * i);
      line.y = u16(payload + 30 + 2 * i);
      line.text = Bytes(payload + 40 + 20 * i, payload + 60 + 20 * i);
      s.lines.push_back(line);
    }
  }
  return s;
}

}  // namespace

const char* toString(ScreenKind kind) {
  switch (kind) {
    case ScreenKind::None: return "None";
    case ScreenKind::Flag: return "Flag";
    case ScreenKind::Picture: return "Picture";
    case ScreenKind::Position: return "Position";
    case ScreenKind::Passing: return "Passing";
    case ScreenKind::Text0: return "Text0";
    case ScreenKind::Text7: return "Text7";
    case ScreenKind::Text8: return "Text8";
    case ScreenKind::Other: return "Other";
  }
  return "?";
}

std::string TextLine::str() const {
  std::string out;
  if (!wide) {
    for (std::uint8_t b : text) {
      if (b == 0) break;
      out.push_back(static_cast<char>(b));
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const std::uint16_t unit = u16(text.data() + i);
    if (unit == 0) break;
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return out;
}

std::string Screen::joinedText(std::size_t first, std::size_t count) const {
  std::string out;
  for (std::size_t i = first; i < first + count && i < lines.size(); ++i) {
    const std::string part = lines[i].str();
    out += part;
    // A part shorter than its slot ended the text.
    const std::size_t unitSize = lines[i].wide ? 2 : 1;
    if (part.size() * unitSize < lines[i].text.size()) break;
  }
  return out;
}

std::string PanelState::line(int index) const {
  const Bytes& b = lines.at(static_cast<std::size_t>(index));
  return std::string(b.begin(), b.end());
}

std::uint16_t payloadU16(const Frame& frame, std::size_t offset) {
  return u16(frame.data() + kPayloadOffset + offset);
}

std::uint32_t payloadU32(const Frame& frame, std::size_t offset) {
  return u32(frame.data() + kPayloadOffset + offset);
}

Frame makeAck(std::uint32_t displayNumber, std::uint16_t frameAddress, std::uint8_t msgId) {
  Frame f{};
  f[0] = 2;
  put16(f.data() + 4, frameAddress);
  std::uint8_t* p = f.data() + kPayloadOffset;
  put32(p, displayNumber);
  p[4] = msgId;
  p[6] = 0;  // reply kind: acknowledgement
  return f;
}

Frame makeEvent(std::uint8_t seq, std::uint32_t code, std::uint16_t address) {
  Frame f{};
  f[0] = 2;
  std::uint8_t* p = f.data() + kPayloadOffset;
  p[5] = seq;
  p[6] = kReplyKindEvent;
  put32(p + 24, code);
  put16(p + 28, address);
  return f;
}

Frame makePanelEvent(std::uint8_t seq) { return makeEvent(seq, kPanelCode, 0); }

StationModel::StationModel() = default;

void StationModel::addDisplay(std::uint32_t number) {
  addDisplay(number, static_cast<std::uint16_t>((number % 100000u) & 0xFFFFu));
}

void StationModel::addDisplay(std::uint32_t number, std::uint16_t address) {
  std::lock_guard lock(mutex_);
  Display d;
  d.state.number = number;
  d.state.address = address;
  displays_[number] = d;
}

bool StationModel::hasDisplay(std::uint32_t number) const {
  std::lock_guard lock(mutex_);
  return displays_.count(number) != 0;
}

DisplayState StationModel::display(std::uint32_t number) const {
  std::lock_guard lock(mutex_);
  auto it = displays_.find(number);
  if (it == displays_.end()) throw std::out_of_range("no display " + std::to_string(number));
  return it->second.state;
}

std::vector<std::uint32_t> StationModel::displayNumbers() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> out;
  for (const auto& [number, d] : displays_) out.push_back(number);
  return out;
}

void StationModel::setSilent(std::uint32_t number, bool silent) {
  std::lock_guard lock(mutex_);
  displays_.at(number).silent = silent;
}

void StationModel::setAckDelay(std::uint32_t number, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  displays_.at(number).delay = delay;
}

void StationModel::missAcks(std::uint32_t number, int count) {
  std::lock_guard lock(mutex_);
  displays_.at(number).toMiss = count;
}

void StationModel::receive(const Frame& frame, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  recordLocked(ReceivedFrame{frame, kFrameSize, now});
  if (frame[0] == 2) decodeLocked(frame, now);
}

void StationModel::receive(const Bytes& bytes, Clock::time_point now) {
  if (bytes.size() == kFrameSize) {
    Frame f;
    std::copy(bytes.begin(), bytes.end(), f.begin());
    receive(f, now);
    return;
  }
  std::lock_guard lock(mutex_);
  ReceivedFrame r;
  r.length = bytes.size();
  std::copy_n(bytes.begin(), std::min(bytes.size(), kFrameSize), r.bytes.begin());
  r.at = now;
  recordLocked(r);
}

void StationModel::recordLocked(const ReceivedFrame& frame) {
  frames_.push_back(frame);
  ++framesTotal_;
  if (frames_.size() > kFrameLimit) frames_.pop_front();
}

void StationModel::decodePanelLocked(const Frame& frame) {
  const std::uint8_t* p = frame.data() + kPayloadOffset;
  const bool panelData = u16(p) == 2 && p[6] == kReplyKindEvent && u32(p + 24) == kPanelCode;
  if (!panelData) {
    ++panel_.ackCount;
    return;
  }
  panel_.seq = p[5];
  for (std::size_t i = 0; i < 4; ++i) {
    panel_.lines[i] = bytesUpToZero(p + 28 + 16 * i, 16);
    panel_.settingA[i] = p[92 + i];
    panel_.settingB[i] = p[96 + i];
  }
  ++panel_.frameCount;
}

void StationModel::decodeLocked(const Frame& frame, Clock::time_point now) {
  const std::uint16_t address = static_cast<std::uint16_t>(frame[4] | (frame[5] << 8));
  const std::uint8_t* p = frame.data() + kPayloadOffset;
  if (address == kPanelFrameAddress && p[6] == kReplyKindEvent) {
    decodePanelLocked(frame);
    return;
  }
  // Every display that listens to the address takes the frame and answers
  // it, in order of display number.
  for (auto& [number, d] : displays_) {
    if (d.state.address != address) continue;
    DisplayState& st = d.state;
    ++st.frameCount;
    st.lastMsgId = p[3];
    if (p[2] == 5)
      st.rpmLimit = u16(p + 4);
    else
      st.screen = decodeScreen(p);

    if (d.silent) continue;
    if (d.toMiss > 0) {
      --d.toMiss;
      continue;
    }
    const Frame ack = makeAck(st.number, st.address, st.lastMsgId);
    replies_.push_back(Reply{kEndpointReplies, Bytes(ack.begin(), ack.end()), now + d.delay});
  }
}

std::vector<ReceivedFrame> StationModel::frames() const {
  std::lock_guard lock(mutex_);
  return {frames_.begin(), frames_.end()};
}

std::size_t StationModel::frameCount() const {
  std::lock_guard lock(mutex_);
  return framesTotal_;
}

std::optional<ReceivedFrame> StationModel::lastFrame() const {
  std::lock_guard lock(mutex_);
  if (frames_.empty()) return std::nullopt;
  return frames_.back();
}

void StationModel::clearFrames() {
  std::lock_guard lock(mutex_);
  frames_.clear();
  framesTotal_ = 0;
}

PanelState StationModel::panel() const {
  std::lock_guard lock(mutex_);
  return panel_;
}

void StationModel::queueEvent(std::uint8_t seq, std::uint32_t code, std::uint16_t address,
                              std::uint8_t endpoint) {
  queueRaw(endpoint, makeEvent(seq, code, address));
}

void StationModel::queuePanelEvent(std::uint8_t seq, std::uint8_t endpoint) {
  queueRaw(endpoint, makePanelEvent(seq));
}

void StationModel::queueRaw(std::uint8_t endpoint, const Frame& frame, std::chrono::milliseconds delay) {
  queueRaw(endpoint, Bytes(frame.begin(), frame.end()), delay);
}

void StationModel::queueRaw(std::uint8_t endpoint, const Bytes& bytes, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  replies_.push_back(Reply{endpoint, bytes, Clock::now() + delay});
}

std::optional<Bytes> StationModel::takeReply(std::uint8_t endpoint, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(replies_.begin(), replies_.end(),
                         [&](const Reply& r) { return r.endpoint == endpoint && r.due <= now; });
  if (it == replies_.end()) return std::nullopt;
  Bytes out = std::move(it->bytes);
  replies_.erase(it);
  return out;
}

std::size_t StationModel::pendingReplies(std::uint8_t endpoint) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(replies_.begin(), replies_.end(), [&](const Reply& r) { return r.endpoint == endpoint; }));
}

void StationModel::clearReplies() {
  std::lock_guard lock(mutex_);
  replies_.clear();
}

}  // namespace vesksim
