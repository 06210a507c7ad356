#!/usr/bin/env python3
"""Writes the fuzz regression inputs that are built rather than found, into fuzz/regressions/.

exif_ifd0_30246_fields.tif: a little-endian TIFF whose first IFD holds 30,246 entries with
distinct tags 1..30246, cycling through the twelve TIFF types, each with an 8-byte value stored
after the IFD. It once took 14 s under ASan because the primary group of the report was grown
one field at a time; it must replay in well under a second.
"""
import os
import struct
import sys

# (type code, count) pairs whose values all take 8 bytes, so every value lies outside its entry.
TYPES = [(1, 8), (2, 8), (3, 4), (4, 2), (5, 1), (6, 8), (7, 8), (8, 4), (9, 2), (10, 1),
         (11, 2), (12, 1)]


def many_fields_tiff(entries):
    ifd_at = 8
    values_at = ifd_at + 2 + 12 * entries + 4
    ifd = bytearray(struct.pack('<H', entries))
    values = bytearray()
    for i in range(entries):
        tag = i + 1
        type_code, count = TYPES[i % len(TYPES)]
        offset = values_at + len(values)
        ifd += struct.pack('<HHII', tag, type_code, count, offset)
        # Printable bytes: valid text for ASCII values, distinct numbers for the others.
        values += bytes((0x41 + (i + k) % 26) for k in range(7)) + b'\0'
    ifd += struct.pack('<I', 0)
    return b'II*\0' + struct.pack('<I', ifd_at) + bytes(ifd) + bytes(values)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fuzz', 'regressions')
    out = os.path.join(root, 'parse', 'exif_ifd0_30246_fields.tif')
    os.makedirs(os.path.dirname(out), exist_ok=True)
    data = many_fields_tiff(30246)
    with open(out, 'wb') as f:
        f.write(data)
    print(f'{os.path.relpath(out)}: {len(data)} bytes', file=sys.stderr)


if __name__ == '__main__':
    main()
