#include "kml/kmz/ULegacyDecoders.h"

#include <memory>
#include <new>

namespace quarvex {

namespace {

constexpr int kMaxFollowers = 32;
constexpr uint8_t kDle = 144;

struct TFollowerSets {
    uint8_t count[256];
    uint8_t byte[256][kMaxFollowers];
};

// Bits needed to write n - 1 (at least one).
int BitsFor(int n)
{
    int bits = 1;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

// The repeat-sequence expansion on top of the follower-set bytes.
class TExpander {
public:
    TExpander(TOutputWindow& output, uint64_t size, int factor)
        : output_(output), size_(size), factor_(factor), lengthMask_(0xFF >> factor)
    {
    }
    bool Full() const { return output_.Total() >= size_; }

    void Take(uint8_t c)
    {
        switch (state_) {
        case 0:
            if (c == kDle)
                state_ = 1;
            else
                Emit(c);
            break;
        case 1:
            if (c == 0) {
                Emit(kDle);
                state_ = 0;
            } else {
                v_ = c;
                length_ = c & lengthMask_;
                state_ = length_ == lengthMask_ ? 2 : 3;
            }
            break;
        case 2:
            length_ += c;
            state_ = 3;
            break;
        default: {
            // Distance: the upper bits of V times 256, plus C, plus 1 (at most 4096).
            const size_t distance = size_t(v_ >> (8 - factor_)) * 256 + c + 1;
            const uint64_t left = size_ - output_.Total();
            output_.CopyBack(distance, size_t(std::min<uint64_t>(uint64_t(length_) + 3, left)));
            state_ = 0;
        }
        }
    }

private:
    void Emit(uint8_t c)
    {
        if (!Full())
            output_.Put(c);
    }

    TOutputWindow& output_;
    uint64_t size_;
    int factor_;
    int lengthMask_;
    int state_ = 0;
    int v_ = 0;
    int length_ = 0;
};

} // namespace

TDecodeResult UnReduce(TEntryInput& input, TOutputWindow& output, uint64_t uncompressedSize, int factor,
                       const TZipReport& report)
{
    std::unique_ptr<TFollowerSets> sets(new (std::nothrow) TFollowerSets);
    if (!sets) {
        report("Not enough memory for UnReduce ! Continue...");
        input.SkipRest();
        return TDecodeResult::NoMemory;
    }
    TBitReader bits(input);
    for (int j = 255; j >= 0; --j) {
        const int n = int(bits.Bits(6));
        if (n > kMaxFollowers)
            return TDecodeResult::Stopped;
        sets->count[j] = uint8_t(n);
        for (int i = 0; i < n; ++i)
            sets->byte[j][i] = uint8_t(bits.Bits(8));
    }
    if (bits.PastEnd())
        return TDecodeResult::Done;

    TExpander expander(output, uncompressedSize, factor);
    uint8_t last = 0;
    while (!expander.Full()) {
        const int n = sets->count[last];
        uint8_t c;
        if (n == 0 || bits.Bits(1) != 0) {
            c = uint8_t(bits.Bits(8));
        } else {
            const int index = int(bits.Bits(BitsFor(n)));
            if (index >= n)
                return TDecodeResult::Stopped;
            c = sets->byte[last][index];
        }
        if (bits.PastEnd())
            return TDecodeResult::Done;
        expander.Take(c);
        last = c;
    }
    return bits.WholeByteLeft() ? TDecodeResult::PastLimit : TDecodeResult::Done;
}

} // namespace quarvex
