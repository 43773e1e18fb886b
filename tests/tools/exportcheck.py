#!/usr/bin/python3
"""Reads exported shapefile sets with GDAL (python3-gdal), as a GIS program would.

Usage: exportcheck.py summary SET.shp
         the geometry type, feature count, spatial reference (EPSG code), then
         every feature: ZID, NAME, DESCRIPT when present, and its geometry as WKT
       exportcheck.py distance A.shp B.shp
         the number of vertices and the largest distance between the vertices
         of the same feature of A and B: "vertices N max D"
       exportcheck.py compare KML DIR BASE
         every geometry of the KML as GDAL's KML driver reads it against the
         features of DIR/BASE_points, _paths, _polygons, in any order:
         the same vertices, the same rings per polygon, up to ring orientation
         and closing; prints "match N" or the first differences
"""
import os
import sys

from osgeo import gdal, ogr, osr

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")


def summary(path):
    ds = ogr.Open(path)
    layer = ds.GetLayer(0)
    srs = layer.GetSpatialRef()
    code = "none"
    if srs is not None:
        srs.AutoIdentifyEPSG()
        code = "EPSG:%s" % srs.GetAuthorityCode(None)
    print("type %s count %d srs %s" % (ogr.GeometryTypeToName(layer.GetGeomType()), layer.GetFeatureCount(), code))
    names = [layer.GetLayerDefn().GetFieldDefn(i).GetName() for i in range(layer.GetLayerDefn().GetFieldCount())]
    for f in layer:
        g = f.GetGeometryRef()
        fields = " ".join("%s=%s" % (n, f.GetField(n)) for n in names)
        print("%s | %s" % (fields, g.ExportToIsoWkt() if g is not None else "EMPTY"))


def flatten(geometry, out):
    """Points, lines and polygons of a geometry, collections opened in order."""
    if geometry is None:
        return
    name = geometry.GetGeometryName()
    if name in ("MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRYCOLLECTION"):
        for i in range(geometry.GetGeometryCount()):
            flatten(geometry.GetGeometryRef(i), out)
    elif name in ("POINT", "LINESTRING", "POLYGON") and not geometry.IsEmpty():
        out.setdefault(name, []).append(geometry.Clone())


def ring_key(ring):
    """A ring's vertices without the closing one, from its smallest vertex, turned one way."""
    pts = [(round(ring.GetX(i), 9), round(ring.GetY(i), 9)) for i in range(ring.GetPointCount())]
    if len(pts) > 1 and pts[0] == pts[-1]:
        pts = pts[:-1]
    best = None
    for seq in (pts, pts[::-1]):
        if not seq:
            return ()
        k = seq.index(min(seq))
        rotated = tuple(seq[k:] + seq[:k])
        best = rotated if best is None or rotated < best else best
    return best


def key(geometry):
    name = geometry.GetGeometryName()
    if name == "POINT":
        return (round(geometry.GetX(), 9), round(geometry.GetY(), 9))
    if name == "LINESTRING":
        return tuple((round(geometry.GetX(i), 9), round(geometry.GetY(i), 9)) for i in range(geometry.GetPointCount()))
    rings = [ring_key(geometry.GetGeometryRef(i)) for i in range(geometry.GetGeometryCount())]
    return (rings[0], tuple(sorted(rings[1:])))


def compare(kml, folder, base):
    expected = {}
    try:
        ds = gdal.OpenEx(kml, gdal.OF_VECTOR, allowed_drivers=["KML"])
    except RuntimeError:
        ds = None
    if ds is None:
        print("unreadable by GDAL")
        return
    for li in range(ds.GetLayerCount()):
        for f in ds.GetLayer(li):
            flatten(f.GetGeometryRef(), expected)
    problems = []
    total = 0
    for name, suffix in (("POINT", "_points"), ("LINESTRING", "_paths"), ("POLYGON", "_polygons")):
        path = os.path.join(folder, base + suffix + ".shp")
        ours = []
        if os.path.exists(path):
            ours_ds = ogr.Open(path)  # kept alive while its layer is read
            for f in ours_ds.GetLayer(0):
                g = f.GetGeometryRef()
                ours.append(key(g) if g is not None else None)
        # GDAL's driver gives each folder as a layer of its own, so its order
        # is the document's only within a folder: the features are compared
        # as collections.
        theirs = sorted(key(g) for g in expected.get(name, []))
        ours = sorted(k for k in ours if k is not None)
        total += len(theirs)
        if ours != theirs:
            problems.append("%s: ours %d, GDAL's KML driver %d; first difference %s" % (
                name, len(ours), len(theirs),
                next(((a, b) for a, b in zip(ours, theirs) if a != b), "in the counts")))
    print("\n".join(problems) if problems else "match %d" % total)


def points_of(g):
    """Every vertex of a geometry, the rings of polygons included."""
    if g is None:
        return []
    if g.GetGeometryCount() > 0:
        return [p for i in range(g.GetGeometryCount()) for p in points_of(g.GetGeometryRef(i))]
    return g.GetPoints() or []


def vertices(path):
    ds = ogr.Open(path)
    out = []
    for f in ds.GetLayer(0):
        out.extend(points_of(f.GetGeometryRef()))
    return out


def distance(a, b):
    va, vb = vertices(a), vertices(b)
    if len(va) != len(vb):
        print("different vertex counts %d %d" % (len(va), len(vb)))
        return
    worst = max((((p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2) ** 0.5 for p, q in zip(va, vb)), default=0.0)
    print("vertices %d max %.9f" % (len(va), worst))


if __name__ == "__main__":
    if sys.argv[1] == "summary":
        summary(sys.argv[2])
    elif sys.argv[1] == "distance":
        distance(sys.argv[2], sys.argv[3])
    else:
        compare(sys.argv[2], sys.argv[3], sys.argv[4])
