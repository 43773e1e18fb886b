#include "export/UAttributeSchema.h"

#include "kml/UCoordText.h"
#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <set>

namespace quarvex {

namespace {

struct TFixedInfo {
    const char* Name;
    TFieldType Type;
};

// In the order of TFixedField.
const TFixedInfo kFixed[kFixedFieldCount] = {
    {"ZID", TFieldType::Integer},      {"NAME", TFieldType::Text},       {"DESCRIPT", TFieldType::Text},
    {"FOLDER", TFieldType::Text},      {"TIMESTAMP", TFieldType::Text},  {"BEGIN", TFieldType::Text},
    {"END", TFieldType::Text},         {"ALTMODE", TFieldType::Text},    {"EXTRUDE", TFieldType::Boolean},
    {"TESSELLATE", TFieldType::Boolean}, {"VISIBLE", TFieldType::Boolean}, {"ICON", TFieldType::Text},
    {"ICONSCALE", TFieldType::Real},   {"ICONCOLOR", TFieldType::Text},  {"LINECOLOR", TFieldType::Text},
    {"LINEWIDTH", TFieldType::Real},   {"FILLCOLOR", TFieldType::Text},  {"FILL", TFieldType::Boolean},
    {"OUTLINE", TFieldType::Boolean},  {"ICON", TFieldType::Text},
};

constexpr size_t kMaxNumberWidth = 32;
constexpr int kMaxDecimals = 15;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

bool ParseInteger(std::string_view text, int64_t& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    if (text.empty() || text[0] == '+')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Digits after the point of a number written without exponent.
int DecimalsOf(const std::string& number)
{
    if (number.find_first_of("eE") != std::string::npos)
        return 0;
    const size_t dot = number.find('.');
    return dot == std::string::npos ? 0 : int(number.size() - dot - 1);
}

} // namespace

std::string FormatReal(double value)
{
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string_view TrimmedText(std::string_view text)
{
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string_view CutText(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80)
        --end;
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

TFieldInfo DeclaredField(std::string_view name, std::string_view type)
{
    TFieldInfo field;
    field.KmlName = std::string(name);
    const std::string t = UpperAscii(std::string(TrimmedText(type)));
    auto integer = [&](int64_t min, int64_t max) {
        field.Type = TFieldType::Integer;
        field.Min = min;
        field.Max = max;
    };
    if (t == "INT")
        integer(INT32_MIN, INT32_MAX);
    else if (t == "UINT")
        integer(0, UINT32_MAX);
    else if (t == "SHORT")
        integer(INT16_MIN, INT16_MAX);
    else if (t == "USHORT")
        integer(0, UINT16_MAX);
    else if (t == "FLOAT" || t == "DOUBLE")
        field.Type = TFieldType::Real;
    else if (t == "BOOL")
        field.Type = TFieldType::Boolean;
    return field;
}

TFieldRegistry::TFieldRegistry()
{
    for (const TFixedInfo& fixed : kFixed) {
        TFieldInfo info;
        info.KmlName = info.ColumnName = fixed.Name;
        info.Type = fixed.Type;
        if (info.Type == TFieldType::Integer) {
            info.Min = 1;
            info.Max = INT32_MAX;
        }
        fields_.push_back(info);
    }
}

int TFieldRegistry::KeyOf(const TFieldInfo& field)
{
    if (auto it = byName_.find(std::string_view(field.KmlName)); it != byName_.end())
        return it->second;
    if (fields_.size() >= kFixedFieldCount + kMaxExtendedFields)
        return -1;
    const uint16_t key = uint16_t(fields_.size());
    fields_.push_back(field);
    byName_.emplace(field.KmlName, key);
    return key;
}

bool TFieldRegistry::Normalize(uint16_t key, std::string_view raw, std::string& out) const
{
    const TFieldInfo& field = fields_[key];
    out.clear();
    switch (field.Type) {
    case TFieldType::Text:
        out.assign(raw);
        return true;
    case TFieldType::Integer: {
        int64_t value = 0;
        if (!ParseInteger(raw, value) || value < field.Min || value > field.Max)
            return false;
        out = std::to_string(value);
        return true;
    }
    case TFieldType::Real: {
        double value = 0;
        if (!StrToReal(raw, value))
            return false;
        out = FormatReal(value);
        return true;
    }
    case TFieldType::Boolean:
        if (raw == "1" || raw == "true")
            out = "1";
        else if (raw == "0" || raw == "false")
            out = "0";
        else
            return false;
        return true;
    }
    return false;
}

std::vector<uint16_t> TFieldRegistry::AssignColumnNames()
{
    std::set<std::string> taken;
    for (uint16_t key = 0; key < kFixedFieldCount; ++key)
        taken.insert(fields_[key].ColumnName);
    std::vector<uint16_t> renamed;
    for (uint16_t key = kFixedFieldCount; key < fields_.size(); ++key) {
        TFieldInfo& field = fields_[key];
        const std::string base = field.KmlName.empty() ? std::string("FIELD") : field.KmlName;
        std::string name(CutText(base, 10));
        for (int n = 1; name.empty() || taken.count(UpperAscii(name)); ++n) {
            const std::string suffix = "_" + std::to_string(n);
            name = std::string(CutText(base, 10 - suffix.size())) + suffix;
        }
        taken.insert(UpperAscii(name));
        field.ColumnName = name;
        if (name != field.KmlName)
            renamed.push_back(key);
    }
    return renamed;
}

bool ClassHoldsField(TFeatureClass featureClass, uint16_t key)
{
    switch (TFixedField(key)) {
    case TFixedField::Icon:
    case TFixedField::IconScale:
    case TFixedField::IconColor: return featureClass == TFeatureClass::Point;
    case TFixedField::LineColor:
    case TFixedField::LineWidth: return featureClass != TFeatureClass::Point;
    case TFixedField::FillColor:
    case TFixedField::Fill:
    case TFixedField::Outline:
    case TFixedField::OverlayIcon: return featureClass == TFeatureClass::Polygon;
    default: return true;
    }
}

TSetRows::TSetRows(const TFieldRegistry& fields, TFeatureClass featureClass, bool descriptions)
    : fields_(fields), class_(featureClass), descriptions_(descriptions)
{
}

void TSetRows::Open(const std::string& path)
{
    path_ = path;
    file_.Open(path, TBufferedFile::TMode::CreateTruncate);
}

void TSetRows::Note(uint16_t key, const std::string& value)
{
    if (key >= stats_.size())
        stats_.resize(fields_.Count());
    TStat& stat = stats_[key];
    stat.Present = true;
    const TFieldType type = fields_.Info(key).Type;
    if (type == TFieldType::Text) {
        stat.Width = std::max(stat.Width, CutText(value, kMaxTextField).size());
    } else {
        stat.Width = std::min(kMaxNumberWidth, std::max(stat.Width, value.size()));
        if (type == TFieldType::Real)
            stat.Decimals = std::min(kMaxDecimals, std::max(stat.Decimals, DecimalsOf(value)));
    }
}

void TSetRows::AddRow(const std::vector<TFieldValue>& shared, const std::vector<TFieldValue>& own, int& badValues)
{
    // Each row: the number of values (16 bits), then per value its key (16
    // bits), its length (32 bits) and its bytes.
    record_.assign(2, 0);
    uint16_t count = 0;
    for (const std::vector<TFieldValue>* values : {&shared, &own}) {
        for (const TFieldValue& v : *values) {
            if (!ClassHoldsField(class_, v.Field) || (v.Field == FieldKey(TFixedField::Descript) && !descriptions_))
                continue;
            if (!fields_.Normalize(v.Field, v.Value, value_)) {
                ++badValues;
                continue;
            }
            if (value_.empty())
                continue;
            Note(v.Field, value_);
            uint8_t head[6];
            PutLE16(head, v.Field);
            PutLE32(head + 2, uint32_t(value_.size()));
            record_.insert(record_.end(), head, head + 6);
            record_.insert(record_.end(), value_.begin(), value_.end());
            ++count;
        }
    }
    PutLE16(record_.data(), count);
    file_.Write(record_.data(), record_.size());
    ++rows_;
}

std::vector<TSetRows::TColumn> TSetRows::Columns() const
{
    std::vector<TColumn> columns;
    for (uint16_t key = 0; key < fields_.Count(); ++key) {
        const bool always = key == FieldKey(TFixedField::Zid) || key == FieldKey(TFixedField::Name) ||
                            (key == FieldKey(TFixedField::Descript) && descriptions_);
        const TStat stat = key < stats_.size() ? stats_[key] : TStat();
        if (!always && !stat.Present)
            continue;
        TColumn column{key, std::max<size_t>(stat.Width, 1), stat.Decimals};
        if (key == FieldKey(TFixedField::Zid))
            column.Width = 9;
        if (fields_.Info(key).Type == TFieldType::Real) {
            // A real field keeps at least one decimal, so that readers take it as one.
            column.Decimals = std::max(column.Decimals, 1);
            column.Width = std::max(column.Width, size_t(column.Decimals) + 2);
        }
        columns.push_back(column);
    }
    return columns;
}

void TSetRows::ReadRows(const std::vector<TColumn>& columns,
                        const std::function<void(const std::vector<std::string>&)>& visit)
{
    file_.Flush();
    std::vector<int> place(fields_.Count(), -1);
    for (size_t i = 0; i < columns.size(); ++i)
        place[columns[i].Key] = int(i);
    std::vector<std::string> values(columns.size());
    std::vector<uint8_t> buffer(size_t(1) << 20);
    size_t begin = 0, end = 0;
    int64_t at = 0;
    // The next n bytes of the file, read on as needed; the file is ours, so
    // a short read means it was cut and is reported as such.
    auto take = [&](size_t n) -> const uint8_t* {
        if (end - begin < n) {
            std::copy(buffer.begin() + long(begin), buffer.begin() + long(end), buffer.begin());
            end -= begin;
            begin = 0;
            if (buffer.size() < n)
                buffer.resize(n);
            while (end < n) {
                const size_t got = file_.ReadAt(at, buffer.data() + end, buffer.size() - end);
                if (got == 0)
                    throw EInOutError(100);
                at += int64_t(got);
                end += got;
            }
        }
        const uint8_t* p = buffer.data() + begin;
        begin += n;
        return p;
    };
    for (uint32_t row = 0; row < rows_; ++row) {
        for (std::string& v : values)
            v.clear();
        const uint16_t count = GetLE16(take(2));
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* head = take(6);
            const uint16_t key = GetLE16(head);
            const uint32_t length = GetLE32(head + 2);
            const char* bytes = reinterpret_cast<const char*>(take(length));
            if (key < place.size() && place[key] >= 0)
                values[size_t(place[key])].assign(bytes, length);
        }
        visit(values);
    }
}

void TSetRows::Discard()
{
    try {
        file_.Close();
    } catch (...) {
    }
    if (!path_.empty())
        std::remove(path_.c_str());
}

} // namespace quarvex
