// One program per work folder: every program holds an exclusive lock on the
// work folder it uses while it uses it (the desktop program for its whole
// run, quarvex-convert for its job), so that two runs never write into each
// other's layers. The lock is an flock on the file .quarvex-lock inside the
// folder; the system releases it when the program ends, however it ends.
#pragma once

#include <string>

namespace quarvex {

// The name of the lock file inside a work folder.
extern const char* const kWorkFolderLockName;

// The numbered folders tried beside a default work folder that is in use
// run from 2 to this.
constexpr int kMaxNumberedWorkFolder = 99;

enum class TLockOutcome {
    Locked, // the lock is held now
    InUse,  // another holder has it (another process, or another lock of this one)
    Failed, // the lock file cannot be made or locked; the reason is given
};

class TWorkFolderLock {
public:
    TWorkFolderLock() = default;
    ~TWorkFolderLock() { Release(); }
    TWorkFolderLock(const TWorkFolderLock&) = delete;
    TWorkFolderLock& operator=(const TWorkFolderLock&) = delete;

    // Takes the lock of folder (an existing folder, ending in "/") without
    // waiting; a lock held before is released first. On Failed the reason
    // is in error. The lock file is made when missing, never through a link.
    TLockOutcome TryLock(const std::string& folder, std::string& error);
    // Gives the lock up; nothing when none is held.
    void Release();
    bool Held() const { return fd_ >= 0; }
    // The folder locked, empty when none is.
    const std::string& Folder() const { return folder_; }

private:
    int fd_ = -1;
    std::string folder_;
};

// folder ("…/ztmp/") with "-n" after its name: "…/ztmp-2/".
std::string NumberedWorkFolder(const std::string& folder, int n);

// For a work folder the user named: creates folder when missing and locks
// it. False with the message in error when it cannot be used, or when
// another program holds it ("the work folder … is in use by another
// Quarvex process").
bool LockWorkFolder(const std::string& folder, TWorkFolderLock& lock, std::string& error);

// For the default work folder: locks it, or, while another program holds
// it, the first free numbered folder beside it (ztmp-2/, ztmp-3/ …), made
// when missing; folders left by earlier runs are taken again, none is piled
// up. The folder used is lock.Folder(); notice then says which one was
// taken instead of the default (empty when the default was). False with the
// message in error when the default cannot be used, or no numbered one can.
bool LockDefaultWorkFolder(const std::string& folder, TWorkFolderLock& lock, std::string& notice,
                           std::string& error);

} // namespace quarvex
