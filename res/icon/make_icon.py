#!/usr/bin/env python3
"""Draws the setup's icon and writes it as a Windows .ico file.

Usage: make_icon.py OUTPUT.ico

The artwork is a closed cardboard box seen from above at an isometric angle,
with a blue arrow coming down into it: "a package that is downloaded and
installed". It is drawn from a few convex polygons given in a 256 x 256 design
space; every image size is rendered from the same geometry with analytic
anti-aliasing (coverage from the signed distance of the pixel centre), so the
small sizes stay sharp instead of being shrunk from the big one.

The file holds 16 images, in this order:
  32, 16 px at 4 bits per pixel (16-colour palette, AND mask)
  64, 48, 32, 24, 20, 16 px at 8 bits per pixel (256-colour palette, AND mask)
  256, 128, 64, 48, 32, 24, 20, 16 px at 32 bits with alpha

The 32-bit images of 64 px and up are stored as PNG (8-bit RGBA), which
Windows Vista and later read; every image an older system may choose stays a
bitmap (DIB with an AND mask): all 4-bit and 8-bit ones, and the 32-bit ones
of 48 px and below (Windows XP cannot draw a PNG image and takes 48 px for its
tile view).

Only the standard library is used and the output is the same byte for byte on
every run.
"""

import struct
import sys
import zlib

DESIGN = 256.0

# --- palette of the artwork (R, G, B) --------------------------------------

OUTLINE = (74, 46, 20)
TOP = (240, 197, 130)
LEFT = (214, 160, 92)
RIGHT = (176, 122, 62)
ARROW = (33, 128, 222)
ARROW_LIGHT = (92, 170, 245)
ARROW_EDGE = (14, 58, 122)

FLAT_COLOURS = [OUTLINE, TOP, LEFT, RIGHT, ARROW, ARROW_LIGHT, ARROW_EDGE]

# --- geometry (design units, y down) ----------------------------------------

# Isometric box: top face is a 2:1 rhombus, the two visible sides hang below it.
_T = (128.0, 104.0)    # back corner of the top face
_R = (222.0, 151.0)    # right corner
_F = (128.0, 198.0)    # front corner
_L = (34.0, 151.0)     # left corner
_DROP = 46.0           # height of the side faces


def _down(p, dy=_DROP):
    return (p[0], p[1] + dy)


BOX_HULL = [_T, _R, _down(_R), _down(_F), _down(_L), _L]
TOP_FACE = [_T, _R, _F, _L]
LEFT_FACE = [_L, _F, _down(_F), _down(_L)]
RIGHT_FACE = [_F, _R, _down(_R), _down(_F)]


# The arrow: a shaft and a head whose tip rests on the middle of the top face.
ARROW_SHAFT = [(104.0, 8.0), (152.0, 8.0), (152.0, 92.0), (104.0, 92.0)]
ARROW_HEAD = [(64.0, 84.0), (192.0, 84.0), (128.0, 150.0)]
# Light left half of the arrow, for a little depth at the larger sizes.
ARROW_SHAFT_LIGHT = [(104.0, 8.0), (128.0, 8.0), (128.0, 92.0), (104.0, 92.0)]
ARROW_HEAD_LIGHT = [(64.0, 84.0), (128.0, 84.0), (128.0, 150.0)]


# --- rasteriser --------------------------------------------------------------

class Canvas:
    """Premultiplied RGBA float canvas, one flat list per channel."""

    def __init__(self, size):
        self.size = size
        n = size * size
        self.r = [0.0] * n
        self.g = [0.0] * n
        self.b = [0.0] * n
        self.a = [0.0] * n

    def fill_polygon(self, poly, colour, grow=0.0):
        """Paints a convex polygon (design units), grown outward by `grow` pixels
        (negative shrinks it). The pixel coverage is 0.5 - signed distance of the
        pixel centre, clamped to 0..1."""
        size = self.size
        k = size / DESIGN
        pts = [(x * k, y * k) for x, y in poly]
        # Orientation, so that every edge normal points outward.
        area = 0.0
        for i in range(len(pts)):
            x0, y0 = pts[i]
            x1, y1 = pts[(i + 1) % len(pts)]
            area += x0 * y1 - x1 * y0
        sign = 1.0 if area > 0 else -1.0
        planes = []
        for i in range(len(pts)):
            x0, y0 = pts[i]
            x1, y1 = pts[(i + 1) % len(pts)]
            ex, ey = x1 - x0, y1 - y0
            length = (ex * ex + ey * ey) ** 0.5
            nx, ny = sign * ey / length, -sign * ex / length
            planes.append((nx, ny, nx * x0 + ny * y0 + grow))
        cr, cg, cb = (c / 255.0 for c in colour)
        ys = [p[1] for p in pts]
        y_lo = max(0, int(min(ys) - grow - 1))
        y_hi = min(size, int(max(ys) + grow + 2))
        R, G, B, A = self.r, self.g, self.b, self.a
        for y in range(y_lo, y_hi):
            yc = y + 0.5
            # Pixel centres with distance < 0.5 are touched, those with
            # distance <= -0.5 are covered completely.
            outer = _span(planes, yc, 0.5)
            if outer is None:
                continue
            inner = _span(planes, yc, -0.5)
            x0 = max(0, _ceil_px(outer[0]))
            x1 = min(size - 1, _floor_px(outer[1]))
            if x0 > x1:
                continue
            if inner is not None:
                i0 = max(x0, _ceil_px(inner[0]))
                i1 = min(x1, _floor_px(inner[1]))
            else:
                i0, i1 = x1 + 1, x1
            row = y * size
            if i0 <= i1:
                n = i1 - i0 + 1
                R[row + i0:row + i1 + 1] = [cr] * n
                G[row + i0:row + i1 + 1] = [cg] * n
                B[row + i0:row + i1 + 1] = [cb] * n
                A[row + i0:row + i1 + 1] = [1.0] * n
                edge = list(range(x0, i0)) + list(range(i1 + 1, x1 + 1))
            else:
                edge = range(x0, x1 + 1)
            for x in edge:
                xc = x + 0.5
                d = max(nx * xc + ny * yc - c for nx, ny, c in planes)
                cov = 0.5 - d
                if cov <= 0.0:
                    continue
                if cov > 1.0:
                    cov = 1.0
                j = row + x
                keep = 1.0 - cov
                R[j] = cr * cov + R[j] * keep
                G[j] = cg * cov + G[j] * keep
                B[j] = cb * cov + B[j] * keep
                A[j] = cov + A[j] * keep

    def rgba(self):
        """Straight (not premultiplied) 8-bit RGBA rows, top row first."""
        out = []
        size = self.size
        for y in range(size):
            row = []
            for x in range(size):
                j = y * size + x
                a = self.a[j]
                if a <= 0.0:
                    row.append((0, 0, 0, 0))
                    continue
                row.append((_byte(self.r[j] / a), _byte(self.g[j] / a),
                            _byte(self.b[j] / a), _byte(a)))
            out.append(row)
        return out


def _span(planes, yc, t):
    """Range of x where every plane gives nx*x + ny*yc - c <= t, or None."""
    lo, hi = float("-inf"), float("inf")
    for nx, ny, c in planes:
        rhs = t + c - ny * yc
        if abs(nx) < 1e-12:
            if rhs < 0.0:
                return None
        elif nx > 0.0:
            hi = min(hi, rhs / nx)
        else:
            lo = max(lo, rhs / nx)
    if lo > hi:
        return None
    return lo, hi


def _ceil_px(xc):
    """First pixel whose centre is >= xc."""
    if xc == float("-inf"):
        return 0
    v = xc - 0.5
    i = int(v)
    return i if i >= v else i + 1


def _floor_px(xc):
    """Last pixel whose centre is <= xc."""
    if xc == float("inf"):
        return 1 << 30
    v = xc - 0.5
    i = int(v)
    return i if i <= v else i - 1


def _byte(v):
    v = int(v * 255.0 + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


def draw(size):
    """Renders the artwork at `size` pixels; returns RGBA rows."""
    c = Canvas(size)
    # Line widths in pixels: about 2.3 % of the size, never thinner than one pixel
    # for the box. Below 32 px the lines between the faces and around the arrow get
    # thinner still, or the few pixels there are turn into a dark smudge.
    line = max(1.0, size * 6.0 / DESIGN)
    if size >= 32:
        seam = max(0.5, size * 2.0 / DESIGN)  # half width of the lines between faces
        arrow_line = line
    else:
        seam = 0.0
        arrow_line = 0.6

    c.fill_polygon(BOX_HULL, OUTLINE, grow=line)
    c.fill_polygon(TOP_FACE, TOP, grow=-seam)
    c.fill_polygon(LEFT_FACE, LEFT, grow=-seam)
    c.fill_polygon(RIGHT_FACE, RIGHT, grow=-seam)

    c.fill_polygon(ARROW_SHAFT, ARROW_EDGE, grow=arrow_line)
    c.fill_polygon(ARROW_HEAD, ARROW_EDGE, grow=arrow_line)
    c.fill_polygon(ARROW_SHAFT, ARROW)
    c.fill_polygon(ARROW_HEAD, ARROW)
    if size >= 32:
        c.fill_polygon(ARROW_SHAFT_LIGHT, ARROW_LIGHT)
        c.fill_polygon(ARROW_HEAD_LIGHT, ARROW_LIGHT)
    return c.rgba()


# --- colour reduction --------------------------------------------------------

def _dist2(p, q):
    return (p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2 + (p[2] - q[2]) ** 2


def _mix(p, q, t):
    return tuple(int(p[i] + (q[i] - p[i]) * t + 0.5) for i in range(3))


def palette16():
    """Entry 0 is black (behind transparent pixels); then the flat colours and
    the half-way mixes that show up along the main edges."""
    pal = [(0, 0, 0)] + FLAT_COLOURS
    for p, q in ((OUTLINE, TOP), (OUTLINE, LEFT), (OUTLINE, RIGHT),
                 (ARROW_EDGE, ARROW), (ARROW_EDGE, TOP), (OUTLINE, ARROW_EDGE),
                 (ARROW, TOP), (ARROW, LEFT)):
        pal.append(_mix(p, q, 0.5))
    assert len(pal) == 16
    return pal


def palette256(images):
    """Black, the flat colours, then the most frequent other opaque colours of
    the images (skipping near duplicates), then a grey ramp to fill up to 256."""
    pal = [(0, 0, 0)] + list(FLAT_COLOURS)
    counts = {}
    for rows in images:
        for row in rows:
            for r, g, b, a in row:
                if a >= 128:
                    counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    ranked = sorted(counts.items(), key=lambda kv: (-kv[1], kv[0]))
    for colour, _ in ranked:
        if len(pal) >= 256:
            break
        if all(_dist2(colour, p) > 48 for p in pal):
            pal.append(colour)
    level = 0
    while len(pal) < 256:
        grey = (level * 37) % 256
        pal.append((grey, grey, grey))
        level += 1
    return pal


def quantise(rows, pal):
    """Palette indices and AND mask bits (1 = transparent) for RGBA rows."""
    memo = {}
    indices, mask = [], []
    for row in rows:
        irow, mrow = [], []
        for r, g, b, a in row:
            if a < 128:
                irow.append(0)
                mrow.append(1)
                continue
            key = (r, g, b)
            i = memo.get(key)
            if i is None:
                best = 0
                bestd = None
                for n, p in enumerate(pal):
                    d = _dist2(key, p)
                    if bestd is None or d < bestd:
                        best, bestd = n, d
                memo[key] = i = best
            irow.append(i)
            mrow.append(0)
        indices.append(irow)
        mask.append(mrow)
    return indices, mask


# --- file formats ------------------------------------------------------------

def _pad4(b):
    return b + b"\0" * (-len(b) % 4)


def _pack_bits(bits, depth):
    """Packs a row of values of `depth` bits, most significant first."""
    out = bytearray()
    per = 8 // depth
    for i in range(0, len(bits), per):
        v = 0
        chunk = bits[i:i + per]
        for j, bit in enumerate(chunk):
            v |= bit << (8 - depth * (j + 1))
        out.append(v)
    return bytes(out)


def _mask_bytes(mask):
    # Rows bottom-up, 1 bit per pixel, each row padded to 32 bits.
    return b"".join(_pad4(_pack_bits(row, 1)) for row in reversed(mask))


def dib(size, depth, rows, pal=None):
    """BITMAPINFOHEADER + palette + XOR image + AND mask (heights doubled)."""
    if depth == 32:
        mask = [[1 if a < 128 else 0 for (_, _, _, a) in row] for row in rows]
        xor = b"".join(bytes(v for (r, g, b, a) in row for v in (b, g, r, a))
                       for row in reversed(rows))
        colours = b""
    else:
        indices, mask = quantise(rows, pal)
        xor = b"".join(_pad4(_pack_bits(row, depth)) for row in reversed(indices))
        colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    andmask = _mask_bytes(mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(xor) + len(andmask), 0, 0, 0, 0)
    return header + colours + xor + andmask


def png(size, rows):
    """8-bit RGBA PNG without interlace. Every row uses filter 0 (none): on this
    artwork of flat faces that compresses better than the other filters or an
    adaptive choice of them."""
    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


LAYOUT = ([(s, 4) for s in (32, 16)]
          + [(s, 8) for s in (64, 48, 32, 24, 20, 16)]
          + [(s, 32) for s in (256, 128, 64, 48, 32, 24, 20, 16)])

# The images stored as PNG; all others are DIBs.
PNG_IMAGES = {(256, 32), (128, 32), (64, 32)}


def build_icon():
    art = {s: draw(s) for s in sorted({s for s, _ in LAYOUT})}
    pal16 = palette16()
    pal256 = palette256([art[s] for s, d in LAYOUT if d == 8])
    images = []
    for size, depth in LAYOUT:
        if (size, depth) in PNG_IMAGES:
            data = png(size, art[size])
        else:
            data = dib(size, depth, art[size],
                       pal16 if depth == 4 else pal256 if depth == 8 else None)
        images.append((size, depth, data))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        dim = 0 if size >= 256 else size
        colours = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, depth, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    data = build_icon()
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
