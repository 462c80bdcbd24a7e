// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace ferrybox {
namespace {

// Read by the run's threads as well: an atomic, and one a handler may set.
std::atomic<bool> stop_signal_received{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { stop_signal_received = true; }

}  // namespace

bool InstallStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  bool ok = sigaction(SIGINT, &action, nullptr) == 0;
  ok = sigaction(SIGTERM, &action, nullptr) == 0 && ok;

  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ok = sigaction(SIGPIPE, &ignore, nullptr) == 0 && ok;
  ok = sigaction(SIGXFSZ, &ignore, nullptr) == 0 && ok;
  return ok;
}

bool StopSignalReceived() { return stop_signal_received; }

}  // namespace ferrybox
