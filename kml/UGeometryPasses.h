// The geometry passes: every Point, LineString and polygon boundary of the
// loaded document becomes one shape record, one attribute record and, for
// points, one descriptions entry, in its layer.
#pragma once

#include "kml/UJobView.h"
#include "kml/UPlacemark.h"
#include "platform/UKmlDom.h"
#include "shapefile/UAttributeTable.h"
#include "shapefile/ULayerSet.h"

namespace quarvex {

// What the passes work with; the job owns all of it.
struct TPassContext {
    TDomDocument& XMLDoc;
    TAttributeTable& Dbf1;
    TMyInfoParser& Layers;
    TJobView& View;
    TPlacemarkNames Names;
    TListaXY Vertices; // reused for every path and ring
    std::string Text;  // a coordinates text of several pieces, joined
};

// Each pass logs its element count (and the skipped tuples, when any) and
// adds the count to its layer record. Errors of the writers pass through.
void ParsePoints(TPassContext& context);
void ParsePaths(TPassContext& context);
// inner false: outerBoundaryIs into kind 3; true: innerBoundaryIs into kind 4.
void ParsePolygons(TPassContext& context, bool inner, TKMLMeta& layer);

} // namespace quarvex
