// The race server's address: "a.b.c.d" or "a.b.c.d:port".
#ifndef VESKBRIDGE_SERVER_ADDRESS_H
#define VESKBRIDGE_SERVER_ADDRESS_H

#include <cstdint>
#include <optional>
#include <string>

struct ServerAddress {
  std::string host; // dotted quad
  uint16_t port = 4321;
};

constexpr uint16_t defaultServerPort = 4321;

// Reads text as a dotted-quad IPv4 address with an optional ":port" (1 to
// 65535, decimal digits only); without a port, defaultServerPort. Anything
// else gives no address.
std::optional<ServerAddress> parseServerAddress(const std::string &text);

#endif
