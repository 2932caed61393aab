#!/usr/bin/env python3
"""Writes the launcher's icon: make-icon.py OUTPUT.ico OUTPUT.h

Drawn from geometry, so the repository holds no opaque artwork: one 64 x 64
image of 32 bits per pixel, stored as PNG, which Windows reads in icons since
Vista, and used by both icon groups of the resource script; OUTPUT.h gives
its size to the group written out there. Only the standard library and
correctly rounded float operations (+ - * / sqrt), so the same Python and
zlib write the same bytes and a rebuild never changes the launcher.
"""
import math
import os
import struct
import sys
import zlib

SIZE = 64
DISC_TOP, DISC_BOTTOM = (0.49, 0.33, 1.00), (0.20, 0.10, 0.56)  # violet gradient, (r, g, b)
RIM = (0.13, 0.06, 0.38)  # a thin dark edge against light backgrounds
MARK, MARK_SHADOW = (1.00, 0.83, 0.30), (0.08, 0.03, 0.25)  # the gold "start" triangle
CENTRE, DISC_RADIUS, RIM_WIDTH = (32.0, 32.0), 30.5, 1.6
# The play triangle, pointing right: its centroid, not its bounding box, sits
# at the disc's centre, which is what makes a triangle look centred.
TRIANGLE, TRIANGLE_ROUNDING = ((23.0, 15.0), (23.0, 49.0), (51.0, 32.0)), 3.0


def clamp(value, low, high):
    return low if value < low else high if value > high else value


def coverage(distance):
    """The part of a pixel a shape covers, from its centre's signed distance to
    the edge (negative inside): a one-pixel ramp, which anti-aliases."""
    return clamp(0.5 - distance, 0.0, 1.0)


def disc_distance(x, y, radius):
    dx, dy = x - CENTRE[0], y - CENTRE[1]
    return math.sqrt(dx * dx + dy * dy) - radius


def polygon_distance(x, y, vertices):
    """Exact signed distance to a closed polygon (negative inside)."""
    best, inside = None, False
    for i, (ax, ay) in enumerate(vertices):
        bx, by = vertices[(i + 1) % len(vertices)]
        ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
        t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0)
        px, py = wx - ex * t, wy - ey * t
        squared = px * px + py * py
        best = squared if best is None or squared < best else best
        if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:  # a ray towards +x crosses
            inside = not inside
    return -math.sqrt(best) if inside else math.sqrt(best)


def shrink(vertices, amount):
    """Vertices moved towards the centroid, so that rounded by `amount` the
    triangle keeps about its drawn size."""
    cx = sum(v[0] for v in vertices) / len(vertices)
    cy = sum(v[1] for v in vertices) / len(vertices)
    result = []
    for vx, vy in vertices:
        dx, dy = vx - cx, vy - cy
        length = math.sqrt(dx * dx + dy * dy)
        scale = (length - amount) / length
        result.append((cx + dx * scale, cy + dy * scale))
    return result


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def over(top, alpha, below):
    """`top`, a straight colour covering `alpha`, over a premultiplied pixel."""
    keep = 1.0 - alpha
    return tuple(top[i] * alpha + below[i] * keep for i in range(3)) + (alpha + below[3] * keep,)


def render():
    """The image as rows, top to bottom, of premultiplied pixels."""
    inner_triangle = shrink(TRIANGLE, TRIANGLE_ROUNDING * 2.0)
    shadow_triangle = [(vx + 0.8, vy + 1.6) for vx, vy in inner_triangle]
    top = CENTRE[1] - DISC_RADIUS
    rows = []
    for row in range(SIZE):
        pixels = []
        for column in range(SIZE):
            x, y = column + 0.5, row + 0.5
            pixel = (0.0, 0.0, 0.0, 0.0)
            disc = coverage(disc_distance(x, y, DISC_RADIUS))
            if disc > 0.0:
                # The rim colour underneath, the gradient inset on it, a soft
                # shadow under the mark, and the mark, a touch darker downwards.
                pixel = over(RIM, disc, pixel)
                fill = coverage(disc_distance(x, y, DISC_RADIUS - RIM_WIDTH))
                t = clamp((y - top) / (2.0 * DISC_RADIUS), 0.0, 1.0)
                pixel = over(mix(DISC_TOP, DISC_BOTTOM, t), fill, pixel)
                shadow = polygon_distance(x, y, shadow_triangle)
                shadow = clamp((TRIANGLE_ROUNDING + 1.5 - shadow) / 3.0, 0.0, 1.0) * 0.45 * fill
                pixel = over(MARK_SHADOW, shadow, pixel)
                mark = coverage(polygon_distance(x, y, inner_triangle) - TRIANGLE_ROUNDING)
                shade = clamp((y - 15.0) / 34.0, 0.0, 1.0) * 0.12
                pixel = over(mix(MARK, (0.85, 0.55, 0.10), shade), mark, pixel)
            pixels.append(pixel)
        rows.append(pixels)
    return rows


def to_byte(value):
    return int(clamp(value, 0.0, 1.0) * 255.0 + 0.5)


def encode_png(rows):
    """A PNG of straight RGBA, each row filtered by its left neighbour."""
    raw = bytearray()
    for pixels in rows:
        row = bytearray()
        for red, green, blue, alpha in pixels:
            a = to_byte(alpha)
            row += bytes((to_byte(red / alpha), to_byte(green / alpha), to_byte(blue / alpha), a)
                         if a else 4)
        raw += b"\1" + bytes(row[i] - (row[i - 4] if i >= 4 else 0) & 0xFF for i in range(len(row)))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind+data))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8 bits, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write(path, data):
    # Written beside it and renamed: an interrupted build leaves no truncated file.
    with open(path + ".tmp", "wb") as output:
        output.write(data)
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make-icon.py OUTPUT.ico OUTPUT.h")
    image = encode_png(render())
    # The directory (reserved, an icon, one image), its one entry, the image.
    write(sys.argv[1], struct.pack("<HHHBBBBHHII", 0, 1, 1, SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
          + image)
    write(sys.argv[2], f"#define PELTERIN_ICON_BYTES {len(image)}L\n".encode())
