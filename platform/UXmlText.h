// Small readings of XML text shared by the DOM load and the export's
// streaming reader: the encoding a document announces, and the start of
// an offending text as an error message shows it.
#pragma once

#include <string>
#include <string_view>

namespace quarvex {

// The encoding named in an XML declaration at the start of text, or empty.
std::string DeclaredEncoding(std::string_view text);

// The 16- or 32-bit encoding that the first bytes show (a byte-order mark,
// or the zero bytes around "<"), or null for an 8-bit text.
const char* WideEncoding(std::string_view text);

// The start of text at offset for a message: up to the end of its line, a
// tab as a blank, other control characters and bytes that are not UTF-8 as
// \xNN, so that the message itself is always printable, valid UTF-8.
std::string XmlSnippet(std::string_view text, size_t offset);

} // namespace quarvex
