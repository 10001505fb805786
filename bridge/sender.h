// Race command processing: the command stream parser, the display registry
// with each display's state and acknowledgement watch, flags, RPM limits,
// result screens and their timed return.
//
// Everything here runs on the main thread and reaches the displays only
// through the VESK_* wrappers of vesk.h.
#ifndef VESKBRIDGE_SENDER_H
#define VESKBRIDGE_SENDER_H

#include <array>
#include <string>
#include <vector>

// One result screen text: 7 UTF-16 units and the terminating zero.
using DisplayText = std::array<char16_t, 8>;

// The last library call made for a display, kept so that a send counted as
// lost can be made again exactly as it was.
struct SentCommand {
  enum class Kind { none, flag, rpmLimit, results };
  Kind kind = Kind::none;
  int conn = 0;
  int addr = 0;
  int value = 0; // flag code, RPM limit, or background picture number
  std::array<DisplayText, 4> texts{};
};

struct VDLastResults {
  std::string lastLap;
  std::string pos;
  std::string bestLap;
  std::string gap;
  int bcg = 0;
  int lastModTimestamp = 0;
  bool waitToReturn = false;
};

class VeskDevice {
public:
  VeskDevice();

  // Send recording: resetLastMsgId just before a library call,
  // setLastMsgId with the id it returned (which also cancels a pending
  // timed return).
  void setLastMsgId(int msgId);
  void resetLastMsgId(int time);

  // Checks an acknowledgement of message id msgId received at time. True
  // when nothing is under watch, when the last send is already acknowledged,
  // or when msgId is the awaited id. An acknowledgement with another id more
  // than 8 s after the send marks the send lost.
  bool checkLastMsgId(int msgId, int time);
  bool isOk() const;
  bool isLostMsg() const;

  void storeActualResults(const std::string &lastLap, const std::string &pos,
                          const std::string &bestLap, const std::string &gap, int bcg,
                          int actTimestamp);

  // Performs a due timed return: the stored results over background code 1
  // 8 s after they were shown (at once after a flag clear), or the blank
  // screen 50 s after the end of race. Returns 0 when nothing is pending,
  // 1 when a return is pending but not due, 2 when one was just performed.
  int returnAfterChangeResults(int time);

  int testTimestamp = 0;
  bool flagOK = false;
  bool flagLost = false;
  int lastMsgId = 0;
  bool nowIsFlag = false;
  int lastFlag = 0;
  VDLastResults VDLR;
  long long serial = 0;
  bool endRace = false;
  std::string lastCommand;
  SentCommand lastSend;
};

constexpr int maxDisplays = 255;
extern VeskDevice VESKD[maxDisplays];
extern int TrueNumVESKD;
extern int VESKC;

// Cuts str at every occurrence of ch; n separators give n + 1 fields.
std::vector<std::string> explode(const std::string &str, const std::string &ch);

// Carries out every "@" command of one message in order. Always returns 0.
int parseMsg(std::string txt, int actTime);

void initVESKD(std::string txt);

void prepareFlag(std::string txt, int actTime);
void sendFlag(VeskDevice *LD, int flag, int actTime, bool noReturn);
void prepareRPMLimit(std::string txt, int actTime);
void sendRPMLimit(VeskDevice *LD, int RPMLimit, int actTime, bool noReturn);
void prepareActualResults(std::string txt, int actTime);
void sendActualResults(VeskDevice *LD, const std::string &lastLap, const std::string &pos,
                       const std::string &bestLap, const std::string &gap, int bcg,
                       int actTimestamp, bool noReturn);

// Background picture number of a result screen's background code.
int backgroundPicture(int bcg);

// Makes the display's last library call again, with a new watch on its
// acknowledgement; the display's flag and return state stay as they are.
void repeatLastSend(VeskDevice &LD, int actTime);

// The two device events of the poll, with the time taken on entry.
// A display event becomes a flag command through the parser; an
// acknowledgement is matched against the display's last send, and a send
// counted as lost is reported and repeated.
std::string eventToFlagCommand(int flag, int addr);
void onDisplayEvent(int flag, int addr, int c, int actTime);
void onAcknowledgement(int addr, int nr, int actTime);

#endif
