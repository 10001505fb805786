// The simulated base station that vesksim hosts for a child program: the
// umockdev testbed with one USB station and its displays, optional bus
// stations on a pseudo-terminal, the timed events and missed
// acknowledgements of StationOptions, and the record of every frame and
// acknowledgement that the live view and the figures read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "run_options.h"
#include "sim/bus_station.h"
#include "sim/station_model.h"
#include "sim/usb_station.h"

namespace vesksim {

// A frame that reached a display, and whether the display's acknowledgement
// reached the host.
struct FrameRecord {
  Clock::time_point at;
  std::uint32_t display = 0;
  std::uint8_t msgId = 0;
  std::optional<Clock::time_point> ackedAt;
  bool lost = false;  // no acknowledgement within kLostAfter (plus the display's delay)
};

enum class AckState { None, Waiting, Acknowledged, Lost };

struct DisplayRow {
  std::uint32_t number = 0;
  std::uint8_t busAddress = 0;  // 0: on the USB station
  DisplayState state;
  AckState last = AckState::None;  // of the last frame it took
  std::size_t acks = 0;            // acknowledgements handed to the host
  std::size_t lost = 0;
};

struct StationTotals {
  std::size_t frames = 0;        // frames that reached a display
  std::size_t acknowledged = 0;  // of them, acknowledged to the host
  std::size_t lost = 0;
};

inline constexpr std::chrono::seconds kLostAfter{5};
// More than the bridge's 8 s, counted in whole seconds.
inline constexpr std::chrono::milliseconds kReportAfterMiss{9500};

class StationHost {
 public:
  explicit StationHost(StationOptions options);  // throws std::runtime_error
  ~StationHost();
  StationHost(const StationHost&) = delete;
  StationHost& operator=(const StationHost&) = delete;

  // UMOCKDEV_DIR, LD_PRELOAD and, with bus stations, VESKLINK_COM<n>.
  Environment childEnvironment() const;
  // Times of events and misses count from here.
  void start(Clock::time_point epoch);
  bool started() const { return epoch_.has_value(); }
  // Injects what is due and, with `records`, brings the records of frames
  // and acknowledgements up to date (which reads the whole wire record).
  void tick(Clock::time_point now = Clock::now(), bool records = true);

  std::vector<DisplayRow> rows() const;
  StationTotals totals() const;
  std::size_t waiting() const;  // frames neither acknowledged nor lost yet
  const std::vector<FrameRecord>& frames() const { return records_; }
  const StationOptions& options() const { return options_; }

 private:
  struct PendingMiss {
    StationOptions::Miss miss;
    bool armed = false;
    std::size_t framesBefore = 0;
    std::uint8_t idBefore = 0;
    std::optional<Clock::time_point> reportAt;
    bool done = false;
  };

  void injectDue(Clock::time_point now);
  void collectFrames();
  void collectAcks();
  void judgeLost(Clock::time_point now);

  StationOptions options_;
  std::unique_ptr<UsbTestbed> bed_;
  UsbStation* station_ = nullptr;
  std::unique_ptr<BusLine> bus_;
  std::optional<Clock::time_point> epoch_;
  std::vector<bool> eventDone_;
  std::vector<PendingMiss> misses_;
  std::uint8_t eventSeq_ = 0;

  std::map<std::uint16_t, std::uint32_t> byAddress_;
  std::vector<FrameRecord> records_;
  std::size_t framesSeen_ = 0;
  // Transfers before the cursor are done with; those after it that were
  // already counted are remembered, since a pending one holds the cursor back.
  Clock::time_point transferCursor_{};
  std::set<Clock::time_point> counted_;
  std::map<std::uint32_t, std::size_t> acks_;
};

}  // namespace vesksim
