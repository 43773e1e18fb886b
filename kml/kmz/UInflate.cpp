#include "kml/kmz/UInflate.h"

#include "platform/UErrors.h"

#include <zlib.h>

namespace quarvex {

TInflateResult Inflate(TEntryInput& input, TOutputWindow& output, const std::string& name)
{
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        throw EQuarvexError("Not enough memory to inflate " + name);
    // The output's sink may raise (a reader of the data that gives up).
    struct TEnd {
        z_stream& zs;
        ~TEnd() { inflateEnd(&zs); }
    } end{zs};
    TInflateResult result;
    uint8_t in[kZipBufferSize];
    uint8_t out[kZipBufferSize];
    while (true) {
        if (zs.avail_in == 0) {
            zs.avail_in = uInt(input.Read(in, sizeof in));
            zs.next_in = in;
            if (zs.avail_in == 0)
                break; // the data ended before the stream
        }
        zs.next_out = out;
        zs.avail_out = sizeof out;
        const uInt inputBefore = zs.avail_in;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const size_t made = sizeof out - zs.avail_out;
        output.Write(out, made);
        if (rc == Z_STREAM_END) {
            result.Ended = true;
            break;
        }
        if (output.Overflowed())
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result.Damaged = true;
            break;
        }
        if (made == 0 && zs.avail_in == inputBefore)
            break; // no way forward
    }
    result.Consumed = zs.total_in;
    return result;
}

} // namespace quarvex
