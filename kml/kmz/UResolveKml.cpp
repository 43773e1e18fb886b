#include "kml/kmz/UResolveKml.h"

#include "platform/UFileNames.h"
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

std::string ChooseKmlEntry(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string name = line.substr(0, tab);
        if (UpperAscii(name).find("DOC.KML") != std::string::npos)
            return name;
    }
    return {};
}

// True when no folder on the way from folder to name is a link or a file,
// so that deleting the old document cannot reach outside the folder.
bool StaysInside(const std::string& folder, const std::string& name)
{
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
        struct stat st;
        if (::lstat((folder + name.substr(0, slash)).c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
}

} // namespace

std::string ResolveKmlPath(const std::string& path, const std::string& workFolder, TUnZip& unzip)
{
    if (UpperAscii(ExtractFileExt(path)) != ".KMZ")
        return path;
    std::vector<std::string> lines;
    unzip.ListArchive(path, lines);
    const std::string entry = ChooseKmlEntry(lines);
    if (entry.empty())
        return {};
    if (!IsSafeEntryName(entry) || !StaysInside(workFolder, entry)) {
        unzip.Report("Unsafe entry name " + entry + ", skipped");
        return {};
    }
    DeleteIfExists(workFolder + entry);
    unzip.ArcName = path;
    unzip.Overwrite = true;
    unzip.SetExtrPath(workFolder);
    unzip.Files = {entry};
    if (!unzip.Extract())
        return {};
    for (const TExtractedEntry& extracted : unzip.Extracted)
        if (extracted.Name == entry)
            return extracted.Written ? workFolder + entry : std::string();
    return {};
}

} // namespace quarvex
