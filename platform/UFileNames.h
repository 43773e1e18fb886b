// File-name helpers on "/"-separated paths.
#pragma once

#include <string>

namespace quarvex {

// path with everything from the last "." of its file-name part replaced by
// ext (which starts with "."); ext is appended when the name has no ".".
std::string ChangeFileExt(const std::string& path, const std::string& ext);

// The extension of path's file-name part, from its last "." on; empty when none.
std::string ExtractFileExt(const std::string& path);

// The file-name part of path, after its last "/".
std::string ExtractFileName(const std::string& path);

// path with a "/" at its end, added when missing.
std::string IncludeTrailingSlash(const std::string& path);

// The full path of the running program.
std::string ExecutablePath();

} // namespace quarvex
