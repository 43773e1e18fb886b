#include "shapefile/UShapeSet.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <limits>

namespace quarvex {

namespace {
constexpr size_t kHeaderSize = 100;
constexpr size_t kRecordHeadSize = 8;
// File and content lengths are counted in 16-bit words in signed 32-bit fields.
constexpr int64_t kMaxFileBytes = int64_t(std::numeric_limits<int32_t>::max()) * 2;

// Readers take any measure below -10^38 for "no data".
constexpr double kNoMeasure = -1e39;

bool IsZType(int32_t type)
{
    return type == 11 || type == 13 || type == 15;
}

bool IsPointType(int32_t type)
{
    return type == 1 || type == 11;
}

void PutLE32At(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    PutLE32(b.data() + at, v);
}

void PutDoubleAt(std::vector<uint8_t>& b, size_t at, double v)
{
    PutLEDouble(b.data() + at, v);
}
} // namespace

void TShapeSetWriter::Open(const std::string& shpPath, const std::string& shxPath, int32_t shapeType)
{
    if (shapeType != 1 && shapeType != 3 && shapeType != 5 && !IsZType(shapeType))
        throw EQuarvexError("Shape type " + std::to_string(shapeType) + " is not written here");
    type_ = shapeType;
    records_ = 0;
    hasBox_ = false;
    shp_.Open(shpPath, TBufferedFile::TMode::CreateTruncate);
    shx_.Open(shxPath, TBufferedFile::TMode::CreateTruncate);
    WriteHeader(shp_, kHeaderSize);
    WriteHeader(shx_, kHeaderSize);
    shpBytes_ = kHeaderSize;
}

void TShapeSetWriter::WriteHeader(TBufferedFile& file, int64_t bytes)
{
    uint8_t h[kHeaderSize] = {};
    PutBE32(h, 9994);
    PutBE32(h + 24, uint32_t(bytes / 2));
    PutLE32(h + 28, 1000);
    PutLE32(h + 32, uint32_t(type_));
    const double box[8] = {xmin_, ymin_, xmax_, ymax_, zmin_, zmax_, 0.0, 0.0};
    for (int i = 0; i < 8; ++i)
        PutLEDouble(h + 36 + 8 * i, hasBox_ ? box[i] : 0.0);
    file.Seek(0);
    file.Write(h, sizeof h);
}

void TShapeSetWriter::AppendRecord(const std::vector<uint8_t>& content)
{
    const int64_t size = int64_t(kRecordHeadSize + content.size());
    if (shpBytes_ + size > kMaxFileBytes)
        throw EQuarvexError("The shape file would grow past the 4 GB that the format can count");
    ++records_;
    uint8_t head[kRecordHeadSize];
    PutBE32(head, uint32_t(records_));
    PutBE32(head + 4, uint32_t(content.size() / 2));
    // Both files grow front to back; only Finish goes back to the headers.
    shp_.Write(head, sizeof head);
    shp_.Write(content.data(), content.size());
    uint8_t index[8];
    PutBE32(index, uint32_t(shpBytes_ / 2));
    PutBE32(index + 4, uint32_t(content.size() / 2));
    shx_.Write(index, sizeof index);
    shpBytes_ += size;
}

void TShapeSetWriter::AddNull()
{
    content_.assign(4, 0);
    AppendRecord(content_);
}

void TShapeSetWriter::Widen(const TShape& shape, size_t points)
{
    const bool z = IsZType(type_);
    for (size_t i = 0; i < points; ++i) {
        const TCXY& p = shape.Points[i];
        const double zv = z && i < shape.Z.size() ? shape.Z[i] : 0.0;
        if (!hasBox_) {
            xmin_ = xmax_ = p.X;
            ymin_ = ymax_ = p.Y;
            zmin_ = zmax_ = zv;
            hasBox_ = true;
            continue;
        }
        xmin_ = std::min(xmin_, p.X);
        xmax_ = std::max(xmax_, p.X);
        ymin_ = std::min(ymin_, p.Y);
        ymax_ = std::max(ymax_, p.Y);
        zmin_ = std::min(zmin_, zv);
        zmax_ = std::max(zmax_, zv);
    }
}

void TShapeSetWriter::AddShape(const TShape& shape)
{
    if (shape.Points.empty()) {
        AddNull();
        return;
    }
    const bool z = IsZType(type_);
    auto zAt = [&](size_t i) { return i < shape.Z.size() ? shape.Z[i] : 0.0; };
    if (IsPointType(type_)) {
        const TCXY& p = shape.Points[0];
        content_.assign(z ? 36 : 20, 0);
        PutLE32At(content_, 0, uint32_t(type_));
        PutDoubleAt(content_, 4, p.X);
        PutDoubleAt(content_, 12, p.Y);
        if (z) {
            PutDoubleAt(content_, 20, zAt(0));
            PutDoubleAt(content_, 28, kNoMeasure); // a PointZ always has room for a measure
        }
        Widen(shape, 1);
        AppendRecord(content_);
        return;
    }
    const size_t n = shape.Points.size();
    const size_t parts = shape.PartStarts.empty() ? 1 : shape.PartStarts.size();
    // In 64 bits: 44 + 4 * parts + 24 * n cannot overflow for any vector size.
    // The Z types leave out the measures, which the format makes optional.
    const int64_t bytes = 44 + 4 * int64_t(parts) + 16 * int64_t(n) + (z ? 16 + 8 * int64_t(n) : 0);
    if (bytes + int64_t(kRecordHeadSize) > kMaxFileBytes)
        throw EQuarvexError("A shape of " + std::to_string(n) + " vertices does not fit one shapefile record");
    content_.assign(size_t(bytes), 0);
    TExtent box{shape.Points[0].X, shape.Points[0].Y, shape.Points[0].X, shape.Points[0].Y};
    double zmin = zAt(0), zmax = zAt(0);
    for (size_t i = 0; i < n; ++i) {
        const TCXY& p = shape.Points[i];
        box = TExtent{std::min(box.Xmin, p.X), std::min(box.Ymin, p.Y), std::max(box.Xmax, p.X), std::max(box.Ymax, p.Y)};
        zmin = std::min(zmin, zAt(i));
        zmax = std::max(zmax, zAt(i));
    }
    PutLE32At(content_, 0, uint32_t(type_));
    PutDoubleAt(content_, 4, box.Xmin);
    PutDoubleAt(content_, 12, box.Ymin);
    PutDoubleAt(content_, 20, box.Xmax);
    PutDoubleAt(content_, 28, box.Ymax);
    PutLE32At(content_, 36, uint32_t(parts));
    PutLE32At(content_, 40, uint32_t(n));
    size_t at = 44;
    for (size_t i = 0; i < parts; ++i, at += 4)
        PutLE32At(content_, at, uint32_t(shape.PartStarts.empty() ? 0 : shape.PartStarts[i]));
    for (size_t i = 0; i < n; ++i, at += 16) {
        PutDoubleAt(content_, at, shape.Points[i].X);
        PutDoubleAt(content_, at + 8, shape.Points[i].Y);
    }
    if (z) {
        PutDoubleAt(content_, at, zmin);
        PutDoubleAt(content_, at + 8, zmax);
        at += 16;
        for (size_t i = 0; i < n; ++i, at += 8)
            PutDoubleAt(content_, at, zAt(i));
    }
    Widen(shape, n);
    AppendRecord(content_);
}

void TShapeSetWriter::Finish()
{
    WriteHeader(shp_, shpBytes_);
    WriteHeader(shx_, kHeaderSize + int64_t(records_) * 8);
    shp_.Close();
    shx_.Close();
}

void TShapeSetWriter::Abandon()
{
    try {
        shp_.Close();
    } catch (...) {
    }
    try {
        shx_.Close();
    } catch (...) {
    }
}

} // namespace quarvex
