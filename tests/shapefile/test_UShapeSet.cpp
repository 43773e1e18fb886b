#include "shapefile/UDbfWriter.h"
#include "shapefile/UShapeSet.h"

#include "platform/UByteOrder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarvex;
using namespace quarvex::test;

namespace {

TShape Shape(std::vector<TCXY> points, std::vector<int32_t> parts = {}, std::vector<double> z = {})
{
    return TShape{std::move(points), std::move(parts), std::move(z)};
}

std::string SetDump(const std::string& base)
{
    int status = 0;
    std::string out = RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/setdump.py' '" + base + "' 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

} // namespace

// Every type the export writes, with null shapes among the others, read
// back through the index by an independent reader.
TEST(UShapeSet, EveryTypeReadsBackThroughItsIndex)
{
    const struct Case {
        int32_t type;
        std::vector<TShape> shapes;
        std::string expected;
    } cases[] = {
        {1,
         {Shape({{1.5, 2}}), Shape({}), Shape({{-3, 4.25}})},
         "type 1 box -3.0 2.0 1.5 4.25 z 0.0 0.0 count 3\n"
         "shape 1 type 1 parts [] points (1.5 2.0)\nshape 2 type 0\nshape 3 type 1 parts [] points (-3.0 4.25)\n"},
        {11,
         {Shape({{1, 2}}, {}, {7}), Shape({{3, 4}}, {}, {-2})},
         "type 11 box 1.0 2.0 3.0 4.0 z -2.0 7.0 count 2\n"
         "shape 1 type 11 parts [] points (1.0 2.0) z 7.0\nshape 2 type 11 parts [] points (3.0 4.0) z -2.0\n"},
        {3,
         {Shape({}), Shape({{0, 0}, {1, 1}, {5, 5}, {6, 4}}, {0, 2})},
         "type 3 box 0.0 0.0 6.0 5.0 z 0.0 0.0 count 2\nshape 1 type 0\n"
         "shape 2 type 3 parts [0, 2] points (0.0 0.0) (1.0 1.0) (5.0 5.0) (6.0 4.0)\n"},
        {15,
         {Shape({{0, 0}, {0, 4}, {4, 4}, {4, 0}, {0, 0}, {1, 1}, {2, 1}, {2, 2}, {1, 1}}, {0, 5},
                {1, 2, 3, 4, 1, 9, 9, 9, 9})},
         "type 15 box 0.0 0.0 4.0 4.0 z 1.0 9.0 count 1\n"
         "shape 1 type 15 parts [0, 5] points (0.0 0.0) (0.0 4.0) (4.0 4.0) (4.0 0.0) (0.0 0.0) (1.0 1.0) (2.0 1.0)"
         " (2.0 2.0) (1.0 1.0) z 1.0 2.0 3.0 4.0 1.0 9.0 9.0 9.0 9.0\n"},
        {5, {Shape({}), Shape({})}, "type 5 box 0.0 0.0 0.0 0.0 z 0.0 0.0 count 2\nshape 1 type 0\nshape 2 type 0\n"},
    };
    TScratchDir dir;
    for (const Case& c : cases) {
        const std::string base = dir.File("set" + std::to_string(c.type));
        TShapeSetWriter writer;
        writer.Open(base + ".shp", base + ".shx", c.type);
        for (const TShape& s : c.shapes)
            writer.AddShape(s);
        writer.Finish();
        TDbfWriter table;
        table.Open(base + ".dbf", {{"ZID", 'N', 10, 0}});
        for (size_t i = 1; i <= c.shapes.size(); ++i)
            table.AddRecord({std::to_string(i)});
        table.Close();
        const std::string dump = SetDump(base);
        EXPECT_EQ(dump.substr(0, dump.find("fields")), c.expected) << c.type;
        // The header lengths are the files' own sizes, in 16-bit words.
        const auto shp = ReadBytes(base + ".shp");
        const auto shx = ReadBytes(base + ".shx");
        EXPECT_EQ(GetBE32(&shp[24]) * 2, shp.size()) << c.type;
        EXPECT_EQ(GetBE32(&shx[24]) * 2, shx.size()) << c.type;
        EXPECT_EQ(shx.size(), 100 + 8 * c.shapes.size()) << c.type;
    }
}

TEST(UShapeSet, TableTextIsUtf8CutOnCharacterBoundaries)
{
    EXPECT_EQ(CutUtf8("abc", 5), "abc");
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");               // é would be split
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(CutUtf8("\xE6\x97\xA5\xE6\x9C\xAC", 5), "\xE6\x97\xA5"); // 日本
    EXPECT_EQ(CutUtf8("\xF0\x9F\x97\xBA x", 2), "");         // 🗺

    TScratchDir dir;
    const std::string base = dir.File("t");
    TShapeSetWriter shapes;
    shapes.Open(base + ".shp", base + ".shx", 1);
    TDbfWriter table;
    table.Open(base + ".dbf", {{"ZID", 'N', 10, 0}, {"NAME", 'C', 254, 0}});
    const std::string longName = std::string(253, 'x') + "\xC3\xA9"; // 255 bytes: é does not fit
    const std::string names[] = {"Caf\xC3\xA9", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", longName};
    for (int i = 0; i < 3; ++i) {
        shapes.AddShape(Shape({{double(i), 0}}));
        table.AddRecord({std::to_string(i + 1), names[i]});
    }
    shapes.Finish();
    table.Close();
    WriteText(base + ".cpg", "UTF-8");
    const std::string dump = SetDump(base);
    EXPECT_NE(dump.find("fields ZID:N:10 NAME:C:254\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("record 1 | Caf\xC3\xA9\nrecord 2 | \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\n"
                        "record 3 | " + std::string(253, 'x') + "\n"),
              std::string::npos)
        << dump;
    const auto dbf = ReadBytes(base + ".dbf");
    EXPECT_EQ(GetLE32(&dbf[4]), 3u);
    EXPECT_EQ(dbf.back(), 0x1A);
}
