#include "export/UExportSet.h"

#include "platform/UBufferedFile.h"
#include "platform/UErrors.h"
#include "shapefile/UDbfWriter.h"

#include <cstdio>

namespace quarvex {

namespace {

const char* const kRowsExtension = ".rows";

void WriteTextFile(const std::string& path, const std::string& text)
{
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::CreateTruncate);
    file.Write(text);
    file.Close();
}

} // namespace

TExportSet::TExportSet(TFeatureClass featureClass, std::string path, const TSetChoice& choice,
                       const TExportProjection& projection, const TFieldRegistry& fields)
    : class_(featureClass), path_(std::move(path)), choice_(choice), projection_(projection), fields_(fields),
      builder_(featureClass, choice, projection), rows_(fields, featureClass, choice.Descriptions)
{
}

void TExportSet::Add(const TKmlFeature& feature)
{
    if (!open_) {
        static const int32_t kTypes[] = {1, 3, 5};
        const int32_t type = kTypes[int(class_)] + (choice_.KeepElevations ? 10 : 0);
        open_ = true;
        shapes_.Open(path_ + ".shp" + kPartSuffix, path_ + ".shx" + kPartSuffix, type);
        rows_.Open(path_ + kRowsExtension + kPartSuffix);
    }
    shapes_.AddShape(builder_.Build(feature, counts_));
    rows_.AddRow(*feature.Shared, *feature.Own, counts_.BadValues);
    ++counts_.Features;
}

void TExportSet::WriteTable()
{
    const std::vector<TSetRows::TColumn> columns = rows_.Columns();
    std::vector<TDbfField> fields;
    for (const TSetRows::TColumn& column : columns) {
        const TFieldInfo& info = fields_.Info(column.Key);
        const bool text = info.Type == TFieldType::Text;
        fields.push_back({info.ColumnName, text ? 'C' : 'N', uint8_t(column.Width),
                          uint8_t(info.Type == TFieldType::Real ? column.Decimals : 0)});
    }
    TDbfWriter table;
    try {
        table.Open(path_ + ".dbf" + kPartSuffix, fields);
        uint32_t zid = 0;
        std::vector<std::string> values;
        rows_.ReadRows(columns, [&](const std::vector<std::string>& row) {
            values.resize(row.size());
            for (size_t i = 0; i < row.size(); ++i)
                values[i] = CutText(row[i], kMaxTextField);
            values[0] = std::to_string(++zid);
            table.AddRecord(values);
        });
        table.Close();
    } catch (...) {
        table.Abandon();
        throw;
    }
}

void TExportSet::Finish()
{
    if (!open_)
        return;
    try {
        shapes_.Finish();
        WriteTable();
        rows_.Discard();
        parts_ = {".shp", ".shx", ".dbf"};
        WriteTextFile(path_ + ".cpg" + kPartSuffix, "UTF-8");
        parts_.push_back(".cpg");
        if (choice_.Prj) {
            WriteTextFile(path_ + ".prj" + kPartSuffix, projection_.EsriWkt());
            parts_.push_back(".prj");
        }
    } catch (const EInOutError& e) {
        throw EQuarvexError("Cannot write " + path_ + ".*: " + e.what());
    }
}

void TExportSet::Abandon()
{
    shapes_.Abandon();
    rows_.Discard();
    for (const char* ext : kSetExtensions) {
        std::remove((path_ + ext + kPartSuffix).c_str());
        std::remove((path_ + ext + ".quarvex-old").c_str());
    }
    std::remove((path_ + kRowsExtension + kPartSuffix).c_str());
    parts_.clear();
}

} // namespace quarvex
