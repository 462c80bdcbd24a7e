#!/usr/bin/python3
"""close_fails_fs.py BACKING MOUNTPOINT: a passthrough FUSE file system on which closing a file
that was written fails with EIO, as on a share or a full disk that only reports at close. Returns
once mounted (the file system goes on in the background). Needs python3-fusepy and
/usr/bin/python3. Unmount with umount or fusermount -u MOUNTPOINT."""
import errno, os, sys
from fusepy import FUSE, FuseOSError, Operations

class CloseFails(Operations):
    use_ns = True

    def __init__(self, root):
        self.root, self.written = root, set()
    def _p(self, path):
        return os.path.join(self.root, path.lstrip('/'))
    def __call__(self, op, *args):
        try:
            return super().__call__(op, *args)
        except OSError as e:
            raise FuseOSError(e.errno)
    def getattr(self, path, fh=None):
        st = os.lstat(self._p(path))
        d = {k: getattr(st, k) for k in ('st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_size')}
        d.update(st_atime=st.st_atime_ns, st_mtime=st.st_mtime_ns, st_ctime=st.st_ctime_ns)
        return d
    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._p(path))
    def mkdir(self, path, mode):
        os.mkdir(self._p(path), mode)
    def rmdir(self, path):
        os.rmdir(self._p(path))
    def unlink(self, path):
        os.unlink(self._p(path))
    def rename(self, old, new):
        os.rename(self._p(old), self._p(new))
    def chmod(self, path, mode):
        os.chmod(self._p(path), mode)
    def chown(self, path, uid, gid):
        os.lchown(self._p(path), uid, gid)
    def utimens(self, path, times=None):
        os.utime(self._p(path), ns=(int(times[0]), int(times[1])) if times else None)
    def truncate(self, path, length, fh=None):
        os.truncate(self._p(path), length)
    def open(self, path, flags):
        return os.open(self._p(path), flags)
    def create(self, path, mode, fi=None):
        return os.open(self._p(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)
    def write(self, path, data, offset, fh):
        self.written.add(fh)
        return os.pwrite(fh, data, offset)
    def flush(self, path, fh):
        if fh in self.written:
            raise FuseOSError(errno.EIO)
        return 0
    def release(self, path, fh):
        self.written.discard(fh)
        os.close(fh)
        return 0
    def fsync(self, path, datasync, fh):
        os.fsync(fh)
        return 0
    def statfs(self, path):
        s = os.statvfs(self._p(path))
        return {k: getattr(s, k) for k in ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
                                           'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

if __name__ == '__main__':
    FUSE(CloseFails(os.path.abspath(sys.argv[1])), sys.argv[2], foreground=False,
         attr_timeout=0, entry_timeout=0)
