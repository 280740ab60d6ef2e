#!/usr/bin/env python3
"""Draws the program icon, a white "K" on a rust-coloured disc, 32x32 RGBA, anti-aliased by 4x4 supersampling:
MAINICON.pam for the Linux build and MAINICON.ico, the same picture, for the Windows build's resource."""
import math
import struct
import sys

SIZE = 32
SUB = 4
DISC = (178, 74, 32)   # rust
EDGE = (120, 44, 16)   # darker ring
GLYPH = (255, 250, 240)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def sample(x, y):
    r = math.hypot(x - 16, y - 16)
    if r > 15.5:
        return None
    strokes = [(11.5, 8, 11.5, 24), (12.5, 17, 21.5, 8), (14.5, 15, 21.5, 24)]
    if any(segment_distance(x, y, *s) <= 1.9 for s in strokes):
        return GLYPH
    return EDGE if r > 14.0 else DISC


def main(path):
    pixels = bytearray()
    for row in range(SIZE):
        for col in range(SIZE):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = sample(col + (sx + 0.5) / SUB, row + (sy + 0.5) / SUB)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                pixels += bytes((0, 0, 0, 0))
            else:
                pixels += bytes([round(a / hits) for a in acc] + [round(255 * hits / (SUB * SUB))])
    header = f"P7\nWIDTH {SIZE}\nHEIGHT {SIZE}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
    with open(path, "wb") as out:
        out.write(header.encode("ascii") + pixels)
    with open(path.rsplit(".", 1)[0] + ".ico", "wb") as out:
        out.write(ico(pixels))


def ico(rgba):
    """One 32-bit image: a bitmap header of twice the height, BGRA rows bottom-up, then the 1-bit mask."""
    rows = [rgba[r * SIZE * 4:(r + 1) * SIZE * 4] for r in range(SIZE)]
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for col in range(SIZE):
            r, g, b, a = row[col * 4:col * 4 + 4]
            colour += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += bits.to_bytes(SIZE // 8, "big") + bytes((-(SIZE // 8)) % 4)
    image = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    image += colour + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    return directory + image


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "MAINICON.pam")
