// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/read_lease_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>

#include <atomic>

namespace ferrybox {
namespace {

// The kernel tells the holder of a lease that someone wants to write with
// this signal; F_SETSIG names it explicitly so that the handler learns the
// descriptor.
constexpr int kBreakSignal = SIGIO;

// Descriptors holding one of our leases, each stored as fd + 1 (0 marks a
// free slot), so that the handler can tell our leases from any other use
// of the signal without a lock. Enough for the run and every thread that
// copies ahead of it.
constexpr int kSlots = 64;
std::atomic<int> leased_fds[kSlots];

struct sigaction previous_action;

void OnBreakSignal(int signal, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  bool ours = false;
  if (info != nullptr && info->si_code == POLL_MSG) {
    for (const std::atomic<int>& slot : leased_fds)
      if (slot.load() == info->si_fd + 1) ours = true;
  }
  if (ours) {
    // The writer is waiting in its open: let go at once. The holder sees
    // the lease gone when it ends the copy.
    fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
  } else if ((previous_action.sa_flags & SA_SIGINFO) != 0) {
    if (previous_action.sa_sigaction != nullptr)
      previous_action.sa_sigaction(signal, info, context);
  } else if (previous_action.sa_handler != SIG_DFL &&
             previous_action.sa_handler != SIG_IGN) {
    previous_action.sa_handler(signal);
  }
  // Otherwise the signal would have ended the program before we took it
  // over; nothing in the program asks for it, so it is dropped.
  errno = saved_errno;
}

bool HandlerInstalled() {
  static const bool installed = [] {
    if (sigaction(kBreakSignal, nullptr, &previous_action) != 0) return false;
    struct sigaction action = {};
    action.sa_sigaction = OnBreakSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(kBreakSignal, &action, nullptr) == 0;
  }();
  return installed;
}

}  // namespace

int TakeReadLease(int fd) {
  // Without the handler a breaking lease would end the program.
  if (!HandlerInstalled()) return ENOTSUP;
  std::atomic<int>* slot = nullptr;
  for (std::atomic<int>& candidate : leased_fds) {
    int free = 0;
    if (candidate.compare_exchange_strong(free, fd + 1)) {
      slot = &candidate;
      break;
    }
  }
  if (slot == nullptr) return EBUSY;
  if (fcntl(fd, F_SETSIG, kBreakSignal) != 0 ||
      fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
    const int error = errno;
    slot->store(0);
    return error;
  }
  return 0;
}

int EndReadLease(int fd) {
  // Gone already when the handler let go of it, or when the kernel took it
  // away after the break time.
  const int error = fcntl(fd, F_SETLEASE, F_UNLCK) == 0 ? 0 : errno;
  for (std::atomic<int>& slot : leased_fds) {
    int ours = fd + 1;
    if (slot.compare_exchange_strong(ours, 0)) break;
  }
  return error;
}

}  // namespace ferrybox
