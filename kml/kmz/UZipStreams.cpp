#include "kml/kmz/UZipStreams.h"

#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

bool TArchiveReader::Refill()
{
    begin_ = 0;
    end_ = 0;
    while (true) {
        ssize_t got = ::pread(fd_, buffer_, sizeof buffer_, off_t(filePos_));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            RaiseIoError(errno);
        }
        end_ = size_t(got);
        filePos_ += uint64_t(got);
        return got > 0;
    }
}

size_t TArchiveReader::Read(uint8_t* data, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (begin_ == end_ && !Refill())
            break;
        size_t take = std::min(n - done, end_ - begin_);
        std::memcpy(data + done, buffer_ + begin_, take);
        begin_ += take;
        done += take;
    }
    return done;
}

bool TArchiveReader::Skip(uint64_t n)
{
    const uint64_t buffered = end_ - begin_;
    if (n <= buffered) {
        begin_ += size_t(n);
        return true;
    }
    n -= buffered;
    begin_ = end_ = 0;
    // Position past the skipped bytes, then check the file really has them.
    filePos_ += n;
    if (Refill())
        return true;
    struct stat st;
    return ::fstat(fd_, &st) == 0 && uint64_t(st.st_size) >= filePos_;
}

void TArchiveReader::Seek(uint64_t offset)
{
    begin_ = end_ = 0;
    filePos_ = offset;
}

uint64_t TArchiveReader::FileSize() const
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        RaiseIoError(errno);
    return uint64_t(st.st_size);
}

bool TEntryInput::Refill()
{
    if (remaining_ == 0 || ended_)
        return false;
    size_t want = size_t(std::min<uint64_t>(remaining_, sizeof chunk_));
    got_ = archive_.Read(chunk_, want);
    pos_ = 0;
    remaining_ -= got_;
    if (got_ < want)
        ended_ = true;
    return got_ > 0;
}

void TEntryInput::ReportProgress(size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        // remaining counts the bytes not yet read before this one
        const uint64_t left = size_ - consumed_;
        ++consumed_;
        progress_(int16_t(100 - std::nearbyint(double(left) * 100.0 / double(size_))));
    }
}

size_t TEntryInput::Read(uint8_t* data, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (pos_ == got_ && !Refill())
            break;
        size_t take = std::min(n - done, got_ - pos_);
        std::memcpy(data + done, chunk_ + pos_, take);
        if (progress_)
            ReportProgress(take);
        pos_ += take;
        done += take;
    }
    return done;
}

bool TEntryInput::SkipRest()
{
    pos_ = got_ = 0;
    if (ended_)
        return false;
    bool ok = archive_.Skip(remaining_);
    remaining_ = 0;
    return ok;
}

void TOutputWindow::Write(const uint8_t* data, size_t size)
{
    while (size > 0) {
        if (total_ >= limit_) {
            overflowed_ = true;
            return;
        }
        const size_t take = size_t(std::min<uint64_t>({uint64_t(size), kZipBufferSize - pos_, limit_ - total_}));
        std::memcpy(window_ + pos_, data, take);
        pos_ += take;
        total_ += take;
        data += take;
        size -= take;
        if (pos_ == kZipBufferSize)
            Flush();
    }
}

void TOutputWindow::Flush()
{
    if (pos_ > flushedUpTo_ && sink_) {
        crc_.Update(window_ + flushedUpTo_, pos_ - flushedUpTo_);
        sink_(window_ + flushedUpTo_, pos_ - flushedUpTo_);
    }
    if (pos_ == kZipBufferSize)
        pos_ = 0;
    flushedUpTo_ = pos_;
}

} // namespace quarvex
