// The attribute table of a layer: a dBASE III table with the fixed schema
// ZID, NAME, HINT, COLOR, ICON_SIZE, EXTRUDE, TESELLATE; one record per shape.
#pragma once

#include "platform/UBufferedFile.h"
#include "platform/UCodePage.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarvex {

constexpr int kDbfHeaderLength = 257;
constexpr int kDbfRecordLength = 537;

class TAttributeTable {
public:
    // Text goes into new tables in the user's ANSI code page.
    TAttributeTable();
    // Text goes into new tables in the given Windows code page.
    explicit TAttributeTable(int codePage);
    // Closes an open table; errors of that close are lost (see CloseAttributeTable).
    ~TAttributeTable();

    // Closes the open table, then creates an empty table at path (replacing
    // any file there) and leaves it closed. A creation that fails part-way
    // deletes the file again before the error is raised.
    void CreateAttributeTable(const std::string& path);
    // Opens an existing table for appending. Raises "Open: file not found"
    // when there is no file, and an error naming the file when it is not a
    // table of this schema.
    void OpenAttributeTable(const std::string& path);
    // Appends one record with the given ZID and NAME (UTF-8, converted to
    // the table's code page and cut to 255 bytes); the other fields are blank.
    void AppendAttributeRecord(int32_t zid, const std::string& name);
    // Writes the header with the record count and the end mark, and closes.
    // Also after a failed write the header counts exactly the whole records
    // on disk; the first error met is raised once the file is closed.
    void CloseAttributeTable();

    bool IsOpen() const { return file_.IsOpen(); }

private:
    void FinishFile();

    TBufferedFile file_;
    uint32_t recordCount_ = 0;
    uint8_t driverId_ = 0;
    int newTableCodePage_;
    std::unique_ptr<TCodePageConverter> converter_;
    std::string record_;   // reused record block
    std::string nameText_; // reused conversion buffer
};

// Cuts the closed table at path back to at most maxRecords of its whole
// records (fewer when the header counts fewer) and returns the number kept.
// Raises when the file is missing or no table of this schema, and the I/O
// error of a failed step.
uint32_t TrimAttributeTable(const std::string& path, uint32_t maxRecords);

} // namespace quarvex
