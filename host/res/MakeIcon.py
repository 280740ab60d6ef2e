#!/usr/bin/env python3
"""Draws MAINICON.pam: a white "K" on a rust-coloured disc, 32x32 RGBA, anti-aliased by 4x4 supersampling."""
import math
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


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "MAINICON.pam")
