#!/usr/bin/env python3
# Writes the small pictures the style sheet embeds (resources/icons/):
# the combo box's downward arrow, 8 x 6 px in #aaaaaa, edges antialiased.
# Plain Python (zlib only), so it runs wherever the build does.
import os
import struct
import zlib


def write_png(path, width, height, pixels):
    rows = b''.join(b'\x00' + bytes(c for p in pixels[y * width:(y + 1) * width] for c in p)
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))

    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)   # 8-bit RGBA
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
                  + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))


def down_arrow(width, height, colour, samples=16):
    """A triangle with its base along the top edge and its tip at the bottom centre."""
    def inside(x, y):
        return 0 <= y <= height and abs(x - width / 2) <= (width / 2) * (1 - y / height)

    pixels = []
    for y in range(height):
        for x in range(width):
            covered = sum(inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples)
                          for i in range(samples) for j in range(samples))
            pixels.append(colour + (round(255 * covered / samples ** 2),))
    return pixels


if __name__ == '__main__':
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'icons')
    os.makedirs(folder, exist_ok=True)
    write_png(os.path.join(folder, 'combo-arrow.png'), 8, 6, down_arrow(8, 6, (0xaa, 0xaa, 0xaa)))
