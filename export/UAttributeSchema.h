// The attribute schema of the export: the fixed fields and those of the
// documents' extended data, their types, the checks and forms of their
// values, their column names (in a shapefile table and in a GeoPackage),
// and the rows of one set kept on disk until the set is complete (only then
// is it known which fields have values and how wide each one must be).
#pragma once

#include "export/UKmlFeature.h"
#include "platform/UBufferedFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarvex {

enum class TFieldType : uint8_t { Text, Integer, Real, Boolean };

struct TFieldInfo {
    std::string KmlName;    // the fixed field's name, or the name in the document
    TFieldType Type = TFieldType::Text;
    int64_t Min = 0, Max = 0; // the range of an integer field
    bool Single = false;    // a real field declared float (32 bits), not double
    std::string ColumnName; // in a shapefile table: at most 10 bytes, unique without regard to case
    std::string GpkgName;   // in a GeoPackage: the full name, unique without regard to case
};

// The type a SimpleField declares: int, uint, short, ushort are integers
// of their range; float and double numbers with decimals; bool 0/1; all
// else text.
TFieldInfo DeclaredField(std::string_view name, std::string_view type);

// The shortest text that reads back as value (C locale).
std::string FormatReal(double value);

// A KML time (TimeStamp/when, TimeSpan/begin and end) as a GeoPackage
// DATETIME, "YYYY-MM-DDThh:mm:ss.sssZ" in UTC: a date and time with
// seconds (fractions cut to milliseconds), with Z, an offset (+hh:mm,
// -hh:mm) or none (read as UTC); or a date alone, as the start of that
// day. False (out empty) for anything else: a year, a year and month, an
// impossible date or time, a year outside 0001..9999 in UTC, free text.
bool NormalizeDateTime(std::string_view text, std::string& out);

// White space (blank, tab, line ends) removed at both ends.
std::string_view TrimmedText(std::string_view text);

// text cut to at most maxBytes on a character boundary, white space at the
// end of a cut text removed.
std::string_view CutText(std::string_view text, size_t maxBytes);

class TFieldRegistry {
public:
    TFieldRegistry();

    // The key of the extended-data field named like field, registered with
    // its type the first time the name is met; -1 when kMaxExtendedFields
    // are registered already.
    int KeyOf(const TFieldInfo& field);
    const TFieldInfo& Info(uint16_t key) const { return fields_[key]; }
    size_t Count() const { return fields_.size(); }

    // Checks raw against the field's type and gives its form for the table
    // in out; false (out empty) when it does not fit the type.
    bool Normalize(uint16_t key, std::string_view raw, std::string& out) const;

    // Gives every extended-data field its shapefile column name and returns
    // the ones that differ from the field's name.
    std::vector<uint16_t> AssignColumnNames();
    // Gives every field its GeoPackage column name: the field's own name
    // (FIELD when it has none), made unique without regard to ASCII case
    // against the fixed fields, the names in reserved and each other by
    // _1, _2, ...; returns the ones that differ from the field's name.
    std::vector<uint16_t> AssignGpkgNames(const std::vector<std::string>& reserved);

    // More fields than this would not fit one dBASE table together with
    // the fixed ones.
    static constexpr size_t kMaxExtendedFields = 230;

private:
    struct THash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::vector<TFieldInfo> fields_;
    std::unordered_map<std::string, uint16_t, THash, std::equal_to<>> byName_;
};

// True when the set of class holds field key at all: the icon's fields are
// the points', the line's the paths' and polygons', the fill's the polygons'
// (and ICON those of overlay footprints too).
bool ClassHoldsField(TFeatureClass featureClass, uint16_t key);

// A set's table while its features are read: each row's values are checked
// and written to a file of its own (a temporary file beside the set), and
// what the table will need is noted as they pass.
class TSetRows {
public:
    TSetRows(const TFieldRegistry& fields, TFeatureClass featureClass, bool descriptions);

    // Creates the file that holds the rows. Raises the I/O error.
    void Open(const std::string& path);
    // Appends one row made of the values of shared, then those of own, of
    // the fields the class holds, and blob (the row's geometry, when the
    // set keeps it here); a value that does not fit its field's type is
    // left empty and counted in badValues.
    void AddRow(const std::vector<TFieldValue>& shared, const std::vector<TFieldValue>& own, int& badValues,
                std::string_view blob = {});
    uint32_t RowCount() const { return rows_; }

    struct TColumn {
        uint16_t Key = 0;
        size_t Width = 0;  // of the longest value as a shapefile table holds it
        int Decimals = 0;  // of a real field
    };
    // ZID, NAME, DESCRIPT (with descriptions) and every other field that at
    // least one row has a value for, in the order of the keys.
    std::vector<TColumn> Columns() const;
    // Reads the rows back in order; values[i] is the value of Columns()[i]
    // (full length; empty where the row has none; ZID left empty).
    void ReadRows(const std::vector<TColumn>& columns, const std::function<void(const std::vector<std::string>&)>& visit);
    // The same, with each row's blob.
    void ReadRows(const std::vector<TColumn>& columns,
                  const std::function<void(const std::vector<std::string>&, std::string_view blob)>& visit);
    // Closes and removes the file.
    void Discard();

private:
    struct TStat {
        bool Present = false;
        size_t Width = 0;
        int Decimals = 0;
    };
    void Note(uint16_t key, const std::string& value);

    const TFieldRegistry& fields_;
    TFeatureClass class_;
    bool descriptions_;
    std::string path_;
    TBufferedFile file_;
    std::vector<TStat> stats_;
    std::vector<uint8_t> record_;
    std::string value_;
    uint32_t rows_ = 0;
};

// The widest text a shapefile table's field holds.
constexpr size_t kMaxTextField = 254;

} // namespace quarvex
