#include "sender.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <locale>
#include <sstream>

#include "platform/text.h"
#include "vesk.h"

VeskDevice VESKD[maxDisplays];
int TrueNumVESKD = 0;
int VESKC = 0;

namespace {

const std::string separator = "|*|*|";

// A skipped command gets one line saying why, so that the console shows
// which server text had no effect.
void skipped(const std::string &name, const std::string &why) {
  std::cout << "\nskipped " << name << ": " << why << "\n";
}

bool enoughFields(const std::vector<std::string> &fields, std::size_t needed,
                  const std::string &name) {
  if (fields.size() >= needed)
    return true;
  skipped(name, std::to_string(needed) + " fields needed, " + std::to_string(fields.size()) +
                    " given");
  return false;
}

// Serial numbers read as atoll would, but with a defined result beyond
// 64 bits (the nearest limit).
long long readSerial(const std::string &field) { return std::strtoll(field.c_str(), nullptr, 10); }

// An integer field read by stream extraction: leading blanks skipped, text
// after the number ignored, no number giving 0, out of range giving the
// nearest limit. A field that is empty or only blanks holds no number at all:
// false, and the command is not carried out.
bool readInt(const std::string &field, const std::string &name, std::size_t index, int &value) {
  if (field.find_first_not_of(" \t\n\v\f\r") == std::string::npos) {
    skipped(name, "no number in field " + std::to_string(index));
    return false;
  }
  std::istringstream in(field);
  in.imbue(std::locale::classic());
  value = 0;
  in >> value; // on failure the stream stores 0 or the nearest limit
  return true;
}

// Visits the displays an address field names: every registered display for
// "ALL", otherwise the first one with that serial number.
template <typename Visit> void forEachAddressed(const std::string &address, Visit visit) {
  if (address == "ALL") {
    for (int i = 0; i < TrueNumVESKD; ++i)
      visit(VESKD[i]);
    return;
  }
  const long long serial = readSerial(address);
  for (int i = 0; i < TrueNumVESKD; ++i) {
    if (VESKD[i].serial == serial) {
      visit(VESKD[i]);
      return;
    }
  }
}

int transmit(const SentCommand &cmd) {
  switch (cmd.kind) {
  case SentCommand::Kind::flag:
    return VESK_sendFlag(cmd.conn, cmd.addr, cmd.value);
  case SentCommand::Kind::rpmLimit:
    return VESK_setRPMLimit(cmd.conn, cmd.addr, static_cast<unsigned int>(cmd.value));
  case SentCommand::Kind::results: {
    const auto &t = cmd.texts;
    return VESK_sendMessage4(cmd.conn, cmd.addr, cmd.value, 0, 0,
                             t[0].data(), 0xFFFFFF, 10, 40, 1, 90,
                             t[1].data(), 375, 40,
                             t[2].data(), 0xFFFFFF, 10, 170, 1, 55,
                             t[3].data(), 260, 170);
  }
  case SentCommand::Kind::none:
    break;
  }
  return 0;
}

// The send recording around one library call.
void send(VeskDevice &LD, const SentCommand &cmd, int actTime) {
  LD.resetLastMsgId(actTime);
  const int id = transmit(cmd);
  LD.setLastMsgId(id);
  LD.lastSend = cmd;
}

SentCommand commandFor(const VeskDevice &LD, SentCommand::Kind kind, int value) {
  SentCommand cmd;
  cmd.kind = kind;
  cmd.conn = VESKC;
  cmd.addr = static_cast<int>(serialToAddr(LD.serial));
  cmd.value = value;
  return cmd;
}

} // namespace

// ---- display record ------------------------------------------------------

VeskDevice::VeskDevice() = default;

void VeskDevice::setLastMsgId(int msgId) {
  lastMsgId = msgId;
  flagOK = false;
  flagLost = false;
  VDLR.lastModTimestamp = 0;
  VDLR.waitToReturn = false;
}

void VeskDevice::resetLastMsgId(int time) {
  lastMsgId = 1;
  testTimestamp = time;
  flagOK = false;
  flagLost = false;
}

bool VeskDevice::checkLastMsgId(int msgId, int time) {
  if (testTimestamp == 0)
    return true;
  if (flagOK && !flagLost)
    return true;
  if (msgId == lastMsgId) {
    flagOK = true;
    flagLost = false;
    return true;
  }
  if (static_cast<long long>(time) - testTimestamp > 8) {
    flagOK = false;
    flagLost = true;
  }
  return false;
}

bool VeskDevice::isOk() const { return flagOK; }

bool VeskDevice::isLostMsg() const { return flagLost; }

void VeskDevice::storeActualResults(const std::string &lastLap_, const std::string &pos_,
                                    const std::string &bestLap_, const std::string &gap_,
                                    int bcg_, int actTimestamp) {
  VDLR.lastLap = lastLap_;
  VDLR.pos = pos_;
  VDLR.bestLap = bestLap_;
  VDLR.gap = gap_;
  VDLR.bcg = bcg_;
  VDLR.lastModTimestamp = actTimestamp;
  VDLR.waitToReturn = true;
}

int VeskDevice::returnAfterChangeResults(int time) {
  int timeD = 8;
  if (!VDLR.waitToReturn && !endRace)
    return 0;
  if (endRace)
    timeD = 50;
  if (static_cast<long long>(time) - VDLR.lastModTimestamp < timeD)
    return 1;
  if (endRace) {
    endRace = false;
    nowIsFlag = false;
    sendActualResults(this, "", "", "", "", 0, time, true);
  } else {
    sendActualResults(this, VDLR.lastLap, VDLR.pos, VDLR.bestLap, VDLR.gap, 1, time, true);
  }
  VDLR.waitToReturn = false;
  return 2;
}

// ---- parser --------------------------------------------------------------

std::vector<std::string> explode(const std::string &str, const std::string &ch) {
  std::vector<std::string> fields;
  if (ch.empty()) {
    fields.push_back(str);
    return fields;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = str.find(ch, start);
    if (at == std::string::npos) {
      fields.push_back(str.substr(start));
      return fields;
    }
    fields.push_back(str.substr(start, at - start));
    start = at + ch.size();
  }
}

namespace {
void runCommand(const std::string &command, int actTime) {
  const std::size_t gt = command.find('>');
  const std::string name = command.substr(0, gt);
  const bool hasFields = gt != std::string::npos;
  const std::string fields = hasFields ? command.substr(gt + 1) : std::string();

  if (name == "@initDevices") {
    if (hasFields)
      initVESKD(fields);
    else
      skipped(name, "no '>' before its fields");
    return;
  }
  // Everything else waits for the first registration.
  if (TrueNumVESKD <= 0)
    return;
  if (name == "@endRace") {
    prepareFlag("ALL|*|*|999", actTime);
    return;
  }
  void (*const target)(std::string, int) = name == "@sendFlag"   ? prepareFlag
                                           : name == "@sendMsg"  ? prepareActualResults
                                           : name == "@RPMLimit" ? prepareRPMLimit
                                                                 : nullptr;
  if (!target)
    return; // no command: printed, nothing more
  if (!hasFields) {
    skipped(name, "no '>' before its fields");
    return;
  }
  target(fields, actTime);
}
} // namespace

int parseMsg(std::string txt, int actTime) {
  std::size_t at = txt.find('@');
  if (at == std::string::npos) {
    std::cout << " OK ";
    return 0;
  }
  for (;;) {
    const std::size_t next = txt.find('@', at + 1);
    const std::string command =
        txt.substr(at, next == std::string::npos ? std::string::npos : next - at);
    std::cout << "\nc: " << command << "\n";
    runCommand(command, actTime);
    if (next == std::string::npos)
      return 0;
    at = next;
  }
}

// ---- registry ------------------------------------------------------------

void initVESKD(std::string txt) {
  const std::vector<std::string> fields = explode(txt, separator);
  const std::size_t kept = std::min<std::size_t>(fields.size(), maxDisplays);
  TrueNumVESKD = static_cast<int>(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    std::cout << "VESKD: " << fields[i] << "\n";
    VESKD[i].serial = readSerial(fields[i]);
    VESKD[i].lastFlag = 0;
  }
  if (fields.size() > kept)
    std::cout << "VESKD: " << fields.size() - kept << " serial numbers left out, the table holds "
              << maxDisplays << "\n";
}

// ---- flags and RPM limits ------------------------------------------------

void prepareFlag(std::string txt, int actTime) {
  const std::vector<std::string> fields = explode(txt, separator);
  if (!enoughFields(fields, 2, "@sendFlag"))
    return;
  int flag = 0;
  if (!readInt(fields[1], "@sendFlag", 1, flag))
    return;
  const bool isEndRace = flag == 999;
  if (isEndRace)
    flag = 1;
  forEachAddressed(fields[0], [&](VeskDevice &d) {
    if (isEndRace)
      d.endRace = true;
    const int code = (!isEndRace && d.lastFlag == flag) ? 0 : flag;
    if (code != 0) {
      d.nowIsFlag = true;
      sendFlag(&d, code, actTime, false);
      d.VDLR.waitToReturn = false;
    } else {
      d.nowIsFlag = false;
      d.VDLR.waitToReturn = true;
      d.VDLR.lastModTimestamp = 0;
    }
    d.lastCommand = txt;
    d.lastFlag = code;
    if (isEndRace)
      d.VDLR.lastModTimestamp = actTime;
  });
}

void sendFlag(VeskDevice *LD, int flag, int actTime, bool /*noReturn*/) {
  send(*LD, commandFor(*LD, SentCommand::Kind::flag, flag), actTime);
}

void prepareRPMLimit(std::string txt, int actTime) {
  const std::vector<std::string> fields = explode(txt, separator);
  if (!enoughFields(fields, 2, "@RPMLimit"))
    return;
  int limit = 0;
  if (!readInt(fields[1], "@RPMLimit", 1, limit))
    return;
  forEachAddressed(fields[0], [&](VeskDevice &d) {
    sendRPMLimit(&d, limit, actTime, true);
    d.lastCommand = txt;
  });
}

void sendRPMLimit(VeskDevice *LD, int RPMLimit, int actTime, bool /*noReturn*/) {
  send(*LD, commandFor(*LD, SentCommand::Kind::rpmLimit, RPMLimit), actTime);
}

// ---- result screens ------------------------------------------------------

int backgroundPicture(int bcg) { return (bcg >= 0 && bcg <= 6) ? 10 + bcg : 11; }

void prepareActualResults(std::string txt, int actTime) {
  const std::vector<std::string> fields = explode(txt, separator);
  if (!enoughFields(fields, 6, "@sendMsg"))
    return;
  int bcg = 0;
  if (!readInt(fields[5], "@sendMsg", 5, bcg))
    return;
  forEachAddressed(fields[0], [&](VeskDevice &d) {
    if (txt == d.lastCommand) {
      std::cout << "\nTO SAMO\n";
      return;
    }
    sendActualResults(&d, fields[1], fields[2], fields[3], fields[4], bcg, actTime, false);
    d.lastCommand = txt;
  });
}

void sendActualResults(VeskDevice *LD, const std::string &lastLap, const std::string &pos,
                       const std::string &bestLap, const std::string &gap, int bcg,
                       int actTimestamp, bool noReturn) {
  if (LD->nowIsFlag)
    return;
  SentCommand cmd = commandFor(*LD, SentCommand::Kind::results, backgroundPicture(bcg));
  const std::string *texts[4] = {&lastLap, &pos, &bestLap, &gap};
  for (std::size_t i = 0; i < 4; ++i)
    platform::toUtf16(*texts[i], cmd.texts[i].data(), cmd.texts[i].size());
  send(*LD, cmd, actTimestamp);
  if (!noReturn)
    LD->storeActualResults(lastLap, pos, bestLap, gap, bcg, actTimestamp);
}

// ---- lost sends and device events ----------------------------------------

void repeatLastSend(VeskDevice &LD, int actTime) {
  if (LD.lastSend.kind == SentCommand::Kind::none)
    return;
  LD.resetLastMsgId(actTime);
  LD.lastMsgId = transmit(LD.lastSend);
}

std::string eventToFlagCommand(int flag, int addr) {
  const std::string target = addr == 0 ? "ALL" : "9999999" + std::to_string(addr);
  std::string code;
  if (flag == 5)
    code = "1";
  else if (flag == 1)
    code = "2";
  else if (flag == 2)
    code = "3";
  return "@sendFlag>" + target + separator + code;
}

void onDisplayEvent(int flag, int addr, int c, int actTime) {
  std::cout << "\nInfo z vesk2: " << flag << " " << addr << " " << c << "\n";
  parseMsg(eventToFlagCommand(flag, addr), actTime);
}

void onAcknowledgement(int addr, int nr, int actTime) {
  VeskDevice *display = nullptr;
  for (int i = 0; i < TrueNumVESKD && !display; ++i)
    if (VESKD[i].serial == static_cast<long long>(addr))
      display = &VESKD[i];
  if (!display || display->checkLastMsgId(nr, actTime) || !display->isLostMsg())
    return;
  std::cout << "\nreconnect " << addr << " " << display->lastCommand;
  repeatLastSend(*display, actTime);
}
