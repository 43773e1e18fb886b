#!/usr/bin/env python3
"""Fills the scratch corpora of the fuzz targets from real files.

Usage: make_seeds.py SHARED_DIR OUT_DIR
OUT_DIR/<target>/ receives: whole archives (unzip; also archives that
Python's zipfile writes as a streaming writer, with data descriptors, and
with ZIP64 sizes), the raw compressed data
of each legacy entry behind the three parameter bytes of fuzz_legacy.cpp
(unshrink, unreduce, unexplode), the KML corpus (kml, export, and xml for the
well-formedness proof), and shape files with the record types our writer
never makes (shpfile; run.sh adds the layers that our writer makes of the
corpus). Missing shared files are skipped.
"""
import glob
import io
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


class Pipe(io.RawIOBase):
    """A file that cannot seek, as a writer on a pipe sees it."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def streamed_archives(folder):
    """Archives with data descriptors (stored and deflated) and ZIP64 sizes."""
    import zipfile
    doc = b"<kml><Placemark><name>A</name><Point><coordinates>1,2</coordinates></Point></Placemark></kml>"
    for name, pipe, method, zip64 in (("streamed_stored", True, zipfile.ZIP_STORED, False),
                                      ("streamed_deflated", True, zipfile.ZIP_DEFLATED, False),
                                      ("streamed_zip64", True, zipfile.ZIP_DEFLATED, True),
                                      ("zip64", False, zipfile.ZIP_DEFLATED, True)):
        with open(os.path.join(folder, name), "wb") as raw:
            with zipfile.ZipFile(Pipe(raw) if pipe else raw, "w", compression=method) as z:
                for entry, data in (("files/a.txt", b"abc" * 50), ("doc.kml", doc)):
                    with z.open(entry, "w", force_zip64=zip64) as f:
                        f.write(data)


def shape_file(records):
    """A shape file of (type, body) records; box and lengths are not checked by the reader."""
    head = struct.pack(">7i", 9994, 0, 0, 0, 0, 0, 0) + struct.pack("<2i8d", 1000, records[0][0], *([0.0] * 8))
    body = b""
    for number, (shape_type, data) in enumerate(records, 1):
        body += struct.pack(">2i", number, len(data) // 2 + 2) + struct.pack("<i", shape_type) + data
    return head + body


def shape_seeds():
    """One file per family of record types: Z, M, multipoint, multipatch, null."""
    box = struct.pack("<4d", -1, -2, 3, 4)
    xy = struct.pack("<6d", 0, 0, 1, 1, 2, 0)
    values = struct.pack("<5d", 0, 0, 7, 8, 9)
    parted = box + struct.pack("<3i", 1, 3, 0) + xy
    return {
        "z_types": [(11, struct.pack("<4d", 1, 2, 3, 4)), (13, parted + values + values), (15, parted + values + values),
                    (18, box + struct.pack("<i", 3) + xy + values + values)],
        "m_types": [(21, struct.pack("<3d", 1, 2, 3)), (23, parted + values), (25, parted + values),
                    (28, box + struct.pack("<i", 3) + xy + values)],
        "multipatch": [(31, box + struct.pack("<5i", 2, 3, 0, 1, 0) + struct.pack("<2i", 4, 5) + xy + values + values)],
        "mixed": [(0, b""), (8, box + struct.pack("<i", 3) + xy), (5, box + struct.pack("<4i", 2, 3, -4, 1) + xy),
                  (7, box), (1, struct.pack("<2d", 5, 6))],
    }


def main():
    shared, out = sys.argv[1], sys.argv[2]
    os.makedirs(os.path.join(out, "shpfile"), exist_ok=True)
    for name, records in shape_seeds().items():
        with open(os.path.join(out, "shpfile", name), "wb") as f:
            f.write(shape_file(records))
    for target in ("unzip", "unshrink", "unreduce", "unexplode", "kml", "xml", "export"):
        os.makedirs(os.path.join(out, target), exist_ok=True)
    streamed_archives(os.path.join(out, "unzip"))
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
            # The export's target takes its first byte as the size of its pieces.
            with open(path, "rb") as f, open(os.path.join(out, "export", os.path.basename(path)), "wb") as g:
                g.write(b"\x05" + f.read())


if __name__ == "__main__":
    main()
