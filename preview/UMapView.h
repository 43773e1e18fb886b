// The map view: the converted layers read back from their files and drawn,
// fitted into the bitmap with one scale for both axes, in the order outer
// rings, inner rings, paths, points. Nothing of the geometry is kept between
// redraws; every redraw reads the visible layers again.
#pragma once

#include "geometry/UXYCoo.h"
#include "preview/UCanvas.h"
#include "preview/ULayerChecks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

class TFileSHP;

// Margins of 5 pixels, nothing loaded.
void InitViewDefaults();

// Pixel column and row of a map coordinate, and back, with the scales and
// margins of the last fit. Columns grow to the right, rows downwards.
int WorldToPixelX(double x);
int WorldToPixelY(double y);
double PixelToWorldX(int column);
double PixelToWorldY(int row);

// Fixed point with 5 decimals and a "." whatever the locale.
std::string FormatCoordinate(double value);
// The status bar text for the mouse at (column, row): "x, y" while a
// conversion is on show, else empty.
std::string CoordinateReadout(int column, int row);

// Half size of a point symbol for P points among T entities in all layers.
uint8_t PointRadiusFor(int64_t points, int64_t total);

// Layer styles: how the layer being drawn is outlined and filled.
enum : uint8_t { kStyleNone = 0, kStylePoint = 1, kStyleLine = 2, kStylePolygon = 3 };

class TMapView {
public:
    // Wires the four check boxes' click handler to DrawMap.
    TMapView();
    TMapView(const TMapView&) = delete;
    TMapView& operator=(const TMapView&) = delete;
    ~TMapView();

    // The bitmap to draw on; it must outlive its use here. Until one is set
    // every drawing operation does nothing.
    void SetCanvas(TCanvas* canvas) { canvas_ = canvas; }

    // Recomputes the drawing size from the bitmap and paints it white.
    void ClearMap();
    // The full redraw. A layer whose file turns out damaged stops being
    // drawn where the damage is found, the others are drawn, and the reason
    // is kept in Problems (emptied at the start of every redraw).
    void DrawMap();
    // Reads one layer file and draws all its records; a file that cannot be
    // opened or is not a shape file is skipped without a word.
    void DrawLayer(const std::string& fileName);
    void SetLayerStyle();
    // enabled := checked := count > 0.
    void SetLayerCheck(TLayerCheck& check, int32_t count);
    // The four check boxes from the four layer counts, then a redraw.
    void SetupLayerChecks();
    void CheckPointClick() { DrawMap(); }

    TLayerChecks Checks;
    uint8_t LayerStyle = kStyleNone;
    // Why a layer of the last redraw is incomplete: "<file>, record <n>: <reason>".
    std::vector<std::string> Problems;

private:
    void DrawPoints();
    void DrawParts(bool asPolygons);
    void DrawPolyline();
    void DrawPolygon();

    TCanvas* canvas_ = nullptr;
    TFileSHP* reader_ = nullptr; // the layer being drawn, owned by DrawLayer
    TListaXY* part_ = nullptr;   // the points of one part, owned by DrawLayer
    std::vector<TPixel> vertices_; // one polygon's pixels, reused from part to part
};

} // namespace quarvex
