// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/stop_signals.h"

#include <signal.h>

namespace ferrybox {
namespace {

volatile sig_atomic_t stop_signal_received = 0;

void OnStopSignal(int) { stop_signal_received = 1; }

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

bool StopSignalReceived() { return stop_signal_received != 0; }

}  // namespace ferrybox
