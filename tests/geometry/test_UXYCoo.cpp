#include "geometry/UXYCoo.h"
#include "platform/UErrors.h"

#include <gtest/gtest.h>

using namespace quarvex;

namespace {
TExtent ExtentOf(std::initializer_list<TCXY> points)
{
    TListaXY list;
    for (const TCXY& p : points)
        list.Add(p.X, p.Y);
    TExtent e;
    list.GetExtent(e);
    return e;
}

void ExpectExtent(const TExtent& e, double xmin, double ymin, double xmax, double ymax)
{
    EXPECT_EQ(e.Xmin, xmin);
    EXPECT_EQ(e.Ymin, ymin);
    EXPECT_EQ(e.Xmax, xmax);
    EXPECT_EQ(e.Ymax, ymax);
}

template <class TList>
std::string IndexErrorOf(TList& list, int position)
{
    try {
        list.Item(position);
    } catch (const EListError& e) {
        return e.what();
    }
    return "no error";
}
} // namespace

TEST(UXYCoo, ExtentOfEmptyOneAndSeveralPoints)
{
    ExpectExtent(ExtentOf({}), 0, 0, 1, 1);
    ExpectExtent(ExtentOf({{-7.5, 20}}), -7.5, 20, -7.5, 20);
    ExpectExtent(ExtentOf({{3, -2}, {1, 5}, {2, 0}}), 1, -2, 3, 5);
    // The first item replaces the starting values even when they would bound it.
    ExpectExtent(ExtentOf({{0.5, 0.5}, {0.25, 0.75}}), 0.25, 0.5, 0.5, 0.75);
}

TEST(UXYCoo, ItemsKeepValuesAndReferencesAcrossGrowth)
{
    TListaXY list;
    list.Add(10.5, 47.25);
    TCXY& first = list.Item(1);
    for (int i = 0; i < 5000; ++i) // several chunks
        list.Add(i, -i);
    EXPECT_EQ(&first, &list.Item(1));
    EXPECT_EQ(first.X, 10.5);
    EXPECT_EQ(first.Y, 47.25);
    EXPECT_EQ(list.Count(), 5001);
    EXPECT_EQ(list.Item(5001).X, 4999);
    EXPECT_EQ(list.Item(5001).Y, -4999);
}

TEST(UXYCoo, PositionsOutsideTheListRaiseWithZeroBasedIndex)
{
    TListaXY xy;
    TListaInt ints;
    TListaDouble doubles;
    EXPECT_EQ(IndexErrorOf(xy, 0), "List index out of bounds (-1)");
    EXPECT_EQ(IndexErrorOf(ints, 1), "List index out of bounds (0)");
    xy.Add(1, 2);
    xy.Add(3, 4);
    EXPECT_EQ(IndexErrorOf(xy, 3), "List index out of bounds (2)");
    EXPECT_EQ(IndexErrorOf(xy, INT32_MIN), "List index out of bounds (-2147483649)");
    doubles.Add(1.5);
    EXPECT_EQ(doubles.Item(1).Value, 1.5);
    EXPECT_EQ(IndexErrorOf(doubles, 2), "List index out of bounds (1)");
}

TEST(UXYCoo, ClearEmptiesAndListIsReusable)
{
    TListaInt ints;
    ints.Clear();
    EXPECT_EQ(ints.Count(), 0);
    ints.Add(7);
    ints.Add(-3);
    ints.Clear();
    EXPECT_EQ(ints.Count(), 0);
    EXPECT_THROW(ints.Item(1), EListError);
    ints.Add(42);
    EXPECT_EQ(ints.Count(), 1);
    EXPECT_EQ(ints.Item(1).Value, 42);
}
