#include "cli/UExport.h"

#include "kml/UExportReader.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UBufferedFile.h"
#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "platform/UKmlDom.h"
#include "shapefile/UDbfWriter.h"
#include "shapefile/UShapeSet.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace quarvex {

namespace {

namespace fs = std::filesystem;

// The files of a set, in the order they are put in place; the .shp goes
// last, so that a reader never finds a main file whose companions are old.
const char* const kSetExtensions[] = {".shx", ".dbf", ".cpg", ".prj", ".shp"};
const char* const kPartSuffix = ".quarvex-part";
constexpr size_t kTextFieldLength = 254;

void WriteTextFile(const std::string& path, const std::string& text)
{
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::CreateTruncate);
    file.Write(text);
    file.Close();
}

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

struct TCounts {
    int features = 0;
    int skipped = 0;        // malformed tuples
    int unprojected = 0;    // tuples the coordinate system cannot take
    int droppedRings = 0;   // fewer than 3 distinct vertices
    int orphanHoles = 0;    // holes whose outer ring was dropped or missing
};

} // namespace

std::string ExportBaseName(const std::string& input)
{
    const std::string name = ExtractFileName(input);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

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

bool ParseEntities(const std::string& list, TExportOptions& options, std::string& error)
{
    TExportOptions chosen = options;
    chosen.Points = chosen.Paths = chosen.Outer = chosen.Inner = false;
    std::stringstream items(list);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        if (item == "points")
            chosen.Points = true;
        else if (item == "paths")
            chosen.Paths = true;
        else if (item == "outer")
            chosen.Outer = true;
        else if (item == "inner")
            chosen.Inner = true;
        else {
            error = "--entities takes points, paths, outer and inner, not \"" + item + "\"";
            return false;
        }
        any = true;
    }
    if (!any) {
        error = "--entities needs at least one of points, paths, outer, inner";
        return false;
    }
    options = chosen;
    return true;
}

struct TShapeExport::TPlannedSet {
    TFeatureClass featureClass;
    std::string label;     // the log line's label
    std::string path;      // folder + base + "_points" etc., without extension
    TCounts counts;
    std::vector<std::string> parts; // the extensions written under temporary names; none: no shapes
};

TShapeExport::TShapeExport(const TExportOptions& options, const std::string& workFolder,
                           std::function<void(const std::string&)> log)
    : options_(options), workFolder_(workFolder), log_(std::move(log)), projection_(options.Zone)
{
}

void TShapeExport::ExportFile(const std::string& input)
{
    std::error_code ec;
    if (fs::is_directory(input, ec))
        throw EQuarvexError("it is a folder, not a KML or KMZ file");
    TUnZip unzip;
    unzip.MaxEntrySize = options_.MaxDocumentSize;
    const std::string kml = ResolveKmlPath(input, workFolder_, unzip);
    if (kml.empty())
        throw EQuarvexError("the archive holds no doc.kml document that could be extracted");
    TDomDocument doc;
    doc.Load(kml);

    const std::string base = IncludeTrailingSlash(options_.Folder) + ExportBaseName(input);
    std::vector<TPlannedSet> sets;
    if (options_.Points)
        sets.push_back({TFeatureClass::Point, "      Points: ", base + "_points", {}, {}});
    if (options_.Paths)
        sets.push_back({TFeatureClass::Path, "      Paths: ", base + "_paths", {}, {}});
    if (options_.Outer || options_.Inner)
        sets.push_back({TFeatureClass::Polygon, "      Polygons: ", base + "_polygons", {}, {}});

    // Parts left by an export that was stopped go first: none of them may
    // pass for this run's, and a link standing there is removed, not followed.
    auto removeParts = [&] {
        std::error_code ignored;
        for (const TPlannedSet& set : sets)
            for (const char* ext : kSetExtensions)
                fs::remove(set.path + ext + kPartSuffix, ignored);
    };
    removeParts();
    log_("File: " + ExtractFileName(input));
    try {
        for (TPlannedSet& set : sets)
            WriteSet(doc, set);
        doc.Release();
        PutSetsInPlace(sets);
    } catch (...) {
        removeParts();
        throw;
    }
    LogCounts(sets);
}

void TShapeExport::PutSetsInPlace(const std::vector<TPlannedSet>& sets)
{
    // Nothing is replaced until every target is known to be a file (or
    // nothing): a folder in the way would leave a set half old, half new.
    std::error_code ec;
    for (const TPlannedSet& set : sets)
        for (const char* ext : kSetExtensions) {
            const std::string target = set.path + ext;
            const fs::file_status status = fs::symlink_status(target, ec);
            if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status))
                throw EQuarvexError("Cannot put " + target + " in place: something that is not a file stands there");
        }
    // Every new file is complete: the sets of this name are replaced. A
    // class that has nothing now, or a file this run does not write (a .prj
    // after --no-prj), leaves nothing of the earlier run behind.
    for (const TPlannedSet& set : sets) {
        for (const char* ext : kSetExtensions) {
            const std::string target = set.path + ext;
            const bool wroteIt = std::find(set.parts.begin(), set.parts.end(), std::string(ext)) != set.parts.end();
            if (wroteIt) {
                fs::rename(target + kPartSuffix, target, ec);
                if (ec)
                    throw EQuarvexError("Cannot put " + target + " in place: " + ec.message());
            } else if (fs::exists(fs::symlink_status(target, ec))) {
                fs::remove(target, ec);
            }
        }
    }
}

void TShapeExport::LogCounts(const std::vector<TPlannedSet>& sets)
{
    TCounts total;
    for (const TPlannedSet& set : sets) {
        log_(set.label + std::to_string(set.counts.features));
        total.skipped += set.counts.skipped;
        total.unprojected += set.counts.unprojected;
        total.droppedRings += set.counts.droppedRings;
        total.orphanHoles += set.counts.orphanHoles;
    }
    if (total.skipped > 0)
        log_("      Skipped coordinates: " + std::to_string(total.skipped));
    if (total.unprojected > 0)
        log_("      Coordinates outside the coordinate system: " + std::to_string(total.unprojected));
    if (total.droppedRings > 0)
        log_("      Rings dropped (fewer than 3 distinct vertices): " + std::to_string(total.droppedRings));
    if (total.orphanHoles > 0)
        log_("      Holes left out with their outer ring: " + std::to_string(total.orphanHoles));
    for (const TPlannedSet& set : sets)
        if (!set.parts.empty())
            log_("  - " + set.path + ".shp");
    log_("End.");
}

namespace {

// The coordinates of a run in the export's system, with their altitudes;
// tuples that cannot be projected are left out and counted.
void ProjectRun(const TCoordRun& run, const TExportProjection& projection, bool withZ, TShape& shape,
                TCounts& counts)
{
    for (size_t i = 0; i < run.Points.size(); ++i) {
        double x = run.Points[i].X, y = run.Points[i].Y;
        if (!projection.Project(x, y)) {
            ++counts.unprojected;
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
             TCounts& counts)
{
    TShape ring;
    ProjectRun(run, projection, withZ, ring, counts);
    if (DistinctPoints(ring.Points) < 3) {
        ++counts.droppedRings;
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

void TShapeExport::WriteSet(TDomDocument& doc, TPlannedSet& set)
{
    static const char* const kTags[] = {"Point", "LineString", "Polygon"};
    if (doc.CountElementsByTagName(kTags[int(set.featureClass)]) == 0)
        return;
    const bool withZ = options_.KeepElevations;
    static const int32_t kTypes[] = {1, 3, 5};
    const int32_t type = kTypes[int(set.featureClass)] + (withZ ? 10 : 0);
    const std::string part = kPartSuffix;

    TShapeSetWriter shapes;
    TDbfWriter table;
    std::vector<TDbfField> fields = {{"ZID", 'N', 9, 0}, {"NAME", 'C', uint8_t(kTextFieldLength), 0}};
    if (options_.Descriptions)
        fields.push_back({"DESCRIPT", 'C', uint8_t(kTextFieldLength), 0});
    try {
        shapes.Open(set.path + ".shp" + part, set.path + ".shx" + part, type);
        table.Open(set.path + ".dbf" + part, fields);
        TShape shape;
        std::vector<std::string> row(fields.size());
        ForEachFeature(doc, set.featureClass, options_.Descriptions, set.counts.skipped,
                       [&](const TExportFeature& feature) {
                           shape.Clear();
                           if (set.featureClass == TFeatureClass::Polygon) {
                               if (options_.Outer && feature.HasOuter)
                                   AddRing(feature.Outer, false, projection_, withZ, shape, set.counts);
                               // Holes belong to an outer ring; without outer rings
                               // chosen they stand as areas of their own.
                               const bool outerKept = !shape.PartStarts.empty();
                               if (options_.Inner && (outerKept || !options_.Outer))
                                   for (const TCoordRun& hole : feature.Holes)
                                       AddRing(hole, options_.Outer, projection_, withZ, shape, set.counts);
                               else if (options_.Inner)
                                   set.counts.orphanHoles += int(feature.Holes.size());
                           } else {
                               ProjectRun(feature.Outer, projection_, withZ, shape, set.counts);
                               if (set.featureClass == TFeatureClass::Path && shape.Points.size() < 2)
                                   shape.Clear(); // a path needs two points
                           }
                           shapes.AddShape(shape);
                           ++set.counts.features;
                           row[0] = std::to_string(set.counts.features);
                           row[1] = feature.Name;
                           if (options_.Descriptions)
                               row[2] = feature.Description;
                           table.AddRecord(row);
                       });
        shapes.Finish();
        table.Close();
        set.parts = {".shp", ".shx", ".dbf"};
        WriteTextFile(set.path + ".cpg" + part, "UTF-8");
        set.parts.push_back(".cpg");
        if (options_.Prj) {
            WriteTextFile(set.path + ".prj" + part, projection_.EsriWkt());
            set.parts.push_back(".prj");
        }
    } catch (const EInOutError& e) {
        shapes.Abandon();
        table.Abandon();
        throw EQuarvexError("Cannot write " + set.path + ".*: " + e.what());
    } catch (...) {
        shapes.Abandon();
        table.Abandon();
        throw;
    }
}

} // namespace quarvex
