// A program run as a real child process, its standard output on a pipe.
#ifndef FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_
#define FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace ferrybox::testing {

/// Output is read only as the test asks, so a test can leave the child
/// blocked on a full pipe.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(),
                    environ) != 0) {
      pid_ = -1;
    }
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

  /// Reads until standard output holds `text`; false if it ends first.
  bool ReadOutputUntil(const std::string& text) {
    while (out_.find(text) == std::string::npos) {
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      out_.append(buffer, n);
    }
    return true;
  }

  /// Reads standard output to its end and waits for the child. Returns its
  /// exit status, or 1000 + the signal that ended it.
  int Finish() {
    char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      out_.append(buffer, n);
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  bool finished_ = false;
  int fd_ = -1;
  std::string out_;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_
