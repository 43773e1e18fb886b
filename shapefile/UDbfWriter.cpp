#include "shapefile/UDbfWriter.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <ctime>

namespace quarvex {

std::string CutUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Back over continuation bytes (10xxxxxx) to the start of the character
    // that would be split.
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

void TDbfWriter::Open(const std::string& path, const std::vector<TDbfField>& fields)
{
    fields_ = fields;
    records_ = 0;
    // The header's lengths are 16 bits: 32 bytes per field and the record.
    size_t length = 1; // the deletion flag
    for (const TDbfField& f : fields_) {
        if (f.Name.empty() || f.Name.size() > 10 || f.Length == 0)
            throw EQuarvexError("The table field \"" + f.Name + "\" cannot be written");
        length += f.Length;
    }
    if (length > 0xFFFF || 32 + 32 * fields_.size() + 1 > 0xFFFF)
        throw EQuarvexError("A table of " + std::to_string(fields_.size()) + " fields and " + std::to_string(length) +
                            " bytes per record is more than a dBASE table holds");
    recordLength_ = uint16_t(length);
    file_.Open(path, TBufferedFile::TMode::CreateTruncate);
    WriteHeader();
}

void TDbfWriter::WriteHeader()
{
    const size_t headerLength = 32 + 32 * fields_.size() + 1;
    std::vector<uint8_t> h(headerLength, 0);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    h[0] = 0x03;
    h[1] = uint8_t(local.tm_year); // years since 1900
    h[2] = uint8_t(local.tm_mon + 1);
    h[3] = uint8_t(local.tm_mday);
    PutLE32(&h[4], records_);
    PutLE16(&h[8], uint16_t(headerLength));
    PutLE16(&h[10], recordLength_);
    // Byte 29 (language driver) stays 0: the .cpg file names the code page.
    uint8_t* d = &h[32];
    for (const TDbfField& f : fields_) {
        for (size_t i = 0; i < f.Name.size(); ++i)
            d[i] = uint8_t(f.Name[i]);
        d[11] = uint8_t(f.Type);
        d[16] = f.Length;
        d[17] = f.Decimals;
        d += 32;
    }
    *d = 0x0D;
    file_.Seek(0);
    file_.Write(h.data(), h.size());
}

void TDbfWriter::AddRecord(const std::vector<std::string>& values)
{
    record_.assign(recordLength_, ' ');
    size_t at = 1;
    for (size_t i = 0; i < fields_.size(); ++i) {
        const TDbfField& f = fields_[i];
        const std::string value = CutUtf8(i < values.size() ? values[i] : std::string(), f.Length);
        if (f.Type == 'N')
            record_.replace(at + f.Length - value.size(), value.size(), value);
        else
            record_.replace(at, value.size(), value);
        at += f.Length;
    }
    file_.Write(record_);
    ++records_;
}

void TDbfWriter::Close()
{
    const uint8_t end = 0x1A;
    file_.Write(&end, 1);
    WriteHeader();
    file_.Close();
}

void TDbfWriter::Abandon()
{
    try {
        file_.Close();
    } catch (...) {
    }
}

} // namespace quarvex
