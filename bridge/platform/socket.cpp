#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool isIPv4Address(const std::string &text) {
  in_addr addr{};
  return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

int socketCreate() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

bool socketConnect(int s, const std::string &host, uint16_t port) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &server.sin_addr) != 1) {
    errno = EINVAL;
    return false;
  }
  int rc;
  do
    rc = ::connect(s, reinterpret_cast<const sockaddr *>(&server), sizeof server);
  while (rc < 0 && errno == EINTR);
  return rc == 0;
}

bool socketSendAll(int s, const char *data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(s, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long socketReceive(int s, char *buffer, std::size_t size) {
  ssize_t n;
  do
    n = ::recv(s, buffer, size, 0);
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

void socketClose(int s) {
  if (s >= 0)
    ::close(s);
}

int lastSocketError() { return errno; }

} // namespace platform
