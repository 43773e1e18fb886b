#include "shapefile/UShpWriter.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quarvex;
using quarvex::test::ReadBytes;
using quarvex::test::TScratchDir;

namespace {
std::vector<uint8_t> WriteLayer(const std::string& path, uint8_t type, const std::function<void(TFileSHPW&)>& fill)
{
    TFileSHPW w;
    w.FileName = path;
    w.Open();
    w.Start(type);
    fill(w);
    w.Finish();
    w.Close();
    return ReadBytes(path);
}

void ExpectBox(const std::vector<uint8_t>& f, size_t at, double xmin, double ymin, double xmax, double ymax)
{
    EXPECT_EQ(GetLEDouble(&f[at]), xmin);
    EXPECT_EQ(GetLEDouble(&f[at + 8]), ymin);
    EXPECT_EQ(GetLEDouble(&f[at + 16]), xmax);
    EXPECT_EQ(GetLEDouble(&f[at + 24]), ymax);
}
} // namespace

TEST(UShpWriter, EmptyLayerIsHeaderOnly)
{
    TScratchDir dir;
    auto f = WriteLayer(dir.File("a.$m"), 5, [](TFileSHPW&) {});
    ASSERT_EQ(f.size(), 100u);
    const uint8_t expectedStart[] = {0x00, 0x00, 0x27, 0x0A};
    EXPECT_TRUE(std::equal(expectedStart, expectedStart + 4, f.begin()));
    for (size_t i = 4; i < 24; ++i)
        EXPECT_EQ(f[i], 0) << i;
    EXPECT_EQ(GetBE32(&f[24]), 50u);
    EXPECT_EQ(GetLE32(&f[28]), 1000u);
    EXPECT_EQ(GetLE32(&f[32]), 5u);
    for (size_t i = 36; i < 100; ++i)
        EXPECT_EQ(f[i], 0) << i;
}

TEST(UShpWriter, OnePointIsByteExact)
{
    TScratchDir dir;
    auto f = WriteLayer(dir.File("p.$m"), 1, [](TFileSHPW& w) { w.AddPoint(10.5, 47.25); });
    ASSERT_EQ(f.size(), 128u);
    EXPECT_EQ(GetBE32(&f[24]), 64u);
    ExpectBox(f, 36, 10.5, 47.25, 10.5, 47.25);
    const uint8_t record[] = {0, 0, 0, 1, 0, 0, 0, 10, 1, 0, 0, 0,
                              0, 0, 0, 0, 0, 0, 0x25, 0x40, 0, 0, 0, 0, 0, 0xA0, 0x47, 0x40};
    EXPECT_TRUE(std::equal(record, record + 28, f.begin() + 100));
}

TEST(UShpWriter, PolyLineRecordsAndRunningBox)
{
    TScratchDir dir;
    TListaXY path;
    path.Add(1, 2);
    path.Add(-3, 4);
    path.Add(5, -6);
    auto f = WriteLayer(dir.File("l.$m"), 3, [&](TFileSHPW& w) { w.AddPolyLine(path); });
    ASSERT_EQ(f.size(), 204u);
    EXPECT_EQ(GetBE32(&f[24]), 102u);
    EXPECT_EQ(GetBE32(&f[100]), 1u);
    EXPECT_EQ(GetBE32(&f[104]), 48u);
    EXPECT_EQ(GetLE32(&f[108]), 3u);
    ExpectBox(f, 112, -3, -6, 5, 4);
    EXPECT_EQ(GetLE32(&f[144]), 1u); // parts
    EXPECT_EQ(GetLE32(&f[148]), 3u); // points
    EXPECT_EQ(GetLE32(&f[152]), 0u); // start of the part
    EXPECT_EQ(GetLEDouble(&f[156]), 1);
    EXPECT_EQ(GetLEDouble(&f[164]), 2);
    EXPECT_EQ(GetLEDouble(&f[188]), 5);
    EXPECT_EQ(GetLEDouble(&f[196]), -6);
    ExpectBox(f, 36, -3, -6, 5, 4);

    // A shape with no vertex has box (0, 0, 1, 1), which widens the layer box.
    TListaXY empty;
    auto g = WriteLayer(dir.File("e.$m"), 5, [&](TFileSHPW& w) {
        w.AddPolyLine(path);
        w.AddPolyLine(empty);
    });
    ASSERT_EQ(g.size(), 204u + 56u);
    EXPECT_EQ(GetBE32(&g[204]), 2u);
    EXPECT_EQ(GetBE32(&g[208]), 24u);
    EXPECT_EQ(GetLE32(&g[212]), 5u);
    ExpectBox(g, 216, 0, 0, 1, 1);
    EXPECT_EQ(GetLE32(&g[252]), 0u);
    ExpectBox(g, 36, -3, -6, 5, 4);

    auto h = WriteLayer(dir.File("b.$m"), 1, [](TFileSHPW& w) {
        w.AddPoint(-1, 5);
        w.AddPoint(3, -2);
    });
    ExpectBox(h, 36, -1, -2, 3, 5);
    EXPECT_EQ(GetBE32(&h[128]), 2u);
}

TEST(UShpWriter, RingsAreWrittenAsGiven)
{
    TScratchDir dir;
    TListaXY closed;
    for (auto [x, y] : {std::pair{0.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}, {0.0, 0.0}})
        closed.Add(x, y);
    auto f = WriteLayer(dir.File("r.$m"), 5, [&](TFileSHPW& w) { w.AddPolyLine(closed); });
    EXPECT_EQ(GetLE32(&f[148]), 4u);
    EXPECT_EQ(GetLEDouble(&f[156 + 48]), 0.0);
    EXPECT_EQ(f.size(), 100u + 56u + 64u);
}

TEST(UShpWriter, OpenReplacesAnExistingFile)
{
    TScratchDir dir;
    quarvex::test::WriteText(dir.File("x.$m"), std::string(5000, 'z'));
    auto f = WriteLayer(dir.File("x.$m"), 1, [](TFileSHPW&) {});
    EXPECT_EQ(f.size(), 100u);
}

TEST(UShpWriter, FailuresRaiseTheIoError)
{
    TFileSHPW missing;
    missing.FileName = "/nonexistent-quarvex-folder/kml_tmp1.$m";
    try {
        missing.Open();
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(e.ErrorCode() == 2 || e.ErrorCode() == 3) << e.ErrorCode();
    }
    EXPECT_FALSE(missing.IsOpen);

    // A full disk shows at once, since Start puts the header on disk; a
    // device named as the layer is never removed.
    TFileSHPW full;
    full.FileName = "/dev/full";
    full.Open();
    try {
        full.Start(1);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
        EXPECT_EQ(e.ErrorCode(), 101);
    }
    EXPECT_FALSE(full.IsOpen);
    EXPECT_TRUE(quarvex::test::FileExists("/dev/full"));
}

TEST(UShpWriter, EmptyShapesDoNotWidenTheLayerBox)
{
    TScratchDir dir;
    TListaXY alaska, empty;
    alaska.Add(-150.5, 61.25);
    alaska.Add(-149.75, 61.5);
    struct Row {
        const char* name;
        std::vector<bool> emptyFirst; // the shapes in order: true = no vertex
        double box[4];
        bool hasVertexBox;
    };
    const Row rows[] = {
        {"empty between", {false, true, false}, {-150.5, 61.25, -149.75, 61.5}, true},
        {"empty first", {true, false}, {-150.5, 61.25, -149.75, 61.5}, true},
        {"all empty", {true, true}, {0, 0, 1, 1}, false},
    };
    for (const Row& row : rows) {
        bool hasVertexBox = false;
        auto f = WriteLayer(dir.File("e.$m"), 3, [&](TFileSHPW& w) {
            for (bool isEmpty : row.emptyFirst)
                w.AddPolyLine(isEmpty ? empty : alaska);
            hasVertexBox = w.HasVertexBox();
        });
        ExpectBox(f, 36, row.box[0], row.box[1], row.box[2], row.box[3]);
        EXPECT_EQ(hasVertexBox, row.hasVertexBox) << row.name;
        // The empty record itself still carries the box of an empty list.
        if (row.emptyFirst[0])
            ExpectBox(f, 112, 0, 0, 1, 1);
    }
}

TEST(UShpWriter, FullDiskLeavesWholeRecordsUnderATrueHeader)
{
    // Four paths of 5,000 vertices (80,056 bytes each) against file-size
    // limits that cut the file in the header, in a record head, in the
    // vertices and right after a record.
    TScratchDir dir;
    TListaXY paths[4];
    for (int p = 0; p < 4; ++p)
        for (int i = 0; i < 5000; ++i)
            paths[p].Add(p * 10 + i * 0.001, -p - i * 0.002);
    struct Row {
        uint64_t limit;
        int32_t records; // whole records left
    };
    const Row rows[] = {{100 + 30, 0}, {200 * 1024, 2}, {100 + 80056 * 3, 3}, {100 + 80056 + 20, 1}};
    for (const Row& row : rows) {
        const std::string path = dir.File("kml_tmp2.$m");
        TFileSHPW w;
        w.FileName = path;
        w.Open();
        w.Start(3);
        std::string error;
        int32_t kept = -1;
        {
            quarvex::test::TFileSizeLimit limit(row.limit);
            try {
                for (const TListaXY& p : paths)
                    w.AddPolyLine(p);
                w.Finish();
            } catch (const EInOutError& e) {
                error = e.what();
            }
            kept = w.SettleOnDisk(std::numeric_limits<int32_t>::max());
        }
        w.Close();
        EXPECT_EQ(error, "Disk full") << row.limit;
        EXPECT_EQ(kept, row.records) << row.limit;
        auto f = ReadBytes(path);
        ASSERT_EQ(f.size(), 100u + 80056u * size_t(row.records)) << row.limit;
        EXPECT_EQ(size_t(GetBE32(&f[24])) * 2, f.size());
        if (row.records == 0) {
            ExpectBox(f, 36, 0, 0, 0, 0);
        } else {
            const int last = row.records - 1;
            ExpectBox(f, 36, 0, -last - 4999 * 0.002, last * 10 + 4999 * 0.001, 0);
            EXPECT_EQ(GetBE32(&f[100 + 80056 * size_t(row.records - 1)]), uint32_t(row.records));
        }
    }

    // Settling to fewer records cuts whole records off the end.
    TFileSHPW w;
    w.FileName = dir.File("cut.$m");
    w.Open();
    w.Start(1);
    w.AddPoint(1, 1);
    w.AddPoint(5, 7);
    w.AddPoint(-3, 2);
    EXPECT_EQ(w.SettleOnDisk(2), 2);
    w.Close();
    auto f = ReadBytes(dir.File("cut.$m"));
    ASSERT_EQ(f.size(), 156u);
    EXPECT_EQ(GetBE32(&f[24]), 78u);
    ExpectBox(f, 36, 1, 1, 5, 7);
}

TEST(UShpWriter, StartPutsTheHeaderOnDiskOrRemovesTheFile)
{
    TScratchDir dir;
    TFileSHPW w;
    w.FileName = dir.File("s.$m");
    w.Open();
    w.Start(5);
    EXPECT_EQ(ReadBytes(w.FileName).size(), 100u); // before any Finish
    w.AddPoint(1, 2);
    w.Close();

    TFileSHPW refused;
    refused.FileName = dir.File("r.$m");
    refused.Open();
    {
        quarvex::test::TFileSizeLimit limit(60);
        EXPECT_THROW(refused.Start(1), EInOutError);
    }
    EXPECT_FALSE(refused.IsOpen);
    EXPECT_FALSE(quarvex::test::FileExists(refused.FileName));
}
