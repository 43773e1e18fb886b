#include "export/UShapeBuilder.h"

#include <algorithm>

namespace quarvex {

namespace {

bool SamePoint(const TCXY& a, const TCXY& b)
{
    return a.X == b.X && a.Y == b.Y;
}

size_t DistinctPoints(std::vector<TCXY> points)
{
    std::sort(points.begin(), points.end(), [](const TCXY& a, const TCXY& b) {
        return a.X < b.X || (a.X == b.X && a.Y < b.Y);
    });
    return size_t(std::unique(points.begin(), points.end(), SamePoint) - points.begin());
}

// The coordinates of a run in the export's system, with their altitudes;
// tuples that cannot be projected are left out and counted.
void ProjectRun(const TCoordRun& run, const TExportProjection& projection, bool withZ, TShape& shape,
                TSetCounts& counts)
{
    for (size_t i = 0; i < run.Points.size(); ++i) {
        double x = run.Points[i].X, y = run.Points[i].Y;
        if (!projection.Project(x, y)) {
            ++counts.SkippedTuples;
            continue;
        }
        shape.Points.push_back(TCXY{x, y});
        if (withZ)
            shape.Z.push_back(i < run.Z.size() ? run.Z[i] : 0.0);
    }
}

// Appends one ring as a part of shape: closed, turned clockwise for an
// outer ring and counter-clockwise for a hole. A ring of fewer than three
// distinct vertices is dropped and counted.
void AddRing(const TCoordRun& run, bool hole, const TExportProjection& projection, bool withZ, TShape& shape,
             TSetCounts& counts)
{
    TShape ring;
    ProjectRun(run, projection, withZ, ring, counts);
    if (DistinctPoints(ring.Points) < 3) {
        ++counts.DroppedRings;
        return;
    }
    if (!SamePoint(ring.Points.front(), ring.Points.back())) {
        ring.Points.push_back(ring.Points.front());
        if (withZ)
            ring.Z.push_back(ring.Z.front());
    }
    const bool counterClockwise = RingArea2(ring.Points) > 0;
    if (counterClockwise != hole) {
        std::reverse(ring.Points.begin(), ring.Points.end());
        std::reverse(ring.Z.begin(), ring.Z.end());
    }
    shape.PartStarts.push_back(int32_t(shape.Points.size()));
    shape.Points.insert(shape.Points.end(), ring.Points.begin(), ring.Points.end());
    shape.Z.insert(shape.Z.end(), ring.Z.begin(), ring.Z.end());
}

} // namespace

double RingArea2(const std::vector<TCXY>& ring)
{
    // Shoelace over the ring, closed or not; relative to the first vertex,
    // so that large coordinates keep their precision.
    double area = 0.0;
    if (ring.size() < 3)
        return area;
    const TCXY& o = ring[0];
    for (size_t i = 1; i + 1 < ring.size(); ++i)
        area += (ring[i].X - o.X) * (ring[i + 1].Y - o.Y) - (ring[i + 1].X - o.X) * (ring[i].Y - o.Y);
    return area;
}

TShapeBuilder::TShapeBuilder(TFeatureClass featureClass, const TSetChoice& choice, const TExportProjection& projection)
    : class_(featureClass), choice_(choice), projection_(projection)
{
}

const TShape& TShapeBuilder::Build(const TKmlFeature& feature, TSetCounts& counts)
{
    shape_.Clear();
    const bool withZ = choice_.KeepElevations;
    const std::vector<TCoordRun>& parts = *feature.Parts;
    if (class_ == TFeatureClass::Polygon) {
        if (choice_.Outer && feature.HasOuter)
            AddRing(parts[0], false, projection_, withZ, shape_, counts);
        const size_t holes = feature.PartCount > 0 ? feature.PartCount - 1 : 0;
        // Holes belong to an outer ring; without outer rings chosen they
        // stand as areas of their own.
        const bool outerKept = !shape_.PartStarts.empty();
        if (!choice_.Inner)
            counts.HolesLeftOut += int(holes);
        else if (outerKept || !choice_.Outer)
            for (size_t i = 1; i < feature.PartCount; ++i)
                AddRing(parts[i], choice_.Outer, projection_, withZ, shape_, counts);
        else
            counts.OrphanHoles += int(holes);
        return shape_;
    }
    for (size_t i = 0; i < feature.PartCount; ++i) {
        const size_t start = shape_.Points.size();
        ProjectRun(parts[i], projection_, withZ, shape_, counts);
        if (class_ == TFeatureClass::Point)
            break;
        if (shape_.Points.size() - start < 2) { // a part of a path needs two points
            shape_.Points.resize(start);
            shape_.Z.resize(std::min(shape_.Z.size(), start));
            continue;
        }
        shape_.PartStarts.push_back(int32_t(start));
    }
    return shape_;
}

} // namespace quarvex
