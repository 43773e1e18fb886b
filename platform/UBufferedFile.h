// A file written through a memory buffer. Every failing system call raises
// the run-time I/O error with the code of its errno (its text names the file
// where the code has no fixed text), a failed flush included.
// A failed write leaves the position at the true end of the bytes written
// and makes every later write raise the same error, so that nothing is
// appended behind a gap, until DropBufferAndSeek or Close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

class TBufferedFile {
public:
    // No mode follows a link at the name (see UFileCreation).
    enum class TMode {
        CreateNew,                  // a new file in place of any file or link there; read and write
        CreateTruncate = CreateNew, // the same, under its earlier name
        OpenExisting,               // an existing file, read and write, positioned at 0
        Append,                     // an existing file, positioned at its end
    };

    TBufferedFile() = default;
    TBufferedFile(const TBufferedFile&) = delete;
    TBufferedFile& operator=(const TBufferedFile&) = delete;
    // Closes the file; a failure of that last flush cannot be reported from
    // here, so owners call Close themselves wherever an error must surface.
    ~TBufferedFile();

    // Opens path; raises EInOutError, or EQuarvexError naming the file when
    // a link or something else that is not a file stands in its way (the
    // file stays closed).
    void Open(const std::string& path, TMode mode);
    bool IsOpen() const { return fd_ >= 0; }

    // Appends n bytes at the current position through the buffer.
    void Write(const void* data, size_t n);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Writes the buffer out, then moves the position to pos.
    void Seek(int64_t pos);
    // After a failed write: forgets the buffered bytes and the failure and
    // moves the position to pos, for repairing what is on disk.
    void DropBufferAndSeek(int64_t pos);
    // True after a write failed (until DropBufferAndSeek or Close).
    int64_t Position() const { return bufferStart_ + int64_t(used_); }
    // Writes the buffer out and returns the size of the file on disk.
    int64_t Size();
    // Writes the buffer out and cuts or extends the file to size bytes.
    void Truncate(int64_t size);
    // The size of the file on disk, without writing the buffer out.
    int64_t DiskSize() const;
    // Reads up to n bytes at pos, bypassing the buffer; returns the count read.
    size_t ReadAt(int64_t pos, void* data, size_t n);
    // As ReadAt, without writing the buffer out first.
    size_t ReadDiskAt(int64_t pos, void* data, size_t n) const;
    // Writes the buffer to the file; on failure the bytes not written are dropped.
    void Flush();
    // Flushes and closes; the file is closed even when the flush raises.
    void Close();

private:
    void WriteThrough(const uint8_t* data, size_t n);
    [[noreturn]] void Raise(int err) const;

    int fd_ = -1;
    std::string path_;
    int failedErrno_ = 0;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    int64_t bufferStart_ = 0; // file offset of buffer_[0]
};

} // namespace quarvex
