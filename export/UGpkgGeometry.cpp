#include "export/UGpkgGeometry.h"

#include "export/UShapeBuilder.h"
#include "platform/UByteOrder.h"

#include <algorithm>

namespace quarvex {

namespace {

// ISO well-known binary type codes; the Z types add 1000.
constexpr uint32_t kWkbPoint = 1, kWkbLineString = 2, kWkbPolygon = 3, kWkbMultiLineString = 5,
                   kWkbMultiPolygon = 6, kWkbZ = 1000;
constexpr size_t kHeaderSize = 8;    // "GP", version, flags, SRS id
constexpr uint8_t kLittleEndian = 1; // the flags' byte-order bit and WKB's byte-order byte

class TWkbWriter {
public:
    TWkbWriter(std::string& out, bool withZ) : out_(out), withZ_(withZ) {}

    void Head(uint32_t type)
    {
        Byte(kLittleEndian);
        Count(type + (withZ_ ? kWkbZ : 0));
    }
    void Count(uint32_t n)
    {
        uint8_t b[4];
        PutLE32(b, n);
        out_.append(reinterpret_cast<const char*>(b), 4);
    }
    void Real(double v)
    {
        uint8_t b[8];
        PutLEDouble(b, v);
        out_.append(reinterpret_cast<const char*>(b), 8);
    }
    // The points [first, last) of shape, with their Z values when kept.
    void Points(const TShape& shape, size_t first, size_t last)
    {
        for (size_t i = first; i < last; ++i) {
            Real(shape.Points[i].X);
            Real(shape.Points[i].Y);
            if (withZ_)
                Real(i < shape.Z.size() ? shape.Z[i] : 0.0);
        }
    }
    void Byte(uint8_t b) { out_.push_back(char(b)); }

private:
    std::string& out_;
    bool withZ_;
};

size_t PartEnd(const TShape& shape, size_t part)
{
    return part + 1 < shape.PartStarts.size() ? size_t(shape.PartStarts[part + 1]) : shape.Points.size();
}

void WriteMultiLineString(const TShape& shape, TWkbWriter& wkb)
{
    wkb.Head(kWkbMultiLineString);
    wkb.Count(uint32_t(shape.PartStarts.size()));
    for (size_t part = 0; part < shape.PartStarts.size(); ++part) {
        const size_t first = size_t(shape.PartStarts[part]), last = PartEnd(shape, part);
        wkb.Head(kWkbLineString);
        wkb.Count(uint32_t(last - first));
        wkb.Points(shape, first, last);
    }
}

// The rings of each polygon: a clockwise ring begins one, the rings that
// run the other way after it are its holes.
std::vector<std::vector<size_t>> GroupRings(const TShape& shape)
{
    std::vector<std::vector<size_t>> polygons;
    std::vector<TCXY> ring;
    for (size_t part = 0; part < shape.PartStarts.size(); ++part) {
        ring.assign(shape.Points.begin() + shape.PartStarts[part], shape.Points.begin() + long(PartEnd(shape, part)));
        const bool hole = RingArea2(ring) > 0;
        if (!hole || polygons.empty())
            polygons.emplace_back();
        polygons.back().push_back(part);
    }
    return polygons;
}

void WriteMultiPolygon(const TShape& shape, TWkbWriter& wkb)
{
    const std::vector<std::vector<size_t>> polygons = GroupRings(shape);
    wkb.Head(kWkbMultiPolygon);
    wkb.Count(uint32_t(polygons.size()));
    for (const std::vector<size_t>& rings : polygons) {
        wkb.Head(kWkbPolygon);
        wkb.Count(uint32_t(rings.size()));
        for (size_t part : rings) {
            const size_t first = size_t(shape.PartStarts[part]), last = PartEnd(shape, part);
            wkb.Count(uint32_t(last - first));
            wkb.Points(shape, first, last);
        }
    }
}

TGpkgBox BoxOf(const TShape& shape, size_t count, bool withZ)
{
    TGpkgBox box;
    for (size_t i = 0; i < count; ++i)
        box.Widen(shape.Points[i].X, shape.Points[i].Y, withZ && i < shape.Z.size() ? shape.Z[i] : 0.0);
    return box;
}

double RealAt(std::string_view blob, size_t at)
{
    const uint64_t bits = GetLE64(reinterpret_cast<const uint8_t*>(blob.data()) + at);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

void TGpkgBox::Widen(double x, double y, double z)
{
    if (Empty) {
        MinX = MaxX = x;
        MinY = MaxY = y;
        MinZ = MaxZ = z;
        Empty = false;
        return;
    }
    MinX = std::min(MinX, x);
    MaxX = std::max(MaxX, x);
    MinY = std::min(MinY, y);
    MaxY = std::max(MaxY, y);
    MinZ = std::min(MinZ, z);
    MaxZ = std::max(MaxZ, z);
}

void TGpkgBox::Widen(const TGpkgBox& other)
{
    if (other.Empty)
        return;
    Widen(other.MinX, other.MinY, other.MinZ);
    Widen(other.MaxX, other.MaxY, other.MaxZ);
}

const char* GpkgGeometryType(TFeatureClass featureClass)
{
    switch (featureClass) {
    case TFeatureClass::Point: return "POINT";
    case TFeatureClass::Path: return "MULTILINESTRING";
    case TFeatureClass::Polygon: break;
    }
    return "MULTIPOLYGON";
}

void BuildGpkgGeometry(const TShape& shape, TFeatureClass featureClass, bool withZ, int32_t srsId, std::string& blob,
                       TGpkgBox& box)
{
    blob.clear();
    const bool point = featureClass == TFeatureClass::Point;
    box = BoxOf(shape, point ? std::min<size_t>(shape.Points.size(), 1) : shape.Points.size(), withZ);
    if (box.Empty)
        return;
    // Flags: little-endian, and the envelope's kind in bits 1 to 3 (none,
    // 1: x and y, 2: x, y and z).
    const uint8_t envelope = point ? 0 : withZ ? 2 : 1;
    blob.append("GP");
    blob.push_back(0); // version 1 of the blob format
    blob.push_back(char(kLittleEndian | (envelope << 1)));
    TWkbWriter wkb(blob, withZ);
    wkb.Count(uint32_t(srsId));
    if (envelope) {
        for (double v : {box.MinX, box.MaxX, box.MinY, box.MaxY})
            wkb.Real(v);
        if (envelope == 2) {
            wkb.Real(box.MinZ);
            wkb.Real(box.MaxZ);
        }
    }
    if (point) {
        wkb.Head(kWkbPoint);
        wkb.Points(shape, 0, 1);
    } else if (featureClass == TFeatureClass::Path) {
        WriteMultiLineString(shape, wkb);
    } else {
        WriteMultiPolygon(shape, wkb);
    }
}

TGpkgBox GpkgBlobBox(std::string_view blob)
{
    TGpkgBox box;
    if (blob.size() < kHeaderSize)
        return box;
    const int envelope = (uint8_t(blob[3]) >> 1) & 7;
    if (envelope == 0) {
        // A point: byte order and type (5 bytes) after the header, then x, y.
        const size_t at = kHeaderSize + 5;
        if (blob.size() >= at + 16)
            box.Widen(RealAt(blob, at), RealAt(blob, at + 8), 0.0);
        return box;
    }
    if (blob.size() >= kHeaderSize + 32) {
        box.Widen(RealAt(blob, kHeaderSize), RealAt(blob, kHeaderSize + 16), 0.0);
        box.Widen(RealAt(blob, kHeaderSize + 8), RealAt(blob, kHeaderSize + 24), 0.0);
    }
    return box;
}

} // namespace quarvex
