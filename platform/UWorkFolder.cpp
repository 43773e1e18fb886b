#include "platform/UWorkFolder.h"

#include "platform/UFileNames.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace quarvex {

namespace {
bool CanWrite(const std::string& folder)
{
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserCacheFolder()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return IncludeTrailingSlash(cache);
    const char* home = std::getenv("HOME");
    return IncludeTrailingSlash(home && home[0] ? home : "/tmp") + ".cache/";
}
} // namespace

std::string ExecutableFolder()
{
    const std::string exe = ExecutablePath();
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string DefaultWorkFolder(const std::string& programFolder)
{
    const std::string beside = IncludeTrailingSlash(programFolder) + "ztmp/";
    std::error_code ec;
    const std::string besideName = beside.substr(0, beside.size() - 1); // a file there fails with the "/"
    const bool stands = std::filesystem::exists(std::filesystem::symlink_status(besideName, ec));
    if (std::filesystem::is_directory(beside, ec) ? CanWrite(beside) : !stands && CanWrite(programFolder))
        return beside;
    return UserCacheFolder() + "quarvex/ztmp/";
}

bool EnsureWorkFolder(const std::string& folder, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "it is not a folder";
        return false;
    }
    if (!CanWrite(folder)) {
        error = "it cannot be written";
        return false;
    }
    return true;
}

} // namespace quarvex
