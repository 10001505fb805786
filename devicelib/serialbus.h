// The serial bus link: the bus frame and read request with their CRC, the
// library's one bus port, the fan-out of a device frame to a list of stations
// and the read request that fetches one station's reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "frame.h"
#include "vesklink.h"

namespace vesk::bus {

inline constexpr std::size_t kBusFrameSize = 136;
inline constexpr std::size_t kDeviceFrameOffset = 4;  // in bus frames and replies
inline constexpr std::size_t kReadRequestSize = 4;
inline constexpr std::size_t kMaxStations = 100;
inline constexpr std::uint8_t kFrameMarker = 0x47;    // 'G': frame for the station
inline constexpr std::uint8_t kRequestMarker = 0x46;  // 'F': request for its reply
inline constexpr int kPauseMs = 30;

using BusFrame = std::array<std::uint8_t, kBusFrameSize>;
using ReadRequest = std::array<std::uint8_t, kReadRequestSize>;

// CRC-16/MODBUS (0xFFFF start, reflected 0x8005, no final XOR).
std::uint16_t busCRC(const std::uint8_t* bytes, std::size_t count);

BusFrame busFrame(std::uint8_t busAddr, const DeviceFrame& frame);
ReadRequest readRequest(std::uint8_t busAddr);

// The stations of a bus address string: its bytes up to the first 0, at most
// 100. A null string names none.
std::string_view stations(const char* busAddrs);

// The bus port: absent before the first open and after close, closed when the
// last open failed or the port failed during an exchange, open otherwise.
enum class PortState { absent, closed, open };
PortState portState();

// Replaces the bus port with a new one on "COM<number>" and seeds the message
// counter. 0 when the port opened, 1 when not.
std::int32_t openPort(std::int32_t number);
// Closes and discards the bus port; the message counter keeps its value.
void closePort();

// Sends the frame to every station of busAddrs in turn, each bus frame followed
// by the 30 ms pause; sends nothing unless the port is open.
void sendToBus(const char* busAddrs, const DeviceFrame& frame);

// Sends one station a read request and takes its reply after the 30 ms pause:
// the device frame of a reply of 136 bytes or more, nothing otherwise.
std::optional<DeviceFrame> requestFromBus(std::uint8_t busAddr);

// Polls the stations of busAddrs in turn, stopping at the first that does not
// answer; each reply is copied to buffer (when not null) and dispatched. 1 when
// the last station polled answered with a frame that is no event; 0 otherwise.
std::int32_t pollStations(const char* busAddrs, std::uint8_t* buffer, VeskEventCallback eventCallback,
                          VeskAckCallback ackCallback);

void pause();

}  // namespace vesk::bus
