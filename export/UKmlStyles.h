// The styles of a KML document as the export reads them: the parts of
// IconStyle, LineStyle and PolyStyle that a table can hold, the shared
// styles and style maps of a document by their ids, and how a placemark's
// style is resolved from its styleUrl and its inline Style.
#pragma once

#include "export/UKmlFeature.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarvex {

// KML writes a colour as aabbggrr in hexadecimal; false for anything else
// (an optional "#" first is taken).
bool ParseKmlColor(std::string_view text, uint32_t& aabbggrr);
// The colour as "#RRGGBBAA", the order GIS programs' feature styles use.
std::string FormatColor(uint32_t aabbggrr);

struct TKmlStyle {
    enum TPart : uint16_t {
        kIconHref = 1, kIconScale = 2, kIconColor = 4, kLineColor = 8, kLineWidth = 16,
        kFillColor = 32, kFill = 64, kOutline = 128,
    };
    uint16_t Set = 0; // the parts the style writes
    std::string IconHref;
    double IconScale = 0, LineWidth = 0;
    uint32_t IconColor = 0, LineColor = 0, FillColor = 0;
    bool Fill = false, Outline = false;

    // Takes every part of base that this style does not write itself.
    void InheritFrom(const TKmlStyle& base);
    // Appends the values of the parts it writes to values.
    void AppendValues(std::vector<TFieldValue>& values) const;
};

// The "normal" entry of a StyleMap: a styleUrl, or a Style of its own.
struct TStyleMapEntry {
    std::string Url;
    TKmlStyle Inline;
    bool HasInline = false;
};

class TStyleTable {
public:
    // Keeps a shared style or style map under its id; false when the table
    // is full (kMaxStyles), and the style is not kept.
    bool AddStyle(std::string id, const TKmlStyle& style);
    bool AddStyleMap(std::string id, TStyleMapEntry normal);
    // The style that a styleUrl names: "#id" of a Style or a StyleMap of
    // this document (through its normal entry). False when there is none,
    // and for a style of another document, which is never followed.
    bool Resolve(std::string_view url, TKmlStyle& style) const;
    // The same for a style map's normal entry.
    bool Resolve(const TStyleMapEntry& entry, TKmlStyle& style) const;

    // Styles and maps kept at most per document, so that no document can
    // take memory without end with them.
    static constexpr size_t kMaxStyles = 250000;

private:
    bool Resolve(std::string_view url, TKmlStyle& style, int depth) const;
    bool Resolve(const TStyleMapEntry& entry, TKmlStyle& style, int depth) const;

    std::unordered_map<std::string, TKmlStyle> styles_;
    std::unordered_map<std::string, TStyleMapEntry> maps_;
};

} // namespace quarvex
