#include "recorder.h"

std::vector<LibraryCall> calls;

namespace {
int nextId = 1;

int record(LibraryCall call) {
  call.id = nextId;
  nextId = nextId % 254 + 1;
  calls.push_back(std::move(call));
  return calls.back().id;
}

std::u16string whole(const void *txt) {
  return std::u16string(static_cast<const char16_t *>(txt), 8);
}

int32_t fakeSendFlag(int32_t conn, int32_t addr, int32_t flag) {
  return record({"sendFlag", {conn, addr, flag}, {}, 0});
}

int32_t fakeSetRPMLimit(int32_t conn, int32_t addr, uint32_t limit) {
  return record({"setRPMLimit", {conn, addr, limit}, {}, 0});
}

int32_t fakeSendMessage4(int32_t conn, int32_t addr, int32_t picture, int32_t timeBack,
                         int32_t textOnly, const void *txt1, uint32_t color1, uint32_t x1,
                         uint32_t y1, int32_t fontType1, int32_t fontSize1, const void *txt2,
                         uint32_t x2, uint32_t y2, const void *txt3, uint32_t color3,
                         uint32_t x3, uint32_t y3, int32_t fontType3, int32_t fontSize3,
                         const void *txt4, uint32_t x4, uint32_t y4) {
  return record({"sendMessage4",
                 {conn, addr, picture, timeBack, textOnly, color1, x1, y1, fontType1, fontSize1,
                  x2, y2, color3, x3, y3, fontType3, fontSize3, x4, y4},
                 {whole(txt1), whole(txt2), whole(txt3), whole(txt4)},
                 0});
}
} // namespace

void BridgeTest::SetUp() {
  saved_ = std::cout.rdbuf(out_.rdbuf());
  reset();
}

void BridgeTest::reset() {
  out_.str("");
  for (auto &d : VESKD)
    d = VeskDevice();
  TrueNumVESKD = 0;
  VESKC = 7;
  calls.clear();
  nextId = 1;
  TVESK_sendFlag = fakeSendFlag;
  TVESK_setRPMLimit = fakeSetRPMLimit;
  TVESK_sendMsg4 = fakeSendMessage4;
}

void BridgeTest::TearDown() { std::cout.rdbuf(saved_); }

std::string BridgeTest::console() {
  std::string text = out_.str();
  out_.str("");
  return text;
}

void BridgeTest::registerDisplays(const std::string &serials) {
  parseMsg("@initDevices>" + serials, 1);
  console();
  calls.clear();
}

std::vector<LibraryCall> BridgeTest::callsNamed(const std::string &name) const {
  std::vector<LibraryCall> found;
  for (const auto &c : calls)
    if (c.name == name)
      found.push_back(c);
  return found;
}
