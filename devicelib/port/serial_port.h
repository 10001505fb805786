// The library's serial port: one small interface, one implementation per
// platform. Nothing here names a platform type, so the bus code above it is
// the same everywhere.
#ifndef VESKLINK_PORT_SERIAL_PORT_H
#define VESKLINK_PORT_SERIAL_PORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vesk {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port named "COM" followed by a number, at 38400 baud, 8 data
    // bits, no parity, 1 stop bit, no flow control, DTR and RTS off, raw.
    // False when the port does not exist or refuses the settings; the port
    // then stays closed.
    virtual bool open(const std::string &name) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes all count bytes, blocking until they have left the port but never
    // longer than 100 ms per byte plus 1000 ms. False on an error or time-out.
    virtual bool write(const std::uint8_t *bytes, std::size_t count) = 0;

    // Takes at most count bytes that have already arrived, without waiting.
    // Returns how many were taken (possibly 0), or -1 when the port failed.
    virtual long readAvailable(std::uint8_t *bytes, std::size_t count) = 0;
};

// A new, closed port of this platform.
std::unique_ptr<SerialPort> makeSerialPort();

// Write time-out for count bytes, in milliseconds.
constexpr long writeTimeoutMs(std::size_t count)
{
    return 100L * static_cast<long>(count) + 1000L;
}

} // namespace vesk

#endif
