#include "kml/UGeometryPasses.h"

#include "kml/UCoordText.h"
#include "kml/UParse.h"

namespace quarvex {

namespace {

struct TPassResult {
    int count = 0;
    int skipped = 0; // malformed coordinate tuples
};

// The frame shared by every geometry pass: progress, the layer's table and
// descriptions file open around the elements, the extent after them.
// writeElement(element, writer, zid, skipped) writes one element's records.
template <class F>
TPassResult RunGeometryPass(TPassContext& c, const char* passName, const char* tagName, int kind, F writeElement)
{
    TPassResult result;
    c.View.SetPassName(passName);
    result.count = c.XMLDoc.CountElementsByTagName(tagName);
    if (result.count == 0)
        return result;
    TKMLMeta& layer = LayerOf(kind);
    TFileSHPW* writer = c.Layers.WriterOf(kind);
    if (!writer)
        throw EQuarvexError(std::string("The layer for ") + passName + " was not prepared");
    c.View.SetProgressMax(result.count);
    c.View.SetProgressPosition(0);
    c.Layers.OpenDescriptions(kind);
    c.Dbf1.OpenAttributeTable(TableNameOf(layer.Name));
    int i = 0;
    c.Names.Forget();
    c.XMLDoc.ForEachElementByTagName(tagName, [&](TDomNode element) {
        ++i;
        writeElement(element, *writer, layer.Count + i, result.skipped);
        c.View.SetProgressPosition(i);
    });
    c.Layers.AddExtent(*writer);
    c.Dbf1.CloseAttributeTable();
    c.Layers.CloseDescriptions();
    return result;
}

void LogPass(TPassContext& c, const std::string& label, const TPassResult& result, TKMLMeta& layer)
{
    c.View.AddLog(label + std::to_string(result.count));
    if (result.skipped > 0)
        c.View.AddLog("      Skipped coordinates: " + std::to_string(result.skipped));
    layer.Count += result.count;
}

} // namespace

void ParsePoints(TPassContext& c)
{
    TPassResult result = RunGeometryPass(c, "Points", "Point", kPointsKind,
                                         [&](TDomNode e, TFileSHPW& writer, int32_t zid, int& skipped) {
                                             const std::string& name = c.Names.PlacemarkName(e.ParentNode());
                                             TCXY p = ParsePointText(ChildAllText(e, "COORDINATES", c.Text), skipped);
                                             writer.AddPoint(p.X, p.Y);
                                             c.Dbf1.AppendAttributeRecord(zid, name);
                                             c.Layers.AddDescription(zid, name);
                                         });
    LogPass(c, "      Points: ", result, PointLayer);
}

void ParsePaths(TPassContext& c)
{
    TPassResult result = RunGeometryPass(c, "Paths", "LineString", kPathsKind,
                                         [&](TDomNode e, TFileSHPW& writer, int32_t zid, int& skipped) {
                                             const std::string& name = c.Names.PlacemarkName(e.ParentNode());
                                             ParseCoordList(ChildAllText(e, "COORDINATES", c.Text), c.Vertices, skipped);
                                             writer.AddPolyLine(c.Vertices);
                                             c.Dbf1.AppendAttributeRecord(zid, name);
                                         });
    LogPass(c, "      Paths: ", result, PathLayer);
}

void ParsePolygons(TPassContext& c, bool inner, TKMLMeta& layer)
{
    const char* tagName = inner ? "innerBoundaryIs" : "outerBoundaryIs";
    const int kind = inner ? kInnerPolygonsKind : kOuterPolygonsKind;
    TPassResult result = RunGeometryPass(c, "Polygons", tagName, kind,
                                         [&](TDomNode b, TFileSHPW& writer, int32_t zid, int& skipped) {
                                             // The name is the one of the node that holds the Polygon.
                                             const std::string& name = c.Names.PlacemarkName(b.ParentNode().ParentNode());
                                             // The ring is the first child element: a comment
                                             // before it must not stand in for it.
                                             TDomNode ring = FirstChildElement(b);
                                             ParseCoordList(ChildAllText(ring, "COORDINATES", c.Text), c.Vertices, skipped);
                                             writer.AddPolyLine(c.Vertices);
                                             c.Dbf1.AppendAttributeRecord(zid, name);
                                         });
    LogPass(c, inner ? "      Polygons (inner): " : "      Polygons(outer): ", result, layer);
}

} // namespace quarvex
