#!/usr/bin/env python3
"""Writes a large KML file in the layout desktop globe software saves: tab
indentation, coordinates on their own line, "lon,lat,alt" tuples.

Usage: gen_kml.py OUT [POINTS PATHS POLYGONS]
Defaults: 200,000 points, 20,000 paths of 50 vertices, 10,000 polygons with a
41-vertex outer and inner ring each (about 120 MB). The output depends only
on the arguments.
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


def main():
    out = sys.argv[1]
    points, paths, polygons = (int(v) for v in (sys.argv[2:5] if len(sys.argv) >= 5 else (200000, 20000, 10000)))
    rng = random.Random(20261208)
    with open(out, "w", newline="\n") as f:
        w = f.write
        w('<?xml version="1.0" encoding="UTF-8"?>\n')
        w('<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">\n')
        w("<Document>\n\t<name>benchmark.kml</name>\n")
        w('\t<Style id="s"><LineStyle><color>ff0000ff</color></LineStyle></Style>\n')
        for i in range(points):
            x, y = rng.uniform(-180, 180), rng.uniform(-85, 85)
            w("\t<Placemark>\n\t\t<name>Point %d</name>\n\t\t<styleUrl>#s</styleUrl>\n\t\t<Point>\n"
              "\t\t\t<coordinates>%.14f,%.14f,0</coordinates>\n\t\t</Point>\n\t</Placemark>\n" % (i, x, y))
        for i in range(paths):
            cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
            w("\t<Placemark>\n\t\t<name>Path %d</name>\n\t\t<styleUrl>#s</styleUrl>\n\t\t<LineString>\n"
              "\t\t\t<tessellate>1</tessellate>\n\t\t\t<coordinates>\n\t\t\t\t%s \n\t\t\t</coordinates>\n"
              "\t\t</LineString>\n\t</Placemark>\n" % (i, tuples(rng, cx, cy, 50, 1.0, False)))
        for i in range(polygons):
            cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
            outer = tuples(rng, cx, cy, 41, 1.0, True)
            inner = tuples(rng, cx, cy, 41, 0.4, True)
            w("\t<Placemark>\n\t\t<name>Polygon %d</name>\n\t\t<styleUrl>#s</styleUrl>\n\t\t<Polygon>\n"
              "\t\t\t<outerBoundaryIs>\n\t\t\t\t<LinearRing>\n\t\t\t\t\t<coordinates>\n\t\t\t\t\t\t%s \n"
              "\t\t\t\t\t</coordinates>\n\t\t\t\t</LinearRing>\n\t\t\t</outerBoundaryIs>\n"
              "\t\t\t<innerBoundaryIs>\n\t\t\t\t<LinearRing>\n\t\t\t\t\t<coordinates>\n\t\t\t\t\t\t%s \n"
              "\t\t\t\t\t</coordinates>\n\t\t\t\t</LinearRing>\n\t\t\t</innerBoundaryIs>\n"
              "\t\t</Polygon>\n\t</Placemark>\n" % (i, outer, inner))
        w("</Document>\n</kml>\n")


if __name__ == "__main__":
    main()
