#include "signals.h"

#include <atomic>

namespace vesksim {

namespace {
volatile std::sig_atomic_t received = 0;
std::atomic<void (*)()> hook{nullptr};

void handler(int sig) {
  received = sig;
  if (auto h = hook.load()) h();
}
}  // namespace

void catchEndSignals() {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int endSignal() { return received; }

void onEndSignal(void (*h)()) { hook = h; }

}  // namespace vesksim
