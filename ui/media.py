#!/usr/bin/env python3
"""Draws the stub's application icon and its progress animation, and
readies its application manifest.

    media.py OUTDIR   writes OUTDIR/kest.ico, OUTDIR/kest.avi and
                      OUTDIR/kest.manifest

The icon is a yellow box into which a blue arrow drops, at 32x32 and 16x16
in the 16-colour palette that every Windows version shows. The clip is a
ring of eight dots whose dark head turns clockwise: a silent RLE8 AVI, the
kind the animation control plays without any codec. Both are drawn from
the shapes below, so the output is the same on every run. The manifest is
ui/kest.manifest without its comments and the whitespace of its layout,
which the program file would otherwise carry.
"""
import math
import re
import struct
import sys
from pathlib import Path

# The 16-colour VGA palette, in the order of the standard 4-bit icon.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, OLIVE, NAVY, GRAY, YELLOW, BLUE, WHITE = 0, 3, 4, 8, 11, 12, 15
CLEAR = None


# Icon ---------------------------------------------------------------------

def inside(polygon, x, y):
    """Even-odd test of the point (x, y) against a polygon."""
    result = False
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


# Shapes on a 32-unit square, painted in order: (polygon, fill, outline).
BOX_SHAPES = [
    # the open top: the inside of the box
    ([(2, 19), (19, 19), (27, 13), (10, 13)], GRAY, BLACK),
    # the arrow, its tip at the rim
    ([(13, 0), (19, 0), (19, 9), (25, 9), (16, 19), (7, 9), (13, 9)], BLUE, NAVY),
    # the front and the side of the box
    ([(2, 19), (19, 19), (19, 31), (2, 31)], YELLOW, BLACK),
    ([(19, 19), (27, 13), (27, 25), (19, 31)], OLIVE, BLACK),
]


def draw_icon(size):
    """A size x size grid of palette indexes, CLEAR where transparent."""
    scale = 32 / size
    pixels = [[CLEAR] * size for _ in range(size)]
    for polygon, fill, outline in BOX_SHAPES:
        def hit(x, y):
            return 0 <= x < size and 0 <= y < size and \
                inside(polygon, (x + 0.5) * scale, (y + 0.5) * scale)
        for y in range(size):
            for x in range(size):
                if hit(x, y):
                    edge = not all(hit(x + dx, y + dy)
                                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                    pixels[y][x] = outline if edge else fill
    return pixels


def icon_image(pixels):
    """One 4-bit icon image: header, palette, colour bits, mask bits."""
    size = len(pixels)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, value in enumerate(row):
            if value is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
                value = 0
            line[x // 2] |= value << (4 if x % 2 == 0 else 0)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    return header + palette + bytes(xor) + bytes(mask)


def make_icon():
    images = [icon_image(draw_icon(size)) for size in (32, 16)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in zip((32, 16), images):
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
        data += image
    return directory + entries + data


# Animation ------------------------------------------------------------------

CLIP_WIDTH = CLIP_HEIGHT = 24
DOTS = 8
FRAME_MICROSECONDS = 100_000
# Key colour at pixel (0, 0): the control paints it transparent. The dots'
# soft edges blend towards a light face colour.
BACKGROUND = (236, 236, 236)
# Dot tones: the head, two fading trail dots, and the resting dots.
TONES = [(0, 70, 160), (70, 120, 200), (140, 170, 220), (190, 190, 190)]
COVERAGE_LEVELS = 2


def clip_palette():
    palette = [BACKGROUND]
    for tone in TONES:
        for level in range(1, COVERAGE_LEVELS + 1):
            a = level / COVERAGE_LEVELS
            palette.append(tuple(round(b + (t - b) * a) for t, b in zip(tone, BACKGROUND)))
    return palette


def draw_frame(frame):
    """Palette indexes of one frame, top row first."""
    cx, cy = CLIP_WIDTH / 2, CLIP_HEIGHT / 2
    ring, radius, samples = 8.0, 2.7, 4
    pixels = [[0] * CLIP_WIDTH for _ in range(CLIP_HEIGHT)]
    for dot in range(DOTS):
        angle = 2 * math.pi * dot / DOTS - math.pi / 2
        dx, dy = cx + ring * math.cos(angle), cy + ring * math.sin(angle)
        tone = min((frame - dot) % DOTS, len(TONES) - 1)
        for y in range(CLIP_HEIGHT):
            for x in range(CLIP_WIDTH):
                hits = sum((x + (i + 0.5) / samples - dx) ** 2 +
                           (y + (j + 0.5) / samples - dy) ** 2 <= radius ** 2
                           for i in range(samples) for j in range(samples))
                level = round(hits / samples ** 2 * COVERAGE_LEVELS)
                if level:
                    pixels[y][x] = 1 + tone * COVERAGE_LEVELS + level - 1
    return pixels


def rle8(pixels):
    """Encoded-mode runs only, bottom row first, one end-of-line per row."""
    out = bytearray()
    rows = list(reversed(pixels))
    for number, row in enumerate(rows):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and row[x + run] == row[x] and run < 255:
                run += 1
            out += bytes((run, row[x]))
            x += run
        out += b"\0\1" if number == len(rows) - 1 else b"\0\0"
    return bytes(out)


def chunk(fourcc, data):
    return fourcc + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def riff_list(kind, fourcc, data):
    return kind + struct.pack("<I", len(data) + 4) + fourcc + data


def make_clip():
    frames = [rle8(draw_frame(f)) for f in range(DOTS)]
    largest = max(len(f) for f in frames)
    palette = clip_palette()
    main_header = struct.pack("<14I", FRAME_MICROSECONDS, largest * 10, 0, 0x10, len(frames),
                              0, 1, largest, CLIP_WIDTH, CLIP_HEIGHT, 0, 0, 0, 0)
    stream_header = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"RLE ", 0, 0, 0, 0,
                                1, 1_000_000 // FRAME_MICROSECONDS, 0, len(frames), largest,
                                0xFFFFFFFF, 0, 0, 0, CLIP_WIDTH, CLIP_HEIGHT)
    # BI_RLE8; the image size is that of the largest frame, which every
    # player reads whole.
    stream_format = struct.pack("<IiiHHIIiiII", 40, CLIP_WIDTH, CLIP_HEIGHT, 1, 8, 1, largest,
                                0, 0, len(palette), len(palette))
    stream_format += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    header = riff_list(b"LIST", b"hdrl", chunk(b"avih", main_header) + riff_list(
        b"LIST", b"strl", chunk(b"strh", stream_header) + chunk(b"strf", stream_format)))
    movi, index = b"", b""
    for data in frames:
        # Offsets count from the 'movi' type code; every frame is a key frame.
        index += struct.pack("<4sIII", b"00dc", 0x10, 4 + len(movi), len(data))
        movi += chunk(b"00dc", data)
    body = header + riff_list(b"LIST", b"movi", movi) + chunk(b"idx1", index)
    return riff_list(b"RIFF", b"AVI ", body)


# Manifest ---------------------------------------------------------------------

def compact_manifest(text):
    """The manifest's XML without comments, without whitespace between
    elements, and with each run of whitespace inside a tag made one blank."""
    text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
    text = re.sub(r">\s+<", "><", text)
    return re.sub(r"\s+", " ", text).strip().encode("utf-8")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: media.py OUTDIR")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "kest.ico").write_bytes(make_icon())
    (out / "kest.avi").write_bytes(make_clip())
    source = Path(__file__).with_name("kest.manifest").read_text(encoding="utf-8")
    (out / "kest.manifest").write_bytes(compact_manifest(source))


if __name__ == "__main__":
    main()
