#include "export/UKmlReader.h"
#include "export/UKmlReaderParts.h"

#include "kml/UCoordText.h"

#include <cmath>
#include <numbers>
#include <unordered_map>

namespace quarvex {

using namespace kmlreader;

namespace {

// Coordinates text is read in pieces of about this size, so that a long
// path is held as its vertices, not as its text as well.
constexpr size_t kCoordinatePiece = size_t(64) << 10;
// A placemark with more geometries than this has them written as they end
// (with the values read so far) instead of all at its end.
constexpr size_t kHeldGeometries = 4096;
constexpr size_t kMaxSchemaFields = 10000;

const std::unordered_map<std::string_view, TKind>& KmlNames()
{
    static const std::unordered_map<std::string_view, TKind> names = {
        {"Document", TKind::Document}, {"Folder", TKind::Folder}, {"Placemark", TKind::Placemark},
        {"NetworkLink", TKind::NetworkLink}, {"GroundOverlay", TKind::GroundOverlay},
        {"PhotoOverlay", TKind::PhotoOverlay}, {"ScreenOverlay", TKind::Skip},
        {"NetworkLinkControl", TKind::Skip}, {"Update", TKind::Skip},
        {"name", TKind::Name}, {"description", TKind::Description}, {"visibility", TKind::Visibility},
        {"styleUrl", TKind::StyleUrl}, {"Style", TKind::Style}, {"StyleMap", TKind::StyleMap},
        {"Pair", TKind::Pair}, {"key", TKind::Key}, {"IconStyle", TKind::IconStyle},
        {"LineStyle", TKind::LineStyle}, {"PolyStyle", TKind::PolyStyle}, {"Icon", TKind::Icon},
        {"href", TKind::Href}, {"color", TKind::Color}, {"width", TKind::Width}, {"scale", TKind::Scale},
        {"fill", TKind::Fill}, {"outline", TKind::Outline}, {"TimeStamp", TKind::TimeStamp},
        {"TimeSpan", TKind::TimeSpan}, {"when", TKind::When}, {"begin", TKind::Begin}, {"end", TKind::End},
        {"ExtendedData", TKind::ExtendedData}, {"Data", TKind::Data}, {"value", TKind::Value},
        {"SchemaData", TKind::SchemaData}, {"SimpleData", TKind::SimpleData}, {"Schema", TKind::Schema},
        {"SimpleField", TKind::SimpleField}, {"MultiGeometry", TKind::MultiGeometry},
        // Containers some writers use in place of MultiGeometry.
        {"MultiPoint", TKind::MultiGeometry}, {"MultiLineString", TKind::MultiGeometry},
        {"MultiPolygon", TKind::MultiGeometry}, {"GeometryCollection", TKind::MultiGeometry},
        {"Point", TKind::Point}, {"LineString", TKind::LineString}, {"LinearRing", TKind::LinearRing},
        {"Polygon", TKind::Polygon}, {"outerBoundaryIs", TKind::OuterBoundaryIs},
        {"innerBoundaryIs", TKind::InnerBoundaryIs}, {"coordinates", TKind::Coordinates},
        {"altitudeMode", TKind::AltitudeMode}, {"extrude", TKind::Extrude}, {"tessellate", TKind::Tessellate},
        {"LatLonBox", TKind::LatLonBox}, {"north", TKind::North}, {"south", TKind::South},
        {"east", TKind::East}, {"west", TKind::West}, {"rotation", TKind::Rotation},
        {"Link", TKind::Link}, {"Url", TKind::Link},
    };
    return names;
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

// Where coordinates text may be cut without splitting a tuple: after a
// blank that ends a field (one right after a comma does not). 0 when there
// is no such place.
size_t SafeCut(const std::string& text)
{
    size_t end = text.size();
    while (end > 0) {
        const size_t blank = text.find_last_of(" \t\r\n", end - 1);
        if (blank == std::string::npos)
            return 0;
        size_t before = blank;
        while (before > 0 && IsBlank(text[before - 1]))
            --before;
        if (before == 0)
            return 0;
        if (text[before - 1] != ',')
            return blank + 1;
        end = before - 1;
    }
    return 0;
}

// The sine and cosine of an angle in degrees, exact at the quarter turns
// (an overlay turned by 90 degrees keeps its corners exactly).
void SinCosDegrees(double degrees, double& s, double& c)
{
    const double turn = std::fmod(degrees, 360.0);
    const double quarter = turn / 90.0;
    if (quarter == std::floor(quarter)) {
        static const double kSin[] = {0, 1, 0, -1}, kCos[] = {1, 0, -1, 0};
        const int q = (int(quarter) % 4 + 4) % 4;
        s = kSin[q];
        c = kCos[q];
        return;
    }
    const double radians = turn * std::numbers::pi / 180.0;
    s = std::sin(radians);
    c = std::cos(radians);
}

} // namespace

TKmlReader::TKmlReader(TFieldRegistry& fields, TReadCounts& counts, std::string folder, bool descriptions,
                       TFeatureSink onFeature, TLinkSink onLink)
    : fields_(fields), counts_(counts), linkFolder_(std::move(folder)), descriptions_(descriptions),
      onFeature_(std::move(onFeature)), onLink_(std::move(onLink))
{
}

TKmlReader::~TKmlReader() = default;

TKind TKmlReader::KindOf(const TXmlElement& element) const
{
    if (element.Ns == TXmlNs::Kml) {
        const auto& names = KmlNames();
        const auto it = names.find(element.Local);
        return it == names.end() ? TKind::Unknown : it->second;
    }
    if (element.Ns == TXmlNs::Gx) {
        if (element.Local == "Track")
            return TKind::Track;
        if (element.Local == "MultiTrack")
            return TKind::MultiTrack;
        if (element.Local == "coord")
            return TKind::GxCoord;
        if (element.Local == "altitudeMode")
            return TKind::AltitudeMode;
        if (element.Local == "LatLonQuad")
            return TKind::LatLonQuad;
        if (element.Local == "CascadingStyle")
            return TKind::CascadingStyle;
    }
    return TKind::Skip; // other namespaces, and extensions the export does not read
}

TKind TKmlReader::Parent(size_t up) const
{
    return stack_.size() > up ? stack_[stack_.size() - 1 - up].Kind : TKind::Unknown;
}

void TKmlReader::StartElement(const TXmlElement& element)
{
    if (skipDepth_ > 0) {
        ++skipDepth_;
        return;
    }
    if (capturing_) {
        CaptureStart(element);
        return;
    }
    TKind kind = coordTarget_ ? TKind::Unknown : KindOf(element);
    if (IsFeature(kind) && InFeature())
        kind = TKind::Skip; // no feature inside a feature
    if (kind == TKind::Skip) {
        skipDepth_ = 1;
        return;
    }
    stack_.push_back(TFrame{kind, false});
    const int capture = CaptureOf(kind);
    if (capture >= 0) {
        if (kind == TKind::SimpleData)
            dataName_ = std::string(element.Attribute("name"));
        StartCapture(capture == 1);
        return;
    }
    StartStructure(kind, element);
}

int TKmlReader::CaptureOf(TKind kind) const
{
    const TKind parent = Parent();
    auto when = [](bool yes, int markup = 0) { return yes ? markup : -1; };
    switch (kind) {
    case TKind::Name: return when(IsFeature(parent) || parent == TKind::Folder || parent == TKind::NetworkLink, 1);
    case TKind::Description: return when(IsFeature(parent) && descriptions_, 1);
    case TKind::Visibility: return when(IsFeature(parent));
    case TKind::StyleUrl: return when(IsFeature(parent) || parent == TKind::Pair);
    case TKind::Key: return when(parent == TKind::Pair);
    case TKind::When: return when(parent == TKind::TimeStamp && IsFeature(Parent(2)));
    case TKind::Begin:
    case TKind::End: return when(parent == TKind::TimeSpan && IsFeature(Parent(2)));
    case TKind::Value: return when(parent == TKind::Data && Parent(2) == TKind::ExtendedData && IsFeature(Parent(3)));
    case TKind::SimpleData:
        return when(parent == TKind::SchemaData && Parent(2) == TKind::ExtendedData && IsFeature(Parent(3)));
    case TKind::Href: return when(parent == TKind::Icon || (parent == TKind::Link && Parent(2) == TKind::NetworkLink));
    case TKind::Color:
    case TKind::Width:
    case TKind::Scale:
    case TKind::Fill:
    case TKind::Outline:
        return when(parent == TKind::IconStyle || parent == TKind::LineStyle || parent == TKind::PolyStyle);
    case TKind::AltitudeMode:
    case TKind::Extrude:
    case TKind::Tessellate:
        // Of the geometry, or a track of a multi-track; an overlay's altitude mode.
        return when((IsGeometry(parent) && stack_[stack_.size() - 2].OpensGeometry) ||
                    (parent == TKind::Track && Parent(2) == TKind::MultiTrack) ||
                    (kind == TKind::AltitudeMode && parent == TKind::GroundOverlay));
    case TKind::North:
    case TKind::South:
    case TKind::East:
    case TKind::West:
    case TKind::Rotation: return when(parent == TKind::LatLonBox && Parent(2) == TKind::GroundOverlay);
    case TKind::GxCoord: return when(parent == TKind::Track && openGeometry_ >= 0);
    default: return -1;
    }
}

void TKmlReader::StartStructure(TKind kind, const TXmlElement& element)
{
    const TKind parent = Parent();
    switch (kind) {
    case TKind::Folder:
        folders_.emplace_back();
        folderPathValid_ = false;
        break;
    case TKind::Placemark:
    case TKind::GroundOverlay:
    case TKind::PhotoOverlay:
        (kind == TKind::Placemark ? inPlacemark_ : inOverlay_) = true;
        BeginFeature();
        break;
    case TKind::NetworkLink:
        link_ = TKmlLink();
        linkName_.clear();
        break;
    case TKind::Data:
        dataName_ = std::string(element.Attribute("name"));
        break;
    case TKind::SchemaData:
        schemaUrl_ = std::string(element.Attribute("schemaUrl"));
        break;
    case TKind::Schema:
    case TKind::SimpleField:
        StartSchema(kind, element);
        break;
    case TKind::Coordinates:
        StartCoordinates();
        break;
    case TKind::Style:
        styleBuilt_ = TKmlStyle();
        styleId_ = std::string(element.Attribute("id"));
        break;
    case TKind::CascadingStyle: // a shared style as newer Google Earth writes it: its id, then a Style
        cascadingId_ = std::string(element.Attribute("id"));
        break;
    case TKind::StyleMap:
        mapBuilt_ = TStyleMapEntry();
        mapId_ = std::string(element.Attribute("id"));
        break;
    case TKind::Pair:
        pairKey_.clear();
        pairUrl_.clear();
        pairStyle_ = TKmlStyle();
        pairHasStyle_ = false;
        break;
    default:
        StartGeometryElement(kind, parent);
        break;
    }
}

void TKmlReader::StartSchema(TKind kind, const TXmlElement& element)
{
    if (kind == TKind::Schema) {
        const std::string id(element.Attribute("id"));
        const std::string name(element.Attribute("name"));
        schemaBuilt_ = schemas_.size() < kMaxSchemaFields ? &schemas_[id.empty() ? name : id] : nullptr;
        if (!id.empty() && !name.empty() && !schemas_.count(name))
            schemaAlias_ = name; // found by its name too, as older documents refer to it
    } else if (Parent() == TKind::Schema && schemaBuilt_ && schemaFields_ < kMaxSchemaFields) {
        schemaBuilt_->push_back(DeclaredField(element.Attribute("name"), element.Attribute("type")));
        ++schemaFields_;
    }
}

void TKmlReader::StartGeometryElement(TKind kind, TKind parent)
{
    switch (kind) {
    case TKind::Point:
        if (inPlacemark_ || parent == TKind::PhotoOverlay)
            StartGeometry(TFeatureClass::Point);
        break;
    case TKind::LineString:
        if (inPlacemark_)
            StartGeometry(TFeatureClass::Path);
        break;
    case TKind::LinearRing:
        if (parent == TKind::OuterBoundaryIs || parent == TKind::InnerBoundaryIs)
            StartRing(parent == TKind::InnerBoundaryIs);
        else if (inPlacemark_)
            StartGeometry(TFeatureClass::Path); // a ring on its own: a closed path
        break;
    case TKind::Polygon:
        if (inPlacemark_) {
            StartGeometry(TFeatureClass::Polygon);
            geometries_[size_t(openGeometry_)].HasOuter = false;
        }
        break;
    case TKind::Track:
        if (parent == TKind::MultiTrack && openGeometry_ >= 0)
            geometries_[size_t(openGeometry_)].AddPart();
        else if (inPlacemark_)
            StartGeometry(TFeatureClass::Path);
        break;
    case TKind::MultiTrack:
        if (inPlacemark_) {
            StartGeometry(TFeatureClass::Path);
            geometries_[size_t(openGeometry_)].PartCount = 0;
        }
        break;
    default:
        break;
    }
}

void TKmlReader::StartRing(bool hole)
{
    ringPart_ = -1;
    if (openGeometry_ < 0 || Parent(2) != TKind::Polygon)
        return;
    TGeometry& polygon = geometries_[size_t(openGeometry_)];
    if (polygon.Class != TFeatureClass::Polygon)
        return;
    if (hole) {
        polygon.AddPart();
        ringPart_ = long(polygon.PartCount - 1);
    } else if (!polygon.HasOuter) { // only the first outer ring counts
        polygon.HasOuter = true;
        ringPart_ = 0;
    }
}

void TKmlReader::EndElement()
{
    if (skipDepth_ > 0) {
        --skipDepth_;
        return;
    }
    if (capturing_ && captureDepth_ > 0) {
        CaptureEnd();
        return;
    }
    const TFrame frame = stack_.back();
    if (capturing_)
        EndValue(frame.Kind, TakeCapture());
    switch (frame.Kind) {
    case TKind::Coordinates:
        if (coordTarget_)
            FlushCoordinates(true);
        coordTarget_ = nullptr;
        break;
    case TKind::Folder:
        folders_.pop_back();
        folderPathValid_ = false;
        break;
    case TKind::Placemark:
    case TKind::PhotoOverlay:
        EndFeature();
        break;
    case TKind::GroundOverlay:
        EndGroundOverlay();
        break;
    case TKind::NetworkLink: {
        TKmlLink link{std::string(TrimmedText(link_.Href)), FolderPath()};
        if (!linkName_.empty())
            link.Folder += (link.Folder.empty() ? "" : "/") + linkName_;
        onLink_(link);
        break;
    }
    case TKind::Style:
        EndStyle();
        break;
    case TKind::StyleMap:
        if (IsFeature(Parent())) {
            inlineMap_ = mapBuilt_;
            hasInlineMap_ = true;
            sharedValid_ = false;
        } else if (!mapId_.empty() && !styles_.AddStyleMap(mapId_, mapBuilt_)) {
            ++counts_.StylesLeftOut;
        }
        break;
    case TKind::Pair:
        if (TrimmedText(pairKey_) == "normal" && Parent() == TKind::StyleMap)
            mapBuilt_ = TStyleMapEntry{pairUrl_, pairStyle_, pairHasStyle_};
        break;
    case TKind::Schema:
        if (schemaBuilt_ && !schemaAlias_.empty())
            schemas_[schemaAlias_] = *schemaBuilt_;
        schemaBuilt_ = nullptr;
        schemaAlias_.clear();
        break;
    default:
        break;
    }
    if (frame.OpensGeometry)
        EndGeometry();
    stack_.pop_back();
}

void TKmlReader::Text(std::string_view text)
{
    if (skipDepth_ > 0)
        return;
    if (coordTarget_) {
        coordText_.append(text);
        if (coordText_.size() >= kCoordinatePiece)
            FlushCoordinates(false);
        return;
    }
    if (!capturing_)
        return;
    if (markup_ && tagOpen_) {
        capture_ += '>';
        tagOpen_ = false;
    }
    if (capture_.size() + text.size() > kMaxCapturedText) {
        if (!captureCut_)
            ++counts_.TextsCut;
        captureCut_ = true;
        text = text.substr(0, kMaxCapturedText - std::min(capture_.size(), kMaxCapturedText));
    }
    capture_.append(text);
}

void TKmlReader::StartCapture(bool markup)
{
    capturing_ = true;
    markup_ = markup;
    captureDepth_ = 0;
    captureCut_ = false;
    tagOpen_ = false;
    openTags_.clear();
    capture_.clear();
}

void TKmlReader::CaptureStart(const TXmlElement& element)
{
    ++captureDepth_;
    if (!markup_ || captureCut_)
        return;
    if (tagOpen_)
        capture_ += '>';
    std::string name = element.QualifiedName();
    capture_ += '<';
    capture_ += name;
    element.ForEachAttribute([&](const std::string& attribute, std::string_view value) {
        capture_.append(" ").append(attribute).append("=\"");
        AppendEscaped(capture_, value);
        capture_ += '"';
    });
    tagOpen_ = true;
    openTags_.push_back(std::move(name));
}

void TKmlReader::CaptureEnd()
{
    --captureDepth_;
    if (!markup_ || openTags_.empty())
        return;
    if (tagOpen_)
        capture_ += "/>";
    else
        capture_.append("</").append(openTags_.back()).append(">");
    tagOpen_ = false;
    openTags_.pop_back();
}

std::string TKmlReader::TakeCapture()
{
    capturing_ = false;
    if (tagOpen_)
        capture_ += '>';
    return std::string(TrimmedText(capture_));
}

void TKmlReader::StartGeometry(TFeatureClass featureClass)
{
    if (geometryCount_ == geometries_.size())
        geometries_.emplace_back();
    TGeometry& g = geometries_[geometryCount_];
    g.Class = featureClass;
    g.PartCount = 0;
    g.HasOuter = true;
    g.Own.clear();
    g.AddPart();
    openGeometry_ = long(geometryCount_++);
    stack_.back().OpensGeometry = true;
}

void TKmlReader::StartCoordinates()
{
    const TKind parent = Parent();
    coordTarget_ = nullptr;
    coordPoint_ = false;
    if (parent == TKind::LatLonQuad && Parent(2) == TKind::GroundOverlay) {
        quad_.Clear();
        coordTarget_ = &quad_;
    } else if (openGeometry_ >= 0 && stack_[stack_.size() - 2].OpensGeometry &&
               (parent == TKind::Point || parent == TKind::LineString || parent == TKind::LinearRing)) {
        coordTarget_ = &geometries_[size_t(openGeometry_)].Parts[0];
        coordPoint_ = parent == TKind::Point;
    } else if (parent == TKind::LinearRing && ringPart_ >= 0 && openGeometry_ >= 0) {
        coordTarget_ = &geometries_[size_t(openGeometry_)].Parts[size_t(ringPart_)];
    }
    // Only the first coordinates of a geometry count.
    if (coordTarget_ && !coordTarget_->Points.empty())
        coordTarget_ = nullptr;
    coordText_.clear();
}

void TKmlReader::FlushCoordinates(bool all)
{
    const size_t cut = all ? coordText_.size() : SafeCut(coordText_);
    if (cut == 0 && !all)
        return;
    AppendCoordTuples(std::string_view(coordText_).substr(0, cut), coordTarget_->Points, &coordTarget_->Z,
                      counts_.SkippedTuples, true);
    coordText_.erase(0, cut);
    if (coordPoint_ && coordTarget_->Points.size() > 1) { // a point is its first valid tuple
        coordTarget_->Points.resize(1);
        coordTarget_->Z.resize(1);
    }
}

void TKmlReader::EmitGeometry(const TGeometry& g)
{
    TKmlFeature feature;
    feature.Class = g.Class;
    feature.Parts = &g.Parts;
    feature.PartCount = g.PartCount;
    feature.HasOuter = g.HasOuter;
    feature.Shared = &SharedValues();
    feature.Own = &g.Own;
    onFeature_(feature);
    ++emitted_;
}

void TKmlReader::EndGeometry()
{
    openGeometry_ = -1;
    // A placemark of very many geometries has them written as they end,
    // with the values read so far, so that it never holds more than a few.
    if (!eager_ && geometryCount_ < kHeldGeometries)
        return;
    eager_ = true;
    for (size_t i = 0; i < geometryCount_; ++i)
        EmitGeometry(geometries_[i]);
    geometryCount_ = 0;
}

void TKmlReader::EndFeature()
{
    for (size_t i = 0; i < geometryCount_; ++i)
        EmitGeometry(geometries_[i]);
    if (emitted_ == 0)
        ++counts_.WithoutGeometry;
    inPlacemark_ = inOverlay_ = false;
    geometryCount_ = 0;
}

void TKmlReader::EndGroundOverlay()
{
    // The footprint: the four corners of gx:LatLonQuad, or the LatLonBox
    // turned by its rotation (degrees, counter-clockwise) about its centre.
    if (!footprint_)
        footprint_ = std::make_unique<TGeometry>();
    TGeometry& footprint = *footprint_;
    footprint.Class = TFeatureClass::Polygon;
    footprint.PartCount = 0;
    footprint.Own.clear();
    TCoordRun& ring = footprint.AddPart();
    if (quad_.Points.size() >= 4) {
        ring.Points.assign(quad_.Points.begin(), quad_.Points.begin() + 4);
        ring.Z.assign(quad_.Z.begin(), quad_.Z.begin() + 4);
    } else if ((boxSet_ & 15) == 15) {
        const double north = box_[0], south = box_[1], east = box_[2], west = box_[3];
        double s = 0, c = 1;
        SinCosDegrees((boxSet_ & 16) ? box_[4] : 0.0, s, c);
        const double cx = (east + west) / 2, cy = (north + south) / 2;
        const TCXY corners[4] = {{west, south}, {east, south}, {east, north}, {west, north}};
        for (const TCXY& p : corners) {
            const double dx = p.X - cx, dy = p.Y - cy;
            ring.Points.push_back(TCXY{cx + dx * c - dy * s, cy + dx * s + dy * c});
            ring.Z.push_back(0.0);
        }
    }
    if (!ring.Points.empty())
        EmitGeometry(footprint);
    if (emitted_ == 0)
        ++counts_.WithoutGeometry;
    inOverlay_ = false;
    geometryCount_ = 0;
}

} // namespace quarvex
