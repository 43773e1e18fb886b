#include "export/UExportSet.h"

#include "platform/UBufferedFile.h"
#include "platform/UErrors.h"
#include "shapefile/UDbfWriter.h"

#include <algorithm>
#include <cstdio>

namespace quarvex {

const char* const kPartSuffix = ".quarvex-part";
const char* const kSetExtensions[5] = {".shx", ".dbf", ".cpg", ".prj", ".shp"};

namespace {

const char* const kRowsExtension = ".rows";

bool SamePoint(const TCXY& a, const TCXY& b)
{
    return a.X == b.X && a.Y == b.Y;
}

size_t DistinctPoints(std::vector<TCXY> points)
{
    std::sort(points.begin(), points.end(), [](const TCXY& a, const TCXY& b) {
        return a.X < b.X || (a.X == b.X && a.Y < b.Y);
    });
    return size_t(std::unique(points.begin(), points.end(), SamePoint) - points.begin());
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::CreateTruncate);
    file.Write(text);
    file.Close();
}

// The coordinates of a run in the export's system, with their altitudes;
// tuples that cannot be projected are left out and counted.
void ProjectRun(const TCoordRun& run, const TExportProjection& projection, bool withZ, TShape& shape,
                TSetCounts& counts)
{
    for (size_t i = 0; i < run.Points.size(); ++i) {
        double x = run.Points[i].X, y = run.Points[i].Y;
        if (!projection.Project(x, y)) {
            ++counts.SkippedTuples;
            continue;
        }
        shape.Points.push_back(TCXY{x, y});
        if (withZ)
            shape.Z.push_back(i < run.Z.size() ? run.Z[i] : 0.0);
    }
}

// Appends one ring as a part of shape: closed, turned clockwise for an
// outer ring and counter-clockwise for a hole. A ring of fewer than three
// distinct vertices is dropped and counted.
void AddRing(const TCoordRun& run, bool hole, const TExportProjection& projection, bool withZ, TShape& shape,
             TSetCounts& counts)
{
    TShape ring;
    ProjectRun(run, projection, withZ, ring, counts);
    if (DistinctPoints(ring.Points) < 3) {
        ++counts.DroppedRings;
        return;
    }
    if (!SamePoint(ring.Points.front(), ring.Points.back())) {
        ring.Points.push_back(ring.Points.front());
        if (withZ)
            ring.Z.push_back(ring.Z.front());
    }
    const bool counterClockwise = RingArea2(ring.Points) > 0;
    if (counterClockwise != hole) {
        std::reverse(ring.Points.begin(), ring.Points.end());
        std::reverse(ring.Z.begin(), ring.Z.end());
    }
    shape.PartStarts.push_back(int32_t(shape.Points.size()));
    shape.Points.insert(shape.Points.end(), ring.Points.begin(), ring.Points.end());
    shape.Z.insert(shape.Z.end(), ring.Z.begin(), ring.Z.end());
}

} // namespace

double RingArea2(const std::vector<TCXY>& ring)
{
    // Shoelace over the ring, closed or not; relative to the first vertex,
    // so that large coordinates keep their precision.
    double area = 0.0;
    if (ring.size() < 3)
        return area;
    const TCXY& o = ring[0];
    for (size_t i = 1; i + 1 < ring.size(); ++i)
        area += (ring[i].X - o.X) * (ring[i + 1].Y - o.Y) - (ring[i + 1].X - o.X) * (ring[i].Y - o.Y);
    return area;
}

TExportSet::TExportSet(TFeatureClass featureClass, std::string path, const TSetChoice& choice,
                       const TExportProjection& projection, const TFieldRegistry& fields)
    : class_(featureClass), path_(std::move(path)), choice_(choice), projection_(projection), fields_(fields),
      rows_(fields, featureClass, choice.Descriptions)
{
}

void TExportSet::BuildShape(const TKmlFeature& feature)
{
    shape_.Clear();
    const bool withZ = choice_.KeepElevations;
    const std::vector<TCoordRun>& parts = *feature.Parts;
    if (class_ == TFeatureClass::Polygon) {
        if (choice_.Outer && feature.HasOuter)
            AddRing(parts[0], false, projection_, withZ, shape_, counts_);
        const size_t holes = feature.PartCount > 0 ? feature.PartCount - 1 : 0;
        // Holes belong to an outer ring; without outer rings chosen they
        // stand as areas of their own.
        const bool outerKept = !shape_.PartStarts.empty();
        if (!choice_.Inner)
            counts_.HolesLeftOut += int(holes);
        else if (outerKept || !choice_.Outer)
            for (size_t i = 1; i < feature.PartCount; ++i)
                AddRing(parts[i], choice_.Outer, projection_, withZ, shape_, counts_);
        else
            counts_.OrphanHoles += int(holes);
        return;
    }
    for (size_t i = 0; i < feature.PartCount; ++i) {
        const size_t start = shape_.Points.size();
        ProjectRun(parts[i], projection_, withZ, shape_, counts_);
        if (class_ == TFeatureClass::Point)
            break;
        if (shape_.Points.size() - start < 2) { // a part of a path needs two points
            shape_.Points.resize(start);
            shape_.Z.resize(std::min(shape_.Z.size(), start));
            continue;
        }
        shape_.PartStarts.push_back(int32_t(start));
    }
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
    BuildShape(feature);
    shapes_.AddShape(shape_);
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
    for (const char* ext : kSetExtensions)
        std::remove((path_ + ext + kPartSuffix).c_str());
    std::remove((path_ + kRowsExtension + kPartSuffix).c_str());
    parts_.clear();
}

} // namespace quarvex
