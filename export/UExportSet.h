// One shapefile set of an export while it is written: the shapes of one
// class go to its .shp and .shx as they come, their rows to a file of their
// own; Finish then writes the table (.dbf, UTF-8), the .cpg and the .prj.
// Everything is written under temporary names; the export puts a complete
// set in place.
#pragma once

#include "export/UAttributeSchema.h"
#include "export/UKmlFeature.h"
#include "export/USetCommit.h"
#include "export/UShapeBuilder.h"
#include "platform/UProjection.h"
#include "shapefile/UShapeSet.h"

#include <string>
#include <vector>

namespace quarvex {


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
    void WriteTable();

    TFeatureClass class_;
    std::string path_;
    TSetChoice choice_;
    const TExportProjection& projection_;
    const TFieldRegistry& fields_;
    TShapeBuilder builder_;
    TShapeSetWriter shapes_;
    TSetRows rows_;
    bool open_ = false;
    TSetCounts counts_;
    std::vector<std::string> parts_;
};

} // namespace quarvex
