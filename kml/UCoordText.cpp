#include "kml/UCoordText.h"

#include <charconv>
#include <system_error>

namespace quarvex {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Checks the number syntax; isLonePoint tells the text "." apart.
bool MatchesNumberSyntax(std::string_view t, bool& isLonePoint)
{
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < t.size() && IsDigit(t[i]))
        ++i, ++digits;
    bool point = i < t.size() && t[i] == '.';
    if (point) {
        ++i;
        while (i < t.size() && IsDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0) {
        isLonePoint = point && i == t.size();
        return isLonePoint && t[0] == '.';
    }
    isLonePoint = false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < t.size() && IsDigit(t[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return false;
    }
    return i == t.size();
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
        while (pos < text.size() && text[pos] != ',' && !IsBlank(text[pos]))
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
        if (!TupleToPoint(ReadTuple(text, pos), point))
            ++skipped;
        else if (!visit(point))
            return;
    }
}

} // namespace

bool StrToReal(std::string_view text, double& value)
{
    bool lonePoint = false;
    if (text.empty() || !MatchesNumberSyntax(text, lonePoint))
        return false;
    if (lonePoint) {
        value = 0.0;
        return true;
    }
    if (text[0] == '+')
        text.remove_prefix(1);
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

} // namespace quarvex
