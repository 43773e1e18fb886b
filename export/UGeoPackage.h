// A GeoPackage file (OGC GeoPackage 1.2, an SQLite database) while the
// export writes it: created fresh under its temporary name, SQLite's
// journal off (the file is renamed into place only when complete, and that
// rename is the commit), the required tables, feature tables filled in one
// transaction each through prepared statements, an R-tree index per table
// as the standard's extension describes it, and the layer_styles table.
#pragma once

#include "export/UGpkgGeometry.h"
#include "export/UGpkgRtree.h"
#include "export/USqlite.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarvex {

// A system of the file's coordinates, for gpkg_spatial_ref_sys.
struct TGpkgSrs {
    int32_t Id = 4326; // the EPSG code
    std::string Name;
    std::string Definition; // OGC well-known text
};

// A column of a feature table besides fid and geom: its name and declared
// type (TEXT, MEDIUMINT, DOUBLE, BOOLEAN, DATETIME ...).
struct TGpkgColumn {
    std::string Name;
    std::string Type;
};

class TGeoPackageFile {
public:
    TGeoPackageFile() = default;
    TGeoPackageFile(const TGeoPackageFile&) = delete;
    TGeoPackageFile& operator=(const TGeoPackageFile&) = delete;
    ~TGeoPackageFile(); // closes an open file without finishing it

    // Creates path as a new, empty GeoPackage with the SRS rows of WGS 84
    // and of srs. Whatever stands at path is removed first and never
    // followed. Raises EInOutError (a system failure) or EQuarvexError.
    void Create(const std::string& path, const TGpkgSrs& srs);

    // Creates a feature table with its fid, its geometry column geom of
    // geometryType (with Z when hasZ) and columns, and starts its
    // transaction. The values of each feature are bound to the columns
    // (0-based, in the order given), then InsertFeature writes it.
    void BeginTable(const std::string& table, const char* geometryType, bool hasZ,
                    const std::vector<TGpkgColumn>& columns);
    void BindNull(int column);
    void BindText(int column, std::string_view text);
    void BindInteger(int column, int64_t value);
    void BindReal(int column, double value);
    // Writes the feature with the values bound; geometry empty: NULL. Its
    // box goes into the table's R-tree and extent. The bindings are cleared.
    void InsertFeature(int64_t fid, std::string_view geometry);
    // Commits the table, registers it in gpkg_contents with its extent and
    // in gpkg_geometry_columns, and adds the R-tree's triggers.
    void EndTable();

    // Adds the default style (QGIS's QML) of table to layer_styles, which
    // is created with the first.
    void AddLayerStyle(const std::string& table, const std::string& qml);

    // Closes the file; raises when SQLite reports a failure.
    void Close();
    // Closes the file, whatever its state (after an error).
    void Abandon();

private:
    void Register();

    sqlite3* db_ = nullptr;
    std::string path_;
    int32_t srsId_ = 0;
    std::string table_;
    const char* geometryType_ = "";
    bool hasZ_ = false;
    TSqlStatement insert_;
    TGpkgRtree rtree_;
    TGpkgBox extent_;
    bool stylesCreated_ = false;
};

} // namespace quarvex
