// Converts a KML file once, then times full redraws of the map (DrawMap,
// which reads every visible layer from disk again) into a 1280 x 800 image,
// as the map page does on every resize. Prints the median and the spread.
// Usage: bench_map_view KML [WORK_FOLDER] [REDRAWS]
#include "app/UQtCanvas.h"
#include "kml/UParse.h"
#include "platform/UFileNames.h"
#include "preview/UMapView.h"
#include "preview/UViewState.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <vector>

using namespace quarvex;

namespace {

int64_t LayerBytes()
{
    int64_t bytes = 0;
    for (int kind = 1; kind <= 4; ++kind)
        bytes += int64_t(std::filesystem::file_size(LayerOf(kind).Name));
    return bytes;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_map_view KML [WORK_FOLDER] [REDRAWS]\n");
        return 2;
    }
    const std::string work = IncludeTrailingSlash(argc > 2 ? argv[2] : "/tmp/quarvex-bench-map");
    const int redraws = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
    std::filesystem::create_directories(work);

    TSilentJobView quiet;
    TMyInfoParser layers;
    layers.SetDefaults();
    CurrentLayerSet = &layers;
    TConversionJob job(layers, quiet, work);
    job.Begin(argv[1], ExtractFileName(argv[1]));
    job.RunJob();
    CurrentLayerSet = nullptr;

    QImage image(1280, 800, QImage::Format_RGB32);
    TQtCanvas canvas(image);
    TMapView view;
    view.SetCanvas(&canvas);
    const bool loaded = ViewState.Loaded;
    InitViewDefaults();
    ViewState.Loaded = loaded;
    PointRadius = PointRadiusFor(PointLayer.Count, int64_t(PointLayer.Count) + PathLayer.Count +
                                                       OuterPolygonLayer.Count + InnerPolygonLayer.Count);
    for (TLayerCheck* check : {&view.Checks.CheckPoint, &view.Checks.CheckPath, &view.Checks.CheckPolyIn,
                               &view.Checks.CheckPolyOut}) {
        check->OnClick = nullptr;
        check->SetChecked(true);
    }

    std::vector<double> seconds;
    for (int i = 0; i < redraws; ++i) {
        const auto start = std::chrono::steady_clock::now();
        view.DrawMap();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    // Where a redraw goes: each layer on its own, median of the same count.
    std::string perLayer;
    const std::pair<const char*, TKMLMeta*> order[] = {
        {"outer rings", &OuterPolygonLayer}, {"inner rings", &InnerPolygonLayer}, {"paths", &PathLayer},
        {"points", &PointLayer}};
    for (auto [name, layer] : order) {
        std::vector<double> times;
        for (int i = 0; i < redraws; ++i) {
            const auto start = std::chrono::steady_clock::now();
            view.DrawLayer(layer->Name);
            times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        char text[64];
        std::snprintf(text, sizeof text, "%s%s %.3f s", perLayer.empty() ? "" : ", ", name, times[times.size() / 2]);
        perLayer += text;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("layers: %d points, %d paths, %d outer and %d inner rings, %.1f MB on disk\n", PointLayer.Count,
                PathLayer.Count, OuterPolygonLayer.Count, InnerPolygonLayer.Count, LayerBytes() / 1e6);
    std::printf("DrawMap 1280x800: median %.3f s of %d redraws (fastest %.3f s, slowest %.3f s), %.0f MB/s of "
                "layers, peak memory %ld KiB%s\n",
                seconds[seconds.size() / 2], redraws, seconds.front(), seconds.back(),
                LayerBytes() / 1e6 / seconds[seconds.size() / 2], usage.ru_maxrss,
                view.Problems.empty() ? "" : " (a layer could not be drawn in full)");
    std::printf("by layer: %s\n", perLayer.c_str());
    return 0;
}
