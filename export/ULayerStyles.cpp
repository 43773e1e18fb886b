#include "export/ULayerStyles.h"

#include <algorithm>
#include <utility>

namespace quarvex {

namespace {

using TPairs = std::vector<std::pair<std::string, std::string>>;

std::string EscapeXml(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string FieldRef(TFixedField field)
{
    static const char* const kNames[] = {"ICON", "ICONSCALE", "ICONCOLOR", "LINECOLOR", "LINEWIDTH",
                                         "FILLCOLOR", "FILL", "OUTLINE"};
    return std::string("\"") + kNames[int(field) - int(TFixedField::Icon)] + "\"";
}

// The fields hold "#RRGGBBAA"; QGIS reads a colour text as "#AARRGGBB".
// A feature without a value gives NULL, and the symbol's own colour stands.
std::string ColourExpression(TFixedField field)
{
    const std::string f = FieldRef(field);
    return "'#' || substr(" + f + ", 8, 2) || substr(" + f + ", 2, 6)";
}

// The symbol layer's own values, both as the option map QGIS writes now and
// as the property list that earlier versions read.
std::string StaticOptions(const TPairs& options)
{
    std::string map = "          <Option type=\"Map\">\n", props;
    for (const auto& [name, value] : options) {
        map += "            <Option name=\"" + name + "\" value=\"" + EscapeXml(value) + "\" type=\"QString\"/>\n";
        props += "          <prop k=\"" + name + "\" v=\"" + EscapeXml(value) + "\"/>\n";
    }
    return map + "          </Option>\n" + props;
}

// The data-defined properties (QGIS's property keys) and their expressions.
std::string DataDefined(const TPairs& properties, const std::string& indent)
{
    std::string out = indent + "<data_defined_properties>\n" + indent + "  <Option type=\"Map\">\n" + indent +
                      "    <Option name=\"name\" value=\"\" type=\"QString\"/>\n";
    if (properties.empty()) {
        out += indent + "    <Option name=\"properties\"/>\n";
    } else {
        out += indent + "    <Option name=\"properties\" type=\"Map\">\n";
        for (const auto& [key, expression] : properties)
            out += indent + "      <Option name=\"" + key + "\" type=\"Map\">\n" + indent +
                   "        <Option name=\"active\" value=\"true\" type=\"bool\"/>\n" + indent +
                   "        <Option name=\"expression\" value=\"" + EscapeXml(expression) + "\" type=\"QString\"/>\n" +
                   indent + "        <Option name=\"type\" value=\"3\" type=\"int\"/>\n" + indent + "      </Option>\n";
        out += indent + "    </Option>\n";
    }
    return out + indent + "    <Option name=\"type\" value=\"collection\" type=\"QString\"/>\n" + indent +
           "  </Option>\n" + indent + "</data_defined_properties>\n";
}

struct TSymbol {
    const char* Type;       // marker, line, fill
    const char* LayerClass; // SimpleMarker, SimpleLine, SimpleFill
    TPairs Options;
    TPairs Properties;
};

TSymbol SymbolOf(TFeatureClass featureClass, const std::vector<uint16_t>& fields)
{
    auto has = [&](TFixedField field) {
        return std::find(fields.begin(), fields.end(), FieldKey(field)) != fields.end();
    };
    TSymbol symbol;
    auto define = [&](TFixedField field, const char* key, const std::string& expression) {
        if (has(field))
            symbol.Properties.emplace_back(key, expression);
    };
    // Widths and sizes in pixels, as KML gives a line's width; an icon of
    // scale 1 is drawn 12 pixels wide.
    if (featureClass == TFeatureClass::Point) {
        symbol = {"marker", "SimpleMarker",
                  {{"name", "circle"}, {"color", "255,170,0,255"}, {"outline_color", "35,35,35,255"},
                   {"outline_style", "solid"}, {"outline_width", "1"}, {"outline_width_unit", "Pixel"},
                   {"size", "12"}, {"size_unit", "Pixel"}},
                  {}};
        define(TFixedField::IconColor, "fillColor", ColourExpression(TFixedField::IconColor));
        define(TFixedField::IconScale, "size", "12 * " + FieldRef(TFixedField::IconScale));
    } else if (featureClass == TFeatureClass::Path) {
        symbol = {"line", "SimpleLine",
                  {{"line_color", "31,120,180,255"}, {"line_style", "solid"}, {"line_width", "1"},
                   {"line_width_unit", "Pixel"}, {"capstyle", "round"}, {"joinstyle", "round"}},
                  {}};
        define(TFixedField::LineColor, "outlineColor", ColourExpression(TFixedField::LineColor));
        define(TFixedField::LineWidth, "outlineWidth", FieldRef(TFixedField::LineWidth));
    } else {
        symbol = {"fill", "SimpleFill",
                  {{"color", "31,120,180,90"}, {"style", "solid"}, {"outline_color", "31,120,180,255"},
                   {"outline_style", "solid"}, {"outline_width", "1"}, {"outline_width_unit", "Pixel"}},
                  {}};
        define(TFixedField::FillColor, "fillColor", ColourExpression(TFixedField::FillColor));
        define(TFixedField::LineColor, "outlineColor", ColourExpression(TFixedField::LineColor));
        define(TFixedField::LineWidth, "outlineWidth", FieldRef(TFixedField::LineWidth));
        define(TFixedField::Fill, "fillStyle", "CASE WHEN " + FieldRef(TFixedField::Fill) + " = 0 THEN 'no' END");
        define(TFixedField::Outline, "outlineStyle",
               "CASE WHEN " + FieldRef(TFixedField::Outline) + " = 0 THEN 'no' END");
    }
    return symbol;
}

} // namespace

std::string LayerStyleQml(TFeatureClass featureClass, const std::vector<uint16_t>& fields)
{
    const TSymbol symbol = SymbolOf(featureClass, fields);
    return std::string("<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
                       "<qgis version=\"3.28.0\" styleCategories=\"Symbology\">\n"
                       "  <renderer-v2 type=\"singleSymbol\" symbollevels=\"0\" enableorderby=\"0\" "
                       "forceraster=\"0\" referencescale=\"-1\">\n"
                       "    <symbols>\n"
                       "      <symbol type=\"") +
           symbol.Type + "\" name=\"0\" alpha=\"1\" clip_to_extent=\"1\" force_rhr=\"0\">\n" +
           DataDefined({}, "        ") + "        <layer class=\"" + symbol.LayerClass +
           "\" enabled=\"1\" locked=\"0\" pass=\"0\">\n" + StaticOptions(symbol.Options) +
           DataDefined(symbol.Properties, "          ") +
           "        </layer>\n"
           "      </symbol>\n"
           "    </symbols>\n"
           "    <rotation/>\n"
           "    <sizescale/>\n"
           "  </renderer-v2>\n"
           "  <blendMode>0</blendMode>\n"
           "  <featureBlendMode>0</featureBlendMode>\n"
           "  <layerGeometryType>" +
           std::to_string(int(featureClass)) + "</layerGeometryType>\n</qgis>\n";
}

} // namespace quarvex
