#!/usr/bin/env python3
"""Writes a large KML file in the layout desktop globe software saves: tab
indentation, coordinates on their own line, "lon,lat,alt" tuples.

Usage: gen_kml.py [--attributes] OUT [POINTS PATHS POLYGONS]
Defaults: 200,000 points, 20,000 paths of 50 vertices, 10,000 polygons with a
41-vertex outer and inner ring each (about 120 MB). With --attributes every
group of values the export reads is there too: folders of 1,000 placemarks,
a time stamp or span, visibility, a style map and an inline style, typed
schema data and untyped data, altitude mode and extrude. The output depends
only on the arguments.
"""
import math
import random
import sys


def tuples(rng, cx, cy, n, radius, ring):
    out = []
    for i in range(n):
        if ring:
            a = 2 * math.pi * (i % (n - 1)) / (n - 1)
            x, y = cx + radius * math.cos(a), cy + radius * math.sin(a)
        else:
            x, y = cx + i * radius / n, cy + rng.uniform(-radius, radius)
        out.append("%.14f,%.14f,%d" % (x, y, rng.randint(0, 3000)))
    return " ".join(out)


def extras(rng, i, attributes):
    """The values of placemark i besides its name and geometry."""
    if not attributes:
        return "\t\t<styleUrl>#s</styleUrl>\n"
    when = ("\t\t<TimeStamp><when>2026-%02d-%02dT%02d:00:00Z</when></TimeStamp>\n" % (i % 12 + 1, i % 28 + 1, i % 24)
            if i % 2 else "\t\t<TimeSpan><begin>2025-01-01</begin><end>2026-%02d-01</end></TimeSpan>\n" % (i % 12 + 1))
    return ("\t\t<visibility>%d</visibility>\n%s\t\t<styleUrl>#m</styleUrl>\n"
            "\t\t<Style><IconStyle><scale>%.1f</scale></IconStyle><LineStyle><width>%d</width></LineStyle></Style>\n"
            "\t\t<ExtendedData>\n\t\t\t<SchemaData schemaUrl=\"#site\">\n"
            "\t\t\t\t<SimpleData name=\"elevation\">%d</SimpleData>\n"
            "\t\t\t\t<SimpleData name=\"accuracy\">%.3f</SimpleData>\n"
            "\t\t\t\t<SimpleData name=\"surveyed\">%d</SimpleData>\n\t\t\t</SchemaData>\n"
            "\t\t\t<Data name=\"observer_comment\"><value>Observation %d by team %s</value></Data>\n"
            "\t\t</ExtendedData>\n" % (i % 2, when, 1 + i % 5 / 2, 1 + i % 4, rng.randint(0, 4000),
                                          rng.uniform(0, 10), i % 2, i, "ABCDEFGH"[i % 8]))


def geometry_values(attributes):
    return "\t\t\t<extrude>1</extrude><altitudeMode>relativeToGround</altitudeMode>\n" if attributes else ""


def main():
    args = sys.argv[1:]
    attributes = "--attributes" in args
    args = [a for a in args if a != "--attributes"]
    out = args[0]
    points, paths, polygons = (int(v) for v in (args[1:4] if len(args) >= 4 else (200000, 20000, 10000)))
    rng = random.Random(20261208)
    with open(out, "w", newline="\n") as f:
        w = f.write
        w('<?xml version="1.0" encoding="UTF-8"?>\n')
        w('<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">\n')
        w("<Document>\n\t<name>benchmark.kml</name>\n")
        w('\t<Style id="s"><LineStyle><color>ff0000ff</color></LineStyle></Style>\n')
        if attributes:
            w('\t<Style id="n"><IconStyle><color>ff00aaff</color><Icon><href>pin.png</href></Icon></IconStyle>'
              '<LineStyle><color>ff0000ff</color><width>2</width></LineStyle>'
              '<PolyStyle><color>7f00ff00</color><outline>1</outline></PolyStyle></Style>\n'
              '\t<StyleMap id="m"><Pair><key>normal</key><styleUrl>#n</styleUrl></Pair>'
              '<Pair><key>highlight</key><styleUrl>#s</styleUrl></Pair></StyleMap>\n'
              '\t<Schema name="site" id="site"><SimpleField name="elevation" type="int"/>'
              '<SimpleField name="accuracy" type="double"/><SimpleField name="surveyed" type="bool"/></Schema>\n')
        n = 0

        def folder(i):
            # Folders of 1,000 placemarks each, when there are attributes.
            if attributes and i % 1000 == 0:
                w("%s\t<Folder><name>Batch %d</name>\n" % ("\t</Folder>\n" if i else "", i // 1000))

        for i in range(points):
            folder(n)
            n += 1
            x, y = rng.uniform(-180, 180), rng.uniform(-85, 85)
            w("\t<Placemark>\n\t\t<name>Point %d</name>\n%s\t\t<Point>\n%s"
              "\t\t\t<coordinates>%.14f,%.14f,0</coordinates>\n\t\t</Point>\n\t</Placemark>\n"
              % (i, extras(rng, n, attributes), geometry_values(attributes), x, y))
        for i in range(paths):
            folder(n)
            n += 1
            cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
            w("\t<Placemark>\n\t\t<name>Path %d</name>\n%s\t\t<LineString>\n"
              "\t\t\t<tessellate>1</tessellate>\n\t\t\t<coordinates>\n\t\t\t\t%s \n\t\t\t</coordinates>\n"
              "\t\t</LineString>\n\t</Placemark>\n" % (i, extras(rng, n, attributes), tuples(rng, cx, cy, 50, 1.0, False)))
        for i in range(polygons):
            folder(n)
            n += 1
            cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
            outer = tuples(rng, cx, cy, 41, 1.0, True)
            inner = tuples(rng, cx, cy, 41, 0.4, True)
            w("\t<Placemark>\n\t\t<name>Polygon %d</name>\n%s\t\t<Polygon>\n%s"
              "\t\t\t<outerBoundaryIs>\n\t\t\t\t<LinearRing>\n\t\t\t\t\t<coordinates>\n\t\t\t\t\t\t%s \n"
              "\t\t\t\t\t</coordinates>\n\t\t\t\t</LinearRing>\n\t\t\t</outerBoundaryIs>\n"
              "\t\t\t<innerBoundaryIs>\n\t\t\t\t<LinearRing>\n\t\t\t\t\t<coordinates>\n\t\t\t\t\t\t%s \n"
              "\t\t\t\t\t</coordinates>\n\t\t\t\t</LinearRing>\n\t\t\t</innerBoundaryIs>\n"
              "\t\t</Polygon>\n\t</Placemark>\n" % (i, extras(rng, n, attributes), geometry_values(attributes), outer,
                                                    inner))
        if attributes and n:
            w("\t</Folder>\n")
        w("</Document>\n</kml>\n")


if __name__ == "__main__":
    main()
