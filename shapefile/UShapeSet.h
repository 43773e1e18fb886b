// TShapeSetWriter writes the main file (.shp) and the index file (.shx) of a
// shapefile as the published format describes them: records numbered from
// 1, null shapes, multi-part polylines and polygons, the Z types with their
// Z values (measures left out, or "no data" in a PointZ), and headers whose
// lengths and boxes are exact.
#pragma once

#include "geometry/UXYCoo.h"
#include "platform/UBufferedFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

// One shape to write: its points, the 0-based index where each part starts,
// and for the Z types one Z value per point.
struct TShape {
    std::vector<TCXY> Points;
    std::vector<int32_t> PartStarts;
    std::vector<double> Z;
    void Clear()
    {
        Points.clear();
        PartStarts.clear();
        Z.clear();
    }
};

class TShapeSetWriter {
public:
    // Creates (or empties) both files for shape type 1, 3, 5, 11, 13 or 15 and
    // writes their provisional headers. Raises the I/O error on failure.
    void Open(const std::string& shpPath, const std::string& shxPath, int32_t shapeType);
    // Appends a record without geometry; it does not widen the box.
    void AddNull();
    // Appends a record of the file's type: a point type takes the first point
    // of shape; the others take every point and part. Raises EQuarvexError
    // when the record or the file would outgrow the format's 32-bit lengths.
    void AddShape(const TShape& shape);
    // Writes the final headers and closes both files.
    void Finish();
    // Closes both files without finishing them (after an error).
    void Abandon();

    int32_t RecordCount() const { return records_; }
    int32_t ShapeType() const { return type_; }

private:
    void WriteHeader(TBufferedFile& file, int64_t bytes);
    void AppendRecord(const std::vector<uint8_t>& content);
    void Widen(const TShape& shape, size_t points);

    TBufferedFile shp_;
    TBufferedFile shx_;
    int32_t type_ = 0;
    int32_t records_ = 0;
    int64_t shpBytes_ = 0;
    bool hasBox_ = false;
    double xmin_ = 0, ymin_ = 0, xmax_ = 0, ymax_ = 0, zmin_ = 0, zmax_ = 0;
    std::vector<uint8_t> content_; // one record's content, reused
};

} // namespace quarvex
