#!/usr/bin/env python3
"""Draws Palomet's own images: the window icon, the button icons and the pointer
images of the program folder, and the application icon at the sizes of the desktop's
icon theme. Plain Python (no imaging library): each image is a list of filled shapes
on a 32-unit square, painted in order and smoothed by sampling every pixel 4x4 times.
Run it from anywhere; it rewrites the PNG files under assets/ and
packaging/icons/."""

import math
import os
import struct
import zlib

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = 4


def png(path, size, pixels, text=None):
    """Writes RGBA `pixels` (rows of (r, g, b, a)) as a PNG, with optional tEXt keys."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in pixels)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    for key, value in (text or {}).items():
        out += chunk(b"tEXt", key.encode() + b"\0" + value.encode())
    out += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


# Shapes: functions of a point that say whether it is inside.
def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 1e-9
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(*pts):
    def inside(x, y):
        hit = False
        for (ax, ay), (bx, by) in zip(pts, pts[1:] + pts[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


def line(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= width / 2
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def outlined(shape_outer, shape_inner, line_colour, fill):
    return [(shape_outer, line_colour), (shape_inner, fill)]


def render(size, layers, unit=32):
    """Paints `layers`, drawn on a `unit`-wide square, into a `size`-pixel square."""
    scale = unit / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = (0, 0, 0, 0)
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    a = colour[3] / 255.0
                    acc[0] += colour[0] * a
                    acc[1] += colour[1] * a
                    acc[2] += colour[2] * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((*rgb, round(alpha * 255)))
        rows.append(row)
    return rows


INK = (40, 48, 60, 255)
WHITE = (255, 255, 255, 255)
PAPER = (250, 250, 246, 255)
BLUE = (38, 110, 200, 255)
GREEN = (36, 150, 80, 255)
LIGHT_GREEN = (200, 235, 210, 255)
AMBER = (240, 175, 40, 255)
DARK_AMBER = (190, 125, 20, 255)
ORANGE = (235, 110, 35, 255)


def document(x0, y0, x1, y1, fold=7):
    outer = polygon((x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1))
    inner = polygon((x0 + 1.5, y0 + 1.5), (x1 - fold - 0.6, y0 + 1.5), (x1 - 1.5, y0 + fold + 0.6),
                    (x1 - 1.5, y1 - 1.5), (x0 + 1.5, y1 - 1.5))
    corner = polygon((x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold))
    return [(outer, INK), (inner, PAPER), (corner, INK)]


def plus_badge(cx, cy):
    return [(circle(cx, cy, 7.5), WHITE), (circle(cx, cy, 6.5), GREEN),
            (rect(cx - 4, cy - 1.2, cx + 4, cy + 1.2), WHITE),
            (rect(cx - 1.2, cy - 4, cx + 1.2, cy + 4), WHITE)]


def tag_lines(x0, x1, ys):
    return [(rect(x0, y - 0.8, x1, y + 0.8), (120, 130, 145, 255)) for y in ys]


def arrow(up):
    pts = [(16, 2), (29, 16), (21, 16), (21, 30), (11, 30), (11, 16), (3, 16)]
    if not up:
        pts = [(x, 32 - y) for x, y in pts]
    inner = [(16, 5), (25.5, 14.8), (19.8, 14.8), (19.8, 28.8), (12.2, 28.8), (12.2, 14.8),
             (6.5, 14.8)]
    if not up:
        inner = [(x, 32 - y) for x, y in inner]
    return [(polygon(*pts), (20, 60, 120, 255)), (polygon(*inner), BLUE)]


def sheet(x0, y0, x1, y1):
    layers = [(rect(x0, y0, x1, y1, 2), GREEN), (rect(x0 + 2, y0 + 6, x1 - 2, y1 - 2), WHITE)]
    for i in range(1, 3):
        x = x0 + 2 + i * (x1 - x0 - 4) / 3
        layers.append((rect(x - 0.5, y0 + 6, x + 0.5, y1 - 2), LIGHT_GREEN))
    for i in range(1, 4):
        y = y0 + 6 + i * (y1 - y0 - 8) / 4
        layers.append((rect(x0 + 2, y - 0.5, x1 - 2, y + 0.5), LIGHT_GREEN))
    return layers


def app_icon():
    return sheet(2, 2, 30, 30) + [
        (polygon((12, 11), (21, 19), (12, 27)), ORANGE),
        (polygon((14, 15.5), (18, 19), (14, 22.5)), WHITE)]


# The sizes at which desktops look for an application icon in the hicolor theme.
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def images():
    yield "icons/move-up.png", arrow(True), None
    yield "icons/move-down.png", arrow(False), None
    yield ("icons/add-files.png",
           document(4, 2, 24, 28) + tag_lines(8, 19, (12, 16, 20)) + plus_badge(23, 24), None)
    folder = [(polygon((2, 7), (12, 7), (15, 10), (29, 10), (29, 28), (2, 28)), DARK_AMBER),
              (rect(3.3, 12, 27.7, 26.7), AMBER)]
    yield "icons/add-folder.png", folder + plus_badge(23, 23), None
    start = sheet(11, 6, 30, 29) + [
        (polygon((1, 13), (9, 13), (9, 8), (18, 17.5), (9, 27), (9, 22), (1, 22)), (150, 60, 10, 255)),
        (polygon((2.5, 14.5), (10.5, 14.5), (10.5, 11.5), (16, 17.5), (10.5, 23.5), (10.5, 20.5),
                 (2.5, 20.5)), ORANGE)]
    yield "icons/start-importing.png", start, None
    yield "icons/palomet.png", app_icon(), None
    # The pointer image: a hand whose index fingertip is the hot spot.
    hand_outer = union(rect(9, 1, 15, 18, 3), rect(7, 12, 27, 30, 4), rect(14.5, 9, 20, 18, 2.75),
                       rect(19.5, 10, 25, 18, 2.75), rect(3, 15, 10, 23, 3))
    hand_inner = union(rect(10.3, 2.3, 13.7, 18, 1.7), rect(8.3, 13.3, 25.7, 28.7, 3),
                       rect(15.8, 10.3, 18.7, 18, 1.45), rect(20.8, 11.3, 23.7, 18, 1.45),
                       rect(4.3, 16.3, 10, 21.7, 1.7))
    creases = [(rect(14.6, 13, 15.4, 18), INK), (rect(19.6, 13.5, 20.4, 18), INK)]
    yield ("program/HAND-M.CUR", [(hand_outer, INK), (hand_inner, WHITE)] + creases,
           {"HotspotX": "12", "HotspotY": "1"})
    drag = document(6, 3, 22, 24, 6) + tag_lines(9, 17, (11, 15, 19)) + [
        (polygon((25, 9), (30, 15), (20, 15)), BLUE), (polygon((25, 29), (30, 23), (20, 23)), BLUE),
        (rect(23.8, 14, 26.2, 24), BLUE)]
    yield "program/drag.ico", drag, None


def main():
    for name, layers, text in images():
        path = os.path.join(TOP, "assets", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        png(path, 32, render(32, layers), text)
        print(path)
    for size in THEME_SIZES:
        path = os.path.join(TOP, "packaging", "icons", "hicolor", f"{size}x{size}", "apps",
                            "palomet.png")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        png(path, size, render(size, app_icon()))
        print(path)


if __name__ == "__main__":
    main()
