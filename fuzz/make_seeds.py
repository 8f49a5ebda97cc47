#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into fuzz/corpus/<target>/ (small ones only, so the
repository stays small): real files from tests/corpus (or the folder given as the argument,
laid out the same) and hand-made protocol runs."""
import os
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.abspath(__file__))
CORPUS = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, '..', 'tests', 'corpus')
OUT = os.path.join(ROOT, 'corpus')
KEY = b'QH-PW-5K7390#38\0'  # method 3


def put(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)


def header(port, flash, start, size, packets):
    return struct.pack('<BBBIII', 0x24, port, flash, start, size, packets)


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def block(number, data):
    data = data.ljust(1024, b'\0')
    return bytes([2, number & 255, ~number & 255]) + data + struct.pack('>H', crc16(data))


def scramble(data):
    return bytes(b ^ KEY[i % 16] for i, b in enumerate(data))


def package(entries):
    table = b''.join(n.ljust(28, b'\0') + struct.pack('<I', len(d)) for n, d in entries)
    return table + b''.join(scramble(d) for _, d in entries)


# Update package
good = [(b'edogvoice.hdr', header(1, 2, 0, 4, 1) + b'\0' * 1009 + b'abcd'),
        (b'edogmap.hdr', b'map'), (b'edogsoftware.hdr', b'')]
put('package_extract', 'good', package(good))
put('package_extract', 'truncated-table', package(good)[:50])
put('package_extract', 'truncated-data', package(good)[:120])
put('package_extract', 'unsafe-name', package([(b'../evil', b'x')] + good[1:]))
put('package_extract', 'huge-size', package(good)[:28] + b'\xff\xff\xff\xff' + package(good)[32:])

# Header read
put('header_read', 'usb-serial', header(1, 2, 0x1000, 2048, 32) + b'\0' * 17)
put('header_read', 'uart-nand', header(0, 3, 8, 5000, 5))
put('header_read', 'bad-magic', b'#' + header(1, 1, 0, 0, 0)[1:])
put('header_read', 'short', b'$\x01\x02')
put('header_read', 'empty', b'')

# HEX conversion: the first byte picks option, port, flash and address text.
hexdir = os.path.join(CORPUS, 'hex')
for i, name in enumerate(sorted(os.listdir(hexdir))):
    p = os.path.join(hexdir, name)
    if name.endswith('.hex') and os.path.getsize(p) <= 12000:
        put('hex_convert', name, bytes([i * 37 & 0xFF]) + open(p, 'rb').read())
put('hex_convert', 'raw-binary', bytes([1]) + bytes(range(256)) * 4)
put('hex_convert', 'extended-linear', b'\0:020000040001F9\n:0400000001020304F2\n:00000001FF\n')
put('hex_convert', 'segment', b'\0:020000021000EC\n:0400000001020304F2\n:00000001FF\n')

# Bitmaps
bmpdir = os.path.join(CORPUS, 'bmp', 'bmpsuite')
for sub in sorted(os.listdir(bmpdir)):
    for name in sorted(os.listdir(os.path.join(bmpdir, sub))):
        p = os.path.join(bmpdir, sub, name)
        if name.endswith('.bmp') and os.path.getsize(p) <= 6000:
            put('bmp_rle', sub + '-' + name, open(p, 'rb').read())
put('bmp_rle', 'rle-picture', bytes([2, 2, 0, 2, 3, 0xF8, 0x00, 1, 0x07, 0xE0]))

# Wave files
wavdir = os.path.join(CORPUS, 'wav')
for name in sorted(os.listdir(wavdir)):
    p = os.path.join(wavdir, name)
    if name.endswith('.wav') and os.path.getsize(p) <= 3000:
        put('wave_read', name, open(p, 'rb').read())
put('wave_read', 'empty', b'')

# Serial download: what the device says.
ACK, NAK = b'\x06', b'\x15'
put('serial_download_answers', 'all-ack', b'C' + ACK * 4)
put('serial_download_answers', 'console-then-c', b'edog loader: idle\r\nC' + ACK * 4)
put('serial_download_answers', 'nak-then-ack', b'C' + NAK + ACK + NAK + NAK + ACK * 3)
put('serial_download_answers', 'silent', b'')
put('serial_download_answers', 'no-c', b'xyz' * 10)

# Serial loader: what the host sends (first byte: faults).
image = header(0, 2, 0x2000, 1500, 2) + b'\0' * 1009 + bytes(range(256)) * 6
blocks = [block(i, image[i * 1024:(i + 1) * 1024]) for i in range((len(image) + 1023) // 1024)]
put('sim_serial_loader', 'download', b'\0upgrade\r' + b''.join(blocks) + b'\x04\0q')
put('sim_serial_loader', 'nak-first', b'\x01upgrade\r' + blocks[0] + blocks[0] + b''.join(blocks[1:]) + b'\x04\0q')
put('sim_serial_loader', 'repeat-and-noise', b'\0junk\rupgrade\r' + blocks[0] + b'zz' + blocks[0] + b''.join(blocks[1:]) + b'\x04')
put('sim_serial_loader', 'no-header', b'\0upgrade\r' + block(0, b'x') + b'\x04')
put('sim_serial_loader', 'short-block', b'\x08upgrade\r' + blocks[0][:500])

# USB pipe: blocks with a two-byte length ahead of each.
def pipe(*bs):
    return b''.join(struct.pack('<H', len(b)) + b for b in bs)
put('sim_usb_command', 'complete', pipe(header(1, 2, 0x100, 100, 2) + b'\0' * 5, bytes(64), bytes(36)))
put('sim_usb_command', 'short', pipe(header(1, 3, 7, 5000, 79) + b'\0' * 5, bytes(64)))
put('sim_usb_command', 'bad-command', pipe(b'\x40\x01', bytes(10)))
put('sim_usb_command', 'eflash-overflow', pipe(header(1, 1, 0xFFF0, 64, 1) + b'\0' * 5, bytes(64)))
put('sim_usb_command', 'text-request', pipe(b'\x40'))
