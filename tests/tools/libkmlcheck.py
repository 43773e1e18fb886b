#!/usr/bin/python3
"""Compares exported shapefile sets with what GDAL's LIBKML driver reads from
the same KML document (python3-gdal).

Usage: libkmlcheck.py KML DIR BASE
  Every geometry LIBKML reads (collections opened, each part on its own)
  against the records of DIR/BASE_points, _paths, _polygons (each part of a
  multi-part path on its own), in any order: the same vertices, the same
  rings per polygon up to orientation and closing. For each pair, the
  attributes GDAL has too: name, description (when exported), the last
  folder, times, altitude mode, extrude, tessellate, visibility, the
  overlay's icon, the style (icon, icon colour and scale; line colour and
  width; fill colour) and the extended data values.
  Prints "match N" or the differences, one per line.
"""
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")

STANDARD = {"Name", "description", "timestamp", "begin", "end", "altitudeMode", "tessellate", "extrude",
            "visibility", "drawOrder", "icon", "snippet", "heading", "tilt", "roll", "near", "leftfov",
            "rightfov", "bottomfov", "topfov", "photooverlay", "imagepyramid_tilesize",
            "imagepyramid_maxwidth", "imagepyramid_maxheight", "imagepyramid_gridorigin", "shape", "model",
            "networklink", "networklink_refreshvisibility", "networklink_flytoview",
            "networklink_refreshMode", "networklink_refreshInterval", "networklink_viewRefreshMode",
            "networklink_viewRefreshTime", "networklink_viewBoundScale", "networklink_viewFormat",
            "networklink_httpQuery", "camera_longitude", "camera_latitude", "camera_altitude",
            "camera_altitudemode", "OGR_STYLE"}
OURS_FIXED = {"ZID", "NAME", "DESCRIPT", "FOLDER", "TIMESTAMP", "BEGIN", "END", "ALTMODE", "EXTRUDE",
              "TESSELLATE", "VISIBLE", "ICON", "ICONSCALE", "ICONCOLOR", "LINECOLOR", "LINEWIDTH", "FILLCOLOR",
              "FILL", "OUTLINE"}


def pt(g, i):
    return (round(g.GetX(i), 7), round(g.GetY(i), 7))


def ring_key(ring):
    pts = [pt(ring, i) for i in range(ring.GetPointCount())]
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


def parts(g, out):
    """(class, key) of every single part of a geometry."""
    if g is None or g.IsEmpty():
        return
    name = g.GetGeometryName()
    if name in ("MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRYCOLLECTION"):
        for i in range(g.GetGeometryCount()):
            parts(g.GetGeometryRef(i), out)
    elif name == "POINT":
        out.append(("points", (round(g.GetX(), 7), round(g.GetY(), 7))))
    elif name in ("LINESTRING", "LINEARRING"):
        if g.GetPointCount() >= 2:  # a path of one vertex is a null shape in a set
            out.append(("paths", tuple(pt(g, i) for i in range(g.GetPointCount()))))
    elif name == "POLYGON":
        # Rings of fewer than 3 distinct vertices are dropped from a set.
        rings = [ring_key(g.GetGeometryRef(i)) for i in range(g.GetGeometryCount())]
        rings = [r for r in rings if len(set(r)) >= 3]
        if rings:
            out.append(("polygons", (rings[0], tuple(sorted(rings[1:])))))


def overlay_key(g):
    """A ground overlay's footprint by its centre and area, which the turn
    by its rotation keeps (LIBKML leaves the box unturned)."""
    c = g.Centroid()
    return ("overlay", round(c.GetX(), 5), round(c.GetY(), 5), round(g.GetArea(), 6))


def parse_style(text, table):
    """The parts of an OGR feature style: icon, icon colour, icon scale, pen colour and width, brush colour."""
    style = {}
    if not text:
        return style
    if text.startswith("@") and table is not None:
        text = table.Find(text[1:]) or ""
    for tool, body in re.findall(r'(SYMBOL|PEN|BRUSH)\(([^)]*)\)', text):
        for key, value in re.findall(r'(\w+):("[^"]*"|[^,]*)', body):
            value = value.strip('"')
            if tool == "SYMBOL" and key == "id":
                style["ICON"] = value
            elif tool == "SYMBOL" and key == "c":
                style["ICONCOLOR"] = value.upper()
            elif tool == "SYMBOL" and key == "s":
                style["ICONSCALE"] = float(value)
            elif tool == "PEN" and key == "c":
                style["LINECOLOR"] = value.upper()
            elif tool == "PEN" and key == "w":
                style["LINEWIDTH"] = float(value.replace("px", ""))
            elif tool == "BRUSH" and key == "fc":
                style["FILLCOLOR"] = value.upper()
    return style


def when(text):
    """An xsd:dateTime, date, gYearMonth or gYear as (y, m, d, H, M, S, offset minutes or None)."""
    m = re.match(r'^(\d{4})(?:-(\d\d)(?:-(\d\d)(?:[T ](\d\d):(\d\d)(?::(\d\d(?:\.\d+)?))?)?)?)?(Z|[+-]\d\d:?\d\d)?$',
                 text.strip())
    if not m:
        return text
    y, mo, d, hh, mm, ss, tz = m.groups()
    offset = None
    if tz == "Z":
        offset = 0
    elif tz:
        offset = (1 if tz[0] == "+" else -1) * (int(tz[1:3]) * 60 + int(tz[-2:]))
    return (int(y), int(mo or 1), int(d or 1), int(hh or 0), int(mm or 0), round(float(ss or 0)), offset)


def gdal_when(f, name):
    if f.GetFieldIndex(name) < 0 or not f.IsFieldSetAndNotNull(name):
        return None
    y, mo, d, hh, mm, ss, tz = f.GetFieldAsDateTime(name)
    offset = None if tz in (0, 1) else (tz - 100) * 15
    return (y, mo, d, hh, mm, round(ss), offset)


def value_text(v):
    if v is None:
        return None
    try:
        return repr(float(v))
    except (TypeError, ValueError):
        return str(v).strip()


def theirs(kml):
    ds = gdal.OpenEx(kml, gdal.OF_VECTOR, allowed_drivers=["LIBKML"])
    table = ds.GetStyleTable()
    out = []
    for li in range(ds.GetLayerCount()):
        layer = ds.GetLayer(li)
        defn = layer.GetLayerDefn()
        names = [defn.GetFieldDefn(i).GetName() for i in range(defn.GetFieldCount())]
        for f in layer:
            g = f.GetGeometryRef()
            found = []
            parts(g, found)
            single = g is not None and g.GetGeometryName() in ("POINT", "LINESTRING", "LINEARRING", "POLYGON")
            a = {"NAME": f.GetField("Name"), "DESCRIPT": f.GetField("description"), "layer": layer.GetName(),
                 "TIMESTAMP": gdal_when(f, "timestamp"), "BEGIN": gdal_when(f, "begin"),
                 "END": gdal_when(f, "end"), "single": single}
            for n in ("altitudeMode", "extrude", "tessellate", "visibility", "icon"):
                a[n] = f.GetField(n) if n in names else None
            a["style"] = parse_style(f.GetStyleString(), table)
            a["extended"] = sorted(value_text(f.GetField(n)) for n in names
                                   if n not in STANDARD and f.GetField(n) not in (None, ""))
            if a["icon"] and found:
                found = [("polygons", overlay_key(g))]
            for cls, key in found:
                out.append((cls, key, a))
    return out


def ours(folder, base):
    out = []
    for cls in ("points", "paths", "polygons"):
        path = os.path.join(folder, base + "_" + cls + ".shp")
        if not os.path.exists(path):
            continue
        ds = ogr.Open(path)
        layer = ds.GetLayer(0)
        defn = layer.GetLayerDefn()
        names = [defn.GetFieldDefn(i).GetName() for i in range(defn.GetFieldCount())]
        for f in layer:
            a = {n: f.GetField(n) for n in names}
            a["extended"] = sorted(value_text(f.GetField(n)) for n in names
                                   if n not in OURS_FIXED and f.GetField(n) not in (None, ""))
            found = []
            parts(f.GetGeometryRef(), found)
            if cls == "polygons" and a.get("ICON") and found:
                found = [("polygons", overlay_key(f.GetGeometryRef()))]
            for c, key in found:
                out.append((cls, key, a))
    return out


def same_text(mine, their):
    """Ours is theirs trimmed, cut at 254 bytes at most; an empty element
    written <a/> where LIBKML writes <a></a>."""
    their = re.sub(r'<([\w:]+)([^<>]*)></\1>', r'<\1\2/>', (their or "")).strip()
    mine = mine or ""
    if mine == their:
        return True
    return len(mine.encode()) >= 250 and their.startswith(mine)


def flag(v):
    return None if v in (None, -1) else int(v)


def document_names(kml):
    """LIBKML gives each Document a layer of its own, where a set's FOLDER
    names only the Folder elements."""
    names = set()
    try:
        for element in ElementTree.parse(kml).iter():
            if element.tag.endswith("Document"):
                for child in element:
                    if child.tag.endswith("name") and child.text:
                        names.add(child.text.strip())
    except (ElementTree.ParseError, OSError):
        pass
    return names


DOCUMENTS = set()


def differences(mine, their):
    d = []
    if not same_text(mine.get("NAME"), their["NAME"]):
        d.append("name %r / %r" % (mine.get("NAME"), their["NAME"]))
    if "DESCRIPT" in mine and not same_text(mine["DESCRIPT"], their["DESCRIPT"]):
        d.append("description %r / %r" % (mine["DESCRIPT"], their["DESCRIPT"]))
    if mine.get("FOLDER") and their["layer"] not in mine["FOLDER"].split("/") and their["layer"] not in DOCUMENTS:
        d.append("folder %r / layer %r" % (mine["FOLDER"], their["layer"]))
    for field in ("TIMESTAMP", "BEGIN", "END"):
        m = when(mine[field]) if mine.get(field) else None
        # LIBKML gives a track the times of its first and last point.
        if m is None:
            continue
        # LIBKML reads no date from a year, or a year and month, alone.
        if their[field] is None and re.match(r'^\d{4}(-\d\d)?$', mine[field].strip()):
            continue
        if m != their[field]:
            d.append("%s %r / %r" % (field, mine.get(field), their[field]))
    if their["single"] and (mine.get("ALTMODE") or their["altitudeMode"]) and \
            mine.get("ALTMODE") != their["altitudeMode"]:
        d.append("altitude mode %r / %r" % (mine.get("ALTMODE"), their["altitudeMode"]))
    for field, name in (("EXTRUDE", "extrude"), ("TESSELLATE", "tessellate"), ("VISIBLE", "visibility")):
        m, t = mine.get(field), flag(their[name])
        # LIBKML gives its default (extrude 0) for a value not written.
        if their["single"] and (m is not None or t == 1) and m != t:
            d.append("%s %r / %r" % (field, m, t))
    if their["icon"] and mine.get("ICON") != their["icon"]:
        d.append("overlay icon %r / %r" % (mine.get("ICON"), their["icon"]))
    for field, value in their["style"].items():
        # A polygon's ICON is the image of a ground overlay, not the style's icon.
        if field not in mine or (field == "ICON" and ("LINEWIDTH" in mine or their["icon"])):
            continue
        m = mine[field]
        if isinstance(value, float) and m is not None:
            m = float(m)
        if m != value:
            d.append("style %s %r / %r" % (field, mine[field], value))
    if mine["extended"] != their["extended"]:
        d.append("extended data %r / %r" % (mine["extended"], their["extended"]))
    return d


def main():
    kml, folder, base = sys.argv[1:4]
    try:
        gdal.OpenEx(kml, gdal.OF_VECTOR, allowed_drivers=["LIBKML"])
    except RuntimeError as e:
        print("unreadable by LIBKML: %s" % str(e).strip())
        return
    DOCUMENTS.update(document_names(kml))
    a = sorted(ours(folder, base), key=lambda r: (r[0], repr(r[1]), r[2].get("NAME") or ""))
    b = sorted(theirs(kml), key=lambda r: (r[0], repr(r[1]), r[2]["NAME"] or ""))
    problems = []
    if [(r[0], r[1]) for r in a] != [(r[0], r[1]) for r in b]:
        problems.append("geometries: ours %d, LIBKML %d; first difference %s" % (
            len(a), len(b), next(((x[:2], y[:2]) for x, y in zip(a, b) if x[:2] != y[:2]), "in the counts")))
    else:
        for x, y in zip(a, b):
            for d in differences(x[2], y[2]):
                problems.append("%s %s: %s" % (x[0], x[2].get("NAME"), d))
    print("\n".join(problems) if problems else "match %d" % len(a))


if __name__ == "__main__":
    main()
