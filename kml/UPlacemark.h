// The two DOM operations of the import: the text of a named child element,
// and the name of the placemark that holds a geometry.
#pragma once

#include "platform/UKmlDom.h"

#include <string>
#include <string_view>

namespace quarvex {

// True when name, with its ASCII letters upper-cased, equals upperName.
bool SameNameUpperCased(std::string_view name, std::string_view upperName);

// The value of the first child node of node's first child element whose
// upper-cased name is upperName; empty when there is none. Only that first
// text, CDATA or comment node counts. The view lives as long as the DOM.
std::string_view ChildText(TDomNode node, std::string_view upperName);

// All the text and CDATA inside the first child element of node whose
// upper-cased name is upperName (at any depth), comments passed over;
// empty when there is none. The view lives as long as the DOM, or, when
// the text is in several pieces, as long as scratch, which holds it joined.
std::string_view ChildAllText(TDomNode node, std::string_view upperName, std::string& scratch);

// The first child of node that is an element; comments, processing
// instructions and text before it are passed over. Null when there is none.
TDomNode FirstChildElement(TDomNode node);

// Finds the name of the placemark that holds a geometry, given the
// geometry's parent node (one MultiGeometry level is looked past).
class TPlacemarkNames {
public:
    // Fills the current placemark name and returns it.
    const std::string& PlacemarkName(TDomNode holder);
    // Forgets the last holder; called when another document may have been
    // loaded, whose nodes could lie where the old ones were.
    void Forget() { holder_ = TDomNode(); }

private:
    std::string current_;
    TDomNode holder_; // the holder current_ belongs to: geometries often share one
};

} // namespace quarvex
