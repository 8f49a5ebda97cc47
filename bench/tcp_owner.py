#!/usr/bin/env python3
"""The owner's knock on the simulator's TCP door, for scripts/bench.sh's flood figure.

    tcp_owner.py PORT TOKEN_FILE BOUND_S

Connects to 127.0.0.1:PORT as the Windows stand-in library does, shows the token, opens
PIPE00 and waits for "OK", all within BOUND_S. Exit 0 on "OK", 1 otherwise.
"""
import socket
import struct
import sys
import time


def message(text):
    data = text.encode()
    return struct.pack("<I", len(data)) + data


def main():
    port, token_file, bound = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
    token = open(token_file).read().strip()
    end = time.monotonic() + bound
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=bound)
        s.sendall(message("TOKEN " + token) + message("OPEN PIPE00"))
        got = b""
        while len(got) < 4 or len(got) < 4 + struct.unpack("<I", got[:4])[0]:
            s.settimeout(max(0.01, end - time.monotonic()))
            chunk = s.recv(64)
            if not chunk:
                sys.exit(1)
            got += chunk
        sys.exit(0 if got[4:6] == b"OK" else 1)
    except OSError:
        sys.exit(1)


if __name__ == "__main__":
    main()
