#include "kml/kmz/UCrc32.h"

#include <array>

namespace quarvex {

const uint32_t* TCrc32::Table()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table.data();
}

void TCrc32::Update(const uint8_t* data, size_t size)
{
    const uint32_t* table = Table();
    uint32_t c = state_;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    state_ = c;
}

} // namespace quarvex
