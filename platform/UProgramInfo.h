// The program's identity, written into output files and shown in windows.
#pragma once

#include <string>

#ifndef QUARVEX_VERSION
#error "QUARVEX_VERSION is set by the build (the project's version)"
#endif

namespace quarvex {

inline std::string AppVersion = "v2-6.17.08";
// Base address of the maker's web site; always ends in "/".
inline std::string WebBaseAddress = "https://quarvex.example/";
// The version of this build of the programs (and of their package).
inline const std::string ProgramVersion = QUARVEX_VERSION;

// What --version prints: the program and its version, then the build as
// the About box shows it.
inline std::string VersionText(const std::string& program)
{
    return program + " " + ProgramVersion + "\nBuild: " + AppVersion + "\n";
}

} // namespace quarvex
