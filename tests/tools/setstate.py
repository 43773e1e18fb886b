#!/usr/bin/python3
"""The state of shapefile sets as pyshp reads them, one line per set.

Usage: setstate.py FOLDER NAME...
  "NAME absent" when NAME.shp is missing, else "NAME <digest>": a digest of
  every shape (read through the .shx), every record of the .dbf and the .cpg
  and .prj texts; "NAME broken: ..." when the files do not agree (the .shx
  and .dbf count other numbers of shapes than the .shp holds, or one cannot
  be read). Then "leftovers" and the names of temporary files in FOLDER.
"""
import hashlib
import os
import sys

import shapefile  # Debian's python3-pyshp


def state(folder, name):
    base = os.path.join(folder, name)
    if not os.path.exists(base + ".shp"):
        return "absent"
    try:
        reader = shapefile.Reader(base, encoding="utf-8")
        digest = hashlib.sha1()
        count = len(reader)
        if count != reader.numRecords:
            return "broken: %d shapes, %d records" % (count, reader.numRecords)
        # The .shp read on its own, without the index, must hold the same.
        with open(base + ".shp", "rb") as shp:
            alone = shapefile.Reader(shp=shp)
            if len(list(alone.iterShapes())) != count:
                return "broken: the index and the main file count other shapes"
        for i in range(count):
            digest.update(repr((reader.shape(i).__geo_interface__, reader.record(i))).encode())
        for ext in (".cpg", ".prj"):
            if os.path.exists(base + ext):
                digest.update(ext.encode() + open(base + ext, "rb").read())
        return "%d %s" % (count, digest.hexdigest()[:12])
    except Exception as e:  # a reader's error is the finding
        return "broken: %s" % e


def main():
    folder = sys.argv[1]
    for name in sys.argv[2:]:
        print(name, state(folder, name))
    print("leftovers", " ".join(sorted(n for n in os.listdir(folder) if ".quarvex-" in n)))


if __name__ == "__main__":
    main()
