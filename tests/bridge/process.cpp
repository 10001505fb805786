#include "process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return done();
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

BridgeProcess::BridgeProcess(const std::string &program, const Environment &environment) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0)
    throw std::runtime_error("pipe");
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto &[name, value] : environment)
      replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced)
      env.push_back(entry);
  }
  for (const auto &[name, value] : environment)
    env.push_back(name + "=" + value);
  std::vector<char *> envp;
  for (auto &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = program;
  char *argv[] = {path.data(), nullptr};

  pid_ = fork();
  if (pid_ < 0)
    throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execve(path.c_str(), argv, envp.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
  reader_ = std::thread([this] { collect(); });
}

void BridgeProcess::collect() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    std::lock_guard<std::mutex> lock(mutex_);
    output_.append(buffer, static_cast<std::size_t>(n));
  }
}

BridgeProcess::~BridgeProcess() {
  if (!status_) {
    kill(pid_, SIGTERM);
    if (!waitForExit(3s)) {
      kill(pid_, SIGKILL);
      waitForExit(3s);
    }
  }
  if (reader_.joinable())
    reader_.join();
  close(out_);
}

std::string BridgeProcess::output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

bool BridgeProcess::waitForOutput(const std::string &text, std::chrono::milliseconds limit) const {
  return eventually([&] { return output().find(text) != std::string::npos; }, limit);
}

std::size_t BridgeProcess::count(const std::string &text) const {
  const std::string all = output();
  std::size_t n = 0;
  for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
    ++n;
  return n;
}

std::chrono::milliseconds BridgeProcess::cpuTime() const {
  // Fields 14 and 15 of /proc/<pid>/stat, after the parenthesised name.
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream rest(all.substr(all.rfind(')') + 2));
  std::string field;
  long long ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i)
    if (i >= 14)
      ticks += std::stoll(field);
  return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
}

std::optional<int> BridgeProcess::waitForExit(std::chrono::milliseconds limit) {
  if (status_)
    return status_;
  eventually(
      [&] {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_)
          status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_.has_value();
      },
      limit);
  return status_;
}

// ---- race server ----

namespace {
int listenOn(unsigned short port, unsigned short &chosen, bool startListening) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
    throw std::runtime_error("bind");
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  chosen = ntohs(addr.sin_port);
  if (startListening && ::listen(fd, 4) != 0)
    throw std::runtime_error("listen");
  return fd;
}

bool readable(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(limit.count())) == 1;
}
} // namespace

RaceServer::RaceServer() { listener_ = listenOn(0, port_, true); }

RaceServer::~RaceServer() {
  closeClient();
  stopListening();
}

std::string RaceServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

bool RaceServer::accept(std::chrono::milliseconds limit) {
  if (listener_ < 0 || !readable(listener_, limit))
    return false;
  closeClient();
  client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return client_ >= 0;
}

std::string RaceServer::receive(std::size_t max, std::chrono::milliseconds limit) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (got.size() < max) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readable(client_, left))
      break;
    char buffer[256];
    const ssize_t n = ::recv(client_, buffer, std::min(sizeof buffer, max - got.size()), 0);
    if (n <= 0)
      break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void RaceServer::send(const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0)
      throw std::runtime_error("send to the bridge failed");
    done += static_cast<std::size_t>(n);
  }
}

void RaceServer::closeClient() {
  if (client_ >= 0)
    close(client_);
  client_ = -1;
}

void RaceServer::resetClient() {
  linger abort{1, 0};
  setsockopt(client_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  closeClient();
}

void RaceServer::stopListening() {
  if (listener_ >= 0)
    close(listener_);
  listener_ = -1;
}

ReservedPort::ReservedPort() { fd_ = listenOn(0, port_, false); }

ReservedPort::~ReservedPort() { close(fd_); }

std::string ReservedPort::address() const { return "127.0.0.1:" + std::to_string(port_); }

void ReservedPort::listen() {
  if (::listen(fd_, 4) != 0)
    throw std::runtime_error("listen");
}

bool ReservedPort::connectionWaiting(std::chrono::milliseconds limit) const {
  return readable(fd_, limit);
}
