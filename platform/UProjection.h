// The coordinate system of an export: WGS 84 longitude and latitude as the
// KML holds them, or a WGS 84 / UTM zone, projected through PROJ.
#pragma once

#include <memory>
#include <string>

namespace quarvex {

struct TUtmZone {
    int Zone = 0;      // 1 to 60; 0 means geographic WGS 84
    bool North = true;
};

// Reads "33N", "7s" (zone 1 to 60, N or S); false for anything else.
bool ParseUtmZone(const std::string& text, TUtmZone& zone);

class TExportProjection {
public:
    // Geographic WGS 84 when zone.Zone is 0, else that UTM zone. Raises
    // EQuarvexError when PROJ cannot set the transformation up.
    explicit TExportProjection(TUtmZone zone = {});
    ~TExportProjection();
    TExportProjection(const TExportProjection&) = delete;
    TExportProjection& operator=(const TExportProjection&) = delete;

    // Turns longitude x and latitude y into the target's coordinates; false
    // (the values unchanged) when they cannot be projected.
    bool Project(double& x, double& y) const;
    // The target system as ESRI well-known text, the content of a .prj file.
    const std::string& EsriWkt() const { return wkt_; }
    // The same as OGC well-known text (as GDAL writes it), the definition a
    // GeoPackage keeps.
    const std::string& OgcWkt() const { return ogcWkt_; }
    // The system's name ("WGS 84", "WGS 84 / UTM zone 33N") and EPSG code.
    const std::string& Name() const { return name_; }
    int EpsgId() const { return zone_.Zone == 0 ? 4326 : (zone_.North ? 32600 : 32700) + zone_.Zone; }
    bool IsGeographic() const { return zone_.Zone == 0; }

private:
    struct TProj;
    TUtmZone zone_;
    std::unique_ptr<TProj> proj_;
    std::string wkt_;
    std::string ogcWkt_;
    std::string name_;
};

} // namespace quarvex
