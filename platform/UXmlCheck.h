// A fast test that a text is well-formed XML 1.0 with namespaces, for the
// documents most files are: UTF-8, ASCII names, no document type
// declaration. It only ever proves; a text it cannot prove goes to the full
// parser, which then has the last word and gives the reason of an error.
#pragma once

#include <string_view>

namespace quarvex {

// True when text (UTF-8, a byte-order mark allowed first) is certainly a
// well-formed XML 1.0 document that also keeps the namespace rules (every
// prefix declared, no attribute twice under one namespace). False when it
// is not, or when it holds something this test leaves to the full parser:
// a document type declaration, names with letters beyond ASCII, references
// to entities other than the five predefined ones, unusual namespace
// declarations, an XML declaration of another version than 1.0.
bool IsPlainWellFormedXml(std::string_view text);

} // namespace quarvex
