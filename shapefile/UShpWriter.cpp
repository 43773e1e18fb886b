#include "shapefile/UShpWriter.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <cerrno>
#include <limits>

namespace quarvex {

namespace {
constexpr size_t kMainHeaderSize = 100;
constexpr size_t kPointRecordSize = 28;
constexpr size_t kPolyRecordHeadSize = 56;

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
    FileCode = 9994;
    Version = 1000;
    ShapeType = shapeType;
    WriteMainHeader();
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

    if (RecordCount == 1) {
        Xmin = Xmax = X;
        Ymin = Ymax = Y;
    } else {
        Widen(X, Y);
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

    if (RecordCount == 1) {
        Xmin = RecBox.Xmin;
        Ymin = RecBox.Ymin;
        Xmax = RecBox.Xmax;
        Ymax = RecBox.Ymax;
    } else {
        Widen(RecBox.Xmin, RecBox.Ymin);
        Widen(RecBox.Xmax, RecBox.Ymax);
    }
}

void TFileSHPW::Finish()
{
    const int64_t size = file_.Position();
    // The length field counts 16-bit words in a signed 32-bit integer.
    if (size / 2 > std::numeric_limits<int32_t>::max())
        RaiseIoError(EFBIG);
    FileLength = int32_t(size / 2);
    WriteMainHeader();
    file_.Seek(size); // writes the buffered header out

}

void TFileSHPW::Close()
{
    if (!IsOpen)
        return;
    IsOpen = false;
    file_.Close();
}

} // namespace quarvex
