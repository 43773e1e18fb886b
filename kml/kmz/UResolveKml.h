// Turns the path the user chose into the path of the KML document to convert.
#pragma once

#include "kml/kmz/UUnZip.h"

#include <string>

namespace quarvex {

// path itself unless its extension, upper-cased, is ".KMZ". For an archive:
// the first entry whose upper-cased name holds "DOC.KML" is extracted into
// workFolder (ending in "/") and its path returned; empty text when there is
// no such entry, its name is unsafe, or its file could not be written.
// Raises the I/O error when the archive cannot be read.
std::string ResolveKmlPath(const std::string& path, const std::string& workFolder, TUnZip& unzip);

} // namespace quarvex
