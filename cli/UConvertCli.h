// quarvex-convert: the conversion job without windows.
#pragma once

#include "export/UExport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

struct TConvertOptions {
    std::string InputPath;          // the first FILE
    std::vector<std::string> Inputs; // every FILE; more than one only with --export
    bool DoExport = false;
    TExportOptions Export;
    std::string WorkDir; // empty: the executable's folder + "ztmp/"
    std::string PngPath; // empty: no map picture
    int PictureWidth = 800;
    int PictureHeight = 600;
    bool ShowHelp = false;
    bool ShowVersion = false;
};

// Reads a byte count: digits, optionally followed by K, M or G (or KiB,
// MiB, GiB; any case) for 1024, 1024^2, 1024^3; false for 0, for anything
// else and for a value past 2^64.
bool ParseByteSize(const std::string& text, uint64_t& bytes);

// Reads "WxH" (each 1 to kMaxPictureSide); false when text is not such a size.
bool ParsePictureSize(const std::string& text, int& width, int& height);

// Fills options from the arguments after the program name; false (with the
// reason in error) on a usage error.
bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error);

// Runs one conversion; returns the exit code: 0 when the job ran to its
// end, 1 when it stopped on an error (printed to standard error).
int RunConvert(const TConvertOptions& options);

extern const char* const kConvertUsage;

} // namespace quarvex
