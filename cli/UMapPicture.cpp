#include "cli/UMapPicture.h"

#include "app/UQtCanvas.h"
#include "preview/UMapView.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"

#include "platform/UBufferedFile.h"
#include "platform/UErrors.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <filesystem>

namespace quarvex {

bool SaveMapPicture(const std::string& path, int width, int height, std::vector<std::string>& problems,
                    std::string& error)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        error = "not enough memory for a picture of " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    image.fill(Qt::white);
    {
        TQtCanvas canvas(image);
        TMapView view;
        view.SetCanvas(&canvas);
        const bool loaded = ViewState.Loaded; // left by the job
        InitViewDefaults();
        ViewState.Loaded = loaded;
        const int64_t total = int64_t(PointLayer.Count) + PathLayer.Count + OuterPolygonLayer.Count +
                              InnerPolygonLayer.Count;
        PointRadius = PointRadiusFor(PointLayer.Count, total);
        for (TLayerCheck* check : {&view.Checks.CheckPoint, &view.Checks.CheckPath, &view.Checks.CheckPolyIn,
                                   &view.Checks.CheckPolyOut})
            check->OnClick = nullptr; // the one redraw below is enough
        for (TLayerCheck* check : {&view.Checks.CheckPoint, &view.Checks.CheckPath, &view.Checks.CheckPolyIn,
                                   &view.Checks.CheckPolyOut})
            check->SetChecked(true);
        view.DrawMap();
        problems = view.Problems;
    }
    // Encoded in memory, then written with the checked file code, so that a
    // full disk is reported and no cut-short picture is left behind.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        error = writer.errorString().toStdString();
        return false;
    }
    try {
        TBufferedFile file;
        file.Open(path, TBufferedFile::TMode::CreateTruncate);
        try {
            file.Write(png.constData(), size_t(png.size()));
            file.Close();
        } catch (...) {
            // Only a picture file of our own is removed, never a device or a link.
            std::error_code ec;
            if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
                std::filesystem::remove(path, ec);
            throw;
        }
    } catch (const EQuarvexError& e) {
        error = e.what();
        return false;
    }
    return true;
}

} // namespace quarvex
