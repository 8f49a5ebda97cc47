#!/usr/bin/env python3
"""A bounded loopback connection flood, for scripts/bench.sh's owner-under-flood figure.

    flood.py PORT MAX_CONNECTIONS MAX_SECONDS HOLD

Plays another local user who opens TCP connections to 127.0.0.1:PORT as fast as one
process can, saying nothing (so it never shows the token), and keeps the latest HOLD of
them open (0: closes each at once). Only 127.0.0.1; stops after MAX_CONNECTIONS
connections or MAX_SECONDS, whichever comes first, or on SIGTERM. Prints
"connections=N refused=R timed_out=T seconds=S rate=N/S".
"""
import collections
import errno
import signal
import socket
import sys
import time


def main():
    port, most, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    hold = min(int(sys.argv[4]), 4096)
    held = collections.deque()
    most = min(most, 1_000_000)
    seconds = min(seconds, 60.0)
    stop = [False]
    signal.signal(signal.SIGTERM, lambda *_: stop.__setitem__(0, True))
    made = refused = timed_out = 0
    t0 = time.monotonic()
    end = t0 + seconds
    while not stop[0] and made + refused + timed_out < most and time.monotonic() < end:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(0.2)
        try:
            s.connect(("127.0.0.1", port))
            made += 1
            if hold:
                held.append(s)
                s = held.popleft() if len(held) > hold else None
        except socket.timeout:
            timed_out += 1
        except OSError as e:
            if e.errno in (errno.ECONNREFUSED, errno.ECONNRESET):
                refused += 1
            else:
                timed_out += 1
        finally:
            if s is not None:
                s.close()
    for s in held:
        s.close()
    took = max(time.monotonic() - t0, 1e-6)
    print(f"connections={made} refused={refused} timed_out={timed_out} "
          f"seconds={took:.1f} rate={made / took:.0f}")


if __name__ == "__main__":
    main()
