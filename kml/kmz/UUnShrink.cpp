#include "kml/kmz/ULegacyDecoders.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>

namespace quarvex {

namespace {

constexpr int kTableSize = 8192;  // codes 0..8191
constexpr int kControlCode = 256; // followed by 1: wider codes; by 2: partial clear
constexpr int kFirstFreeCode = 257;
constexpr int kMaxCodeSize = 16;  // past 13 bits a code can only be bad, but is still read whole
constexpr int16_t kUnused = -1;
constexpr int16_t kNoLeaf = -1;
constexpr int kWords = kTableSize / 64;

// The code table. Besides prefix and suffix it keeps, so that a partial
// clear costs in proportion to what it frees: for every code the number of
// live codes whose prefix it is, the live dynamic codes that are no live
// code's prefix (the leaves) as a doubly linked list, and a bit set of the
// free codes for finding the lowest one.
struct TShrinkTables {
    int16_t prefix[kTableSize]; // kUnused for a free code
    uint8_t suffix[kTableSize];
    uint8_t stack[kTableSize];
    uint16_t children[kTableSize];
    int16_t leafNext[kTableSize];
    int16_t leafPrev[kTableSize];
    bool isLeaf[kTableSize];
    int16_t leafHead;
    uint64_t freeBits[kWords];

    void Reset()
    {
        for (int c = 0; c < kTableSize; ++c) {
            prefix[c] = c < kFirstFreeCode ? 0 : kUnused;
            children[c] = 0;
            isLeaf[c] = false;
        }
        leafHead = kNoLeaf;
        for (int w = 0; w < kWords; ++w)
            freeBits[w] = 0;
        for (int c = kFirstFreeCode; c < kTableSize; ++c)
            freeBits[c / 64] |= uint64_t(1) << (c % 64);
    }
    bool IsLive(int c) const { return prefix[c] != kUnused; }
    void AddLeaf(int c)
    {
        isLeaf[c] = true;
        leafPrev[c] = kNoLeaf;
        leafNext[c] = leafHead;
        if (leafHead != kNoLeaf)
            leafPrev[leafHead] = int16_t(c);
        leafHead = int16_t(c);
    }
    void RemoveLeaf(int c)
    {
        isLeaf[c] = false;
        if (leafPrev[c] != kNoLeaf)
            leafNext[leafPrev[c]] = leafNext[c];
        else
            leafHead = leafNext[c];
        if (leafNext[c] != kNoLeaf)
            leafPrev[leafNext[c]] = leafPrev[c];
    }
    // Makes the free code c live as the string of parent followed by byte.
    void Define(int c, int parent, uint8_t byte)
    {
        prefix[c] = int16_t(parent);
        suffix[c] = byte;
        freeBits[c / 64] &= ~(uint64_t(1) << (c % 64));
        if (parent >= kFirstFreeCode && children[parent]++ == 0 && isLeaf[parent])
            RemoveLeaf(parent);
        if (children[c] == 0)
            AddLeaf(c);
    }
    // The lowest free code from `from` on (every code below `from` is in
    // use), or kTableSize when the table is full.
    int LowestFree(int from) const
    {
        for (int w = from / 64; w < kWords; ++w)
            if (uint64_t bits = freeBits[w] & (w == from / 64 ? ~uint64_t(0) << (from % 64) : ~uint64_t(0)))
                return w * 64 + std::countr_zero(bits);
        return kTableSize;
    }
    // Frees the leaves. A code that becomes a leaf by this stays until the
    // next clear. Returns the lowest code freed, or kTableSize.
    int PartialClear()
    {
        int lowest = kTableSize;
        int c = leafHead;
        leafHead = kNoLeaf;
        while (c != kNoLeaf) {
            const int next = leafNext[c];
            const int parent = prefix[c];
            isLeaf[c] = false;
            prefix[c] = kUnused;
            freeBits[c / 64] |= uint64_t(1) << (c % 64);
            lowest = std::min(lowest, c);
            if (parent >= kFirstFreeCode && --children[parent] == 0 && IsLive(parent))
                AddLeaf(parent);
            c = next;
        }
        return lowest;
    }
};

// Puts the bytes of code onto the stack, last byte first; returns the depth,
// or -1 when the chain is longer than the stack (a damaged table).
int StackString(TShrinkTables& t, int code, int depth)
{
    while (code >= kFirstFreeCode) {
        if (depth == kTableSize)
            return -1;
        t.stack[depth++] = t.suffix[code];
        code = t.prefix[code];
    }
    if (depth == kTableSize)
        return -1;
    t.stack[depth++] = uint8_t(code);
    return depth;
}

} // namespace

TDecodeResult UnShrink(TEntryInput& input, TOutputWindow& output, const TZipReport& report)
{
    std::unique_ptr<TShrinkTables> tables(new (std::nothrow) TShrinkTables);
    if (!tables) {
        report("Not enough memory for UnShrink ! Continue...");
        input.SkipRest();
        return TDecodeResult::NoMemory;
    }
    TShrinkTables& t = *tables;
    t.Reset();

    TBitReader bits(input);
    int codeSize = 9;
    int nextFree = kFirstFreeCode; // always the lowest free code
    int previous = -1;
    while (true) {
        const int code = int(bits.Bits(codeSize));
        if (bits.PastEnd())
            return TDecodeResult::Done;
        if (code == kControlCode) {
            const int binding = int(bits.Bits(codeSize));
            if (bits.PastEnd())
                return TDecodeResult::Done;
            if (binding == 1) {
                codeSize = std::min(codeSize + 1, kMaxCodeSize);
            } else if (binding == 2) {
                nextFree = std::min(nextFree, t.PartialClear());
            } else {
                report("Bad binding code! Continue...");
            }
            continue;
        }
        if (code >= kTableSize) {
            report("Code is bad !");
            return TDecodeResult::Stopped;
        }

        int depth;
        if (code < kControlCode || t.IsLive(code)) {
            depth = StackString(t, code, 0);
        } else if (code == nextFree && previous >= 0) {
            // The code being defined right now: the previous string and its first byte.
            depth = StackString(t, previous, 1);
            if (depth > 0)
                t.stack[0] = t.stack[depth - 1];
        } else {
            report("Code is bad !");
            return TDecodeResult::Stopped;
        }
        if (depth < 0) {
            report("Sorry stack owerflow (" + std::to_string(kTableSize) + ")!");
            return TDecodeResult::Stopped;
        }
        const uint8_t first = t.stack[depth - 1];
        while (depth > 0)
            output.Put(t.stack[--depth]);
        if (output.Overflowed())
            return TDecodeResult::PastLimit;

        if (previous >= 0 && nextFree < kTableSize) {
            t.Define(nextFree, previous, first);
            nextFree = t.LowestFree(nextFree + 1);
        }
        previous = code;
    }
}

} // namespace quarvex
