// Lists and extracts an archive made of the fuzzer's bytes, and resolves it
// as a KMZ the way the open command does.
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
    try {
        std::vector<std::string> lines;
        unzip.ListArchive(archive, lines);
        unzip.ArcName = archive;
        unzip.SetExtrPath(work + "out");
        unzip.Overwrite = true;
        unzip.Extract();
        ResolveKmlPath(archive, work + "resolve/", unzip);
    } catch (const EQuarvexError&) {
    }
    return 0;
}
