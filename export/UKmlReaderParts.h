// What the two halves of the export's reader share: the kinds of elements
// it tells apart, a geometry while it is read, and the kinds' classes.
// Private to export/UKmlReader*.cpp.
#pragma once

#include "export/UKmlReader.h"

namespace quarvex {

enum class TKmlReader::TKind : uint8_t {
    Unknown, Skip,
    Document, Folder, Placemark, NetworkLink, GroundOverlay, PhotoOverlay,
    Name, Description, Visibility, StyleUrl, Style, StyleMap, Pair, Key,
    IconStyle, LineStyle, PolyStyle, Icon, Href, Color, Width, Scale, Fill, Outline,
    TimeStamp, TimeSpan, When, Begin, End,
    ExtendedData, Data, Value, SchemaData, SimpleData, Schema, SimpleField,
    MultiGeometry, Point, LineString, LinearRing, Polygon, OuterBoundaryIs, InnerBoundaryIs,
    Coordinates, AltitudeMode, Extrude, Tessellate,
    LatLonBox, North, South, East, West, Rotation, Link,
    Track, MultiTrack, GxCoord, LatLonQuad, CascadingStyle,
};

struct TKmlReader::TGeometry {
    TFeatureClass Class = TFeatureClass::Point;
    std::vector<TCoordRun> Parts;
    size_t PartCount = 0;
    bool HasOuter = true;
    std::vector<TFieldValue> Own;

    TCoordRun& AddPart()
    {
        if (PartCount == Parts.size())
            Parts.emplace_back();
        Parts[PartCount].Clear();
        return Parts[PartCount++];
    }
};

namespace kmlreader {

using TKind = TKmlReader::TKind;

inline bool IsFeature(TKind kind)
{
    return kind == TKind::Placemark || kind == TKind::GroundOverlay || kind == TKind::PhotoOverlay;
}

inline bool IsGeometry(TKind kind)
{
    return kind == TKind::Point || kind == TKind::LineString || kind == TKind::LinearRing ||
           kind == TKind::Polygon || kind == TKind::Track || kind == TKind::MultiTrack;
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace kmlreader

} // namespace quarvex
