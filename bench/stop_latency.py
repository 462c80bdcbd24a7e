#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""stop_latency.py CLI WORK [DELAY_MS] [MOMENTS...]: how long ferrybox-cli
takes to end after SIGTERM, onto a share that answers each metadata request
after DELAY_MS (500 unless given; bench/slowfs.py, which needs /dev/fuse and
Debian's python3-fusepy).

WORK holds src/, the source tree (build/bench/make-bench-tree share
WORK/src); the share's backing folder and mount point are made there. For
every moment (seconds after the start, 1 to 10 unless given) two runs are
timed: a full run into a new destination folder, and an incremental run into
an existing backup after every 7th source file was given a new time. Prints
one line per run: the case, the moment, the exit status and the seconds from
the signal to the exit (None when the run ended before the signal).
"""
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SLOWFS = os.path.join(HERE, 'slowfs.py')


def mounted(path):
    with open('/proc/mounts') as mounts:
        return any(line.split()[1] == path for line in mounts)


def touch_some(src, step, stamp):
    n = 0
    for folder, _, files in sorted(os.walk(src)):
        for name in sorted(files):
            n += 1
            if n % step == 0:
                os.utime(os.path.join(folder, name), ns=(stamp, stamp))


def timed(cli, args, moment, env):
    proc = subprocess.Popen([cli] + args, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env)
    time.sleep(moment)
    if proc.poll() is not None:
        return proc.returncode, None
    sent = time.monotonic()
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=120)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    took = time.monotonic() - sent
    return proc.returncode, took


def main():
    cli, work = sys.argv[1], os.path.abspath(sys.argv[2])
    delay = sys.argv[3] if len(sys.argv) > 3 else '500'
    moments = [float(m) for m in sys.argv[4:]] or [1, 2, 3, 4, 5, 6, 8, 10]
    src = os.path.join(work, 'src')
    backing = os.path.join(work, 'backing')
    mount = os.path.join(work, 'share')
    os.makedirs(mount, exist_ok=True)
    if os.path.exists(backing):
        shutil.rmtree(backing)
    os.makedirs(backing)
    env = dict(os.environ)
    # The existing backup, made straight into the backing folder.
    subprocess.run([cli, src, os.path.join(backing, 'existing')],
                   stdout=subprocess.DEVNULL, env=env, check=True)
    server = subprocess.Popen(['/usr/bin/python3', SLOWFS, backing, mount,
                               delay], stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if mounted(mount):
                break
            time.sleep(0.1)
        else:
            sys.exit('no mount')
        stamp = 1_700_000_000_000_000_000
        for i, moment in enumerate(moments):
            new = os.path.join(mount, f'new-{i}')
            status, took = timed(cli, [src, new], moment, env)
            print(f'full-new     {moment:5.1f} s  exit {status}  '
                  f'{took if took is None else round(took, 2)} s', flush=True)
            stamp += 1_000_000_000
            touch_some(src, 7, stamp)
            status, took = timed(
                cli, ['--incremental', src, os.path.join(mount, 'existing')],
                moment, env)
            print(f'incremental  {moment:5.1f} s  exit {status}  '
                  f'{took if took is None else round(took, 2)} s', flush=True)
    finally:
        subprocess.run(['fusermount', '-u', mount])
        server.wait()


if __name__ == '__main__':
    main()
