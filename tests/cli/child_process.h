// Runs a program as a real child process with its output captured.
#ifndef FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_
#define FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace ferrybox::testing {

struct ChildOptions {
  /// Gives the child a terminal as standard error (TERM=xterm).
  bool err_on_terminal = false;
};

/// A child whose standard output is a pipe and whose standard error is a
/// pipe or, on request, a pseudo-terminal. Output is read as the test asks,
/// so a test can leave the child blocked on a full pipe.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               ChildOptions options = {}) {
    int out_pipe[2];
    int err_pipe[2] = {-1, -1};
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return;
    int err_child = -1;
    if (options.err_on_terminal) {
      if (openpty(&err_pipe[0], &err_pipe[1], nullptr, nullptr, nullptr) != 0)
        return;
      fcntl(err_pipe[0], F_SETFD, FD_CLOEXEC);
      fcntl(err_pipe[1], F_SETFD, FD_CLOEXEC);
    } else if (pipe2(err_pipe, O_CLOEXEC) != 0) {
      return;
    }
    err_child = err_pipe[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_child, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                     O_RDONLY, 0);

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).starts_with("TERM=")) continue;
      env_strings.push_back(*e);
    }
    env_strings.push_back(options.err_on_terminal ? "TERM=xterm" : "TERM=dumb");
    std::vector<char*> envp;
    for (std::string& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argv_strings = {program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(),
                    envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }

  ~ChildProcess() {
    if (pid_ > 0 && status_ == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }

  bool started() const { return pid_ > 0; }
  void Signal(int signal) { kill(pid_, signal); }

  /// Reads until standard output holds `text` or ends; returns whether it
  /// does.
  bool ReadOutputUntil(const std::string& text) {
    while (out_.find(text) == std::string::npos) {
      if (!ReadOnce()) return out_.find(text) != std::string::npos;
    }
    return true;
  }

  /// Reads both outputs to their end and waits for the child. Returns its
  /// exit status, or 1000 + the signal that ended it.
  int Finish() {
    while (ReadOnce()) {
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return status_;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // One read from whichever output is ready; false once both have ended.
  bool ReadOnce() {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    if (poll(fds, 2, 30000) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      int& fd = i == 0 ? out_fd_ : err_fd_;
      // A terminal whose other side closed reports EIO instead of the end.
      if (n <= 0) {
        close(fd);
        fd = -1;
      } else {
        (i == 0 ? out_ : err_).append(buffer, n);
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int status_ = -1;
  std::string out_;
  std::string err_;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_CLI_CHILD_PROCESS_H_
