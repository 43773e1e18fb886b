// The features of a loaded KML document as the export writes them: every
// Point, LineString and Polygon of a placemark in document order, with the
// placemark's name and description, and for polygons the outer ring
// together with all its holes.
#pragma once

#include "geometry/UXYCoo.h"
#include "platform/UKmlDom.h"

#include <functional>
#include <string>
#include <vector>

namespace quarvex {

// The coordinate tuples of one ring or path, with their altitudes (0 where
// a tuple has none).
struct TCoordRun {
    std::vector<TCXY> Points;
    std::vector<double> Z;
};

struct TExportFeature {
    std::string Name;
    std::string Description; // plain text: markup and CDATA kept as text
    TCoordRun Outer;         // the point, the path, or the polygon's outer ring
    std::vector<TCoordRun> Holes; // the inner rings of a polygon
    bool HasOuter = true;    // false for a polygon without outerBoundaryIs
};

enum class TFeatureClass { Point, Path, Polygon };

// Calls visit for every element of the class in document order. Malformed
// tuples are left out and counted in skipped. The feature is reused from
// call to call.
void ForEachFeature(TDomDocument& doc, TFeatureClass featureClass, bool withDescriptions, int& skipped,
                    const std::function<void(const TExportFeature&)>& visit);

// The text of the first child element of node named like upperName: text
// and CDATA as they are, child elements with their tags and attributes,
// comments left out, white space trimmed at both ends. Empty when there is
// no such child.
std::string ElementText(TDomNode node, std::string_view upperName);

} // namespace quarvex
