// The shape of one feature as the export writes it: its coordinates in the
// export's system (with altitudes when kept), a point's first tuple, a
// path's parts of two points or more, a polygon's outer ring and holes
// closed and turned as the shapefile format wants them.
#pragma once

#include "export/UKmlFeature.h"
#include "platform/UProjection.h"
#include "shapefile/UShapeSet.h"

namespace quarvex {

struct TSetCounts {
    int Features = 0;
    int SkippedTuples = 0; // tuples the coordinate system cannot take
    int DroppedRings = 0;  // fewer than 3 distinct vertices
    int OrphanHoles = 0;   // holes whose outer ring was dropped or missing
    int HolesLeftOut = 0;  // holes of polygons while holes are not chosen
    int BadValues = 0;
    int TimesAsText = 0;   // GeoPackage: times that are not date-times, in their text fields
};

struct TSetChoice {
    bool Outer = true;  // polygons: outer rings
    bool Inner = true;  // polygons: holes
    bool KeepElevations = false;
    bool Descriptions = false;
    bool Prj = true;
};

class TShapeBuilder {
public:
    TShapeBuilder(TFeatureClass featureClass, const TSetChoice& choice, const TExportProjection& projection);

    // The shape of feature (empty when nothing of it is usable: a null
    // shape), valid until the next call; what is left out is counted.
    const TShape& Build(const TKmlFeature& feature, TSetCounts& counts);

private:
    TFeatureClass class_;
    TSetChoice choice_;
    const TExportProjection& projection_;
    TShape shape_;
};

// Orientation of a ring in the plane: twice its signed area, positive
// when it runs counter-clockwise (y up).
double RingArea2(const std::vector<TCXY>& ring);

} // namespace quarvex
