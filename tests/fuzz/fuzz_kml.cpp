// Loads the fuzzer's bytes as a KML document and runs every pass over it
// into a scratch work folder (links are collected, never fetched).
#include "FuzzSupport.h"
#include "kml/UGeometryPasses.h"
#include "kml/UNetworkLinks.h"
#include "kml/UParse.h"

using namespace quarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string work = fuzz::FreshFolder("kml");
    TSilentJobView view;
    TMyInfoParser layers;
    layers.SetDefaults();
    TDomDocument doc;
    TAttributeTable table(1252);
    TPassContext context{doc, table, layers, view, {}, {}, {}};
    TLinkLists links;
    try {
        layers.Prepare(work);
        for (int kind = 1; kind <= 4; ++kind)
            table.CreateAttributeTable(TableNameOf(LayerOf(kind).Name));
        doc.LoadFromText(std::string(reinterpret_cast<const char*>(data), size));
        ParsePoints(context);
        ParsePaths(context);
        ParsePolygons(context, false, OuterPolygonLayer);
        ParsePolygons(context, true, InnerPolygonLayer);
        CollectLinks(context, links);
    } catch (const EQuarvexError&) {
    }
    table.CloseAttributeTable();
    try {
        layers.Finish();
    } catch (const EQuarvexError&) {
    }
    return 0;
}
