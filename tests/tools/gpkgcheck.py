#!/usr/bin/python3
"""Reads an exported GeoPackage with GDAL (python3-gdal) and Python's own sqlite3.

Usage: gpkgcheck.py summary FILE.gpkg
         per feature table: its name, geometry type, count, EPSG code and
         fields with GDAL's types, then every feature's values and geometry
       gpkgcheck.py against FILE.gpkg DIR BASE
         every feature table against the shapefile set DIR/BASE_<table>.shp
         of the same input: the same records in the same order, the same
         geometry (the set's promoted to the multi type), and the same
         values field by field (texts as the set cut them, times as the
         GeoPackage's UTC form of the set's text or in the *_TEXT field);
         prints "match <table> <count>" per table or the first difference
       gpkgcheck.py check FILE.gpkg
         PRAGMA integrity_check, application_id and user_version; per table
         the R-tree against every feature's box, and SQLite's rtreecheck() of
         its structure; per layer_styles row, that
         its QML parses and names only fields of its table
"""
import datetime
import os
import re
import sqlite3
import sys
import xml.etree.ElementTree as ET

from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")

TIME_FIELDS = ("TIMESTAMP", "BEGIN", "END")


def feature_tables(ds):
    return [ds.GetLayer(i) for i in range(ds.GetLayerCount()) if ds.GetLayer(i).GetGeomType() != ogr.wkbNone]


def field_defs(layer):
    d = layer.GetLayerDefn()
    return [d.GetFieldDefn(i) for i in range(d.GetFieldCount())]


def type_name(fd):
    name = ogr.GetFieldTypeName(fd.GetType())
    if fd.GetSubType() != ogr.OFSTNone:
        name += "(%s)" % ogr.GetFieldSubTypeName(fd.GetSubType())
    return name


def summary(path):
    ds = ogr.Open(path)
    for layer in feature_tables(ds):
        srs = layer.GetSpatialRef()
        print("%s %s count %d EPSG:%s" % (layer.GetName(), ogr.GeometryTypeToName(layer.GetGeomType()),
                                          layer.GetFeatureCount(), srs.GetAuthorityCode(None) if srs else "none"))
        defs = field_defs(layer)
        print("  fields " + " ".join("%s:%s" % (fd.GetName(), type_name(fd)) for fd in defs))
        for f in layer:
            values = " ".join("%s=%s" % (fd.GetName(), f.GetFieldAsString(i) if f.IsFieldSetAndNotNull(i) else "None")
                              for i, fd in enumerate(defs))
            g = f.GetGeometryRef()
            print("  %s | %s" % (values, g.ExportToIsoWkt() if g is not None else "EMPTY"))


def utc_form(text):
    """A KML time as the GeoPackage's DATETIME text, by Python's reading of it; None when it is not one."""
    if not re.fullmatch(r"\d{4}-\d\d-\d\d(T\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)?)?", text):
        return None
    try:
        when = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    except ValueError:
        return None
    if when.tzinfo is not None:
        when = when.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return when.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (when.microsecond // 1000)


def multi(g):
    if g is None:
        return None
    name = g.GetGeometryName()
    if name in ("LINESTRING", "MULTILINESTRING"):
        return ogr.ForceToMultiLineString(g.Clone())
    if name in ("POLYGON", "MULTIPOLYGON"):
        return ogr.ForceToMultiPolygon(g.Clone())
    return g.Clone()


def compare_values(set_feature, set_defs, gpkg_feature, raw, columns):
    """The first field whose values differ, or None."""
    for i, fd in enumerate(set_defs):
        theirs = set_feature.GetField(i)
        name = columns[i]
        if fd.GetName() in TIME_FIELDS:
            ours = raw.get(name)
            text = raw.get(fd.GetName() + "_TEXT")
            expected = utc_form(theirs) if theirs is not None else None
            if (ours, text) != ((expected, None) if expected or theirs is None else (None, theirs)):
                return "%s: %r / %r, %r" % (fd.GetName(), theirs, ours, text)
            continue
        ours = gpkg_feature.GetField(name)
        if isinstance(ours, str) and isinstance(theirs, str):
            same = ours.encode()[:254].decode("utf-8", "ignore").rstrip() == theirs or ours == theirs
        else:
            same = ours == theirs
        if not same:
            return "%s: %r / %r" % (fd.GetName(), theirs, ours)
    return None


def against(path, folder, base):
    ds = ogr.Open(path)
    db = sqlite3.connect(path)
    db.row_factory = sqlite3.Row
    for layer in feature_tables(ds):
        table = layer.GetName()
        set_ds = ogr.Open(os.path.join(folder, "%s_%s.shp" % (base, table)))
        set_layer = set_ds.GetLayer(0)
        set_defs = field_defs(set_layer)
        names = [fd.GetName() for fd in field_defs(layer)]
        # The set's fields in order: a time's text field stands in for the
        # time only where the table has no DATETIME field of it.
        texts = {t + "_TEXT": t for t in TIME_FIELDS}
        columns = [texts.get(n, n) for n in names if n not in texts or texts[n] not in names]
        rows = db.execute('SELECT * FROM "%s" ORDER BY fid' % table)
        problem = None
        if layer.GetFeatureCount() != set_layer.GetFeatureCount() or len(columns) != len(set_defs):
            problem = "counts %d / %d, fields %s / %s" % (set_layer.GetFeatureCount(), layer.GetFeatureCount(),
                                                          [fd.GetName() for fd in set_defs], columns)
        for set_feature, feature, raw in zip(set_layer, layer, rows):
            if problem:
                break
            a, b = multi(set_feature.GetGeometryRef()), feature.GetGeometryRef()
            if (a is None) != (b is None) or (a is not None and a.ExportToIsoWkt() != b.ExportToIsoWkt()):
                problem = "geometry of %d: %s / %s" % (feature.GetFID(), a and a.ExportToIsoWkt(),
                                                       b and b.ExportToIsoWkt())
            else:
                problem = compare_values(set_feature, set_defs, feature, dict(raw), columns)
                problem = problem and "record %d: %s" % (feature.GetFID(), problem)
        print("%s %s" % (table, problem) if problem else "match %s %d" % (table, layer.GetFeatureCount()))


def check_rtree(path, db, table):
    boxes = {fid: (a, b, c, d) for fid, a, b, c, d in db.execute('SELECT * FROM "rtree_%s_geom"' % table)}
    ds = ogr.Open(path)
    wrong = []
    count = 0
    for f in ds.GetLayerByName(table):
        g = f.GetGeometryRef()
        if g is None:
            continue
        count += 1
        minx, maxx, miny, maxy = g.GetEnvelope()
        box = boxes.get(f.GetFID())
        # The R-tree keeps 32-bit floats, rounded outwards.
        tol = lambda v: 1e-6 * max(1.0, abs(v))
        if box is None or not (box[0] <= minx and box[1] >= maxx and box[2] <= miny and box[3] >= maxy and
                               minx - box[0] <= tol(minx) and box[1] - maxx <= tol(maxx) and
                               miny - box[2] <= tol(miny) and box[3] - maxy <= tol(maxy)):
            wrong.append(f.GetFID())
    # SQLite's own check of the tree's structure: nodes, parents, rowids.
    structure = db.execute("SELECT rtreecheck('rtree_%s_geom')" % table).fetchone()[0]
    status = "ok" if not wrong and len(boxes) == count else "wrong %s of %d boxes" % (wrong[:5], len(boxes))
    if structure != "ok":
        status = "wrong structure: " + structure.replace("\n", "; ")
    print("rtree %s %d %s" % (table, count, status))


def check_style(db, table, qml):
    root = ET.fromstring(qml)
    columns = {r[1] for r in db.execute('PRAGMA table_info("%s")' % table)}
    named = set()
    for option in root.iter("Option"):
        if option.get("name") == "expression":
            named.update(re.findall(r'"([^"]+)"', option.get("value")))
    kind = root.find("renderer-v2/symbols/symbol").get("type")
    unknown = named - columns
    print("style %s %s fields %s %s" % (table, kind, ",".join(sorted(named)) or "-",
                                         "ok" if not unknown else "unknown %s" % sorted(unknown)))


def check(path):
    db = sqlite3.connect(path)
    print("integrity %s application_id %d user_version %d" % (
        db.execute("PRAGMA integrity_check").fetchone()[0], db.execute("PRAGMA application_id").fetchone()[0],
        db.execute("PRAGMA user_version").fetchone()[0]))
    for (table,) in db.execute("SELECT table_name FROM gpkg_contents WHERE data_type = 'features' ORDER BY rowid"):
        check_rtree(path, db, table)
    for table, qml in db.execute("SELECT f_table_name, styleQML FROM layer_styles WHERE useAsDefault ORDER BY id"):
        check_style(db, table, qml)


if __name__ == "__main__":
    if sys.argv[1] == "summary":
        summary(sys.argv[2])
    elif sys.argv[1] == "against":
        against(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        check(sys.argv[2])
