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
    // Writes the main header with file length 0 for the given shape type and
    // puts it on disk. When that fails the file is closed and removed (a
    // device is never removed) before the error is raised.
    void Start(uint8_t shapeType);
    // Appends one Point record and widens the running box.
    void AddPoint(double X, double Y);
    // Appends one single-part record of ShapeType from the vertices. A record
    // without vertices widens the running box only while it is the first.
    void AddPolyLine(const TListaXY& vertices);
    // True once a record with at least one vertex is written: only then does
    // the running box describe real coordinates.
    bool HasVertexBox() const { return hasVertexBox_; }
    // Writes everything buffered to disk, then rewrites the main header with
    // the final file length and box. Raises the I/O error of a failed write.
    void Finish();
    // After a failed write: keeps at most maxRecords of the whole records on
    // disk, cuts off what follows them, and rewrites the header with their
    // file length and box; returns the number kept. A closed writer opens
    // its file again for this. Raises when the file cannot be read, cut or
    // its header written.
    int32_t SettleOnDisk(int32_t maxRecords);
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
    void RemoveUnstartedFile();
    void Widen(double x, double y);
    void WidenByRecord(const TExtent& box, bool hasVertices);

    bool hasVertexBox_ = false;
    TBufferedFile file_;
    std::vector<uint8_t> record_; // reused block for assembling one record
};

} // namespace quarvex
