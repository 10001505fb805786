#include "bus_station.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vesksim {

std::uint16_t modbusCRC(const std::uint8_t* bytes, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ bytes[i]);
    for (int bit = 0; bit < 8; ++bit) {
      const bool low = crc & 1;
      crc = static_cast<std::uint16_t>(crc >> 1);
      if (low) crc = static_cast<std::uint16_t>(crc ^ 0xA001);
    }
  }
  return crc;
}

namespace {

// The message's last two bytes hold the CRC of the rest, low byte first.
bool crcMatches(const std::uint8_t* bytes, std::size_t size) {
  const std::uint16_t crc = modbusCRC(bytes, size - 2);
  return bytes[size - 2] == (crc & 0xFF) && bytes[size - 1] == (crc >> 8);
}

void putCRC(Bytes& bytes) {
  const std::uint16_t crc = modbusCRC(bytes.data(), bytes.size() - 2);
  bytes[bytes.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
  bytes[bytes.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

void BusStation::setAnswer(BusAnswer answer) {
  std::lock_guard lock(line_.mutex_);
  answer_ = answer;
}

std::vector<BusFrameSeen> BusStation::frames() const {
  std::lock_guard lock(line_.mutex_);
  return frames_;
}

std::size_t BusStation::readRequests() const {
  std::lock_guard lock(line_.mutex_);
  return requests_;
}

std::size_t BusStation::badFrames() const {
  std::lock_guard lock(line_.mutex_);
  return bad_;
}

BusLine::BusLine() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  int wake[2];
  if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    ::close(master_);
    ::close(slave_);
    throw std::runtime_error("pipe failed");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  reader_ = std::thread([this] { run(); });
}

BusLine::~BusLine() {
  stop_ = true;
  const char b = 0;
  (void)!::write(wakeWrite_, &b, 1);
  reader_.join();
  closeMasterLocked();
  ::close(slave_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

BusStation& BusLine::addStation(std::uint8_t address) {
  std::lock_guard lock(mutex_);
  auto& slot = stations_[address];
  if (!slot) slot.reset(new BusStation(*this, address));
  return *slot;
}

BusStation& BusLine::station(std::uint8_t address) {
  std::lock_guard lock(mutex_);
  return *stations_.at(address);
}

void BusLine::useAsCom(int n) const {
  ::setenv(("VESKLINK_COM" + std::to_string(n)).c_str(), slavePath_.c_str(), 1);
}

std::vector<WireMessage> BusLine::wire() const {
  std::lock_guard lock(mutex_);
  return wire_;
}

std::size_t BusLine::badMessages() const {
  std::lock_guard lock(mutex_);
  return bad_;
}

void BusLine::clearRecord() {
  std::lock_guard lock(mutex_);
  wire_.clear();
  bad_ = 0;
  for (auto& [address, station] : stations_) {
    station->frames_.clear();
    station->requests_ = 0;
    station->bad_ = 0;
  }
}

void BusLine::hangUp() {
  // The reader may be polling the master: only between its polls is it safe
  // to close, so take the lock (the reader polls without it) and wake it.
  std::lock_guard lock(mutex_);
  closeMasterLocked();
  const char b = 0;
  (void)!::write(wakeWrite_, &b, 1);
}

void BusLine::hangUpAfterFrames(std::size_t frames) {
  std::lock_guard lock(mutex_);
  hangUpAfter_ = frames;
}

void BusLine::inject(const Bytes& bytes) {
  std::lock_guard lock(mutex_);
  if (master_ >= 0) (void)!::write(master_, bytes.data(), bytes.size());
}

void BusLine::closeMasterLocked() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void BusLine::run() {
  while (!stop_) {
    int timeoutMs = 100;
    int fd = -1;
    {
      std::lock_guard lock(mutex_);
      fd = master_;
      const auto now = Clock::now();
      for (const auto& p : pending_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(p.due - now).count();
        timeoutMs = std::clamp(static_cast<int>(left), 0, timeoutMs);
      }
    }
    // A master closed by hangUp() while we poll it is only ever closed under
    // the lock and followed by a wake-up, and a recycled descriptor number is
    // never read: every read below rechecks master_ under the lock.
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    ::poll(fds, 2, timeoutMs);
    char drain[64];
    while (::read(wakeRead_, drain, sizeof drain) > 0) {
    }
    std::lock_guard lock(mutex_);
    if (master_ < 0 || master_ != fd) {
      pending_.clear();
      input_.clear();
      continue;
    }
    std::uint8_t chunk[1024];
    for (;;) {
      const ssize_t n = ::read(master_, chunk, sizeof chunk);
      if (n <= 0) break;
      input_.insert(input_.end(), chunk, chunk + n);
    }
    const auto now = Clock::now();
    handleInputLocked(now);
    for (auto it = pending_.begin(); master_ >= 0 && it != pending_.end();) {
      if (it->due <= now) {
        (void)!::write(master_, it->bytes.data(), it->bytes.size());
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void BusLine::handleInputLocked(Clock::time_point now) {
  while (master_ >= 0 && input_.size() >= 2) {
    const std::uint8_t address = input_[0];
    const std::uint8_t marker = input_[1];
    const auto found = stations_.find(address);
    BusStation* station = found == stations_.end() ? nullptr : found->second.get();
    if (marker == kBusFrameMarker) {
      if (input_.size() < kBusFrameSize) return;
      const bool good = crcMatches(input_.data(), kBusFrameSize);
      wire_.push_back({good ? WireMessage::Kind::BusFrame : WireMessage::Kind::Bad, address, now});
      if (!good) {
        ++bad_;
        if (station) ++station->bad_;
      } else if (station) {
        BusFrameSeen seen{{}, now};
        std::copy_n(input_.begin() + 4, kFrameSize, seen.frame.begin());
        station->frames_.push_back(seen);
        station->model_.receive(seen.frame, now);
      }
      input_.erase(input_.begin(), input_.begin() + kBusFrameSize);
      if (good && hangUpAfter_ > 0 && --hangUpAfter_ == 0) closeMasterLocked();
    } else if (marker == kBusRequestMarker) {
      if (input_.size() < kBusRequestSize) return;
      const bool good = crcMatches(input_.data(), kBusRequestSize);
      wire_.push_back({good ? WireMessage::Kind::Request : WireMessage::Kind::Bad, address, now});
      input_.erase(input_.begin(), input_.begin() + kBusRequestSize);
      if (!good) {
        ++bad_;
      } else if (station) {
        ++station->requests_;
        answerLocked(*station, now);
      }
    } else {
      // Out of step: drop a byte and look for the next message.
      wire_.push_back({WireMessage::Kind::Bad, address, now});
      ++bad_;
      input_.erase(input_.begin());
    }
  }
}

void BusLine::answerLocked(BusStation& station, Clock::time_point now) {
  if (station.answer_ == BusAnswer::Silent) return;
  const auto reply = station.model_.takeReply(kEndpointReplies, now);
  if (!reply) return;
  Bytes answer(kBusFrameSize, 0);
  answer[0] = station.address_;
  answer[1] = kBusRequestMarker;
  std::copy_n(reply->begin(), std::min(reply->size(), kFrameSize), answer.begin() + 4);
  putCRC(answer);
  Clock::time_point due = now;
  switch (station.answer_) {
    case BusAnswer::Short:
      answer.pop_back();
      break;
    case BusAnswer::BadCrc:
      answer[kBusFrameSize - 1] ^= 0xFF;
      answer[kBusFrameSize - 2] ^= 0xFF;
      break;
    case BusAnswer::Late:
      due = now + kLateAnswer;
      break;
    default:
      break;
  }
  pending_.push_back({due, std::move(answer)});
}

}  // namespace vesksim
