#include "export/UGeoPackage.h"

#include "platform/UErrors.h"

#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace quarvex {

namespace {

// "GPKG" as the file's application id, and GeoPackage 1.2.0.
constexpr int kApplicationId = 0x47504B47;
constexpr int kUserVersion = 10200;

const char* const kRequiredTables = R"sql(
CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY,
  organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,
  description TEXT);
CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,
  identifier TEXT UNIQUE, description TEXT DEFAULT '',
  last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),
  min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,
  CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));
CREATE TABLE gpkg_geometry_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL,
  geometry_type_name TEXT NOT NULL, srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL,
  CONSTRAINT pk_geom_cols PRIMARY KEY (table_name, column_name),
  CONSTRAINT uk_gc_table_name UNIQUE (table_name),
  CONSTRAINT fk_gc_tn FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),
  CONSTRAINT fk_gc_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));
CREATE TABLE gpkg_extensions (table_name TEXT, column_name TEXT, extension_name TEXT NOT NULL,
  definition TEXT NOT NULL, scope TEXT NOT NULL,
  CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name));
)sql";

// The rows every GeoPackage holds: the two undefined systems and WGS 84.
const TGpkgSrs kUndefinedCartesian{-1, "Undefined Cartesian SRS", "undefined"};
const TGpkgSrs kUndefinedGeographic{0, "Undefined geographic SRS", "undefined"};
const TGpkgSrs kWgs84{4326, "WGS 84 geodetic",
                      "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
                      "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
                      "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
                      "AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]"};

const char* const kLayerStyles = R"sql(
CREATE TABLE layer_styles (id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, f_table_catalog TEXT(256),
  f_table_schema TEXT(256), f_table_name TEXT(256), f_geometry_column TEXT(256), styleName TEXT(30),
  styleQML TEXT, styleSLD TEXT, useAsDefault BOOLEAN, description TEXT, owner TEXT(30), ui TEXT(30),
  update_time DATETIME DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')));
INSERT INTO gpkg_contents (table_name, data_type, identifier) VALUES ('layer_styles', 'attributes', 'layer_styles');
)sql";

// The triggers that keep an R-tree right when the table changes later (in
// another program: they call the geometry functions GeoPackage readers
// provide, so they are created after this export's own inserts). "T",
// "G" and "R" stand for the table, its geometry column and its R-tree.
const char* const kRtreeTriggers = R"sql(
CREATE TRIGGER "{R}_insert" AFTER INSERT ON "{T}" WHEN (new."{G}" NOT NULL AND NOT ST_IsEmpty(NEW."{G}"))
BEGIN INSERT OR REPLACE INTO "{R}" VALUES (NEW."fid", ST_MinX(NEW."{G}"), ST_MaxX(NEW."{G}"), ST_MinY(NEW."{G}"), ST_MaxY(NEW."{G}")); END;
CREATE TRIGGER "{R}_update1" AFTER UPDATE OF "{G}" ON "{T}" WHEN OLD."fid" = NEW."fid" AND (NEW."{G}" NOTNULL AND NOT ST_IsEmpty(NEW."{G}"))
BEGIN INSERT OR REPLACE INTO "{R}" VALUES (NEW."fid", ST_MinX(NEW."{G}"), ST_MaxX(NEW."{G}"), ST_MinY(NEW."{G}"), ST_MaxY(NEW."{G}")); END;
CREATE TRIGGER "{R}_update2" AFTER UPDATE OF "{G}" ON "{T}" WHEN OLD."fid" = NEW."fid" AND (NEW."{G}" ISNULL OR ST_IsEmpty(NEW."{G}"))
BEGIN DELETE FROM "{R}" WHERE id = OLD."fid"; END;
CREATE TRIGGER "{R}_update3" AFTER UPDATE ON "{T}" WHEN OLD."fid" != NEW."fid" AND (NEW."{G}" NOTNULL AND NOT ST_IsEmpty(NEW."{G}"))
BEGIN DELETE FROM "{R}" WHERE id = OLD."fid"; INSERT OR REPLACE INTO "{R}" VALUES (NEW."fid", ST_MinX(NEW."{G}"), ST_MaxX(NEW."{G}"), ST_MinY(NEW."{G}"), ST_MaxY(NEW."{G}")); END;
CREATE TRIGGER "{R}_update4" AFTER UPDATE ON "{T}" WHEN OLD."fid" != NEW."fid" AND (NEW."{G}" ISNULL OR ST_IsEmpty(NEW."{G}"))
BEGIN DELETE FROM "{R}" WHERE id IN (OLD."fid", NEW."fid"); END;
CREATE TRIGGER "{R}_delete" AFTER DELETE ON "{T}" WHEN old."{G}" NOT NULL
BEGIN DELETE FROM "{R}" WHERE id = OLD."fid"; END;
)sql";

const char* const kGeometryColumn = "geom";

// text with each {X} of names replaced by its name, written as inside an
// identifier's quotes.
std::string Substitute(std::string text, const std::vector<std::pair<std::string, std::string>>& names)
{
    for (const auto& [placeholder, name] : names) {
        std::string inner = QuoteIdentifier(name);
        inner = inner.substr(1, inner.size() - 2);
        for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + inner.size()))
            text.replace(at, placeholder.size(), inner);
    }
    return text;
}

std::string RtreeName(const std::string& table)
{
    return "rtree_" + table + "_" + kGeometryColumn;
}

} // namespace

TGeoPackageFile::~TGeoPackageFile()
{
    Abandon();
}

void TGeoPackageFile::Create(const std::string& path, const TGpkgSrs& srs)
{
    Abandon();
    path_ = path;
    srsId_ = srs.Id;
    // A new file of our own: what stands at the name (a stale part, a link)
    // is removed, never followed, and so are journals beside it, which
    // SQLite would otherwise replay into the new file.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        if (unlink((path + suffix).c_str()) != 0 && errno != ENOENT)
            RaiseIoError(errno);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        RaiseIoError(errno);
    close(fd);
    const int opened = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
    if (opened != SQLITE_OK)
        RaiseSqliteError(db_, opened, "Cannot open " + path);
    sqlite3_extended_result_codes(db_, 1);
    // The R-tree's shadow tables are written directly (TGpkgRtree).
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
    // No journal: the file is complete or it is never put in place. The
    // R-tree's sort may spill to a temporary file, not to memory.
    ExecSql(db_, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
                 "PRAGMA temp_store = FILE; PRAGMA cache_size = -32768;"
                 "PRAGMA application_id = " + std::to_string(kApplicationId) +
                     "; PRAGMA user_version = " + std::to_string(kUserVersion) + ";");
    ExecSql(db_, kRequiredTables);
    TSqlStatement insert(db_, "INSERT INTO gpkg_spatial_ref_sys VALUES (?, ?, ?, ?, ?, ?)");
    for (const TGpkgSrs* row : {&kUndefinedCartesian, &kUndefinedGeographic, &kWgs84, &srs}) {
        if (row == &srs && srs.Id == kWgs84.Id)
            break;
        insert.BindText(1, row->Name);
        insert.BindInteger(2, row->Id);
        insert.BindText(3, row->Id <= 0 ? "NONE" : "EPSG");
        insert.BindInteger(4, row->Id);
        insert.BindText(5, row->Definition);
        insert.BindText(6, row->Name);
        insert.Run();
    }
}

void TGeoPackageFile::BeginTable(const std::string& table, const char* geometryType, bool hasZ,
                                 const std::vector<TGpkgColumn>& columns)
{
    table_ = table;
    geometryType_ = geometryType;
    hasZ_ = hasZ;
    extent_ = TGpkgBox();
    std::string create = "CREATE TABLE " + QuoteIdentifier(table) + " (fid INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, " +
                         kGeometryColumn + " " + geometryType;
    std::string insert = "INSERT INTO " + QuoteIdentifier(table) + " VALUES (?, ?";
    for (const TGpkgColumn& column : columns) {
        create += ", " + QuoteIdentifier(column.Name) + " " + column.Type;
        insert += ", ?";
    }
    ExecSql(db_, "BEGIN");
    ExecSql(db_, create + ")");
    rtree_.Begin(db_, RtreeName(table));
    insert_ = TSqlStatement(db_, insert + ")");
}

void TGeoPackageFile::BindNull(int column)
{
    insert_.BindNull(column + 3);
}

void TGeoPackageFile::BindText(int column, std::string_view text)
{
    insert_.BindText(column + 3, text);
}

void TGeoPackageFile::BindInteger(int column, int64_t value)
{
    insert_.BindInteger(column + 3, value);
}

void TGeoPackageFile::BindReal(int column, double value)
{
    insert_.BindReal(column + 3, value);
}

void TGeoPackageFile::InsertFeature(int64_t fid, std::string_view geometry)
{
    insert_.BindInteger(1, fid);
    if (geometry.empty())
        insert_.BindNull(2);
    else
        insert_.BindBlob(2, geometry);
    insert_.Run();
    const TGpkgBox box = GpkgBlobBox(geometry);
    if (box.Empty)
        return;
    extent_.Widen(box);
    rtree_.Add(fid, box);
}

void TGeoPackageFile::Register()
{
    TSqlStatement contents(db_, "INSERT INTO gpkg_contents (table_name, data_type, identifier, min_x, min_y, max_x, "
                                "max_y, srs_id) VALUES (?1, 'features', ?1, ?2, ?3, ?4, ?5, ?6)");
    contents.BindText(1, table_);
    if (!extent_.Empty) {
        contents.BindReal(2, extent_.MinX);
        contents.BindReal(3, extent_.MinY);
        contents.BindReal(4, extent_.MaxX);
        contents.BindReal(5, extent_.MaxY);
    }
    contents.BindInteger(6, srsId_);
    contents.Run();
    TSqlStatement columns(db_, "INSERT INTO gpkg_geometry_columns VALUES (?, ?, ?, ?, ?, 0)");
    columns.BindText(1, table_);
    columns.BindText(2, kGeometryColumn);
    columns.BindText(3, geometryType_);
    columns.BindInteger(4, srsId_);
    columns.BindInteger(5, hasZ_ ? 1 : 0);
    columns.Run();
    TSqlStatement extension(db_, "INSERT INTO gpkg_extensions VALUES (?, ?, 'gpkg_rtree_index', "
                                 "'http://www.geopackage.org/spec120/#extension_rtree', 'write-only')");
    extension.BindText(1, table_);
    extension.BindText(2, kGeometryColumn);
    extension.Run();
}

void TGeoPackageFile::EndTable()
{
    insert_.Finalize();
    rtree_.Write(extent_);
    Register();
    ExecSql(db_, Substitute(kRtreeTriggers, {{"{T}", table_}, {"{G}", kGeometryColumn}, {"{R}", RtreeName(table_)}}));
    ExecSql(db_, "COMMIT");
}

void TGeoPackageFile::AddLayerStyle(const std::string& table, const std::string& qml)
{
    if (!stylesCreated_) {
        ExecSql(db_, kLayerStyles);
        stylesCreated_ = true;
    }
    TSqlStatement insert(db_, "INSERT INTO layer_styles (f_table_catalog, f_table_schema, f_table_name, "
                              "f_geometry_column, styleName, styleQML, styleSLD, useAsDefault, description, owner) "
                              "VALUES ('', '', ?1, ?2, ?1, ?3, '', 1, ?4, '')");
    insert.BindText(1, table);
    insert.BindText(2, kGeometryColumn);
    insert.BindText(3, qml);
    insert.BindText(4, "The KML's colours, widths, fill and icon sizes from the style fields");
    insert.Run();
}

void TGeoPackageFile::Close()
{
    if (!db_)
        return;
    insert_.Finalize();
    const int closed = sqlite3_close(db_);
    if (closed != SQLITE_OK)
        RaiseSqliteError(db_, closed, "Cannot close " + path_);
    db_ = nullptr;
}

void TGeoPackageFile::Abandon()
{
    insert_.Finalize();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    stylesCreated_ = false;
}

} // namespace quarvex
