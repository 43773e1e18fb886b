// TDbfWriter writes a dBASE III table of any field list, for the exported
// shapefile sets: text in UTF-8 (a .cpg file beside the table says so),
// numbers right-aligned, the record count and the end mark at the close.
#pragma once

#include "platform/UBufferedFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

struct TDbfField {
    std::string Name; // at most 10 characters
    char Type = 'C';  // 'C' text, 'N' number
    uint8_t Length = 0;
    uint8_t Decimals = 0;
};

// text cut to at most maxBytes bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t maxBytes);

class TDbfWriter {
public:
    // Creates (or empties) path with the fields and writes the header.
    void Open(const std::string& path, const std::vector<TDbfField>& fields);
    // One record; values[i] is the text of field i (cut to the field's
    // length on a character boundary; numbers right-aligned).
    void AddRecord(const std::vector<std::string>& values);
    // Writes the header with the record count, the end mark, and closes.
    void Close();
    void Abandon();

    uint32_t RecordCount() const { return records_; }

private:
    void WriteHeader();

    TBufferedFile file_;
    std::vector<TDbfField> fields_;
    uint32_t records_ = 0;
    uint16_t recordLength_ = 0;
    std::string record_;
};

} // namespace quarvex
