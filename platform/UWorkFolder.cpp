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
    // A program runs from its build tree when CMake's cache stands in its
    // folder or the one above (tests and benchmarks sit one level down);
    // anywhere else it is installed, and its bin folder is no place for data.
    const std::filesystem::path folder(IncludeTrailingSlash(programFolder));
    std::error_code ec;
    const bool buildTree = std::filesystem::exists(folder / "CMakeCache.txt", ec) ||
                           std::filesystem::exists(folder.parent_path().parent_path() / "CMakeCache.txt", ec);
    if (!buildTree)
        return UserCacheFolder() + "quarvex/ztmp/";
    const std::string beside = IncludeTrailingSlash(programFolder) + "ztmp/";
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
