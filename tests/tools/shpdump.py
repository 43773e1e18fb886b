#!/usr/bin/python3
"""Prints a layer (shape file + dBASE table) as an independent reader sees it.

Usage: shpdump.py SHAPEFILE [TABLE]
       shpdump.py --check FOLDER   (the four layers kml_tmp1..4 of a work folder)
The shape file is read from a copy named .shp (its own extension is not one
that shapefile readers accept), the table from a copy named .dbf. Text fields
are decoded with the code page that the table's language-driver byte names.
"""
import os
import shutil
import sys
import tempfile

import shapefile  # Debian's python3-pyshp

CODECS = {0x03: "cp1252", 0xC8: "cp1250", 0xC9: "cp1251", 0xCB: "cp1253",
          0xCA: "cp1254", 0x7D: "cp1255", 0x7E: "cp1256", 0x13: "cp932",
          0x4D: "cp936", 0x4E: "cp949", 0x4F: "cp950", 0x50: "cp874"}


def fmt(v):
    return repr(float(v))


def check_folder(folder):
    """Reads every layer of the folder; the shapes and records must pair up."""
    for kind in range(1, 5):
        base = os.path.join(folder, "kml_tmp%d" % kind)
        work = tempfile.mkdtemp()
        try:
            shutil.copy(base + ".$m", os.path.join(work, "layer.shp"))
            shutil.copy(base + ".dbf", os.path.join(work, "layer.dbf"))
            with open(os.path.join(work, "layer.shp"), "rb") as shp, \
                    open(os.path.join(work, "layer.dbf"), "rb") as dbf:
                reader = shapefile.Reader(shp=shp, dbf=dbf, encoding="cp1252", encodingErrors="replace")
                shapes = list(reader.iterShapes())
                records = list(reader.iterRecords())
                zids = [r[0] for r in records]
                ok = len(shapes) == len(records) and zids == list(range(1, len(zids) + 1))
                print("layer", kind, "shapes", len(shapes), "records", len(records), "ok" if ok else "MISMATCH")
        finally:
            shutil.rmtree(work)


def main():
    if sys.argv[1] == "--check":
        check_folder(sys.argv[2])
        return
    shp_path = sys.argv[1]
    dbf_path = sys.argv[2] if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp()
    try:
        shutil.copy(shp_path, os.path.join(work, "layer.shp"))
        codec = "ascii"
        if dbf_path:
            shutil.copy(dbf_path, os.path.join(work, "layer.dbf"))
            with open(dbf_path, "rb") as f:
                driver = f.read(32)[29]
            codec = CODECS.get(driver, "unknown-driver-%02x" % driver)
            print("codepage", codec)
        shp = open(os.path.join(work, "layer.shp"), "rb")
        dbf = open(os.path.join(work, "layer.dbf"), "rb") if dbf_path else None
        reader = shapefile.Reader(shp=shp, dbf=dbf, encoding=codec) if dbf else shapefile.Reader(shp=shp)
        print("type", reader.shapeType, "bbox", " ".join(fmt(v) for v in reader.bbox))
        for i, shape in enumerate(reader.iterShapes()):
            pts = " ".join("(%s %s)" % (fmt(p[0]), fmt(p[1])) for p in shape.points)
            print("shape", i + 1, "type", shape.shapeType, "parts", list(shape.parts), "points", pts)
        if dbf:
            print("fields", ",".join("%s:%s:%d" % (f[0], f[1], f[2]) for f in reader.fields[1:]))
            print("records", len(reader))
            for i, rec in enumerate(reader.iterRecords()):
                print("record", i + 1, "ZID", rec[0], "NAME", repr(rec[1]))
        shp.close()
        if dbf:
            dbf.close()
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
