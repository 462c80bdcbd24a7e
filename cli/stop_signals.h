// SIGINT and SIGTERM as the "Stop" button of a command-line run.
#ifndef FERRYBOX_CLI_STOP_SIGNALS_H_
#define FERRYBOX_CLI_STOP_SIGNALS_H_

namespace ferrybox {

/// From now on SIGINT and SIGTERM only raise a flag (interrupted system
/// calls resume), and a closed standard output no longer kills the
/// process: writes to it fail instead, and the backup goes on. Returns
/// false when the handlers could not be installed.
bool InstallStopSignals();

/// Whether SIGINT or SIGTERM has arrived since InstallStopSignals().
bool StopSignalReceived();

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_STOP_SIGNALS_H_
