// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM as the "Stop" button of a command-line run.
#ifndef FERRYBOX_CLI_STOP_SIGNALS_H_
#define FERRYBOX_CLI_STOP_SIGNALS_H_

namespace ferrybox {

/// From now on SIGINT and SIGTERM only raise a flag (interrupted system
/// calls resume), and neither a closed standard output nor a file-size
/// limit kills the process: the write fails instead (the copy that hit the
/// limit is reported as failed), and the backup goes on. Returns false when
/// the handlers could not be installed.
bool InstallStopSignals();

/// Whether SIGINT or SIGTERM has arrived since InstallStopSignals(); safe
/// on any thread.
bool StopSignalReceived();

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_STOP_SIGNALS_H_
