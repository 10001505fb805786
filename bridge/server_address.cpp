#include "server_address.h"

#include <algorithm>
#include <cctype>

#include "platform/socket.h"

std::optional<ServerAddress> parseServerAddress(const std::string &text) {
  ServerAddress address;
  const std::size_t colon = text.find(':');
  address.host = text.substr(0, colon);
  if (!platform::isIPv4Address(address.host))
    return std::nullopt;
  address.port = defaultServerPort;
  if (colon == std::string::npos)
    return address;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](unsigned char ch) { return std::isdigit(ch); }))
    return std::nullopt;
  const long value = std::stol(port);
  if (value < 1 || value > 65535)
    return std::nullopt;
  address.port = static_cast<uint16_t>(value);
  return address;
}
