// The values of the export's reader: what an element's text becomes (a
// value of the feature or of its geometry, a part of a style, extended
// data), and the values a feature's geometries share.
#include "export/UKmlReaderParts.h"

#include "kml/UCoordText.h"

namespace quarvex {

using namespace kmlreader;

namespace {

bool ParseBool(std::string_view text, bool& value)
{
    if (text == "1" || text == "true")
        value = true;
    else if (text == "0" || text == "false")
        value = false;
    else
        return false;
    return true;
}

// "lon lat [alt]" of a gx:coord; an altitude that is no number reads 0,
// a fourth field and more are passed over.
bool ParseTrackCoord(std::string_view text, TCXY& point, double& z)
{
    double values[3] = {0, 0, 0};
    int count = 0;
    size_t pos = 0;
    while (count < 3) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        const size_t start = pos;
        while (pos < text.size() && !IsBlank(text[pos]))
            ++pos;
        if (pos == start)
            break;
        if (!StrToReal(text.substr(start, pos - start), values[count])) {
            values[count] = 0;
            if (count < 2)
                return false;
        }
        ++count;
    }
    if (count < 2)
        return false;
    point = TCXY{values[0], values[1]};
    z = values[2];
    return true;
}

} // namespace

void TKmlReader::EndValue(TKind kind, std::string value)
{
    const TKind parent = Parent(1);
    switch (kind) {
    case TKind::Name:
        if (parent == TKind::Folder) {
            folders_.back() = std::move(value);
            folderPathValid_ = false;
        } else if (parent == TKind::NetworkLink) {
            linkName_ = std::move(value);
        } else {
            SetFeatureValue(TFixedField::Name, std::move(value));
        }
        break;
    case TKind::Description: SetFeatureValue(TFixedField::Descript, std::move(value)); break;
    case TKind::Visibility: SetFeatureValue(TFixedField::Visible, std::move(value)); break;
    case TKind::When: SetFeatureValue(TFixedField::Timestamp, std::move(value)); break;
    case TKind::Begin: SetFeatureValue(TFixedField::Begin, std::move(value)); break;
    case TKind::End: SetFeatureValue(TFixedField::End, std::move(value)); break;
    case TKind::StyleUrl:
        if (parent == TKind::Pair) {
            pairUrl_ = std::move(value);
        } else {
            styleUrl_ = std::move(value);
            sharedValid_ = false;
        }
        break;
    case TKind::Key: pairKey_ = std::move(value); break;
    case TKind::Value: AddExtendedValue(DeclaredField(dataName_, ""), std::move(value)); break;
    case TKind::SimpleData: {
        TFieldInfo field = DeclaredField(dataName_, "");
        std::string_view url = schemaUrl_;
        if (!url.empty() && url[0] == '#')
            url.remove_prefix(1);
        if (auto it = schemas_.find(std::string(url)); it != schemas_.end())
            for (const TFieldInfo& declared : it->second)
                if (declared.KmlName == dataName_)
                    field = declared;
        AddExtendedValue(field, std::move(value));
        break;
    }
    case TKind::Href:
        if (parent == TKind::Link)
            link_.Href = std::move(value);
        else if (Parent(2) == TKind::GroundOverlay)
            overlayIcon_ = std::move(value);
        else
            EndStyleValue(kind, value);
        break;
    case TKind::AltitudeMode:
        if (parent == TKind::GroundOverlay)
            SetFeatureValue(TFixedField::AltMode, std::move(value));
        else
            SetGeometryValue(TFixedField::AltMode, std::move(value));
        break;
    case TKind::Extrude: SetGeometryValue(TFixedField::Extrude, std::move(value)); break;
    case TKind::Tessellate: SetGeometryValue(TFixedField::Tessellate, std::move(value)); break;
    case TKind::North:
    case TKind::South:
    case TKind::East:
    case TKind::West:
    case TKind::Rotation: {
        const int index = int(kind) - int(TKind::North);
        if (StrToReal(value, box_[index]))
            boxSet_ |= 1 << index;
        else
            ++counts_.BadValues;
        break;
    }
    case TKind::GxCoord: {
        TGeometry& track = geometries_[size_t(openGeometry_)];
        if (track.PartCount == 0)
            break;
        TCoordRun& run = track.Parts[track.PartCount - 1];
        TCXY point;
        double z = 0;
        if (ParseTrackCoord(value, point, z)) {
            run.Points.push_back(point);
            run.Z.push_back(z);
        } else {
            ++counts_.SkippedTuples;
        }
        break;
    }
    default:
        EndStyleValue(kind, value);
        break;
    }
}

void TKmlReader::EndStyleValue(TKind kind, const std::string& value)
{
    const TKind holder = kind == TKind::Href ? Parent(2) : Parent(1);
    TKmlStyle& s = styleBuilt_;
    uint32_t color = 0;
    double number = 0;
    bool flag = false;
    auto bad = [&] { ++counts_.BadValues; };
    if (kind == TKind::Href && holder == TKind::IconStyle) {
        s.IconHref = value;
        s.Set |= TKmlStyle::kIconHref;
    } else if (kind == TKind::Color) {
        if (!ParseKmlColor(value, color))
            return bad();
        if (holder == TKind::IconStyle) {
            s.IconColor = color;
            s.Set |= TKmlStyle::kIconColor;
        } else if (holder == TKind::LineStyle) {
            s.LineColor = color;
            s.Set |= TKmlStyle::kLineColor;
        } else {
            s.FillColor = color;
            s.Set |= TKmlStyle::kFillColor;
        }
    } else if (kind == TKind::Width && holder == TKind::LineStyle) {
        if (!StrToReal(value, number))
            return bad();
        s.LineWidth = number;
        s.Set |= TKmlStyle::kLineWidth;
    } else if (kind == TKind::Scale && holder == TKind::IconStyle) {
        if (!StrToReal(value, number))
            return bad();
        s.IconScale = number;
        s.Set |= TKmlStyle::kIconScale;
    } else if ((kind == TKind::Fill || kind == TKind::Outline) && holder == TKind::PolyStyle) {
        if (!ParseBool(value, flag))
            return bad();
        (kind == TKind::Fill ? s.Fill : s.Outline) = flag;
        s.Set |= kind == TKind::Fill ? TKmlStyle::kFill : TKmlStyle::kOutline;
    }
}

void TKmlReader::EndStyle()
{
    const TKind parent = Parent();
    if (IsFeature(parent)) {
        inlineStyle_ = styleBuilt_;
        hasInlineStyle_ = true;
        sharedValid_ = false;
    } else if (parent == TKind::Pair) {
        pairStyle_ = styleBuilt_;
        pairHasStyle_ = true;
    } else {
        const std::string& id = parent == TKind::CascadingStyle && styleId_.empty() ? cascadingId_ : styleId_;
        if (!id.empty() && !styles_.AddStyle(id, styleBuilt_))
            ++counts_.StylesLeftOut;
    }
}

void TKmlReader::BeginFeature()
{
    featureValues_.clear();
    styleUrl_.clear();
    overlayIcon_.clear();
    hasInlineStyle_ = hasInlineMap_ = false;
    geometryCount_ = 0;
    eager_ = false;
    emitted_ = 0;
    openGeometry_ = -1;
    boxSet_ = 0;
    quad_.Clear();
    sharedValid_ = false;
    styleCounted_ = false;
}

void TKmlReader::SetFeatureValue(TFixedField field, std::string value)
{
    if (!InFeature())
        return;
    sharedValid_ = false;
    for (TFieldValue& v : featureValues_)
        if (v.Field == FieldKey(field)) {
            v.Value = std::move(value);
            return;
        }
    featureValues_.push_back({FieldKey(field), std::move(value)});
}

void TKmlReader::SetGeometryValue(TFixedField field, std::string value)
{
    if (openGeometry_ < 0)
        return;
    std::vector<TFieldValue>& own = geometries_[size_t(openGeometry_)].Own;
    for (TFieldValue& v : own)
        if (v.Field == FieldKey(field)) {
            v.Value = std::move(value);
            return;
        }
    own.push_back({FieldKey(field), std::move(value)});
}

void TKmlReader::AddExtendedValue(const TFieldInfo& field, std::string value)
{
    const int key = fields_.KeyOf(field);
    if (key < 0) {
        ++counts_.FieldsLeftOut;
        return;
    }
    sharedValid_ = false;
    for (TFieldValue& v : featureValues_)
        if (v.Field == uint16_t(key)) {
            v.Value = std::move(value);
            return;
        }
    featureValues_.push_back({uint16_t(key), std::move(value)});
}

const std::string& TKmlReader::FolderPath()
{
    if (!folderPathValid_) {
        folderPath_ = linkFolder_;
        for (const std::string& name : folders_)
            if (!name.empty())
                folderPath_.append(folderPath_.empty() ? "" : "/").append(name);
        folderPathValid_ = true;
    }
    return folderPath_;
}

const std::vector<TFieldValue>& TKmlReader::SharedValues()
{
    if (sharedValid_)
        return shared_;
    shared_ = featureValues_;
    if (!FolderPath().empty())
        shared_.push_back({FieldKey(TFixedField::Folder), FolderPath()});
    TKmlStyle style;
    bool found = false;
    if (!styleUrl_.empty()) {
        const std::string_view url = TrimmedText(styleUrl_);
        found = styles_.Resolve(url, style);
        if (!found && !styleCounted_)
            ++(!url.empty() && url[0] == '#' ? counts_.StylesNotFound : counts_.StylesElsewhere);
        styleCounted_ = true;
    }
    auto over = [&](const TKmlStyle& inner) {
        TKmlStyle merged = inner;
        if (found)
            merged.InheritFrom(style);
        style = merged;
        found = true;
    };
    TKmlStyle mapped;
    if (hasInlineMap_ && styles_.Resolve(inlineMap_, mapped))
        over(mapped);
    if (hasInlineStyle_)
        over(inlineStyle_);
    if (found)
        style.AppendValues(shared_);
    if (!overlayIcon_.empty())
        shared_.push_back({FieldKey(TFixedField::OverlayIcon), overlayIcon_});
    sharedValid_ = true;
    return shared_;
}

} // namespace quarvex
