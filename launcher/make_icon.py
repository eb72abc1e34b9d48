#!/usr/bin/env python3
"""Draws the launcher's icon: a disc with an arrow unrolling from it, as a 32x32 16-colour and
a 32x32 256-colour image in one .ico file. Run it to regenerate unfurler.ico."""
import math
import struct
import sys

SIZE = 32


def shape(x, y):
    """Colour role of a pixel: 0 background, 1 disc rim, 2 disc face, 3 hub, 4 arrow, 5 shine."""
    cx = cy = 15.5
    d = math.hypot(x - cx, y - cy)
    # Arrow pointing down-right, drawn over the disc.
    ax, ay = x - 20, y - 20
    in_shaft = -9 <= ax + ay <= 4 and abs(ax - ay) <= 2
    in_head = 0 <= ax + ay <= 9 and abs(ax - ay) <= (9 - (ax + ay))
    if in_shaft or in_head:
        return 4
    if d > 15:
        return 0
    if d > 13.5:
        return 1
    if d < 3:
        return 0 if d < 1.5 else 3
    if 7 < d < 9 and x < cx and y < cy:
        return 5
    return 2


PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
             (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
             (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
ROLE16 = {0: 0, 1: 8, 2: 7, 3: 15, 4: 12, 5: 15}


def palette256():
    colours = [(0, 0, 0)]
    for r in range(6):  # a 6x6x6 colour cube, then a grey ramp
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    while len(colours) < 256:
        v = (len(colours) - 217) * 6
        colours.append((v, v, v))
    return colours


def cube(r, g, b):
    return 1 + (r // 51) * 36 + (g // 51) * 6 + (b // 51)


def role256(role, x, y):
    if role == 0:
        return 0
    if role == 1:
        return cube(102, 102, 153)
    if role == 2:  # a face shaded from silver to blue
        t = min(5, (x + y) // 11)
        return cube(204 - t * 34, 204, 255)
    if role == 3:
        return cube(255, 255, 255)
    if role == 4:
        return cube(255, 102, 0)
    return cube(255, 255, 255)


def bitmap(bits, palette, index_of):
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up rows
        idx = [index_of(shape(x, y), x, y) for x in range(SIZE)]
        if bits == 4:
            row = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, SIZE, 2))
        else:
            row = bytes(idx)
        rows.append(row)
    mask = []
    for y in reversed(range(SIZE)):
        value = 0
        for x in range(SIZE):
            if shape(x, y) == 0:
                value |= 1 << (31 - x)
        mask.append(struct.pack(">I", value))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bits, 0,
                         0, 0, 0, len(palette), 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    return header + pal + b"".join(rows) + b"".join(mask)


def main(path):
    images = [
        (16, 4, bitmap(4, PALETTE16, lambda role, x, y: ROLE16[role])),
        (0, 8, bitmap(8, palette256(), role256)),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colours, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "unfurler.ico")
