#!/usr/bin/env python3
"""Makes the demo package's contents at build time: the camera database, the device
program and the voice prompts.

Sized as a real update is: about 1 MiB of voice data and a few hundred KiB each of
database and program, so that at full-speed USB pace every download status window shows
its progress for a while. Deterministic: the same script (and the same espeak-ng) always
writes the same bytes.

    make-demo-data.py map OUT.bin
    make-demo-data.py software OUT.bin
    make-demo-data.py voice DIR OUTPUT.hdr ADDRESS -- EDOGTOOL...
"""
import os
import shutil
import struct
import subprocess
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
RECORDS = 25600  # 300 KiB


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


# Device program: a vector table, code-like half-words and a version string. It goes to
# the Serial flash, from where the device's boot loader copies it into the code area.
LOAD_ADDRESS = 0x1000
PROGRAM_BYTES = 256 * 1024


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


# Voice prompts: what the device says near each kind of camera at each speed limit, and
# a few general announcements, in Mandarin at 8 kHz as the device plays them.
CAMERAS = ["测速拍照", "闯红灯拍照", "区间测速", "流动测速"]
NUMBERS = {30: "三十", 40: "四十", 50: "五十", 60: "六十", 70: "七十", 80: "八十",
           90: "九十", 100: "一百", 110: "一百一十", 120: "一百二十"}
GENERAL = [("welcome", "欢迎使用电子狗，祝您一路平安"),
           ("gpsok", "卫星信号已经定位，开始为您服务"),
           ("gpslost", "卫星信号丢失，请注意安全驾驶"),
           ("overspd", "您已超速，请减速慢行"),
           ("zoneend", "区间测速结束，请保持安全车速"),
           ("tunnel", "前方进入隧道，请打开车灯"),
           ("belt", "请系好安全带"),
           ("updated", "数据更新完成，感谢您的使用")]


def prompts():
    for c, camera in enumerate(CAMERAS):
        for speed, words in NUMBERS.items():
            yield "cam%d_%d" % (c + 1, speed), "前方有%s，限速%s公里" % (camera, words)
    yield from GENERAL


def synthesise(text, path):
    for tool in ("espeak-ng", "sox"):
        if not shutil.which(tool):
            sys.exit("make-demo-data.py: %s is missing (scripts/install-deps.sh installs it)" % tool)
    speech = subprocess.run(["espeak-ng", "-v", "cmn", "-s", "160", "--stdout", text],
                            check=True, stdout=subprocess.PIPE).stdout
    # No dither: the same speech always gives the same samples.
    subprocess.run(["sox", "-D", "-t", "wav", "-", "-r", "8000", "-b", "16", "-c", "1", path, "vol", "0.8"],
                   input=speech, check=True)


def voice(folder, output, address, edogtool):
    names = []
    for name, text in prompts():
        synthesise(text, os.path.join(folder, name + ".wav"))
        names.append(name + ".wav")
    # Relative names, so that a Windows edogtool under wine reads the same files.
    result = subprocess.run(edogtool + ["voice", "-o", output, "--address", address] + names,
                            cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        sys.stdout.buffer.write(result.stdout)
        sys.exit("make-demo-data.py: the voice data generation failed")
    for name in names:
        os.remove(os.path.join(folder, name))


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "map":
        with open(args[1], "wb") as f:
            f.write(camera_database())
    elif len(args) == 2 and args[0] == "software":
        with open(args[1], "wb") as f:
            f.write(device_program())
    elif len(args) > 5 and args[0] == "voice" and args[4] == "--":
        voice(args[1], args[2], args[3], args[5:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
