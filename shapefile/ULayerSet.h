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
    // Writes one entry with zid and text, "&" and "<" escaped. A layer that
    // gets entries keeps one per shape, also after a fault (FinishAfterError).
    void AddDescription(int32_t zid, const std::string& text);
    void CloseDescriptions();
    // Appends the writer's running box to Corners as two points, unless the
    // writer holds no record with vertices.
    void AddExtent(const TFileSHPW& writer);
    // Finishes and closes every writer and writes the descriptions tails.
    // When a step fails, FinishAfterError runs before the error is raised.
    void Finish();
    // Ends a job that stopped on an error, the attribute table closed: each
    // enabled layer is cut back to the whole records that its shape file and
    // its table both hold on disk, its header and descriptions tail written
    // for them, and its Count set to their number. A layer that cannot be
    // made so (no header on disk, no table, a failed repair) is removed:
    // its three files are deleted. Does nothing after a Finish that
    // succeeded. Raises nothing.
    void FinishAfterError();
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
    int32_t SettleLayer(int kind, TFileSHPW& writer);
    void RemoveLayerFiles(int kind);

    TBufferedFile DescrFile;
    std::array<bool, 5> descrStarted_{}; // by kind: the head lines were written
    std::array<bool, 5> active_{};       // by kind: prepared and not yet finished
    std::array<bool, 5> described_{};    // by kind: the passes hand in an entry per shape
    int descrKind_ = 0;                  // the kind whose descriptions file is open
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
// Cuts a descriptions file back to its head lines and its whole entries
// with the zids 1, 2, 3 ... up to at most maxZid, ends it with its tail line
// and returns the number of entries kept. Raises when the head is
// incomplete or a step fails.
int32_t SettleDescriptions(const std::string& path, int32_t maxZid);
// Deletes the file when it exists; raises EQuarvexError naming the path when
// a folder stands there, and the I/O error when the file cannot be deleted.
void DeleteIfExists(const std::string& path);

} // namespace quarvex
