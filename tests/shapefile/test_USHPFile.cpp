#include "shapefile/USHPFile.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"
#include "shapefile/UShpWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quarvex;
using quarvex::test::TScratchDir;

namespace {

// Little builder of shape-file bytes, for records our writer never makes.
struct TShpBytes {
    std::vector<uint8_t> b;

    TShpBytes& BE(int32_t v)
    {
        b.resize(b.size() + 4);
        PutBE32(&b[b.size() - 4], uint32_t(v));
        return *this;
    }
    TShpBytes& LE(int32_t v)
    {
        b.resize(b.size() + 4);
        PutLE32(&b[b.size() - 4], uint32_t(v));
        return *this;
    }
    TShpBytes& D(double v)
    {
        b.resize(b.size() + 8);
        PutLEDouble(&b[b.size() - 8], v);
        return *this;
    }
    TShpBytes& Header(int32_t type)
    {
        BE(9994);
        for (int i = 0; i < 5; ++i)
            BE(0);
        BE(0).LE(1000).LE(type);
        for (int i = 0; i < 8; ++i)
            D(0);
        return *this;
    }
    // Record head; the content length is never read, so any value does.
    TShpBytes& Head(int32_t number, int32_t type) { return BE(number).BE(0).LE(type); }
    TShpBytes& Box() { return D(-1).D(-2).D(3).D(4); }
    TShpBytes& XY(int n, double base = 0)
    {
        for (int i = 0; i < n; ++i)
            D(base + i).D(base + i + 0.5);
        return *this;
    }
    TShpBytes& Values(int n, double base)
    {
        D(0).D(0); // range
        for (int i = 0; i < n; ++i)
            D(base + i);
        return *this;
    }
    void Save(const std::string& path) const
    {
        quarvex::test::WriteText(path, std::string(b.begin(), b.end()));
    }
};

std::vector<std::pair<double, double>> PointsOf(const TListaXY& list)
{
    std::vector<std::pair<double, double>> out;
    for (int i = 1; i <= list.Count(); ++i)
        out.emplace_back(list.Item(i).X, list.Item(i).Y);
    return out;
}

std::vector<int> PartsOf(const TListaInt& list)
{
    std::vector<int> out;
    for (int i = 1; i <= list.Count(); ++i)
        out.push_back(list.Item(i).Value);
    return out;
}

// The first n Z or M values.
std::vector<double> ValuesOf(const TListaDouble& list, int n)
{
    std::vector<double> out;
    for (int i = 1; i <= n; ++i)
        out.push_back(list.Item(i).Value);
    return out;
}

std::string ReadMessage(TFileSHP& reader)
{
    try {
        reader.ReadRecord();
    } catch (const EQuarvexError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(USHPFile, OpenAndHeaderCases)
{
    TScratchDir dir;
    const std::vector<uint8_t> header = TShpBytes().Header(5).b;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* outcome; // "open fails", "false", "true eof", or an error message
    } cases[] = {
        {"empty", {}, "false"},
        {"three bytes", {0, 0, 0x27}, "false"},
        {"wrong code", TShpBytes().BE(9995).b, "false"},
        {"header only", TShpBytes().Header(5).b, "true eof"},
        {"code then cut", std::vector<uint8_t>(header.begin(), header.begin() + 60), "Read beyond end of file"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File(std::string(c.name) + ".$m");
        quarvex::test::WriteText(path, std::string(c.bytes.begin(), c.bytes.end()));
        TFileSHP reader;
        reader.FileName = path;
        ASSERT_TRUE(reader.Open()) << c.name;
        std::string outcome;
        try {
            bool ok = reader.ReadHeader();
            outcome = ok ? (reader.Eof() ? "true eof" : "true") : "false";
        } catch (const EInOutError& e) {
            outcome = e.what();
        }
        EXPECT_EQ(outcome, c.outcome) << c.name;
    }
    TFileSHP missing;
    missing.FileName = dir.File("none.$m");
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.IsOpen);
    TFileSHP folder;
    folder.FileName = dir.Path();
    EXPECT_FALSE(folder.Open());
}

TEST(USHPFile, ReadsBackWhatTheWriterWrote)
{
    TScratchDir dir;
    // Ring and path sizes straddle the 500-point blocks of the reader.
    const int sizes[] = {1, 2, 3, 499, 500, 501, 1234};
    for (uint8_t type : {uint8_t(1), uint8_t(3), uint8_t(5)}) {
        const std::string path = dir.File("layer" + std::to_string(type) + ".$m");
        std::vector<std::vector<std::pair<double, double>>> written;
        {
            TFileSHPW w;
            w.FileName = path;
            w.Open();
            w.Start(type);
            for (int n : sizes) {
                TListaXY shape;
                for (int i = 0; i < (type == 1 ? 1 : n); ++i)
                    shape.Add(n * 1000.0 + i * 0.125, -i / 3.0);
                written.push_back(PointsOf(shape));
                if (type == 1)
                    w.AddPoint(shape.Item(1).X, shape.Item(1).Y);
                else
                    w.AddPolyLine(shape);
            }
            w.Finish();
            w.Close();
        }
        TFileSHP reader;
        reader.FileName = path;
        ASSERT_TRUE(reader.Open());
        ASSERT_TRUE(reader.ReadHeader());
        EXPECT_EQ(reader.ShapeType, type);
        EXPECT_EQ(reader.Xmin, 1000.0);
        TListaXY part;
        for (size_t s = 0; s < written.size(); ++s) {
            ASSERT_FALSE(reader.Eof());
            reader.ReadRecord();
            EXPECT_EQ(reader.RecNumber, int(s + 1));
            EXPECT_EQ(reader.RecShapeType, type);
            if (type == 1) {
                EXPECT_EQ(PointsOf(reader.Points), written[s]);
                continue;
            }
            EXPECT_EQ(PartsOf(reader.Parts), std::vector<int>{0});
            EXPECT_EQ(reader.GetPart(1, part), written[s].size() > 1);
            EXPECT_EQ(PointsOf(part), written[s]) << "shape " << s;
        }
        EXPECT_TRUE(reader.Eof());
    }
}

TEST(USHPFile, GetPartCases)
{
    struct Case {
        std::vector<int32_t> parts;
        int points;
        int part;
        std::vector<double> xs; // X of the points handed out; X is the 0-based index
        bool result;
        const char* error;
    } cases[] = {
        {{0}, 3, 1, {0, 1, 2}, true, nullptr},
        {{0}, 3, 2, {}, false, nullptr},
        {{0, 2}, 5, 1, {0, 1}, true, nullptr},
        {{0, 2}, 5, 2, {2, 3, 4}, true, nullptr},
        {{-4, 2}, 5, 1, {0, 1}, true, nullptr}, // a negative start reads as 0
        {{0, 4}, 5, 2, {4}, false, nullptr},    // a part of one point
        {{3, 1}, 5, 1, {}, false, nullptr},     // ends before it starts
        {{0, 7}, 5, 2, {}, false, nullptr},     // starts past the points, ends at them
        {{0, 9}, 5, 1, {}, false, "List index out of bounds (5)"},
        {{7}, 5, 0, {}, false, "List index out of bounds (-1)"},
    };
    TScratchDir dir;
    for (const Case& c : cases) {
        TShpBytes bytes;
        bytes.Header(3).Head(1, 3).Box().LE(int32_t(c.parts.size())).LE(c.points);
        for (int32_t start : c.parts)
            bytes.LE(start);
        for (int i = 0; i < c.points; ++i)
            bytes.D(i).D(0);
        bytes.Save(dir.File("p.$m"));
        TFileSHP reader;
        reader.FileName = dir.File("p.$m");
        ASSERT_TRUE(reader.Open() && reader.ReadHeader());
        reader.ReadRecord();
        TListaXY list;
        list.Add(99, 99);
        std::string error;
        bool result = false;
        try {
            result = reader.GetPart(c.part, list);
        } catch (const EListError& e) {
            error = e.what();
        }
        std::vector<double> xs;
        for (int i = 1; i <= list.Count(); ++i)
            xs.push_back(list.Item(i).X);
        EXPECT_EQ(error, c.error ? c.error : "") << "part " << c.part;
        if (!c.error) {
            EXPECT_EQ(xs, c.xs) << "part " << c.part;
            EXPECT_EQ(result, c.result) << "part " << c.part;
        }
    }
}

// A walk over every shape type: each record fills exactly the lists its type
// carries and leaves the others as the previous record left them.
TEST(USHPFile, EveryShapeTypeFillsItsOwnLists)
{
    TShpBytes bytes;
    bytes.Header(3);
    bytes.Head(1, 3).Box().LE(1).LE(3).LE(0).XY(3, 10);               // PolyLine
    bytes.Head(2, 0);                                                 // null
    bytes.Head(3, 11).D(7).D(8).D(9).D(10);                           // PointZ
    bytes.Head(4, 28).Box().LE(2).XY(2, 20).Values(2, 50);            // MultiPointM
    bytes.Head(5, 15).Box().LE(2).LE(4).LE(0).LE(2).XY(4, 30).Values(4, 60).Values(4, 70); // PolygonZ
    bytes.Head(6, 31).Box().LE(1).LE(3).LE(0).LE(5).XY(3, 40).Values(3, 80).Values(3, 90); // MultiPatch
    bytes.Head(7, 21).D(1).D(2).D(3);                                 // PointM
    bytes.Head(8, 7).Box();                                           // a type the format lacks: box only
    bytes.Head(9, 1).D(5).D(6);                                       // Point
    TScratchDir dir;
    bytes.Save(dir.File("all.$m"));

    TFileSHP r;
    r.FileName = dir.File("all.$m");
    ASSERT_TRUE(r.Open() && r.ReadHeader());
    using P = std::vector<std::pair<double, double>>;
    r.ReadRecord();
    EXPECT_EQ(PointsOf(r.Points), (P{{10, 10.5}, {11, 11.5}, {12, 12.5}}));
    r.ReadRecord();
    EXPECT_EQ(r.RecShapeType, 0);
    EXPECT_EQ(PointsOf(r.Points), (P{{10, 10.5}, {11, 11.5}, {12, 12.5}}));
    EXPECT_EQ(PartsOf(r.Parts), std::vector<int>{0});
    r.ReadRecord();
    EXPECT_EQ(PointsOf(r.Points), (P{{7, 8}}));
    EXPECT_EQ(ValuesOf(r.ZValues, 1), std::vector<double>{9});
    EXPECT_EQ(ValuesOf(r.MValues, 1), std::vector<double>{10});
    r.ReadRecord();
    EXPECT_EQ(r.NumPoints, 2);
    EXPECT_EQ(PointsOf(r.Points), (P{{20, 20.5}, {21, 21.5}}));
    EXPECT_EQ(ValuesOf(r.MValues, 2), (std::vector<double>{50, 51}));
    EXPECT_EQ(ValuesOf(r.ZValues, 1), std::vector<double>{9}); // MultiPointM has no Z
    EXPECT_EQ(PartsOf(r.Parts), std::vector<int>{0});
    r.ReadRecord();
    EXPECT_EQ(r.RecBox.Xmin, -1);
    EXPECT_EQ(r.RecBox.Ymax, 4);
    EXPECT_EQ(PartsOf(r.Parts), (std::vector<int>{0, 2}));
    EXPECT_EQ(ValuesOf(r.ZValues, 4), (std::vector<double>{60, 61, 62, 63}));
    EXPECT_EQ(ValuesOf(r.MValues, 4), (std::vector<double>{70, 71, 72, 73}));
    r.ReadRecord();
    EXPECT_EQ(PartsOf(r.Parts), std::vector<int>{0});
    EXPECT_EQ(PointsOf(r.Points), (P{{40, 40.5}, {41, 41.5}, {42, 42.5}}));
    EXPECT_EQ(ValuesOf(r.MValues, 3), (std::vector<double>{90, 91, 92}));
    r.ReadRecord();
    EXPECT_EQ(PointsOf(r.Points), (P{{1, 2}}));
    EXPECT_EQ(ValuesOf(r.MValues, 1), std::vector<double>{3});
    EXPECT_EQ(ValuesOf(r.ZValues, 1), std::vector<double>{80}); // PointM has no Z
    r.ReadRecord();
    EXPECT_EQ(r.RecShapeType, 7);
    EXPECT_EQ(PointsOf(r.Points), (P{{1, 2}}));
    r.ReadRecord();
    EXPECT_EQ(PointsOf(r.Points), (P{{5, 6}}));
    EXPECT_TRUE(r.Eof());
}

// Counts that the file cannot hold are refused before anything is read or
// allocated: the lists keep the previous record's contents.
TEST(USHPFile, HostileCountsAndCutRecordsReadBeyondEnd)
{
    const struct Case {
        const char* name;
        std::function<void(TShpBytes&)> record;
    } cases[] = {
        {"cut head", [](TShpBytes& b) { b.BE(2).BE(0); }},
        {"cut box", [](TShpBytes& b) { b.Head(2, 5).D(1).D(2); }},
        {"cut point", [](TShpBytes& b) { b.Head(2, 1).D(1); }},
        {"huge point count", [](TShpBytes& b) { b.Head(2, 3).Box().LE(1).LE(0x7FFFFFFF).LE(0).XY(2); }},
        {"huge part count", [](TShpBytes& b) { b.Head(2, 5).Box().LE(0x7FFFFFFF).LE(2).LE(0).XY(2); }},
        {"negative point count", [](TShpBytes& b) { b.Head(2, 3).Box().LE(1).LE(-1).LE(0); }},
        {"negative part count", [](TShpBytes& b) { b.Head(2, 3).Box().LE(-5).LE(1).XY(1); }},
        {"points cut in a block", [](TShpBytes& b) { b.Head(2, 3).Box().LE(1).LE(600).LE(0).XY(599); }},
        {"multipoint cut", [](TShpBytes& b) { b.Head(2, 8).Box().LE(3).XY(2); }},
        {"Z section missing", [](TShpBytes& b) { b.Head(2, 13).Box().LE(1).LE(2).LE(0).XY(2).Values(2, 0); }},
        {"M values cut", [](TShpBytes& b) { b.Head(2, 23).Box().LE(1).LE(2).LE(0).XY(2).D(0).D(0).D(1); }},
        {"multipatch types cut", [](TShpBytes& b) { b.Head(2, 31).Box().LE(3).LE(1).LE(0).LE(0).LE(0).LE(1); }},
    };
    TScratchDir dir;
    for (const Case& c : cases) {
        TShpBytes bytes;
        bytes.Header(3).Head(1, 3).Box().LE(1).LE(2).LE(0).XY(2, 100);
        c.record(bytes);
        bytes.Save(dir.File("h.$m"));
        TFileSHP r;
        r.FileName = dir.File("h.$m");
        ASSERT_TRUE(r.Open() && r.ReadHeader()) << c.name;
        r.ReadRecord();
        EXPECT_EQ(ReadMessage(r), "Read beyond end of file") << c.name;
        EXPECT_EQ(PointsOf(r.Points), (std::vector<std::pair<double, double>>{{100, 100.5}, {101, 101.5}}))
            << c.name;
        EXPECT_EQ(PartsOf(r.Parts), std::vector<int>{0}) << c.name;
    }
}

TEST(USHPFile, ShapeClassSortsEveryType)
{
    std::string classes;
    for (int type = 0; type <= 255; ++type)
        if (ShapeClass(type) != 0)
            classes += std::to_string(type) + ":" + std::to_string(ShapeClass(type)) + " ";
    EXPECT_EQ(classes, "1:1 3:2 5:3 8:1 11:1 13:2 15:3 18:1 21:1 23:2 25:3 28:1 ");
    EXPECT_EQ(ShapeClass(31), 0);
    EXPECT_EQ(ShapeClass(-1), 0);
}
