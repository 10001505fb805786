// SIGINT, SIGTERM and SIGHUP end vesksim's commands in order (children
// stopped, nothing left behind) instead of killing it on the spot.
#pragma once

#include <csignal>

namespace vesksim {

void catchEndSignals();
// The last end signal that came, 0 for none.
int endSignal();
// Called from the signal handler: must be async-signal-safe.
void onEndSignal(void (*hook)());

}  // namespace vesksim
