#include "shapefile/USHPFile.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {
constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kMainHeaderSize = 100;
constexpr size_t kRecordHeadSize = 12;
constexpr size_t kBoxSize = 32;
constexpr size_t kRangeSize = 16; // the Z or M range ahead of the values, read and dropped
// Points and values are taken in blocks of at most this many.
constexpr int32_t kBlockItems = 500;

[[noreturn]] void RaiseReadBeyondEnd()
{
    throw EInOutError(100);
}

bool HasZSection(int32_t type)
{
    return type == 13 || type == 15 || type == 18 || type == 31;
}

bool HasMSection(int32_t type)
{
    return HasZSection(type) || type == 23 || type == 25 || type == 28;
}

bool IsMultiPoint(int32_t type)
{
    return type == 8 || type == 18 || type == 28;
}

bool IsPartedType(int32_t type)
{
    return type == 3 || type == 5 || type == 13 || type == 15 || type == 23 || type == 25 || type == 31;
}
} // namespace

uint8_t ShapeClass(int32_t shapeType)
{
    switch (shapeType) {
    case 1: case 8: case 11: case 18: case 21: case 28: return 1;
    case 3: case 13: case 23: return 2;
    case 5: case 15: case 25: return 3;
    default: return 0;
    }
}

TFileSHP::TFileSHP() = default;

TFileSHP::~TFileSHP()
{
    Close();
}

bool TFileSHP::Open()
{
    Close();
    int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    fileSize_ = int64_t(st.st_size);
    position_ = 0;
    buffer_.resize(kBufferSize);
    bufferPos_ = bufferEnd_ = 0;
    IsOpen = true;
    return true;
}

void TFileSHP::Close()
{
    if (!IsOpen)
        return;
    ::close(fd_);
    fd_ = -1;
    IsOpen = false;
}

bool TFileSHP::Eof() const
{
    return position_ >= fileSize_;
}

void TFileSHP::Require(int64_t n) const
{
    if (n < 0 || n > fileSize_ - position_)
        RaiseReadBeyondEnd();
}

const uint8_t* TFileSHP::Take(size_t n)
{
    if (fd_ < 0)
        RaiseIoError(EBADF);
    if (bufferEnd_ - bufferPos_ < n) {
        std::memmove(buffer_.data(), buffer_.data() + bufferPos_, bufferEnd_ - bufferPos_);
        bufferEnd_ -= bufferPos_;
        bufferPos_ = 0;
        while (bufferEnd_ < n) {
            ssize_t got = ::read(fd_, buffer_.data() + bufferEnd_, buffer_.size() - bufferEnd_);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                RaiseIoError(errno);
            }
            if (got == 0)
                RaiseReadBeyondEnd();
            bufferEnd_ += size_t(got);
        }
    }
    const uint8_t* bytes = buffer_.data() + bufferPos_;
    bufferPos_ += n;
    position_ += int64_t(n);
    return bytes;
}

bool TFileSHP::ReadHeader()
{
    const size_t available = size_t(std::min<int64_t>(fileSize_ - position_, int64_t(kMainHeaderSize)));
    if (available == 0)
        return false;
    uint8_t head[kMainHeaderSize] = {};
    if (available >= 4) {
        std::memcpy(head, Take(4), 4);
    } else {
        std::memcpy(head, Take(available), available);
        FileCode = int32_t(GetBE32(head));
        return false;
    }
    FileCode = int32_t(GetBE32(head));
    if (FileCode != 9994) {
        Take(available - 4); // the position moves past what was read, as one block read would
        return false;
    }
    // A header cut short would leave the box and the shape type undefined.
    std::memcpy(head + 4, Take(kMainHeaderSize - 4), kMainHeaderSize - 4);
    FileLength = int32_t(GetBE32(head + 24));
    Version = int32_t(GetLE32(head + 28));
    ShapeType = int32_t(GetLE32(head + 32));
    double* const box[8] = {&Xmin, &Ymin, &Xmax, &Ymax, &Zmin, &Zmax, &Mmin, &Mmax};
    for (int i = 0; i < 8; ++i)
        *box[i] = GetLEDouble(head + 36 + 8 * i);
    return true;
}

int32_t TFileSHP::ReadCount()
{
    return int32_t(GetLE32(Take(4)));
}

void TFileSHP::ReadPoints(int32_t count)
{
    Points.Clear();
    for (int32_t left = count; left > 0;) {
        const int32_t block = std::min(left, kBlockItems);
        const uint8_t* p = Take(size_t(block) * 16);
        for (int32_t i = 0; i < block; ++i, p += 16)
            Points.Add(GetLEDouble(p), GetLEDouble(p + 8));
        left -= block;
    }
}

void TFileSHP::ReadValueSection(TListaDouble& values)
{
    Take(kRangeSize);
    values.Clear();
    for (int32_t left = NumPoints; left > 0;) {
        const int32_t block = std::min(left, kBlockItems);
        const uint8_t* p = Take(size_t(block) * 8);
        for (int32_t i = 0; i < block; ++i, p += 8)
            values.Add(GetLEDouble(p));
        left -= block;
    }
}

void TFileSHP::ReadParts()
{
    Parts.Clear();
    for (int32_t left = NumParts; left > 0;) {
        const int32_t block = std::min(left, 2 * kBlockItems);
        const uint8_t* p = Take(size_t(block) * 4);
        for (int32_t i = 0; i < block; ++i, p += 4)
            Parts.Add(int32_t(GetLE32(p)));
        left -= block;
    }
}

void TFileSHP::ReadPartTypes()
{
    for (int32_t left = NumParts; left > 0;) {
        const int32_t block = std::min(left, 2 * kBlockItems);
        Take(size_t(block) * 4);
        left -= block;
    }
}

void TFileSHP::ReadRecord()
{
    const uint8_t* head = Take(kRecordHeadSize);
    RecNumber = int32_t(GetBE32(head));
    RecContentLength = int32_t(GetBE32(head + 4));
    RecShapeType = int32_t(GetLE32(head + 8));
    const int32_t type = RecShapeType;
    if (type == 0)
        return;
    if (type != 1 && type != 11 && type != 21) {
        const uint8_t* box = Take(kBoxSize);
        RecBox = TExtent{GetLEDouble(box), GetLEDouble(box + 8), GetLEDouble(box + 16), GetLEDouble(box + 24)};
    }

    if (type == 1 || type == 11 || type == 21) {
        const size_t size = type == 1 ? 16 : type == 21 ? 24 : 32;
        const uint8_t* p = Take(size);
        Points.Clear();
        Points.Add(GetLEDouble(p), GetLEDouble(p + 8));
        if (type == 11) {
            ZValues.Clear();
            ZValues.Add(GetLEDouble(p + 16));
        }
        if (type != 1) {
            MValues.Clear();
            MValues.Add(GetLEDouble(p + size - 8));
        }
        return;
    }
    if (!IsMultiPoint(type) && !IsPartedType(type))
        return;

    int32_t parts = 0;
    if (IsPartedType(type)) {
        parts = ReadCount();
        NumParts = parts;
    }
    const int32_t points = ReadCount();
    NumPoints = points;
    if (parts < 0 || points < 0)
        RaiseReadBeyondEnd(); // a negative count claims data that no file can hold

    // Everything the counts announce must be in the file before any of it is
    // read or a list grows. In 64 bits: 8 * (2^31 - 1) * 5 cannot overflow.
    const int64_t valueSection = int64_t(kRangeSize) + 8 * int64_t(points);
    int64_t need = 4 * int64_t(parts) * (type == 31 ? 2 : 1) + 16 * int64_t(points);
    if (HasZSection(type))
        need += valueSection;
    if (HasMSection(type))
        need += valueSection;
    Require(need);

    if (IsPartedType(type))
        ReadParts();
    if (type == 31)
        ReadPartTypes();
    ReadPoints(points);
    if (HasZSection(type))
        ReadValueSection(ZValues);
    if (HasMSection(type))
        ReadValueSection(MValues);
}

bool TFileSHP::GetPart(int part, TListaXY& list) const
{
    list.Clear();
    const int partCount = Parts.Count();
    if (part > partCount)
        return false;
    const int start = std::max(Parts.Item(part).Value, 0);
    const int end = part < partCount ? Parts.Item(part + 1).Value : Points.Count();
    if (end <= start)
        return false;
    // The first position past the record's points fails as Item would.
    if (end > Points.Count())
        RaiseListIndexError(std::max(start, Points.Count()) + 1);
    for (int i = start; i < end; ++i) {
        const TCXY& p = Points.At(size_t(i));
        list.Add(p.X, p.Y);
    }
    return list.Count() > 1;
}

} // namespace quarvex
