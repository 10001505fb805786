#include "vesk.h"

#include <type_traits>

#include "platform/dynlib.h"
#include "vesklink.h"

// The bridge calls the library through these pointer types only; each must
// match the export exactly, or arguments would land in the wrong registers.
static_assert(std::is_same_v<DLL_VESK_Init, decltype(&::InitDevice)>);
static_assert(std::is_same_v<DLL_VESK_sendFlag, decltype(&::sendFlag)>);
static_assert(std::is_same_v<DLL_VESK_sendMsg2, decltype(&::sendMessage2)>);
static_assert(std::is_same_v<DLL_VESK_sendMsg4, decltype(&::sendMessage4)>);
static_assert(std::is_same_v<DLL_VESK_setRPMLimit, decltype(&::setRPMLimit)>);
static_assert(std::is_same_v<DLL_VESK_readDataWithCallback, decltype(&::readDataWithCallback)>);
static_assert(std::is_same_v<DLL_VESK_eventCallback, VeskEventCallback>);
static_assert(std::is_same_v<DLL_VESK_ackCallback, VeskAckCallback>);

void *hinstLib = nullptr;
DLL_VESK_Init TVESK_init = nullptr;
DLL_VESK_sendFlag TVESK_sendFlag = nullptr;
DLL_VESK_sendMsg2 TVESK_sendMsg2 = nullptr;
DLL_VESK_sendMsg4 TVESK_sendMsg4 = nullptr;
DLL_VESK_setRPMLimit TVESK_setRPMLimit = nullptr;
DLL_VESK_readDataWithCallback TVESK_readDataWithCallback = nullptr;

namespace {
template <typename T> bool bind(T &pointer, const char *name, std::string &missing) {
  pointer = reinterpret_cast<T>(platform::findSymbol(hinstLib, name));
  if (!pointer && missing.empty())
    missing = std::string(platform::displayLibraryFileName()) + " has no export " + name;
  return pointer != nullptr;
}
} // namespace

std::string VESK_SDKInit() {
  std::string error;
  const char *file = platform::displayLibraryFileName();
  hinstLib = platform::loadLibrary(file, error);
  if (!hinstLib)
    return std::string("cannot load ") + file + ": " + error;
  std::string missing;
  bind(TVESK_init, "InitDevice", missing);
  bind(TVESK_sendFlag, "sendFlag", missing);
  bind(TVESK_sendMsg2, "sendMessage2", missing);
  bind(TVESK_sendMsg4, "sendMessage4", missing);
  bind(TVESK_setRPMLimit, "setRPMLimit", missing);
  bind(TVESK_readDataWithCallback, "readDataWithCallback", missing);
  return missing;
}

int VESK_InitDevice() { return TVESK_init(); }

int VESK_sendFlag(int conn, int addr, int flag) { return TVESK_sendFlag(conn, addr, flag); }

int VESK_setRPMLimit(int conn, int addr, unsigned int limit) {
  return TVESK_setRPMLimit(conn, addr, limit);
}

int VESK_sendMessage2(int conn, int addr, int picture, int timeBack, int textOnly,
                      const char16_t *txt1, int color1, unsigned int x1, unsigned int y1,
                      signed char fontType1, signed char fontSize1, signed char fontBlink1,
                      const char16_t *txt2, int color2, unsigned int x2, unsigned int y2,
                      signed char fontType2, signed char fontSize2, signed char fontBlink2) {
  return TVESK_sendMsg2(conn, addr, picture, timeBack, textOnly, txt1,
                        static_cast<uint32_t>(color1), x1, y1, fontType1, fontSize1, fontBlink1,
                        txt2, static_cast<uint32_t>(color2), x2, y2, fontType2, fontSize2,
                        fontBlink2);
}

int VESK_sendMessage4(int conn, int addr, int picture, int timeBack, int textOnly,
                      const char16_t *txt1, int color1, unsigned int x1, unsigned int y1,
                      signed char fontType1, signed char fontSize1,
                      const char16_t *txt2, unsigned int x2, unsigned int y2,
                      const char16_t *txt3, int color3, unsigned int x3, unsigned int y3,
                      signed char fontType3, signed char fontSize3,
                      const char16_t *txt4, unsigned int x4, unsigned int y4) {
  return TVESK_sendMsg4(conn, addr, picture, timeBack, textOnly, txt1,
                        static_cast<uint32_t>(color1), x1, y1, fontType1, fontSize1, txt2, x2, y2,
                        txt3, static_cast<uint32_t>(color3), x3, y3, fontType3, fontSize3, txt4,
                        x4, y4);
}

unsigned int serialToAddr(long long serial) {
  return static_cast<unsigned int>(serial % 100000);
}
