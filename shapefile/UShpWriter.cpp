#include "shapefile/UShpWriter.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {
constexpr size_t kMainHeaderSize = 100;
constexpr size_t kPointRecordSize = 28;
constexpr size_t kPolyRecordHeadSize = 56;

constexpr size_t kDiskWindow = 256 * 1024;

// Reads the file on disk front to back through one window of bytes.
class TDiskReader {
public:
    TDiskReader(const TBufferedFile& file, int64_t size) : file_(file), size_(size) {}

    // The n bytes (n <= kDiskWindow) at pos, or null when the file ends before them.
    const uint8_t* At(int64_t pos, size_t n)
    {
        if (pos < 0 || pos + int64_t(n) > size_)
            return nullptr;
        if (pos < start_ || pos + int64_t(n) > start_ + int64_t(length_)) {
            window_.resize(kDiskWindow);
            start_ = pos;
            length_ = file_.ReadDiskAt(pos, window_.data(), window_.size());
            if (length_ < n)
                return nullptr;
        }
        return window_.data() + (pos - start_);
    }

private:
    const TBufferedFile& file_;
    int64_t size_;
    std::vector<uint8_t> window_;
    int64_t start_ = 0;
    size_t length_ = 0;
};

// Content length in 16-bit words is a signed 32-bit field: at most
// (2^31 - 1 - 24) / 8 vertices fit one record.
constexpr int64_t kMaxVerticesPerRecord = (std::numeric_limits<int32_t>::max() - 24) / 8;
} // namespace

TFileSHPW::~TFileSHPW()
{
    try {
        Close();
    } catch (...) {
    }
}

void TFileSHPW::Open()
{
    file_.Open(FileName, TBufferedFile::TMode::CreateTruncate);
    RecordCount = 0;
    IsOpen = true;
}

void TFileSHPW::WriteMainHeader()
{
    uint8_t block[kMainHeaderSize] = {};
    PutBE32(block + 0, uint32_t(FileCode));
    PutBE32(block + 24, uint32_t(FileLength));
    PutLE32(block + 28, uint32_t(Version));
    PutLE32(block + 32, uint32_t(ShapeType));
    const double box[8] = {Xmin, Ymin, Xmax, Ymax, Zmin, Zmax, Mmin, Mmax};
    for (int i = 0; i < 8; ++i)
        PutLEDouble(block + 36 + 8 * i, box[i]);
    file_.Seek(0);
    file_.Write(block, sizeof block);
}

void TFileSHPW::Start(uint8_t shapeType)
{
    RecordCount = 0;
    hasVertexBox_ = false;
    FileCode = 9994;
    Version = 1000;
    ShapeType = shapeType;
    try {
        // The header goes to disk at once: a started layer is a valid, empty
        // shape file even when nothing after it can be written.
        WriteMainHeader();
        file_.Flush();
    } catch (...) {
        RemoveUnstartedFile();
        throw;
    }
}

void TFileSHPW::RemoveUnstartedFile()
{
    IsOpen = false;
    try {
        file_.Close();
    } catch (...) {
    }
    struct stat st;
    if (::lstat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::unlink(FileName.c_str());
}

void TFileSHPW::Widen(double x, double y)
{
    if (x < Xmin)
        Xmin = x;
    if (x > Xmax)
        Xmax = x;
    if (y < Ymin)
        Ymin = y;
    if (y > Ymax)
        Ymax = y;
}

void TFileSHPW::AddPoint(double X, double Y)
{
    RecordCount = RecordCount + 1;
    RecNumber = RecordCount;
    RecContentLength = 10;
    RecShapeType = ShapeType;

    uint8_t block[kPointRecordSize];
    PutBE32(block + 0, uint32_t(RecNumber));
    PutBE32(block + 4, uint32_t(RecContentLength));
    PutLE32(block + 8, uint32_t(RecShapeType));
    PutLEDouble(block + 12, X);
    PutLEDouble(block + 20, Y);
    file_.Write(block, sizeof block);

    WidenByRecord(TExtent{X, Y, X, Y}, true);
}

void TFileSHPW::WidenByRecord(const TExtent& box, bool hasVertices)
{
    // A record without vertices carries the box of an empty list; it gives
    // the layer its box only while no record with vertices exists.
    if (hasVertices && !hasVertexBox_) {
        hasVertexBox_ = true;
        Xmin = box.Xmin;
        Ymin = box.Ymin;
        Xmax = box.Xmax;
        Ymax = box.Ymax;
    } else if (hasVertices) {
        Widen(box.Xmin, box.Ymin);
        Widen(box.Xmax, box.Ymax);
    } else if (RecordCount == 1) {
        Xmin = box.Xmin;
        Ymin = box.Ymin;
        Xmax = box.Xmax;
        Ymax = box.Ymax;
    }
}

void TFileSHPW::AddPolyLine(const TListaXY& vertices)
{
    const int n = vertices.Count();
    if (n > kMaxVerticesPerRecord)
        throw EQuarvexError("A shape of " + std::to_string(n) + " vertices does not fit one shapefile record");
    RecordCount = RecordCount + 1;
    RecNumber = RecordCount;
    RecContentLength = 24 + 8 * n;
    RecShapeType = ShapeType;
    vertices.GetExtent(RecBox);

    // Head and vertices go out as one block.
    record_.resize(kPolyRecordHeadSize + 16 * size_t(n));
    uint8_t* block = record_.data();
    PutBE32(block + 0, uint32_t(RecNumber));
    PutBE32(block + 4, uint32_t(RecContentLength));
    PutLE32(block + 8, uint32_t(RecShapeType));
    PutLEDouble(block + 12, RecBox.Xmin);
    PutLEDouble(block + 20, RecBox.Ymin);
    PutLEDouble(block + 28, RecBox.Xmax);
    PutLEDouble(block + 36, RecBox.Ymax);
    PutLE32(block + 44, 1);
    PutLE32(block + 48, uint32_t(n));
    PutLE32(block + 52, 0);
    uint8_t* out = block + kPolyRecordHeadSize;
    for (size_t i = 0; i < size_t(n); ++i, out += 16) {
        const TCXY& p = vertices.At(i);
        PutLEDouble(out, p.X);
        PutLEDouble(out + 8, p.Y);
    }
    file_.Write(record_.data(), record_.size());

    WidenByRecord(RecBox, n > 0);
}

void TFileSHPW::Finish()
{
    // Every record reaches the disk before the header counts it.
    file_.Flush();
    const int64_t size = file_.Position();
    // The length field counts 16-bit words in a signed 32-bit integer.
    if (size / 2 > std::numeric_limits<int32_t>::max())
        RaiseIoError(EFBIG);
    FileLength = int32_t(size / 2);
    WriteMainHeader();
    file_.Flush();
}

int32_t TFileSHPW::SettleOnDisk(int32_t maxRecords)
{
    if (!IsOpen) { // finished and closed before the fault elsewhere
        file_.Open(FileName, TBufferedFile::TMode::OpenExisting);
        IsOpen = true;
    }
    try {
        file_.Flush(); // whatever still fits goes to disk
    } catch (const EQuarvexError&) {
    }
    file_.DropBufferAndSeek(0);
    const int64_t size = file_.DiskSize();
    if (size < int64_t(kMainHeaderSize))
        throw EQuarvexError("The header of \"" + FileName + "\" is not on disk");
    TDiskReader disk(file_, size);
    RecordCount = 0;
    hasVertexBox_ = false;
    Xmin = Ymin = Xmax = Ymax = 0.0;
    int64_t end = kMainHeaderSize;
    const bool isPoint = ShapeType == 1;
    while (RecordCount < maxRecords) {
        // Each step of the ladder must hold, or the record is not whole.
        const uint8_t* head = disk.At(end, isPoint ? kPointRecordSize : kPolyRecordHeadSize);
        if (!head || int32_t(GetBE32(head)) != RecordCount + 1 || int32_t(GetLE32(head + 8)) != ShapeType)
            break;
        // words <= 2^32 - 1, so the end below stays far inside int64_t.
        const int64_t recordEnd = end + 8 + 2 * int64_t(GetBE32(head + 4));
        if (recordEnd > size)
            break;
        TExtent box;
        bool hasVertices = true;
        if (isPoint) {
            if (GetBE32(head + 4) != 10)
                break;
            const double x = GetLEDouble(head + 12), y = GetLEDouble(head + 20);
            box = TExtent{x, y, x, y};
        } else {
            const int64_t points = GetLE32(head + 48);
            if (int64_t(GetBE32(head + 4)) != 24 + 8 * points || GetLE32(head + 44) != 1)
                break;
            box = TExtent{GetLEDouble(head + 12), GetLEDouble(head + 20), GetLEDouble(head + 28), GetLEDouble(head + 36)};
            hasVertices = points > 0;
        }
        ++RecordCount;
        WidenByRecord(box, hasVertices);
        end = recordEnd;
    }
    if (end / 2 > std::numeric_limits<int32_t>::max())
        RaiseIoError(EFBIG);
    file_.Truncate(end);
    FileLength = int32_t(end / 2);
    WriteMainHeader();
    file_.Flush();
    file_.Seek(end);
    return RecordCount;
}

void TFileSHPW::Close()
{
    if (!IsOpen)
        return;
    IsOpen = false;
    file_.Close();
}

} // namespace quarvex
