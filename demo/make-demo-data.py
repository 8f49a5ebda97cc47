#!/usr/bin/env python3
"""Makes the demo package's camera database and device program.

Both are large enough (over 10,000 bytes of payload each) that a demo update ends every
download status window at exactly 100 %, as a real update does. Deterministic: the same
script always writes the same bytes.

    demo/make-demo-data.py demo/edogmap.bin demo/edogsoftware.hex
"""
import struct
import sys


class Lcg:
    """A small fixed generator, so the files never change between runs or Pythons."""

    def __init__(self, seed):
        self.state = seed

    def next(self, bound):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return (self.state >> 16) % bound


# Camera database: 12-byte records, latitude and longitude in millionths of a degree,
# speed limit in km/h, camera kind. Cameras cluster along roads around a few cities.
CITIES = [(39.90, 116.40), (31.23, 121.47), (23.13, 113.26), (22.54, 114.06),
          (30.57, 104.07), (34.34, 108.94), (30.27, 120.16), (32.06, 118.80)]
SPEEDS = [40, 60, 80, 100, 120]
RECORDS = 1000


def camera_database():
    rng = Lcg(20261209)
    out = bytearray()
    for i in range(RECORDS):
        lat, lon = CITIES[i * len(CITIES) // RECORDS]
        road = rng.next(24)
        along = rng.next(40000) - 20000
        lat_u = int(lat * 1e6) + (along if road % 2 else road * 1500 - 18000)
        lon_u = int(lon * 1e6) + (road * 1500 - 18000 if road % 2 else along)
        speed = SPEEDS[rng.next(len(SPEEDS))]
        kind = 1 + rng.next(6)
        out += struct.pack("<iiBBH", lat_u, lon_u, speed, kind, 0)
    return bytes(out)


# Device program: a vector table, code-like half-words and a version string, loaded at
# 0x1000 as the device's boot loader expects.
LOAD_ADDRESS = 0x1000
PROGRAM_BYTES = 10800


def device_program():
    rng = Lcg(1000)
    out = bytearray(struct.pack("<I", 0x20004000))
    for _ in range(47):
        out += struct.pack("<I", LOAD_ADDRESS + 0x400 + rng.next((PROGRAM_BYTES - 0x400) // 2) * 2 + 1)
    text = "EDOG V2.6 2026-12 电子狗 demo\0".encode("utf-8")
    common = [0xB510, 0xBD10, 0x4770, 0x2000, 0x2101, 0x6800, 0x6008, 0xF000, 0xE7FE, 0x4A02]
    while len(out) < PROGRAM_BYTES - len(text):
        word = common[rng.next(len(common))] if rng.next(3) else rng.next(0x10000)
        out += struct.pack("<H", word)
    out = out[:PROGRAM_BYTES - len(text)] + text
    return bytes(out)


def intel_hex(data, address):
    def record(kind, addr, payload):
        body = bytes([len(payload), addr >> 8 & 0xFF, addr & 0xFF, kind]) + payload
        return ":%s%02X\n" % (body.hex().upper(), -sum(body) & 0xFF)

    lines = [record(4, 0, struct.pack(">H", address >> 16))]
    for offset in range(0, len(data), 16):
        lines.append(record(0, (address + offset) & 0xFFFF, data[offset:offset + 16]))
    lines.append(record(1, 0, b""))
    return "".join(lines)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(camera_database())
    with open(sys.argv[2], "w") as f:
        f.write(intel_hex(device_program(), LOAD_ADDRESS))


if __name__ == "__main__":
    main()
