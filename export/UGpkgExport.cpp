#include "export/UGpkgExport.h"

#include "export/UExportSet.h"
#include "export/UGeoPackage.h"
#include "export/ULayerStyles.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

namespace quarvex {

const char* const kTimeTextFields[3] = {"TIMESTAMP_TEXT", "BEGIN_TEXT", "END_TEXT"};

namespace {

namespace fs = std::filesystem;

const TFixedField kTimeFields[3] = {TFixedField::Timestamp, TFixedField::Begin, TFixedField::End};
const char* const kTableNames[3] = {"points", "paths", "polygons"};
// SQLite's own files beside a database: an earlier file's would be replayed
// into the new one by its next reader.
const char* const kJournalSuffixes[3] = {"-journal", "-wal", "-shm"};

int TimeIndex(uint16_t key)
{
    for (int i = 0; i < 3; ++i)
        if (key == FieldKey(kTimeFields[i]))
            return i;
    return -1;
}

} // namespace

std::vector<std::string> GpkgReservedNames()
{
    return {"fid", "geom", kTimeTextFields[0], kTimeTextFields[1], kTimeTextFields[2]};
}

const char* GpkgFieldType(const TFieldInfo& field)
{
    switch (field.Type) {
    case TFieldType::Text: return "TEXT";
    case TFieldType::Boolean: return "BOOLEAN";
    case TFieldType::Real: return field.Single ? "FLOAT" : "DOUBLE";
    case TFieldType::Integer: break;
    }
    if (field.Min >= INT16_MIN && field.Max <= INT16_MAX)
        return "SMALLINT";
    if (field.Min >= INT32_MIN && field.Max <= INT32_MAX)
        return "MEDIUMINT";
    return "INTEGER";
}

TGeoPackageExport::TTable::TTable(TFeatureClass featureClass, const TSetChoice& choice,
                                  const TExportProjection& projection, const TFieldRegistry& fields)
    : class_(featureClass), withZ_(choice.KeepElevations), srsId_(projection.EpsgId()), fields_(fields),
      builder_(featureClass, choice, projection), rows_(fields, featureClass, choice.Descriptions)
{
}

void TGeoPackageExport::TTable::NoteTimes(const TKmlFeature& feature)
{
    // The row keeps the last value of a field, as TSetRows reads it back.
    const std::string* last[3] = {};
    for (const std::vector<TFieldValue>* values : {feature.Shared, feature.Own})
        for (const TFieldValue& v : *values)
            if (const int t = TimeIndex(v.Field); t >= 0 && !v.Value.empty())
                last[t] = &v.Value;
    std::string form;
    for (int t = 0; t < 3; ++t)
        if (last[t])
            (NormalizeDateTime(*last[t], form) ? dates_ : texts_)[t] = true;
}

TGeoPackageExport::TGeoPackageExport(std::string path, const bool (&classes)[3], const TSetChoice& choice,
                                     const TExportProjection& projection, const TFieldRegistry& fields)
    : path_(std::move(path)), fields_(fields), projection_(projection)
{
    for (int c = 0; c < 3; ++c)
        if (classes[c])
            tables_.push_back(std::make_unique<TTable>(TFeatureClass(c), choice, projection, fields));
}

TGeoPackageExport::~TGeoPackageExport() = default;

std::string TGeoPackageExport::PartPath() const
{
    return path_ + kPartSuffix;
}

std::string TGeoPackageExport::RowsPath(const TTable& table) const
{
    return path_ + "." + kTableNames[int(table.class_)] + ".rows" + kPartSuffix;
}

void TGeoPackageExport::Add(const TKmlFeature& feature)
{
    for (auto& table : tables_) {
        if (table->class_ != feature.Class)
            continue;
        if (!table->open_) {
            table->rows_.Open(RowsPath(*table));
            table->open_ = true;
        }
        TGpkgBox box;
        BuildGpkgGeometry(table->builder_.Build(feature, table->counts_), table->class_, table->withZ_,
                          table->srsId_, table->blob_, box);
        table->NoteTimes(feature);
        table->rows_.AddRow(*feature.Shared, *feature.Own, table->counts_.BadValues, table->blob_);
        ++table->counts_.Features;
    }
}

TGeoPackageExport::TPlan TGeoPackageExport::PlanColumns(const TTable& table,
                                                        const std::vector<TSetRows::TColumn>& columns) const
{
    TPlan plan;
    plan.Places.resize(columns.size());
    auto add = [&plan](std::string name, const char* type) {
        plan.Columns.push_back({std::move(name), type});
        return int(plan.Columns.size()) - 1;
    };
    for (size_t i = 0; i < columns.size(); ++i) {
        const TFieldInfo& info = fields_.Info(columns[i].Key);
        if (columns[i].Key < kFixedFieldCount)
            plan.FixedFields.push_back(columns[i].Key);
        const int t = TimeIndex(columns[i].Key);
        if (t < 0) {
            plan.Places[i].Column = add(info.GpkgName, GpkgFieldType(info));
            continue;
        }
        // A time's DATETIME field, and its text field, each only when some
        // record has a value of its kind.
        if (table.dates_[t])
            plan.Places[i].Column = add(info.GpkgName, "DATETIME");
        if (table.texts_[t])
            plan.Places[i].TextColumn = add(kTimeTextFields[t], "TEXT");
    }
    return plan;
}

void TGeoPackageExport::BindValue(TTable& table, uint16_t key, const TPlace& place, const std::string& value,
                                  std::string& time)
{
    const TFieldInfo& info = fields_.Info(key);
    if (const int t = TimeIndex(key); t >= 0) {
        if (NormalizeDateTime(value, time)) {
            file_->BindText(place.Column, time);
        } else {
            file_->BindText(place.TextColumn, value);
            ++table.counts_.TimesAsText;
        }
    } else if (info.Type == TFieldType::Integer || info.Type == TFieldType::Boolean) {
        int64_t number = 0; // the value passed the field's check: digits that fit
        std::from_chars(value.data(), value.data() + value.size(), number);
        file_->BindInteger(place.Column, number);
    } else if (info.Type == TFieldType::Real) {
        double number = 0;
        std::from_chars(value.data(), value.data() + value.size(), number);
        file_->BindReal(place.Column, number);
    } else {
        file_->BindText(place.Column, value);
    }
}

void TGeoPackageExport::WriteTable(TTable& table)
{
    const std::vector<TSetRows::TColumn> columns = table.rows_.Columns();
    const TPlan plan = PlanColumns(table, columns);
    const char* name = kTableNames[int(table.class_)];
    file_->BeginTable(name, GpkgGeometryType(table.class_), table.withZ_, plan.Columns);
    int64_t zid = 0;
    std::string times[3]; // bound without a copy: each must last until the record is written
    table.rows_.ReadRows(columns, [&](const std::vector<std::string>& values, std::string_view blob) {
        ++zid;
        for (size_t i = 0; i < values.size(); ++i) {
            const uint16_t key = columns[i].Key;
            if (key == FieldKey(TFixedField::Zid))
                file_->BindInteger(plan.Places[i].Column, zid);
            else if (!values[i].empty()) // else NULL
                BindValue(table, key, plan.Places[i], values[i], times[std::max(TimeIndex(key), 0)]);
        }
        file_->InsertFeature(zid, blob);
    });
    file_->EndTable();
    file_->AddLayerStyle(name, LayerStyleQml(table.class_, plan.FixedFields));
}

void TGeoPackageExport::Finish()
{
    bool any = false;
    for (const auto& table : tables_)
        any = any || table->open_;
    if (!any)
        return;
    file_ = std::make_unique<TGeoPackageFile>();
    try {
        file_->Create(PartPath(), TGpkgSrs{projection_.EpsgId(), projection_.Name(), projection_.OgcWkt()});
        for (auto& table : tables_)
            if (table->open_) {
                WriteTable(*table);
                table->rows_.Discard();
            }
        file_->Close();
    } catch (const EInOutError&) {
        throw; // named by the export, with the file
    } catch (const EQuarvexError& e) {
        throw EQuarvexError("Cannot write " + path_ + ": " + e.what());
    }
    written_ = true;
}

void TGeoPackageExport::PutInPlace()
{
    // A folder in the way would leave no file at all: it is reported and
    // the temporary file removed by the caller.
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path_, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status))
        throw EQuarvexError("Cannot put " + path_ + " in place: something that is not a file stands there");
    for (const char* suffix : kJournalSuffixes)
        fs::remove(path_ + suffix, ec);
    if (!written_) {
        fs::remove(path_, ec);
        return;
    }
    fs::rename(PartPath(), path_, ec);
    if (ec)
        throw EQuarvexError("Cannot put " + path_ + " in place: " + ec.message());
}

void TGeoPackageExport::Abandon()
{
    if (file_)
        file_->Abandon();
    file_.reset();
    for (auto& table : tables_) {
        table->rows_.Discard();
        std::remove(RowsPath(*table).c_str());
    }
    std::remove(PartPath().c_str());
    for (const char* suffix : kJournalSuffixes)
        std::remove((PartPath() + suffix).c_str());
    written_ = false;
}

} // namespace quarvex
