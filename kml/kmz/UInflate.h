// Raw deflate (method 8) through zlib, from an entry's compressed bytes into
// the output window, until the deflate stream ends or the output passes its
// limit.
#pragma once

#include "kml/kmz/UZipStreams.h"

#include <cstdint>
#include <string>

namespace quarvex {

struct TInflateResult {
    bool Ended = false;    // the deflate stream came to its end
    bool Damaged = false;  // the data is no deflate stream
    uint64_t Consumed = 0; // compressed bytes used, up to the end of the stream
};

// Inflates until the stream ends, the input runs out, the data proves
// damaged, or the output passes its limit (then output.Overflowed()).
// Raises EQuarvexError naming the entry when zlib gets no memory.
TInflateResult Inflate(TEntryInput& input, TOutputWindow& output, const std::string& name);

} // namespace quarvex
