// Turns the path the user chose into the path of the KML document to convert.
#pragma once

#include "kml/kmz/UUnZip.h"

#include <string>
#include <vector>

namespace quarvex {

// The place in lines (listing lines) of the first entry whose name (the
// text before the first TAB) holds "DOC.KML" when upper-cased; a folder
// entry holds no document and is passed over. -1 when there is none.
long ChooseKmlEntry(const std::vector<std::string>& lines);

// path itself unless its extension, upper-cased, is ".KMZ". For an archive:
// the first file entry whose upper-cased name holds "DOC.KML" is extracted,
// that entry alone, into workFolder (ending in "/") and its path returned;
// empty text when there is no such entry, its name is unsafe, one of its
// folders would stand where a conversion needs a file, or its file could not
// be written whole (unzip.MaxEntrySize bounds it). Raises the I/O error when
// the archive cannot be read, and EQuarvexError naming the folder when a
// folder stands where the document is to go, or naming the entry when the
// DOM of the size it states would not fit in memory (nothing is extracted).
std::string ResolveKmlPath(const std::string& path, const std::string& workFolder, TUnZip& unzip);

} // namespace quarvex
