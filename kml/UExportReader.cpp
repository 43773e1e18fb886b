#include "kml/UExportReader.h"

#include "kml/UCoordText.h"
#include "kml/UPlacemark.h"

#include <vector>

namespace quarvex {

namespace {

// A description longer than this is cut anyway (the table holds 254 bytes),
// so the walk over its children stops here: hostile nesting cannot make it slow.
constexpr size_t kMaxDescriptionText = 4096;

bool IsElement(TDomNode node)
{
    const std::string_view name = node.NodeName();
    return !name.empty() && name[0] != '#';
}

TDomNode FirstChildElement(TDomNode node, std::string_view upperName)
{
    for (TDomNode child = node.FirstChild(); child; child = child.NextSibling())
        if (IsElement(child) && SameNameUpperCased(child.NodeName(), upperName))
            return child;
    return TDomNode();
}

TDomNode FirstElement(TDomNode node)
{
    for (TDomNode child = node.FirstChild(); child; child = child.NextSibling())
        if (IsElement(child))
            return child;
    return TDomNode();
}

TDomNode PlacemarkOf(TDomNode node)
{
    for (TDomNode up = node.ParentNode(); up; up = up.ParentNode())
        if (SameNameUpperCased(up.NodeName(), "PLACEMARK"))
            return up;
    return TDomNode();
}

// The children of node as text, walked without recursion.
void AppendChildrenText(TDomNode node, std::string& out)
{
    struct TOpen {
        TDomNode element;
        TDomNode next; // the next child to visit
    };
    std::vector<TOpen> open{{node, node.FirstChild()}};
    while (!open.empty() && out.size() < kMaxDescriptionText) {
        TOpen& top = open.back();
        if (!top.next) {
            if (open.size() > 1)
                out.append("</").append(top.element.NodeName()).append(">");
            open.pop_back();
            continue;
        }
        const TDomNode child = top.next;
        top.next = child.NextSibling();
        const std::string_view name = child.NodeName();
        if (name == "#text" || name == "#cdata-section") {
            out.append(child.NodeValue());
        } else if (IsElement(child)) {
            out.append("<").append(name).append(">");
            open.push_back({child, child.FirstChild()});
        }
    }
}

void ReadRun(TDomNode holder, TCoordRun& run, int& skipped)
{
    ParseCoordTuples(ChildText(holder, "COORDINATES"), run.Points, &run.Z, skipped);
}

} // namespace

std::string ElementText(TDomNode node, std::string_view upperName)
{
    std::string text;
    if (TDomNode element = FirstChildElement(node, upperName))
        AppendChildrenText(element, text);
    return text;
}

void ForEachFeature(TDomDocument& doc, TFeatureClass featureClass, bool withDescriptions, int& skipped,
                    const std::function<void(const TExportFeature&)>& visit)
{
    static const char* const kTags[] = {"Point", "LineString", "Polygon"};
    TPlacemarkNames names;
    TExportFeature feature;
    doc.ForEachElementByTagName(kTags[int(featureClass)], [&](TDomNode element) {
        feature.Name = names.PlacemarkName(element.ParentNode());
        feature.Description = withDescriptions ? ElementText(PlacemarkOf(element), "DESCRIPTION") : std::string();
        feature.Holes.clear();
        feature.HasOuter = true;
        if (featureClass != TFeatureClass::Polygon) {
            ReadRun(element, feature.Outer, skipped);
            if (featureClass == TFeatureClass::Point && feature.Outer.Points.size() > 1) {
                feature.Outer.Points.resize(1); // a point is its first valid tuple
                feature.Outer.Z.resize(1);
            }
        } else {
            // The ring is the first element of its boundary: comments and
            // processing instructions never stand in for it.
            const TDomNode outer = FirstChildElement(element, "OUTERBOUNDARYIS");
            feature.HasOuter = bool(outer);
            feature.Outer.Points.clear();
            feature.Outer.Z.clear();
            if (outer)
                ReadRun(FirstElement(outer), feature.Outer, skipped);
            for (TDomNode b = element.FirstChild(); b; b = b.NextSibling()) {
                if (!IsElement(b) || !SameNameUpperCased(b.NodeName(), "INNERBOUNDARYIS"))
                    continue;
                for (TDomNode ring = b.FirstChild(); ring; ring = ring.NextSibling())
                    if (IsElement(ring)) {
                        feature.Holes.emplace_back();
                        ReadRun(ring, feature.Holes.back(), skipped);
                    }
            }
        }
        visit(feature);
    });
}

} // namespace quarvex
