#include "platform/UKmlDom.h"

#include "platform/UMemoryBudget.h"
#include "platform/UXmlCheck.h"
#include "platform/UXmlText.h"

#include <expat.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {

// Comments and processing instructions stay nodes, as in a browser DOM;
// white-space-only text is dropped; the DOCTYPE is skipped unread. Text that
// comes first in an element is kept in the element, which saves a node for
// nearly every text of a KML document.
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_embed_pcdata;
constexpr size_t kSnippetLength = 40;
constexpr size_t kExpatChunk = 1 << 20;

[[noreturn]] void RaiseReadError(const std::string& path, int err)
{
    if (err == EISDIR)
        throw EQuarvexError("Cannot read \"" + path + "\": it is a folder, not a file");
    throw EQuarvexError("Cannot read \"" + path + "\": " + IoErrorText(err));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool StartsIgnoringCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && EqualsIgnoringCase(text.substr(0, start.size()), start);
}

} // namespace

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

// The 16- or 32-bit encoding that the first bytes show (a byte-order mark,
// or the zero bytes around "<"), or null for an 8-bit text.
const char* WideEncoding(std::string_view text)
{
    auto b = [&](size_t i) { return i < text.size() ? int(uint8_t(text[i])) : -1; };
    if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF)
        return "UTF-32";
    if (b(0) == 0xFF && b(1) == 0xFE && b(2) == 0 && b(3) == 0)
        return "UTF-32";
    if ((b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0xFF && b(1) == 0xFE))
        return "UTF-16";
    if (b(0) == 0 && b(1) > 0)
        return "UTF-16BE";
    if (b(0) > 0 && b(1) == 0)
        return "UTF-16LE";
    return nullptr;
}

// The start of text at offset for a message: up to the end of its line, a
// tab as a blank, other control characters and bytes that are not UTF-8 as
// \xNN, so that the message itself is always printable, valid UTF-8.
std::string XmlSnippet(std::string_view text, size_t offset)
{
    std::string out;
    size_t i = offset, shown = 0;
    while (i < text.size() && shown < kSnippetLength) {
        const uint8_t c = uint8_t(text[i]);
        if (c == '\n' || c == '\r')
            break;
        size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool valid = n > 0 && i + n <= text.size();
        for (size_t k = 1; valid && k < n; ++k)
            valid = (uint8_t(text[i + k]) & 0xC0) == 0x80;
        if (valid && n == 3) { // no overlong forms or surrogates
            const uint8_t d = uint8_t(text[i + 1]);
            valid = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
        } else if (valid && n == 4) {
            const uint8_t d = uint8_t(text[i + 1]);
            valid = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
        }
        if (!valid || (n == 1 && (c < 0x20 || c == 0x7F) && c != '\t')) {
            static const char* const kHex = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        } else if (n == 1) {
            out += c == '\t' ? ' ' : char(c);
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
        ++shown;
    }
    return out;
}

namespace {

// Line and column (from 1, in characters) of a byte offset of UTF-8 text.
void LineAndColumn(std::string_view text, size_t offset, size_t& line, size_t& column)
{
    offset = std::min(offset, text.size());
    line = size_t(std::count(text.begin(), text.begin() + long(offset), '\n')) + 1;
    const size_t lineStart = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
    column = 1;
    for (size_t i = lineStart == std::string_view::npos ? 0 : lineStart + 1; i < offset; ++i)
        if ((uint8_t(text[i]) & 0xC0) != 0x80)
            ++column;
}

[[noreturn]] void RaiseAt(const std::string& name, const std::string& reason, std::string_view text, size_t offset,
                          size_t line, size_t column)
{
    std::string near = XmlSnippet(text, offset);
    if (near.find_first_not_of(' ') == std::string::npos)
        near.clear();
    throw EXmlParseError(name, reason, line, column, near);
}

// Converts text from encoding to UTF-8 and gives the result; a byte
// sequence that is not a character of the encoding ends the load with its
// place. Raises EXmlParseError when iconv does not know the encoding.
std::string ConvertToUtf8(std::string_view text, const std::string& encoding, const std::string& name)
{
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == iconv_t(-1))
        throw EXmlParseError(name + ": the encoding \"" + encoding + "\" is not supported");
    std::string out(text.size() + text.size() / 2 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    size_t done = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + done;
        size_t outLeft = out.size() - done;
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        done = size_t(outPtr - out.data());
        if (rc != size_t(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        iconv_close(cd);
        out.resize(done);
        size_t line, column;
        LineAndColumn(out, done, line, column);
        RaiseAt(name, "bytes that are not a character of the encoding \"" + encoding + "\"", text,
                size_t(in - text.data()), line, column);
    }
    iconv_close(cd);
    out.resize(done);
    return out;
}

// The full parser's verdict on text: returns when it is well-formed XML 1.0
// with namespaces, raises its reason and place otherwise. encoding, when
// not null, overrides the declaration (the text was converted to UTF-8).
void CheckWithExpat(std::string_view text, const char* encoding, const std::string& name)
{
    XML_Parser parser = XML_ParserCreateNS(encoding, '\x01');
    if (!parser)
        throw std::bad_alloc();
    // References to the entities a DTD declares are expanded here, for the
    // check alone (the DOM keeps them as written): a recursive entity, one
    // whose text has unbalanced markup or refers to an undefined entity is
    // found only then. External entities are never read, and expat's own
    // bound on the expansion refuses a flood of nested entities.
    bool ok = true;
    for (size_t at = 0; ok;) {
        const size_t n = std::min(kExpatChunk, text.size() - at);
        const bool last = at + n == text.size();
        ok = XML_Parse(parser, text.data() + at, int(n), last) == XML_STATUS_OK;
        at += n;
        if (last)
            break;
    }
    if (ok) {
        XML_ParserFree(parser);
        return;
    }
    const std::string reason = XML_ErrorString(XML_GetErrorCode(parser));
    const XML_Size line = XML_GetCurrentLineNumber(parser);
    const XML_Size column = XML_GetCurrentColumnNumber(parser);
    const XML_Index offset = XML_GetCurrentByteIndex(parser);
    XML_ParserFree(parser);
    RaiseAt(name, reason, text, offset < 0 ? text.size() : size_t(offset), size_t(line), size_t(column) + 1);
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

} // namespace

EXmlParseError::EXmlParseError(const std::string& name, const std::string& reason, size_t line, size_t column,
                               const std::string& near)
    : EQuarvexError(name + ": " + reason + " at line " + std::to_string(line) + ", column " + std::to_string(column) +
                    (!near.empty()                  ? ", near \"" + near + "\""
                     : line == 1 && column == 1     ? ", where the document ends: the document is empty"
                                                    : ", where the document ends: the document is cut short")),
      reason_(reason), line_(line), column_(column), near_(near)
{
}

// The bytes of a document, writable in place: read into anonymous memory of
// its own (so that later changes to the file cannot reach the DOM), or a
// string when the text came from a pipe or was converted.
class TDomDocument::TBuffer {
public:
    explicit TBuffer(std::string text) : text_(std::move(text)) {}
    TBuffer(char* mapped, size_t size) : mapped_(mapped), used_(size), size_(size) {}
    ~TBuffer()
    {
        if (mapped_)
            ::munmap(mapped_, size_);
    }
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    char* Data() { return mapped_ ? mapped_ : text_.data(); }
    size_t Size() const { return mapped_ ? used_ : text_.size(); }
    std::string_view View() { return std::string_view(Data(), Size()); }

    static std::unique_ptr<TBuffer> FromFile(const std::string& path)
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            RaiseReadError(path, errno);
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            const int err = errno;
            ::close(fd);
            RaiseReadError(path, err);
        }
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            RaiseReadError(path, EISDIR);
        }
        if (S_ISREG(st.st_mode)) {
            try {
                CheckDomFitsInMemory(path, uint64_t(st.st_size));
            } catch (...) {
                ::close(fd);
                throw;
            }
        }
        if (S_ISREG(st.st_mode) && st.st_size > 0) {
            if (auto buffer = ReadIntoMapping(fd, size_t(st.st_size), path)) {
                ::close(fd);
                return buffer;
            }
        }
        std::string text;
        try {
            ReadStream(fd, path, text);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
        return std::make_unique<TBuffer>(std::move(text));
    }

private:
    // Reads a pipe or a device to its end into text. Its size is known only
    // as it arrives, so the memory rule is checked as the bytes come: past
    // the bound the read stops with the rule's message.
    static void ReadStream(int fd, const std::string& path, std::string& text)
    {
        uint64_t bound = DomDocumentBound();
        char chunk[64 * 1024];
        while (true) {
            ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                RaiseReadError(path, errno);
            if (got == 0)
                return;
            text.append(chunk, size_t(got));
            if (text.size() > bound) {
                CheckStreamFitsInMemory(path, text.size()); // raises unless memory was freed meanwhile
                bound = DomDocumentBound();
            }
        }
    }

    // Reads size bytes of fd into fresh anonymous memory, in huge pages where
    // the system gives them (fewer faults and no copy-on-write); null when
    // no such memory can be had. Raises the read error naming path.
    static std::unique_ptr<TBuffer> ReadIntoMapping(int fd, size_t size, const std::string& path)
    {
        constexpr size_t kHugePage = size_t(2) << 20;
        // A small document keeps to small pages: a huge one would cost it 2 MB.
        const bool huge = size >= kHugePage;
        const size_t length = huge ? (size + kHugePage - 1) / kHugePage * kHugePage : size;
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        if (huge)
            ::madvise(p, length, MADV_HUGEPAGE);
        auto buffer = std::make_unique<TBuffer>(static_cast<char*>(p), length);
        size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd, buffer->mapped_ + done, std::min(size - done, size_t(8) << 20), off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                const int err = errno;
                ::close(fd);
                RaiseReadError(path, err);
            }
            if (got == 0)
                break; // the file shrank meanwhile: what is there is the document
            done += size_t(got);
        }
        buffer->used_ = done;
        return buffer;
    }

    std::string text_;
    char* mapped_ = nullptr;
    size_t used_ = 0;
    size_t size_ = 0;
};

std::string_view TDomNode::NodeName() const
{
    if (leadingText_)
        return "#text";
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
    return !leadingText_ && pugi::xml_node(node_).type() == pugi::node_element;
}

void TDomNode::ForEachAttribute(const std::function<void(std::string_view, std::string_view)>& visit) const
{
    if (!IsElement())
        return;
    for (pugi::xml_attribute a = pugi::xml_node(node_).first_attribute(); a; a = a.next_attribute())
        visit(a.name(), a.value());
}

std::string_view TDomNode::NodeValue() const
{
    pugi::xml_node n(node_);
    if (leadingText_)
        return n.value();
    return n.type() == pugi::node_element ? std::string_view() : std::string_view(n.value());
}

TDomNode TDomNode::ParentNode() const
{
    if (leadingText_)
        return TDomNode(node_);
    return TDomNode(pugi::xml_node(node_).parent().internal_object());
}

TDomNode TDomNode::FirstChild() const
{
    if (leadingText_)
        return {};
    pugi::xml_node n(node_);
    if (n.type() == pugi::node_element && *n.value() != '\0')
        return TDomNode(node_, true);
    return TDomNode(n.first_child().internal_object());
}

TDomNode TDomNode::NextSibling() const
{
    if (leadingText_)
        return TDomNode(pugi::xml_node(node_).first_child().internal_object());
    return TDomNode(pugi::xml_node(node_).next_sibling().internal_object());
}

TDomDocument::TDomDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

TDomDocument::~TDomDocument() = default;

void TDomDocument::Release()
{
    doc_->reset();
    byName_.clear();
    indexed_ = false;
    buffer_.reset();
}

void TDomDocument::Load(const std::string& path)
{
    Release();
    if (path.empty())
        return;
    buffer_ = TBuffer::FromFile(path);
    Parse(path);
}

void TDomDocument::LoadFromText(std::string text, const std::string& name)
{
    Release();
    buffer_ = std::make_unique<TBuffer>(std::move(text));
    Parse(name);
}

void TDomDocument::Parse(const std::string& name)
{
    try {
        std::string_view text = buffer_->View();
        const char* wide = WideEncoding(text);
        const bool bom = text.substr(0, 3) == "\xEF\xBB\xBF";
        const std::string declared = wide ? std::string() : DeclaredEncoding(text.substr(bom ? 3 : 0));
        if (wide) {
            buffer_ = std::make_unique<TBuffer>(ConvertToUtf8(text, wide, name));
        } else if (StartsIgnoringCase(declared, "UTF-16") || StartsIgnoringCase(declared, "UTF-32")) {
            // Declared wide but written in 8 bits: the parser names the mismatch.
            CheckWithExpat(text, nullptr, name);
        } else if (!declared.empty() && !EqualsIgnoringCase(declared, "UTF-8")) {
            buffer_ = std::make_unique<TBuffer>(ConvertToUtf8(text, declared, name));
        }
        text = buffer_->View();
        if (!IsPlainWellFormedXml(text))
            CheckWithExpat(text, "UTF-8", name);
        pugi::xml_parse_result result =
            doc_->load_buffer_inplace(buffer_->Data(), buffer_->Size(), kParseOptions, pugi::encoding_utf8);
        if (!result)
            throw EXmlParseError(name + ": " + result.description() + " at offset " + std::to_string(result.offset));
    } catch (...) {
        Release();
        throw;
    }
}

const std::vector<pugi::xml_node_struct*>* TDomDocument::ElementsNamed(std::string_view name)
{
    if (!indexed_) {
        // One walk files every element under its name, so that each pass
        // then visits only its own elements. A document has few distinct
        // names, so a small cache in front of the map answers most lookups
        // with one comparison.
        struct TSlot {
            std::string_view name;
            std::vector<pugi::xml_node_struct*>* elements = nullptr;
        };
        TSlot cache[64];
        for (pugi::xml_node n = doc_->first_child(); n; n = NextInDocumentOrder(n)) {
            if (n.type() != pugi::node_element)
                continue;
            const char* name = n.name();
            const size_t key = name[0] == 0 ? 0 : (uint8_t(name[0]) * 31 + uint8_t(name[1]) * 7 + (name[1] ? uint8_t(name[2]) : 0)) & 63;
            TSlot& slot = cache[key];
            // A hit needs no length of the name: the bytes and the end compare
            // (name[size] is read only when the first size bytes matched).
            if (!slot.elements || std::strncmp(slot.name.data(), name, slot.name.size()) != 0 ||
                name[slot.name.size()] != '\0') {
                const std::string_view full(name);
                slot = TSlot{full, &byName_[full]};
            }
            slot.elements->push_back(n.internal_object());
        }
        indexed_ = true;
    }
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : &it->second;
}

int TDomDocument::CountElementsByTagName(std::string_view name)
{
    const auto* elements = ElementsNamed(name);
    return elements ? int(elements->size()) : 0;
}

void TDomDocument::ForEachElementByTagName(std::string_view name, const std::function<void(TDomNode)>& visit)
{
    if (const auto* elements = ElementsNamed(name))
        for (pugi::xml_node_struct* element : *elements)
            visit(TDomNode(element));
}

} // namespace quarvex
