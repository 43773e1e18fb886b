// The layer set of one conversion job: the options, the four layer records,
// one shapefile writer per enabled layer, and the descriptions files.
#pragma once

#include "geometry/UXYCoo.h"
#include "platform/UBufferedFile.h"
#include "shapefile/UShpWriter.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace quarvex {

// Layer kinds.
constexpr int kPointsKind = 1;
constexpr int kPathsKind = 2;
constexpr int kOuterPolygonsKind = 3;
constexpr int kInnerPolygonsKind = 4;

struct TKMLMeta {
    std::string Name; // full path of the layer's shape file
    int32_t Count = 0; // entities written to the layer so far
};

extern TKMLMeta PointLayer;
extern TKMLMeta PathLayer;
extern TKMLMeta OuterPolygonLayer;
extern TKMLMeta InnerPolygonLayer;

// The layer record of kind 1..4.
TKMLMeta& LayerOf(int kind);

class TMyInfoParser {
public:
    TMyInfoParser();
    TMyInfoParser(const TMyInfoParser&) = delete;
    TMyInfoParser& operator=(const TMyInfoParser&) = delete;

    // Switches every class, the links and the descriptions on.
    void SetDefaults();
    bool IsEnabled(int kind) const;
    // Resets the four layer records to workFolder, opens and starts the
    // writers of the enabled kinds and writes the descriptions heads. Raises
    // the I/O error at the first file that cannot be created.
    void Prepare(const std::string& workFolder);
    // Opens the kind's descriptions file for appending (when descriptions are on).
    void OpenDescriptions(int kind);
    // Writes line and CR LF to the open descriptions file.
    void WriteDescrLine(const std::string& line);
    // Writes one entry with zid and text, "&" and "<" escaped.
    void AddDescription(int32_t zid, const std::string& text);
    void CloseDescriptions();
    // Appends the writer's running box to Corners as two points.
    void AddExtent(const TFileSHPW& writer);
    // Finishes and closes every writer and writes the descriptions tails.
    // Every step is tried even when an earlier one fails, so that it also
    // serves a job that stops on an error; the first error is then raised.
    void Finish();
    // The writer of an enabled kind between Prepare and Finish, else null.
    TFileSHPW* WriterOf(int kind);

    std::string DocPath;
    bool DoPoints = false;
    bool DoPaths = false;
    bool DoInnerPolygons = false;
    bool DoOuterPolygons = false;
    bool DoLinks = false;
    bool DoDescriptions = false;
    bool DoExtent = true;

    std::unique_ptr<TFileSHPW> PointWriter;
    std::unique_ptr<TFileSHPW> PathWriter;
    std::unique_ptr<TFileSHPW> InnerPolygonWriter;
    std::unique_ptr<TFileSHPW> OuterPolygonWriter;
    TListaXY Corners;

private:
    std::unique_ptr<TFileSHPW>& WriterField(int kind);

    TBufferedFile DescrFile;
    std::array<bool, 5> descrStarted_{}; // by kind: the head lines were written
    std::string line_;                   // reused entry line
};

// The layer set of the running job; null outside a job.
extern TMyInfoParser* CurrentLayerSet;

// folder + "kml_tmp" + kind + ".$m".
std::string LayerFileName(int kind, const std::string& folder);
// The kind's layer file name with the extension ".xml".
std::string DescrFileName(int kind);
// The local time as "h:m:s:ms" in plain decimal, 09:05:03.045 as "9:5:3:45".
std::string ClockText();
std::string FormatClockText(const std::tm& time, int milliseconds);
// Deletes the file when it exists; raises EQuarvexError naming the path when
// a folder stands there, and the I/O error when the file cannot be deleted.
void DeleteIfExists(const std::string& path);

} // namespace quarvex
