#!/usr/bin/env python3
"""Write a generated LDraw part in which nearly every line changes when weldrix cleans it:

    jittered_part.py LINES [SEED] > part.dat

A wavy sheet of quads on a grid (with the edge lines of each row), every corner written by each
line that shares it with its own jitter of up to 0.002, so the copies merge; one quad in 40 has
its last two corners nearly met (it becomes a triangle), and one line in 50 is a stub edge that
is removed. The worst case for a change report's size: almost every line is listed.
Python standard library only.
"""
import math
import random
import sys


def main(argv):
    lines = int(argv[1])
    rng = random.Random(int(argv[2]) if len(argv) > 2 else 1)
    out = sys.stdout
    out.write("0 Jittered sheet for change report checks\n0 Name: jittered.dat\n0 BFC CERTIFY CCW\n")
    written = 3
    cols = max(2, int(math.sqrt(lines)))

    def corner(i, j):
        x, z = 10.0 * i, 10.0 * j
        y = round(4 * math.sin(i / 7.0) * math.cos(j / 5.0), 3)
        return [x + rng.uniform(-0.002, 0.002), y + rng.uniform(-0.002, 0.002), z + rng.uniform(-0.002, 0.002)]

    def text(points):
        return " ".join("%.4f" % c for p in points for c in p)

    k = 0
    while written < lines:
        i, j = k % cols, k // cols
        k += 1
        quad = [corner(i, j), corner(i + 1, j), corner(i + 1, j + 1), corner(i, j + 1)]
        if k % 40 == 0:
            quad[3] = [c + 0.0005 for c in quad[2]]
        out.write("4 16 %s\n" % text(quad))
        written += 1
        if written < lines and k % 50 == 0:
            p = corner(i, j)
            out.write("2 24 %s\n" % text([p, [p[0] + 0.001, p[1], p[2]]]))
            written += 1
        if written < lines and k % 3 == 0:
            out.write("2 24 %s\n" % text([corner(i, j), corner(i + 1, j)]))
            written += 1


if __name__ == "__main__":
    main(sys.argv)
