// The export's reading of one KML document from its parse events: every
// Point, LineString, LinearRing, Polygon and gx:Track of a placemark,
// through MultiGeometry at any depth, the footprints of ground overlays
// and the points of photo overlays, each with its placemark's name,
// description, folders, times, visibility, resolved style and extended
// data, and the geometry's own altitude mode, extrude and tessellate.
// Network links are handed on, not followed. Only the current placemark,
// the document's style and schema tables and the folder path are held.
#pragma once

#include "export/UAttributeSchema.h"
#include "export/UKmlFeature.h"
#include "export/UKmlStyles.h"
#include "export/UXmlStream.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarvex {

// What the reading of the documents of one input counts for the log.
struct TReadCounts {
    int WithoutGeometry = 0;  // placemarks and overlays that hold none
    int SkippedTuples = 0;    // malformed coordinate tuples, left out
    int StylesNotFound = 0;   // styleUrls naming no style of their document
    int StylesElsewhere = 0;  // styleUrls naming a style of another document, not followed
    int BadValues = 0;        // values that do not fit their field's type
    int TextsCut = 0;         // texts longer than kMaxCapturedText
    int StylesLeftOut = 0;    // styles past TStyleTable::kMaxStyles
    int FieldsLeftOut = 0;    // values of fields past the registry's limit
};

// A link of a NetworkLink: its address as written and the folder path its
// features go under (the link's folders and its name).
struct TKmlLink {
    std::string Href;
    std::string Folder;
};

// The longest text kept of one element (a name, a description, a value).
constexpr size_t kMaxCapturedText = size_t(16) << 20;

class TKmlReader : public TXmlHandler {
public:
    using TFeatureSink = std::function<void(const TKmlFeature&)>;
    using TLinkSink = std::function<void(const TKmlLink&)>;

    // folder is the path the document's features go under (empty for the
    // input itself); descriptions says whether descriptions are read.
    TKmlReader(TFieldRegistry& fields, TReadCounts& counts, std::string folder, bool descriptions,
               TFeatureSink onFeature, TLinkSink onLink);
    ~TKmlReader() override;

    void StartElement(const TXmlElement& element) override;
    void EndElement() override;
    void Text(std::string_view text) override;

    enum class TKind : uint8_t;

private:
    struct TGeometry;
    struct TFrame {
        TKind Kind;
        bool OpensGeometry; // the element started the open geometry
    };

    TKind KindOf(const TXmlElement& element) const;
    // Whether the element's text is kept here: -1 no, 0 its text, 1 its
    // text with the markup inside it.
    int CaptureOf(TKind kind) const;
    void StartStructure(TKind kind, const TXmlElement& element);
    void StartSchema(TKind kind, const TXmlElement& element);
    void StartGeometryElement(TKind kind, TKind parent);
    void StartRing(bool hole);
    TKind Parent(size_t up = 1) const;
    bool InFeature() const { return inPlacemark_ || inOverlay_; }
    void StartCapture(bool markup);
    void CaptureStart(const TXmlElement& element);
    void CaptureEnd();
    std::string TakeCapture();
    void StartGeometry(TFeatureClass featureClass);
    void StartCoordinates();
    void FlushCoordinates(bool all);
    void EndValue(TKind kind, std::string value);
    void EndStyleValue(TKind kind, const std::string& value);
    void BeginFeature();
    const std::vector<TFieldValue>& SharedValues();
    void EmitGeometry(const TGeometry& geometry);
    void EndGeometry();
    void EndFeature();
    void EndGroundOverlay();
    void EndStyle();
    void SetFeatureValue(TFixedField field, std::string value);
    void SetGeometryValue(TFixedField field, std::string value);
    void AddExtendedValue(const TFieldInfo& field, std::string value);
    const std::string& FolderPath();

    TFieldRegistry& fields_;
    TReadCounts& counts_;
    std::string linkFolder_;
    bool descriptions_;
    TFeatureSink onFeature_;
    TLinkSink onLink_;

    std::vector<TFrame> stack_;
    int skipDepth_ = 0; // inside an element passed over with everything in it

    // Text being collected: of a value element, or of a name or description
    // with the markup inside it written out as text.
    bool capturing_ = false;
    bool markup_ = false;
    size_t captureDepth_ = 0;
    bool tagOpen_ = false; // a start tag written without its ">" yet
    bool captureCut_ = false;
    std::vector<std::string> openTags_;
    std::string capture_;

    // Folders: the names of the enclosing Folder elements.
    std::vector<std::string> folders_;
    std::vector<size_t> folderDepths_;
    std::string folderPath_;
    bool folderPathValid_ = false;

    // The placemark (or overlay) being read.
    bool inPlacemark_ = false;
    bool inOverlay_ = false;
    std::vector<TFieldValue> featureValues_;
    std::vector<TFieldValue> shared_; // featureValues_ with folder and style, as the sets take them
    bool sharedValid_ = false;
    bool styleCounted_ = false;
    std::string overlayIcon_;
    std::string styleUrl_;
    TKmlStyle inlineStyle_;
    bool hasInlineStyle_ = false;
    TStyleMapEntry inlineMap_;
    bool hasInlineMap_ = false;
    std::vector<TGeometry> geometries_;
    size_t geometryCount_ = 0;
    long openGeometry_ = -1;
    long ringPart_ = -1;  // the part of the open polygon that the ring being read fills
    bool eager_ = false;  // geometries are written as they end
    size_t emitted_ = 0;
    TCoordRun* coordTarget_ = nullptr;
    bool coordPoint_ = false;
    std::string coordText_;
    // A ground overlay's footprint.
    double box_[5] = {};  // north, south, east, west, rotation
    int boxSet_ = 0;      // bits of the box values read
    TCoordRun quad_;
    std::unique_ptr<TGeometry> footprint_;

    // Extended data.
    std::string dataName_;
    std::string schemaUrl_;
    std::unordered_map<std::string, std::vector<TFieldInfo>> schemas_;
    std::vector<TFieldInfo>* schemaBuilt_ = nullptr;
    std::string schemaAlias_;
    size_t schemaFields_ = 0;

    // Styles.
    TStyleTable styles_;
    TKmlStyle styleBuilt_;
    std::string styleId_;
    std::string cascadingId_;
    TStyleMapEntry mapBuilt_;
    std::string mapId_;
    std::string pairKey_;
    std::string pairUrl_;
    TKmlStyle pairStyle_;
    bool pairHasStyle_ = false;

    // The link being read.
    TKmlLink link_;
    std::string linkName_;
};

} // namespace quarvex
