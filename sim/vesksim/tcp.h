// Small TCP helpers on 127.0.0.1 and IPv4 peers: listening, accepting,
// connecting, waiting with a bound, sending everything.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vesksim::tcp {

// A listening socket on 127.0.0.1:port (0: a port of the system's choice),
// or -1 with errno set.
int listenLocal(std::uint16_t port);
std::uint16_t localPort(int fd);

// Waits up to `limit` for fd to become readable (or hung up); a negative
// limit waits for ever. Interrupted waits count as not ready.
bool readable(int fd, std::chrono::milliseconds limit);

int acceptClient(int listener);  // -1 on failure
// Connects to host (dotted quad) and port; -1 with errno set on failure.
int connectTo(const std::string& host, std::uint16_t port);
bool sendAll(int fd, const std::string& bytes);
void closeSocket(int& fd);

// "a.b.c.d:port" into its parts; false when it is not that.
bool splitAddress(const std::string& text, std::string& host, std::uint16_t& port);
// A port number 1..65535 from text; false otherwise.
bool parsePort(const std::string& text, std::uint16_t& port);

}  // namespace vesksim::tcp
