#!/usr/bin/python3
"""A card that lies, for tests: serves one file, card.img, through FUSE.

It claims CLAIMS bytes. Writes past KEEPS bytes vanish and reads there return zeros, as
on a counterfeit card whose controller claims more than its flash holds. With --flip, one
bit is flipped in the first byte of every 64th 4 KiB block from FLIP on, on every read, as
on a failing card. Pages are never cached by the kernel (direct_io), so every read of the
file reaches this process.

    faulty_card.py MOUNT_POINT --claims BYTES --keeps BYTES [--flip BYTES]

Runs in the foreground until the mount point is unmounted.
"""
import argparse
import errno
import stat
import sys
import time

from fusepy import FUSE, FuseOSError, Operations

BLOCK = 4096


class FaultyCard(Operations):
    use_ns = True

    def __init__(self, claims, keeps, flip):
        self.claims, self.keeps, self.flip = claims, keeps, flip
        self.blocks = {}  # block number -> bytearray; absent blocks read as zeros
        self.now = time.time_ns()

    def getattr(self, path, fh=None):
        if path == '/':
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2, st_atime=self.now,
                        st_mtime=self.now, st_ctime=self.now)
        if path == '/card.img':
            return dict(st_mode=stat.S_IFREG | 0o644, st_nlink=1, st_size=self.claims,
                        st_atime=self.now, st_mtime=self.now, st_ctime=self.now)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return ['.', '..', 'card.img']

    def open(self, path, flags):
        if path != '/card.img':
            raise FuseOSError(errno.ENOENT)
        return 0

    def truncate(self, path, length, fh=None):
        return 0

    def read(self, path, size, offset, fh):
        size = max(0, min(size, self.claims - offset))
        out = bytearray(size)
        at = offset
        while at < offset + size:
            number, inside = divmod(at, BLOCK)
            take = min(BLOCK - inside, offset + size - at)
            block = self.blocks.get(number)
            if block is not None:
                out[at - offset:at - offset + take] = block[inside:inside + take]
            if (self.flip is not None and number * BLOCK >= self.flip and number % 64 == 7
                    and inside == 0):
                out[at - offset] ^= 0x10
            at += take
        return bytes(out)

    def write(self, path, data, offset, fh):
        at = offset
        while at < offset + len(data):
            number, inside = divmod(at, BLOCK)
            take = min(BLOCK - inside, offset + len(data) - at)
            if at < self.keeps:
                block = self.blocks.setdefault(number, bytearray(BLOCK))
                block[inside:inside + take] = data[at - offset:at - offset + take]
            at += take
        return len(data)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('mount_point')
    parser.add_argument('--claims', type=int, required=True)
    parser.add_argument('--keeps', type=int, required=True)
    parser.add_argument('--flip', type=int, default=None)
    args = parser.parse_args()
    FUSE(FaultyCard(args.claims, args.keeps, args.flip), args.mount_point, foreground=True,
         direct_io=True, allow_other=False)


if __name__ == '__main__':
    sys.exit(main())
