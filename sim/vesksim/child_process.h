// A child program started with additions to the environment, optionally
// with its standard output and standard error collected line by line.
// The child gets SIGTERM when vesksim goes away, however that happens, so
// that no child outlives it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vesksim {

using Environment = std::vector<std::pair<std::string, std::string>>;

class ChildProcess {
 public:
  // Called on the reader's thread for each line of output (without its end).
  using LineSink = std::function<void(const std::string&)>;

  ChildProcess() = default;
  ~ChildProcess();  // ends the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (searched in PATH when it has no '/'). With a sink the
  // child's output goes to it, otherwise the child shares vesksim's own.
  // With `ownGroup` the child gets a process group of its own, so that a
  // Ctrl-C on the terminal reaches vesksim alone, which then stops the
  // child in order. False with `error` when the program cannot be started.
  bool start(const std::vector<std::string>& argv, const Environment& additions, LineSink sink,
             std::string& error, bool ownGroup = false);

  pid_t pid() const { return pid_; }
  bool running();
  // The exit status (128 + signal number for a signal), once it has ended.
  std::optional<int> status();
  std::optional<int> waitFor(std::chrono::milliseconds limit);
  void signal(int sig);
  // SIGTERM, then SIGKILL if it has not ended within `grace`; waits for it.
  int stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

 private:
  void collect(int fd);
  pid_t pid_ = -1;
  std::optional<int> status_;
  LineSink sink_;
  std::thread reader_;
};

}  // namespace vesksim
