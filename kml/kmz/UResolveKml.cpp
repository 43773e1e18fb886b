#include "kml/kmz/UResolveKml.h"

#include "platform/UFileNames.h"
#include "platform/UMemoryBudget.h"
#include "shapefile/ULayerSet.h"

#include <sys/stat.h>

namespace quarvex {

namespace {

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

} // namespace

long ChooseKmlEntry(const std::vector<std::string>& lines)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t tab = lines[i].find('\t');
        if (tab == std::string::npos || (tab > 0 && lines[i][tab - 1] == '/'))
            continue;
        if (UpperAscii(lines[i].substr(0, tab)).find("DOC.KML") != std::string::npos)
            return long(i);
    }
    return -1;
}

namespace {

// True when a link stands on the way from folder to name, so that deleting
// the old document could reach outside the folder. A file that stands
// there is no such danger: the extraction reports it as the I/O failure.
bool LinkInTheWay(const std::string& folder, const std::string& name)
{
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
        struct stat st;
        if (::lstat((folder + name.substr(0, slash)).c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return true;
    }
    return false;
}

// The names a conversion keeps as files in the work folder: the fetched
// or extracted doc.kml and each layer's shape file, table and descriptions.
bool IsJobFileName(const std::string& name)
{
    const std::string upper = UpperAscii(name);
    if (upper == "DOC.KML")
        return true;
    for (int kind = 1; kind <= 4; ++kind) {
        const std::string layer = UpperAscii(ExtractFileName(LayerFileName(kind, "")));
        for (const char* ext : {".$M", ".DBF", ".XML"})
            if (upper == ChangeFileExt(layer, ext))
                return true;
    }
    return false;
}

// The first folder of the entry's path that would stand where a later
// conversion needs a file: one named like a file of the job at the top of
// the work folder, or one anywhere whose name holds "DOC.KML", since a later
// archive's document may be extracted there. Empty when there is none.
std::string FolderInPlaceOfAFile(const std::string& entry)
{
    for (size_t start = 0, slash = entry.find('/'); slash != std::string::npos;
         start = slash + 1, slash = entry.find('/', start)) {
        const std::string part = entry.substr(start, slash - start);
        if ((start == 0 && IsJobFileName(part)) || UpperAscii(part).find("DOC.KML") != std::string::npos)
            return entry.substr(0, slash);
    }
    return {};
}

} // namespace

std::string ResolveKmlPath(const std::string& path, const std::string& workFolder, TUnZip& unzip)
{
    if (UpperAscii(ExtractFileExt(path)) != ".KMZ")
        return path;
    std::vector<std::string> lines;
    unzip.ListArchive(path, lines);
    const long chosen = ChooseKmlEntry(lines);
    if (chosen < 0 || size_t(chosen) >= unzip.Listed.size())
        return {};
    const TZipEntryHeader entry = unzip.Listed[size_t(chosen)];
    if (!IsSafeEntryName(entry.Name) || LinkInTheWay(workFolder, entry.Name)) {
        unzip.Report("Unsafe entry name " + entry.Name + ", skipped");
        return {};
    }
    const std::string folder = FolderInPlaceOfAFile(entry.Name);
    if (!folder.empty()) {
        unzip.Report("Entry " + entry.Name + " is not extracted: its folder " + folder +
                     " would stand where a conversion needs a file");
        return {};
    }
    // The document is loaded whole after its extraction: one whose stated
    // size would not fit in memory is refused before anything is written.
    if (SizesAreStated(entry))
        CheckDomFitsInMemory(entry.Name, entry.UncompressedSize);
    DeleteIfExists(workFolder + entry.Name);
    unzip.ArcName = path;
    unzip.Overwrite = true;
    unzip.SetExtrPath(workFolder);
    // The chosen entry by its place, so that no other entry of a like name
    // (the masks would take doc.1.kml or a later doc.kml too) is extracted.
    if (!unzip.ExtractEntryAt(entry.Offset) || unzip.Extracted.size() != 1 || !unzip.Extracted[0].Written)
        return {};
    return workFolder + entry.Name;
}

} // namespace quarvex
