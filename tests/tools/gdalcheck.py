#!/usr/bin/python3
"""Reads a converted work folder with GDAL and compares it with the KML that
GDAL's own KML driver reads from the same input.

Usage: gdalcheck.py KML FOLDER [--unordered]

Each layer kml_tmpN.$m is copied to a name ending .shp (with its table) and
opened with SHAPE_RESTORE_SHX=YES, since the layer has no index file. For
every layer it prints the shape type, the count, the header extent and the
code page GDAL reports for the table, and checks that ZIDs run 1, 2, 3 ...
Then the KML as GDAL's KML driver reads it is broken into the same four
kinds (points, paths, outer rings, inner rings; multi-geometries part by
part) and compared with the layers: every coordinate, the name (as the
table's code page can hold it) and the order, or with --unordered only the
set of shapes, for documents whose folders GDAL reads as separate layers.
The last line is "broken" when a layer fails its own checks (type, ZIDs,
extent), else "differs" when it does not match the KML driver's reading,
"unread" when that driver cannot read the document, or "same"; each
problem is listed above it.
"""
import os
import shutil
import sys
import tempfile

from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.SetConfigOption("SHAPE_RESTORE_SHX", "YES")

KINDS = {1: "points", 2: "paths", 3: "outer rings", 4: "inner rings"}
SHAPE_TYPES = {1: ogr.wkbPoint, 2: ogr.wkbLineString, 3: ogr.wkbPolygon, 4: ogr.wkbPolygon}


def xy(points):
    return tuple((float(p[0]), float(p[1])) for p in points)


def read_layer(folder, kind, work):
    base = os.path.join(folder, "kml_tmp%d" % kind)
    shp = os.path.join(work, "layer%d.shp" % kind)
    shutil.copy(base + ".$m", shp)
    shutil.copy(base + ".dbf", os.path.join(work, "layer%d.dbf" % kind))
    ds = ogr.Open(shp)
    layer = ds.GetLayer(0)
    encoding = layer.GetMetadataItem("ENCODING_FROM_LDID", "SHAPEFILE") or ""
    shapes = []
    for feature in layer:
        geometry = feature.GetGeometryRef()
        if geometry is None:
            points = ()
        elif kind == 1:
            points = ((geometry.GetX(), geometry.GetY()),)
        else:
            ring = geometry.GetGeometryRef(0) if geometry.GetGeometryCount() > 0 else geometry
            points = xy(ring.GetPoints() or [])
        shapes.append((feature.GetField("ZID"), feature.GetField("NAME") or "", points))
    extent = layer.GetExtent()  # the header's box: minx, maxx, miny, maxy
    geom_type = layer.GetGeomType()
    return geom_type, encoding, shapes, extent


def parts(geometry, name, out):
    """Breaks a KML geometry into the four kinds, in order."""
    t = ogr.GT_Flatten(geometry.GetGeometryType())
    if t == ogr.wkbPoint:
        out[1].append((name, ((geometry.GetX(), geometry.GetY()),)))
    elif t == ogr.wkbLineString:
        out[2].append((name, xy(geometry.GetPoints() or [])))
    elif t == ogr.wkbPolygon:
        for i in range(geometry.GetGeometryCount()):
            out[3 if i == 0 else 4].append((name, xy(geometry.GetGeometryRef(i).GetPoints() or [])))
    else:
        for i in range(geometry.GetGeometryCount()):
            parts(geometry.GetGeometryRef(i), name, out)


def read_kml(path):
    driver = ogr.GetDriverByName("KML")
    try:
        ds = driver.Open(path)
    except RuntimeError:
        return None
    if ds is None:
        return None
    out = {1: [], 2: [], 3: [], 4: []}
    for i in range(ds.GetLayerCount()):
        for feature in ds.GetLayer(i):
            geometry = feature.GetGeometryRef()
            if geometry is not None:
                parts(geometry, feature.GetField("Name") or "", out)
    return out


def as_code_page(name, encoding):
    codec = {"": "cp1252"}.get(encoding, encoding.lower())
    return name.encode(codec, errors="replace").decode(codec)


def main():
    kml, folder = sys.argv[1], sys.argv[2]
    unordered = "--unordered" in sys.argv
    expected = read_kml(kml)
    work = tempfile.mkdtemp()
    problems = []
    broken = []
    try:
        for kind in range(1, 5):
            geom_type, encoding, shapes, extent = read_layer(folder, kind, work)
            print("layer %d %s type %s count %d encoding %s extent %r %r %r %r" % (
                kind, KINDS[kind], ogr.GeometryTypeToName(geom_type), len(shapes), encoding, *extent))
            if ogr.GT_Flatten(geom_type) != SHAPE_TYPES[kind]:
                broken.append("layer %d has type %s" % (kind, ogr.GeometryTypeToName(geom_type)))
            zids = [s[0] for s in shapes]
            if zids != list(range(1, len(shapes) + 1)):
                broken.append("layer %d ZIDs %r" % (kind, zids[:10]))
            xs = [p[0] for s in shapes for p in s[2]]
            ys = [p[1] for s in shapes for p in s[2]]
            if xs and (min(xs), max(xs), min(ys), max(ys)) != tuple(extent):
                broken.append("layer %d extent %r, shapes span %r" % (kind, extent, (min(xs), max(xs), min(ys), max(ys))))
            if expected is None:
                continue
            ours = [(name, points) for _, name, points in shapes]
            theirs = [(as_code_page(name, encoding), points) for name, points in expected[kind]]
            if unordered:
                ours, theirs = sorted(ours), sorted(theirs)
            if ours != theirs:
                for i, (a, b) in enumerate(zip(ours, theirs)):
                    if a != b:
                        problems.append("layer %d shape %d: ours %r %r, KML %r %r" % (
                            kind, i + 1, a[0], a[1][:2], b[0], b[1][:2]))
                        break
                if len(ours) != len(theirs):
                    problems.append("layer %d: %d shapes, the KML driver reads %d" % (kind, len(ours), len(theirs)))
    finally:
        shutil.rmtree(work)
    for problem in broken + problems:
        print(problem)
    print("broken" if broken else "unread" if expected is None else "differs" if problems else "same")


if __name__ == "__main__":
    main()
