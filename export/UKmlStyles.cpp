#include "export/UKmlStyles.h"

#include "export/UAttributeSchema.h"

namespace quarvex {

namespace {

// StyleMaps that name StyleMaps are followed this far; circles end there.
constexpr int kMaxStyleDepth = 8;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool ParseKmlColor(std::string_view text, uint32_t& aabbggrr)
{
    if (!text.empty() && text[0] == '#')
        text.remove_prefix(1);
    if (text.size() != 8)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = HexValue(c);
        if (digit < 0)
            return false;
        value = value << 4 | uint32_t(digit);
    }
    aabbggrr = value;
    return true;
}

std::string FormatColor(uint32_t aabbggrr)
{
    static const char* const kHex = "0123456789ABCDEF";
    const uint8_t bytes[4] = {uint8_t(aabbggrr), uint8_t(aabbggrr >> 8), uint8_t(aabbggrr >> 16),
                              uint8_t(aabbggrr >> 24)}; // red, green, blue, alpha
    std::string out = "#";
    for (uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

void TKmlStyle::InheritFrom(const TKmlStyle& base)
{
    const uint16_t missing = uint16_t(base.Set & ~Set);
    if (missing & kIconHref)
        IconHref = base.IconHref;
    if (missing & kIconScale)
        IconScale = base.IconScale;
    if (missing & kIconColor)
        IconColor = base.IconColor;
    if (missing & kLineColor)
        LineColor = base.LineColor;
    if (missing & kLineWidth)
        LineWidth = base.LineWidth;
    if (missing & kFillColor)
        FillColor = base.FillColor;
    if (missing & kFill)
        Fill = base.Fill;
    if (missing & kOutline)
        Outline = base.Outline;
    Set |= missing;
}

void TKmlStyle::AppendValues(std::vector<TFieldValue>& values) const
{
    auto add = [&](uint16_t part, TFixedField field, std::string text) {
        if (Set & part)
            values.push_back({FieldKey(field), std::move(text)});
    };
    add(kIconHref, TFixedField::Icon, IconHref);
    add(kIconScale, TFixedField::IconScale, Set & kIconScale ? FormatReal(IconScale) : std::string());
    add(kIconColor, TFixedField::IconColor, FormatColor(IconColor));
    add(kLineColor, TFixedField::LineColor, FormatColor(LineColor));
    add(kLineWidth, TFixedField::LineWidth, Set & kLineWidth ? FormatReal(LineWidth) : std::string());
    add(kFillColor, TFixedField::FillColor, FormatColor(FillColor));
    add(kFill, TFixedField::Fill, Fill ? "1" : "0");
    add(kOutline, TFixedField::Outline, Outline ? "1" : "0");
}

bool TStyleTable::AddStyle(std::string id, const TKmlStyle& style)
{
    if (styles_.size() + maps_.size() >= kMaxStyles && !styles_.count(id))
        return false;
    styles_[std::move(id)] = style;
    return true;
}

bool TStyleTable::AddStyleMap(std::string id, TStyleMapEntry normal)
{
    if (styles_.size() + maps_.size() >= kMaxStyles && !maps_.count(id))
        return false;
    maps_[std::move(id)] = std::move(normal);
    return true;
}

bool TStyleTable::Resolve(std::string_view url, TKmlStyle& style) const
{
    return Resolve(url, style, 0);
}

bool TStyleTable::Resolve(const TStyleMapEntry& entry, TKmlStyle& style) const
{
    return Resolve(entry, style, 0);
}

bool TStyleTable::Resolve(std::string_view url, TKmlStyle& style, int depth) const
{
    if (url.size() < 2 || url[0] != '#' || depth > kMaxStyleDepth)
        return false;
    const std::string id(url.substr(1));
    if (auto it = styles_.find(id); it != styles_.end()) {
        style = it->second;
        return true;
    }
    if (auto it = maps_.find(id); it != maps_.end())
        return Resolve(it->second, style, depth + 1);
    return false;
}

bool TStyleTable::Resolve(const TStyleMapEntry& entry, TKmlStyle& style, int depth) const
{
    TKmlStyle base;
    const bool found = !entry.Url.empty() && Resolve(entry.Url, base, depth + 1);
    if (!entry.HasInline) {
        if (found)
            style = base;
        return found;
    }
    style = entry.Inline;
    if (found)
        style.InheritFrom(base);
    return true;
}

} // namespace quarvex
