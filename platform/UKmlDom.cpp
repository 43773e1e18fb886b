#include "platform/UKmlDom.h"

#include "platform/UCodePage.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {

// Comments and processing instructions stay nodes, as in a browser DOM;
// white-space-only text is dropped; the DOCTYPE is skipped unread.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;
constexpr size_t kSnippetLength = 40;

std::string ReadWholeFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto fail = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        throw EQuarvexError("Cannot read \"" + path + "\": " + IoErrorMessage(IoErrorCodeFromErrno(err)));
    };
    if (fd < 0)
        fail(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        fail(errno);
    if (S_ISDIR(st.st_mode))
        fail(EISDIR);
    std::string text;
    text.resize(size_t(st.st_size));
    size_t done = 0;
    while (true) {
        if (done == text.size())
            text.resize(done + 64 * 1024); // the file grew, or is a pipe
        ssize_t got = ::read(fd, &text[done], text.size() - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    ::close(fd);
    text.resize(done);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The encoding named in an XML declaration at the start of text, or empty.
std::string DeclaredEncoding(std::string_view text)
{
    if (text.substr(0, 5) != "<?xml")
        return {};
    size_t end = text.find("?>");
    if (end == std::string_view::npos || end > 1024)
        return {};
    std::string_view decl = text.substr(0, end);
    size_t at = decl.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at = decl.find_first_of("\"'", at);
    if (at == std::string_view::npos)
        return {};
    size_t close = decl.find(decl[at], at + 1);
    if (close == std::string_view::npos)
        return {};
    return std::string(decl.substr(at + 1, close - at - 1));
}

bool LooksLikeUtf16OrUtf32(std::string_view text)
{
    auto b = [&](size_t i) { return i < text.size() ? uint8_t(text[i]) : 0x100; };
    return (b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0xFF && b(1) == 0xFE) || b(0) == 0 || b(1) == 0;
}

// Converts text from encoding to UTF-8; bytes that are not valid in the
// encoding become "?". Raises EXmlParseError when iconv does not know it.
std::string ConvertToUtf8(const std::string& text, const std::string& encoding, const std::string& name)
{
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == iconv_t(-1))
        throw EXmlParseError(name + ": the encoding \"" + encoding + "\" is not supported");
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    IconvWithReplacement(cd, text, out, [](const char*, size_t) { return size_t(1); });
    iconv_close(cd);
    return out;
}

// Pre-order successor without recursion, so deep nesting cannot exhaust the stack.
pugi::xml_node NextInDocumentOrder(pugi::xml_node n)
{
    if (n.first_child())
        return n.first_child();
    while (n && !n.next_sibling())
        n = n.parent();
    return n ? n.next_sibling() : n;
}

std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, kSnippetLength)) {
        if (c == '\n' || c == '\r')
            break;
        out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    }
    return out;
}

} // namespace

std::string_view TDomNode::NodeName() const
{
    pugi::xml_node n(node_);
    switch (n.type()) {
    case pugi::node_element:
    case pugi::node_pi: return n.name();
    case pugi::node_pcdata: return "#text";
    case pugi::node_cdata: return "#cdata-section";
    case pugi::node_comment: return "#comment";
    case pugi::node_document: return "#document";
    default: return {};
    }
}

bool TDomNode::IsElement() const
{
    return pugi::xml_node(node_).type() == pugi::node_element;
}

std::string_view TDomNode::NodeValue() const
{
    pugi::xml_node n(node_);
    return n.type() == pugi::node_element ? std::string_view() : std::string_view(n.value());
}

TDomNode TDomNode::ParentNode() const
{
    return TDomNode(pugi::xml_node(node_).parent().internal_object());
}

TDomNode TDomNode::FirstChild() const
{
    return TDomNode(pugi::xml_node(node_).first_child().internal_object());
}

TDomNode TDomNode::NextSibling() const
{
    return TDomNode(pugi::xml_node(node_).next_sibling().internal_object());
}

TDomDocument::TDomDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

TDomDocument::~TDomDocument() = default;

void TDomDocument::Release()
{
    doc_->reset();
    census_.clear();
    censusDone_ = false;
    std::string().swap(text_);
}

void TDomDocument::Load(const std::string& path)
{
    Release();
    if (path.empty())
        return;
    text_ = ReadWholeFile(path);
    Parse(path, [&] { return ReadWholeFile(path); });
}

void TDomDocument::LoadFromText(std::string text, const std::string& name)
{
    Release();
    const std::string copy = text;
    text_ = std::move(text);
    Parse(name, [&] { return copy; });
}

void TDomDocument::Parse(const std::string& name, const std::function<std::string()>& original)
{
    pugi::xml_encoding encoding = pugi::encoding_auto;
    std::string declared;
    if (!LooksLikeUtf16OrUtf32(text_)) {
        size_t bom = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        declared = DeclaredEncoding(std::string_view(text_).substr(bom));
        if (EqualsIgnoringCase(declared, "UTF-8") || EqualsIgnoringCase(declared, "UTF8") ||
            EqualsIgnoringCase(declared, "UTF-16"))
            declared.clear();
        if (!declared.empty())
            text_ = ConvertToUtf8(text_, declared, name);
        encoding = pugi::encoding_utf8;
    }
    pugi::xml_parse_result result = doc_->load_buffer_inplace(text_.data(), text_.size(), kParseOptions, encoding);
    if (result)
        return;
    std::string reason = result.description();
    Release();
    if (encoding == pugi::encoding_utf8) {
        text_ = original();
        if (!declared.empty())
            text_ = ConvertToUtf8(text_, declared, name);
    }
    std::string where;
    if (encoding == pugi::encoding_utf8 && result.offset >= 0 && size_t(result.offset) <= text_.size()) {
        size_t offset = size_t(result.offset);
        size_t line = size_t(std::count(text_.begin(), text_.begin() + long(offset), '\n')) + 1;
        size_t lineStart = text_.rfind('\n', offset == 0 ? 0 : offset - 1);
        size_t column = offset - (lineStart == std::string::npos || offset == 0 ? 0 : lineStart + 1) + 1;
        std::string near = Printable(std::string_view(text_).substr(offset));
        const bool atEnd = offset + 1 >= text_.size() || near.find_first_not_of(' ') == std::string::npos;
        where = " at line " + std::to_string(line) + ", column " + std::to_string(column) +
                (atEnd ? ", where the document ends" : ", near \"" + near + "\"");
    } else {
        where = " at offset " + std::to_string(result.offset);
    }
    Release();
    throw EXmlParseError(name + ": " + reason + where);
}

int TDomDocument::CountElementsByTagName(std::string_view name)
{
    if (!censusDone_) {
        // One walk counts every tag name, so each pass then walks only once.
        for (pugi::xml_node n = doc_->first_child(); n; n = NextInDocumentOrder(n))
            if (n.type() == pugi::node_element)
                ++census_[std::string_view(n.name())];
        censusDone_ = true;
    }
    auto it = census_.find(name);
    return it == census_.end() ? 0 : it->second;
}

void TDomDocument::ForEachElementByTagName(std::string_view name, const std::function<void(TDomNode)>& visit) const
{
    for (pugi::xml_node n = doc_->first_child(); n; n = NextInDocumentOrder(n))
        if (n.type() == pugi::node_element && name == n.name())
            visit(TDomNode(n.internal_object()));
}

} // namespace quarvex
