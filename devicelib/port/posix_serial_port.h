// The POSIX serial port (termios).
#ifndef VESKLINK_PORT_POSIX_SERIAL_PORT_H
#define VESKLINK_PORT_POSIX_SERIAL_PORT_H

#include <optional>
#include <string>

namespace vesk {

// Device path of the port called "COM<n>": the path in environment variable
// VESKLINK_COM<n> when it is set, otherwise /dev/ttyS<n-1>. Names that are not
// "COM" followed by a number of 1 or more have no device.
std::optional<std::string> comDevicePath(const std::string &name);

} // namespace vesk

#endif
