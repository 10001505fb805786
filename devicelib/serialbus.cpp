#include "serialbus.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "port/serial_port.h"
#include "replies.h"

namespace vesk::bus {

namespace {

// Absent while null; a port object that is not open is "closed".
std::unique_ptr<SerialPort> busPort;

SerialPort* openBusPort() {
    return busPort && busPort->isOpen() ? busPort.get() : nullptr;
}

// A port that fails in the middle of an exchange (adapter pulled, write timed
// out) is closed at once, so that later calls send nothing and never wait on
// it; the next openPort brings it back.
void dropFailedPort() {
    if (busPort) {
        busPort->close();
    }
}

void putCRC(std::uint8_t* bytes, std::size_t count) {
    const std::uint16_t crc = busCRC(bytes, count);
    // The bus sends its CRC low byte first, unlike most big-endian CRC users.
    bytes[count] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[count + 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

std::uint16_t busCRC(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        reg ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0xA001) : static_cast<std::uint16_t>(reg >> 1);
        }
    }
    return reg;
}

BusFrame busFrame(std::uint8_t busAddr, const DeviceFrame& frame) {
    BusFrame out{};
    out[0] = busAddr;
    out[1] = kFrameMarker;
    std::memcpy(out.data() + kDeviceFrameOffset, frame.bytes.data(), kFrameSize);
    putCRC(out.data(), kBusFrameSize - 2);
    return out;
}

ReadRequest readRequest(std::uint8_t busAddr) {
    ReadRequest out{busAddr, kRequestMarker, 0, 0};
    putCRC(out.data(), 2);
    return out;
}

std::string_view stations(const char* busAddrs) {
    if (busAddrs == nullptr) {
        return {};
    }
    return std::string_view(busAddrs, ::strnlen(busAddrs, kMaxStations));
}

PortState portState() {
    if (!busPort) {
        return PortState::absent;
    }
    return busPort->isOpen() ? PortState::open : PortState::closed;
}

std::int32_t openPort(std::int32_t number) {
    closePort();
    busPort = makeSerialPort();
    const std::int32_t result = busPort->open("COM" + std::to_string(number)) ? 0 : 1;
    seedMsgCounter();
    return result;
}

void closePort() { busPort.reset(); }

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs)); }

void sendToBus(const char* busAddrs, const DeviceFrame& frame) {
    for (const char station : stations(busAddrs)) {
        SerialPort* port = openBusPort();
        if (port == nullptr) {
            return;
        }
        const BusFrame out = busFrame(static_cast<std::uint8_t>(station), frame);
        if (!port->write(out.data(), out.size())) {
            dropFailedPort();
            return;
        }
        // Whatever a station said meanwhile is not a reply to anything asked.
        std::array<std::uint8_t, kBusFrameSize> discard{};
        if (port->readAvailable(discard.data(), discard.size()) < 0) {
            dropFailedPort();
            return;
        }
        pause();
    }
}

std::optional<DeviceFrame> requestFromBus(std::uint8_t busAddr) {
    SerialPort* port = openBusPort();
    if (port == nullptr) {
        return std::nullopt;
    }
    const ReadRequest request = readRequest(busAddr);
    if (!port->write(request.data(), request.size())) {
        dropFailedPort();
        return std::nullopt;
    }
    pause();
    // Only the length is checked: marker, address and CRC of a reply are not.
    std::array<std::uint8_t, kBusFrameSize> reply{};
    const long got = port->readAvailable(reply.data(), reply.size());
    if (got < 0) {
        dropFailedPort();
        return std::nullopt;
    }
    if (static_cast<std::size_t>(got) != kBusFrameSize) {
        return std::nullopt;
    }
    return DeviceFrame::fromBytes(reply.data() + kDeviceFrameOffset);
}

std::int32_t pollStations(const char* busAddrs, std::uint8_t* buffer, VeskEventCallback eventCallback,
                          VeskAckCallback ackCallback) {
    std::int32_t outcome = 0;
    // A callback may send on the bus or even reopen it: requestFromBus looks
    // the port up again for every station.
    for (const char station : stations(busAddrs)) {
        const auto reply = requestFromBus(static_cast<std::uint8_t>(station));
        if (!reply) {
            return 0;
        }
        if (buffer != nullptr) {
            std::memcpy(buffer, reply->bytes.data(), kFrameSize);
        }
        outcome = dispatchReply(*reply, eventCallback, ackCallback);
    }
    return outcome;
}

}  // namespace vesk::bus
