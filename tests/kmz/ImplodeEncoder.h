// A small implode encoder for the tests, for the two flag combinations no
// real archive here covers (0x2: 8K dictionary, two trees; 0x4: 4K
// dictionary, three trees). Every tree gives all its values one length (6
// bits for 64 values, 8 bits for 256), and matches are found greedily.
// Its archives are checked with Debian's unzip before a test relies on them.
// Besides, the shrunk data of a bomb: a few kilobytes per 31 MB.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace quarvex::test {

class TBitWriter {
public:
    void Put(uint32_t value, int count) // first bit lowest
    {
        for (int i = 0; i < count; ++i) {
            if (bits_ == 0)
                out_ += '\0';
            if ((value >> i) & 1)
                out_.back() = char(out_.back() | (1 << bits_));
            bits_ = (bits_ + 1) & 7;
        }
    }
    // A value of a tree whose n = 2^length values all have that length: the
    // code of value v is n - 1 - v, read from its top bit down.
    void PutCode(uint32_t v, int length)
    {
        const uint32_t code = (1u << length) - 1 - v;
        for (int i = length - 1; i >= 0; --i)
            Put((code >> i) & 1, 1);
    }
    std::string out_;
    int bits_ = 0;
};

inline std::string Implode(const std::string& data, uint16_t flags)
{
    const bool big = flags & 2, literalTree = flags & 4;
    const int lowBits = big ? 7 : 6;
    const size_t window = big ? 8192 : 4096;
    const int minimum = literalTree ? 3 : 2;
    std::string out;
    auto tree = [&](int values, int length) {
        out += char(values / 16 - 1);
        for (int i = 0; i < values / 16; ++i)
            out += char(0xF0 | (length - 1));
    };
    if (literalTree)
        tree(256, 8);
    tree(64, 6);
    tree(64, 6);
    TBitWriter w;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t bestLength = 0, bestDistance = 0;
        const size_t maxLength = std::min<size_t>(data.size() - pos, size_t(63 + minimum + 255));
        for (size_t d = 1; d <= std::min(pos, window); ++d) {
            size_t l = 0;
            while (l < maxLength && data[pos + l] == data[pos + l - d])
                ++l;
            if (l > bestLength)
                bestLength = l, bestDistance = d;
        }
        if (bestLength >= size_t(minimum)) {
            const uint32_t distance = uint32_t(bestDistance - 1);
            w.Put(0, 1);
            w.Put(distance & ((1u << lowBits) - 1), lowBits);
            w.PutCode(distance >> lowBits, 6);
            const size_t extra = bestLength - size_t(minimum);
            w.PutCode(uint32_t(std::min<size_t>(extra, 63)), 6);
            if (extra >= 63)
                w.Put(uint32_t(extra - 63), 8);
            pos += bestLength;
        } else {
            w.Put(1, 1);
            if (literalTree)
                w.PutCode(uint8_t(data[pos]), 8);
            else
                w.Put(uint8_t(data[pos]), 8);
            ++pos;
        }
    }
    return out + w.out_;
}

// Shrunk data that decodes to a run of 'A's: 'A', then every new code once
// (each one byte longer than the last, codes widened at 512 ... 4096), then
// the longest code (7936 bytes) `repeats` times, 13 bits each.
inline std::string ShrinkBomb(int repeats)
{
    TBitWriter w;
    int size = 9;
    w.Put('A', size);
    for (uint32_t code = 257; code < 8192; ++code) {
        if (code == (1u << size)) {
            w.Put(256, size);
            w.Put(1, size);
            ++size;
        }
        w.Put(code, size);
    }
    for (int i = 0; i < repeats; ++i)
        w.Put(8191, size);
    return w.out_;
}

} // namespace quarvex::test
