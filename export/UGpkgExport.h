// The GeoPackage of one input while the export writes it (--format gpkg):
// B.gpkg with up to three feature tables, points, paths and polygons,
// holding the records and fields of the shapefile sets, with the fields'
// full names, texts at full length, their types as declared, the times as
// DATETIME and a default style per table. Each record's values and
// geometry wait in a file beside it until the table's columns are known;
// Finish then writes the whole file under its temporary name, and
// PutInPlace renames it into place.
#pragma once

#include "export/UAttributeSchema.h"
#include "export/UGeoPackage.h"
#include "export/UGpkgGeometry.h"
#include "export/UKmlFeature.h"
#include "export/UShapeBuilder.h"
#include "platform/UProjection.h"

#include <memory>
#include <string>
#include <vector>

namespace quarvex {

// The text fields beside TIMESTAMP, BEGIN and END that hold their values
// which are not date-times, in the order of those three.
extern const char* const kTimeTextFields[3];

// The names no field may take in a GeoPackage: its own columns and the
// fields above.
std::vector<std::string> GpkgReservedNames();

// The declared type of field in a GeoPackage: TEXT; SMALLINT, MEDIUMINT or
// INTEGER by the range of an integer field; FLOAT or DOUBLE; BOOLEAN.
const char* GpkgFieldType(const TFieldInfo& field);

class TGeoPackageExport {
public:
    // path: the file's name (folder + base + ".gpkg"); classes: the tables
    // that may be written (a point, path and polygon flag each).
    TGeoPackageExport(std::string path, const bool (&classes)[3], const TSetChoice& choice,
                      const TExportProjection& projection, const TFieldRegistry& fields);
    ~TGeoPackageExport();

    const std::string& Path() const { return path_; }

    // One table while its records are read.
    class TTable {
    public:
        TTable(TFeatureClass featureClass, const TSetChoice& choice, const TExportProjection& projection,
               const TFieldRegistry& fields);
        TFeatureClass Class() const { return class_; }
        TSetCounts& Counts() { return counts_; }
        const TSetCounts& Counts() const { return counts_; }
        bool HasRecords() const { return open_; }

    private:
        friend class TGeoPackageExport;
        void NoteTimes(const TKmlFeature& feature);

        TFeatureClass class_;
        bool withZ_;
        int32_t srsId_;
        const TFieldRegistry& fields_;
        TShapeBuilder builder_;
        TSetRows rows_;
        TSetCounts counts_;
        std::string blob_;
        bool open_ = false;
        bool dates_[3] = {}; // TIMESTAMP, BEGIN, END: some value is a date-time
        bool texts_[3] = {}; // some value is not
    };
    const std::vector<std::unique_ptr<TTable>>& Tables() const { return tables_; }

    // Adds one record to the table of its class; nothing when that table is
    // not written. Raises the I/O error.
    void Add(const TKmlFeature& feature);
    // Writes the GeoPackage under its temporary name, with the tables that
    // got records; nothing when none did. Raises EQuarvexError or the I/O
    // error.
    void Finish();
    // True once Finish wrote a file.
    bool Written() const { return written_; }
    // Renames the file into place; when nothing was written, an earlier
    // file of the name is removed. Raises EQuarvexError (the earlier file
    // stays) when it cannot.
    void PutInPlace();
    // Closes and removes every temporary file.
    void Abandon();

private:
    // Where the values of one column of the rows go: a column of the table,
    // and for a time the text column beside it (-1: none).
    struct TPlace {
        int Column = -1;
        int TextColumn = -1;
    };
    struct TPlan {
        std::vector<TGpkgColumn> Columns;
        std::vector<TPlace> Places;        // one per column of the rows
        std::vector<uint16_t> FixedFields; // the fixed fields the table holds
    };
    TPlan PlanColumns(const TTable& table, const std::vector<TSetRows::TColumn>& columns) const;
    void BindValue(TTable& table, uint16_t key, const TPlace& place, const std::string& value, std::string& time);
    void WriteTable(TTable& table);
    std::string PartPath() const;
    std::string RowsPath(const TTable& table) const;

    std::string path_;
    const TFieldRegistry& fields_;
    const TExportProjection& projection_;
    std::vector<std::unique_ptr<TTable>> tables_;
    std::unique_ptr<TGeoPackageFile> file_;
    bool written_ = false;
};

} // namespace quarvex
