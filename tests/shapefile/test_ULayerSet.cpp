#include "shapefile/ULayerSet.h"

#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "shapefile/UAttributeTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quarvex;
using quarvex::test::ReadText;
using quarvex::test::TScratchDir;

namespace {
const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                          "<doc><createdby>QUARVEX v2, https://quarvex.example/</createdby>\r\n"
                          "<info>Descriptions for Entities, zid corresponds to zid in Attributes Table</info>\r\n"
                          "<shapes>\r\n";
const std::string kTail = "</shapes></doc>\r\n";

std::string Entry(int zid, const std::string& text)
{
    return "<shp zid=\"" + std::to_string(zid) + "\"><descrip>" + text + "</descrip></shp>\r\n";
}

// One pass over points, in the order the geometry pass writes them.
void WritePointPass(TMyInfoParser& set, TAttributeTable& table, const std::vector<std::string>& names)
{
    set.OpenDescriptions(kPointsKind);
    table.OpenAttributeTable(ChangeFileExt(PointLayer.Name, ".dbf"));
    int i = 0;
    for (const std::string& name : names) {
        ++i;
        set.PointWriter->AddPoint(PointLayer.Count + i, -i);
        table.AppendAttributeRecord(PointLayer.Count + i, name);
        set.AddDescription(PointLayer.Count + i, name);
    }
    set.AddExtent(*set.PointWriter);
    table.CloseAttributeTable();
    set.CloseDescriptions();
    PointLayer.Count += i;
}

void PrepareWithTables(TMyInfoParser& set, TAttributeTable& table, const std::string& folder)
{
    set.SetDefaults();
    set.Prepare(folder);
    for (int kind = 1; kind <= 4; ++kind)
        table.CreateAttributeTable(ChangeFileExt(LayerOf(kind).Name, ".dbf"));
}
} // namespace

TEST(ULayerSet, NamesAndSmallFunctions)
{
    EXPECT_EQ(LayerFileName(3, "/w/ztmp/"), "/w/ztmp/kml_tmp3.$m");
    OuterPolygonLayer.Name = "/w.d/ztmp/kml_tmp3.$m";
    EXPECT_EQ(DescrFileName(3), "/w.d/ztmp/kml_tmp3.xml");
    std::tm t{};
    t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 3;
    EXPECT_EQ(FormatClockText(t, 45), "9:5:3:45");
    t.tm_hour = 13, t.tm_min = 7, t.tm_sec = 0;
    EXPECT_EQ(FormatClockText(t, 0), "13:7:0:0");
    const std::string clock = ClockText();
    EXPECT_EQ(std::count(clock.begin(), clock.end(), ':'), 3);

    TScratchDir dir;
    quarvex::test::WriteText(dir.File("doc.kml"), "x");
    DeleteIfExists(dir.File("doc.kml"));
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("doc.kml")));
    EXPECT_NO_THROW(DeleteIfExists(dir.File("doc.kml")));
}

TEST(ULayerSet, EmptyJobWritesHeadersAndFiveLineDescriptions)
{
    TScratchDir dir;
    TMyInfoParser set;
    EXPECT_FALSE(set.DoPoints);
    EXPECT_TRUE(set.DoExtent);
    set.SetDefaults();
    set.Prepare(dir.Path());
    set.Finish();
    for (int kind = 1; kind <= 4; ++kind) {
        EXPECT_EQ(LayerOf(kind).Count, 0);
        EXPECT_EQ(LayerOf(kind).Name, dir.File("kml_tmp" + std::to_string(kind) + ".$m"));
        auto shp = quarvex::test::ReadBytes(LayerOf(kind).Name);
        ASSERT_EQ(shp.size(), 100u);
        EXPECT_EQ(shp[32], kind == 1 ? 1 : kind == 2 ? 3 : 5);
        EXPECT_EQ(ReadText(dir.File("kml_tmp" + std::to_string(kind) + ".xml")), kHead + kTail);
    }
    EXPECT_EQ(set.WriterOf(1), nullptr);
}

TEST(ULayerSet, ZidsRunOnOverTwoDocumentsAndTextIsEscapedUtf8)
{
    TScratchDir dir;
    TMyInfoParser set;
    TAttributeTable table(1252);
    PrepareWithTables(set, table, dir.Path());
    WritePointPass(set, table, {"Fish & Chips", "a<b>c", "Z\xC3\xBCrich \xE6\x9D\xB1"});
    WritePointPass(set, table, {"", "a]]>b]>c>"});
    set.Finish();
    EXPECT_EQ(PointLayer.Count, 5);
    // "]]>" may not stand in text: its ">" is written as a reference.
    EXPECT_EQ(ReadText(dir.File("kml_tmp1.xml")),
              kHead + Entry(1, "Fish &amp; Chips") + Entry(2, "a&lt;b>c") + Entry(3, "Z\xC3\xBCrich \xE6\x9D\xB1") +
                  Entry(4, "") + Entry(5, "a]]&gt;b]>c>") + kTail);
    EXPECT_EQ(set.Corners.Count(), 4);
    TExtent e;
    set.Corners.GetExtent(e);
    EXPECT_EQ(e.Xmin, 1);
    EXPECT_EQ(e.Xmax, 5);
    EXPECT_EQ(e.Ymin, -3);
    EXPECT_EQ(e.Ymax, -1);

    // A second job in the same folder starts every file anew.
    TMyInfoParser second;
    PrepareWithTables(second, table, dir.Path());
    second.Finish();
    EXPECT_EQ(ReadText(dir.File("kml_tmp1.xml")), kHead + kTail);
    EXPECT_EQ(quarvex::test::ReadBytes(dir.File("kml_tmp1.$m")).size(), 100u);
}

TEST(ULayerSet, OptionsOffWriteNothingForThem)
{
    TScratchDir dir;
    TMyInfoParser set;
    set.SetDefaults();
    set.DoDescriptions = false;
    set.DoInnerPolygons = false;
    set.Prepare(dir.Path());
    EXPECT_EQ(set.WriterOf(kInnerPolygonsKind), nullptr);
    set.OpenDescriptions(1);
    set.AddDescription(1, "x");
    set.CloseDescriptions();
    set.Finish();
    EXPECT_TRUE(quarvex::test::FileExists(dir.File("kml_tmp3.$m")));
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("kml_tmp4.$m")));
    for (int kind = 1; kind <= 4; ++kind)
        EXPECT_FALSE(quarvex::test::FileExists(dir.File("kml_tmp" + std::to_string(kind) + ".xml")));
}

TEST(ULayerSet, MissingWorkFolderRaisesAtTheFirstShapeFile)
{
    TMyInfoParser set;
    set.SetDefaults();
    try {
        set.Prepare("/nonexistent-quarvex-folder/ztmp/");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(e.ErrorCode() == 2 || e.ErrorCode() == 3);
    }
    EXPECT_EQ(PointLayer.Name, "/nonexistent-quarvex-folder/ztmp/kml_tmp1.$m");
    EXPECT_NO_THROW(set.Finish()); // nothing was started, nothing to end
}

TEST(ULayerSet, FullDiskDuringAPassStillFinishesEveryLayer)
{
    TScratchDir dir;
    TMyInfoParser set;
    TAttributeTable table(1252);
    PrepareWithTables(set, table, dir.Path());
    std::string error;
    {
        quarvex::test::TFileSizeLimit limit(200 * 1000);
        try {
            std::vector<std::string> names(20000, "point");
            WritePointPass(set, table, names);
        } catch (const EInOutError& e) {
            error = e.what();
        }
        table.CloseAttributeTable();
        try {
            set.Finish();
        } catch (const EInOutError&) {
        }
    }
    EXPECT_EQ(error, "Disk full");
    // Every layer file ends up with a header whose length is the file's.
    for (int kind = 1; kind <= 4; ++kind) {
        auto shp = quarvex::test::ReadBytes(LayerOf(kind).Name);
        ASSERT_GE(shp.size(), 100u);
        uint32_t words = (uint32_t(shp[24]) << 24) | (shp[25] << 16) | (shp[26] << 8) | shp[27];
        EXPECT_EQ(size_t(words) * 2, shp.size()) << kind;
    }
    EXPECT_NE(ReadText(dir.File("kml_tmp2.xml")).find(kTail), std::string::npos);
}

TEST(ULayerSet, AllFourLayersReadBackWithPyshp)
{
    TScratchDir dir;
    TMyInfoParser set;
    TAttributeTable table(1250);
    PrepareWithTables(set, table, dir.Path());
    WritePointPass(set, table, {"\xC5\x81\xC3\xB3\x64\xC5\xBA", "B & B"});

    TListaXY ring;
    auto writeShape = [&](int kind, const std::string& name, std::vector<std::pair<double, double>> pts) {
        ring.Clear();
        for (auto [x, y] : pts)
            ring.Add(x, y);
        table.OpenAttributeTable(ChangeFileExt(LayerOf(kind).Name, ".dbf"));
        set.WriterOf(kind)->AddPolyLine(ring);
        table.AppendAttributeRecord(LayerOf(kind).Count + 1, name);
        table.CloseAttributeTable();
        set.AddExtent(*set.WriterOf(kind));
        LayerOf(kind).Count += 1;
    };
    writeShape(2, "Trail", {{-112.25, 36.125}, {-112.5, 36.0}, {-112.75, 36.5}});
    writeShape(3, "Lake", {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}});
    writeShape(4, "Island", {{1, 1}, {1, 2}, {2, 2}, {1, 1}});
    set.Finish();

    using quarvex::test::DumpLayer;
    EXPECT_EQ(DumpLayer(dir.File("kml_tmp1.$m"), dir.File("kml_tmp1.dbf")),
              "codepage cp1250\n"
              "type 1 bbox 1.0 -2.0 2.0 -1.0\n"
              "shape 1 type 1 parts [] points (1.0 -1.0)\n"
              "shape 2 type 1 parts [] points (2.0 -2.0)\n"
              "fields ZID:N:9,NAME:C:255,HINT:C:255,COLOR:C:10,ICON_SIZE:C:5,EXTRUDE:C:1,TESELLATE:C:1\n"
              "records 2\n"
              "record 1 ZID 1 NAME '\xC5\x81\xC3\xB3\x64\xC5\xBA'\n"
              "record 2 ZID 2 NAME 'B & B'\n");
    EXPECT_EQ(DumpLayer(dir.File("kml_tmp2.$m"), dir.File("kml_tmp2.dbf")),
              "codepage cp1250\n"
              "type 3 bbox -112.75 36.0 -112.25 36.5\n"
              "shape 1 type 3 parts [0] points (-112.25 36.125) (-112.5 36.0) (-112.75 36.5)\n"
              "fields ZID:N:9,NAME:C:255,HINT:C:255,COLOR:C:10,ICON_SIZE:C:5,EXTRUDE:C:1,TESELLATE:C:1\n"
              "records 1\n"
              "record 1 ZID 1 NAME 'Trail'\n");
    std::string outer = DumpLayer(dir.File("kml_tmp3.$m"), dir.File("kml_tmp3.dbf"));
    EXPECT_NE(outer.find("type 5 bbox 0.0 0.0 4.0 4.0\n"), std::string::npos) << outer;
    EXPECT_NE(outer.find("shape 1 type 5 parts [0] points (0.0 0.0) (4.0 0.0) (4.0 4.0) (0.0 4.0) (0.0 0.0)\n"),
              std::string::npos)
        << outer;
    EXPECT_NE(outer.find("record 1 ZID 1 NAME 'Lake'\n"), std::string::npos) << outer;
    std::string inner = DumpLayer(dir.File("kml_tmp4.$m"), dir.File("kml_tmp4.dbf"));
    EXPECT_NE(inner.find("shape 1 type 5 parts [0] points (1.0 1.0) (1.0 2.0) (2.0 2.0) (1.0 1.0)\n"),
              std::string::npos)
        << inner;
    EXPECT_NE(inner.find("record 1 ZID 1 NAME 'Island'\n"), std::string::npos) << inner;
}

TEST(ULayerSet, AFaultLeavesEveryLayerWholeAndAlike)
{
    // Points with names of two-byte letters, written until a file-size limit
    // stops one of the three files; each limit cuts a different file first.
    // Names of many "&" make the descriptions the largest file, so that a
    // failed flush there loses entries the shapes and rows still have.
    const std::string letters = "\xC5\x81\xC3\xB3\x64\xC5\xBA \xD0\x96", ampersands(2000, '&');
    const struct {
        std::string name;
        uint64_t limit;
    } rows[] = {{letters, 5000}, {letters, 40 * 1000}, {letters, 120 * 1000}, {letters, 2000 * 1000},
                {ampersands, 120 * 1000}, {ampersands, 300 * 1000}};
    for (const auto& [name, limit] : rows) {
        TScratchDir dir;
        TMyInfoParser set;
        TAttributeTable table(1250);
        PrepareWithTables(set, table, dir.Path());
        std::string error;
        {
            quarvex::test::TFileSizeLimit cap(limit);
            try {
                WritePointPass(set, table, std::vector<std::string>(3000, name));
                set.Finish();
            } catch (const EInOutError& e) {
                error = e.what();
            }
            try {
                table.CloseAttributeTable();
            } catch (const EInOutError&) {
            }
            set.FinishAfterError();
        }
        EXPECT_EQ(error, limit < 2000 * 1000 ? "Disk full" : "") << limit;
        const std::string check = quarvex::test::RunCommand(
            "/usr/bin/python3 '" + quarvex::test::SourceDir() + "/tests/tools/shpdump.py' --check '" + dir.Path() + "' 2>&1");
        const int32_t n = PointLayer.Count;
        EXPECT_EQ(check, "layer 1 shapes " + std::to_string(n) + " records " + std::to_string(n) +
                             " ok\nlayer 2 shapes 0 records 0 ok\nlayer 3 shapes 0 records 0 ok\n"
                             "layer 4 shapes 0 records 0 ok\n")
            << limit;
        auto shp = quarvex::test::ReadBytes(LayerOf(1).Name);
        ASSERT_GE(shp.size(), 100u);
        EXPECT_EQ(size_t((uint32_t(shp[24]) << 24) | (shp[25] << 16) | (shp[26] << 8) | shp[27]) * 2, shp.size());
        std::string escaped;
        for (char c : name)
            escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
        std::string expected = kHead;
        for (int zid = 1; zid <= n; ++zid)
            expected += Entry(zid, escaped);
        // Compared whole, without printing ten thousand ampersands.
        EXPECT_TRUE(ReadText(dir.File("kml_tmp1.xml")) == expected + kTail) << limit << " " << n;
        EXPECT_GT(n, 0);
        EXPECT_EQ(n == 3000, limit == 2000 * 1000 && name == letters) << n;
    }
}

TEST(ULayerSet, ALayerThatCannotBeMadeWholeIsRemoved)
{
    TScratchDir dir;
    TMyInfoParser set;
    TAttributeTable table(1252);
    // An earlier job's table must not stay beside this job's layer.
    set.SetDefaults();
    PointLayer.Name = LayerFileName(1, dir.Path());
    quarvex::test::WriteText(dir.File("kml_tmp1.dbf"), "old table");
    set.Prepare(dir.Path());
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("kml_tmp1.dbf")));
    table.CreateAttributeTable(ChangeFileExt(LayerOf(1).Name, ".dbf"));
    table.CreateAttributeTable(ChangeFileExt(LayerOf(2).Name, ".dbf"));
    // Kinds 3 and 4 have no table: the job stopped before creating them.
    set.FinishAfterError();
    for (int kind = 1; kind <= 4; ++kind) {
        for (const char* ext : {".$m", ".dbf", ".xml"}) {
            EXPECT_EQ(quarvex::test::FileExists(ChangeFileExt(LayerOf(kind).Name, ext)), kind <= 2) << kind << ext;
        }
    }
    EXPECT_EQ(ReadText(dir.File("kml_tmp2.xml")), kHead + kTail);
}

TEST(ULayerSet, AFinishThatFailsAtOneLayerKeepsTheOthersWhole)
{
    TScratchDir dir;
    TMyInfoParser set;
    TAttributeTable table(1252);
    PrepareWithTables(set, table, dir.Path());
    WritePointPass(set, table, {"a", "b"});
    // The inner rings' descriptions file cannot take its tail.
    std::filesystem::remove(dir.File("kml_tmp4.xml"));
    std::filesystem::create_directory(dir.File("kml_tmp4.xml"));
    EXPECT_THROW(set.Finish(), EInOutError);
    EXPECT_EQ(ReadText(dir.File("kml_tmp1.xml")), kHead + Entry(1, "a") + Entry(2, "b") + kTail);
    for (int kind = 1; kind <= 3; ++kind) {
        auto shp = quarvex::test::ReadBytes(LayerOf(kind).Name);
        ASSERT_GE(shp.size(), 100u) << kind;
        EXPECT_EQ(size_t(shp[27]) * 2 + size_t(shp[26]) * 512, shp.size()) << kind;
        EXPECT_EQ(ReadText(ChangeFileExt(LayerOf(kind).Name, ".xml")).rfind(kTail), ReadText(ChangeFileExt(LayerOf(kind).Name, ".xml")).size() - kTail.size());
    }
    EXPECT_EQ(PointLayer.Count, 2);
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("kml_tmp4.$m")));
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("kml_tmp4.dbf")));
}
