// The map view's canvas on a QImage, painted with QPainter without
// antialiasing, so that every pixel has one of the map's exact colours.
#pragma once

#include "preview/UCanvas.h"

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <vector>

namespace quarvex {

class TQtCanvas : public TCanvas {
public:
    // Paints on image, which must outlive the canvas; the image must not be
    // painted on by anything else while the canvas lives.
    explicit TQtCanvas(QImage& image);
    ~TQtCanvas() override;

    int Width() const override { return image_.width(); }
    int Height() const override { return image_.height(); }
    void SetPen(TColor color, int width) override;
    void SetBrush(TColor color) override;
    void Rectangle(int left, int top, int right, int bottom) override;
    void Ellipse(int left, int top, int right, int bottom) override;
    void MoveTo(int x, int y) override;
    void LineTo(int x, int y) override;
    void Polygon(const TPixel* vertices, int count) override;
    void Flush() override;

private:
    QImage& image_;
    QPainter painter_;
    QPoint position_;
    std::vector<QPoint> points_;   // reused from polygon to polygon
    // Lines drawn one after the other from the end of the last one go to the
    // painter as one polyline, when anything else is drawn, the pen changes
    // or the canvas is flushed: one call per path instead of one per line.
    std::vector<QPoint> polyline_;
};

} // namespace quarvex
