// Simulated bus stations on the master side of a real pseudo-terminal pair.
//
// A BusLine is one serial bus: the host (the library) opens the slave side as
// its serial port (useAsCom), the stations listen on the master side. A reader
// thread splits what the host writes into bus frames (address, 'G', 0, 0, the
// 128-byte device frame, 0, 0, CRC-16/MODBUS low byte first) and read requests
// (address, 'F', CRC), checks marker and CRC, hands each good frame to the
// addressed station's StationModel and answers each good read request with the
// station's next reply (its acknowledgements and queued events, endpoint 0x82
// of the model): bytes 4 to 131 of a 136-byte answer. A station with nothing
// to say stays silent. Anything that does not parse is counted, not answered.
//
// Every public member may be called from the test's thread while the reader
// runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station_model.h"

namespace vesksim {

inline constexpr std::size_t kBusFrameSize = 136;
inline constexpr std::size_t kBusRequestSize = 4;
inline constexpr std::uint8_t kBusFrameMarker = 0x47;    // 'G'
inline constexpr std::uint8_t kBusRequestMarker = 0x46;  // 'F'

// CRC-16/MODBUS as the stations check it (their own copy, not the library's).
std::uint16_t modbusCRC(const std::uint8_t* bytes, std::size_t count);

// How a station answers a read request for which it has a reply.
enum class BusAnswer {
  Normal,    // 136 bytes at once
  Silent,    // nothing (the reply stays queued)
  Short,     // only the first 135 bytes
  Late,      // 136 bytes, but only after kLateAnswer
  BadCrc,    // 136 bytes whose CRC is wrong
};
inline constexpr std::chrono::milliseconds kLateAnswer{100};  // well after the host's 30 ms window

// One bus frame that a station took: the device frame and when it came.
struct BusFrameSeen {
  Frame frame{};
  Clock::time_point at;
};

// One message on the wire, in the order the host wrote them.
struct WireMessage {
  enum class Kind { BusFrame, Request, Bad } kind = Kind::Bad;
  std::uint8_t address = 0;
  Clock::time_point at;  // when its last byte came
};

class BusLine;

class BusStation {
 public:
  std::uint8_t address() const { return address_; }
  StationModel& model() { return model_; }

  void setAnswer(BusAnswer answer);
  // Good bus frames addressed to this station, in order.
  std::vector<BusFrameSeen> frames() const;
  std::size_t readRequests() const;  // good ones
  std::size_t badFrames() const;     // bus frames to this address with a wrong CRC

 private:
  friend class BusLine;
  BusStation(BusLine& line, std::uint8_t address) : line_(line), address_(address) {}
  BusLine& line_;
  const std::uint8_t address_;
  StationModel model_;
  // Guarded by the line's mutex.
  BusAnswer answer_ = BusAnswer::Normal;
  std::vector<BusFrameSeen> frames_;
  std::size_t requests_ = 0;
  std::size_t bad_ = 0;
};

class BusLine {
 public:
  BusLine();  // throws std::runtime_error when no pseudo-terminal can be had
  ~BusLine();
  BusLine(const BusLine&) = delete;
  BusLine& operator=(const BusLine&) = delete;

  // A station listening under the bus address (1 to 255); adding an address
  // twice returns the station already there.
  BusStation& addStation(std::uint8_t address);
  BusStation& station(std::uint8_t address);

  const std::string& slavePath() const { return slavePath_; }
  // Makes "COM<n>" name this line for the library (VESKLINK_COM<n>).
  void useAsCom(int n) const;

  std::vector<WireMessage> wire() const;
  std::size_t badMessages() const;  // unparsable bytes, wrong CRCs, for any address
  void clearRecord();               // forgets wire and station records

  // Pulls the line away: the master side is closed, the host sees a hang-up.
  // hangUpAfterFrames closes it as soon as that many more bus frames came.
  void hangUp();
  void hangUpAfterFrames(std::size_t frames);

  // Writes raw bytes to the host now, as a station speaking out of turn.
  void inject(const Bytes& bytes);

 private:
  friend class BusStation;
  struct Pending {
    Clock::time_point due;
    Bytes bytes;
  };

  void run();
  void handleInputLocked(Clock::time_point now);
  void answerLocked(BusStation& station, Clock::time_point now);
  void closeMasterLocked();

  mutable std::mutex mutex_;
  int master_ = -1;
  int slave_ = -1;  // kept open so that the line lives between host opens
  std::string slavePath_;
  Bytes input_;
  std::vector<Pending> pending_;
  std::vector<WireMessage> wire_;
  std::size_t bad_ = 0;
  std::size_t hangUpAfter_ = 0;  // 0: never
  std::map<std::uint8_t, std::unique_ptr<BusStation>> stations_;
  std::atomic<bool> stop_{false};
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::thread reader_;
};

}  // namespace vesksim
