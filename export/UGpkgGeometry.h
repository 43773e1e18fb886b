// The geometry of a GeoPackage feature as the OGC GeoPackage standard
// stores it: the binary header ("GP", version, flags, SRS id, envelope)
// followed by the shape as ISO well-known binary, little-endian.
#pragma once

#include "export/UKmlFeature.h"
#include "shapefile/UShapeSet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvex {

// The box of a geometry or of a table (Z only with elevations).
struct TGpkgBox {
    bool Empty = true;
    double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0, MinZ = 0, MaxZ = 0;
    void Widen(double x, double y, double z);
    void Widen(const TGpkgBox& other);
};

// The geometry type a feature table of the class declares: POINT,
// MULTILINESTRING or MULTIPOLYGON (a path or polygon record of the sets
// may hold several parts, so these tables always hold the multi types).
const char* GpkgGeometryType(TFeatureClass featureClass);

// The GeoPackage geometry of shape (as TShapeBuilder made it) in blob: a
// point; a path's parts as a MultiLineString; a polygon's rings as a
// MultiPolygon, grouped as shapefile readers group them (each clockwise
// ring starts a polygon, the counter-clockwise rings after it are its
// holes). With withZ the Z types and an envelope with Z. Points carry no
// envelope, as the standard allows. An empty shape (a null shape of the
// sets) gives an empty blob: the feature's geometry is NULL. box receives
// the shape's box.
void BuildGpkgGeometry(const TShape& shape, TFeatureClass featureClass, bool withZ, int32_t srsId, std::string& blob,
                       TGpkgBox& box);

// The x and y range of a blob that BuildGpkgGeometry wrote: its envelope,
// or a point's coordinates; Empty for an empty blob.
TGpkgBox GpkgBlobBox(std::string_view blob);

} // namespace quarvex
