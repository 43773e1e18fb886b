#include "platform/UFileCreation.h"

#include "platform/UErrors.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {

// What stands at a name, for the messages; empty for the kinds a new file
// may replace.
std::string KindInTheWay(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISBLK(mode))
        return "a block device";
    return {};
}

// Clears the O_NONBLOCK an open was given, so that the open of a pipe put
// at the name could not wait for a writer.
void Blocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

[[noreturn]] void Refuse(const char* action, const std::string& path, const std::string& why)
{
    throw EQuarvexError(std::string(action) + " \"" + path + "\": " + why);
}

// A character device is written as it is; its descriptor, or -1 when the
// name no longer holds one (it was replaced since it was looked at).
int OpenDevice(const std::string& path, int access)
{
    const int fd = ::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        RaiseIoError(errno, path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        Blocking(fd);
        return fd;
    }
    ::close(fd);
    return -1;
}

} // namespace

int CreateFileNoFollow(const std::string& path, int access)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISCHR(st.st_mode)) {
            const int fd = OpenDevice(path, access);
            if (fd >= 0)
                return fd;
            Refuse("Cannot create", path, "something else was put at that name while it was being replaced");
        }
        const std::string kind = KindInTheWay(st.st_mode);
        if (!kind.empty())
            Refuse("Cannot create", path, kind + " stands there, not a file");
        // Removes the file, or the link itself: what a link points to stays untouched.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            RaiseIoError(errno, path);
    }
    const int fd = ::open(path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
        return fd;
    if (errno == EEXIST)
        Refuse("Cannot create", path, "something else was put at that name while it was being replaced");
    RaiseIoError(errno, path);
}

int OpenOwnFile(const std::string& path, int access)
{
    const int fd = ::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            Refuse("Cannot open", path, "a link stands there, and a link is never followed");
        RaiseIoError(errno, path);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        RaiseIoError(err, path);
    }
    if (S_ISCHR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1)) {
        Blocking(fd);
        return fd;
    }
    ::close(fd);
    if (S_ISREG(st.st_mode))
        Refuse("Cannot open", path, "the file has other names (hard links) now");
    const std::string kind = KindInTheWay(st.st_mode);
    Refuse("Cannot open", path, (kind.empty() ? "something" : kind) + " stands there, not a file");
}

} // namespace quarvex
