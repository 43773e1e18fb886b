#!/usr/bin/python3
"""Prints what an independent reader (Pillow) sees in a PNG picture.

Usage: pngpixels.py IMAGE [X,Y ...]
First line: WIDTHxHEIGHT and the number of pixels that are not white; then
one "R,G,B" line per X,Y given.
"""
import sys

from PIL import Image  # Debian's python3-pil


def main():
    image = Image.open(sys.argv[1]).convert("RGB")
    width, height = image.size
    colours = image.getcolors(width * height) or []
    white = sum(n for n, c in colours if c == (255, 255, 255))
    print("%dx%d %d" % (width, height, width * height - white))
    for point in sys.argv[2:]:
        x, y = (int(v) for v in point.split(","))
        print("%d,%d,%d" % image.getpixel((x, y)))


if __name__ == "__main__":
    main()
