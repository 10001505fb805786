// A race server on 127.0.0.1 that plays a race file to one client at a
// time: it waits for the client's hello, checks it, and sends each message
// at its time (divided by the speed). A wrong hello is reported and the
// connection closed; a client that goes away is reported and waited for,
// and the race goes on where it stopped when a client is back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "race_file.h"
#include "sim/station_model.h"

namespace vesksim {

inline constexpr char kHello[] = "{\"type\":10}";

class RaceServer {
 public:
  using Log = std::function<void(const std::string&)>;

  RaceServer(RaceFile race, double speed, Log log);
  ~RaceServer();
  RaceServer(const RaceServer&) = delete;
  RaceServer& operator=(const RaceServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port); false with `error`.
  bool listen(std::uint16_t port, std::string& error);
  std::uint16_t port() const { return port_; }

  // Plays the race. Returns true when every message was sent, false when
  // stop() ended it first. With `hold` it then keeps the connection open
  // until stop() or until the client goes.
  bool serve(bool hold = false);
  void stop();  // from any thread or a signal handler

  // When each message went out (steady clock), by index; the race's start
  // is the time of the first good hello.
  std::vector<Clock::time_point> sentTimes() const;
  std::function<void(Clock::time_point)> onStart;  // called once, at the first good hello

 private:
  enum class Wait { Due, Stopped, ClientGone };
  Wait waitUntil(int client, Clock::time_point due);
  bool takeHello(int client);

  RaceFile race_;
  double speed_;
  Log log_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopped_{false};
  mutable std::atomic<std::size_t> sentCount_{0};
  std::vector<Clock::time_point> sent_;
};

// Bytes as they would stand in a race file (for reports).
std::string printable(const std::string& bytes);

}  // namespace vesksim
