// The export of quarvex-convert: each KML or KMZ file, with the documents
// its network links name, becomes complete shapefile sets (B_points,
// B_paths, B_polygons: .shp, .shx, .dbf, .cpg and .prj), or one GeoPackage
// B.gpkg, in a destination folder, ready for GIS programs as they are. The
// documents are read once, as streams; the work folder is not used.
#pragma once

#include "kml/kmz/UUnZip.h"
#include "platform/UHttp.h"
#include "platform/UProjection.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quarvex {

class TGeoPackageExport;

enum class TExportFormat { Shapefile, GeoPackage };

struct TExportOptions {
    TExportFormat Format = TExportFormat::Shapefile;
    std::string Folder;   // where the sets go
    bool Points = true;   // the classes
    bool Paths = true;
    bool Outer = true;
    bool Inner = true;
    TUtmZone Zone;        // Zone 0: WGS 84 longitude and latitude
    bool KeepElevations = false;
    bool Descriptions = false;
    bool Prj = true;
    bool FetchLinks = false; // network links to http(s) addresses are fetched
    uint64_t MaxDocumentSize = kDefaultMaxEntrySize; // of a document taken out of a KMZ
    THttpLimits Limits;   // of each fetch
};

// Reads "points,paths,outer,inner" (any of them, at least one); false with
// the reason in error for anything else.
bool ParseEntities(const std::string& list, TExportOptions& options, std::string& error);

// The most documents one input reads: itself and those its links name.
constexpr size_t kMaxLinkedDocuments = 256;

class TShapeExport {
public:
    // log receives the export's lines.
    TShapeExport(const TExportOptions& options, std::function<void(const std::string&)> log);
    ~TShapeExport();
    TShapeExport(const TShapeExport&) = delete;
    TShapeExport& operator=(const TShapeExport&) = delete;

    // Where the bytes read of the input's document go: done and size (0
    // when the size is not known).
    void SetProgress(std::function<void(uint64_t done, uint64_t size)> progress) { progress_ = std::move(progress); }

    // Converts one file into its sets. The sets of that name are replaced
    // only once every new file is complete; on any error (a document found
    // not well-formed partway included) nothing of the new sets is left and
    // the old ones stay as they were. Raises EQuarvexError (the message
    // names what failed) when the file cannot be exported.
    void ExportFile(const std::string& input);

private:
    struct TRun;
    void ReadDocuments(TRun& run);
    void PutSetsInPlace(TRun& run);
    void LogCounts(TRun& run);
    // Waits, when needed, until this process alone exports into the folder.
    void LockFolder();
    void RemoveStaleReplies(const std::string& prefix);

    TExportOptions options_;
    std::function<void(const std::string&)> log_;
    std::function<void(uint64_t, uint64_t)> progress_;
    TExportProjection projection_;
    int folderLock_ = -1;
    long fetchSpentMs_ = 0; // all fetches of this run together are bounded
};

// The input's file name without its last extension: the B of B_points.
std::string ExportBaseName(const std::string& input);

} // namespace quarvex
