// Where the layers of a conversion go: the "ztmp/" folder beside a program
// that runs from its build tree, or the user's cache folder for the program
// (an installed program, or a build folder that cannot be written).
#pragma once

#include <string>

namespace quarvex {

// The folder of the running program, ending with "/".
std::string ExecutableFolder();

// programFolder with one "/" ensured + "ztmp/" when programFolder is in a
// build tree (a CMakeCache.txt in it or in the folder above) and that
// folder exists and can be written, or could be created in programFolder;
// otherwise the user's cache folder ($XDG_CACHE_HOME, else ~/.cache) +
// "/quarvex/ztmp/".
std::string DefaultWorkFolder(const std::string& programFolder);

// Creates folder and its parents when missing; false, with the reason in
// error, when it cannot be created or is not a folder that can be written.
bool EnsureWorkFolder(const std::string& folder, std::string& error);

} // namespace quarvex
