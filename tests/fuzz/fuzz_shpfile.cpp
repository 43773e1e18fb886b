// Reads the fuzzer's bytes as a shape file: the header, every record and
// every part, then draws them as the map view would, onto a canvas that
// discards everything, with the extent taken from the file's own header.
#include "FuzzSupport.h"
#include "platform/UErrors.h"
#include "preview/UMapView.h"
#include "preview/UViewState.h"
#include "shapefile/USHPFile.h"

using namespace quarvex;

namespace {
class TDiscardCanvas : public TCanvas {
public:
    int Width() const override { return 640; }
    int Height() const override { return 480; }
    void SetPen(TColor, int) override {}
    void SetBrush(TColor) override {}
    void Rectangle(int, int, int, int) override {}
    void Ellipse(int, int, int, int) override {}
    void MoveTo(int, int) override {}
    void LineTo(int, int) override {}
    void Polygon(const TPixel*, int) override {}
};

void WalkRecords(const std::string& path)
{
    TFileSHP reader;
    reader.FileName = path;
    if (!reader.Open())
        return;
    TListaXY part;
    try {
        if (!reader.ReadHeader())
            return;
        while (!reader.Eof()) {
            reader.ReadRecord();
            for (int i = 1; i <= reader.Parts.Count(); ++i)
                reader.GetPart(i, part);
        }
    } catch (const EQuarvexError&) {
    }
    ViewState.MinX = reader.Xmin;
    ViewState.MinY = reader.Ymin;
    ViewState.MaxX = reader.Xmax;
    ViewState.MaxY = reader.Ymax;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = fuzz::MemoryFile(data, size);
    if (fd < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    WalkRecords(path);

    TDiscardCanvas canvas;
    TMapView view;
    view.SetCanvas(&canvas);
    InitViewDefaults();
    view.ClearMap();
    ViewState.ScaleX = ViewState.ScaleY = (ViewState.MaxX - ViewState.MinX) / ViewState.DrawWidth;
    PointRadius = 3;
    view.DrawLayer(path); // records damaged part-way end up in view.Problems
    close(fd);
    return 0;
}
