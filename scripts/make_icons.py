#!/usr/bin/env python3
"""Draws the two busy-indicator icons, resources/hand.ico and resources/flower.ico,
and the menu icons as the PNGs of packaging/icons/ that the install puts in the
hicolor theme: kelvane's is the hand, its window icon; torrin's, a page copied
onto another, tells it apart in the menu.

Each icon holds a 32x32 and a 16x16 image stored as PNG (standard library
only), the larger first for readers that take only one.
Shapes are drawn in a unit square and sampled 4x4 per pixel for soft edges.
Run from anywhere: python3 scripts/make_icons.py
"""
import math
import os
import struct
import zlib

SKIN = (240, 196, 150)
OUTLINE = (150, 90, 50)
PETAL = (235, 70, 120)
CENTRE = (250, 210, 40)
STEM = (40, 150, 60)
PAGE = (250, 250, 245)
PAGE_BEHIND = (190, 205, 225)
PAGE_RIM = (80, 100, 130)
ARROW = (40, 150, 60)


def inside_rounded_box(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


HAND_PARTS = [
    (0.28, 0.45, 0.78, 0.95, 0.12),  # palm
    (0.28, 0.14, 0.38, 0.55, 0.05),  # fingers
    (0.41, 0.06, 0.51, 0.55, 0.05),
    (0.54, 0.09, 0.64, 0.55, 0.05),
    (0.67, 0.20, 0.77, 0.55, 0.05),
]


def inside_hand(x, y):
    if any(inside_rounded_box(x, y, *part) for part in HAND_PARTS):
        return True
    # The thumb leans out to the left.
    tx, ty = x - 0.22, y - 0.58
    u = tx * math.cos(0.7) + ty * math.sin(0.7)
    v = -tx * math.sin(0.7) + ty * math.cos(0.7)
    return inside_rounded_box(u, v, -0.05, -0.18, 0.06, 0.12, 0.05)


def hand(x, y):
    """An open hand: palm, four fingers and a thumb, with a darker rim."""
    if not inside_hand(x, y):
        return None
    rim = 0.04
    near_edge = not all(inside_hand(x + dx, y + dy)
                        for dx, dy in ((rim, 0), (-rim, 0), (0, rim), (0, -rim)))
    return OUTLINE if near_edge else SKIN


def flower(x, y):
    """A five-petal flower on a stem."""
    cx, cy = 0.5, 0.38
    if (x - cx) ** 2 + (y - cy) ** 2 <= 0.1 ** 2:
        return CENTRE
    for k in range(5):
        angle = 2 * math.pi * k / 5 - math.pi / 2
        px, py = cx + 0.2 * math.cos(angle), cy + 0.2 * math.sin(angle)
        if (x - px) ** 2 + (y - py) ** 2 <= 0.13 ** 2:
            return PETAL
    if abs(x - 0.5) <= 0.04 and 0.5 <= y <= 0.97:
        return STEM
    leaf_x, leaf_y = (x - 0.64) / 0.14, (y - 0.78) / 0.06
    if leaf_x ** 2 + leaf_y ** 2 <= 1:
        return STEM
    return None


PAGES = [
    (0.12, 0.06, 0.60, 0.66, 0.05),  # the page copied
    (0.36, 0.30, 0.84, 0.92, 0.05),  # its copy, in front
]


def copier(x, y):
    """Two pages, the front one with a green arrow: a file copied."""
    # The arrow: a shaft and a head pointing right, on the front page.
    if 0.44 <= x <= 0.62 and 0.56 <= y <= 0.66:
        return ARROW
    if 0.62 <= x <= 0.78 and abs(y - 0.61) <= 0.14 * (0.78 - x) / 0.16:
        return ARROW
    for index in (1, 0):
        page = PAGES[index]
        if inside_rounded_box(x, y, *page):
            rim = 0.04
            near_edge = not all(inside_rounded_box(x + dx, y + dy, *page)
                                for dx, dy in ((rim, 0), (-rim, 0), (0, rim), (0, -rim)))
            if near_edge:
                return PAGE_RIM
            return PAGE if index == 1 else PAGE_BEHIND
    return None


def render(shape, size, samples=4):
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            total = [0, 0, 0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = shape((col + (sx + 0.5) / samples) / size,
                                   (row + (sy + 0.5) / samples) / size)
                    if colour:
                        hits += 1
                        total = [t + c for t, c in zip(total, colour)]
            if hits:
                rgb = [t // hits for t in total]
                line.append((*rgb, 255 * hits // (samples * samples)))
            else:
                line.append((0, 0, 0, 0))
        pixels.append(line)
    return pixels


def png(pixels):
    size = len(pixels)
    raw = b"".join(b"\x00" + bytes(v for p in line for v in p) for line in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """images: list of (size, png bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    for name, shape in (("hand.ico", hand), ("flower.ico", flower)):
        images = [(size, png(render(shape, size))) for size in (32, 16)]
        with open(os.path.join(folder, name), "wb") as out:
            out.write(ico(images))
    icons = os.path.join(folder, "..", "packaging", "icons")
    os.makedirs(icons, exist_ok=True)
    for size in (16, 32, 48, 64):
        for name, shape in (("hand", hand), ("copier", copier)):
            with open(os.path.join(icons, "%s-%d.png" % (name, size)), "wb") as out:
                out.write(png(render(shape, size)))


if __name__ == "__main__":
    main()
