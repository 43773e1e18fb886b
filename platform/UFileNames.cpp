#include "platform/UFileNames.h"

#include <climits>
#include <unistd.h>

namespace quarvex {

namespace {
// Position of the extension's "." in path, or npos.
size_t ExtensionDot(const std::string& path)
{
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}
} // namespace

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    size_t dot = ExtensionDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string ExtractFileExt(const std::string& path)
{
    size_t dot = ExtensionDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ExtractFileName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingSlash(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path;
    return path + "/";
}

std::string ExecutablePath()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string("quarvex");
}

} // namespace quarvex
