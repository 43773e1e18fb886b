// The records of the ZIP format that the archive reader reads besides the
// entry data: the local file header with its ZIP64 sizes, the data
// descriptor that follows the data of a streamed entry, and the central
// directory, which gives the sizes that a streamed entry leaves out of its
// local header.
#pragma once

#include "kml/kmz/UZipStreams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr uint32_t kEndOfDirectorySignature = 0x06054B50;
constexpr size_t kFixedHeaderSize = 30;
constexpr size_t kMaxNameLength = 255;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kMethodDeflated = 8;

// One entry as its local header gives it.
struct TZipEntryHeader {
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Crc = 0;
    // 0xFFFFFFFF in the header is replaced by the ZIP64 extra field's value.
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;
    std::string Name; // at most its first 255 bytes
    uint64_t Offset = 0; // of the local header in the archive
    bool Zip64 = false;  // ZIP64 sizes were read: a data descriptor has 8-byte sizes
    // False for a streamed entry that is not deflated and whose sizes neither
    // its header nor the central directory gives: nothing can pass over it.
    bool SizesKnown = true;
    // A streamed entry whose CRC and sizes the central directory gave.
    bool SizesFromDirectory = false;
};

// The fixed part (30 bytes from the signature on); Name and Offset stay empty.
TZipEntryHeader ParseFixedHeader(const uint8_t* p);

// Reads the name (its first 255 bytes kept) and the extra field, whose ZIP64
// sizes replace those the header leaves at 0xFFFFFFFF; false when the file
// ends inside them.
bool ReadNameAndExtra(TArchiveReader& archive, TZipEntryHeader& h);

inline bool IsEncrypted(const TZipEntryHeader& h)
{
    return (h.Flags & (kFlagEncrypted | kFlagStrongEncryption)) != 0;
}
inline bool HasDataDescriptor(const TZipEntryHeader& h)
{
    return (h.Flags & kFlagDataDescriptor) != 0;
}
// A streamed deflated entry: its data ends where its deflate stream ends, and
// the CRC and the sizes follow in a data descriptor.
inline bool EndsWithItsStream(const TZipEntryHeader& h)
{
    return HasDataDescriptor(h) && h.Method == kMethodDeflated && !IsEncrypted(h);
}
// The entry's sizes are known before its data: from its header, or from the
// central directory for a streamed one.
inline bool SizesAreStated(const TZipEntryHeader& h)
{
    return !EndsWithItsStream(h) || h.SizesFromDirectory;
}

struct TDataDescriptor {
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
};

// Reads the data descriptor at the reader's position: with or without its
// signature, with 4-byte sizes or (zip64) 8-byte ones. The form whose sizes
// are compressed and uncompressed wins; failing that, the signed form, then
// the plain one. False, with the reader left where it was, when the file
// ends first or a header signature stands there instead.
bool ReadDataDescriptor(TArchiveReader& archive, bool zip64, uint64_t compressed, uint64_t uncompressed,
                        TDataDescriptor& out);

// What the central directory says of one entry.
struct TCentralRecord {
    uint64_t LocalOffset = 0; // where the local header really is in the file
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
};

// The central directory, found through its end record (and the ZIP64 end
// record when that is used). Data before the archive (a self-extractor
// stub) shifts every offset and is allowed for. At most kMaxRecords records
// are kept, so that memory stays bounded whatever the archive claims.
class TCentralDirectory {
public:
    static constexpr size_t kMaxRecords = 1 << 20;

    // Reads the directory of the archive open in fd; no records when none is
    // found or it is damaged. Raises the I/O error when a read fails.
    void Load(int fd);
    // The record of the entry whose local header is at offset, or null.
    const TCentralRecord* Find(uint64_t localOffset) const;

private:
    bool LocateDirectory(TArchiveReader& archive, uint64_t& start, uint64_t& size, int64_t& shift);
    void ReadRecords(TArchiveReader& archive, uint64_t start, uint64_t size, int64_t shift);

    std::vector<TCentralRecord> records_; // sorted by LocalOffset
};

} // namespace quarvex
