// The exported C interface: each export pairs one builder with the USB link.

#include "vesklink.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "fonts.h"
#include "panel.h"
#include "replies.h"
#include "signals.h"
#include "text.h"
#include "usb.h"

using namespace vesk;

namespace {

std::int32_t sendOverUsb(std::int32_t conn, const DeviceFrame& frame) {
    usb::writeFrame(conn, frame);
    return frame.msgId();
}

void copyOut(const DeviceFrame& frame, std::uint8_t* buffer) {
    if (buffer != nullptr) {
        std::memcpy(buffer, frame.bytes.data(), frame.bytes.size());
    }
}

}  // namespace

extern "C" {

int32_t InitDevice(void) { return usb::openStation(); }

void closeDevice(int32_t conn) { usb::close(conn); }

int32_t sendData(int32_t conn, const uint8_t* frame) {
    if (frame != nullptr) {
        usb::writeFrame(conn, DeviceFrame::fromBytes(frame));
    }
    return 1;
}

int32_t readData(int32_t conn, uint8_t* buffer) {
    const auto frame = usb::readFrame(conn, usb::kReplyEndpoint);
    if (!frame) {
        return 0;
    }
    copyOut(*frame, buffer);
    return 1;
}

int32_t GetLibVersion(void) { return VESKLINK_LIB_VERSION; }

int32_t readDataWithCallback(int32_t conn, uint8_t* buffer, VeskEventCallback eventCallback,
                             VeskAckCallback ackCallback) {
    const auto frame = usb::readFrame(conn, usb::kReplyEndpoint);
    if (!frame) {
        return 0;
    }
    copyOut(*frame, buffer);
    return dispatchReply(*frame, eventCallback, ackCallback);
}

int32_t readRemoteControl(int32_t conn) {
    const auto frame = usb::readFrame(conn, usb::kPanelEndpoint);
    if (!frame || !isEvent(*frame)) {
        return 0;
    }
    // The panel takes its acknowledgement only after a short pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    usb::writeFrame(conn, panelAcknowledgement(*frame));
    return takePanelEventCode(*frame);
}

int32_t sendFlag(int32_t conn, int32_t addr, int32_t flag) { return sendOverUsb(conn, buildFlag(addr, flag)); }

int32_t setRPMLimit(int32_t conn, int32_t addr, uint32_t limit) {
    return sendOverUsb(conn, buildRPMLimit(addr, limit));
}

int32_t sendPicture(int32_t conn, int32_t addr, int32_t picture, int32_t flagBit) {
    return sendOverUsb(conn, buildPicture(addr, picture, flagBit));
}

int32_t sendCurrentPos(int32_t conn, int32_t addr, int32_t position, int32_t time, int32_t gap, int32_t value) {
    return sendOverUsb(conn, buildCurrentPos(addr, {position, time, gap, value}));
}

int32_t sendPAssing(int32_t conn, int32_t addr, int32_t position, int32_t time, int32_t gap, int32_t mode,
                    int32_t value) {
    return sendOverUsb(conn, buildPassing(addr, {position, time, gap, value}, mode));
}

int32_t sendMessage(int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                    const char* txt1, uint32_t colorA1, uint32_t colorB1, uint32_t x1, uint32_t y1, int32_t font1,
                    int32_t flagA1, int32_t flagB1, const char* txt2, uint32_t colorA2, uint32_t colorB2,
                    uint32_t x2, uint32_t y2, int32_t font2, int32_t flagA2, int32_t flagB2, const char* txt3,
                    uint32_t colorA3, uint32_t colorB3, uint32_t x3, uint32_t y3, int32_t font3, int32_t flagA3,
                    int32_t flagB3) {
    return sendOverUsb(conn, buildMessage({addr, picture, timeBack, textOnly},
                                          {ItemLine{txt1, colorA1, colorB1, x1, y1, font1, flagA1, flagB1},
                                           ItemLine{txt2, colorA2, colorB2, x2, y2, font2, flagA2, flagB2},
                                           ItemLine{txt3, colorA3, colorB3, x3, y3, font3, flagA3, flagB3}}));
}

int32_t sendMessage2(int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                     const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                     int32_t fontSize1, int32_t /*fontBlink1*/, const void* txt2, uint32_t color2, uint32_t x2,
                     uint32_t y2, int32_t fontType2, int32_t fontSize2, int32_t /*fontBlink2*/) {
    return sendOverUsb(conn, buildMessage2({addr, picture, timeBack, textOnly},
                                           {{txt1, x1, y1}, {color1, fontType1, fontSize1}},
                                           {{txt2, x2, y2}, {color2, fontType2, fontSize2}}));
}

int32_t sendMessage3(int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                     const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                     int32_t fontSize1, const void* txt2, uint32_t color2, uint32_t x2, uint32_t y2,
                     int32_t fontType2, int32_t fontSize2, const void* txt3, uint32_t color3, uint32_t x3,
                     uint32_t y3, int32_t fontType3, int32_t fontSize3) {
    return sendOverUsb(conn, buildMessage3({addr, picture, timeBack, textOnly},
                                           {StyledLine{{txt1, x1, y1}, {color1, fontType1, fontSize1}},
                                            StyledLine{{txt2, x2, y2}, {color2, fontType2, fontSize2}},
                                            StyledLine{{txt3, x3, y3}, {color3, fontType3, fontSize3}}}));
}

int32_t sendMessage4(int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                     const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                     int32_t fontSize1, const void* txt2, uint32_t x2, uint32_t y2, const void* txt3,
                     uint32_t color3, uint32_t x3, uint32_t y3, int32_t fontType3, int32_t fontSize3,
                     const void* txt4, uint32_t x4, uint32_t y4) {
    return sendOverUsb(conn, buildMessage4({addr, picture, timeBack, textOnly}, {color1, fontType1, fontSize1},
                                           {color3, fontType3, fontSize3},
                                           {PlacedText{txt1, x1, y1}, PlacedText{txt2, x2, y2},
                                            PlacedText{txt3, x3, y3}, PlacedText{txt4, x4, y4}}));
}

int32_t getTextWidth(int32_t font, const char* txt) { return textWidth(font, txt); }

int32_t sendDataToRemoteControl(int32_t conn, const char* txt1, int32_t setA1, int32_t setB1, const char* txt2,
                                int32_t setA2, int32_t setB2, const char* txt3, int32_t setA3, int32_t setB3,
                                const char* txt4, int32_t setA4, int32_t setB4, int32_t seq) {
    usb::writeFrame(conn, buildRemoteControl({PanelLine{txt1, setA1, setB1}, PanelLine{txt2, setA2, setB2},
                                              PanelLine{txt3, setA3, setB3}, PanelLine{txt4, setA4, setB4}},
                                             seq));
    return 0;
}

}  // extern "C"
