// quarvex-convert: the conversion job without windows.
#pragma once

#include <string>
#include <vector>

namespace quarvex {

struct TConvertOptions {
    std::string InputPath;
    std::string WorkDir; // empty: the executable's folder + "ztmp/"
    bool ShowHelp = false;
};

// Fills options from the arguments after the program name; false (with the
// reason in error) on a usage error.
bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error);

// Runs one conversion; returns the exit code: 0 when the job ran to its
// end, 1 when it stopped on an error (printed to standard error).
int RunConvert(const TConvertOptions& options);

extern const char* const kConvertUsage;

} // namespace quarvex
