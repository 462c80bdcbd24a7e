// SPDX-License-Identifier: GPL-3.0-or-later
// A program run as a real child process, its standard output on a pipe.
#ifndef FERRYBOX_TESTS_SUPPORT_CHILD_PROCESS_H_
#define FERRYBOX_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ferrybox::testing {

/// Output is read only as the test asks, so a test can leave the child
/// blocked on a full pipe. Every wait is bounded.
class ChildProcess {
 public:
  using Seconds = std::chrono::duration<double>;
  using Clock = std::chrono::steady_clock;
  /// Where the child's standard error goes.
  enum class Err { kInherited, kWithOut };

  ChildProcess(const std::string& program, std::vector<std::string> args,
               Err err = Err::kInherited) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (err == Err::kWithOut)
      posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(),
                    environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    fd_ = out[0];
  }

  ~ChildProcess() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }

  bool started() const { return pid_ > 0; }
  void Signal(int signal) { kill(pid_, signal); }
  const std::string& out() const { return out_; }

  /// Bytes written to the pipe and not read yet.
  int Unread() const {
    int bytes = 0;
    return ioctl(fd_, FIONREAD, &bytes) == 0 ? bytes : -1;
  }

  /// Reads until standard output holds `text`; false if it ends first or
  /// `limit` passes.
  bool ReadOutputUntil(const std::string& text, Seconds limit = Seconds(10)) {
    const auto deadline = Deadline(limit);
    while (out_.find(text) == std::string::npos)
      if (!ReadSome(deadline)) return false;
    return true;
  }

  /// Waits for the child without reading. Returns its exit status, 1000 +
  /// the signal that ended it, or -1 when it is still running after
  /// `limit`.
  int WaitExit(Seconds limit) {
    const auto deadline = Deadline(limit);
    for (;;) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        finished_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status)
                                 : 1000 + WTERMSIG(status);
      }
      if (done != 0 || Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  /// Reads standard output to its end and waits for the child, both within
  /// `limit`. Returns as WaitExit does.
  int Finish(Seconds limit = Seconds(20)) {
    const auto deadline = Deadline(limit);
    while (ReadSome(deadline)) {
    }
    return WaitExit(deadline - Clock::now());
  }

 private:
  static Clock::time_point Deadline(Seconds limit) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
  }

  // False at the end of the output or past the deadline.
  bool ReadSome(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd readable = {fd_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    out_.append(buffer, n);
    return true;
  }

  pid_t pid_ = -1;
  bool finished_ = false;
  int fd_ = -1;
  std::string out_;
};

/// The lines of `text`, without their line breaks.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_CHILD_PROCESS_H_
