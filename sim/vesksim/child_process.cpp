#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vesksim {

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status()) stop();
  if (reader_.joinable()) reader_.join();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const Environment& additions, LineSink sink,
                         std::string& error, bool ownGroup) {
  if (argv.empty()) {
    error = "no program given";
    return false;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : additions) replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : additions) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  // The exec's errno comes back through a pipe that a successful exec closes.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  int output[2] = {-1, -1};
  if (sink && ::pipe2(output, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // the parent is already gone
    if (ownGroup) ::setpgid(0, 0);
    if (output[1] >= 0) {
      ::dup2(output[1], 1);
      ::dup2(output[1], 2);
    }
    // Signals that vesksim handles are the child's own again.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvpe(argp[0], argp.data(), envp.data());
    const int code = errno;
    [[maybe_unused]] ssize_t n = ::write(report[1], &code, sizeof code);
    ::_exit(127);
  }
  ::close(report[1]);
  if (output[1] >= 0) ::close(output[1]);
  int code = 0;
  ssize_t n;
  do n = ::read(report[0], &code, sizeof code);
  while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == sizeof code) {
    if (output[0] >= 0) ::close(output[0]);
    waitFor(std::chrono::seconds(5));
    error = std::strerror(code);
    pid_ = -1;
    return false;
  }
  if (sink) {
    sink_ = std::move(sink);
    reader_ = std::thread([this, fd = output[0]] { collect(fd); });
  }
  return true;
}

void ChildProcess::collect(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      sink_(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty()) sink_(pending);
  ::close(fd);
}

std::optional<int> ChildProcess::status() {
  if (status_ || pid_ <= 0) return status_;
  int raw = 0;
  const pid_t r = ::waitpid(pid_, &raw, WNOHANG);
  if (r == pid_) status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

bool ChildProcess::running() { return pid_ > 0 && !status(); }

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!status() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return status();
}

void ChildProcess::signal(int sig) {
  if (running()) ::kill(pid_, sig);
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
  signal(SIGTERM);
  if (!waitFor(grace)) {
    signal(SIGKILL);
    waitFor(std::chrono::seconds(5));
  }
  if (reader_.joinable()) reader_.join();
  return status_.value_or(-1);
}

}  // namespace vesksim
