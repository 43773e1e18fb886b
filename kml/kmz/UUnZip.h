// TUnZip reads ZIP archives from their local file headers, from the start
// of the file on: it lists the entries and extracts those matching its
// masks (stored, deflated, shrunk, reduced, imploded), checking CRC-32.
#pragma once

#include "kml/kmz/ULegacyDecoders.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quarvex {

class TUnZip;
using TZipProgress = std::function<void(TUnZip& sender, int16_t progress)>;
using TZipError = std::function<void(TUnZip& sender, const std::string& errorMsg)>;

// Where messages go while no OnError is assigned. The command-line program
// writes "Warning: " + message to standard error; the desktop program shows
// a warning box.
extern std::function<void(const std::string& message)> ZipWarningHandler;

// The fixed part of a local file header.
struct TZipEntryHeader {
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;
    std::string Name; // at most its first 255 bytes
};

// What became of one entry that matched the masks.
struct TExtractedEntry {
    std::string Name;
    std::string Target;
    bool Written = false; // the target holds the decoded entry (CRC aside)
    bool CrcMatches = false;
};

class TUnZip {
public:
    // The folder to extract into; a "/" is added when missing.
    void SetExtrPath(const std::string& path);
    const std::string& ExtrPath() const { return extrPath_; }

    // Appends one line per entry: name, sizes, ratio, date and time joined by
    // TABs. Raises the I/O error when the archive cannot be opened or read.
    void ListArchive(const std::string& archivePath, std::vector<std::string>& lines);
    // Extracts the entries of ArcName that match Files into ExtrPath. False
    // when an error stopped the work (a failed read, a failed inflation).
    bool Extract();
    // Sends a message to OnError, or to the warning handler. Within one
    // Extract a message is sent once: damaged data could repeat it without end.
    void Report(const std::string& message);

    std::string ArcName;
    std::vector<std::string> Files; // masks; empty means "*.*"
    bool Overwrite = false;
    TZipProgress OnProgress;
    TZipError OnError;
    // The entries the last Extract matched, in archive order.
    std::vector<TExtractedEntry> Extracted;

private:
    void ExtractEntry(class TArchiveReader& archive, const TZipEntryHeader& header);
    bool MatchesMasks(const std::string& name) const;

    std::string extrPath_;
    bool extracting_ = false;
    std::set<std::string> reported_; // the messages of the running Extract
};

// True when an entry name cannot leave the folder it is extracted into: not
// absolute, no drive letter, no backslash, no NUL byte, no ".." component.
bool IsSafeEntryName(const std::string& name);

// Mask matching of entry names: folder parts equal, base names and
// extensions (up to three characters) alike with "*" and "?" wildcards.
bool MatchesMask(const std::string& mask, const std::string& name);

// The listing line of one entry.
std::string ListingLine(const TZipEntryHeader& header);

} // namespace quarvex
