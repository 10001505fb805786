// The real veskbridge as a child process, and a race server played on
// 127.0.0.1, for the end-to-end tests. Every wait is bounded.
#ifndef VESKBRIDGE_TEST_PROCESS_H
#define VESKBRIDGE_TEST_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using Environment = std::vector<std::pair<std::string, std::string>>;

// Waits until done() holds or the time is up; the last answer of done().
bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit);

class BridgeProcess {
public:
  // Starts program with the given additions to the environment; standard
  // output and standard error are both collected.
  BridgeProcess(const std::string &program, const Environment &environment);
  ~BridgeProcess(); // ends the process if it still runs
  BridgeProcess(const BridgeProcess &) = delete;
  BridgeProcess &operator=(const BridgeProcess &) = delete;

  pid_t pid() const { return pid_; }
  std::string output() const;
  bool waitForOutput(const std::string &text, std::chrono::milliseconds limit) const;
  std::size_t count(const std::string &text) const;
  // Processor time (user and system) the process has used so far.
  std::chrono::milliseconds cpuTime() const;
  // The exit status, or nothing when the process still runs after limit.
  std::optional<int> waitForExit(std::chrono::milliseconds limit);

private:
  void collect();
  pid_t pid_ = -1;
  int out_ = -1;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  std::string output_;
  std::thread reader_;
};

class RaceServer {
public:
  RaceServer(); // listens on 127.0.0.1, on a port of the system's choice
  ~RaceServer();
  RaceServer(const RaceServer &) = delete;
  RaceServer &operator=(const RaceServer &) = delete;

  std::string address() const; // "127.0.0.1:port", for VESKBRIDGE_SERVER
  bool accept(std::chrono::milliseconds limit);
  // Bytes that came from the bridge within limit, at most max of them.
  std::string receive(std::size_t max, std::chrono::milliseconds limit);
  void send(const std::string &bytes);
  void closeClient();
  void resetClient(); // closes with a reset: the bridge's receive fails
  void stopListening();

private:
  int listener_ = -1;
  int client_ = -1;
  unsigned short port_ = 0;
};

// An unused port on 127.0.0.1 that refuses connections until listened on.
class ReservedPort {
public:
  ReservedPort();
  ~ReservedPort();
  std::string address() const;
  void listen();
  // A connection waits to be accepted within limit.
  bool connectionWaiting(std::chrono::milliseconds limit) const;

private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

#endif
