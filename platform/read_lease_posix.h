// SPDX-License-Identifier: GPL-3.0-or-later
// Read leases on Linux, and the signal that tells their holder of a writer.
#ifndef FERRYBOX_PLATFORM_READ_LEASE_POSIX_H_
#define FERRYBOX_PLATFORM_READ_LEASE_POSIX_H_

namespace ferrybox {

/// Takes a read lease on `fd`, open for reading only. The first call
/// installs a handler for the lease-break signal (SIGIO) that lets go of a
/// breaking lease at once and passes every other SIGIO on to the handler it
/// replaced. Returns 0 or the errno of fcntl: EAGAIN while anyone has the
/// file open for writing.
int TakeReadLease(int fd);

/// Lets go of the lease TakeReadLease took on `fd`. Returns 0 when it was
/// still held, so that no one has been able to write since it was taken;
/// EAGAIN when it was broken.
int EndReadLease(int fd);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_READ_LEASE_POSIX_H_
