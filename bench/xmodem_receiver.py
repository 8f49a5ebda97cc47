#!/usr/bin/env python3
"""One small XMODEM-1K receiver on a pty, the same for every sender, for scripts/bench.sh's
fair anchor of the sender's own cost per block.

    xmodem_receiver.py edog|sx FILE BOUND_S

Opens a pseudo-terminal, starts the sender on its other end (edog: `$EDOGTOOL send-serial
--port PTY FILE`, which says "upgrade" CR first and numbers its blocks from 0; sx: `sx -k
FILE` on the pty as its standard input and output, blocks from 1), answers "C", checks
every 1029-byte block's number and CRC-16, answers ACK at once and ACKs the EOT. It spins
on the line rather than sleeping, so that no wake-up of its own lies inside a sender's
figure. For each block it notes when its first byte arrived, when its last byte arrived
and when the ACK went, on the monotonic clock, the same way for both senders.

Prints one line of key=value pairs (microseconds, medians over the blocks):
  gap_us      ACK about to be written -> the next block's first byte (the sender's
              turn-around and the ACK's way there)
  arrive_us   a block's first byte -> its last byte (the pty carrying 1029 bytes)
  receiver_us a block's last byte -> its ACK about to be written (this receiver's own cost)
  blocks      blocks taken
Exits 1 when the sender failed, a block was damaged or BOUND_S passed.
"""
import binascii
import os
import statistics
import subprocess
import sys
import time
import tty

STX, SOH, EOT, ACK, NAK = 0x02, 0x01, 0x04, 0x06, 0x15


def now_us():
    return time.monotonic_ns() // 1000


def main():
    mode, path, bound = sys.argv[1], sys.argv[2], float(sys.argv[3])
    master, slave = os.openpty()
    tty.setraw(slave)
    tty.setraw(master)
    name = os.ttyname(slave)
    if mode == "edog":
        cmd = [os.environ.get("EDOGTOOL", "edogtool"), "send-serial", "--port", name, path]
        sender = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        first_number = 0
    else:
        sender = subprocess.Popen(["sx", "-k", "-q", path], stdin=slave, stdout=slave,
                                  stderr=subprocess.DEVNULL)
        first_number = 1
    deadline = time.monotonic() + bound
    buf = bytearray()
    expected = first_number
    gaps, arrivals, costs = [], [], []
    ack_at = None
    first_at = None
    blocks = 0
    started = mode == "sx"
    next_c = 0.0
    ok = False
    idle = 0
    os.set_blocking(master, False)

    def send(b):
        os.write(master, bytes([b]))

    while time.monotonic() < deadline:
        if not started or blocks == 0:
            # The "C" that starts the transfer, again each second until a block comes.
            if (started or b"upgrade\r" in buf) and time.monotonic() >= next_c and not buf.startswith(bytes([STX])):
                if not started:
                    buf.clear()
                    started = True
                send(ord("C"))
                next_c = time.monotonic() + 1.0
        # Spins rather than sleeps: a receiver that had to wake up would add its own wake-up
        # to the sender's figure, and more to a slower sender's, whose answer finds it asleep.
        try:
            data = os.read(master, 65536)
        except BlockingIOError:
            idle += 1
            if idle % 20000 == 0 and sender.poll() is not None and not buf:
                break
            continue
        except OSError:
            break
        t = now_us()
        if not started:
            buf += data
            continue
        if not buf and data and data[0] == STX:
            first_at = t
            if ack_at is not None:
                gaps.append(t - ack_at)
        buf += data
        while buf:
            if buf[0] == EOT:
                send(ACK)
                ok = True
                buf.clear()
                break
            if buf[0] not in (STX, SOH):
                del buf[0]  # the 0x00 and "q" after edogtool's EOT, or line noise
                continue
            size = 1029 if buf[0] == STX else 133
            if len(buf) < size:
                break
            block = bytes(buf[:size])
            del buf[:size]
            data_part = block[3:size - 2]
            crc = block[size - 2] << 8 | block[size - 1]
            if block[1] != expected % 256 or block[2] != 255 - block[1] or \
                    binascii.crc_hqx(data_part, 0) != crc:
                send(NAK)
                continue
            # Stamped before the write: a receiver put aside after writing must not find
            # the next block there already and call the sender's turn-around nothing.
            ack_at = now_us()
            send(ACK)
            arrivals.append(t - first_at)
            costs.append(ack_at - t)
            expected += 1
            blocks += 1
            if buf and buf[0] == STX:
                first_at = t
        if ok:
            break
    try:
        sender.wait(timeout=max(1.0, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        sender.kill()
        ok = False
    if not ok or sender.returncode != 0 or not gaps:
        sys.exit(1)
    med = lambda v: int(statistics.median(v))
    print(f"gap_us={med(gaps)} arrive_us={med(arrivals)} receiver_us={med(costs)} blocks={blocks}")


if __name__ == "__main__":
    main()
