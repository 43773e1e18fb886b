// Decoders of the three old ZIP methods: shrinking (1), reducing (2 to 5)
// and imploding (6). Each reads only the entry's compressed bytes and writes
// through the output window; messages go to report and decoding goes on.
#pragma once

#include "kml/kmz/UZipStreams.h"

#include <functional>
#include <string>

namespace quarvex {

using TZipReport = std::function<void(const std::string& message)>;

enum class TDecodeResult {
    Done,     // the data was used up, or the output reached its size
    NoMemory, // no working memory: the data was passed over, no CRC check
    Stopped,  // the data was found damaged and decoding stopped
    PastLimit, // the data goes on past the output's limit; decoding stopped there
};

// LZW with partial clearing; ends when the compressed data is used up, or
// at the output's limit (PastLimit when a code would write beyond it).
TDecodeResult UnShrink(TEntryInput& input, TOutputWindow& output, const TZipReport& report);
// Follower sets and repeat sequences, factor 1 to 4; ends at uncompressedSize
// (PastLimit when a whole byte of data is left then).
TDecodeResult UnReduce(TEntryInput& input, TOutputWindow& output, uint64_t uncompressedSize, int factor,
                       const TZipReport& report);
// Sliding dictionary with Shannon-Fano trees; flags bit 1: 8K dictionary,
// bit 2: three trees. Ends at uncompressedSize (PastLimit when a whole byte
// of data is left then).
TDecodeResult UnExplode(TEntryInput& input, TOutputWindow& output, uint64_t uncompressedSize, uint16_t flags,
                        const TZipReport& report);

} // namespace quarvex
