// The byte and bit streams of the archive reader: the archive read through
// an 8192-byte buffer, one entry's compressed bytes (never past its size),
// an LSB-first bit reader over them, and the 8192-byte output window that
// feeds the target file and the CRC.
#pragma once

#include "kml/kmz/UCrc32.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarvex {

constexpr size_t kZipBufferSize = 8192;

// An archive read from its start through an 8192-byte buffer.
class TArchiveReader {
public:
    explicit TArchiveReader(int fd) : fd_(fd) {}
    // Reads up to n bytes; fewer only at the end of the file. Raises the
    // I/O error when the system call fails.
    size_t Read(uint8_t* data, size_t n);
    // Passes over n bytes; false when the file ended first.
    bool Skip(uint64_t n);
    // The offset of the next byte Read gives, and a move to another one.
    uint64_t Position() const { return filePos_ - (end_ - begin_); }
    void Seek(uint64_t offset);
    // The length of the file; raises the I/O error when it cannot be taken.
    uint64_t FileSize() const;
    int Fd() const { return fd_; }

private:
    bool Refill();

    int fd_;
    uint8_t buffer_[kZipBufferSize];
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t filePos_ = 0; // offset of buffer_[end_]
};

// One entry's compressed bytes. A read past the compressed size, or past the
// end of the file, gets the end-of-data mark (-1) instead.
class TEntryInput {
public:
    using TProgress = std::function<void(int16_t percent)>;

    TEntryInput(TArchiveReader& archive, uint64_t compressedSize, TProgress progress = {})
        : archive_(archive), size_(compressedSize), remaining_(compressedSize), progress_(std::move(progress))
    {
    }
    int ReadByte()
    {
        if (pos_ == got_ && !Refill())
            return -1;
        if (progress_)
            ReportProgress(1);
        return chunk_[pos_++];
    }
    // Reads up to n bytes; returns how many there were.
    size_t Read(uint8_t* data, size_t n);
    // Passes over whatever is left of the entry; false when the file ended first.
    bool SkipRest();
    // True while at least one more byte of the entry can be read.
    bool HasMore() { return pos_ < got_ || Refill(); }

private:
    bool Refill();
    void ReportProgress(size_t count);

    TArchiveReader& archive_;
    uint64_t size_;
    uint64_t remaining_; // not yet taken from the archive
    uint64_t consumed_ = 0;
    TProgress progress_;
    uint8_t chunk_[1024];
    size_t pos_ = 0;
    size_t got_ = 0;
    bool ended_ = false;
};

// Bits taken from the low end of each byte first.
class TBitReader {
public:
    explicit TBitReader(TEntryInput& input) : input_(input) {}
    // The next n bits (0..24), first bit in bit 0. Past the end of the data
    // the missing bits are 0 and PastEnd becomes true.
    uint32_t Bits(int n)
    {
        Fill(n);
        uint32_t value = bits_ & Mask(n);
        Drop(n);
        return value;
    }
    // The next n bits without consuming them; missing bits are 0.
    uint32_t Peek(int n)
    {
        Fill(n);
        return bits_ & Mask(n);
    }
    void Drop(int n)
    {
        if (count_ < n) {
            pastEnd_ = true;
            bits_ = 0;
            count_ = 0;
            return;
        }
        bits_ >>= n;
        count_ -= n;
    }
    bool PastEnd() const { return pastEnd_; }
    // True when a whole byte of input is left after the bits consumed so
    // far: data beyond the padding of the last byte.
    bool WholeByteLeft() { return count_ >= 8 || (!inputEnded_ && input_.HasMore()); }

private:
    static uint32_t Mask(int n) { return (uint32_t(1) << n) - 1; }
    void Fill(int n)
    {
        while (count_ < n && !inputEnded_) {
            int byte = input_.ReadByte();
            if (byte < 0) {
                inputEnded_ = true;
                break;
            }
            bits_ |= uint32_t(byte) << count_;
            count_ += 8;
        }
    }

    TEntryInput& input_;
    uint32_t bits_ = 0;
    int count_ = 0; // bits in bits_ that came from the input
    bool inputEnded_ = false;
    bool pastEnd_ = false;
};

// The last 8192 bytes of output, written out to the sink whenever full.
// Bytes before the start of the output read as zeros. Output stops at the
// limit: a byte beyond it is dropped and marks the window overflowed. The
// CRC is kept only for a window with a sink.
class TOutputWindow {
public:
    using TSink = std::function<void(const uint8_t* data, size_t size)>;

    explicit TOutputWindow(TSink sink) : sink_(std::move(sink)) {}
    void SetLimit(uint64_t limit) { limit_ = limit; }
    uint64_t Limit() const { return limit_; }
    bool Overflowed() const { return overflowed_; }
    void Put(uint8_t byte)
    {
        if (total_ >= limit_) {
            overflowed_ = true;
            return;
        }
        window_[pos_++] = byte;
        ++total_;
        if (pos_ == kZipBufferSize)
            Flush();
    }
    // Copies length bytes from distance bytes back (1..8192).
    void CopyBack(size_t distance, size_t length)
    {
        for (size_t i = 0; i < length; ++i)
            Put(window_[(pos_ + kZipBufferSize - distance) % kZipBufferSize]);
    }
    void Write(const uint8_t* data, size_t size);
    // Hands the bytes written since the last flush to the sink.
    void Flush();
    uint64_t Total() const { return total_; }
    uint32_t Crc() const { return crc_.Value(); }

private:
    TSink sink_;
    uint8_t window_[kZipBufferSize] = {};
    size_t pos_ = 0;
    size_t flushedUpTo_ = 0;
    uint64_t total_ = 0;
    uint64_t limit_ = UINT64_MAX;
    bool overflowed_ = false;
    TCrc32 crc_;
};

} // namespace quarvex
