#include "platform/UErrors.h"

#include <cerrno>
#include <cstring>

namespace quarvex {

namespace {
// errno values that would read as one of the reserved codes above (EIO is 5,
// the same number as "File access denied") are shifted out of their way.
constexpr int kUnmappedErrnoOffset = 1000;

bool IsReservedCode(int code)
{
    return (code >= 2 && code <= 5) || code == 100 || code == 101 || code == 106;
}
} // namespace

std::string IoErrorMessage(int code)
{
    switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
    }
}

EInOutError::EInOutError(int code) : EQuarvexError(IoErrorMessage(code)), code_(code) {}

EInOutError::EInOutError(int code, const std::string& message) : EQuarvexError(message), code_(code) {}

EListError::EListError(long long zeroBasedIndex)
    : EQuarvexError("List index out of bounds (" + std::to_string(zeroBasedIndex) + ")")
{
}

int IoErrorCodeFromErrno(int err)
{
    switch (err) {
    case ENOENT: return 2;
    case ENAMETOOLONG:
    case EINVAL:
    case ENOTDIR: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 101;
    default: return IsReservedCode(err) ? err + kUnmappedErrnoOffset : err;
    }
}

std::string IoErrorText(int err, const std::string& path)
{
    const int code = IoErrorCodeFromErrno(err);
    if (IsReservedCode(code))
        return IoErrorMessage(code);
    // "I/O error 1005" tells nobody what happened; the system's words do.
    char buffer[256];
    const std::string description = strerror_r(err, buffer, sizeof buffer);
    return path.empty() ? description : path + ": " + description;
}

void RaiseIoError(int err)
{
    throw EInOutError(IoErrorCodeFromErrno(err), IoErrorText(err));
}

void RaiseIoError(int err, const std::string& path)
{
    throw EInOutError(IoErrorCodeFromErrno(err), IoErrorText(err, path));
}

} // namespace quarvex
