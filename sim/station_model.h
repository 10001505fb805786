// The simulated base station and its displays, without any I/O.
//
// The model is the far side of the USB wire: it takes the 128-byte device
// frames that the host writes to bulk endpoint 5, decodes them on its own
// (it shares no code with the library that builds them), keeps what each
// display shows, and queues the frames that the station hands back on the
// bulk IN endpoints 0x82 (acknowledgements and events) and 0x83 (panel
// events). The USB adapter (usb_station.h) drives it from umockdev's ioctl
// thread while a test inspects it from its own thread, so every public
// member takes the model's mutex.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vesksim {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kFrameSize = 128;
inline constexpr std::size_t kPayloadOffset = 28;  // payload = frame bytes 28..127
inline constexpr std::size_t kPayloadSize = 100;
inline constexpr std::uint8_t kEndpointOut = 0x05;
inline constexpr std::uint8_t kEndpointReplies = 0x82;
inline constexpr std::uint8_t kEndpointPanel = 0x83;
inline constexpr std::uint16_t kPanelFrameAddress = 1;

using Frame = std::array<std::uint8_t, kFrameSize>;
using Bytes = std::vector<std::uint8_t>;

// What a display shows, as far as the frame's header and body tell it.
enum class ScreenKind {
  None,      // nothing received yet
  Flag,      // layout 0, screen flags 0x3A: a flag (or a picture marked as one)
  Picture,   // layout 0, screen flags 0x1A, empty body
  Position,  // layout 0, screen flags 0x1E: the position screen
  Passing,   // layout 0, screen flags 0x1A with a position record / the passing texts
  Text0,     // layout 0: up to three text items (screen flags 0x18 or 0x1A)
  Text7,     // layout 7: four slots, two styles
  Text8,     // layout 8: three lines, each with its own style
  Other,     // a layout or flags word that none of the above explains
};

const char* toString(ScreenKind kind);

// One line of text as a display places it. Fields that a layout does not
// carry stay 0: layout 0 has attribute and two colours per item, layouts 7
// and 8 have one colour, a font type and a font size per line.
struct TextLine {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t attribute = 0;  // layout 0 text attribute word
  Bytes text;                   // raw bytes as the frame holds them
  std::uint16_t colourA = 0;    // RGB565 word
  std::uint16_t colourB = 0;    // RGB565 word (layout 0 only)
  std::uint8_t fontType = 0;
  std::uint8_t fontSize = 0;
  bool wide = false;            // text holds UTF-16LE units (layouts 7 and 8)

  // Layout 0 items and the passing texts: bytes up to the first 0.
  // Layouts 7 and 8: UTF-16LE units up to the first 0 unit, as UTF-8 when
  // they are plain ASCII (each non-ASCII unit becomes '?').
  std::string str() const;
  // The layout 0 attribute word taken apart: bits 0-3 hold the font number
  // up to 15; from 16 on they hold 15 and the high byte the rest.
  int font() const { return (attribute & 0x0F) + (attribute >> 8); }
  bool flagA() const { return (attribute & 0x10) != 0; }
  bool flagB() const { return (attribute & 0x20) != 0; }
  bool operator==(const TextLine&) const = default;
};

// The screen a display shows after its last screen frame.
struct Screen {
  ScreenKind kind = ScreenKind::None;
  std::uint8_t layout = 0;
  std::uint8_t msgId = 0;
  std::uint16_t picture = 0;      // flag picture code, picture, background
  std::uint16_t screenFlags = 0;
  std::uint16_t timeBack = 0;
  // Position record (payload bytes 10..19) of the position and passing screens.
  std::uint16_t time = 0;
  std::int16_t gap = 0;
  std::uint8_t position = 0;
  std::uint32_t value = 0;
  // Layout 0: the three items, empty ones included (all fields 0).
  // Layout 7: four slots. Layout 8: three lines.
  std::vector<TextLine> lines;

  // The text of `count` lines from `first` on, joined: a line of
  // sendMessage2 spans two slots of layout 7 (slots 0+1 and 2+3).
  std::string joinedText(std::size_t first, std::size_t count) const;
};

struct DisplayState {
  std::uint32_t number = 0;   // the number the display acknowledges with
  std::uint16_t address = 0;  // the frame address it listens to
  Screen screen;
  std::optional<std::uint16_t> rpmLimit;  // last layout 5 frame
  std::uint8_t lastMsgId = 0;             // of any frame addressed to it
  std::size_t frameCount = 0;             // frames addressed to it
};

// The remote-control panel: four lines and two setting bytes per line. A
// frame to address 1 with reply kind 0xFF is panel data when its payload
// addr is 2 and its code bytes 24..27 are 0, 0x37, 0, 0; any other such
// frame counts as an event acknowledged back (ackCount). The raw frames are
// in frames() either way.
struct PanelState {
  std::array<Bytes, 4> lines;  // bytes up to the first 0 of each 16-byte field
  std::array<std::uint8_t, 4> settingA{};
  std::array<std::uint8_t, 4> settingB{};
  std::uint8_t seq = 0;
  std::size_t frameCount = 0;  // panel data frames received
  std::size_t ackCount = 0;    // event acknowledgements written back to address 1
  std::string line(int index) const;  // lines[index] as text
};

// Every frame written to the station, in order of arrival.
struct ReceivedFrame {
  Frame bytes{};                    // zero-padded when fewer bytes came
  std::size_t length = kFrameSize;  // bytes the host actually wrote
  Clock::time_point at;
  std::uint16_t address() const { return static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8)); }
  const std::uint8_t* payload() const { return bytes.data() + kPayloadOffset; }
};

// Little-endian field access on a frame's payload, for tests and the model.
std::uint16_t payloadU16(const Frame& frame, std::size_t offset);
std::uint32_t payloadU32(const Frame& frame, std::size_t offset);

// Reply frames as the station builds them (byte 0 = 2, payload at byte 28).
Frame makeAck(std::uint32_t displayNumber, std::uint16_t frameAddress, std::uint8_t msgId);
Frame makeEvent(std::uint8_t seq, std::uint32_t code, std::uint16_t address);
Frame makePanelEvent(std::uint8_t seq);  // event code bytes 0, 0x37, 0, 0

class StationModel {
 public:
  StationModel();
  StationModel(const StationModel&) = delete;
  StationModel& operator=(const StationModel&) = delete;

  // Displays. The default address is (number % 100000) & 0xFFFF, the same
  // address the bridge derives from a serial number. Adding a number twice
  // replaces its options and state. Displays that share an address all take
  // its frames and all answer them.
  void addDisplay(std::uint32_t number);
  void addDisplay(std::uint32_t number, std::uint16_t address);
  bool hasDisplay(std::uint32_t number) const;
  DisplayState display(std::uint32_t number) const;  // a copy; throws std::out_of_range
  std::vector<std::uint32_t> displayNumbers() const;

  // Per-display behaviour of the acknowledgements.
  void setSilent(std::uint32_t number, bool silent = true);  // never answers
  void setAckDelay(std::uint32_t number, std::chrono::milliseconds delay);
  void missAcks(std::uint32_t number, int count);  // drops the next `count` acks

  // The host's side: one frame written to endpoint 5. Frames of any length
  // are recorded; only full 128-byte frames with byte 0 = 2 are decoded.
  void receive(const Bytes& frame, Clock::time_point now = Clock::now());
  void receive(const Frame& frame, Clock::time_point now = Clock::now());

  std::vector<ReceivedFrame> frames() const;  // a copy, in order: the latest 100000
  std::size_t frameCount() const;             // every frame since the start or clearFrames()
  std::optional<ReceivedFrame> lastFrame() const;
  void clearFrames();
  PanelState panel() const;

  // Replies waiting for the host. Each is due at the time given; `takeReply`
  // hands out the first reply in queue order for that endpoint that is due.
  void queueEvent(std::uint8_t seq, std::uint32_t code, std::uint16_t address,
                  std::uint8_t endpoint = kEndpointReplies);
  void queuePanelEvent(std::uint8_t seq, std::uint8_t endpoint = kEndpointPanel);
  void queueRaw(std::uint8_t endpoint, const Bytes& bytes,
                std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  void queueRaw(std::uint8_t endpoint, const Frame& frame,
                std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  std::optional<Bytes> takeReply(std::uint8_t endpoint, Clock::time_point now = Clock::now());
  std::size_t pendingReplies(std::uint8_t endpoint) const;  // due or not
  void clearReplies();

 private:
  struct Display {
    DisplayState state;
    bool silent = false;
    std::chrono::milliseconds delay{0};
    int toMiss = 0;
  };
  struct Reply {
    std::uint8_t endpoint;
    Bytes bytes;
    Clock::time_point due;
  };

  void decodeLocked(const Frame& frame, Clock::time_point now);
  void decodePanelLocked(const Frame& frame);

  mutable std::mutex mutex_;
  std::map<std::uint32_t, Display> displays_;
  static constexpr std::size_t kFrameLimit = 100000;
  void recordLocked(const ReceivedFrame& frame);
  std::deque<ReceivedFrame> frames_;  // the latest kFrameLimit
  std::size_t framesTotal_ = 0;
  std::vector<Reply> replies_;
  PanelState panel_;
};

}  // namespace vesksim
