// TFileSHPW writes one layer as the main file of an ESRI shapefile: the
// 100-byte main header and one record per shape, 2-D types 1, 3 and 5 only.
#pragma once

#include "geometry/UXYCoo.h"
#include "platform/UBufferedFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

class TFileSHPW {
public:
    TFileSHPW() = default;
    TFileSHPW(const TFileSHPW&) = delete;
    TFileSHPW& operator=(const TFileSHPW&) = delete;
    // Closes the file without reporting errors; call Finish and Close first
    // wherever a failure must reach the user.
    ~TFileSHPW();

    // Creates (or empties) FileName; raises EInOutError and stays closed on failure.
    void Open();
    // Writes the main header with file length 0 for the given shape type.
    void Start(uint8_t shapeType);
    // Appends one Point record and widens the running box.
    void AddPoint(double X, double Y);
    // Appends one single-part record of ShapeType from the vertices.
    void AddPolyLine(const TListaXY& vertices);
    // Rewrites the main header with the final file length and box, and
    // writes everything buffered to disk.
    void Finish();
    // Closes the file when open; raises when the last buffered write fails.
    void Close();

    std::string FileName;
    bool IsOpen = false;
    int32_t RecordCount = 0;

    int32_t FileLength = 0;
    int32_t FileCode = 0;
    int32_t Version = 0;
    int32_t ShapeType = 0;
    double Xmin = 0.0, Ymin = 0.0, Xmax = 0.0, Ymax = 0.0;
    double Zmin = 0.0, Zmax = 0.0, Mmin = 0.0, Mmax = 0.0;

    int32_t RecNumber = 0;
    int32_t RecContentLength = 0;
    int32_t RecShapeType = 0;
    TExtent RecBox;

private:
    void WriteMainHeader();
    void Widen(double x, double y);

    TBufferedFile file_;
    std::vector<uint8_t> record_; // reused block for assembling one record
};

} // namespace quarvex
