#include "kml/UExportReader.h"

#include "kml/UCoordText.h"
#include "kml/UPlacemark.h"

#include <string>

#include <vector>

namespace quarvex {

namespace {

// A description longer than this is cut anyway (the table holds 254 bytes),
// so the walk over its children stops here: hostile nesting cannot make it slow.
constexpr size_t kMaxDescriptionText = 4096;

TDomNode FirstChildElement(TDomNode node, std::string_view upperName)
{
    for (TDomNode child = node.FirstChild(); child; child = child.NextSibling())
        if (child.IsElement() && SameNameUpperCased(child.NodeName(), upperName))
            return child;
    return TDomNode();
}

// The placemark a geometry belongs to, through any geometry containers in
// between (MultiGeometry, or the Multi* elements some writers use); a null
// node for a geometry that is no placemark's, such as a photo overlay's
// position, which has a feature or a folder above it instead.
TDomNode PlacemarkOf(TDomNode node)
{
    constexpr int kMaxLevels = 64; // deeper nesting is no placemark's geometry
    static const std::string_view kFeatures[] = {"DOCUMENT", "FOLDER", "KML", "PHOTOOVERLAY", "GROUNDOVERLAY",
                                                 "SCREENOVERLAY", "NETWORKLINK"};
    int level = 0;
    for (TDomNode up = node.ParentNode(); up && level < kMaxLevels; up = up.ParentNode(), ++level) {
        const std::string_view name = up.NodeName();
        if (SameNameUpperCased(name, "PLACEMARK"))
            return up;
        for (std::string_view feature : kFeatures)
            if (SameNameUpperCased(name, feature))
                return TDomNode();
    }
    return TDomNode();
}

void AppendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
}

void AppendStartTag(std::string& out, TDomNode element, bool empty)
{
    out.append("<").append(element.NodeName());
    element.ForEachAttribute([&](std::string_view name, std::string_view value) {
        out.append(" ").append(name).append("=\"");
        AppendEscaped(out, value);
        out.append("\"");
    });
    out.append(empty ? "/>" : ">");
}

// The children of node as text, walked without recursion: text and CDATA as
// they are, elements with their tags and attributes, comments left out.
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
        } else if (child.IsElement()) {
            const bool empty = !child.FirstChild();
            AppendStartTag(out, child, empty);
            if (!empty)
                open.push_back({child, child.FirstChild()});
        }
    }
}

std::string Trimmed(std::string text)
{
    const char* const blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
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
    return Trimmed(std::move(text));
}

void ForEachFeature(TDomDocument& doc, TFeatureClass featureClass, bool withDescriptions, int& skipped,
                    const std::function<void(const TExportFeature&)>& visit)
{
    static const char* const kTags[] = {"Point", "LineString", "Polygon"};
    TExportFeature feature;
    TDomNode lastPlacemark; // geometries of one placemark share its texts
    doc.ForEachElementByTagName(kTags[int(featureClass)], [&](TDomNode element) {
        const TDomNode placemark = PlacemarkOf(element);
        if (!placemark)
            return;
        if (!(placemark == lastPlacemark)) {
            lastPlacemark = placemark;
            feature.Name = ElementText(placemark, "NAME");
            feature.Description = withDescriptions ? ElementText(placemark, "DESCRIPTION") : std::string();
        }
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
                ReadRun(FirstChildElement(outer), feature.Outer, skipped);
            for (TDomNode b = element.FirstChild(); b; b = b.NextSibling()) {
                if (!b.IsElement() || !SameNameUpperCased(b.NodeName(), "INNERBOUNDARYIS"))
                    continue;
                for (TDomNode ring = b.FirstChild(); ring; ring = ring.NextSibling())
                    if (ring.IsElement()) {
                        feature.Holes.emplace_back();
                        ReadRun(ring, feature.Holes.back(), skipped);
                    }
            }
        }
        visit(feature);
    });
}

} // namespace quarvex
