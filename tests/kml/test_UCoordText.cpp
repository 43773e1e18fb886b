#include "kml/UCoordText.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

using namespace quarvex;

namespace {
struct TParsed {
    std::vector<std::pair<double, double>> vertices;
    int skipped = 0;
};

TParsed Parse(std::string_view text)
{
    TListaXY list;
    list.Add(99, 99); // must be emptied
    TParsed out;
    ParseCoordList(text, list, out.skipped);
    for (int i = 1; i <= list.Count(); ++i)
        out.vertices.emplace_back(list.Item(i).X, list.Item(i).Y);
    return out;
}

using V = std::vector<std::pair<double, double>>;
} // namespace

TEST(UCoordText, NumberSyntax)
{
    struct Row {
        const char* text;
        bool valid;
        double value;
    };
    const Row rows[] = {
        {"-122.08", true, -122.08}, {"+5", true, 5},       {"5.", true, 5},        {".5", true, 0.5},
        {".", true, 0},             {"1e3", true, 1000},   {"-2.5E-2", true, -0.025}, {"0.1", true, 0.1},
        {"12.5x", false, 0},        {"1.5E", false, 0},    {"1e+", false, 0},      {"-", false, 0},
        {"", false, 0},             {"abc", false, 0},     {"1.2.3", false, 0},    {" 1", false, 0},
        {"1 ", false, 0},           {"0x10", false, 0},    {"inf", false, 0},      {"nan", false, 0},
        {"1e999", false, 0},        {"-.", false, 0},          {"+-5", false, 0},      {"-+5", false, 0},
        {"++5", false, 0},          {"--5", false, 0},         {"+.5", true, 0.5},     {"-0", true, 0},
    };
    for (const Row& row : rows) {
        double value = -1;
        EXPECT_EQ(StrToReal(row.text, value), row.valid) << row.text;
        if (row.valid) {
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
    double v = 0;
    ASSERT_TRUE(StrToReal("-112.2012345678901234567", v)); // nearest double
    EXPECT_EQ(v, -112.2012345678901234567);
}

TEST(UCoordText, TuplesAreSeparatedByAnyWhiteSpace)
{
    EXPECT_EQ(Parse("1,2,3 4,5,6").vertices, (V{{1, 2}, {4, 5}}));
    EXPECT_EQ(Parse("1,2,3 4,5,6 ").vertices, (V{{1, 2}, {4, 5}}));
    EXPECT_EQ(Parse("1,2,3   4,5,6  \n\t ").vertices, (V{{1, 2}, {4, 5}}));
    EXPECT_EQ(Parse("1,2 3,4").vertices, (V{{1, 2}, {3, 4}}));
    EXPECT_EQ(Parse("\n1,2,3\n4,5,6\n7,8,9").vertices, (V{{1, 2}, {4, 5}, {7, 8}}));
    EXPECT_EQ(Parse("\r\n\t\t\t-112.2,36.1,2357\r\n\t\t\t-112.3,36.2,2357\r\n\t\t").vertices,
              (V{{-112.2, 36.1}, {-112.3, 36.2}}));
    EXPECT_EQ(Parse("1, 2, 3 4,\t5").vertices, (V{{1, 2}, {4, 5}}));
    EXPECT_EQ(Parse("").vertices, V{});
    EXPECT_EQ(Parse(" \n ").vertices, V{});
    EXPECT_EQ(Parse(" \n ").skipped, 0);
}

TEST(UCoordText, MalformedTuplesAreSkippedAndCounted)
{
    TParsed p = Parse("1,2,3 12.5x,4 5 6,abc,0 -3.25\n,1 7,8,9,10 9,10,bad 11,12");
    EXPECT_EQ(p.vertices, (V{{1, 2}, {9, 10}, {11, 12}}));
    // "12.5x,4", "5", "6,abc,0", "-3.25" (its comma goes to the next tuple), ",1" and "7,8,9,10"
    EXPECT_EQ(p.skipped, 6);

    int skipped = 0;
    TCXY point = ParsePointText("-122.08,37.42,0", skipped);
    EXPECT_EQ(point.X, -122.08);
    EXPECT_EQ(point.Y, 37.42);
    point = ParsePointText("\t\tbad 1,2 3,4", skipped);
    EXPECT_EQ(point.X, 1);
    EXPECT_EQ(point.Y, 2);
    EXPECT_EQ(skipped, 1);
    point = ParsePointText("", skipped);
    EXPECT_EQ(point.X, 0);
    EXPECT_EQ(point.Y, 0);
    point = ParsePointText("x,y", skipped);
    EXPECT_EQ(point.X, 0);
    EXPECT_EQ(skipped, 2);
}

TEST(UCoordText, TupleEndsAreTheSameOnEveryReadingPath)
{
    struct Row {
        const char* text;
        V vertices;
        int skipped;
    };
    const Row rows[] = {
        {"1,2,", {{1, 2}}, 0},
        {"1,2,  ", {{1, 2}}, 0},
        {"1,", {}, 1},
        {"1,2,3,4 5,6", {{5, 6}}, 1},
        {"1,2,x 5,6", {{1, 2}, {5, 6}}, 0},
        {"-1.5e2,+3,0 .5,-.5,0 1.,2.", {{-150, 3}, {0.5, -0.5}, {1, 2}}, 0},
        {"1,2x,0 -,1 1e999,1 -inf,1 7,8", {{7, 8}}, 4},
        {"1,\n\t 2,\r\n3 4", {{1, 2}}, 1},
        {"+-5,1 1,+-5 1,2", {{1, 2}}, 2},
    };
    for (const Row& row : rows) {
        TParsed p = Parse(row.text);
        EXPECT_EQ(p.vertices, row.vertices) << row.text;
        EXPECT_EQ(p.skipped, row.skipped) << row.text;
    }
}

TEST(UCoordText, EveryNumberReadsAsFromCharsReadsIt)
{
    // Numbers of every length, read by the one-pass tuple reading: each must
    // be the double that from_chars gives for the field alone.
    std::vector<std::string> numbers = {"9007199254740992", "9007199254740993", "90.07199254740992", "-0.0", "0",
                                        "123456789012345678", "1234567890123456789", "0.0000000000000000000001",
                                        "0.00000000000000000000001", "-179.99999999999999", "5.", "1e2"};
    uint64_t seed = 20261208;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const int intDigits = int(seed >> 60) % 4, fracDigits = int(seed >> 55) % 20;
        std::string n = (seed & 1) ? "-" : "";
        n += std::to_string((seed >> 8) % 1000).substr(0, size_t(intDigits + 1));
        n += ".";
        for (int d = 0; d < fracDigits; ++d)
            n += char('0' + (seed >> (d % 50)) % 10);
        numbers.push_back(n);
    }
    for (const std::string& n : numbers) {
        double expected = 0;
        std::from_chars(n.data(), n.data() + n.size(), expected);
        TParsed p = Parse(n + "," + n + ",0");
        ASSERT_EQ(p.vertices.size(), 1u) << n;
        EXPECT_EQ(p.vertices[0].first, expected) << n;
        EXPECT_EQ(std::signbit(p.vertices[0].second), std::signbit(expected)) << n;
    }
}
