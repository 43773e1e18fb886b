#include "kml/kmz/ULegacyDecoders.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace quarvex {

namespace {

constexpr int kMaxCodeLength = 16;

// A Shannon-Fano tree as a table indexed by the next kMaxCodeLength bits
// (first bit lowest); each entry holds the value and its code length.
class TShannonFanoTree {
public:
    // Reads the stored code lengths; false when they do not make a tree of
    // exactly size values with distinct codes.
    bool Read(TEntryInput& input, int size);
    // The next value; -1 when the bits match no code.
    int Decode(TBitReader& bits) const
    {
        const uint16_t entry = table_[bits.Peek(kMaxCodeLength)];
        if (entry == 0)
            return -1;
        bits.Drop(entry >> 8);
        return entry & 0xFF;
    }

private:
    std::vector<uint16_t> table_ = std::vector<uint16_t>(size_t(1) << kMaxCodeLength); // 0: no code
};

uint16_t Reverse16(uint32_t v)
{
    uint32_t r = 0;
    for (int i = 0; i < 16; ++i, v >>= 1)
        r = (r << 1) | (v & 1);
    return uint16_t(r);
}

bool TShannonFanoTree::Read(TEntryInput& input, int size)
{
    const int stored = input.ReadByte();
    if (stored < 0)
        return false;
    std::vector<uint8_t> lengths;
    for (int i = 0; i <= stored; ++i) {
        const int b = input.ReadByte();
        if (b < 0)
            return false;
        const int count = (b >> 4) + 1;
        const int length = (b & 15) + 1;
        if (int(lengths.size()) + count > size)
            return false;
        lengths.insert(lengths.end(), size_t(count), uint8_t(length));
    }
    if (int(lengths.size()) != size)
        return false;

    // Codes are handed out from the longest lengths up, in the stored order
    // among equal lengths (a stable sort), and read with their bits reversed.
    std::vector<int> order(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        order[size_t(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[size_t(a)] < lengths[size_t(b)]; });
    uint32_t code = 0;
    uint32_t increment = 0;
    int lastLength = 0;
    for (int i = size - 1; i >= 0; --i) {
        const int value = order[size_t(i)];
        const int length = lengths[size_t(value)];
        code += increment;
        if (code > 0xFFFF)
            return false; // more codes than the lengths allow
        if (length != lastLength) {
            lastLength = length;
            increment = 1u << (16 - length);
        }
        const uint32_t reversed = Reverse16(code) & ((1u << length) - 1);
        for (uint32_t index = reversed; index < table_.size(); index += 1u << length) {
            if (table_[index] != 0)
                return false; // two codes overlap
            table_[index] = uint16_t((length << 8) | value);
        }
    }
    return true;
}

} // namespace

TDecodeResult UnExplode(TEntryInput& input, TOutputWindow& output, uint64_t uncompressedSize, uint16_t flags,
                        const TZipReport& report)
{
    const bool bigDictionary = (flags & 0x02) != 0;
    const bool literalTree = (flags & 0x04) != 0;
    std::unique_ptr<TShannonFanoTree[]> trees(new (std::nothrow) TShannonFanoTree[3]);
    if (!trees) {
        report("Not enough memory for UnExplode ! Continue...");
        input.SkipRest();
        return TDecodeResult::NoMemory;
    }
    TShannonFanoTree& literals = trees[0];
    TShannonFanoTree& lengths = trees[1];
    TShannonFanoTree& distances = trees[2];
    if ((literalTree && !literals.Read(input, 256)) || !lengths.Read(input, 64) || !distances.Read(input, 64)) {
        report("Bad Shannon-Fano decode tree !");
        return TDecodeResult::Stopped;
    }

    const int minimumMatch = literalTree ? 3 : 2;
    const int lowDistanceBits = bigDictionary ? 7 : 6;
    TBitReader bits(input);
    while (output.Total() < uncompressedSize) {
        if (bits.Bits(1) != 0) {
            const int c = literalTree ? literals.Decode(bits) : int(bits.Bits(8));
            if (c < 0 || bits.PastEnd())
                return c < 0 ? TDecodeResult::Stopped : TDecodeResult::Done;
            output.Put(uint8_t(c));
            continue;
        }
        const uint32_t low = bits.Bits(lowDistanceBits);
        const int high = distances.Decode(bits);
        int length = lengths.Decode(bits);
        if (high < 0 || length < 0)
            return TDecodeResult::Stopped;
        length += minimumMatch;
        if (length == 63 + minimumMatch)
            length += int(bits.Bits(8));
        if (bits.PastEnd())
            return TDecodeResult::Done;
        // The distance is below 8192, so distance + 1 stays inside the window.
        const size_t distance = (size_t(high) << lowDistanceBits | low) + 1;
        const uint64_t left = uncompressedSize - output.Total();
        output.CopyBack(distance, size_t(std::min<uint64_t>(uint64_t(length), left)));
    }
    return bits.WholeByteLeft() ? TDecodeResult::PastLimit : TDecodeResult::Done;
}

} // namespace quarvex
