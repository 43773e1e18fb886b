// CRC-32 of the ZIP format: polynomial 0xEDB88320 (reflected), initial
// value all ones, final complement.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarvex {

class TCrc32 {
public:
    void Update(const uint8_t* data, size_t size);
    uint32_t Value() const { return ~state_; }

private:
    static const uint32_t* Table();
    uint32_t state_ = 0xFFFFFFFFu;
};

} // namespace quarvex
