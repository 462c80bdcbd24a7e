// SPDX-License-Identifier: GPL-3.0-or-later
// Running part of a test as another user, in a child process.
#ifndef FERRYBOX_TESTS_SUPPORT_OTHER_USER_H_
#define FERRYBOX_TESTS_SUPPORT_OTHER_USER_H_

#include <grp.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace ferrybox::testing {

/// A user id no account has; it owns no process.
inline constexpr uid_t kOtherUser = 4242;

/// Runs `body` in a child process as kOtherUser, for at most 20 seconds;
/// true when it returned true. Needs root.
inline bool AsOtherUser(const std::function<bool()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    const bool ok = setgroups(0, nullptr) == 0 && setgid(kOtherUser) == 0 &&
                    setuid(kOtherUser) == 0 && body();
    _exit(ok ? 0 : 1);
  }
  for (int wait = 0; wait < 2000; ++wait) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    usleep(10'000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return false;
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_OTHER_USER_H_
