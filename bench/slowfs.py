#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""slowfs.py BACKING MOUNTPOINT DELAY_MS: a network share, imitated.

Mounts BACKING again at MOUNTPOINT through FUSE and waits DELAY_MS before
answering each metadata request (name lookups, attributes, folder listings,
opens, creates, renames, time and mode changes...), as a share one round
trip away would. Reads and writes of file data are not delayed. The kernel
keeps no names or attributes (every timeout 0), so every lookup reaches
this program, and several threads serve the requests, so requests made at
once also wait at once. Times are passed as whole nanoseconds, as network
file systems keep them.

Stays in the foreground until unmounted (fusermount -u MOUNTPOINT). Needs
Debian's python3-fusepy.
"""
import os
import sys
import time

from fusepy import FUSE, Operations

# Requests that would be a round trip on a share.
DELAYED = frozenset({
    'access', 'chmod', 'chown', 'create', 'fsyncdir', 'getattr', 'getxattr',
    'link', 'listxattr', 'mkdir', 'mknod', 'open', 'opendir', 'readdir',
    'readlink', 'removexattr', 'rename', 'rmdir', 'setxattr', 'statfs',
    'symlink', 'truncate', 'unlink', 'utimens'
})

STAT_FIELDS = ('st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_size',
               'st_blocks', 'st_rdev')
STATVFS_FIELDS = ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
                  'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')


class SlowPassthrough(Operations):
    use_ns = True  # times in getattr and utimens as integer nanoseconds

    def __init__(self, backing, delay_seconds):
        self.backing = backing
        self.delay_seconds = delay_seconds

    def __call__(self, op, *args):
        if op in DELAYED:
            time.sleep(self.delay_seconds)
        return super().__call__(op, *args)

    def real(self, path):
        return os.path.join(self.backing, path.lstrip('/'))

    # Metadata. An OSError raised here reaches the caller as its errno.
    def getattr(self, path, fh=None):
        st = os.lstat(self.real(path))
        attributes = {name: getattr(st, name) for name in STAT_FIELDS}
        attributes.update(st_atime=st.st_atime_ns, st_mtime=st.st_mtime_ns,
                          st_ctime=st.st_ctime_ns)
        return attributes

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def readlink(self, path):
        return os.readlink(self.real(path))

    def access(self, path, mode):
        if not os.access(self.real(path), mode, follow_symlinks=False):
            raise PermissionError(13, 'access denied', path)

    def mkdir(self, path, mode):
        os.mkdir(self.real(path), mode)

    def mknod(self, path, mode, dev):
        os.mknod(self.real(path), mode, dev)

    def rmdir(self, path):
        os.rmdir(self.real(path))

    def unlink(self, path):
        os.unlink(self.real(path))

    def symlink(self, target, source):
        os.symlink(source, self.real(target))

    def link(self, target, source):
        os.link(self.real(source), self.real(target))

    def rename(self, old, new):
        os.rename(self.real(old), self.real(new))

    def chmod(self, path, mode):
        os.chmod(self.real(path), mode, follow_symlinks=False)

    def chown(self, path, uid, gid):
        os.lchown(self.real(path), uid, gid)

    def utimens(self, path, times=None):
        if times is None:
            os.utime(self.real(path), follow_symlinks=False)
        else:
            os.utime(self.real(path), ns=(int(times[0]), int(times[1])),
                     follow_symlinks=False)

    def truncate(self, path, length, fh=None):
        if fh is None:
            os.truncate(self.real(path), length)
        else:
            os.ftruncate(fh, length)

    def statfs(self, path):
        s = os.statvfs(self.real(path))
        return {name: getattr(s, name) for name in STATVFS_FIELDS}

    def open(self, path, flags):
        return os.open(self.real(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self.real(path),
                       os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                       mode)

    # File data, not delayed.
    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        if datasync:
            os.fdatasync(fh)
        else:
            os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


def main():
    if len(sys.argv) != 4:
        sys.exit('usage: slowfs.py BACKING MOUNTPOINT DELAY_MS')
    backing, mountpoint, delay_ms = sys.argv[1:]
    try:
        FUSE(SlowPassthrough(os.path.abspath(backing), float(delay_ms) / 1000),
             mountpoint, foreground=True, nothreads=False, attr_timeout=0,
             entry_timeout=0, negative_timeout=0)
    except RuntimeError:
        # libfuse has said why on standard error.
        sys.exit(f'slowfs.py: cannot mount {mountpoint}')


if __name__ == '__main__':
    main()
