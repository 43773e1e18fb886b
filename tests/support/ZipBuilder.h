// Builds ZIP archives byte by byte for the archive tests: local headers with
// any fields, optional central directory, and raw deflate through zlib.
#pragma once

#include "kml/kmz/UCrc32.h"
#include "platform/UByteOrder.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex::test {

inline uint32_t Crc32Of(const std::string& data)
{
    TCrc32 crc;
    crc.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return crc.Value();
}

inline std::string RawDeflate(const std::string& data)
{
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, uLong(data.size())) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

struct TZipEntrySpec {
    std::string name;
    std::string data;         // as stored in the archive (compressed)
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t uncompressedSize = 0;
    uint16_t dosTime = 0x6000; // 12:00:00
    uint16_t dosDate = 0x5A21; // 1 January 2025
    // How a writer that streams would store it: no CRC and sizes in the local
    // header (flag bit 3 set), a data descriptor after the data instead.
    bool streamed = false;
    bool descriptorSignature = true;
    // Sizes as 0xFFFFFFFF in the headers and in a ZIP64 extra field (and
    // 8-byte sizes in the descriptor).
    bool zip64 = false;
};

class TZipBuilder {
public:
    // A stored entry with the right CRC and sizes.
    TZipBuilder& Stored(const std::string& name, const std::string& data)
    {
        return Add({name, data, 0, 0, Crc32Of(data), data.size()});
    }
    // A deflated entry with the right CRC and sizes.
    TZipBuilder& Deflated(const std::string& name, const std::string& data)
    {
        return Add({name, RawDeflate(data), 8, 0, Crc32Of(data), data.size()});
    }
    TZipBuilder& Add(const TZipEntrySpec& entry)
    {
        entries_.push_back(entry);
        if (entry.streamed)
            entries_.back().flags |= 0x0008;
        return *this;
    }
    // The archive; withDirectory adds a central directory and its end record.
    std::string Build(bool withDirectory = true) const
    {
        std::string out;
        std::vector<uint32_t> offsets;
        for (const TZipEntrySpec& e : entries_) {
            offsets.push_back(uint32_t(out.size()));
            out += Header(0x04034B50, e, false) + e.name + Zip64Extra(e, false) + e.data + Descriptor(e);
        }
        if (!withDirectory)
            return out;
        const uint32_t start = uint32_t(out.size());
        for (size_t i = 0; i < entries_.size(); ++i)
            out += Header(0x02014B50, entries_[i], true, offsets[i]) + entries_[i].name + Zip64Extra(entries_[i], true);
        uint8_t end[22] = {};
        PutLE32(end, 0x06054B50);
        PutLE16(end + 8, uint16_t(entries_.size()));
        PutLE16(end + 10, uint16_t(entries_.size()));
        PutLE32(end + 12, uint32_t(out.size()) - start);
        PutLE32(end + 16, start);
        out.append(reinterpret_cast<char*>(end), sizeof end);
        return out;
    }

private:
    static std::string Zip64Extra(const TZipEntrySpec& e, bool central)
    {
        if (!e.zip64)
            return {};
        uint8_t x[20];
        PutLE16(x, 1);
        PutLE16(x + 2, 16);
        const bool zero = e.streamed && !central;
        PutLE64(x + 4, zero ? 0 : e.uncompressedSize);
        PutLE64(x + 12, zero ? 0 : e.data.size());
        return std::string(reinterpret_cast<char*>(x), sizeof x);
    }
    static std::string Descriptor(const TZipEntrySpec& e)
    {
        if (!e.streamed)
            return {};
        uint8_t d[24];
        uint8_t* p = d;
        if (e.descriptorSignature) {
            PutLE32(p, 0x08074B50);
            p += 4;
        }
        PutLE32(p, e.crc);
        p += 4;
        if (e.zip64) {
            PutLE64(p, e.data.size());
            PutLE64(p + 8, e.uncompressedSize);
            p += 16;
        } else {
            PutLE32(p, uint32_t(e.data.size()));
            PutLE32(p + 4, uint32_t(e.uncompressedSize));
            p += 8;
        }
        return std::string(reinterpret_cast<char*>(d), size_t(p - d));
    }
    static std::string Header(uint32_t signature, const TZipEntrySpec& e, bool central, uint32_t offset = 0)
    {
        uint8_t h[46] = {};
        uint8_t* p = h;
        PutLE32(p, signature);
        p += 4;
        if (central) {
            PutLE16(p, 20); // made by
            p += 2;
        }
        const bool blank = e.streamed && !central;
        PutLE16(p, e.method == 6 ? 10 : e.zip64 ? 45 : 20); // needed to extract
        PutLE16(p + 2, e.flags);
        PutLE16(p + 4, e.method);
        PutLE16(p + 6, e.dosTime);
        PutLE16(p + 8, e.dosDate);
        PutLE32(p + 10, blank ? 0 : e.crc);
        PutLE32(p + 14, e.zip64 ? 0xFFFFFFFFu : blank ? 0 : uint32_t(e.data.size()));
        PutLE32(p + 18, e.zip64 ? 0xFFFFFFFFu : blank ? 0 : uint32_t(e.uncompressedSize));
        PutLE16(p + 22, uint16_t(e.name.size()));
        PutLE16(p + 24, e.zip64 ? 20 : 0);
        if (central)
            PutLE32(p + 36, offset); // offset 42 of the central header
        return std::string(reinterpret_cast<char*>(h), central ? 46 : 30);
    }

    std::vector<TZipEntrySpec> entries_;
};

// A raw deflate stream of count times 16 MiB of zero bytes, about 16 KB per
// 16 MiB: one sync-flushed block of zeros repeated (it refers only to zeros
// before it), then an empty final block. Made in milliseconds.
inline std::string ZeroBomb(int count)
{
    const std::string zeros(16 << 20, '\0');
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string block(deflateBound(&zs, uLong(zeros.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    zs.avail_in = uInt(zeros.size());
    zs.next_out = reinterpret_cast<Bytef*>(block.data());
    zs.avail_out = uInt(block.size());
    deflate(&zs, Z_SYNC_FLUSH);
    block.resize(zs.total_out);
    deflateEnd(&zs);
    std::string out;
    for (int i = 0; i < count; ++i)
        out += block;
    return out + std::string("\x03\x00", 2); // final fixed-code block with only its end code
}

} // namespace quarvex::test
