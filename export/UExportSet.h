// One shapefile set of an export while it is written: the shapes of one
// class go to its .shp and .shx as they come, their rows to a file of their
// own; Finish then writes the table (.dbf, UTF-8), the .cpg and the .prj.
// Everything is written under temporary names; the export puts a complete
// set in place.
#pragma once

#include "export/UAttributeSchema.h"
#include "export/UKmlFeature.h"
#include "platform/UProjection.h"
#include "shapefile/UShapeSet.h"

#include <string>
#include <vector>

namespace quarvex {

// The suffix of a file written, until it is complete and put in place.
extern const char* const kPartSuffix;
// The files of a set, in the order they are put in place; the .shp goes
// last, so that a reader never finds a main file whose companions are old.
extern const char* const kSetExtensions[5];

struct TSetCounts {
    int Features = 0;
    int SkippedTuples = 0; // tuples the coordinate system cannot take
    int DroppedRings = 0;  // fewer than 3 distinct vertices
    int OrphanHoles = 0;   // holes whose outer ring was dropped or missing
    int HolesLeftOut = 0;  // holes of polygons while holes are not chosen
    int BadValues = 0;
};

struct TSetChoice {
    bool Outer = true;  // polygons: outer rings
    bool Inner = true;  // polygons: holes
    bool KeepElevations = false;
    bool Descriptions = false;
    bool Prj = true;
};

class TExportSet {
public:
    // path: the set's path without extension (folder + base + "_points").
    TExportSet(TFeatureClass featureClass, std::string path, const TSetChoice& choice,
               const TExportProjection& projection, const TFieldRegistry& fields);

    TFeatureClass Class() const { return class_; }
    const std::string& Path() const { return path_; }
    TSetCounts& Counts() { return counts_; }
    // The extensions written under temporary names; none until Finish of
    // a set with shapes.
    const std::vector<std::string>& Parts() const { return parts_; }

    // Writes one record; the files are created with the first.
    void Add(const TKmlFeature& feature);
    // Writes the table and the companion files; nothing for a set that got
    // no record. Raises EQuarvexError naming the set on failure.
    void Finish();
    // Closes and removes every temporary file of the set.
    void Abandon();

private:
    void BuildShape(const TKmlFeature& feature);
    void WriteTable();

    TFeatureClass class_;
    std::string path_;
    TSetChoice choice_;
    const TExportProjection& projection_;
    const TFieldRegistry& fields_;
    TShapeSetWriter shapes_;
    TSetRows rows_;
    bool open_ = false;
    TSetCounts counts_;
    std::vector<std::string> parts_;
    TShape shape_;
};

// Orientation of a ring in the plane: twice its signed area, positive
// when it runs counter-clockwise (y up).
double RingArea2(const std::vector<TCXY>& ring);

} // namespace quarvex
