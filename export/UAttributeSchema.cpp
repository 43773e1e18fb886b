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

// The number written by count digits of text from at; false when they are
// not all there or not all digits.
bool ReadDigits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back, counted in eras of 400 years (146097 days) so that every step is
// exact integer arithmetic.
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

// The time of day after a date's "T": hh:mm:ss, a fraction (its first three
// digits kept as milliseconds) and the zone, as minutes east of UTC.
bool ReadTimeOfDay(std::string_view text, int& minutes, int& second, int& millis, int& offset)
{
    int hour = 0, minute = 0, oh = 0, om = 0;
    if (!ReadDigits(text, 0, 2, hour) || text.size() < 8 || text[2] != ':' || !ReadDigits(text, 3, 2, minute) ||
        text[5] != ':' || !ReadDigits(text, 6, 2, second) || hour > 23 || minute > 59 || second > 59)
        return false;
    minutes = hour * 60 + minute;
    size_t at = 8;
    if (at < text.size() && text[at] == '.') {
        size_t digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
            if (digits < 3)
                millis = millis * 10 + (text[at] - '0');
        if (digits == 0)
            return false;
        for (; digits < 3; ++digits)
            millis *= 10;
    }
    const std::string_view zone = text.substr(at);
    if (zone.empty() || zone == "Z")
        return true;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !ReadDigits(zone, 1, 2, oh) ||
        !ReadDigits(zone, 4, 2, om) || om > 59 || oh * 60 + om > 14 * 60)
        return false;
    offset = (zone[0] == '-' ? -1 : 1) * (oh * 60 + om);
    return true;
}

} // namespace

bool NormalizeDateTime(std::string_view text, std::string& out)
{
    out.clear();
    int year = 0, month = 0, day = 0;
    if (text.size() < 10 || !ReadDigits(text, 0, 4, year) || text[4] != '-' || !ReadDigits(text, 5, 2, month) ||
        text[7] != '-' || !ReadDigits(text, 8, 2, day) || year < 1 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    int minutes = 0, second = 0, millis = 0, offset = 0;
    if (text.size() > 10 && (text[10] != 'T' || !ReadTimeOfDay(text.substr(11), minutes, second, millis, offset)))
        return false;
    // In UTC; an offset can move the time into the day before or after.
    const int64_t total = DaysFromCivil(year, month, day) * 1440 + minutes - offset;
    const int64_t days = total >= 0 ? total / 1440 : -((-total + 1439) / 1440);
    const int64_t rest = total - days * 1440;
    int64_t y = 0;
    int m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    if (y < 1 || y > 9999)
        return false;
    // Written digit by digit: this runs for every time of every record.
    auto put = [&out](int64_t value, int digits) {
        char d[8];
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            d[i] = char('0' + value % 10);
        out.append(d, size_t(digits));
    };
    put(y, 4);
    out += '-';
    put(m, 2);
    out += '-';
    put(d, 2);
    out += 'T';
    put(rest / 60, 2);
    out += ':';
    put(rest % 60, 2);
    out += ':';
    put(second, 2);
    out += '.';
    put(millis, 3);
    out += 'Z';
    return true;
}

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
    else if (t == "FLOAT" || t == "DOUBLE") {
        field.Type = TFieldType::Real;
        field.Single = t == "FLOAT";
    }
    else if (t == "BOOL")
        field.Type = TFieldType::Boolean;
    return field;
}

TFieldRegistry::TFieldRegistry()
{
    for (const TFixedInfo& fixed : kFixed) {
        TFieldInfo info;
        info.KmlName = info.ColumnName = info.GpkgName = fixed.Name;
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

std::vector<uint16_t> TFieldRegistry::AssignGpkgNames(const std::vector<std::string>& reserved)
{
    std::set<std::string> taken;
    for (const std::string& name : reserved)
        taken.insert(UpperAscii(name));
    for (uint16_t key = 0; key < kFixedFieldCount; ++key)
        taken.insert(fields_[key].GpkgName);
    std::vector<uint16_t> renamed;
    for (uint16_t key = kFixedFieldCount; key < fields_.size(); ++key) {
        TFieldInfo& field = fields_[key];
        const std::string base = field.KmlName.empty() ? std::string("FIELD") : field.KmlName;
        std::string name = base;
        for (int n = 1; taken.count(UpperAscii(name)); ++n)
            name = base + "_" + std::to_string(n);
        taken.insert(UpperAscii(name));
        field.GpkgName = name;
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

void TSetRows::AddRow(const std::vector<TFieldValue>& shared, const std::vector<TFieldValue>& own, int& badValues,
                      std::string_view blob)
{
    // Each row: the number of values (16 bits), then per value its key (16
    // bits), its length (32 bits) and its bytes; last the blob's length (32
    // bits) and its bytes.
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
    uint8_t blobHead[4];
    PutLE32(blobHead, uint32_t(blob.size()));
    record_.insert(record_.end(), blobHead, blobHead + 4);
    record_.insert(record_.end(), blob.begin(), blob.end());
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
    ReadRows(columns, [&](const std::vector<std::string>& values, std::string_view) { visit(values); });
}

void TSetRows::ReadRows(const std::vector<TColumn>& columns,
                        const std::function<void(const std::vector<std::string>&, std::string_view)>& visit)
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
        const uint32_t blobLength = GetLE32(take(4));
        const char* blob = reinterpret_cast<const char*>(take(blobLength));
        visit(values, std::string_view(blob, blobLength));
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
