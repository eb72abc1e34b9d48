#!/usr/bin/env python3
"""Draws the flash tool's artwork from simple shapes: the 400 x 200 background panel, the eight
26 x 25 button pictures and the program icon. Writes 24-bit BMP files and a 32-bit ICO file into
the output folder; the same input always gives the same bytes."""
import math
import os
import struct
import sys

WHITE = (255, 255, 255)


class Canvas:
    def __init__(self, width, height, colour):
        self.w, self.h = width, height
        self.px = [[colour] * width for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = colour

    def get(self, x, y):
        return self.px[y][x]

    def fill(self, inside, colour):
        """Paints every pixel whose centre satisfies inside(x + 0.5, y + 0.5)."""
        for y in range(self.h):
            for x in range(self.w):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = colour(x, y) if callable(colour) else colour


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def in_round_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_polygon(x, y, points):
    inside = False
    n = len(points)
    for i in range(n):
        (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def near_segment(x, y, a, b, width):
    (x1, y1), (x2, y2) = a, b
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / float(dx * dx + dy * dy)))
    return math.hypot(x - x1 - t * dx, y - y1 - t * dy) <= width / 2.0


# A 5 x 7 pixel font for the letters of the product name.
GLYPHS = {
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
}


def draw_text(canvas, text, left, top, scale, colour, shadow):
    for offset, tint in ((1, shadow), (0, colour)):
        x0 = left + offset
        for ch in text:
            for row, bits in enumerate(GLYPHS[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        for sy in range(scale):
                            for sx in range(scale):
                                canvas.set(x0 + col * scale + sx, top + offset + row * scale + sy, tint)
            x0 += 6 * scale


def panel_shape(x, y):
    """The window's shape: a rounded panel with four shallow notches in its edges."""
    if not in_round_rect(x, y, 0, 0, 400, 200, 25):
        return False
    notches = [(100, -5, 300, 6), (100, 195, 300, 205), (-5, 50, 5, 150), (395, 50, 405, 150)]
    return not any(in_round_rect(x, y, l, t, r, b, 5) for l, t, r, b in notches)


def background():
    c = Canvas(400, 200, (6, 32, 64))
    top, bottom = (186, 200, 218), (132, 150, 174)
    c.fill(panel_shape, lambda x, y: mix(top, bottom, y / 199.0))
    # A dark rim along the edge and a light bevel just inside it.
    for y in range(200):
        for x in range(400):
            if not panel_shape(x + 0.5, y + 0.5):
                continue
            edge = min(d for d in range(1, 5) if any(
                not panel_shape(x + 0.5 + dx, y + 0.5 + dy)
                for dx, dy in ((d, 0), (-d, 0), (0, d), (0, -d)))) if any(
                not panel_shape(x + 0.5 + dx, y + 0.5 + dy)
                for dx, dy in ((4, 0), (-4, 0), (0, 4), (0, -4))) else 5
            if edge <= 2:
                c.set(x, y, (44, 62, 90))
            elif edge == 3:
                c.set(x, y, (222, 232, 244))
    # The inset behind the list and the fields.
    c.fill(lambda x, y: in_round_rect(x, y, 8, 50, 392, 164, 6), lambda x, y: mix((170, 186, 208), (150, 168, 192), (y - 50) / 114.0))
    c.fill(lambda x, y: in_round_rect(x, y, 8, 50, 392, 164, 6) and not in_round_rect(x, y, 9, 51, 391, 163, 5), (104, 122, 150))
    # The tab with the product name, hanging from the top notch.
    c.fill(lambda x, y: in_round_rect(x, y, 146, 2, 254, 30, 7) and panel_shape(x, y), (36, 62, 104))
    c.fill(lambda x, y: in_round_rect(x, y, 146, 2, 254, 30, 7) and not in_round_rect(x, y, 148, 2, 252, 28, 6) and panel_shape(x, y), (20, 38, 70))
    draw_text(c, "VELTRAN", 200 - (7 * 12 - 2) // 2, 10, 2, (236, 242, 250), (12, 24, 44))
    return c


DISC_CENTRE, DISC_RADIUS = (13.0, 12.5), 11.5


def button(face, rim, glyph, outline=None):
    c = Canvas(26, 25, WHITE)
    cx, cy = DISC_CENTRE
    c.fill(lambda x, y: in_circle(x, y, cx, cy, DISC_RADIUS), rim)
    c.fill(lambda x, y: in_circle(x, y, cx, cy, DISC_RADIUS - 1.5),
           lambda x, y: mix(mix(face, WHITE, 0.35), face, min(1.0, math.hypot(x - cx + 4, y - cy + 4) / 14.0)))
    shapes = glyph()
    if outline:
        grown = lambda x, y: any(inside(x + dx, y + dy) for inside, _ in shapes
                                 for dx in (-1, 0, 1) for dy in (-1, 0, 1))
        c.fill(grown, outline)
    for inside, colour in shapes:
        c.fill(inside, colour)
    return c


def folder():
    return [(lambda x, y: in_polygon(x, y, [(6, 8), (11, 8), (12, 10), (19, 10), (19, 17), (6, 17)]), (196, 150, 40)),
            (lambda x, y: in_polygon(x, y, [(8, 12), (22, 12), (19, 18), (5, 18)]), (246, 206, 90))]


def document():
    return [(lambda x, y: in_polygon(x, y, [(9, 5), (16, 5), (19, 8), (19, 20), (9, 20)]), (62, 168, 82)),
            (lambda x, y: in_polygon(x, y, [(16, 5), (19, 8), (16, 8)]), (170, 226, 180)),
            (lambda x, y: near_segment(x, y, (5, 13), (14, 13), 2.2), (250, 250, 250)),
            (lambda x, y: in_polygon(x, y, [(12, 9), (17, 13), (12, 17)]), (250, 250, 250))]


def question():
    return [(lambda x, y: 2.0 <= math.hypot(x - 13, y - 9.5) <= 4.6 and not (y > 9.5 and x < 13), (250, 214, 40)),
            (lambda x, y: near_segment(x, y, (13, 12.5), (13, 15.5), 3.0), (250, 214, 40)),
            (lambda x, y: in_circle(x, y, 13, 19, 1.8), (250, 214, 40))]


def cross(colour):
    return lambda: [(lambda x, y: near_segment(x, y, (8, 7.5), (18, 17.5), 3.6) or near_segment(x, y, (18, 7.5), (8, 17.5), 3.6), colour)]


def buttons():
    blue, blue_rim = (92, 114, 150), (52, 68, 98)
    light, light_rim = (134, 174, 226), (78, 112, 168)
    grey, grey_rim = (132, 134, 138), (78, 80, 84)
    pale = (255, 250, 184)
    return {
        "open_normal": button(blue, blue_rim, folder),
        "open_hover": button(light, light_rim, folder, pale),
        "start_normal": button(blue, blue_rim, document),
        "start_hover": button(light, light_rim, document, pale),
        "about_normal": button(blue, blue_rim, question),
        "about_hover": button(light, light_rim, question, pale),
        "exit_normal": button(grey, grey_rim, cross((196, 36, 36))),
        "exit_hover": button(grey, grey_rim, cross((255, 112, 104))),
    }


def icon(size):
    """An optical disc with a blue band and a yellow arrow pointing into it; alpha outside."""
    s = size / 32.0
    c = Canvas(size, size, None)
    cx = cy = size / 2.0
    c.fill(lambda x, y: in_circle(x, y, cx, cy, 15.5 * s), (70, 86, 112))
    c.fill(lambda x, y: in_circle(x, y, cx, cy, 14.5 * s),
           lambda x, y: mix((236, 240, 246), (150, 164, 186), ((x + y) / (2.0 * size))))
    c.fill(lambda x, y: 5.5 * s <= math.hypot(x - cx, y - cy) <= 9.5 * s, (52, 96, 170))
    c.fill(lambda x, y: in_circle(x, y, cx, cy, 3.0 * s), None)
    c.fill(lambda x, y: in_polygon(x, y, [(cx - 3 * s, 1 * s), (cx + 3 * s, 1 * s), (cx + 3 * s, 9 * s),
                                           (cx + 6 * s, 9 * s), (cx, 15 * s), (cx - 6 * s, 9 * s), (cx - 3 * s, 9 * s)]),
           (250, 204, 40))
    return c


def bmp_bytes(c):
    stride = (c.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(c.h - 1, -1, -1):
        row = bytearray()
        for r, g, b in c.px[y]:
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + bytes(data)


def ico_bytes(canvases):
    images = []
    for c in canvases:
        xor = bytearray()
        for y in range(c.h - 1, -1, -1):
            for p in c.px[y]:
                xor += bytes((p[2], p[1], p[0], 255)) if p else b"\0\0\0\0"
        mask_stride = ((c.w + 31) // 32) * 4
        mask = b"\0" * (mask_stride * c.h)
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append(header + bytes(xor) + mask)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_artwork.py OUTPUT_FOLDER")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {"background.bmp": bmp_bytes(background())}
    for name, canvas in buttons().items():
        files[name + ".bmp"] = bmp_bytes(canvas)
    files["veltran.ico"] = ico_bytes([icon(32), icon(16)])
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
