#include "preview/UMapView.h"

#include "platform/UErrors.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"
#include "shapefile/USHPFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

namespace quarvex {

namespace {
constexpr int32_t kMargin = 5;
constexpr int32_t kMarginRight = 5;

constexpr TColor kWhite{255, 255, 255};
constexpr TColor kBlack{0, 0, 0};
constexpr TColor kPointColour{161, 102, 50};
constexpr TColor kLineColour{20, 164, 172};
constexpr TColor kPolygonFill{183, 223, 134};

// Pixel offsets far outside any bitmap are held here, so that the sums with
// the margins cannot overflow and a coordinate that is not a number (a
// degenerate scale) still gives a defined pixel, off the image.
constexpr double kPixelLimit = 1 << 28;

int TruncatePixel(double value)
{
    if (!(value > -kPixelLimit))
        return -int(kPixelLimit);
    if (value > kPixelLimit)
        return int(kPixelLimit);
    return int(value); // the conversion truncates toward zero
}

// (value - origin) / scale, in pixels. Where the difference overflows (an
// extent wider than the largest double) it is taken in halves: the same
// quotient, since halving is exact in the range where it is needed.
double PixelOffset(double value, double origin, double scale)
{
    const double difference = value - origin;
    if (std::isfinite(difference))
        return difference / scale;
    return (value / 2 - origin / 2) / scale * 2;
}

// origin + pixels * scale, in halves where the product or the sum overflows.
double WorldAt(double origin, double pixels, double scale)
{
    const double value = origin + pixels * scale;
    if (std::isfinite(value))
        return value;
    return (origin / 2 + pixels * (scale / 2)) * 2;
}

// Map units per pixel that fit min..max into size pixels.
double FitScale(double min, double max, int size)
{
    return PixelOffset(max, min, double(size));
}

// An extent narrower than any scale a double can hold (bounds 5e-324 apart,
// or equal bounds that adding 1 does not separate) is given a width around
// its middle, so that what lies in it is drawn there.
void WidenUnresolvedAxis(double& min, double& max)
{
    const double middle = min / 2 + max / 2;
    const double half = std::max(1.0, std::fabs(middle) * 0x1p-20);
    min = std::max(middle - half, -std::numeric_limits<double>::max());
    max = std::min(middle + half, std::numeric_limits<double>::max());
}
} // namespace

void InitViewDefaults()
{
    ViewState.MarginLeft = kMargin;
    ViewState.MarginTop = kMargin;
    ViewState.MarginBottom = kMargin;
    ViewState.Loaded = false;
}

int WorldToPixelX(double x)
{
    return TruncatePixel(PixelOffset(x, ViewState.MinX, ViewState.ScaleX)) + ViewState.MarginLeft + 1;
}

int WorldToPixelY(double y)
{
    return ViewState.DrawHeight + ViewState.MarginBottom - TruncatePixel(PixelOffset(y, ViewState.MinY, ViewState.ScaleY)) -
           1;
}

double PixelToWorldX(int column)
{
    return WorldAt(ViewState.MinX, double(column - ViewState.MarginLeft - 1), ViewState.ScaleX);
}

double PixelToWorldY(int row)
{
    return WorldAt(ViewState.MinY, double(ViewState.DrawHeight + ViewState.MarginBottom - row - 1), ViewState.ScaleY);
}

std::string FormatCoordinate(double value)
{
    char text[400]; // the widest double in fixed notation takes 309 digits plus 7
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 5);
    if (ec != std::errc())
        return "?";
    std::string result(text, end);
    if (value == 0.0 && std::signbit(value))
        result.erase(0, 1); // -0.0 is not a negative value
    return result;
}

std::string CoordinateReadout(int column, int row)
{
    if (!ViewState.Loaded)
        return "";
    return FormatCoordinate(PixelToWorldX(column)) + ", " + FormatCoordinate(PixelToWorldY(row));
}

uint8_t PointRadiusFor(int64_t points, int64_t total)
{
    uint8_t radius = points < 1000 ? 4 : points < 5000 ? 3 : 2;
    if (points < 100 && total < 100)
        radius = 5;
    return radius;
}

TMapView::TMapView()
{
    for (TLayerCheck* check : {&Checks.CheckPoint, &Checks.CheckPath, &Checks.CheckPolyIn, &Checks.CheckPolyOut})
        check->OnClick = [this] { CheckPointClick(); };
}

TMapView::~TMapView() = default;

void TMapView::ClearMap()
{
    if (!canvas_)
        return;
    const int width = canvas_->Width();
    const int height = canvas_->Height();
    ViewState.DrawHeight = height - ViewState.MarginTop - ViewState.MarginBottom;
    ViewState.DrawWidth = width - ViewState.MarginLeft - kMarginRight;
    canvas_->SetPen(kWhite, 1);
    canvas_->SetBrush(kWhite);
    canvas_->Rectangle(0, 0, width, height);
}

void TMapView::DrawMap()
{
    Problems.clear();
    ClearMap();
    if (!ViewState.Loaded || !canvas_)
        return;
    TViewState& v = ViewState;
    if (v.MaxY == v.MinY) {
        v.MaxY = v.MaxY + 1;
        v.MinY = v.MinY - 1;
    }
    if (v.MaxX == v.MinX) {
        v.MaxX = v.MaxX + 1;
        v.MinX = v.MinX - 1;
    }
    // A bitmap of 10 pixels or less across has no room inside its margins.
    if (v.DrawHeight <= 0 || v.DrawWidth <= 0)
        return;
    v.ScaleY = FitScale(v.MinY, v.MaxY, v.DrawHeight);
    v.ScaleX = FitScale(v.MinX, v.MaxX, v.DrawWidth);
    if (!(std::max(v.ScaleX, v.ScaleY) >= std::numeric_limits<double>::min())) {
        WidenUnresolvedAxis(v.MinX, v.MaxX);
        WidenUnresolvedAxis(v.MinY, v.MaxY);
        v.ScaleY = FitScale(v.MinY, v.MaxY, v.DrawHeight);
        v.ScaleX = FitScale(v.MinX, v.MaxX, v.DrawWidth);
    }
    const double s = v.ScaleX > v.ScaleY ? v.ScaleX : v.ScaleY;
    v.ScaleX = s;
    v.ScaleY = s;

    const struct {
        const TKMLMeta& layer;
        const TLayerCheck& check;
    } order[] = {
        {OuterPolygonLayer, Checks.CheckPolyOut},
        {InnerPolygonLayer, Checks.CheckPolyIn},
        {PathLayer, Checks.CheckPath},
        {PointLayer, Checks.CheckPoint},
    };
    for (const auto& entry : order)
        if (entry.layer.Count > 0 && entry.check.Checked())
            DrawLayer(entry.layer.Name);
    canvas_->Flush();
}

void TMapView::DrawLayer(const std::string& fileName)
{
    auto reader = std::make_unique<TFileSHP>();
    reader->FileName = fileName;
    if (!reader->Open())
        return;
    auto part = std::make_unique<TListaXY>();
    reader_ = reader.get();
    part_ = part.get();
    struct TForget { // the reader and the part list end with this call
        TMapView* view;
        ~TForget() { view->reader_ = nullptr, view->part_ = nullptr; }
    } forget{this};
    int64_t record = 0;
    try {
        if (!reader->ReadHeader())
            return;
        LayerStyle = ShapeClass(reader->ShapeType);
        SetLayerStyle();
        while (!reader->Eof()) {
            ++record;
            reader->ReadRecord();
            switch (reader->RecShapeType) {
            case 1: case 8: case 11: DrawPoints(); break;
            case 3: case 13: case 23: DrawParts(false); break;
            case 5: case 15: case 25: DrawParts(true); break;
            default: break;
            }
        }
    } catch (const EQuarvexError& e) {
        Problems.push_back(fileName + (record > 0 ? ", record " + std::to_string(record) : ", header") + ": " +
                           e.what());
    }
}

void TMapView::SetLayerStyle()
{
    switch (LayerStyle) {
    case kStylePoint:
        canvas_->SetPen(kPointColour, 1);
        canvas_->SetBrush(kPointColour);
        break;
    case kStyleLine:
        canvas_->SetPen(kLineColour, 1);
        break;
    case kStylePolygon:
        canvas_->SetPen(kBlack, 1);
        canvas_->SetBrush(kPolygonFill);
        break;
    default:
        break;
    }
}

void TMapView::DrawPoints()
{
    const int r = PointRadius;
    const TListaXY& points = reader_->Points;
    for (size_t i = 0, n = size_t(points.Count()); i < n; ++i) {
        const TCXY& p = points.At(i);
        const int column = WorldToPixelX(p.X);
        const int row = WorldToPixelY(p.Y);
        canvas_->Ellipse(column - r, row - r, column + r, row + r);
    }
}

void TMapView::DrawParts(bool asPolygons)
{
    const int parts = reader_->Parts.Count();
    // Parts follow one another: starts that go back would hand out the same
    // points again and again, a damaged record that could take hours to draw.
    for (int i = 2; i <= parts; ++i)
        if (reader_->Parts.Item(i).Value < std::max(reader_->Parts.Item(i - 1).Value, 0))
            throw EQuarvexError("part " + std::to_string(i) + " starts at point " +
                                std::to_string(reader_->Parts.Item(i).Value) + ", before part " +
                                std::to_string(i - 1));
    for (int i = 1; i <= parts; ++i) {
        reader_->GetPart(i, *part_);
        if (asPolygons)
            DrawPolygon();
        else
            DrawPolyline();
    }
}

void TMapView::DrawPolyline()
{
    const size_t n = size_t(part_->Count());
    if (n == 0)
        return;
    const TCXY& first = part_->At(0);
    canvas_->MoveTo(WorldToPixelX(first.X), WorldToPixelY(first.Y));
    for (size_t i = 1; i < n; ++i) {
        const TCXY& p = part_->At(i);
        canvas_->LineTo(WorldToPixelX(p.X), WorldToPixelY(p.Y));
    }
}

void TMapView::DrawPolygon()
{
    // Every point of the part is drawn; the buffer only grows, so parts
    // after the largest one so far need no allocation.
    const size_t n = size_t(part_->Count());
    if (n <= 2)
        return;
    if (vertices_.size() < n)
        vertices_.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const TCXY& p = part_->At(i);
        vertices_[i] = TPixel{WorldToPixelX(p.X), WorldToPixelY(p.Y)};
    }
    canvas_->Polygon(vertices_.data(), int(n));
}

void TMapView::SetLayerCheck(TLayerCheck& check, int32_t count)
{
    check.SetEnabled(count > 0);
    check.SetChecked(count > 0);
}

void TMapView::SetupLayerChecks()
{
    const bool loaded = ViewState.Loaded;
    ViewState.Loaded = false; // each check box's click handler then only clears
    SetLayerCheck(Checks.CheckPoint, PointLayer.Count);
    SetLayerCheck(Checks.CheckPath, PathLayer.Count);
    SetLayerCheck(Checks.CheckPolyIn, InnerPolygonLayer.Count);
    SetLayerCheck(Checks.CheckPolyOut, OuterPolygonLayer.Count);
    ViewState.Loaded = loaded;
    DrawMap();
}

} // namespace quarvex
