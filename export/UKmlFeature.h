// What the export's reader hands on for every geometry of a document: its
// class, its coordinates with their altitudes, and the attribute values of
// its placemark (or overlay) and of the geometry itself.
#pragma once

#include "geometry/UXYCoo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

enum class TFeatureClass : uint8_t { Point, Path, Polygon };

// The fields every set may hold, in the order of the table; the fields of
// extended data follow them, numbered from kFixedFieldCount on.
enum class TFixedField : uint16_t {
    Zid, Name, Descript, Folder, Timestamp, Begin, End, AltMode, Extrude, Tessellate, Visible,
    Icon, IconScale, IconColor, LineColor, LineWidth, FillColor, Fill, Outline,
    OverlayIcon, // a ground overlay's image, in the ICON field of the polygons
};
constexpr uint16_t kFixedFieldCount = uint16_t(TFixedField::OverlayIcon) + 1;

constexpr uint16_t FieldKey(TFixedField field)
{
    return uint16_t(field);
}

// One value: the field's key and its text as the document writes it, white
// space trimmed at both ends (style values already in the export's form).
struct TFieldValue {
    uint16_t Field = 0;
    std::string Value;
};

// The coordinate tuples of one point, path part or ring, with their
// altitudes (0 where a tuple has none).
struct TCoordRun {
    std::vector<TCXY> Points;
    std::vector<double> Z;
    void Clear()
    {
        Points.clear();
        Z.clear();
    }
};

struct TKmlFeature {
    TFeatureClass Class = TFeatureClass::Point;
    // A point: one run holding it (empty without usable coordinates); a
    // path: one run per part; a polygon: the outer ring, then the holes.
    const std::vector<TCoordRun>* Parts = nullptr;
    size_t PartCount = 0;
    bool HasOuter = true; // a polygon without outer ring still has Parts[0], empty
    // The values of the placemark, shared by its geometries, and those of
    // this geometry alone (altitude mode, extrude, tessellate).
    const std::vector<TFieldValue>* Shared = nullptr;
    const std::vector<TFieldValue>* Own = nullptr;
};

} // namespace quarvex
