// Binds the bridge's library pointers to recorders and captures the console,
// so that commands can be run in-process with the time given by the test.
#ifndef VESKBRIDGE_TEST_RECORDER_H
#define VESKBRIDGE_TEST_RECORDER_H

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sender.h"
#include "vesk.h"

struct LibraryCall {
  std::string name;              // "sendFlag", "setRPMLimit", "sendMessage4"
  std::vector<long long> args;   // every integer argument, in order
  std::vector<std::u16string> texts; // sendMessage4: the four 8-unit buffers, whole
  int id = 0;                    // message id returned

  int addr() const { return static_cast<int>(args.at(1)); }
  long long value() const { return args.at(2); } // flag, limit or picture
};

extern std::vector<LibraryCall> calls;

class BridgeTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Empty table and console, recorders bound: the state of a new run.
  void reset();
  // Everything printed since the last call.
  std::string console();
  void parse(const std::string &message, int time) { parseMsg(message, time); }
  // Registers displays and forgets the console and calls that caused.
  void registerDisplays(const std::string &serials);
  VeskDevice &display(int index) { return VESKD[index]; }
  std::vector<LibraryCall> callsNamed(const std::string &name) const;

private:
  std::ostringstream out_;
  std::streambuf *saved_ = nullptr;
};

#endif
