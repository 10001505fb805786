#include "recorder.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

#include "race_file.h"
#include "tcp.h"

namespace vesksim {

int runRecorder(const RecordOptions& options, const Report& log, const Report& fail) {
  std::ofstream out(options.file, std::ios::binary | std::ios::trunc);
  if (!out) {
    fail("cannot write " + options.file + ": " + std::strerror(errno));
    return 1;
  }
  int listener = tcp::listenLocal(options.listenPort);
  if (listener < 0) {
    fail(errno == EADDRINUSE ? "port " + std::to_string(options.listenPort) + " is in use"
                            : std::string("cannot listen: ") + std::strerror(errno));
    return 1;
  }
  const std::string server = options.serverHost + ":" + std::to_string(options.serverPort);
  log("recording: waiting for the bridge on 127.0.0.1:" + std::to_string(tcp::localPort(listener)));
  int client = tcp::acceptClient(listener);
  tcp::closeSocket(listener);
  if (client < 0) {
    fail(std::string("accept failed: ") + std::strerror(errno));
    return 1;
  }
  int upstream = tcp::connectTo(options.serverHost, options.serverPort);
  if (upstream < 0) {
    fail("cannot connect to " + server + ": " + std::strerror(errno));
    tcp::closeSocket(client);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::time_t wall = std::time(nullptr);
  char when[64];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&wall));
  out << "# recorded from " << server << " on " << when << "\n" << std::flush;
  log("bridge connected; recording " + server + " into " + options.file);

  std::size_t messages = 0;
  std::string ended;
  for (;;) {
    pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ended = std::string("poll failed: ") + std::strerror(errno);
      break;
    }
    for (int side = 0; side < 2 && ended.empty(); ++side) {
      if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fds[side].fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ended = side == 0 ? "the bridge closed its connection" : "the server closed its connection";
        break;
      }
      const std::string bytes(buffer, static_cast<std::size_t>(n));
      if (side == 1) {
        const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        out << formatRaceLine(at, bytes) << "\n" << std::flush;
        ++messages;
      }
      if (!tcp::sendAll(fds[1 - side].fd, bytes)) {
        ended = side == 0 ? "the server went away" : "the bridge went away";
        break;
      }
    }
    if (!ended.empty()) break;
  }
  tcp::closeSocket(client);
  tcp::closeSocket(upstream);
  log(ended + "; " + std::to_string(messages) + " pieces recorded in " + options.file);
  return out ? 0 : 1;
}

}  // namespace vesksim
