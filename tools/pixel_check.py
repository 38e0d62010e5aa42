#!/usr/bin/env python3
"""Checks the colours of a screenshot (PNG, PPM or whatever ImageMagick reads),
for the end-to-end tests of pages and pictures.

  pixel_check.py SHOT at X Y COLOUR [--radius R]
      succeeds when a pixel within R (default 0) columns and rows of (X, Y)
      has the colour
  pixel_check.py SHOT column X COLOUR [FIRST LAST]
  pixel_check.py SHOT row Y COLOUR [FIRST LAST]
      prints the rows of column X (the columns of row Y) that have the
      colour, as ranges ("120-121 300"); fails when there is none
  pixel_check.py SHOT run COLOUR LENGTH
      prints "X Y" of the first (top-most, then left-most) horizontal run of
      at least LENGTH pixels of the colour: where a plot's frame starts
  pixel_check.py SHOT size
      prints "WIDTH HEIGHT"

COLOUR is #rrggbb or R,G,B; a pixel has it when no channel differs by more
than --tolerance (default 16): anti-aliasing and colour management move
channels by a few steps. Exit status: 0 found, 1 not found, 2 bad arguments
or an unreadable picture.
"""
import argparse
import re
import subprocess
import sys


def parse_colour(text):
    m = re.fullmatch(r"#?([0-9a-fA-F]{2})([0-9a-fA-F]{2})([0-9a-fA-F]{2})", text)
    if m:
        return tuple(int(g, 16) for g in m.groups())
    parts = text.split(",")
    if len(parts) == 3 and all(p.strip().isdigit() and int(p) <= 255 for p in parts):
        return tuple(int(p) for p in parts)
    raise argparse.ArgumentTypeError(f"colour {text!r} is not #rrggbb or R,G,B")


def parse_count(text):
    if not re.fullmatch(r"\d{1,6}", text):
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number from 0 to 999999")
    return int(text)


class Picture:
    def __init__(self, path):
        with open(path, "rb") as f:
            ppm = f.read()
        if not ppm.startswith(b"P6"):
            # ImageMagick turns any other picture into binary PPM: no decoder
            # of our own. A test that checks one shot many times converts it once.
            ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True, timeout=30).stdout
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        if not m:
            raise ValueError(f"cannot read {path} (ImageMagick's convert)")
        self.width, self.height = int(m.group(1)), int(m.group(2))
        self.rgb = ppm[m.end():]
        if len(self.rgb) < 3 * self.width * self.height:
            raise ValueError(f"{path} is cut short")

    def has(self, x, y, colour, tolerance):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return False
        i = 3 * (y * self.width + x)
        return all(abs(self.rgb[i + c] - colour[c]) <= tolerance for c in range(3))


def ranges(values):
    out, start = [], None
    for i, v in enumerate(values):
        if start is None:
            start = v
        if i + 1 == len(values) or values[i + 1] != v + 1:
            out.append(str(start) if start == v else f"{start}-{v}")
            start = None
    return " ".join(out)


def main():
    parser = argparse.ArgumentParser(description="Checks the colours of a screenshot.")
    parser.add_argument("shot")
    parser.add_argument("what", choices=["at", "column", "row", "run", "size"])
    parser.add_argument("values", nargs="*")
    parser.add_argument("--tolerance", type=parse_count, default=16)
    parser.add_argument("--radius", type=parse_count, default=0)
    args = parser.parse_args()
    want = {"at": (3, 3), "column": (2, 4), "row": (2, 4), "run": (2, 2), "size": (0, 0)}[args.what]
    if not (want[0] <= len(args.values) <= want[1]) or len(args.values) == 3 and args.what != "at":
        parser.error(f"{args.what}: wrong number of values")
    try:
        pic = Picture(args.shot)
        v = args.values
        if args.what == "size":
            print(pic.width, pic.height)
            return 0
        if args.what == "at":
            x, y, colour = parse_count(v[0]), parse_count(v[1]), parse_colour(v[2])
            r = args.radius
            return 0 if any(pic.has(x + dx, y + dy, colour, args.tolerance)
                            for dx in range(-r, r + 1) for dy in range(-r, r + 1)) else 1
        if args.what == "run":
            colour, length = parse_colour(v[0]), parse_count(v[1])
            for y in range(pic.height):
                count = 0
                for x in range(pic.width):
                    count = count + 1 if pic.has(x, y, colour, args.tolerance) else 0
                    if count >= max(length, 1):
                        print(x - count + 1, y)
                        return 0
            return 1
        fixed, colour = parse_count(v[0]), parse_colour(v[1])
        size = pic.height if args.what == "column" else pic.width
        first, last = (parse_count(v[2]), parse_count(v[3])) if len(v) == 4 else (0, size - 1)
        if args.what == "column":
            found = [i for i in range(first, min(last, size - 1) + 1) if pic.has(fixed, i, colour, args.tolerance)]
        else:
            found = [i for i in range(first, min(last, size - 1) + 1) if pic.has(i, fixed, colour, args.tolerance)]
        if not found:
            return 1
        print(ranges(found))
        return 0
    except (ValueError, argparse.ArgumentTypeError, subprocess.TimeoutExpired, OSError) as e:
        print(f"pixel_check: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
