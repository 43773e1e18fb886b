#include "cli/UMapPicture.h"

#include "app/UQtCanvas.h"
#include "preview/UMapView.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"

#include <QImage>
#include <QImageWriter>
#include <QString>

namespace quarvex {

bool SaveMapPicture(const std::string& path, int width, int height, std::vector<std::string>& problems,
                    std::string& error)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        error = "not enough memory for a picture of " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
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
    QImageWriter writer(QString::fromStdString(path), "png");
    if (!writer.write(image)) {
        error = writer.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace quarvex
