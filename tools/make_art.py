#!/usr/bin/env python3
"""Draws the program's icons and logo and writes them as ICO and BMP files.

Standard library only, so the build needs no image tools. Every picture is a list of filled
polygons and strokes in unit coordinates, rendered with supersampling and then reduced to the
colour depth each resource needs (16 colours, 256 colours or 32-bit with alpha).

usage: make_art.py OUTPUT_DIR
writes loadwing.ico (128), plug_joined.ico (133), plug_apart.ico (134), logo.bmp (132).
"""

import os
import struct
import sys

# The 16 colours every Windows display has; 4-bit images use exactly these.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    # The 16 system colours, a 6x6x6 cube and a grey ramp: 16 + 216 + 24 = 256.
    pal = list(VGA16)
    steps = [0, 51, 102, 153, 204, 255]
    pal += [(r, g, b) for r in steps for g in steps for b in steps]
    pal += [(8 + 10 * i,) * 3 for i in range(24)]
    return pal


PAL256 = palette256()


def nearest(pal, rgb, cache):
    hit = cache.get(rgb)
    if hit is None:
        r, g, b = rgb
        hit = min(range(len(pal)),
                  key=lambda i: (pal[i][0] - r) ** 2 * 3 + (pal[i][1] - g) ** 2 * 4 +
                  (pal[i][2] - b) ** 2 * 2)
        cache[rgb] = hit
    return hit


# --- Geometry -------------------------------------------------------------------------------


def inside(poly, x, y):
    hit = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def seg_dist2(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    px, py = ax + t * dx - x, ay + t * dy - y
    return px * px + py * py


class Fill:
    def __init__(self, poly, color):
        self.poly, self.color = poly, color

    def hit(self, x, y):
        return inside(self.poly, x, y)


class Stroke:
    """A polyline of the given width; closed when closed=True."""

    def __init__(self, points, width, color, closed=False):
        self.points = list(points) + ([points[0]] if closed else [])
        self.r2 = (width / 2) ** 2
        self.color = color

    def hit(self, x, y):
        pts = self.points
        return any(seg_dist2(x, y, pts[i], pts[i + 1]) <= self.r2 for i in range(len(pts) - 1))


class Disc:
    def __init__(self, cx, cy, r, color):
        self.cx, self.cy, self.r2, self.color = cx, cy, r * r, color

    def hit(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r2


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def render(shapes, width, height, samples=4, aspect=1.0):
    """RGBA rows, top row first. Unit x spans the width; unit y spans width*aspect pixels."""
    rows = []
    n = samples * samples
    for py in range(height):
        row = []
        for px in range(width):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / width
                    y = (py + (sy + 0.5) / samples) / (width * aspect)
                    color = None
                    for shape in reversed(shapes):
                        if shape.hit(x, y):
                            color = shape.color
                            break
                    if color is not None:
                        r += color[0]
                        g += color[1]
                        b += color[2]
                        a += 1
            if a:
                row.append((r // a, g // a, b // a, 255 * a // n))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# --- File formats ---------------------------------------------------------------------------


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def pack_indices(indices, bits):
    if bits == 8:
        return bytes(indices)
    out = bytearray()
    for i in range(0, len(indices), 2):
        hi = indices[i]
        lo = indices[i + 1] if i + 1 < len(indices) else 0
        out.append(hi << 4 | lo)
    return bytes(out)


def mask_row(row):
    out = bytearray((len(row) + 7) // 8)
    for x, px in enumerate(row):
        if px[3] < 128:  # transparent: screen shows through
            out[x // 8] |= 0x80 >> (x % 8)
    return pad4(bytes(out))


def dib(rows, bits, with_mask):
    """A BITMAPINFOHEADER DIB; for icons the height is doubled and an AND mask follows."""
    height, width = len(rows), len(rows[0])
    pal = {4: VGA16, 8: PAL256}.get(bits)
    cache = {}
    pixels = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        if bits == 32:
            line = b"".join(struct.pack("<BBBB", p[2], p[1], p[0], p[3]) for p in row)
        else:
            # Transparent pixels are black in the colour plane so the mask composes cleanly.
            line = pack_indices(
                [nearest(pal, p[:3], cache) if p[3] >= 128 else 0 for p in row], bits)
        pixels += pad4(line)
    mask = b"".join(mask_row(row) for row in reversed(rows)) if with_mask else b""
    colors = len(pal) if pal else 0
    header = struct.pack("<IiiHHIIiiII", 40, width, height * (2 if with_mask else 1), 1, bits,
                         0, len(pixels) + len(mask), 2835, 2835, colors, 0)
    table = b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in pal) if pal else b""
    return header + table + bytes(pixels) + mask


def write_ico(path, images):
    """images: list of (rows, bits)."""
    blobs = [dib(rows, bits, True) for rows, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (rows, bits), blob in zip(images, blobs):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bits == 4 else 0, 0, 1,
                           bits, len(blob), offset)
        offset += len(blob)
    write(path, out + b"".join(blobs))


def write_bmp(path, rows):
    body = dib(rows, 8, False)
    offset = 14 + 40 + 4 * 256
    write(path, struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, offset) + body)


def write(path, data):
    # Leave an unchanged file alone, so a rerun does not force the resources to rebuild.
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


# --- The pictures ---------------------------------------------------------------------------

INK = (20, 28, 48)
PAPER_LIGHT = (250, 250, 244)
PAPER_SHADE = (150, 186, 228)
ARROW = (34, 160, 60)
ARROW_EDGE = (10, 80, 24)


def fanfold(x0, x1, top, depth, panels, outline):
    """A zig-zag folded sheet seen from the side: alternating lit and shaded panels."""
    shapes = []
    xs = [x0 + (x1 - x0) * i / panels for i in range(panels + 1)]
    ys = [top + (depth if i % 2 else 0) for i in range(panels + 1)]
    height = 0.34
    for i in range(panels):
        poly = [(xs[i], ys[i]), (xs[i + 1], ys[i + 1]), (xs[i + 1], ys[i + 1] + height),
                (xs[i], ys[i] + height)]
        shapes.append(Fill(poly, PAPER_LIGHT if i % 2 == 0 else PAPER_SHADE))
        shapes.append(Stroke(poly, outline, INK, closed=True))
    return shapes


def app_icon(size):
    outline = {16: 0.085, 32: 0.05, 48: 0.036}[size]
    shapes = fanfold(0.06, 0.94, 0.06, 0.14, 4, outline)
    arrow = [(0.38, 0.42), (0.62, 0.42), (0.62, 0.66), (0.82, 0.66), (0.5, 0.96), (0.18, 0.66),
             (0.38, 0.66)]
    shapes.append(Fill(arrow, ARROW))
    shapes.append(Stroke(arrow, outline, ARROW_EDGE, closed=True))
    return render(shapes, size, size)


# The plug icons have 16 colours: pick colours the 16-colour palette holds exactly.
BODY = (128, 128, 128)
BODY_EDGE = (0, 0, 0)
BRASS = (255, 255, 0)


def plug_icon(joined):
    """A plug (left) and its socket (right): pushed together, or pulled apart with a gap."""
    shift = 0.0 if joined else 0.14
    cable = (0, 128, 0) if joined else (128, 0, 0)
    shapes = [
        Stroke([(0.0, 0.5), (0.22 - shift, 0.5)], 0.09, cable),
        Stroke([(0.78 + shift, 0.5), (1.0, 0.5)], 0.09, cable),
    ]
    plug = rect(0.18 - shift, 0.32, 0.42 - shift, 0.68)
    socket = rect(0.58 + shift, 0.26, 0.84 + shift, 0.74)
    for y in (0.39, 0.55):
        prong = rect(0.42 - shift, y, 0.6 - shift, y + 0.07)
        shapes.append(Fill(prong, BRASS))
        shapes.append(Stroke(prong, 0.03, BODY_EDGE, closed=True))
    for poly in (plug, socket):
        shapes.append(Fill(poly, BODY))
        shapes.append(Stroke(poly, 0.04, BODY_EDGE, closed=True))
    if not joined:  # a break mark between the halves
        for a, b in (((0.44, 0.14), (0.5, 0.24)), ((0.56, 0.14), (0.5, 0.24)),
                     ((0.44, 0.86), (0.5, 0.76)), ((0.56, 0.86), (0.5, 0.76))):
            shapes.append(Stroke([a, b], 0.05, (255, 0, 0)))
    return render(shapes, 32, 32)


# A 5x7 pixel font with just the letters the logo needs.
GLYPHS = {
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "d": ["00001", "00001", "01111", "10001", "10001", "10001", "01111"],
    "w": ["00000", "00000", "10001", "10001", "10101", "10101", "01010"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "g": ["00000", "01111", "10001", "10001", "01111", "00001", "01110"],
}


def logo():
    width, height = 107, 61
    frame = (40, 70, 140)
    shapes = [Fill(rect(0, 0, 1, 1), (255, 255, 255))]
    shapes += fanfold(0.2, 0.8, 0.1, 0.09, 6, 0.016)
    # The fanfold's unit square is stretched to the bitmap's width; squash it vertically.
    scale = height / width
    for s in shapes[1:]:
        if isinstance(s, Fill):
            s.poly = [(x, y * scale) for x, y in s.poly]
        else:
            s.points = [(x, y * scale) for x, y in s.points]
    shapes.append(Stroke(rect(0.004, 0.004, 0.996, scale - 0.004), 0.02, frame, closed=True))
    rows = render(shapes, width, height, aspect=1.0)
    # The word, 2x scaled pixel letters, centred below the fan.
    word = "Loadwing"
    cell = 6 * 2
    x0 = (width - (len(word) * cell - 2)) // 2
    y0 = 40
    for k, ch in enumerate(word):
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for dy in range(2):
                        for dx in range(2):
                            rows[y0 + gy * 2 + dy][x0 + k * cell + gx * 2 + dx] = frame + (255,)
    return rows


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_art.py OUTPUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    images = []
    for size in (48, 32, 16):
        rows = app_icon(size)
        images += [(rows, 4), (rows, 8), (rows, 32)]
    write_ico(os.path.join(out, "loadwing.ico"), images)
    write_ico(os.path.join(out, "plug_joined.ico"), [(plug_icon(True), 4)])
    write_ico(os.path.join(out, "plug_apart.ico"), [(plug_icon(False), 4)])
    write_bmp(os.path.join(out, "logo.bmp"), logo())


if __name__ == "__main__":
    main()
