#include "app/UGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace quarvex {

namespace {
const QColor kInk(40, 40, 40);
const QColor kFolder(232, 190, 80);
const QColor kPaper(250, 250, 245);
const QColor kBlue(40, 110, 200);
const QColor kGreen(120, 180, 90);

void DrawFolder(QPainter& p)
{
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF({{1, 4}, {6, 4}, {7, 6}, {15, 6}, {15, 14}, {1, 14}}));
}

void DrawSheet(QPainter& p, QRectF r)
{
    p.setBrush(kPaper);
    p.drawRect(r);
}

void DrawMagnifier(QPainter& p, bool plus)
{
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    p.setPen(QPen(kBlue, 1.5));
    p.drawLine(QPointF(4, 6), QPointF(8, 6));
    if (plus)
        p.drawLine(QPointF(6, 4), QPointF(6, 8));
}

void Draw(QPainter& p, TGlyph glyph)
{
    p.setPen(QPen(kInk, 1));
    switch (glyph) {
    case TGlyph::OpenFile:
        DrawFolder(p);
        break;
    case TGlyph::ExportShp:
        DrawSheet(p, QRectF(2.5, 1.5, 9, 12));
        p.setBrush(kGreen);
        p.drawPolygon(QPolygonF({{4, 10}, {6, 5}, {10, 7}, {9, 11}}));
        p.setBrush(kBlue);
        p.drawRect(QRectF(8.5, 8.5, 6, 6));
        break;
    case TGlyph::DxfGpx:
        DrawSheet(p, QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(kBlue, 1.5));
        p.drawPolyline(QPolygonF({{3, 12}, {6, 6}, {9, 10}, {13, 3}}));
        break;
    case TGlyph::Batch:
        for (int i = 0; i < 3; ++i)
            DrawSheet(p, QRectF(1.5 + 2 * i, 1.5 + 2 * i, 9, 10));
        break;
    case TGlyph::Help: {
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        QPainterPath hook;
        hook.moveTo(5.5, 6);
        hook.cubicTo(5.5, 2.5, 10.5, 2.5, 10.5, 6);
        hook.cubicTo(10.5, 8, 8, 8, 8, 10);
        p.setBrush(Qt::NoBrush);
        p.drawPath(hook);
        p.drawPoint(QPointF(8, 12.5));
        break;
    }
    case TGlyph::Close:
        p.setBrush(QColor(170, 120, 70));
        p.drawRect(QRectF(2.5, 1.5, 8, 13));
        p.setPen(QPen(QColor(200, 40, 40), 2));
        p.drawLine(QPointF(8, 8), QPointF(15, 8));
        p.drawLine(QPointF(12, 5), QPointF(15, 8));
        p.drawLine(QPointF(12, 11), QPointF(15, 8));
        break;
    case TGlyph::Select:
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({{4, 1}, {4, 13}, {7, 10}, {9, 15}, {11, 14}, {9, 9}, {13, 9}}));
        break;
    case TGlyph::ZoomIn:
        DrawMagnifier(p, true);
        break;
    case TGlyph::ZoomOut:
        DrawMagnifier(p, false);
        break;
    case TGlyph::Extent:
        p.setPen(QPen(kInk, 1.5));
        p.drawPolyline(QPolygonF({{1, 5}, {1, 1}, {5, 1}}));
        p.drawPolyline(QPolygonF({{11, 1}, {15, 1}, {15, 5}}));
        p.drawPolyline(QPolygonF({{15, 11}, {15, 15}, {11, 15}}));
        p.drawPolyline(QPolygonF({{5, 15}, {1, 15}, {1, 11}}));
        p.setBrush(kGreen);
        p.setPen(QPen(kInk, 1));
        p.drawEllipse(QRectF(5, 5, 6, 6));
        break;
    }
}
} // namespace

QIcon GlyphIcon(TGlyph glyph, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    Draw(painter, glyph);
    painter.end();
    return QIcon(pixmap);
}

} // namespace quarvex
