#!/usr/bin/env python3
"""One lrzsz XMODEM-1K transfer, sx -k -> rx -c, for scripts/bench.sh's serial anchor.

    lrzsz_pair.py socketpair|pty FILE WORKDIR BOUND_S

socketpair: the two programs share one socketpair, nothing in between, so no terminal
layer can stall them. pty: each gets one end of a socat pseudo-terminal pair, as a serial
program would. Prints rx's run time in microseconds (from its start to its exit) and exits
0; exits 1 when rx did not finish within BOUND_S or its copy differs from FILE.
"""
import filecmp
import os
import socket
import subprocess
import sys
import time


def main():
    mode, src, work, bound = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
    out = os.path.join(work, "out")
    if os.path.exists(out):
        os.remove(out)
    helpers = []
    if mode == "socketpair":
        a, b = socket.socketpair()
        ends = (a, b)
    else:
        pa, pb = os.path.join(work, "ptyA"), os.path.join(work, "ptyB")
        helpers.append(subprocess.Popen(
            ["socat", f"pty,rawer,link={pa}", f"pty,rawer,link={pb}"],
            stderr=subprocess.DEVNULL))
        for _ in range(100):
            if os.path.exists(pa) and os.path.exists(pb):
                break
            time.sleep(0.05)
        ends = (open(pa, "r+b", buffering=0), open(pb, "r+b", buffering=0))
    # sx waits for the receiver's "C"; --stop-at bounds it, as rx may swallow the last ACK
    # as it flushes the line on exit.
    sx = subprocess.Popen(["sx", "-k", "-q", "--stop-at", f"+{int(bound)}", src],
                          stdin=ends[0], stdout=ends[0], stderr=subprocess.DEVNULL)
    time.sleep(0.2)
    t0 = time.monotonic_ns()
    rx = subprocess.Popen(["rx", "-c", "-q", "out"], cwd=work,
                          stdin=ends[1], stdout=ends[1], stderr=subprocess.DEVNULL)
    try:
        rx.wait(timeout=bound)
        t1 = time.monotonic_ns()
        finished = rx.returncode == 0
    except subprocess.TimeoutExpired:
        finished = False
    for p in [rx, sx] + helpers:
        if p.poll() is None:
            p.kill()
        p.wait()
    for e in ends:
        e.close()
    if not finished or not os.path.exists(out) or not filecmp.cmp(src, out, shallow=False):
        return 1
    print((t1 - t0) // 1000)
    return 0


if __name__ == "__main__":
    sys.exit(main())
