#include "kml/kmz/UZipHeaders.h"

#include "platform/UByteOrder.h"

#include <algorithm>

namespace quarvex {

namespace {

constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kSizeInZip64 = 0xFFFFFFFFu;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralFixedSize = 46;
constexpr size_t kMaxComment = 65535;

bool IsHeaderSignature(uint32_t v)
{
    return v == kLocalHeaderSignature || v == kCentralHeaderSignature || v == kEndOfDirectorySignature;
}

// The data of the first extra-field block with this id, or null.
const uint8_t* FindExtraBlock(const uint8_t* extra, size_t length, uint16_t id, size_t& blockLength)
{
    size_t at = 0;
    while (at + 4 <= length) {
        const uint16_t blockId = GetLE16(extra + at);
        const size_t size = GetLE16(extra + at + 2);
        if (at + 4 + size > length)
            return nullptr; // a block that claims more than the field holds
        if (blockId == id) {
            blockLength = size;
            return extra + at + 4;
        }
        at += 4 + size;
    }
    return nullptr;
}

// Replaces the marked values of a central record by the ZIP64 block's, in
// the order uncompressed size, compressed size, local header offset.
void ApplyCentralZip64(const uint8_t* extra, size_t length, uint64_t* fields[3], const bool marked[3])
{
    size_t blockLength = 0;
    const uint8_t* block = FindExtraBlock(extra, length, kZip64ExtraId, blockLength);
    if (!block)
        return;
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (!marked[i])
            continue;
        if (at + 8 > blockLength)
            return;
        *fields[i] = GetLE64(block + at);
        at += 8;
    }
}

// Takes the sizes of a ZIP64 extended information field (id 1) found in the
// extra field for those the header holds as 0xFFFFFFFF. A local header holds
// both sizes (16 bytes, uncompressed first); a shorter field holds the
// marked sizes in that order.
void ApplyZip64Extra(TZipEntryHeader& h, const uint8_t* extra, size_t length)
{
    const bool uncompressedMarked = h.UncompressedSize == kSizeInZip64;
    const bool compressedMarked = h.CompressedSize == kSizeInZip64;
    if (!uncompressedMarked && !compressedMarked)
        return;
    size_t blockLength = 0;
    const uint8_t* block = FindExtraBlock(extra, length, kZip64ExtraId, blockLength);
    if (!block)
        return;
    if (blockLength >= 16) {
        if (uncompressedMarked)
            h.UncompressedSize = GetLE64(block);
        if (compressedMarked)
            h.CompressedSize = GetLE64(block + 8);
    } else if (blockLength >= 8) {
        if (uncompressedMarked)
            h.UncompressedSize = GetLE64(block);
        else
            h.CompressedSize = GetLE64(block);
    } else {
        return;
    }
    h.Zip64 = true;
}

} // namespace

TZipEntryHeader ParseFixedHeader(const uint8_t* p)
{
    TZipEntryHeader h;
    h.Flags = GetLE16(p + 6);
    h.Method = GetLE16(p + 8);
    h.DosTime = GetLE16(p + 10);
    h.DosDate = GetLE16(p + 12);
    h.Crc = GetLE32(p + 14);
    h.CompressedSize = GetLE32(p + 18);
    h.UncompressedSize = GetLE32(p + 22);
    h.NameLength = GetLE16(p + 26);
    h.ExtraLength = GetLE16(p + 28);
    return h;
}

bool ReadNameAndExtra(TArchiveReader& archive, TZipEntryHeader& h)
{
    std::string name(h.NameLength, '\0');
    if (archive.Read(reinterpret_cast<uint8_t*>(name.data()), name.size()) != name.size())
        return false;
    name.resize(std::min<size_t>(name.size(), kMaxNameLength));
    h.Name = std::move(name);
    std::vector<uint8_t> extra(h.ExtraLength);
    if (archive.Read(extra.data(), extra.size()) != extra.size())
        return false;
    ApplyZip64Extra(h, extra.data(), extra.size());
    return true;
}

bool ReadDataDescriptor(TArchiveReader& archive, bool zip64, uint64_t compressed, uint64_t uncompressed,
                        TDataDescriptor& out)
{
    const uint64_t start = archive.Position();
    uint8_t b[24];
    const size_t n = archive.Read(b, sizeof b);
    // The length of one form of the descriptor, or 0 when the bytes are not it.
    auto form = [&](bool signed_, int width, TDataDescriptor& d) -> size_t {
        const size_t at = signed_ ? 4 : 0;
        const size_t length = at + 4 + 2 * size_t(width);
        if (n < length || (signed_ && GetLE32(b) != kDescriptorSignature))
            return 0;
        d.Crc = GetLE32(b + at);
        d.CompressedSize = width == 8 ? GetLE64(b + at + 4) : GetLE32(b + at + 4);
        d.UncompressedSize = width == 8 ? GetLE64(b + at + 12) : GetLE32(b + at + 8);
        return length;
    };
    auto matches = [&](const TDataDescriptor& d, int width) {
        const uint64_t mask = width == 8 ? UINT64_MAX : 0xFFFFFFFFu;
        return d.CompressedSize == (compressed & mask) && d.UncompressedSize == (uncompressed & mask);
    };
    auto take = [&](const TDataDescriptor& d, size_t length) {
        out = d;
        archive.Seek(start + length);
        return true;
    };
    const int widths[2] = {zip64 ? 8 : 4, zip64 ? 4 : 8};
    TDataDescriptor d;
    for (bool signed_ : {true, false})
        for (int width : widths)
            if (size_t length = form(signed_, width, d); length != 0 && matches(d, width))
                return take(d, length);
    if (n >= 4 && IsHeaderSignature(GetLE32(b))) {
        archive.Seek(start);
        return false;
    }
    for (bool signed_ : {true, false})
        if (size_t length = form(signed_, widths[0], d); length != 0)
            return take(d, length);
    archive.Seek(start);
    return false;
}

void TCentralDirectory::Load(int fd)
{
    records_.clear();
    TArchiveReader archive(fd);
    uint64_t start = 0, size = 0;
    int64_t shift = 0;
    if (LocateDirectory(archive, start, size, shift))
        ReadRecords(archive, start, size, shift);
}

bool TCentralDirectory::LocateDirectory(TArchiveReader& archive, uint64_t& start, uint64_t& size, int64_t& shift)
{
    const uint64_t fileSize = archive.FileSize();
    const size_t tail = size_t(std::min<uint64_t>(fileSize, kEndRecordSize + kMaxComment));
    if (tail < kEndRecordSize)
        return false;
    std::vector<uint8_t> buffer(tail);
    archive.Seek(fileSize - tail);
    if (archive.Read(buffer.data(), tail) != tail)
        return false;
    // The last end record whose comment fits in what follows it.
    bool found = false;
    size_t at = tail - kEndRecordSize + 1;
    while (!found && at > 0) {
        --at;
        found = GetLE32(&buffer[at]) == kEndOfDirectorySignature &&
                at + kEndRecordSize + GetLE16(&buffer[at + 20]) <= tail;
    }
    if (!found)
        return false;
    const uint64_t endRecord = fileSize - tail + at;
    uint64_t directoryEnd = endRecord;
    size = GetLE32(&buffer[at + 12]);
    uint64_t offset = GetLE32(&buffer[at + 16]);
    if ((size == kSizeInZip64 || offset == kSizeInZip64 || GetLE16(&buffer[at + 10]) == 0xFFFF) &&
        endRecord >= kLocatorSize + kZip64EndSize) {
        uint8_t locator[kLocatorSize];
        archive.Seek(endRecord - kLocatorSize);
        if (archive.Read(locator, sizeof locator) == sizeof locator && GetLE32(locator) == kZip64LocatorSignature) {
            // The ZIP64 end record stands right before its locator, unless
            // it carries extensible data; then its stated offset is tried.
            for (uint64_t candidate : {endRecord - kLocatorSize - kZip64EndSize, GetLE64(locator + 8)}) {
                uint8_t record[kZip64EndSize];
                archive.Seek(candidate);
                if (candidate < endRecord && archive.Read(record, sizeof record) == sizeof record &&
                    GetLE32(record) == kZip64EndSignature) {
                    size = GetLE64(record + 40);
                    offset = GetLE64(record + 48);
                    directoryEnd = candidate;
                    break;
                }
            }
        }
    }
    if (size > directoryEnd)
        return false;
    start = directoryEnd - size;
    // Both values are below 2^63 here (start is inside the file, offset is
    // compared first), so the difference cannot overflow.
    if (offset > (uint64_t(1) << 62))
        return false;
    shift = int64_t(start) - int64_t(offset);
    return true;
}

void TCentralDirectory::ReadRecords(TArchiveReader& archive, uint64_t start, uint64_t size, int64_t shift)
{
    archive.Seek(start);
    uint64_t used = 0;
    std::vector<uint8_t> extra;
    while (used + kCentralFixedSize <= size && records_.size() < kMaxRecords) {
        uint8_t fixed[kCentralFixedSize];
        if (archive.Read(fixed, sizeof fixed) != sizeof fixed || GetLE32(fixed) != kCentralHeaderSignature)
            break;
        const size_t nameLength = GetLE16(fixed + 28);
        const size_t extraLength = GetLE16(fixed + 30);
        const size_t commentLength = GetLE16(fixed + 32);
        extra.resize(extraLength);
        if (!archive.Skip(nameLength) || archive.Read(extra.data(), extraLength) != extraLength ||
            !archive.Skip(commentLength))
            break;
        used += kCentralFixedSize + nameLength + extraLength + commentLength;
        TCentralRecord r;
        r.Crc = GetLE32(fixed + 16);
        r.CompressedSize = GetLE32(fixed + 20);
        r.UncompressedSize = GetLE32(fixed + 24);
        uint64_t offset = GetLE32(fixed + 42);
        uint64_t* fields[3] = {&r.UncompressedSize, &r.CompressedSize, &offset};
        const bool marked[3] = {r.UncompressedSize == kSizeInZip64, r.CompressedSize == kSizeInZip64,
                                offset == kSizeInZip64};
        ApplyCentralZip64(extra.data(), extra.size(), fields, marked);
        if (offset > (uint64_t(1) << 62) || (shift < 0 && offset < uint64_t(-shift)))
            continue; // points before the start of the file
        r.LocalOffset = uint64_t(int64_t(offset) + shift);
        records_.push_back(r);
    }
    std::stable_sort(records_.begin(), records_.end(),
                     [](const TCentralRecord& a, const TCentralRecord& b) { return a.LocalOffset < b.LocalOffset; });
}

const TCentralRecord* TCentralDirectory::Find(uint64_t localOffset) const
{
    auto it = std::lower_bound(records_.begin(), records_.end(), localOffset,
                               [](const TCentralRecord& r, uint64_t offset) { return r.LocalOffset < offset; });
    return it != records_.end() && it->LocalOffset == localOffset ? &*it : nullptr;
}

} // namespace quarvex
