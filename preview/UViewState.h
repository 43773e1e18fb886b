// The one record of the map view. The conversion job leaves the loaded flag
// and the extent of what it wrote here; the map view owns the scales, the
// margins and the drawing size.
#pragma once

#include <cstdint>

namespace quarvex {

struct TViewState {
    double ScaleX = 0.0; // map units per pixel; after every fit both scales are equal
    double ScaleY = 0.0;
    int32_t MarginLeft = 0;
    int32_t MarginTop = 0;
    int32_t DrawHeight = 0;  // image height - MarginTop - MarginBottom
    int32_t DrawWidth = 0;   // image width - MarginLeft - 5 (the right margin)
    int32_t MarginBottom = 0;
    double MinX = 0.0;
    double MinY = 0.0;
    double MaxX = 0.0;
    double MaxY = 0.0;
    bool Loaded = false; // a converted document with at least one entity is on show
};

extern TViewState ViewState;

// Half size in pixels of a point symbol on the map; set by the open command
// from the layer counts (PointRadiusFor), 0 before the first one.
extern uint8_t PointRadius;

} // namespace quarvex
