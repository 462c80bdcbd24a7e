// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/console_output.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace ferrybox {

ConsoleOutput::ConsoleOutput(int fd, std::function<bool()> stop_requested)
    : fd_(fd), stop_requested_(std::move(stop_requested)) {
  struct stat status;
  // A write to a file or a disk ends by itself; only those skip the wait.
  if (::fstat(fd_, &status) == 0 &&
      (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)))
    may_block_ = false;
  setp(buffer_, buffer_ + sizeof buffer_);
}

ConsoleOutput::~ConsoleOutput() { Drain(); }

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof()))
    return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int ConsoleOutput::sync() { return Drain() ? 0 : -1; }

bool ConsoleOutput::Drain() {
  const size_t size = static_cast<size_t>(pptr() - pbase());
  setp(buffer_, buffer_ + sizeof buffer_);
  if (failed_) return false;
  if (size > 0 && !WriteAll(buffer_, size)) failed_ = true;
  return !failed_;
}

std::chrono::milliseconds ConsoleOutput::WaitLimit() {
  if (!stopping_ && stop_requested_ && stop_requested_()) {
    stopping_ = true;
    stop_deadline_ = std::chrono::steady_clock::now() + kStopGrace;
  }
  if (!stopping_) return kStopCheck;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      stop_deadline_ - std::chrono::steady_clock::now());
  return std::clamp(left, std::chrono::milliseconds(0), kStopCheck);
}

bool ConsoleOutput::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    size_t step = size;
    if (may_block_) {
      const std::chrono::milliseconds limit = WaitLimit();
      pollfd room = {fd_, POLLOUT, 0};
      // poll is never restarted after a signal handler: a stop ends the
      // wait at once.
      const int ready = ::poll(&room, 1, static_cast<int>(limit.count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) {
        if (limit.count() == 0) return false;  // past the stop's grace
        continue;
      }
      // Room was promised for this much (an error shows in the write).
      step = std::min<size_t>(size, PIPE_BUF);
    }
    const ssize_t written = ::write(fd_, data, step);
    if (written < 0) {
      // A descriptor someone else made non-blocking: wait for room again.
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace ferrybox
