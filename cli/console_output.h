// SPDX-License-Identifier: GPL-3.0-or-later
// Standard output and standard error that a stop can always get past.
#ifndef FERRYBOX_CLI_CONSOLE_OUTPUT_H_
#define FERRYBOX_CLI_CONSOLE_OUTPUT_H_

#include <chrono>
#include <functional>
#include <streambuf>

namespace ferrybox {

/// A stream buffer that writes to a file descriptor without ever sitting in
/// a write the program cannot leave. A reader that stops reading (a pipe to
/// a stalled program, a terminal on hold) makes a blocking write wait for
/// as long as it likes, and a signal does not end that wait: the write is
/// restarted. So on a pipe, a socket or a terminal every write is preceded
/// by a wait for room that a signal ends, and is no larger than the room
/// that wait promises (PIPE_BUF). Once `stop_requested` says true, the
/// waits for room end kStopGrace later, so that a reader still reading
/// receives the closing line; output that finds no room after that is
/// dropped, and so is everything after it: the stream fails, and a line is
/// never continued by a later one. Regular files are written directly.
class ConsoleOutput : public std::streambuf {
 public:
  /// `fd` stays open and owned by the caller. `stop_requested` may be empty.
  ConsoleOutput(int fd, std::function<bool()> stop_requested);
  ~ConsoleOutput() override;
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  /// Longest wait before the stop request is looked at again, should the
  /// signal arrive just before the wait begins.
  static constexpr std::chrono::milliseconds kStopCheck{100};
  /// How long output may still take after a stop was requested.
  static constexpr std::chrono::milliseconds kStopGrace{250};

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();
  bool WriteAll(const char* data, size_t size);
  /// The longest wait for room now; 0 once the stop's grace has passed.
  std::chrono::milliseconds WaitLimit();

  int fd_;
  std::function<bool()> stop_requested_;
  bool may_block_ = true;
  bool failed_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stop_deadline_{};
  char buffer_[4096];
};

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_CONSOLE_OUTPUT_H_
