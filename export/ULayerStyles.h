// The default style of a GeoPackage feature table, in the QML of QGIS (the
// layer_styles table that QGIS reads when it opens the table): one symbol
// whose colours, widths, fill, outline and icon size are data-defined from
// the table's style fields, so that each feature is drawn in its KML
// colours; where a feature has no value (and in a table without style
// fields) the symbol's own plain values stand.
#pragma once

#include "export/UKmlFeature.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

// The style of a table of featureClass that holds the fixed fields fields
// (their keys; the style names only those of them it uses).
std::string LayerStyleQml(TFeatureClass featureClass, const std::vector<uint16_t>& fields);

} // namespace quarvex
