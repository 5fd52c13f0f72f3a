#!/usr/bin/env python3
"""Draws the quillset mark (a quill over a media card) and writes the two
.ico files that resources/quillset.rc embeds.

Standard library only. The output is deterministic, so the .ico files are
kept in the repository and the build never needs Python; run this again only
when the artwork changes:

    python3 tools/make_icons.py [output-dir]
"""

import math
import os
import struct
import sys

# The artwork lives on a 64-unit square, y pointing down. Positions that are
# multiples of 4 land on pixel edges at every size (16, 32, 48, 64), which
# keeps the card's outline crisp.
UNITS = 64.0

# (size, bits per pixel), in the order the images sit in the files.
LARGE_IMAGES = [(16, 8), (32, 8), (48, 8), (64, 1), (64, 4), (64, 8),
                (16, 32), (32, 32), (48, 32), (64, 32)]
# The small icon's 32-pixel true-colour image carries no alpha channel.
SMALL_IMAGES = [(s, 24 if (s, b) == (32, 32) else b) for s, b in LARGE_IMAGES]


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


# Colour schemes: full colour for 8, 24 and 32 bpp; one made of the standard
# 16 colours for 4 bpp, so nearest-colour mapping keeps the shapes apart; and
# line art for 1 bpp.
FULL = {
    'card_top': rgb('5595e0'), 'card_bottom': rgb('2558a8'),
    'card_edge': rgb('17325e'), 'card_shine': rgb('7fb2ec'),
    'contact': rgb('f3c64c'), 'contact_edge': rgb('a37914'),
    'feather': rgb('fffdf6'), 'feather_shade': rgb('ebe4d2'),
    'feather_edge': rgb('3a3129'), 'rachis': rgb('b5a27c'),
    'shaft': rgb('f1e0b4'), 'ink': rgb('1f1f28'),
    'shadow': 0.35,
}
VGA = {
    'card_top': rgb('000080'), 'card_bottom': rgb('000080'),
    'card_edge': rgb('000000'), 'card_shine': rgb('0000ff'),
    'contact': rgb('ffff00'), 'contact_edge': rgb('808000'),
    'feather': rgb('ffffff'), 'feather_shade': rgb('c0c0c0'),
    'feather_edge': rgb('000000'), 'rachis': rgb('808080'),
    'shaft': rgb('ffffff'), 'ink': rgb('000000'),
    'shadow': 0.0,
}
MONO = {
    'card_top': rgb('ffffff'), 'card_bottom': rgb('ffffff'),
    'card_edge': rgb('000000'), 'card_shine': None,
    'contact': rgb('000000'), 'contact_edge': rgb('000000'),
    'feather': rgb('ffffff'), 'feather_shade': rgb('ffffff'),
    'feather_edge': rgb('000000'), 'rachis': rgb('000000'),
    'shaft': rgb('000000'), 'ink': rgb('000000'),
    'shadow': 0.0,
}

VGA_PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
               (0, 0, 128), (128, 0, 128), (0, 128, 128), (128, 128, 128),
               (192, 192, 192), (255, 0, 0), (0, 255, 0), (255, 255, 0),
               (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


# ---------------------------------------------------------------- geometry

def signed_area(poly):
    return 0.5 * sum(poly[i - 1][0] * p[1] - p[0] * poly[i - 1][1]
                     for i, p in enumerate(poly))


def oriented(poly):
    """Every polygon is wound the same way, so that overlapping pieces of a
    stroke add up to their union under the nonzero rule."""
    return poly if signed_area(poly) > 0 else poly[::-1]


def quad_bezier(p0, p1, p2, steps):
    return [((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0],
             (1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1])
            for t in (i / steps for i in range(steps + 1))]


def round_corners(poly, radius, steps=6):
    """Replaces each corner by a curve starting `radius` before it."""
    out = []
    n = len(poly)
    for i in range(n):
        prev, here, nxt = poly[i - 1], poly[i], poly[(i + 1) % n]
        a = _towards(here, prev, radius)
        b = _towards(here, nxt, radius)
        out.extend(quad_bezier(a, here, b, steps))
    return out


def _towards(p, q, d):
    length = math.hypot(q[0] - p[0], q[1] - p[1])
    d = min(d, length / 2)
    return (p[0] + (q[0] - p[0]) * d / length, p[1] + (q[1] - p[1]) * d / length)


def inset(poly, d):
    """Moves every edge of a polygon inward by d, mitring the corners."""
    poly = oriented(poly)
    lines = []
    n = len(poly)
    for i in range(n):
        (x0, y0), (x1, y1) = poly[i], poly[(i + 1) % n]
        length = math.hypot(x1 - x0, y1 - y0)
        if length < 1e-9:
            continue
        # With positive signed area the inside lies along (-dy, dx).
        nx, ny = (y0 - y1) / length, (x1 - x0) / length
        lines.append(((x0 + nx * d, y0 + ny * d), (x1 - x0, y1 - y0)))
    out = []
    for i in range(len(lines)):
        (p, r), (q, s) = lines[i - 1], lines[i]
        cross = r[0] * s[1] - r[1] * s[0]
        if abs(cross) < 1e-9:
            out.append(q)
            continue
        t = ((q[0] - p[0]) * s[1] - (q[1] - p[1]) * s[0]) / cross
        corner = (p[0] + r[0] * t, p[1] + r[1] * t)
        # A needle-sharp corner would throw its mitre far away; cut it short.
        reach = math.hypot(corner[0] - q[0], corner[1] - q[1])
        if reach > 4 * abs(d):
            f = 4 * abs(d) / reach
            corner = (q[0] + (corner[0] - q[0]) * f, q[1] + (corner[1] - q[1]) * f)
        out.append(corner)
    return out


def disc(c, r, steps=12):
    return [(c[0] + r * math.cos(2 * math.pi * i / steps),
             c[1] + r * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def polyline(points, width):
    """A stroke with round joins and caps, as a list of same-wound polygons."""
    h = width / 2
    polys = [oriented(disc(p, h)) for p in points]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        length = math.hypot(x1 - x0, y1 - y0)
        nx, ny = (y0 - y1) / length * h, (x1 - x0) / length * h
        polys.append(oriented([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny),
                               (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]))
    return polys


def translate(polys, dx, dy):
    return [[(x + dx, y + dy) for x, y in poly] for poly in polys]


# ---------------------------------------------------------------- raster

def rasterize(polys, size, subrows=16):
    """Coverage of the union of polygons (nonzero rule) per pixel: exact
    across each pixel, sampled on `subrows` lines down it."""
    scale = size / UNITS
    edges = []
    for poly in polys:
        pts = [(x * scale, y * scale) for x, y in poly]
        for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]):
            if y0 == y1:
                continue
            direction = 1 if y1 > y0 else -1
            if y0 > y1:
                x0, y0, x1, y1 = x1, y1, x0, y0
            edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), direction))
    cov = [0.0] * (size * size)
    weight = 1.0 / subrows
    for row in range(size):
        row_edges = [e for e in edges if e[0] < row + 1 and e[1] > row]
        if not row_edges:
            continue
        base = row * size
        for k in range(subrows):
            y = row + (k + 0.5) / subrows
            xs = sorted((x0 + (y - y0) * slope, d)
                        for y0, y1, x0, slope, d in row_edges if y0 <= y < y1)
            winding = 0
            start = 0.0
            for x, d in xs:
                before = winding
                winding += d
                if before == 0 and winding != 0:
                    start = x
                elif before != 0 and winding == 0:
                    _add_span(cov, base, size, start, x, weight)
    return [min(c, 1.0) for c in cov]


def _add_span(cov, base, size, x0, x1, weight):
    x0 = max(0.0, min(float(size), x0))
    x1 = max(0.0, min(float(size), x1))
    if x1 <= x0:
        return
    i0, i1 = int(x0), int(x1)
    if i0 == i1:
        cov[base + i0] += (x1 - x0) * weight
        return
    cov[base + i0] += (i0 + 1 - x0) * weight
    for i in range(i0 + 1, i1):
        cov[base + i] += weight
    if i1 < size:
        cov[base + i1] += (x1 - i1) * weight


class Canvas:
    """Premultiplied RGBA, composited with 'over'."""

    def __init__(self, size):
        self.size = size
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def paint(self, cov, colour, opacity=1.0):
        size = self.size
        for i, c in enumerate(cov):
            a = c * opacity
            if a <= 0.0:
                continue
            col = colour(i % size, i // size) if callable(colour) else colour
            p = self.px[i]
            keep = 1.0 - a
            p[0] = p[0] * keep + col[0] * a
            p[1] = p[1] * keep + col[1] * a
            p[2] = p[2] * keep + col[2] * a
            p[3] = p[3] * keep + a


def multiply(a, b):
    return [x * y for x, y in zip(a, b)]


# ---------------------------------------------------------------- artwork

CARD = dict(left=4, top=12, right=40, bottom=60, cut=10, radius=3)
# The quill's axis is a gentle curve from the tip of the feather to the
# point of the nib, bowing out to the lower right.
QUILL_TOP = (57.0, 2.0)
QUILL_BEND = (48.0, 31.0)
QUILL_TIP = (19.0, 57.0)
VANE_END = 0.62   # fraction of the axis covered by the feather's vanes


def card_outline():
    c = CARD
    return [(c['left'], c['top']), (c['right'] - c['cut'], c['top']),
            (c['right'], c['top'] + c['cut']), (c['right'], c['bottom']),
            (c['left'], c['bottom'])]


def card_shape(d):
    return round_corners(inset(card_outline(), d), max(CARD['radius'] - d, 0.01))


def contacts(size, d):
    """Gold pads along the top edge, as many as the pixels can show apart.
    They are laid out in whole pixels so they never blur into one another."""
    px = UNITS / size
    count = 3 if size <= 16 else 4
    left = CARD['left'] + d + (4 if size <= 16 else 3)
    span = CARD['right'] - CARD['cut'] - 2 - left
    pitch = max(round(span / count / px), 2)
    pad = min(max(round(pitch * 0.55), 1), pitch - 1)
    first = round(left / px)
    top = CARD['top'] + d + (2 if size > 16 else 0)
    height = 12 if size > 16 else 8
    pads = []
    for i in range(count):
        x0, x1 = (first + i * pitch) * px, (first + i * pitch + pad) * px
        pads.append(oriented([(x0, top), (x1, top), (x1, top + height), (x0, top + height)]))
    return pads


def axis_point(t, offset=0.0):
    """The point at t (0 at the feather's tip, 1 at the nib's point), moved
    `offset` to the right of the direction of travel as seen on screen."""
    (x0, y0), (x1, y1), (x2, y2) = QUILL_TOP, QUILL_BEND, QUILL_TIP
    u = 1 - t
    x = u * u * x0 + 2 * u * t * x1 + t * t * x2
    y = u * u * y0 + 2 * u * t * y1 + t * t * y2
    dx = 2 * u * (x1 - x0) + 2 * t * (x2 - x1)
    dy = 2 * u * (y1 - y0) + 2 * t * (y2 - y1)
    length = math.hypot(dx, dy)
    return (x - dy / length * offset, y + dx / length * offset)


def vane_width(t, side, bold=1.0):
    """Half-width of one vane: a blunt tip, widest a third of the way down,
    then a long taper into the shaft. The leading vane, towards the card,
    is the narrow one, as on a real flight feather."""
    u = min(t / VANE_END, 1.0)
    peak = (5.5 if side > 0 else 8.5) * bold
    return peak * math.sin(math.pi * u ** 0.75) ** 0.6


def vane_edge(side, bold, steps=48):
    """Outer edge of one vane, from the feather's tip down to the shaft."""
    return [axis_point(t, side * vane_width(t, side, bold))
            for t in (VANE_END * i / steps for i in range(steps + 1))]


def feather(d, bold):
    """The feather's outline inset by d, and its shaded vane. Small icons
    get a bolder feather, or it would read as a mere stick."""
    lead = vane_edge(1, bold)
    trail = vane_edge(-1, bold)
    # Both edges start and end on the axis.
    whole = oriented(lead + trail[-2:0:-1])
    if d:
        whole = inset(whole, d)
    # The trailing vane, turned away from the light, gets the shade.
    shade = oriented(trail + [axis_point(t / 10 * VANE_END) for t in range(9, 0, -1)])
    return whole, shade


def splits(width):
    """Gaps between barbs: short cuts from a vane's edge slanting towards
    the base, as on a well-used quill."""
    cuts = []
    for side, at in ((1, 0.22), (-1, 0.30), (-1, 0.42)):
        w = vane_width(at, side)
        cuts += polyline([axis_point(at, side * (w + 1)),
                          axis_point(at + 0.07, side * w * 0.45)], width)
    return cuts


def shaft(d):
    """The bare quill below the vanes, cut to a nib at its lower end."""
    half = 2.4 - d
    nib_from = 0.82
    pts = []
    for t in (0.55, nib_from):
        pts.append(axis_point(t, half))
    pts.append(axis_point(0.93, half * 0.45))
    pts.append(axis_point(1.0 - d / 60.0, 0.0))
    pts.append(axis_point(0.90, -half * 0.6))
    pts.append(axis_point(nib_from, -half))
    pts.append(axis_point(0.55, -half))
    return oriented(pts)


def draw(size, scheme):
    canvas = Canvas(size)
    px = UNITS / size            # one pixel in artwork units
    edge = px * (1 if size <= 32 else 1.5 if size <= 48 else 2)
    if scheme is MONO:
        edge = px * max(1, size // 32)

    # The card: an outline, then a body shaded from top to bottom.
    card = rasterize([card_shape(0)], size)
    body = rasterize([card_shape(edge)], size)
    top, bottom = scheme['card_top'], scheme['card_bottom']

    def gradient(x, y):
        f = min(max((y * px - CARD['top']) / (CARD['bottom'] - CARD['top']), 0.0), 1.0)
        return tuple(top[i] + (bottom[i] - top[i]) * f for i in range(3))

    canvas.paint(card, scheme['card_edge'])
    canvas.paint(body, gradient if scheme is FULL else bottom)
    if scheme['card_shine'] and size >= 32:
        shine = polyline([(CARD['left'] + edge + 2.5, CARD['bottom'] - 6),
                          (CARD['left'] + edge + 2.5, CARD['top'] + 22)], px * 1.2)
        canvas.paint(rasterize(shine, size), scheme['card_shine'], 0.8 if scheme is FULL else 1.0)

    pads = contacts(size, edge)
    canvas.paint(rasterize(pads, size), scheme['contact'])
    if size >= 48 and scheme is FULL:
        rims = [p for pad in pads for p in polyline(pad + pad[:1], px)]
        canvas.paint(multiply(rasterize(rims, size), rasterize(pads, size)),
                     scheme['contact_edge'], 0.7)

    bold = 1.35 if size <= 16 else 1.15 if size <= 32 else 1.0
    outer_feather, shaded_vane = feather(0, bold)
    inner_feather, _ = feather(edge, bold)
    quill = [outer_feather, shaft(0)]

    if scheme['shadow'] and size >= 32:
        shift = px * (1 if size <= 32 else 2)
        shadow = rasterize(translate(quill, shift, shift), size)
        canvas.paint(multiply(shadow, card), (0, 0, 0), scheme['shadow'])

    # Shaft and nib first; the feather overlaps their upper end.
    canvas.paint(rasterize([shaft(0)], size), scheme['feather_edge'])
    canvas.paint(rasterize([shaft(edge)], size), scheme['shaft'])
    ink_zone = rasterize([[axis_point(0.885, -9), axis_point(0.885, 9),
                           axis_point(1.2, 9), axis_point(1.2, -9)]], size)
    canvas.paint(multiply(ink_zone, rasterize([shaft(0)], size)), scheme['ink'])

    canvas.paint(rasterize([outer_feather], size), scheme['feather_edge'])
    inner = rasterize([inner_feather], size)
    canvas.paint(inner, scheme['feather'])
    canvas.paint(multiply(inner, rasterize([shaded_vane], size)), scheme['feather_shade'])
    rachis = polyline([axis_point(0.06), axis_point(VANE_END)], px * (1 if size <= 32 else 1.3))
    canvas.paint(multiply(rasterize(rachis, size), inner), scheme['rachis'])
    if size >= 48:
        canvas.paint(multiply(rasterize(splits(edge * 0.6), size), rasterize([outer_feather], size)),
                     scheme['feather_edge'], 0.7 if scheme is FULL else 1.0)
    return canvas


# ---------------------------------------------------------------- encoding

def straight_colour(p):
    a = p[3]
    return tuple(min(max(c / a, 0.0), 1.0) for c in p[:3]) if a > 0 else (0.0, 0.0, 0.0)


def byte(v):
    return int(round(min(max(v, 0.0), 1.0) * 255))


def median_cut(colours, limit):
    """A palette of at most `limit` colours for the given (r, g, b) bytes."""
    boxes = [sorted(set(colours))]
    while len(boxes) < limit:
        spread = [(max(c[k] for c in b) - min(c[k] for c in b), k, i)
                  for i, b in enumerate(boxes) if len(b) > 1 for k in range(3)]
        if not spread:
            break
        _, k, i = max(spread)
        box = sorted(boxes.pop(i), key=lambda c: c[k])
        half = len(box) // 2
        boxes[i:i] = [box[:half], box[half:]]
    return [tuple(sum(c[k] for c in b) // len(b) for k in range(3)) for b in boxes]


def nearest(palette, colour, cache):
    hit = cache.get(colour)
    if hit is None:
        r, g, b = colour
        # Weighted distance: the eye minds green most and blue least.
        hit = min(range(len(palette)), key=lambda i: 3 * (palette[i][0] - r) ** 2 +
                  4 * (palette[i][1] - g) ** 2 + 2 * (palette[i][2] - b) ** 2)
        cache[colour] = hit
    return hit


def encode_image(size, bpp):
    scheme = FULL if bpp >= 8 else VGA if bpp == 4 else MONO
    px = draw(size, scheme).px

    if bpp == 32:
        opaque = [p[3] >= 0.5 for p in px]
        colours = [tuple(byte(c) for c in straight_colour(p)) + (byte(p[3]),) for p in px]
        # Where alpha is 0 the colour must be black too, for the XOR pass
        # of renderers that ignore alpha.
        colours = [c if c[3] else (0, 0, 0, 0) for c in colours]
        rows = [b''.join(bytes((c[2], c[1], c[0], c[3])) for c in colours[y * size:(y + 1) * size])
                for y in range(size)]
        palette = []
    else:
        # No alpha channel: a pixel is either opaque or masked away, and a
        # masked pixel is black so that the XOR pass leaves the background.
        opaque = [p[3] >= 0.5 for p in px]
        colours = [tuple(byte(c) for c in straight_colour(p)) if o else (0, 0, 0)
                   for p, o in zip(px, opaque)]
        if bpp == 24:
            palette = []
            rows = [b''.join(bytes((c[2], c[1], c[0])) for c in colours[y * size:(y + 1) * size])
                    for y in range(size)]
        else:
            if bpp == 8:
                palette = [(0, 0, 0)] + median_cut([c for c, o in zip(colours, opaque) if o], 255)
            elif bpp == 4:
                palette = VGA_PALETTE
            else:
                palette = [(0, 0, 0), (255, 255, 255)]
            cache = {}
            if bpp == 1:
                index = [int(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2] >= 128) for c in colours]
            else:
                index = [nearest(palette, c, cache) if o else 0 for c, o in zip(colours, opaque)]
            palette = palette + [(0, 0, 0)] * ((1 << bpp) - len(palette))
            rows = [pack_bits(index[y * size:(y + 1) * size], bpp) for y in range(size)]

    mask_rows = [pack_bits([0 if o else 1 for o in opaque[y * size:(y + 1) * size]], 1)
                 for y in range(size)]
    xor = b''.join(pad4(r) for r in reversed(rows))       # bottom-up
    mask = b''.join(pad4(r) for r in reversed(mask_rows))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + xor + mask


def pack_bits(values, bpp):
    out = bytearray()
    per_byte = 8 // bpp
    for i in range(0, len(values), per_byte):
        group = values[i:i + per_byte] + [0] * (per_byte - len(values[i:i + per_byte]))
        v = 0
        for x in group:
            v = (v << bpp) | x
        out.append(v)
    return bytes(out)


def pad4(row):
    return row + b'\0' * (-len(row) % 4)


def write_ico(path, images, cache):
    blobs = []
    for size, bpp in images:
        if (size, bpp) not in cache:
            cache[size, bpp] = encode_image(size, bpp)
        blobs.append(cache[size, bpp])
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bpp), blob in zip(images, blobs):
        out += struct.pack('<BBBBHHII', size % 256, size % 256,
                           (1 << bpp) if bpp < 8 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources')
    cache = {}
    write_ico(os.path.join(out_dir, 'quillset.ico'), LARGE_IMAGES, cache)
    write_ico(os.path.join(out_dir, 'quillset_small.ico'), SMALL_IMAGES, cache)


if __name__ == '__main__':
    main()
