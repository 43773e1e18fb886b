#include "platform/UWorkFolderLock.h"

#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "platform/UWorkFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

const char* const kWorkFolderLockName = ".quarvex-lock";

namespace {

std::string InUseMessage(const std::string& folder)
{
    return "the work folder " + folder + " is in use by another Quarvex process";
}

// Creates folder when missing and tries its lock; the outcome, and on
// Failed the message in error.
TLockOutcome EnsureAndLock(const std::string& folder, TWorkFolderLock& lock, std::string& error)
{
    std::string reason;
    if (!EnsureWorkFolder(folder, reason)) {
        error = "cannot use the work folder " + folder + ": " + reason;
        return TLockOutcome::Failed;
    }
    const TLockOutcome outcome = lock.TryLock(folder, reason);
    if (outcome == TLockOutcome::InUse)
        error = InUseMessage(folder);
    else if (outcome == TLockOutcome::Failed)
        error = "cannot lock the work folder " + folder + ": " + reason;
    return outcome;
}

} // namespace

TLockOutcome TWorkFolderLock::TryLock(const std::string& folder, std::string& error)
{
    Release();
    const std::string path = IncludeTrailingSlash(folder) + kWorkFolderLockName;
    // The lock file stays for good: removing it would let two programs lock
    // two different files of one name. Read access is enough for flock, so
    // users who share a folder share its lock too.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ELOOP ? path + ": a link stands there, and a link is never followed" : IoErrorText(errno, path);
        return TLockOutcome::Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + ": it is not a file";
        return TLockOutcome::Failed;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return TLockOutcome::InUse;
        error = IoErrorText(err, path);
        return TLockOutcome::Failed;
    }
    fd_ = fd;
    folder_ = IncludeTrailingSlash(folder);
    return TLockOutcome::Locked;
}

void TWorkFolderLock::Release()
{
    if (fd_ < 0)
        return;
    ::close(fd_); // the lock goes with the last descriptor of the file
    fd_ = -1;
    folder_.clear();
}

std::string NumberedWorkFolder(const std::string& folder, int n)
{
    std::string name = IncludeTrailingSlash(folder);
    name.pop_back();
    return name + "-" + std::to_string(n) + "/";
}

bool LockWorkFolder(const std::string& folder, TWorkFolderLock& lock, std::string& error)
{
    return EnsureAndLock(IncludeTrailingSlash(folder), lock, error) == TLockOutcome::Locked;
}

bool LockDefaultWorkFolder(const std::string& folder, TWorkFolderLock& lock, std::string& notice,
                           std::string& error)
{
    notice.clear();
    const std::string first = IncludeTrailingSlash(folder);
    const TLockOutcome outcome = EnsureAndLock(first, lock, error);
    if (outcome != TLockOutcome::InUse)
        return outcome == TLockOutcome::Locked;
    // A numbered folder that cannot be used (a file of that name, a folder
    // that cannot be written) is passed over like one in use.
    std::string lastError;
    for (int n = 2; n <= kMaxNumberedWorkFolder; ++n) {
        const std::string numbered = NumberedWorkFolder(first, n);
        std::string why;
        const TLockOutcome taken = EnsureAndLock(numbered, lock, why);
        if (taken == TLockOutcome::Locked) {
            notice = InUseMessage(first) + "; this one uses " + numbered;
            error.clear();
            return true;
        }
        if (taken == TLockOutcome::Failed)
            lastError = why;
    }
    error = InUseMessage(first) + ", and so are the numbered folders beside it" +
            (lastError.empty() ? std::string() : " (" + lastError + ")");
    return false;
}

} // namespace quarvex
