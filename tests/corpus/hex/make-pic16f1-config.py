#!/usr/bin/env python3
"""Writes pic16f1_config.hex: the layout a PIC16F1 build tool gives its output, made here
since no such file of a stated licence was at hand.

Program memory from byte 0 (a 4-byte reset vector, then 16-byte records from 0x0008), then
an extended linear address record of value 0x0001 and the configuration words at byte
0x1000E (word 0x8007), ten bytes; LF line ends. The program bytes are a fixed pseudo-random
sequence, so the file is the same on every run.

    python3 make-pic16f1-config.py [OUTPUT]   (default: pic16f1_config.hex beside this script)
"""
import os
import random
import sys


def record(address, kind, data):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + data
    return ':' + (body + bytes([-sum(body) & 0xFF])).hex().upper() + '\n'


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), 'pic16f1_config.hex')
    rng = random.Random(1602)
    # 14-bit instruction words, low byte first.
    program = b''.join(bytes([rng.randrange(256), rng.randrange(0x40)]) for _ in range(0x30E))
    lines = [record(0x0000, 0, program[:4])]
    at = 0x0008
    for offset in range(8, len(program), 16):
        chunk = program[offset:offset + 16]
        lines.append(record(at, 0, chunk))
        at += len(chunk)
    lines.append(record(0x0000, 4, bytes([0x00, 0x01])))
    # CONFIG1..CONFIG5 as a bootloader-free build sets them.
    lines.append(record(0x000E, 0, bytes([0xEC, 0x3F, 0xFF, 0x3F, 0x9F, 0x3F, 0xFF, 0x3F,
                                          0xFF, 0x3F])))
    lines.append(record(0x0000, 1, b''))
    with open(out, 'w', newline='\n') as f:
        f.writelines(lines)


if __name__ == '__main__':
    main()
