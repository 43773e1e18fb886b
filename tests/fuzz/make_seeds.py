#!/usr/bin/env python3
"""Fills the scratch corpora of the fuzz targets from real files.

Usage: make_seeds.py SHARED_DIR OUT_DIR
OUT_DIR/<target>/ receives: whole archives (unzip), the raw compressed data
of each legacy entry behind the three parameter bytes of fuzz_legacy.cpp
(unshrink, unreduce, unexplode) and the KML corpus (kml, and xml for the well-formedness proof). Missing shared
files are skipped.
"""
import glob
import os
import shutil
import struct
import sys


def entries(path):
    """(method, flags, uncompressed size, data) of every local header."""
    data = open(path, "rb").read()
    pos = 0
    while pos + 30 <= len(data) and data[pos:pos + 4] == b"PK\x03\x04":
        flags, method = struct.unpack_from("<HH", data, pos + 6)
        csize, usize, nlen, elen = struct.unpack_from("<IIHH", data, pos + 18)
        start = pos + 30 + nlen + elen
        yield method, flags, usize, data[start:start + csize]
        pos = start + csize


def main():
    shared, out = sys.argv[1], sys.argv[2]
    for target in ("unzip", "unshrink", "unreduce", "unexplode", "kml", "xml"):
        os.makedirs(os.path.join(out, target), exist_ok=True)
    archives = glob.glob(os.path.join(shared, "testdata/legacy-zip/*/*.[zZ][iI][pP]"))
    archives += glob.glob(os.path.join(shared, "testdata/kml-corpus/*.kmz"))
    for i, path in enumerate(sorted(archives)):
        if os.path.getsize(path) < 200000:
            shutil.copy(path, os.path.join(out, "unzip", "archive%d" % i))
        for j, (method, flags, usize, raw) in enumerate(entries(path)):
            size = min(usize // 16, 0xFFFF)
            if len(raw) > 100000:
                continue
            if method == 1:
                target, parameter = "unshrink", 0
            elif 2 <= method <= 5:
                target, parameter = "unreduce", method - 2
            elif method == 6:
                target, parameter = "unexplode", flags & 6
            else:
                continue
            with open(os.path.join(out, target, "entry%d_%d" % (i, j)), "wb") as f:
                f.write(bytes([parameter, size >> 8, size & 0xFF]) + raw)
    for path in glob.glob(os.path.join(shared, "testdata/kml-corpus/*.kml")):
        if os.path.getsize(path) < 200000:
            shutil.copy(path, os.path.join(out, "kml"))
            shutil.copy(path, os.path.join(out, "xml"))


if __name__ == "__main__":
    main()
