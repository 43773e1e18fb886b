#include "platform/UBufferedFile.h"

#include "platform/UErrors.h"
#include "platform/UFileCreation.h"

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

void TBufferedFile::Raise(int err) const
{
    RaiseIoError(err, path_);
}

void TBufferedFile::Open(const std::string& path, TMode mode)
{
    Close();
    const int fd = mode == TMode::CreateNew ? CreateFileNoFollow(path, O_RDWR) : OpenOwnFile(path, O_RDWR);
    off_t start = 0;
    if (mode == TMode::Append) {
        start = ::lseek(fd, 0, SEEK_END);
        if (start < 0) {
            int err = errno;
            ::close(fd);
            RaiseIoError(err, path);
        }
    }
    fd_ = fd;
    path_ = path;
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
            Raise(failedErrno_);
        }
        if (written == 0) {
            failedErrno_ = ENOSPC;
            Raise(ENOSPC);
        }
        data += written;
        n -= size_t(written);
        bufferStart_ += written;
    }
}

void TBufferedFile::Write(const void* data, size_t n)
{
    if (fd_ < 0)
        Raise(EBADF);
    if (failedErrno_ != 0)
        Raise(failedErrno_);
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
        Raise(failedErrno_);
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
        Raise(EBADF);
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        Raise(errno);
    return int64_t(st.st_size);
}

void TBufferedFile::Truncate(int64_t size)
{
    Flush();
    if (::ftruncate(fd_, off_t(size)) != 0)
        Raise(errno);
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
            Raise(errno);
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
        Raise(errno);
}

} // namespace quarvex
