// The drawing surface of the map view: a bitmap with a pen, a solid brush
// and the few figures the map needs. Boxes are given as left, top, right,
// bottom with the right and bottom edges outside the figure; lines include
// both their ends.
#pragma once

#include <cstdint>

namespace quarvex {

struct TColor {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TColor&) const = default;
};

struct TPixel {
    int32_t X = 0;
    int32_t Y = 0;
    bool operator==(const TPixel&) const = default;
};

class TCanvas {
public:
    virtual ~TCanvas() = default;
    // Size of the bitmap in pixels.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetPen(TColor color, int width) = 0;
    // The brush is always solid.
    virtual void SetBrush(TColor color) = 0;
    // Outlined with the pen, filled with the brush.
    virtual void Rectangle(int left, int top, int right, int bottom) = 0;
    virtual void Ellipse(int left, int top, int right, int bottom) = 0;
    virtual void MoveTo(int x, int y) = 0;
    // A line from the current position to (x, y), which becomes the current position.
    virtual void LineTo(int x, int y) = 0;
    // One closed polygon through the vertices, filled by the alternate
    // (odd-even) rule; vertices stays the caller's.
    virtual void Polygon(const TPixel* vertices, int count) = 0;
    // Puts on the bitmap whatever the canvas still holds back; the map view
    // calls it at the end of every redraw.
    virtual void Flush() {}
};

} // namespace quarvex
