// The export of quarvex-convert: each KML or KMZ file becomes complete
// shapefile sets (B_points, B_paths, B_polygons: .shp, .shx, .dbf, .cpg and
// .prj) in a destination folder, ready for GIS programs as they are.
#pragma once

#include "geometry/UXYCoo.h"
#include "kml/kmz/UUnZip.h"
#include "platform/UProjection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvex {

struct TExportOptions {
    std::string Folder;   // where the sets go
    bool Points = true;   // the classes, as the batch dialog's defaults
    bool Paths = true;
    bool Outer = true;
    bool Inner = false;
    TUtmZone Zone;        // Zone 0: WGS 84 longitude and latitude
    bool KeepElevations = false;
    bool Descriptions = false;
    bool Prj = true;
    uint64_t MaxDocumentSize = kDefaultMaxEntrySize; // of a document taken out of a KMZ
};

// Reads "points,paths,outer,inner" (any of them, at least one); false with
// the reason in error for anything else.
bool ParseEntities(const std::string& list, TExportOptions& options, std::string& error);

class TShapeExport {
public:
    // log receives the job's lines; workFolder (ending in "/") takes the
    // document extracted from a KMZ.
    TShapeExport(const TExportOptions& options, const std::string& workFolder,
                 std::function<void(const std::string&)> log);

    // Converts one file into its sets. The sets of that name are replaced
    // only once every new file is complete; on any error nothing of the new
    // sets is left and the old ones stay as they were. Raises EQuarvexError
    // (the message names what failed) when the file cannot be exported.
    void ExportFile(const std::string& input);

private:
    struct TPlannedSet;
    // Writes one class's set under temporary names; false when the document
    // holds no element of the class.
    // Writes the set under temporary names and lists them in set.parts; none
    // when the document has no geometry of its class.
    void WriteSet(class TDomDocument& doc, TPlannedSet& set);
    // Renames the sets' temporary files into place; raises before touching
    // any file when one of the targets cannot be replaced.
    void PutSetsInPlace(const std::vector<TPlannedSet>& sets);
    void LogCounts(const std::vector<TPlannedSet>& sets);

    TExportOptions options_;
    std::string workFolder_;
    std::function<void(const std::string&)> log_;
    TExportProjection projection_;
};

// The input's file name without its last extension: the B of B_points.
std::string ExportBaseName(const std::string& input);

// Orientation of a ring in the plane: twice its signed area, positive
// when it runs counter-clockwise (y up).
double RingArea2(const std::vector<TCXY>& ring);

} // namespace quarvex
