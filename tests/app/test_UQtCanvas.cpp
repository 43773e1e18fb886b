#include "app/UQtCanvas.h"

#include <gtest/gtest.h>

#include <set>

using namespace quarvex;

namespace {

constexpr TColor kPen{20, 164, 172};
constexpr TColor kBrush{183, 223, 134};

QImage WhiteImage(int w = 64, int h = 48)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

std::set<QRgb> Colours(const QImage& image)
{
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y) & 0xFFFFFF);
    return colours;
}

// The pixels that the figure covers, as a box.
QRect Covered(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(UQtCanvas, BoxesLeaveTheirRightAndBottomEdgesOutInExactColours)
{
    struct Case {
        const char* name;
        void (TCanvas::*figure)(int, int, int, int);
        QRect covered;
    } cases[] = {
        {"rectangle", &TCanvas::Rectangle, QRect(2, 3, 8, 5)},
        {"ellipse", &TCanvas::Ellipse, QRect(2, 3, 8, 5)},
    };
    for (const Case& c : cases) {
        QImage image = WhiteImage();
        {
            TQtCanvas canvas(image);
            canvas.SetPen(kPen, 1);
            canvas.SetBrush(kBrush);
            (canvas.*c.figure)(2, 3, 10, 8);
        }
        EXPECT_EQ(Covered(image), c.covered) << c.name;
        EXPECT_EQ(image.pixel(6, 5), qRgb(183, 223, 134)) << c.name; // inside: the brush
        EXPECT_EQ(Colours(image), (std::set<QRgb>{0xFFFFFF, 0x14A4AC, 0xB7DF86})) << c.name;
    }
    QImage image = WhiteImage();
    {
        TQtCanvas canvas(image);
        canvas.Ellipse(5, 5, 5, 9); // no width: nothing
        canvas.Rectangle(5, 5, 9, 4);
    }
    EXPECT_TRUE(Covered(image).isNull());
    // Boxes of one or two pixels across are all outline; a ring on one
    // pixel shows as that pixel.
    image = WhiteImage();
    {
        TQtCanvas canvas(image);
        canvas.SetPen(kPen, 1);
        canvas.SetBrush(kBrush);
        canvas.Rectangle(1, 1, 2, 2);
        canvas.Rectangle(10, 10, 12, 20);
        const TPixel ring[] = {{30, 30}, {30, 30}, {30, 30}};
        canvas.Polygon(ring, 3);
    }
    EXPECT_EQ(Covered(image), QRect(1, 1, 30, 30));
    EXPECT_EQ(image.pixel(1, 1), qRgb(20, 164, 172));
    EXPECT_EQ(image.pixel(11, 19), qRgb(20, 164, 172));
    EXPECT_EQ(image.pixel(30, 30), qRgb(20, 164, 172));
    EXPECT_EQ(Colours(image), (std::set<QRgb>{0xFFFFFF, 0x14A4AC}));
}

// Lines are handed to the painter as polylines and repeated vertices are
// left out: the pixels must be those of one painter line per LineTo.
TEST(UQtCanvas, PathsAndPolygonsMatchThePainterFigureForFigure)
{
    const QPoint path[] = {{1, 1}, {1, 1}, {30, 4}, {30, 4}, {30, 4}, {12, 40}, {50, 22}, {50, 22}, {3, 44}};
    const int n = int(std::size(path));
    QImage ours = WhiteImage(), reference = WhiteImage();
    {
        TQtCanvas canvas(ours);
        canvas.SetPen(kPen, 1);
        canvas.MoveTo(path[0].x(), path[0].y());
        for (int i = 1; i < n; ++i)
            canvas.LineTo(path[i].x(), path[i].y());
        canvas.MoveTo(60, 2); // a path of one line of no length
        canvas.LineTo(60, 2);
        canvas.Flush();
        canvas.SetPen({0, 0, 0}, 1);
        canvas.SetBrush(kBrush);
        std::vector<TPixel> ring;
        for (const QPoint& p : path)
            ring.push_back({p.x() + 4, p.y()});
        canvas.Polygon(ring.data(), n);
    }
    {
        QPainter painter(&reference);
        painter.setPen(QPen(QColor(20, 164, 172), 0));
        for (int i = 1; i < n; ++i)
            painter.drawLine(path[i - 1], path[i]);
        painter.drawLine(QPoint(60, 2), QPoint(60, 2));
        painter.setPen(QPen(Qt::black, 0));
        painter.setBrush(QColor(183, 223, 134));
        std::vector<QPoint> ring;
        for (const QPoint& p : path)
            ring.push_back(p + QPoint(4, 0));
        painter.drawPolygon(ring.data(), n, Qt::OddEvenFill);
    }
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            EXPECT_EQ(ours.pixel(x, y), reference.pixel(x, y)) << "at " << x << "," << y;
    EXPECT_NE(ours.pixel(60, 2), qRgb(255, 255, 255));
}
