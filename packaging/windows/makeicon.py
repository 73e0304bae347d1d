#!/usr/bin/env python3
"""Packs the program's PNG icons into one Windows icon (.ico): a header, a
directory of the sizes and the PNG files themselves, as Windows Vista and
later read them.

Usage: makeicon.py OUT.ico ICON.png...
"""
import struct
import sys


def png_size(data):
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise SystemExit('not a PNG file')
    return struct.unpack('>II', data[16:24])


def main():
    out, pngs = sys.argv[1], sys.argv[2:]
    images = [open(p, 'rb').read() for p in pngs]
    header = struct.pack('<HHH', 0, 1, len(images))
    directory = b''
    offset = 6 + 16 * len(images)
    for data in images:
        w, h = png_size(data)
        # 256 is written as 0, as the format has it.
        directory += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, 'wb') as f:
        f.write(header + directory + b''.join(images))


if __name__ == '__main__':
    main()
