// The four layer check boxes of the map page as a model without a toolkit:
// enabled and checked, and the click handler that runs whenever the checked
// state changes, by the user or by the program, as check boxes do. The
// desktop window's check boxes follow this model.
#pragma once

#include <functional>

namespace quarvex {

class TLayerCheck {
public:
    bool Enabled() const { return enabled_; }
    bool Checked() const { return checked_; }
    void SetEnabled(bool enabled)
    {
        if (enabled_ == enabled)
            return;
        enabled_ = enabled;
        if (OnStateChange)
            OnStateChange();
    }
    // Runs OnClick when the state changes.
    void SetChecked(bool checked)
    {
        if (checked_ == checked)
            return;
        checked_ = checked;
        if (OnStateChange)
            OnStateChange();
        if (OnClick)
            OnClick();
    }

    std::function<void()> OnClick;       // the behaviour: the map view redraws
    std::function<void()> OnStateChange; // a widget that mirrors the model

private:
    bool enabled_ = true; // at start enabled and unchecked
    bool checked_ = false;
};

struct TLayerChecks {
    TLayerCheck CheckPoint;   // "Points"
    TLayerCheck CheckPath;    // "Paths"
    TLayerCheck CheckPolyIn;  // "Polygons (inner)"
    TLayerCheck CheckPolyOut; // "Polygons (outer)"
};

} // namespace quarvex
