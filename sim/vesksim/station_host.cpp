#include "station_host.h"

#include <algorithm>
#include <stdexcept>

namespace vesksim {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

StationHost::StationHost(StationOptions options) : options_(std::move(options)) {
  bed_ = std::make_unique<UsbTestbed>();
  station_ = &bed_->addStation();
  for (std::uint32_t n : options_.displays) {
    station_->model().addDisplay(n);
    byAddress_[station_->model().display(n).address] = n;
  }
  for (std::uint32_t n : options_.silent) station_->model().setSilent(n);
  for (const auto& [n, delay] : options_.late) station_->model().setAckDelay(n, delay);
  for (const auto& m : options_.misses) {
    PendingMiss p;
    p.miss = m;
    misses_.push_back(p);
  }
  eventDone_.assign(options_.events.size(), false);
  if (!options_.busStations.empty()) {
    bus_ = std::make_unique<BusLine>();
    for (const auto& [address, numbers] : options_.busStations)
      for (std::uint32_t n : numbers) bus_->addStation(address).model().addDisplay(n);
  }
}

StationHost::~StationHost() = default;

Environment StationHost::childEnvironment() const {
  Environment env = bed_->childEnvironment();
  if (bus_) env.emplace_back("VESKLINK_COM" + std::to_string(options_.com), bus_->slavePath());
  return env;
}

void StationHost::start(Clock::time_point epoch) { epoch_ = epoch; }

void StationHost::tick(Clock::time_point now, bool records) {
  if (epoch_) injectDue(now);
  if (!records) return;
  collectFrames();
  collectAcks();
  judgeLost(now);
}

void StationHost::injectDue(Clock::time_point now) {
  const auto due = [&](double at) {
    return now >= *epoch_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(at));
  };
  StationModel& model = station_->model();
  for (std::size_t i = 0; i < options_.events.size(); ++i) {
    const auto& e = options_.events[i];
    if (eventDone_[i] || !due(e.at)) continue;
    eventDone_[i] = true;
    // Each event takes a sequence number of its own, so that none reads as
    // a repeat of the one before.
    if (e.panel)
      model.queuePanelEvent(eventSeq_++, e.endpoint);
    else
      model.queueEvent(eventSeq_++, e.code, e.address, e.endpoint);
  }
  for (PendingMiss& p : misses_) {
    if (p.done || !model.hasDisplay(p.miss.display)) continue;
    const DisplayState d = model.display(p.miss.display);
    if (!p.armed) {
      if (!due(p.miss.at)) continue;
      p.armed = true;
      p.framesBefore = d.frameCount;
      p.idBefore = d.lastMsgId;
      model.missAcks(p.miss.display, 1);
    } else if (!p.reportAt) {
      if (d.frameCount > p.framesBefore) p.reportAt = now + kReportAfterMiss;
    } else if (now >= *p.reportAt) {
      // The display comes back with the last id it had acknowledged; should
      // the counter have wrapped onto the missed id, another one.
      const std::uint8_t missedId = d.lastMsgId;
      std::uint8_t id = p.idBefore;
      if (id == missedId) id = static_cast<std::uint8_t>(missedId % 254 + 1);
      model.queueRaw(kEndpointReplies, makeAck(d.number, d.address, id));
      p.done = true;
    }
  }
}

void StationHost::collectFrames() {
  StationModel& model = station_->model();
  const std::size_t total = model.frameCount();
  if (total == framesSeen_) return;
  const auto frames = model.frames();
  const std::size_t fresh = std::min(total - framesSeen_, frames.size());
  for (std::size_t i = frames.size() - fresh; i < frames.size(); ++i) {
    const ReceivedFrame& f = frames[i];
    const auto it = byAddress_.find(f.address());
    if (it == byAddress_.end() || f.length != kFrameSize || f.bytes[0] != 2) continue;
    records_.push_back(FrameRecord{f.at, it->second, f.payload()[3], std::nullopt, false});
  }
  framesSeen_ = total;
}

void StationHost::collectAcks() {
  const auto transfers = station_->transfers();
  Clock::time_point cursor = transfers.empty() ? transferCursor_ : transfers.back().submitted + Clock::duration(1);
  for (const WireTransfer& t : transfers) {
    if (t.submitted < transferCursor_ || counted_.count(t.submitted)) continue;
    if (t.outcome == TransferOutcome::Pending) {
      // Looked at again next time, when it may have brought an acknowledgement.
      cursor = std::min(cursor, t.submitted);
      continue;
    }
    if (!t.in || t.endpoint != kEndpointReplies || t.outcome != TransferOutcome::Completed ||
        t.data.size() != kFrameSize || t.data[kPayloadOffset + 6] != 0)
      continue;
    counted_.insert(t.submitted);
    const std::uint32_t number = le32(t.data.data() + kPayloadOffset);
    const std::uint8_t id = t.data[kPayloadOffset + 4];
    ++acks_[number];
    // The latest frame to that display with that id, not yet acknowledged.
    for (auto r = records_.rbegin(); r != records_.rend(); ++r) {
      if (r->display == number && r->msgId == id && !r->ackedAt && r->at <= t.finished) {
        r->ackedAt = t.finished;
        r->lost = false;
        break;
      }
    }
  }
  transferCursor_ = cursor;
  counted_.erase(counted_.begin(), counted_.lower_bound(cursor));
}

void StationHost::judgeLost(Clock::time_point now) {
  for (FrameRecord& r : records_) {
    if (r.ackedAt || r.lost) continue;
    const auto late = options_.late.find(r.display);
    const auto delay = late == options_.late.end() ? std::chrono::milliseconds(0) : late->second;
    if (now - r.at > kLostAfter + delay) r.lost = true;
  }
}

std::vector<DisplayRow> StationHost::rows() const {
  std::vector<DisplayRow> rows;
  for (std::uint32_t n : options_.displays) {
    DisplayRow row;
    row.number = n;
    row.state = station_->model().display(n);
    const auto a = acks_.find(n);
    row.acks = a == acks_.end() ? 0 : a->second;
    const FrameRecord* last = nullptr;
    for (const FrameRecord& r : records_) {
      if (r.display != n) continue;
      last = &r;
      if (r.lost) ++row.lost;
    }
    if (last) row.last = last->ackedAt ? AckState::Acknowledged : last->lost ? AckState::Lost : AckState::Waiting;
    rows.push_back(row);
  }
  if (bus_) {
    for (const auto& [address, numbers] : options_.busStations) {
      for (std::uint32_t n : numbers) {
        DisplayRow row;
        row.number = n;
        row.busAddress = address;
        row.state = bus_->station(address).model().display(n);
        rows.push_back(row);
      }
    }
  }
  return rows;
}

StationTotals StationHost::totals() const {
  StationTotals t;
  t.frames = records_.size();
  for (const FrameRecord& r : records_) {
    if (r.ackedAt) ++t.acknowledged;
    if (r.lost) ++t.lost;
  }
  return t;
}

std::size_t StationHost::waiting() const {
  return static_cast<std::size_t>(
      std::count_if(records_.begin(), records_.end(), [](const FrameRecord& r) { return !r.ackedAt && !r.lost; }));
}

}  // namespace vesksim
