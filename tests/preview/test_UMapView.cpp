#include "preview/UMapView.h"

#include "platform/UByteOrder.h"
#include "preview/UViewState.h"
#include "shapefile/ULayerSet.h"
#include "shapefile/UShpWriter.h"
#include "support/RecordingCanvas.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace quarvex;
using quarvex::test::TRecordingCanvas;
using quarvex::test::TScratchDir;

namespace {

using TShape = std::vector<std::pair<double, double>>;

void WriteLayer(TKMLMeta& layer, const std::string& path, uint8_t type, const std::vector<TShape>& shapes)
{
    TFileSHPW w;
    w.FileName = path;
    w.Open();
    w.Start(type);
    for (const TShape& shape : shapes) {
        TListaXY list;
        for (auto [x, y] : shape)
            list.Add(x, y);
        if (type == 1)
            w.AddPoint(shape[0].first, shape[0].second);
        else
            w.AddPolyLine(list);
    }
    w.Finish();
    w.Close();
    layer.Name = path;
    layer.Count = int32_t(shapes.size());
}

const char* const kClear266x138 = "pen 255,255,255 1\nbrush 255,255,255\nrect 0,0 266,138\n";

// The layers and the view start empty in every test; the extent 0..256 by
// 0..128 fits a 266 x 138 image (256 x 128 inside the margins) at 1 unit a
// pixel, so a point (x, y) lands on column x + 6 and row 132 - y.
class MapView : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (TKMLMeta* layer : {&PointLayer, &PathLayer, &OuterPolygonLayer, &InnerPolygonLayer})
            *layer = TKMLMeta{dir.File("none.$m"), 0};
        ViewState = TViewState{};
        InitViewDefaults();
        PointRadius = 4;
        view.SetCanvas(&canvas);
    }
    void Show(double minX, double minY, double maxX, double maxY)
    {
        ViewState.MinX = minX;
        ViewState.MinY = minY;
        ViewState.MaxX = maxX;
        ViewState.MaxY = maxY;
        ViewState.Loaded = true;
        for (TLayerCheck* c : {&view.Checks.CheckPoint, &view.Checks.CheckPath, &view.Checks.CheckPolyIn,
                               &view.Checks.CheckPolyOut})
            c->SetChecked(true);
        canvas.Reset();
    }
    void FourLayers()
    {
        WriteLayer(OuterPolygonLayer, dir.File("kml_tmp3.$m"), 5, {{{10, 10}, {50, 10}, {50, 50}}});
        WriteLayer(InnerPolygonLayer, dir.File("kml_tmp4.$m"), 5, {{{20, 15}, {40, 15}, {40, 30}}});
        WriteLayer(PathLayer, dir.File("kml_tmp2.$m"), 3, {{{0, 0}, {256, 128}}});
        WriteLayer(PointLayer, dir.File("kml_tmp1.$m"), 1, {{{128, 64}}});
        Show(0, 0, 256, 128);
    }

    TScratchDir dir;
    TRecordingCanvas canvas{266, 138};
    TMapView view;
};

} // namespace

TEST_F(MapView, FourLayersInOrderAndColours)
{
    FourLayers();
    view.DrawMap();
    EXPECT_EQ(canvas.Text(), std::string(kClear266x138) +
                                 "pen 0,0,0 1\nbrush 183,223,134\npolygon 3 16,122 56,122 56,82\n"
                                 "pen 0,0,0 1\nbrush 183,223,134\npolygon 3 26,117 46,117 46,102\n"
                                 "pen 20,164,172 1\nmove 6,132\nline 262,4\n"
                                 "pen 161,102,50 1\nbrush 161,102,50\nellipse 130,64 138,72\n");
    EXPECT_TRUE(view.Problems.empty());
    EXPECT_EQ(ViewState.DrawWidth, 256);
    EXPECT_EQ(ViewState.DrawHeight, 128);
    EXPECT_EQ(ViewState.ScaleX, 1.0);
    EXPECT_EQ(ViewState.ScaleY, 1.0);
}

TEST_F(MapView, UncheckingAndRecheckingPoints)
{
    FourLayers();
    view.Checks.CheckPoint.SetChecked(false); // the click handler redraws
    EXPECT_EQ(canvas.Text().find("ellipse"), std::string::npos);
    EXPECT_NE(canvas.Text().find("line 262,4"), std::string::npos);
    canvas.Reset();
    view.Checks.CheckPoint.SetChecked(true);
    ASSERT_FALSE(canvas.Calls.empty());
    EXPECT_EQ(canvas.Calls.back(), "ellipse 130,64 138,72"); // on top again
    view.Checks.CheckPolyOut.SetChecked(false);
    view.Checks.CheckPolyIn.SetChecked(false);
    view.Checks.CheckPath.SetChecked(false);
    canvas.Reset();
    view.DrawMap();
    EXPECT_EQ(canvas.Text(), std::string(kClear266x138) + "pen 161,102,50 1\nbrush 161,102,50\nellipse 130,64 138,72\n");
}

TEST_F(MapView, FittingCases)
{
    struct Case {
        const char* name;
        int width, height;
        double minX, minY, maxX, maxY; // the job's extent
        double x, y;                   // a map point
        int column, row;               // where it is drawn
        double scale;
    } cases[] = {
        // One point: each axis is widened by 1 both ways; the vertical scale
        // wins and the point sits halfway up, half the height from the left.
        {"single point", 266, 138, 3, 4, 3, 4, 3, 4, 70, 68, 1.0 / 64},
        // Twice as wide as high on a square: the data fill the lower half.
        {"wide on square, top", 138, 138, 0, 0, 64, 32, 64, 32, 134, 68, 0.5},
        {"wide on square, bottom", 138, 138, 0, 0, 64, 32, 0, 0, 6, 132, 0.5},
        {"tall on wide", 266, 138, 0, 0, 16, 128, 16, 128, 22, 4, 1.0},
        {"negative coordinates", 266, 138, -256, -128, 0, 0, -128, -64, 134, 68, 1.0},
    };
    for (const Case& c : cases) {
        TRecordingCanvas image(c.width, c.height);
        view.SetCanvas(&image);
        WriteLayer(PointLayer, dir.File("kml_tmp1.$m"), 1, {{{c.x, c.y}}});
        Show(c.minX, c.minY, c.maxX, c.maxY);
        image.Reset();
        view.DrawMap();
        const int r = PointRadius;
        EXPECT_EQ(image.Calls.back(), "ellipse " + std::to_string(c.column - r) + "," + std::to_string(c.row - r) +
                                          " " + std::to_string(c.column + r) + "," + std::to_string(c.row + r))
            << c.name;
        EXPECT_EQ(ViewState.ScaleX, c.scale) << c.name;
        EXPECT_EQ(ViewState.ScaleY, c.scale) << c.name;
    }
    // The single point's extent stays widened.
    ViewState = TViewState{};
    InitViewDefaults();
    view.SetCanvas(&canvas);
    Show(3, 4, 3, 4);
    view.DrawMap();
    EXPECT_EQ(ViewState.MinX, 2);
    EXPECT_EQ(ViewState.MaxX, 4);
    EXPECT_EQ(ViewState.MinY, 3);
    EXPECT_EQ(ViewState.MaxY, 5);
}

TEST_F(MapView, ExtentsOfAnySizeDrawEveryFeature)
{
    // Extents a plain difference cannot fit: too narrow for any scale, or
    // wider than the largest double. Every point lands inside the drawing
    // area of the 266 x 138 image (columns 6..261, rows 5..132).
    const double big = 1.79e308, tiny = 5e-324;
    struct Case {
        const char* name;
        std::pair<double, double> a, b;
        int columnA, rowA, columnB, rowB;
    } cases[] = {
        {"5e-324 apart", {0, 0}, {tiny, tiny}, 70, 68, 70, 68},
        {"5e-324 apart in x, 1 in y", {0, 3}, {tiny, 4}, 6, 132, 6, 4},
        {"the whole range of doubles", {-big, -big}, {big, big}, 6, 132, 134, 4},
        {"wide in x, one row", {-big, 7}, {big, 7}, 6, 132, 262, 132},
        {"equal and beyond the reach of 1", {1e300, -1e300}, {1e300, -1e300}, 70, 68, 70, 68},
    };
    for (const Case& c : cases) {
        WriteLayer(PointLayer, dir.File("kml_tmp1.$m"), 1, {{c.a}, {c.b}});
        Show(std::min(c.a.first, c.b.first), std::min(c.a.second, c.b.second), std::max(c.a.first, c.b.first),
             std::max(c.a.second, c.b.second));
        view.DrawMap();
        auto ellipse = [](int column, int row) {
            return "ellipse " + std::to_string(column - 4) + "," + std::to_string(row - 4) + " " +
                   std::to_string(column + 4) + "," + std::to_string(row + 4);
        };
        ASSERT_GE(canvas.Calls.size(), 2u) << c.name;
        EXPECT_EQ(canvas.Calls[canvas.Calls.size() - 2], ellipse(c.columnA, c.rowA)) << c.name;
        EXPECT_EQ(canvas.Calls.back(), ellipse(c.columnB, c.rowB)) << c.name;
        // The readout over the second point tells its coordinates, to within
        // a pixel (the drawn column and row are truncated toward the minimum).
        const double scale = ViewState.ScaleX;
        EXPECT_TRUE(std::isfinite(scale) && scale > 0) << c.name;
        EXPECT_LE(std::fabs(PixelToWorldX(c.columnB) - c.b.first), scale) << c.name;
        EXPECT_LE(std::fabs(PixelToWorldY(c.rowB) - c.b.second), scale) << c.name;
    }
}

TEST_F(MapView, ReadoutAtTheMarginsAndFormat)
{
    FourLayers();
    ViewState.MinX = -99.12345;
    ViewState.MaxX = -99.12345 + 2.56;
    ViewState.MinY = 19.4321;
    ViewState.MaxY = 19.4321 + 1.28;
    view.DrawMap();
    // MinX lies on column MarginLeft + 1, MinY on row DrawHeight + MarginBottom - 1.
    EXPECT_EQ(PixelToWorldX(ViewState.MarginLeft + 1), -99.12345);
    EXPECT_EQ(PixelToWorldY(ViewState.DrawHeight + ViewState.MarginBottom - 1), 19.4321);
    EXPECT_EQ(CoordinateReadout(6, 132), "-99.12345, 19.43210");
    EXPECT_EQ(CoordinateReadout(106, 32), "-98.12345, 20.43210");
    ViewState.Loaded = false;
    EXPECT_EQ(CoordinateReadout(6, 132), "");

    const std::pair<double, const char*> formats[] = {
        {0, "0.00000"}, {-0.0, "0.00000"}, {-0.000001, "-0.00000"}, {1234567.123456, "1234567.12346"},
        {-180, "-180.00000"}, {0.000005, "0.00001"}, {1e20, "100000000000000000000.00000"},
    };
    for (auto [value, text] : formats)
        EXPECT_EQ(FormatCoordinate(value), text) << value;
}

TEST_F(MapView, PartsPolygonsAndPaths)
{
    TShape ring;
    for (int i = 0; i < 1500; ++i)
        ring.emplace_back(i % 256, i / 12);
    WriteLayer(OuterPolygonLayer, dir.File("kml_tmp3.$m"), 5, {{{1, 1}, {9, 9}}, ring, {{0, 0}, {8, 0}, {8, 8}}});
    WriteLayer(PathLayer, dir.File("kml_tmp2.$m"), 3, {{{1, 1}, {9, 9}}, {{5, 5}}});
    Show(0, 0, 256, 128);
    view.DrawMap();
    // The 2-point ring draws nothing, the 1500-point ring every point, the
    // 2-point path a line, the 1-point path only a move.
    EXPECT_EQ(canvas.Text(), std::string(kClear266x138) +
                                 "pen 0,0,0 1\nbrush 183,223,134\npolygon 1500\npolygon 3 6,132 14,132 14,124\n"
                                 "pen 20,164,172 1\nmove 7,131\nline 15,123\nmove 11,127\n");
    ASSERT_EQ(canvas.Polygons.size(), 2u);
    const std::vector<TPixel>& big = canvas.Polygons[0];
    EXPECT_EQ(big[999], (TPixel{int(999 % 256) + 6, 132 - 999 / 12}));
    EXPECT_EQ(big[1499], (TPixel{int(1499 % 256) + 6, 132 - 1499 / 12}));
}

TEST_F(MapView, NothingToDrawOnlyClears)
{
    FourLayers();
    for (auto [w, h] : {std::pair{10, 138}, std::pair{266, 10}, std::pair{7, 3}, std::pair{0, 0}}) {
        TRecordingCanvas tiny(w, h);
        view.SetCanvas(&tiny);
        view.DrawMap();
        EXPECT_EQ(tiny.Text(), "pen 255,255,255 1\nbrush 255,255,255\nrect 0,0 " + std::to_string(w) + "," +
                                   std::to_string(h) + "\n")
            << w << "x" << h;
    }
    view.SetCanvas(&canvas);
    canvas.Reset();
    ViewState.Loaded = false;
    view.DrawMap();
    EXPECT_EQ(canvas.Text(), kClear266x138);
}

TEST_F(MapView, DamagedOrMissingLayersAreSkipped)
{
    FourLayers();
    // The paths layer loses its last bytes, the inner rings are not a shape
    // file, the outer rings are gone.
    std::filesystem::resize_file(PathLayer.Name, 100 + 8 + 20);
    quarvex::test::WriteText(InnerPolygonLayer.Name, "not a shape file");
    std::filesystem::remove(OuterPolygonLayer.Name);
    view.DrawMap();
    EXPECT_EQ(canvas.Text(), std::string(kClear266x138) + "pen 20,164,172 1\n" +
                                 "pen 161,102,50 1\nbrush 161,102,50\nellipse 130,64 138,72\n");
    ASSERT_EQ(view.Problems.size(), 1u);
    EXPECT_EQ(view.Problems[0], PathLayer.Name + ", record 1: Read beyond end of file");
    // The next redraw starts with a clean report.
    view.Checks.CheckPath.SetChecked(false);
    EXPECT_TRUE(view.Problems.empty());
}

TEST_F(MapView, PartStartsThatGoBackStopTheLayer)
{
    // One path record of three parts over four points, starts 0, 2, 1.
    FourLayers();
    std::vector<uint8_t> bytes = quarvex::test::ReadBytes(PathLayer.Name);
    bytes.resize(100);
    uint8_t record[12 + 32 + 8 + 12 + 64] = {};
    PutBE32(record, 1);
    PutLE32(record + 8, 3);
    PutLE32(record + 44, 3);
    PutLE32(record + 48, 4);
    const int32_t starts[] = {0, 2, 1};
    for (int i = 0; i < 3; ++i)
        PutLE32(record + 52 + 4 * i, uint32_t(starts[i]));
    bytes.insert(bytes.end(), record, record + sizeof record);
    quarvex::test::WriteText(PathLayer.Name, std::string(bytes.begin(), bytes.end()));
    view.DrawMap();
    ASSERT_EQ(view.Problems.size(), 1u);
    EXPECT_EQ(view.Problems[0], PathLayer.Name + ", record 1: part 3 starts at point 1, before part 2");
    EXPECT_EQ(canvas.Text().find("move"), std::string::npos);
    EXPECT_EQ(canvas.Calls.back(), "ellipse 130,64 138,72"); // the points are still drawn
}

TEST_F(MapView, SetupLayerChecksFollowsTheCounts)
{
    WriteLayer(PathLayer, dir.File("kml_tmp2.$m"), 3, {{{0, 0}, {256, 128}}});
    ViewState.MaxX = 256;
    ViewState.MaxY = 128;
    ViewState.Loaded = true;
    view.Checks.CheckPoint.SetChecked(true); // left over from an earlier file
    canvas.Reset();
    view.SetupLayerChecks();
    const TLayerCheck* checks[] = {&view.Checks.CheckPoint, &view.Checks.CheckPath, &view.Checks.CheckPolyIn,
                                   &view.Checks.CheckPolyOut};
    const bool expected[] = {false, true, false, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(checks[i]->Enabled(), expected[i]) << i;
        EXPECT_EQ(checks[i]->Checked(), expected[i]) << i;
    }
    EXPECT_TRUE(ViewState.Loaded);
    // Two check changes clear only; the final redraw draws the path.
    EXPECT_EQ(canvas.Text(), std::string(kClear266x138) + kClear266x138 + kClear266x138 +
                                 "pen 20,164,172 1\nmove 6,132\nline 262,4\n");
}

TEST(PointRadius, SizeFromTheCounts)
{
    const struct {
        int64_t points, total;
        int radius;
    } cases[] = {
        {99, 99, 5}, {99, 100, 4}, {100, 100, 4}, {999, 999, 4}, {1000, 1000, 3},
        {4999, 4999, 3}, {5000, 5000, 2}, {0, 99, 5}, {0, 100, 4}, {0, 0, 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PointRadiusFor(c.points, c.total), c.radius) << c.points << " of " << c.total;
}
