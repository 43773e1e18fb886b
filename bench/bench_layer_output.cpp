// Writes 1,000,000 point records with their table rows and descriptions
// entries into a scratch folder and reports records per second.
// Usage: bench_layer_output [RECORDS] [FOLDER]
#include "platform/UFileNames.h"
#include "shapefile/UAttributeTable.h"
#include "shapefile/ULayerSet.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

using namespace quarvex;

int main(int argc, char** argv)
{
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string folder = IncludeTrailingSlash(argc > 2 ? argv[2] : "/tmp");
    const auto start = std::chrono::steady_clock::now();

    TMyInfoParser set;
    set.SetDefaults();
    set.Prepare(folder);
    TAttributeTable table;
    for (int kind = 1; kind <= 4; ++kind)
        table.CreateAttributeTable(ChangeFileExt(LayerOf(kind).Name, ".dbf"));
    table.OpenAttributeTable(ChangeFileExt(PointLayer.Name, ".dbf"));
    set.OpenDescriptions(kPointsKind);
    const std::string name = "Placemark with a typical name";
    for (int i = 1; i <= records; ++i) {
        set.PointWriter->AddPoint(-120.0 + i * 1e-6, 35.0 + i * 1e-6);
        table.AppendAttributeRecord(i, name);
        set.AddDescription(i, name);
    }
    table.CloseAttributeTable();
    set.CloseDescriptions();
    set.Finish();

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d point records with table rows in %.3f s: %.0f records/s, peak memory %ld KiB\n", records,
                seconds, records / seconds, usage.ru_maxrss);
    return 0;
}
