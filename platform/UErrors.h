// Error types shared by every module: one base with a message, the run-time
// I/O error with its operating-system style code, and the list-index error.
#pragma once

#include <stdexcept>
#include <string>

namespace quarvex {

// Base of every error the program raises; what() is the text shown to the user.
class EQuarvexError : public std::runtime_error {
public:
    explicit EQuarvexError(const std::string& message) : std::runtime_error(message) {}
};

// Run-time input/output error. Code follows the classic run-time codes:
// 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// 106 "Invalid numeric input"; any other code gives "I/O error <code>",
// unless the error is raised with a text of its own (RaiseIoError).
class EInOutError : public EQuarvexError {
public:
    explicit EInOutError(int code);
    EInOutError(int code, const std::string& message);
    int ErrorCode() const { return code_; }

private:
    int code_;
};

// Raised by the coordinate lists for a position outside 1..Count; the
// message carries the zero-based index, "List index out of bounds (%d)".
class EListError : public EQuarvexError {
public:
    explicit EListError(long long zeroBasedIndex);
};

// The message belonging to an I/O error code.
std::string IoErrorMessage(int code);

// The I/O error code for a POSIX errno value of a file operation.
int IoErrorCodeFromErrno(int err);

// The text of a failed file operation with errno value err: the fixed text
// of its code where the code has one, else the system's own description of
// err, after the name of the file (path) when one is given.
std::string IoErrorText(int err, const std::string& path = {});

// Throws the I/O error for errno value err, with IoErrorText as its message.
[[noreturn]] void RaiseIoError(int err);
[[noreturn]] void RaiseIoError(int err, const std::string& path);

} // namespace quarvex
