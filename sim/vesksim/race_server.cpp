#include "race_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tcp.h"

namespace vesksim {

namespace {
constexpr auto kHelloWait = std::chrono::seconds(5);
}

std::string printable(const std::string& bytes) {
  const std::string line = formatRaceLine(0, bytes);
  return line.substr(line.find(' ') + 1);
}

RaceServer::RaceServer(RaceFile race, double speed, Log log)
    : race_(std::move(race)), speed_(speed), log_(std::move(log)) {
  sent_.resize(race_.messages.size());
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

RaceServer::~RaceServer() {
  tcp::closeSocket(listener_);
  tcp::closeSocket(wake_[0]);
  tcp::closeSocket(wake_[1]);
}

bool RaceServer::listen(std::uint16_t port, std::string& error) {
  listener_ = tcp::listenLocal(port);
  if (listener_ < 0) {
    error = errno == EADDRINUSE ? "port " + std::to_string(port) + " is in use"
                                : "cannot listen on port " + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  port_ = tcp::localPort(listener_);
  return true;
}

void RaceServer::stop() {
  stopped_ = true;
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
}

std::vector<Clock::time_point> RaceServer::sentTimes() const {
  return std::vector<Clock::time_point>(sent_.begin(), sent_.begin() + static_cast<long>(sentCount_.load()));
}

RaceServer::Wait RaceServer::waitUntil(int client, Clock::time_point due) {
  for (;;) {
    if (stopped_) return Wait::Stopped;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {client, POLLIN, 0}};
    const int timeout = due == Clock::time_point::max() ? -1 : static_cast<int>(std::max<long>(0, left.count() + 1));
    const int n = ::poll(fds, client >= 0 ? 2 : 1, timeout);
    if (stopped_) return Wait::Stopped;
    if (n == 0) {
      if (Clock::now() >= due) return Wait::Due;
      continue;
    }
    if (n < 0) continue;  // a signal: look again
    if (client >= 0 && client == listener_ && (fds[1].revents & POLLIN)) return Wait::Due;
    if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      // What the client says after its hello is not for us; a close or a
      // reset is that it went away.
      char buffer[512];
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0 && !(got < 0 && errno == EINTR)) return Wait::ClientGone;
    }
  }
}

bool RaceServer::takeHello(int client) {
  const std::size_t size = sizeof kHello - 1;
  std::string got;
  bool late = false;
  const auto end = Clock::now() + kHelloWait;
  while (got.size() < size && !stopped_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !tcp::readable(client, left)) {
      late = true;
      break;
    }
    char buffer[size];
    const ssize_t n = ::recv(client, buffer, size - got.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
    if (got != std::string(kHello, got.size())) break;  // wrong already
  }
  if (got == kHello) return true;
  if (stopped_) return false;
  if (got.empty())
    log_(late ? "no hello from the client within 5 s" : "no hello from the client: it closed the connection");
  else
    log_("wrong hello from the client: \"" + printable(got) + "\" (expected " + kHello + ")");
  return false;
}

bool RaceServer::serve(bool hold) {
  const std::size_t total = race_.messages.size();
  std::size_t next = 0;
  bool started = false;
  char length[32];
  std::snprintf(length, sizeof length, "%.1f s", race_.duration() / speed_);
  log_("race server on 127.0.0.1:" + std::to_string(port_) + ", " + std::to_string(total) + " messages in " +
       length + "; waiting for the client");
  while (!stopped_) {
    if (waitUntil(listener_, Clock::time_point::max()) == Wait::Stopped) break;
    int client = tcp::acceptClient(listener_);
    if (client < 0) continue;
    if (!takeHello(client)) {
      tcp::closeSocket(client);
      continue;
    }
    const auto now = Clock::now();
    if (!started) {
      started = true;
      if (onStart) onStart(now);
      log_("client connected, hello checked: the race starts");
    } else {
      log_("client back at message " + std::to_string(next + 1) + " of " + std::to_string(total));
    }
    // The race clock stands still while nobody listens: it goes on from the
    // last message that went out.
    const double resumeAt = next == 0 ? 0 : race_.messages[next - 1].at;
    const auto base = now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(resumeAt / speed_));
    bool gone = false;
    while (next < total) {
      const auto due = base + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(race_.messages[next].at / speed_));
      const Wait w = waitUntil(client, due);
      if (w == Wait::Stopped) {
        tcp::closeSocket(client);
        return false;
      }
      if (w == Wait::ClientGone || !tcp::sendAll(client, race_.messages[next].bytes)) {
        gone = true;
        break;
      }
      sent_[next] = Clock::now();
      sentCount_ = ++next;
    }
    if (gone) {
      log_("the client went away after " + std::to_string(next) + " of " + std::to_string(total) +
           " messages; waiting for it to come back");
      tcp::closeSocket(client);
      continue;
    }
    log_("all " + std::to_string(total) + " messages sent");
    if (hold) waitUntil(client, Clock::time_point::max());
    tcp::closeSocket(client);
    return true;
  }
  return false;
}

}  // namespace vesksim
