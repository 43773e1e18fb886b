#include "platform/UBufferedFile.h"

#include "platform/UErrors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

TBufferedFile::~TBufferedFile()
{
    try {
        Close();
    } catch (...) {
        // Nowhere to report it; see the header.
    }
}

void TBufferedFile::Open(const std::string& path, TMode mode)
{
    Close();
    int flags = O_RDWR | O_CLOEXEC;
    if (mode == TMode::CreateTruncate)
        flags |= O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        RaiseIoError(errno);
    off_t start = 0;
    if (mode == TMode::Append) {
        start = ::lseek(fd, 0, SEEK_END);
        if (start < 0) {
            int err = errno;
            ::close(fd);
            RaiseIoError(err);
        }
    }
    fd_ = fd;
    failedErrno_ = 0;
    buffer_.resize(kBufferSize);
    used_ = 0;
    bufferStart_ = start;
}

void TBufferedFile::WriteThrough(const uint8_t* data, size_t n)
{
    // bufferStart_ follows the bytes that really reached the file, so that
    // after a failure the position is the true end of what was written.
    while (n > 0) {
        ssize_t written = ::pwrite(fd_, data, n, bufferStart_);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            failedErrno_ = errno;
            RaiseIoError(failedErrno_);
        }
        if (written == 0) {
            failedErrno_ = ENOSPC;
            RaiseIoError(ENOSPC);
        }
        data += written;
        n -= size_t(written);
        bufferStart_ += written;
    }
}

void TBufferedFile::Write(const void* data, size_t n)
{
    if (fd_ < 0)
        RaiseIoError(EBADF);
    if (failedErrno_ != 0)
        RaiseIoError(failedErrno_);
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (used_ + n > buffer_.size()) {
        Flush();
        if (n >= buffer_.size()) {
            WriteThrough(bytes, n);
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, bytes, n);
    used_ += n;
}

void TBufferedFile::Flush()
{
    if (fd_ < 0 || used_ == 0)
        return;
    if (failedErrno_ != 0)
        RaiseIoError(failedErrno_);
    size_t pending = used_;
    used_ = 0; // dropped on failure; Position() is then the end on disk
    WriteThrough(buffer_.data(), pending);
}

void TBufferedFile::Seek(int64_t pos)
{
    Flush();
    bufferStart_ = pos;
}

void TBufferedFile::DropBufferAndSeek(int64_t pos)
{
    used_ = 0;
    failedErrno_ = 0;
    bufferStart_ = pos;
}

int64_t TBufferedFile::Size()
{
    Flush();
    return DiskSize();
}

int64_t TBufferedFile::DiskSize() const
{
    if (fd_ < 0)
        RaiseIoError(EBADF);
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        RaiseIoError(errno);
    return int64_t(st.st_size);
}

void TBufferedFile::Truncate(int64_t size)
{
    Flush();
    if (::ftruncate(fd_, off_t(size)) != 0)
        RaiseIoError(errno);
}

size_t TBufferedFile::ReadAt(int64_t pos, void* data, size_t n)
{
    Flush();
    return ReadDiskAt(pos, data, n);
}

size_t TBufferedFile::ReadDiskAt(int64_t pos, void* data, size_t n) const
{
    size_t done = 0;
    auto* bytes = static_cast<uint8_t*>(data);
    while (done < n) {
        ssize_t got = ::pread(fd_, bytes + done, n - done, off_t(pos) + off_t(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            RaiseIoError(errno);
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return done;
}

void TBufferedFile::Close()
{
    if (fd_ < 0)
        return;
    int fd = fd_;
    try {
        Flush();
    } catch (...) {
        fd_ = -1;
        failedErrno_ = 0;
        ::close(fd);
        throw;
    }
    fd_ = -1;
    failedErrno_ = 0;
    if (::close(fd) != 0 && errno != EINTR)
        RaiseIoError(errno);
}

} // namespace quarvex
