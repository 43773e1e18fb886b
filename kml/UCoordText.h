// Reading KML coordinate text: tuples "lon,lat[,alt]" separated by white
// space; the altitude is read and dropped.
#pragma once

#include "geometry/UXYCoo.h"

#include <string_view>
#include <vector>

namespace quarvex {

// Reads one number: optional sign, digits with an optional "." (digits may
// be missing on either side; "." alone is 0), optional exponent, nothing
// else. Converted in the C locale to the nearest double. False when the
// text breaks that syntax or the value is out of the double range.
bool StrToReal(std::string_view text, double& value);

// The first valid tuple of the text as a point, (0, 0) when there is none.
// Malformed tuples met before it are added to skipped.
TCXY ParsePointText(std::string_view text, int& skipped);

// Empties list and fills it with the valid tuples of the text, in order;
// tuples whose longitude or latitude is missing or malformed, or that have
// more than three fields, are left out and added to skipped.
void ParseCoordList(std::string_view text, TListaXY& list, int& skipped);

// The same tuples into points, and with z their altitudes (0 where a tuple
// has none or its altitude is not a number).
void ParseCoordTuples(std::string_view text, std::vector<TCXY>& points, std::vector<double>* z, int& skipped);

// As ParseCoordTuples, appending to points and z; with firstThreeOfMore, a
// tuple of four or more fields is taken by its first three instead of
// being left out.
void AppendCoordTuples(std::string_view text, std::vector<TCXY>& points, std::vector<double>* z, int& skipped,
                       bool firstThreeOfMore);

} // namespace quarvex
