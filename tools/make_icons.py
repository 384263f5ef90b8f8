#!/usr/bin/env python3
"""Draws Tessel's icons and its hand cursor and writes them as .ico/.cur.

The pictures are small enough to be described in code: each is drawn into
an RGBA grid at every size Windows asks for between 100 % and 250 % display
scale and stored as 32-bit DIB images (the application's 256-pixel image as
PNG, as Windows keeps its large icons), so that no size is ever stretched.
Run: python3 tools/make_icons.py src/app/res
"""
import math
import struct
import sys
import zlib
from pathlib import Path

# Small icons at 100, 125, 150, 175, 200, 225 and 250 %.
SMALL_SIZES = [16, 20, 24, 28, 32, 36, 40]
# The application icon also serves as the big window icon (32 at 100 %, 48
# and 64 at 150 % and 200 %, 256 above).
APP_SIZES = SMALL_SIZES + [48, 64, 256]


def blank(size):
    return [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]


def blend(img, x, y, rgb, alpha):
    if not (0 <= x < len(img) and 0 <= y < len(img)) or alpha <= 0:
        return
    r0, g0, b0, a0 = img[y][x]
    a = alpha + a0 * (1 - alpha / 255) if a0 else alpha
    if a <= 0:
        return
    mix = alpha / a
    img[y][x] = tuple(int(round(c1 * mix + c0 * (1 - mix))) for c0, c1 in zip((r0, g0, b0), rgb)) + (int(round(min(a, 255))),)


def rounded_rect(img, x0, y0, x1, y1, radius, rgb):
    """Fills [x0,x1) x [y0,y1) with rounded corners, 4x4 supersampled."""
    for y in range(int(y0), int(math.ceil(y1))):
        for x in range(int(x0), int(math.ceil(x1))):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
                    cx = min(max(px, x0 + radius), x1 - radius)
                    cy = min(max(py, y0 + radius), y1 - radius)
                    inside = x0 <= px < x1 and y0 <= py < y1
                    if inside and (px - cx) ** 2 + (py - cy) ** 2 <= radius * radius:
                        hits += 1
            blend(img, x, y, rgb, 255 * hits / 16)


def disc(img, cx, cy, r, rgb, width=None):
    """A filled disc, or a ring of the given width."""
    for y in range(len(img)):
        for x in range(len(img)):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    d = math.hypot(x + (sx + 0.5) / 4 - cx, y + (sy + 0.5) / 4 - cy)
                    if d <= r and (width is None or d >= r - width):
                        hits += 1
            blend(img, x, y, rgb, 255 * hits / 16)


def app_icon(n):
    # Four tiles of a mosaic: the program's name.
    img = blank(n)
    s = n / 16
    colours = [(0x2b, 0x6c, 0xd6), (0x26, 0xa6, 0x9a), (0xf2, 0xa2, 0x2c), (0xd9, 0x4a, 0x3d)]
    for i, rgb in enumerate(colours):
        x, y = (i % 2) * 8 * s, (i // 2) * 8 * s
        rounded_rect(img, x + 0.5 * s, y + 0.5 * s, x + 7.5 * s, y + 7.5 * s, 1.6 * s, rgb)
    return img


def root_icon(n):
    # Radiating rings: all sensors of the machine.
    img = blank(n)
    s = n / 16
    disc(img, 8 * s, 8 * s, 7.5 * s, (0x2b, 0x6c, 0xd6), 1.4 * s)
    disc(img, 8 * s, 8 * s, 4.8 * s, (0x2b, 0x6c, 0xd6), 1.4 * s)
    disc(img, 8 * s, 8 * s, 2.1 * s, (0x1b, 0x4c, 0xa6))
    return img


def sensor_icon(n):
    # A chip with pins.
    img = blank(n)
    s = n / 16
    pin = (0x8a, 0x93, 0x9e)
    for i in range(3):
        p = (4.5 + 3 * i) * s
        rounded_rect(img, p - 0.7 * s, 0.5 * s, p + 0.7 * s, 3.5 * s, 0.2 * s, pin)
        rounded_rect(img, p - 0.7 * s, 12.5 * s, p + 0.7 * s, 15.5 * s, 0.2 * s, pin)
        rounded_rect(img, 0.5 * s, p - 0.7 * s, 3.5 * s, p + 0.7 * s, 0.2 * s, pin)
        rounded_rect(img, 12.5 * s, p - 0.7 * s, 15.5 * s, p + 0.7 * s, 0.2 * s, pin)
    rounded_rect(img, 2.5 * s, 2.5 * s, 13.5 * s, 13.5 * s, 1.5 * s, (0x34, 0x3a, 0x46))
    disc(img, 8 * s, 8 * s, 2.2 * s, (0x26, 0xa6, 0x9a))
    return img


def field_icon(n):
    # A small filled dot with a ring: one value.
    img = blank(n)
    s = n / 16
    disc(img, 8 * s, 8 * s, 5.5 * s, (0x26, 0xa6, 0x9a), 1.3 * s)
    disc(img, 8 * s, 8 * s, 2.6 * s, (0x26, 0xa6, 0x9a))
    return img


HAND = """\
     XX
    X..X
    X..X
    X..X
    X..X
    X..XXX
    X..X..XXX
    X..X..X..XX
    X..X..X..X.X
XXX X..X..X..X..X
X..XX........X..X
X...X...........X
 X..X...........X
  X.............X
  X............X
   X...........X
   X..........X
    X.........X
    X........X
     X.......X
     X.......X
     XXXXXXXXX
"""


def hand_cursor():
    img = blank(32)
    for y, row in enumerate(HAND.splitlines()):
        for x, ch in enumerate(row):
            if ch == 'X':
                img[y + 1][x + 5] = (0, 0, 0, 255)
            elif ch == '.':
                img[y + 1][x + 5] = (255, 255, 255, 255)
    return img, (10, 1)


def dib(img):
    """A 32-bit BITMAPINFOHEADER image with its AND mask, bottom-up."""
    n = len(img)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(struct.pack('<BBBB', b, g, r, a) for row in reversed(img) for (r, g, b, a) in row)
    stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(img):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png(img):
    """The image as a PNG file: RGBA, 8 bits a channel, no filter."""
    n = len(img)

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data))
    raw = b''.join(b'\0' + bytes(c for px in row for c in px) for row in img)
    header = struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def write_group(path, images, kind=1, hotspot=(0, 0)):
    blobs = [png(img) if len(img) >= 256 else dib(img) for img in images]
    out = struct.pack('<HHH', 0, kind, len(blobs))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        n = len(img)
        # A cursor's hot spot scales with its image.
        base = len(images[0])
        planes, bits = (1, 32) if kind == 1 else (hotspot[0] * n // base, hotspot[1] * n // base)
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, planes, bits, len(blob), offset)
        offset += len(blob)
    path.write_bytes(out + b''.join(blobs))


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else 'src/app/res')
    folder.mkdir(parents=True, exist_ok=True)
    for name, draw in (('app', app_icon), ('root', root_icon), ('sensor', sensor_icon), ('field', field_icon)):
        sizes = APP_SIZES if name == 'app' else SMALL_SIZES
        write_group(folder / f'{name}.ico', [draw(n) for n in sizes])
    cursor, hotspot = hand_cursor()
    # The pixel-art hand doubled for 200 %: every pixel stays sharp.
    doubled = [[row[x // 2] for x in range(64)] for row in cursor for _ in range(2)]
    write_group(folder / 'hand.cur', [cursor, doubled], kind=2, hotspot=hotspot)


if __name__ == '__main__':
    main()
