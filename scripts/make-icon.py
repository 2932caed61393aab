#!/usr/bin/env python3
"""Writes the launcher's icon: make-icon.py OUTPUT.ico

The icon is drawn here from geometry rather than kept as a binary file, so the
repository holds no opaque artwork and the build regenerates it. The output
is one 64 x 64 image with 32 bits per pixel (straight alpha plus the 1-bit AND
mask that older consumers still read), which both icon groups of the resource
script use.

Only the standard library is used, and only correctly rounded float
operations (+ - * / and sqrt), so every Python 3 on every platform writes the
same bytes: a rebuild never changes the launcher because of its icon.
"""

import math
import os
import struct
import sys

SIZE = 64

# Colours as (r, g, b), 0..1.
DISC_TOP = (0.49, 0.33, 1.00)      # light violet at the top of the disc
DISC_BOTTOM = (0.20, 0.10, 0.56)   # deep violet at the bottom
RIM = (0.13, 0.06, 0.38)           # thin dark edge that separates the disc
                                   # from light backgrounds
MARK = (1.00, 0.83, 0.30)          # the gold "start" triangle
MARK_SHADOW = (0.08, 0.03, 0.25)

CENTRE = (32.0, 32.0)
DISC_RADIUS = 30.5
RIM_WIDTH = 1.6
# The play triangle, pointing right. Its centroid, not its bounding box, sits
# at the disc's centre (a little to the right of it), which is what makes a
# triangle look centred to the eye.
TRIANGLE = ((23.0, 15.0), (23.0, 49.0), (51.0, 32.0))
TRIANGLE_ROUNDING = 3.0


def clamp(value, low, high):
    return low if value < low else high if value > high else value


def coverage(distance):
    """Fraction of a pixel covered by a shape, from the signed distance of
    the pixel's centre to the shape's edge (negative inside): a one-pixel
    linear ramp, which is what gives the edges their anti-aliasing."""
    return clamp(0.5 - distance, 0.0, 1.0)


def disc_distance(x, y, radius):
    dx = x - CENTRE[0]
    dy = y - CENTRE[1]
    return math.sqrt(dx * dx + dy * dy) - radius


def polygon_distance(x, y, vertices):
    """Exact signed distance to a closed polygon (negative inside)."""
    best = None
    inside = False
    count = len(vertices)
    for i in range(count):
        ax, ay = vertices[i]
        bx, by = vertices[(i + 1) % count]
        ex, ey = bx - ax, by - ay
        wx, wy = x - ax, y - ay
        t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0)
        px, py = wx - ex * t, wy - ey * t
        squared = px * px + py * py
        if best is None or squared < best:
            best = squared
        # Crossing count of a ray towards +x, for the inside test.
        if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
            inside = not inside
    distance = math.sqrt(best)
    return -distance if inside else distance


def shrink(vertices, amount):
    """Moves each vertex towards the centroid so that, once the corners are
    rounded by `amount`, the triangle keeps roughly its drawn size."""
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
    """Porter-Duff "over" on premultiplied (r, g, b, a) pixels; `top` is a
    straight colour with coverage `alpha`."""
    keep = 1.0 - alpha
    return (top[0] * alpha + below[0] * keep,
            top[1] * alpha + below[1] * keep,
            top[2] * alpha + below[2] * keep,
            alpha + below[3] * keep)


def render():
    """Returns the image as rows top to bottom of premultiplied pixels."""
    inner_triangle = shrink(TRIANGLE, TRIANGLE_ROUNDING * 2.0)
    shadow_triangle = [(vx + 0.8, vy + 1.6) for vx, vy in inner_triangle]
    top = CENTRE[1] - DISC_RADIUS
    rows = []
    for row in range(SIZE):
        pixels = []
        for column in range(SIZE):
            x, y = column + 0.5, row + 0.5
            pixel = (0.0, 0.0, 0.0, 0.0)

            # Disc: the rim colour underneath, the gradient fill inset on it.
            disc = coverage(disc_distance(x, y, DISC_RADIUS))
            if disc > 0.0:
                pixel = over(RIM, disc, pixel)
                fill = coverage(disc_distance(x, y, DISC_RADIUS - RIM_WIDTH))
                t = clamp((y - top) / (2.0 * DISC_RADIUS), 0.0, 1.0)
                pixel = over(mix(DISC_TOP, DISC_BOTTOM, t), fill, pixel)

                # A soft shadow under the mark gives it some lift.
                shadow = polygon_distance(x, y, shadow_triangle)
                shadow = clamp((TRIANGLE_ROUNDING + 1.5 - shadow) / 3.0,
                               0.0, 1.0) * 0.45 * fill
                pixel = over(MARK_SHADOW, shadow, pixel)

                mark = coverage(polygon_distance(x, y, inner_triangle)
                                - TRIANGLE_ROUNDING)
                # Lit from above like the disc: a touch darker downwards.
                shade = clamp((y - 15.0) / 34.0, 0.0, 1.0) * 0.12
                pixel = over(mix(MARK, (0.85, 0.55, 0.10), shade), mark, pixel)
            pixels.append(pixel)
        rows.append(pixels)
    return rows


def to_byte(value):
    return int(clamp(value, 0.0, 1.0) * 255.0 + 0.5)


def encode_ico(rows):
    """Packs the image as an .ico with one classic DIB entry."""
    xor = bytearray()
    and_mask = bytearray()
    # A DIB is stored bottom-up.
    for pixels in reversed(rows):
        mask_bits = 0
        for red, green, blue, alpha in pixels:
            a = to_byte(alpha)
            if a == 0:
                xor += b"\0\0\0\0"
            else:
                # Icons carry straight (not premultiplied) colour.
                xor += bytes((to_byte(blue / alpha), to_byte(green / alpha),
                              to_byte(red / alpha), a))
            # AND bit set = transparent where the alpha channel is ignored.
            mask_bits = (mask_bits << 1) | (1 if a == 0 else 0)
        row = mask_bits.to_bytes(SIZE // 8, "big")
        # Each mask row is padded to a multiple of four bytes.
        and_mask += row + b"\0" * (-len(row) % 4)

    header = struct.pack(
        "<IiiHHIIiiII",
        40,            # biSize: BITMAPINFOHEADER
        SIZE,          # biWidth
        SIZE * 2,      # biHeight: colour image and AND mask together
        1,             # biPlanes
        32,            # biBitCount
        0,             # biCompression: BI_RGB
        len(xor) + len(and_mask),
        0, 0, 0, 0)    # resolution and palette: unused
    image = header + bytes(xor) + bytes(and_mask)

    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, 1 image
    entry = struct.pack(
        "<BBBBHHII",
        SIZE, SIZE,    # 64 fits in a byte; only 256 is written as 0
        0, 0,          # no palette, reserved
        1, 32,         # planes, bits per pixel
        len(image),
        len(directory) + 16)
    return directory + entry + image


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make-icon.py OUTPUT.ico\n")
        return 2
    data = encode_ico(render())
    # Write beside the target and rename, so that an interrupted build never
    # leaves a truncated icon that a later windres run would pick up.
    temporary = argv[1] + ".tmp"
    with open(temporary, "wb") as output:
        output.write(data)
    os.replace(temporary, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
