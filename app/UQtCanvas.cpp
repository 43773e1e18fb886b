#include "app/UQtCanvas.h"

#include <QPen>

namespace quarvex {

namespace {
QColor ToQColor(TColor c)
{
    return QColor(c.R, c.G, c.B);
}

// A stroked QRect covers one pixel more than its size in each direction; the
// canvas's boxes leave their right and bottom edges out.
QRect OutlineBox(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left - 1, bottom - top - 1);
}
} // namespace

TQtCanvas::TQtCanvas(QImage& image) : image_(image), painter_(&image)
{
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setBrush(QBrush(Qt::white, Qt::SolidPattern));
}

TQtCanvas::~TQtCanvas()
{
    Flush();
}

void TQtCanvas::Flush()
{
    // A polyline of one point draws nothing, a line of no length its pixel.
    if (polyline_.size() == 2 && polyline_[0] == polyline_[1])
        painter_.drawPoint(polyline_[0]);
    else if (polyline_.size() >= 2)
        painter_.drawPolyline(polyline_.data(), int(polyline_.size()));
    polyline_.clear();
}

void TQtCanvas::SetPen(TColor color, int width)
{
    Flush();
    QPen pen(ToQColor(color));
    // Width 1 is the one-pixel (cosmetic) line of the bitmap, whatever the scale.
    pen.setWidth(width <= 1 ? 0 : width);
    painter_.setPen(pen);
}

void TQtCanvas::SetBrush(TColor color)
{
    Flush();
    painter_.setBrush(QBrush(ToQColor(color), Qt::SolidPattern));
}

void TQtCanvas::Rectangle(int left, int top, int right, int bottom)
{
    Flush();
    if (right <= left || bottom <= top)
        return;
    // A box of one or two pixels across is all outline; the painter would
    // skip the empty rectangle inside it.
    if (right - left <= 2 || bottom - top <= 2)
        painter_.fillRect(QRect(left, top, right - left, bottom - top), painter_.pen().color());
    else
        painter_.drawRect(OutlineBox(left, top, right, bottom));
}

void TQtCanvas::Ellipse(int left, int top, int right, int bottom)
{
    Flush();
    if (right <= left || bottom <= top)
        return;
    painter_.drawEllipse(OutlineBox(left, top, right, bottom));
}

void TQtCanvas::MoveTo(int x, int y)
{
    Flush();
    position_ = QPoint(x, y);
}

void TQtCanvas::LineTo(int x, int y)
{
    const QPoint to(x, y);
    if (polyline_.empty())
        polyline_.push_back(position_);
    // At map scale many vertices share a pixel; a segment of no length adds
    // no pixel that its neighbours do not draw.
    if (polyline_.back() != to || polyline_.size() == 1)
        polyline_.push_back(to);
    position_ = to;
}

void TQtCanvas::Polygon(const TPixel* vertices, int count)
{
    Flush();
    if (count <= 0)
        return;
    // Vertices repeated one after the other add edges of no length, which
    // change neither the outline nor the fill.
    points_.clear();
    for (int i = 0; i < count; ++i) {
        const QPoint p(vertices[i].X, vertices[i].Y);
        if (points_.empty() || points_.back() != p)
            points_.push_back(p);
    }
    // A ring that falls on one pixel still shows as that pixel.
    if (points_.size() == 1)
        painter_.drawPoint(points_[0]);
    else
        painter_.drawPolygon(points_.data(), int(points_.size()), Qt::OddEvenFill);
}

} // namespace quarvex
