#include "kml/UCoordText.h"

#include <charconv>
#include <system_error>

namespace quarvex {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The common characters of a field (digits, ".", "-", letters) all lie above
// ",", so one comparison settles most of them.
bool EndsField(char c)
{
    return static_cast<unsigned char>(c) <= ',' && (c == ',' || IsBlank(c));
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One tuple's fields; a tuple with more than three is malformed.
struct TTuple {
    std::string_view fields[3];
    int count = 0;
    bool tooMany = false;
};

// Reads the tuple that starts at text[pos] (not a blank) and moves pos past it.
// A blank ends the tuple, except right after a comma, where it is skipped.
TTuple ReadTuple(std::string_view text, size_t& pos)
{
    TTuple tuple;
    while (true) {
        size_t start = pos;
        while (pos < text.size() && !EndsField(text[pos]))
            ++pos;
        if (tuple.count < 3)
            tuple.fields[tuple.count] = text.substr(start, pos - start);
        else
            tuple.tooMany = true;
        ++tuple.count;
        if (pos >= text.size() || text[pos] != ',')
            return tuple;
        ++pos; // the comma
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
    }
}

bool IsBlankOrEnd(const char* p, const char* end)
{
    return p == end || IsBlank(*p);
}

// The common tuple "lon,lat[,alt]" in one pass: each number is read where
// it stands, and taken when it ends right at its field's end, just as
// StrToReal of the field would take it. Anything else (a sign or point
// first, a malformed field, a fourth field) gives false and is left to the
// general reading, from the same place.
bool ReadPlainTuple(std::string_view text, size_t& pos, TCXY& point)
{
    const char* p = text.data() + pos;
    const char* const end = text.data() + text.size();
    auto number = [&](double& value) {
        if (!(IsDigit(*p) || (*p == '-' && p + 1 < end && IsDigit(p[1]))))
            return false;
        auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc())
            return false;
        p = next;
        return true;
    };
    auto afterComma = [&] {
        ++p;
        while (p < end && IsBlank(*p))
            ++p;
        return p < end;
    };
    if (!number(point.X) || p == end || *p != ',' || !afterComma() || !number(point.Y))
        return false;
    if (p < end && *p == ',') {
        if (!afterComma()) {
            p = end; // an empty altitude ends the text
        } else {
            while (p < end && !EndsField(*p))
                ++p;
            if (p < end && *p == ',')
                return false;
        }
    } else if (!IsBlankOrEnd(p, end)) {
        return false;
    }
    pos = size_t(p - text.data());
    return true;
}

bool TupleToPoint(const TTuple& tuple, TCXY& point)
{
    return tuple.count >= 2 && !tuple.tooMany && StrToReal(tuple.fields[0], point.X) &&
           StrToReal(tuple.fields[1], point.Y);
}

// Calls visit(point) for every valid tuple until it returns false.
template <class F>
void ForEachTuple(std::string_view text, int& skipped, F visit)
{
    size_t pos = 0;
    while (true) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        if (pos >= text.size())
            return;
        TCXY point;
        if (ReadPlainTuple(text, pos, point)) {
            if (!visit(point))
                return;
            continue;
        }
        if (!TupleToPoint(ReadTuple(text, pos), point))
            ++skipped;
        else if (!visit(point))
            return;
    }
}

} // namespace

bool StrToReal(std::string_view text, double& value)
{
    // from_chars reads the rest of the syntax; it only has to be kept from
    // "inf", "nan" and a second sign, and must take the text to its end.
    if (text == ".") { // no digit on either side of the point reads 0
        value = 0.0;
        return true;
    }
    // One sign at most: "+-5" is as malformed as "--5".
    size_t start = 0;
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-')
            return false;
    } else if (!text.empty() && text[0] == '-') {
        start = 1;
    }
    if (start >= text.size() || !(IsDigit(text[start]) || text[start] == '.'))
        return false;
    double parsed = 0.0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}

TCXY ParsePointText(std::string_view text, int& skipped)
{
    TCXY result;
    ForEachTuple(text, skipped, [&](const TCXY& point) {
        result = point;
        return false;
    });
    return result;
}

void ParseCoordList(std::string_view text, TListaXY& list, int& skipped)
{
    list.Clear();
    ForEachTuple(text, skipped, [&](const TCXY& point) {
        list.Add(point.X, point.Y);
        return true;
    });
}

void ParseCoordTuples(std::string_view text, std::vector<TCXY>& points, std::vector<double>* z, int& skipped)
{
    points.clear();
    if (z)
        z->clear();
    AppendCoordTuples(text, points, z, skipped, false);
}

void AppendCoordTuples(std::string_view text, std::vector<TCXY>& points, std::vector<double>* z, int& skipped,
                       bool firstThreeOfMore)
{
    size_t pos = 0;
    while (true) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        if (pos >= text.size())
            return;
        TTuple tuple = ReadTuple(text, pos);
        if (firstThreeOfMore)
            tuple.tooMany = false;
        TCXY point;
        if (!TupleToPoint(tuple, point)) {
            ++skipped;
            continue;
        }
        points.push_back(point);
        if (z) {
            double altitude = 0.0;
            if (tuple.count < 3 || !StrToReal(tuple.fields[2], altitude))
                altitude = 0.0;
            z->push_back(altitude);
        }
    }
}

} // namespace quarvex
