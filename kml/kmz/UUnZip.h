// TUnZip reads ZIP archives from their local file headers, from the start
// of the file on: it lists the entries and extracts those matching its
// masks, or one entry by its place (stored, deflated, shrunk, reduced,
// imploded), checking CRC-32. Streamed entries (sizes in a data descriptor
// after the data) and ZIP64 sizes are read; encrypted entries are refused.
#pragma once

#include "kml/kmz/ULegacyDecoders.h"
#include "kml/kmz/UZipHeaders.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quarvex {

// No entry is written beyond this many bytes unless MaxEntrySize says
// otherwise: 2 GiB, more KML than any real KMZ holds.
constexpr uint64_t kDefaultMaxEntrySize = uint64_t(2) << 30;

class TUnZip;
using TZipProgress = std::function<void(TUnZip& sender, int16_t progress)>;
using TZipError = std::function<void(TUnZip& sender, const std::string& errorMsg)>;

// Where messages go while no OnError is assigned. The command-line program
// writes "Warning: " + message to standard error, control characters
// (a NUL byte among them) written as \xNN; the desktop program shows a
// warning box.
extern std::function<void(const std::string& message)> ZipWarningHandler;

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
    // TABs, and fills Listed. Raises the I/O error when the archive cannot be
    // opened or read.
    void ListArchive(const std::string& archivePath, std::vector<std::string>& lines);
    // Extracts the entries of ArcName that match Files into ExtrPath. False
    // when an error stopped the work (a failed read, a failed inflation).
    bool Extract();
    // Extracts only the entry whose local header starts at offset (as Listed
    // gives it), once, whatever its name and the masks; otherwise as Extract.
    bool ExtractEntryAt(uint64_t offset);
    // Decodes the entry of archivePath whose local header starts at offset
    // and hands its bytes to sink as they come; no file is written. Raises
    // EQuarvexError naming the entry when it cannot be decoded whole: it is
    // encrypted, of an unknown method, larger than MaxEntrySize or damaged.
    // A CRC that differs is reported as Extract reports it. An exception
    // raised by sink passes on unchanged.
    void StreamEntryAt(const std::string& archivePath, uint64_t offset, const TOutputWindow::TSink& sink);
    // Sends a message to OnError, or to the warning handler. Within one
    // Extract a message is sent once: damaged data could repeat it without end.
    void Report(const std::string& message);

    std::string ArcName;
    std::vector<std::string> Files; // masks; empty means "*.*"
    bool Overwrite = false;
    // An entry that states more bytes is not extracted; one that decodes to
    // more without stating its size is stopped there and its file removed.
    uint64_t MaxEntrySize = kDefaultMaxEntrySize;
    TZipProgress OnProgress;
    TZipError OnError;
    // The entries the last Extract matched, in archive order.
    std::vector<TExtractedEntry> Extracted;
    // The entries the last ListArchive listed, one per line, with the offset
    // of each local header; a streamed entry with its descriptor's CRC and sizes.
    std::vector<TZipEntryHeader> Listed;

private:
    enum class TWalk { Listing, Extracting, ExactlyHere };

    template <class F>
    bool Run(F&& work);
    void ExtractMatching(TArchiveReader& archive);
    bool ReadLocalHeader(TArchiveReader& archive, TZipEntryHeader& h, TWalk walk);
    bool TakeSizesFromDirectory(TArchiveReader& archive, TZipEntryHeader& h);
    bool PassOver(TArchiveReader& archive, TZipEntryHeader& h);
    void ReadDescriptorAfter(TArchiveReader& archive, TZipEntryHeader& h, uint64_t compressed, uint64_t written);
    // On past the rest of an entry whose sizes are known, and its descriptor.
    void SkipPastData(TEntryInput& input, TArchiveReader& archive, TZipEntryHeader& h);
    bool ExtractEntry(TArchiveReader& archive, TZipEntryHeader& h);
    bool Decode(TEntryInput& input, TOutputWindow& output, const TZipEntryHeader& h, TDecodeResult& decoded,
                struct TInflateResult& inflated);
    void WriteOut(int fd, const std::string& target, const uint8_t* data, size_t size, int& writeError);
    void CheckCrc(TExtractedEntry& result, uint32_t stored, uint32_t computed);
    bool StampAndClose(int fd, const TZipEntryHeader& h);
    bool MayWrite(const TZipEntryHeader& h, const std::string& target);
    bool MatchesMasks(const std::string& name) const;

    std::string extrPath_;
    bool extracting_ = false;
    std::set<std::string> reported_; // the messages of the running Extract
    TCentralDirectory directory_;    // read when a streamed entry needs it
    bool directoryRead_ = false;
};

// True when an entry name cannot leave the folder it is extracted into: not
// absolute, no drive letter, no backslash, no NUL byte, no ".." component.
bool IsSafeEntryName(const std::string& name);

// Mask matching of entry names: folder parts equal, base names and
// extensions (up to three characters) alike with "*" and "?" wildcards.
bool MatchesMask(const std::string& mask, const std::string& name);

// The listing line of one entry.
std::string ListingLine(const TZipEntryHeader& header);

// message with every control character (below 0x20, and 0x7F) written as
// \xNN, so that the whole of it reaches a terminal and none acts on it.
std::string PrintableMessage(const std::string& message);

} // namespace quarvex
