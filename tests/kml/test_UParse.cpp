#include "kml/UParse.h"

#include "preview/UViewState.h"
#include "support/RecordingView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarvex;
using quarvex::test::TRecordingView;
using quarvex::test::TScratchDir;

namespace {

std::string Placemark(const std::string& name, const std::string& geometry)
{
    return "<Placemark><name>" + name + "</name>" + geometry + "</Placemark>";
}

std::string PointAt(double x, double y)
{
    return "<Point><coordinates>" + std::to_string(x) + "," + std::to_string(y) + ",0</coordinates></Point>";
}

std::string Kml(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">"
           "<Document>" + body + "</Document></kml>\n";
}

struct TJobRun {
    TScratchDir dir;
    TRecordingView view;
    TMyInfoParser layers;
    std::string error;

    // Converts the KML text (written to input.kml) unless text is empty.
    void Run(const std::string& text, const std::function<void(TMyInfoParser&)>& options = {})
    {
        std::string input;
        if (!text.empty()) {
            input = dir.File("input.kml");
            quarvex::test::WriteText(input, text);
        }
        layers.SetDefaults();
        if (options)
            options(layers);
        TConversionJob job(layers, view, dir.Path());
        job.HttpLimits.connectTimeoutMs = 2000;
        job.HttpLimits.stallTimeoutMs = 1000;
        job.Begin(input, "input.kml");
        try {
            job.RunJob();
        } catch (const std::exception& e) {
            error = e.what();
        }
    }

    std::string Dump(int kind)
    {
        std::string base = dir.File("kml_tmp" + std::to_string(kind));
        return quarvex::test::DumpLayer(base + ".$m", base + ".dbf");
    }
};

} // namespace

TEST(UParse, EmptyInputPathGivesZeroCountsAndEnd)
{
    ViewState = TViewState{};
    ViewState.MinX = 7;
    TJobRun run;
    run.Run("");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.view.LogText(),
              "File: input.kml\n      Points: 0\n      Paths: 0\n      Polygons(outer): 0\n"
              "      Polygons (inner): 0\n\nEnd.\n");
    EXPECT_FALSE(ViewState.Loaded);
    EXPECT_EQ(ViewState.MinX, 7); // the extent is left as it was
    EXPECT_TRUE(run.view.SummaryShown);
    EXPECT_EQ(run.view.StatusCaption, "Cleaning Memory...");
    EXPECT_EQ(run.view.StartCaption.rfind("Starting Time: ", 0), 0u);
    EXPECT_EQ(run.view.EndCaption.rfind("Ending Time: ", 0), 0u);
    EXPECT_EQ(quarvex::test::ReadBytes(run.dir.File("kml_tmp2.dbf")).size(), 258u);
}

TEST(UParse, GeometryOfEveryKindWithNamesZidsAndExtent)
{
    TJobRun run;
    run.Run(Kml(Placemark("Home &amp; Garden", PointAt(10.5, 47.25)) +
                Placemark("Pair", "<MultiGeometry>" + PointAt(1, 2) + PointAt(3, 4) + "</MultiGeometry>") +
                Placemark("Trail", "<LineString><coordinates>\n\t\t\t-1,-2,0\n\t\t\t-3,-4,0\n\t\t</coordinates>"
                                   "</LineString>") +
                Placemark("Lake", "<Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 4,0 4,4 0,0"
                                  "</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs><LinearRing>"
                                  "<coordinates>1,1 2,1 2,2 1,1</coordinates></LinearRing></innerBoundaryIs>"
                                  "<innerBoundaryIs/></Polygon>") +
                Placemark("Bad", PointAt(5, 5).replace(PointAt(5, 5).find("5.0"), 1, "x"))));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.view.LogText(),
              "File: input.kml\n      Points: 4\n      Skipped coordinates: 1\n      Paths: 1\n"
              "      Polygons(outer): 1\n      Polygons (inner): 2\n\nEnd.\n");
    EXPECT_EQ(PointLayer.Count, 4);
    EXPECT_EQ(InnerPolygonLayer.Count, 2);
    EXPECT_TRUE(ViewState.Loaded);
    EXPECT_EQ(ViewState.MinX, -3);
    EXPECT_EQ(ViewState.MinY, -4);
    EXPECT_EQ(ViewState.MaxX, 10.5);
    EXPECT_EQ(ViewState.MaxY, 47.25);

    std::string points = run.Dump(1);
    EXPECT_NE(points.find("shape 1 type 1 parts [] points (10.5 47.25)\n"
                          "shape 2 type 1 parts [] points (1.0 2.0)\n"
                          "shape 3 type 1 parts [] points (3.0 4.0)\n"
                          "shape 4 type 1 parts [] points (0.0 0.0)\n"),
              std::string::npos)
        << points;
    EXPECT_NE(points.find("record 1 ZID 1 NAME 'Home & Garden'\nrecord 2 ZID 2 NAME 'Pair'\n"
                          "record 3 ZID 3 NAME 'Pair'\nrecord 4 ZID 4 NAME 'Bad'\n"),
              std::string::npos)
        << points;
    EXPECT_NE(run.Dump(2).find("points (-1.0 -2.0) (-3.0 -4.0)\n"), std::string::npos);
    std::string inner = run.Dump(4);
    EXPECT_NE(inner.find("shape 1 type 5 parts [0] points (1.0 1.0) (2.0 1.0) (2.0 2.0) (1.0 1.0)\n"
                         "shape 2 type 5 parts [0] points \n"),
              std::string::npos)
        << inner;
    EXPECT_NE(inner.find("record 2 ZID 2 NAME 'Lake'\n"), std::string::npos) << inner;
    std::string descriptions = quarvex::test::ReadText(run.dir.File("kml_tmp1.xml"));
    EXPECT_NE(descriptions.find("<shp zid=\"1\"><descrip>Home &amp; Garden</descrip></shp>\r\n"
                                "<shp zid=\"2\"><descrip>Pair</descrip></shp>\r\n"),
              std::string::npos);
    EXPECT_EQ(quarvex::test::ReadText(run.dir.File("kml_tmp3.xml")).find("<shp"), std::string::npos);
}

TEST(UParse, OptionsOffSkipTheirPassesAndTables)
{
    TJobRun run;
    run.Run(Kml(Placemark("P", PointAt(1, 1))), [](TMyInfoParser& l) { l.DoPaths = false; });
    EXPECT_EQ(run.view.LogText(),
              "File: input.kml\n      Points: 1\n      Polygons(outer): 0\n      Polygons (inner): 0\n\nEnd.\n");
    EXPECT_FALSE(quarvex::test::FileExists(run.dir.File("kml_tmp2.dbf")));
    EXPECT_FALSE(quarvex::test::FileExists(run.dir.File("kml_tmp2.$m")));
}

TEST(UParse, IgnoredLinksAreListedInOrderWithDuplicates)
{
    TJobRun run;
    run.Run(Kml("<NetworkLink><Link><href>https://maps.google.com/maps/ms?x=1</href></Link></NetworkLink>"
                "<NetworkLink><Link><HREF>http://a.example/x.kml</HREF></Link></NetworkLink>"
                "<NetworkLink><Link/></NetworkLink>"
                "<NetworkLink><Url><href>http://old.example/</href></Url></NetworkLink>"
                "<NetworkLink><Link><href>http://a.example/x.kml</href></Link></NetworkLink>"));
    EXPECT_EQ(run.view.LogText(),
              "File: input.kml\n      Points: 0\n      Paths: 0\n      Polygons(outer): 0\n"
              "      Polygons (inner): 0\n\n Network Links: \n\n The following Links were ignored\n"
              "  - https://maps.google.com/maps/ms?x=1\n  - http://a.example/x.kml\n  - \n"
              "  - http://a.example/x.kml\n\nEnd.\n");
}

TEST(UParse, MalformedInputStopsTheJobWithEveryFileClosed)
{
    TJobRun run;
    run.Run("<kml><Document>\n" + Placemark("A", PointAt(1, 1)) + "\n<Placemark></Document></kml>");
    EXPECT_EQ(run.error, run.dir.File("input.kml") +
                             ": mismatched tag at line 3, column 14, near \"Document></kml>\"");
    EXPECT_EQ(run.view.Log.back(), "Error: " + run.error);
    EXPECT_EQ(run.view.Log[run.view.Log.size() - 2], "");
    EXPECT_TRUE(run.view.SummaryShown);
    EXPECT_FALSE(ViewState.Loaded);
    for (int kind = 1; kind <= 4; ++kind) {
        std::string dump = run.Dump(kind);
        EXPECT_NE(dump.find("records 0\n"), std::string::npos) << dump;
        EXPECT_NE(quarvex::test::ReadText(run.dir.File("kml_tmp" + std::to_string(kind) + ".xml")).find("</shapes></doc>"),
                  std::string::npos);
    }

    // A work folder that cannot be written stops the job at the first layer file.
    TRecordingView view;
    TMyInfoParser layers;
    layers.SetDefaults();
    TConversionJob job(layers, view, "/nonexistent-quarvex/ztmp/");
    job.Begin("", "x.kml");
    EXPECT_THROW(job.RunJob(), EInOutError);
    EXPECT_EQ(view.Log.back(), "Error: File not found");
}

TEST(UParse, RingsAreTheFirstChildElementAndEmptyShapesLeaveTheExtent)
{
    // A comment or a processing instruction before the LinearRing must not
    // stand in for it; a path without coordinates keeps its record but does
    // not pull the extent to (0, 0)-(1, 1).
    ViewState = TViewState{};
    TJobRun run;
    run.Run(Kml(Placemark("Lake", "<Polygon><outerBoundaryIs><!-- outer --><LinearRing><coordinates>-150,61 -149,61 "
                                  "-149,62 -150,61</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs>"
                                  "<?note hole?><!-- hole --><LinearRing><coordinates>-149.8,61.2 -149.5,61.2 "
                                  "-149.5,61.5 -149.8,61.2</coordinates></LinearRing></innerBoundaryIs></Polygon>") +
                Placemark("Nothing", "<LineString><coordinates>x,y,z</coordinates></LineString>") +
                Placemark("Trail", "<LineString><coordinates>-150.5,60.5 -150.25,60.75</coordinates></LineString>")));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.Dump(3).find("points (-150.0 61.0) (-149.0 61.0) (-149.0 62.0) (-150.0 61.0)\n") != std::string::npos,
              true);
    std::string inner = run.Dump(4);
    EXPECT_NE(inner.find("type 5 bbox -149.8 61.2 -149.5 61.5\n"), std::string::npos) << inner;
    EXPECT_NE(inner.find("points (-149.8 61.2) (-149.5 61.2) (-149.5 61.5) (-149.8 61.2)\n"), std::string::npos);
    std::string paths = run.Dump(2);
    EXPECT_NE(paths.find("type 3 bbox -150.5 60.5 -150.25 60.75\n"), std::string::npos) << paths;
    EXPECT_NE(paths.find("shape 1 type 3 parts [0] points \n"), std::string::npos) << paths;
    EXPECT_NE(paths.find("record 2 ZID 2 NAME 'Trail'\n"), std::string::npos) << paths;
    EXPECT_EQ(ViewState.MinX, -150.5);
    EXPECT_EQ(ViewState.MinY, 60.5);
    EXPECT_EQ(ViewState.MaxX, -149);
    EXPECT_EQ(ViewState.MaxY, 62);

    // The corpus file whose four holes are each preceded by a comment.
    TJobRun corpus;
    const std::string file = quarvex::test::SharedDir() + "/testdata/kml-corpus/giscore_polyInnerBoundaries.kml";
    if (!quarvex::test::FileExists(file))
        GTEST_SKIP() << "no corpus";
    corpus.Run(quarvex::test::ReadText(file));
    EXPECT_EQ(corpus.error, "");
    std::string holes = corpus.Dump(4);
    EXPECT_EQ(holes.find("points \n"), std::string::npos) << holes; // no ring without vertices
    EXPECT_NE(holes.find("shape 4 type 5"), std::string::npos) << holes;
}
