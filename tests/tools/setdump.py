#!/usr/bin/python3
"""Prints a shapefile set (.shp, .shx, .dbf, .cpg, .prj) as pyshp reads it.

Usage: setdump.py BASE
Lines: the header (type, box, Z range, count), then every shape read through
the index file (parts, points, Z values), then the table's fields and records
decoded as UTF-8, then the .cpg and .prj texts when present.
"""
import os
import sys

import shapefile  # Debian's python3-pyshp


def fmt(v):
    return repr(float(v))


def main():
    base = sys.argv[1]
    reader = shapefile.Reader(base, encoding="utf-8")
    print("type %d box %s z %s count %d" % (reader.shapeType, " ".join(fmt(v) for v in reader.bbox),
                                            " ".join(fmt(v) for v in (reader.zbox or [])), len(reader)))
    for i in range(len(reader)):
        shape = reader.shape(i)  # through the .shx offsets
        line = "shape %d type %d" % (i + 1, shape.shapeType)
        if shape.shapeType != 0:
            line += " parts %s points %s" % (list(getattr(shape, "parts", [])),
                                             " ".join("(%s %s)" % (fmt(p[0]), fmt(p[1])) for p in shape.points))
            if hasattr(shape, "z"):
                line += " z %s" % " ".join(fmt(v) for v in shape.z)
        print(line)
    print("fields %s" % " ".join("%s:%s:%d" % (f[0], f[1], f[2]) for f in reader.fields[1:]))
    for record in reader.iterRecords():
        print("record %s" % " | ".join(str(v) for v in record))
    for ext in (".cpg", ".prj"):
        if os.path.exists(base + ext):
            print("%s %s" % (ext, open(base + ext, encoding="utf-8").read()))


if __name__ == "__main__":
    main()
