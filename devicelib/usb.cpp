#include "usb.h"

#include <usb.h>

#include <chrono>
#include <map>
#include <thread>

namespace vesk::usb {

namespace {

// The open devices by handle. Handles count up and are never reused, so a
// stale handle stays unknown instead of naming a device opened later.
struct HandleTable {
    std::map<std::int32_t, usb_dev_handle*> open;
    std::int32_t last = 0;

    std::int32_t add(usb_dev_handle* device) {
        last = last == INT32_MAX ? 1 : last + 1;
        open[last] = device;
        return last;
    }
    usb_dev_handle* find(std::int32_t conn) const {
        const auto it = open.find(conn);
        return it == open.end() ? nullptr : it->second;
    }
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool isStation(const struct usb_device* device) {
    return device->descriptor.idVendor == kVendorId && device->descriptor.idProduct == kProductId;
}

}  // namespace

std::int32_t openStation() {
    usb_init();
    usb_find_busses();
    usb_find_devices();

    usb_dev_handle* held = nullptr;
    auto result = [&held]() { return held == nullptr ? 0 : handles().add(held); };

    for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (!isStation(device)) {
                continue;
            }
            // A device that cannot be opened ends the walk like one whose
            // configuration fails; the counter is not seeded on that path.
            usb_dev_handle* opened = usb_open(device);
            if (opened == nullptr) {
                return result();
            }
            if (usb_set_configuration(opened, kConfiguration) != 0 ||
                usb_claim_interface(opened, kInterface) != 0) {
                usb_close(opened);
                return result();
            }
            if (held != nullptr) {
                usb_close(held);
            }
            held = opened;
        }
    }
    seedMsgCounter();
    return result();
}

void close(std::int32_t conn) {
    auto& table = handles();
    const auto it = table.open.find(conn);
    if (it == table.open.end()) {
        return;
    }
    usb_close(it->second);
    table.open.erase(it);
}

void writeFrame(std::int32_t conn, const DeviceFrame& frame) {
    if (usb_dev_handle* device = handles().find(conn)) {
        // libusb-0.1 takes a non-const buffer; it only reads it for a write.
        std::array<std::uint8_t, kFrameSize> out = frame.bytes;
        usb_bulk_write(device, kFrameOutEndpoint, reinterpret_cast<char*>(out.data()),
                       static_cast<int>(out.size()), kWriteTimeoutMs);
    }
    pause(kPauseAfterWriteMs);
}

std::optional<DeviceFrame> readFrame(std::int32_t conn, int endpoint) {
    usb_dev_handle* device = handles().find(conn);
    if (device == nullptr) {
        return std::nullopt;
    }
    DeviceFrame frame;
    const int got = usb_bulk_read(device, endpoint, reinterpret_cast<char*>(frame.bytes.data()),
                                  static_cast<int>(frame.bytes.size()), kReadTimeoutMs);
    if (got != static_cast<int>(kFrameSize)) {
        return std::nullopt;
    }
    return frame;
}

}  // namespace vesk::usb
