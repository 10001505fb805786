// Run-time binding of the display library: six exports looked up by name,
// the thin VESK_* wrappers the rest of the bridge calls, and serialToAddr.
#ifndef VESKBRIDGE_VESK_H
#define VESKBRIDGE_VESK_H

#include <cstdint>
#include <string>

// Pointer types of the six exports; each is ABI-identical to the library's
// own declaration (vesk.cpp checks this against vesklink.h).
typedef int32_t (*DLL_VESK_Init)();
typedef int32_t (*DLL_VESK_sendFlag)(int32_t conn, int32_t addr, int32_t flag);
typedef int32_t (*DLL_VESK_sendMsg2)(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1, int32_t fontBlink1,
    const void *txt2, uint32_t color2, uint32_t x2, uint32_t y2,
    int32_t fontType2, int32_t fontSize2, int32_t fontBlink2);
typedef int32_t (*DLL_VESK_sendMsg4)(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack, int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1,
    const void *txt2, uint32_t x2, uint32_t y2,
    const void *txt3, uint32_t color3, uint32_t x3, uint32_t y3,
    int32_t fontType3, int32_t fontSize3,
    const void *txt4, uint32_t x4, uint32_t y4);
typedef int32_t (*DLL_VESK_setRPMLimit)(int32_t conn, int32_t addr, uint32_t limit);
typedef int32_t (*DLL_VESK_eventCallback)(int32_t flag, int32_t addr, int32_t c);
typedef int32_t (*DLL_VESK_ackCallback)(int32_t addr, int32_t nr);
typedef int32_t (*DLL_VESK_readDataWithCallback)(int32_t conn, uint8_t *buffer,
                                                 DLL_VESK_eventCallback eventCallback,
                                                 DLL_VESK_ackCallback ackCallback);

// Bound once by VESK_SDKInit before anything else runs; tests may point them
// at recorders instead.
extern void *hinstLib;
extern DLL_VESK_Init TVESK_init;
extern DLL_VESK_sendFlag TVESK_sendFlag;
extern DLL_VESK_sendMsg2 TVESK_sendMsg2;
extern DLL_VESK_sendMsg4 TVESK_sendMsg4;
extern DLL_VESK_setRPMLimit TVESK_setRPMLimit;
extern DLL_VESK_readDataWithCallback TVESK_readDataWithCallback;

// Loads the library (the executable's own folder first, then the loader's
// search) and binds the six exports in their fixed order. Returns an empty
// text on success, otherwise what is missing (the file or the export).
std::string VESK_SDKInit();

int VESK_InitDevice();
int VESK_sendFlag(int conn, int addr, int flag);
int VESK_setRPMLimit(int conn, int addr, unsigned int limit);
int VESK_sendMessage2(int conn, int addr, int picture, int timeBack, int textOnly,
                      const char16_t *txt1, int color1, unsigned int x1, unsigned int y1,
                      signed char fontType1, signed char fontSize1, signed char fontBlink1,
                      const char16_t *txt2, int color2, unsigned int x2, unsigned int y2,
                      signed char fontType2, signed char fontSize2, signed char fontBlink2);
int VESK_sendMessage4(int conn, int addr, int picture, int timeBack, int textOnly,
                      const char16_t *txt1, int color1, unsigned int x1, unsigned int y1,
                      signed char fontType1, signed char fontSize1,
                      const char16_t *txt2, unsigned int x2, unsigned int y2,
                      const char16_t *txt3, int color3, unsigned int x3, unsigned int y3,
                      signed char fontType3, signed char fontSize3,
                      const char16_t *txt4, unsigned int x4, unsigned int y4);

// The display address of a serial number: its last five decimal digits, with
// the sign of the serial number (truncating remainder), as a 32-bit value.
unsigned int serialToAddr(long long serial);

#endif
