// The program's identity, written into output files and shown in windows.
#pragma once

#include <string>

namespace quarvex {

inline std::string AppVersion = "v2-6.17.08";
// Base address of the maker's web site; always ends in "/".
inline std::string WebBaseAddress = "https://quarvex.example/";

} // namespace quarvex
