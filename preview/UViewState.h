// The one record of the map view. The conversion job leaves the loaded flag
// and the extent of what it wrote here; the map view owns the rest.
#pragma once

namespace quarvex {

struct TViewState {
    bool Loaded = false; // a converted document with at least one entity is on show
    double MinX = 0.0;
    double MinY = 0.0;
    double MaxX = 0.0;
    double MaxY = 0.0;
};

extern TViewState ViewState;

} // namespace quarvex
