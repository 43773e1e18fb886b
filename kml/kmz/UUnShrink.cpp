#include "kml/kmz/ULegacyDecoders.h"

#include <memory>
#include <new>

namespace quarvex {

namespace {

constexpr int kTableSize = 8192;  // codes 0..8191
constexpr int kControlCode = 256; // followed by 1: wider codes; by 2: partial clear
constexpr int kFirstFreeCode = 257;
constexpr int kMaxCodeSize = 16;  // past 13 bits a code can only be bad, but is still read whole
constexpr int16_t kUnused = -1;

struct TShrinkTables {
    int16_t prefix[kTableSize]; // kUnused for a free code
    uint8_t suffix[kTableSize];
    uint8_t stack[kTableSize];
    bool referenced[kTableSize];
};

int NextFreeCode(const TShrinkTables& t, int from)
{
    while (from < kTableSize && t.prefix[from] != kUnused)
        ++from;
    return from;
}

// Frees every dynamic code that is no other code's prefix (a leaf).
void PartialClear(TShrinkTables& t)
{
    for (int c = kFirstFreeCode; c < kTableSize; ++c)
        t.referenced[c] = false;
    for (int c = kFirstFreeCode; c < kTableSize; ++c)
        if (t.prefix[c] >= kFirstFreeCode)
            t.referenced[t.prefix[c]] = true;
    for (int c = kFirstFreeCode; c < kTableSize; ++c)
        if (!t.referenced[c])
            t.prefix[c] = kUnused;
}

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
    for (int c = 0; c < kTableSize; ++c)
        t.prefix[c] = c < kFirstFreeCode ? 0 : kUnused;

    TBitReader bits(input);
    int codeSize = 9;
    int nextFree = kFirstFreeCode;
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
                PartialClear(t);
                nextFree = NextFreeCode(t, kFirstFreeCode);
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
        if (code < kControlCode || t.prefix[code] != kUnused) {
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

        if (previous >= 0 && nextFree < kTableSize) {
            t.prefix[nextFree] = int16_t(previous);
            t.suffix[nextFree] = first;
            nextFree = NextFreeCode(t, nextFree + 1);
        }
        previous = code;
    }
}

} // namespace quarvex
