// Lists and extracts an archive made of the fuzzer's bytes (by masks and
// entry by entry), and resolves it as a KMZ the way the open command does.
#include "FuzzSupport.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UErrors.h"

#include <fstream>

using namespace quarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string work = fuzz::FreshFolder("unzip");
    const std::string archive = work + "input.kmz";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    TUnZip unzip;
    unzip.OnError = [](TUnZip&, const std::string&) {};
    unzip.MaxEntrySize = 1 << 24; // what a few kilobytes can decode to stays quick
    try {
        std::vector<std::string> lines;
        unzip.ListArchive(archive, lines);
        unzip.ArcName = archive;
        unzip.SetExtrPath(work + "out");
        unzip.Overwrite = true;
        unzip.Extract();
        const std::vector<TZipEntryHeader> listed = unzip.Listed;
        for (size_t i = 0; i < listed.size() && i < 8; ++i)
            unzip.ExtractEntryAt(listed[i].Offset);
        ResolveKmlPath(archive, work + "resolve/", unzip);
    } catch (const EQuarvexError&) {
    }
    return 0;
}
