// A canvas that records every call as a line of text, for the tests to compare.
#pragma once

#include "preview/UCanvas.h"

#include <string>
#include <vector>

namespace quarvex::test {

class TRecordingCanvas : public TCanvas {
public:
    TRecordingCanvas(int width, int height) : width_(width), height_(height) {}

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetPen(TColor c, int width) override { Add("pen " + Rgb(c) + " " + std::to_string(width)); }
    void SetBrush(TColor c) override { Add("brush " + Rgb(c)); }
    void Rectangle(int l, int t, int r, int b) override { Add("rect " + Box(l, t, r, b)); }
    void Ellipse(int l, int t, int r, int b) override { Add("ellipse " + Box(l, t, r, b)); }
    void MoveTo(int x, int y) override { Add("move " + Pt(x, y)); }
    void LineTo(int x, int y) override { Add("line " + Pt(x, y)); }
    void Polygon(const TPixel* v, int n) override
    {
        Polygons.emplace_back(v, v + n);
        std::string text = "polygon " + std::to_string(n);
        if (n <= 8)
            for (int i = 0; i < n; ++i)
                text += " " + Pt(v[i].X, v[i].Y);
        Add(text);
    }

    // The calls since the last Reset, one per line.
    std::string Text() const
    {
        std::string text;
        for (const std::string& call : Calls)
            text += call + "\n";
        return text;
    }
    void Reset()
    {
        Calls.clear();
        Polygons.clear();
    }

    std::vector<std::string> Calls;
    std::vector<std::vector<TPixel>> Polygons;

private:
    void Add(std::string call) { Calls.push_back(std::move(call)); }
    static std::string Rgb(TColor c)
    {
        return std::to_string(c.R) + "," + std::to_string(c.G) + "," + std::to_string(c.B);
    }
    static std::string Pt(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
    static std::string Box(int l, int t, int r, int b) { return Pt(l, t) + " " + Pt(r, b); }

    int width_, height_;
};

} // namespace quarvex::test
