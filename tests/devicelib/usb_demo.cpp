// Shows the library at work without hardware: a simulated base station with
// three displays, a few race signals and text screens sent through the real
// libusb-0.1, and what each display then shows and acknowledges.
#include <cstdio>
#include <string>

#include "sim/usb_station.h"
#include "vesklink.h"

namespace {

int32_t onAck(int32_t addr, int32_t nr) {
    std::printf("  acknowledged: display %d, message %d\n", addr, nr);
    return 0;
}

int32_t onEvent(int32_t flag, int32_t addr, int32_t c) {
    std::printf("  event: code %d from address %d (next sequence %d)\n", flag, addr, c);
    return 0;
}

// Polls until the station has handed over every reply it holds.
void drain(int32_t conn, const vesksim::StationModel& model) {
    uint8_t buffer[VESKLINK_FRAME_SIZE] = {0};
    while (model.pendingReplies(vesksim::kEndpointReplies) > 0) {
        readDataWithCallback(conn, buffer, onEvent, onAck);
    }
}

void show(const vesksim::StationModel& model) {
    for (const std::uint32_t number : model.displayNumbers()) {
        const vesksim::DisplayState d = model.display(number);
        std::printf("  display %u: %s, picture %u", number, vesksim::toString(d.screen.kind), d.screen.picture);
        if (d.rpmLimit) {
            std::printf(", RPM limit %u", *d.rpmLimit);
        }
        std::printf(", last message %u, %zu frames\n", d.lastMsgId, d.frameCount);
    }
}

}  // namespace

int main() {
    vesksim::UsbTestbed bed;
    vesksim::UsbStation& station = bed.addStation();
    for (const std::uint32_t number : {1001u, 1002u, 1003u}) {
        station.model().addDisplay(number);
    }
    const int32_t conn = InitDevice();
    std::printf("vesklink %d: base station handle %d\n", GetLibVersion(), conn);
    if (conn == 0) {
        std::fprintf(stderr, "no base station: run this under the umockdev preload (scripts/run.sh)\n");
        return 1;
    }

    std::printf("green flag to every display, yellow to 1002, RPM limit 9500 to 1003\n");
    for (const int display : {1001, 1002, 1003}) {
        std::printf("  sendFlag(%d, 1) -> message %d\n", display, sendFlag(conn, display, 1));
    }
    std::printf("  sendFlag(1002, 3) -> message %d\n", sendFlag(conn, 1002, 3));
    std::printf("  setRPMLimit(1003, 9500) -> message %d\n", setRPMLimit(conn, 1003, 9500));
    drain(conn, station.model());

    std::printf("result screen for 1001 over picture 11\n");
    // Each line is a raw field of 8 UTF-16 units, padded with zeros.
    const char16_t lines[4][8] = {u"P1", u"1:02.34", u"1:01.98", u"+0.00"};
    std::printf("  sendMessage4 -> message %d\n",
                sendMessage4(conn, 1001, 11, 0, 0, lines[0], 0xFFFFFF, 10, 10, 1, 2, lines[1], 10,
                             60, lines[2], 0x00FFFF, 10, 110, 1, 2, lines[3], 10, 160));
    std::printf("  \"Hello\" is %d wide in font 16\n", getTextWidth(16, "Hello"));
    station.model().queueEvent(1, 3, 1002);
    drain(conn, station.model());

    std::printf("what the displays show:\n");
    show(station.model());
    closeDevice(conn);
    return 0;
}
