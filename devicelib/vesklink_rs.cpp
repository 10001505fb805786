// The serial exports: each pairs the builder of its USB twin with the bus link.

#include "vesklink.h"

#include <cstring>

#include "panel.h"
#include "serialbus.h"
#include "signals.h"
#include "text.h"

using namespace vesk;

namespace {

std::int32_t sendOverBus(const char* busAddrs, const DeviceFrame& frame) {
    bus::sendToBus(busAddrs, frame);
    return frame.msgId();
}

}  // namespace

extern "C" {

int32_t InitDeviceRS(int32_t number) { return bus::openPort(number); }

void closeDeviceRS(void) { bus::closePort(); }

int32_t sendFlagRS(const char* busAddrs, int32_t addr, int32_t flag) {
    return sendOverBus(busAddrs, buildFlag(addr, flag));
}

int32_t setRPMLimitRS(const char* busAddrs, int32_t addr, uint32_t limit) {
    return sendOverBus(busAddrs, buildRPMLimit(addr, limit));
}

int32_t sendPictureRS(const char* busAddrs, int32_t addr, int32_t picture, int32_t flagBit) {
    return sendOverBus(busAddrs, buildPicture(addr, picture, flagBit));
}

int32_t sendCurrentPosRS(const char* busAddrs, int32_t addr, int32_t position, int32_t time, int32_t gap,
                         int32_t value) {
    return sendOverBus(busAddrs, buildCurrentPos(addr, {position, time, gap, value}));
}

int32_t sendPAssingRS(const char* busAddrs, int32_t addr, int32_t position, int32_t time, int32_t gap,
                      int32_t mode, int32_t value) {
    return sendOverBus(busAddrs, buildPassing(addr, {position, time, gap, value}, mode));
}

int32_t sendMessageRS(const char* busAddrs, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                      const char* txt1, uint32_t colorA1, uint32_t colorB1, uint32_t x1, uint32_t y1,
                      int32_t font1, int32_t flagA1, int32_t flagB1, const char* txt2, uint32_t colorA2,
                      uint32_t colorB2, uint32_t x2, uint32_t y2, int32_t font2, int32_t flagA2, int32_t flagB2,
                      const char* txt3, uint32_t colorA3, uint32_t colorB3, uint32_t x3, uint32_t y3,
                      int32_t font3, int32_t flagA3, int32_t flagB3) {
    const std::int32_t id =
        sendOverBus(busAddrs, buildMessage({addr, picture, timeBack, textOnly},
                                           {ItemLine{txt1, colorA1, colorB1, x1, y1, font1, flagA1, flagB1},
                                            ItemLine{txt2, colorA2, colorB2, x2, y2, font2, flagA2, flagB2},
                                            ItemLine{txt3, colorA3, colorB3, x3, y3, font3, flagA3, flagB3}}));
    // This screen, like a raw frame, is followed by one more pause after the whole fan-out.
    bus::pause();
    return id;
}

int32_t sendMessage2RS(const char* busAddrs, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                       const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                       int32_t fontSize1, int32_t /*fontBlink1*/, const void* txt2, uint32_t color2, uint32_t x2,
                       uint32_t y2, int32_t fontType2, int32_t fontSize2, int32_t /*fontBlink2*/) {
    return sendOverBus(busAddrs, buildMessage2({addr, picture, timeBack, textOnly},
                                               {{txt1, x1, y1}, {color1, fontType1, fontSize1}},
                                               {{txt2, x2, y2}, {color2, fontType2, fontSize2}}));
}

int32_t sendMessage3RS(const char* busAddrs, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                       const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                       int32_t fontSize1, const void* txt2, uint32_t color2, uint32_t x2, uint32_t y2,
                       int32_t fontType2, int32_t fontSize2, const void* txt3, uint32_t color3, uint32_t x3,
                       uint32_t y3, int32_t fontType3, int32_t fontSize3) {
    return sendOverBus(busAddrs, buildMessage3({addr, picture, timeBack, textOnly},
                                               {StyledLine{{txt1, x1, y1}, {color1, fontType1, fontSize1}},
                                                StyledLine{{txt2, x2, y2}, {color2, fontType2, fontSize2}},
                                                StyledLine{{txt3, x3, y3}, {color3, fontType3, fontSize3}}}));
}

int32_t sendMessage4RS(const char* busAddrs, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
                       const void* txt1, uint32_t color1, uint32_t x1, uint32_t y1, int32_t fontType1,
                       int32_t fontSize1, const void* txt2, uint32_t x2, uint32_t y2, const void* txt3,
                       uint32_t color3, uint32_t x3, uint32_t y3, int32_t fontType3, int32_t fontSize3,
                       const void* txt4, uint32_t x4, uint32_t y4) {
    return sendOverBus(busAddrs,
                       buildMessage4({addr, picture, timeBack, textOnly}, {color1, fontType1, fontSize1},
                                     {color3, fontType3, fontSize3},
                                     {PlacedText{txt1, x1, y1}, PlacedText{txt2, x2, y2}, PlacedText{txt3, x3, y3},
                                      PlacedText{txt4, x4, y4}}));
}

int32_t sendDataToRemoteControlRS(const char* busAddrs, const char* txt1, int32_t setA1, int32_t setB1,
                                  const char* txt2, int32_t setA2, int32_t setB2, const char* txt3, int32_t setA3,
                                  int32_t setB3, const char* txt4, int32_t setA4, int32_t setB4, int32_t seq) {
    bus::sendToBus(busAddrs, buildRemoteControl({PanelLine{txt1, setA1, setB1}, PanelLine{txt2, setA2, setB2},
                                                 PanelLine{txt3, setA3, setB3}, PanelLine{txt4, setA4, setB4}},
                                                seq));
    return 0;
}

int32_t sendDataRS(const char* busAddrs, const uint8_t* frame) {
    if (frame != nullptr) {
        bus::sendToBus(busAddrs, DeviceFrame::fromBytes(frame));
    }
    bus::pause();
    return 1;
}

int32_t readDataRS(int32_t busAddr, uint8_t* buffer) {
    const auto frame = bus::requestFromBus(static_cast<std::uint8_t>(busAddr & 0xFF));
    if (!frame) {
        return 0;
    }
    if (buffer != nullptr) {
        std::memcpy(buffer, frame->bytes.data(), frame->bytes.size());
    }
    return 1;
}

int32_t readDataWithCallbackRS(const char* busAddrs, uint8_t* buffer, VeskEventCallback eventCallback,
                               VeskAckCallback ackCallback) {
    return bus::pollStations(busAddrs, buffer, eventCallback, ackCallback);
}

}  // extern "C"
