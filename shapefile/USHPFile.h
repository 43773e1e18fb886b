// TFileSHP reads the main file of an ESRI shapefile front to back, one record
// at a time, without an index file and without seeking. Every shape type of
// the published format is walked; the map view draws types 1, 3 and 5.
#pragma once

#include "geometry/UXYCoo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

// 1 point-like (1, 8, 11, 18, 21, 28), 2 line-like (3, 13, 23),
// 3 polygon-like (5, 15, 25), 0 for every other shape type.
uint8_t ShapeClass(int32_t shapeType);

class TFileSHP {
public:
    TFileSHP();
    TFileSHP(const TFileSHP&) = delete;
    TFileSHP& operator=(const TFileSHP&) = delete;
    ~TFileSHP();

    // Opens FileName for reading at offset 0; false (no error raised, the
    // reader stays closed) when the file cannot be opened.
    bool Open();
    // Reads the 100-byte main header; true when its file code is 9994. A file
    // that begins with the code but ends before byte 100 raises the I/O error
    // "Read beyond end of file".
    bool ReadHeader();
    // True when the position is at the end of the file.
    bool Eof() const;
    // Reads the next record into the Rec* fields and the lists its type
    // carries; lists of other kinds keep what the previous record left. Raises
    // "Read beyond end of file" when the record, or any count it states, runs
    // past the end of the file; nothing is allocated for what is not there.
    void ReadRecord();
    // Fills list with the points of the 1-based part of the current record;
    // true when it then holds more than one point. A part start beyond the
    // record's points raises the list-index error.
    bool GetPart(int part, TListaXY& list) const;
    // Closes the file when open.
    void Close();

    std::string FileName;
    bool IsOpen = false;

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
    int32_t NumParts = 0;
    int32_t NumPoints = 0;

    TListaInt Parts;
    TListaXY Points;
    TListaDouble ZValues;
    TListaDouble MValues;

private:
    // Makes n bytes (n <= kBufferSize) available at the cursor and returns
    // them; raises "Read beyond end of file" when the file holds fewer.
    const uint8_t* Take(size_t n);
    // Raises "Read beyond end of file" unless n more bytes are in the file.
    void Require(int64_t n) const;
    int32_t ReadCount();
    void ReadParts();
    void ReadPoints(int32_t count);
    void ReadValueSection(TListaDouble& values);
    void ReadPartTypes();

    int fd_ = -1;
    int64_t fileSize_ = 0;
    int64_t position_ = 0;      // file offset of the next byte handed out
    std::vector<uint8_t> buffer_;
    size_t bufferPos_ = 0;      // next unread byte in buffer_
    size_t bufferEnd_ = 0;      // bytes of buffer_ filled from the file
};

} // namespace quarvex
