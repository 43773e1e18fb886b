// quarvex-convert --png end to end: the picture's pixels are where the map
// view's fitting puts the geometry, in the map's colours.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace quarvex::test;

namespace {

int Convert(const std::string& args, std::string* err = nullptr)
{
    TScratchDir io;
    int status = -1;
    RunCommand(std::string(QUARVEX_CONVERT) + " " + args + " >/dev/null 2>" + io.File("err"), &status);
    if (err)
        *err = ReadText(io.File("err"));
    return status;
}

// The picture as Pillow reads it: "WxH <pixels not white>", then the
// colour of each probe.
std::vector<std::string> Pixels(const std::string& image, const std::vector<std::pair<int, int>>& probes = {})
{
    std::string command = "/usr/bin/python3 '" + SourceDir() + "/tests/tools/pngpixels.py' '" + image + "'";
    for (auto [x, y] : probes)
        command += " " + std::to_string(x) + "," + std::to_string(y);
    std::istringstream lines(RunCommand(command + " 2>&1"));
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);)
        out.push_back(line);
    return out;
}

// Extent 0..100 by 0..50. On 310 x 110 (300 x 100 inside the margins) the
// vertical scale of 0.5 units a pixel wins: (x, y) lands on column 2x + 6
// and row 104 - 2y, and the columns right of 206 are spare room.
const char* const kScene =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n"
    "<Placemark><name>Field</name><Polygon>\n"
    " <outerBoundaryIs><LinearRing><coordinates>0,0 40,0 40,40 0,40 0,0</coordinates></LinearRing></outerBoundaryIs>\n"
    " <innerBoundaryIs><LinearRing><coordinates>10,10 20,10 20,20 10,20 10,10</coordinates></LinearRing></innerBoundaryIs>\n"
    "</Polygon></Placemark>\n"
    "<Placemark><name>Road</name><LineString><coordinates>50,45 100,45 100,50</coordinates></LineString></Placemark>\n"
    "<Placemark><name>Well</name><Point><coordinates>75,20,0</coordinates></Point></Placemark>\n"
    "</Document></kml>\n";

const char* const kFill = "183,223,134";
const char* const kLine = "20,164,172";
const char* const kPoint = "161,102,50";
const char* const kWhite = "255,255,255";

} // namespace

TEST(MapPicture, PixelsFollowTheFitting)
{
    TScratchDir dir;
    WriteText(dir.File("scene.kml"), kScene);
    std::string err;
    ASSERT_EQ(Convert("--work-dir " + dir.File("w") + " --png " + dir.File("map.png") + " --size 310x110 " +
                          dir.File("scene.kml"),
                      &err),
              0)
        << err;
    EXPECT_EQ(err, "");
    const struct {
        const char* where;
        int x, y;
        const char* colour;
    } probes[] = {
        {"inside the outer ring", 16, 94, kFill},          // (5, 5)
        {"inside the hole, drawn over it", 36, 74, kFill}, // (15, 15)
        {"on the hole's lower edge", 36, 84, "0,0,0"},     // (15, 10)
        {"on the outer ring's left edge", 6, 60, "0,0,0"},
        {"on the road", 150, 14, kLine},           // (72, 45)
        {"on the road's last leg", 206, 8, kLine}, // (100, 48)
        {"on the well", 156, 64, kPoint},          // (75, 20)
        {"beside the well", 156 + 8, 64, kWhite},
        {"between the field and the well", 120, 64, kWhite},
        {"in the spare room", 260, 50, kWhite},
        {"in the margin", 2, 2, kWhite},
        {"in the bottom margin", 50, 107, kWhite},
    };
    std::vector<std::pair<int, int>> at;
    for (const auto& p : probes)
        at.emplace_back(p.x, p.y);
    const std::vector<std::string> seen = Pixels(dir.File("map.png"), at);
    ASSERT_EQ(seen.size(), std::size(probes) + 1) << seen[0];
    EXPECT_EQ(seen[0].substr(0, 8), "310x110 ");
    for (size_t i = 0; i < std::size(probes); ++i)
        EXPECT_EQ(seen[i + 1], probes[i].colour) << probes[i].where << " at " << probes[i].x << "," << probes[i].y;
    // The layers beside the picture read back with an independent reader.
    EXPECT_NE(DumpLayer(dir.File("w/kml_tmp2.$m")).find("points (50.0 45.0) (100.0 45.0) (100.0 50.0)"),
              std::string::npos);
}

TEST(MapPicture, EmptyJobGivesWhiteDefaultSizeAndBadSizesAreUsageErrors)
{
    TScratchDir dir;
    WriteText(dir.File("empty.kml"), "<kml><Document><name>nothing</name></Document></kml>");
    ASSERT_EQ(Convert("--work-dir " + dir.File("w") + " --png=" + dir.File("empty.png") + " " + dir.File("empty.kml")), 0);
    EXPECT_EQ(Pixels(dir.File("empty.png")), std::vector<std::string>{"800x600 0"});

    // Too small to hold anything inside the margins: only cleared.
    WriteText(dir.File("scene.kml"), kScene);
    for (const char* size : {"10x10", "1x1", "2x300"}) {
        ASSERT_EQ(Convert("--work-dir " + dir.File("w") + " --png " + dir.File("tiny.png") + " --size " + size + " " +
                          dir.File("scene.kml")),
                  0);
        EXPECT_EQ(Pixels(dir.File("tiny.png")), std::vector<std::string>{std::string(size) + " 0"}) << size;
    }

    for (const char* size : {"0x10", "10", "10x", "x10", "-5x10", "10x10x", "10001x10", "ax10", "+10x10", "10x 10"}) {
        std::string err;
        EXPECT_EQ(Convert("--png " + dir.File("x.png") + " --size '" + size + "' " + dir.File("scene.kml"), &err), 2)
            << size;
        EXPECT_NE(err.find("--size needs WIDTHxHEIGHT in pixels"), std::string::npos) << size << ": " << err;
    }
    EXPECT_EQ(Convert("--size 10x10 " + dir.File("scene.kml")), 2);
    EXPECT_EQ(Convert("--png " + dir.File("scene.kml")), 2); // the picture name takes the only FILE
    EXPECT_FALSE(FileExists(dir.File("x.png")));

    std::string err;
    EXPECT_EQ(Convert("--work-dir " + dir.File("w") + " --png " + dir.File("no/such/folder.png") + " " +
                          dir.File("scene.kml"),
                      &err),
              1);
    EXPECT_EQ(err.rfind("quarvex-convert: cannot write the map picture " + dir.File("no/such/folder.png") + ": ", 0),
              0u)
        << err;

    // A disk that fills while the picture is written: the failure is told
    // and no cut-short picture is left.
    {
        TFileSizeLimit limit(2000);
        EXPECT_EQ(Convert("--work-dir " + dir.File("w") + " --png " + dir.File("full.png") + " " + dir.File("scene.kml"),
                          &err),
                  1);
    }
    EXPECT_EQ(err, "quarvex-convert: cannot write the map picture " + dir.File("full.png") + ": Disk full\n");
    EXPECT_FALSE(FileExists(dir.File("full.png")));
}
