#include "export/UXmlStream.h"

#include "platform/UXmlText.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <new>

namespace quarvex {

namespace {

// The encoding is decided from the first bytes, which hold the XML
// declaration when there is one.
constexpr size_t kSniffBytes = 1024;
// Pieces handed to expat at a time, so that a large Feed keeps the parser's
// own buffer small.
constexpr size_t kParseChunk = size_t(1) << 20;
constexpr size_t kConvertChunk = size_t(64) << 10;

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool StartsIgnoringCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && EqualsIgnoringCase(text.substr(0, start.size()), start);
}

TXmlNs Classify(const TExpatName& name)
{
    if (!name.HasUri)
        return TXmlNs::Kml; // documents without a namespace are read as KML
    static const std::string_view kKml[] = {
        "http://www.opengis.net/kml/2.2", "http://www.opengis.net/kml/2.3", "http://earth.google.com/kml/2.0",
        "http://earth.google.com/kml/2.1", "http://earth.google.com/kml/2.2"};
    for (std::string_view uri : kKml)
        if (name.Uri == uri)
            return TXmlNs::Kml;
    if (name.Uri == "http://www.google.com/kml/ext/2.2")
        return TXmlNs::Gx;
    return TXmlNs::Other;
}

} // namespace

TExpatName SplitExpatName(std::string_view raw)
{
    TExpatName name;
    const size_t first = raw.find('\x01');
    if (first == std::string_view::npos) {
        name.Local = raw;
        return name;
    }
    name.HasUri = true;
    name.Uri = raw.substr(0, first);
    const size_t second = raw.find('\x01', first + 1);
    if (second == std::string_view::npos) {
        name.Local = raw.substr(first + 1);
    } else {
        name.Local = raw.substr(first + 1, second - first - 1);
        name.Prefix = raw.substr(second + 1);
    }
    return name;
}

std::string_view TXmlElement::Attribute(std::string_view local) const
{
    std::string_view qualified;
    for (const char* const* a = Attributes; a && a[0]; a += 2) {
        if (local == a[0]) // an attribute without a namespace has no separator
            return a[1];
        if (qualified.empty() && SplitExpatName(a[0]).Local == local)
            qualified = a[1];
    }
    return qualified;
}

std::string TXmlElement::QualifiedName() const
{
    if (Prefix.empty())
        return std::string(Local);
    return std::string(Prefix) + ":" + std::string(Local);
}

struct TXmlStream::TState {
    TXmlHandler& handler;
    std::string name;
    TXmlBounds bounds;
    XML_Parser parser = nullptr;
    enum class TMode { Sniffing, Direct, Converting } mode = TMode::Sniffing;
    std::string sniffed;   // the first bytes, until the encoding is known
    iconv_t converter = iconv_t(-1);
    std::string encoding;  // the one converted from
    std::string carry;     // bytes of a character cut by the end of a piece
    size_t convertedLine = 1, convertedColumn = 1; // where the converted text ends
    uint64_t parsed = 0;   // bytes handed to expat
    uint64_t lastEvent = 0;
    uint64_t entityText = 0;
    int depth = 0;
    std::exception_ptr failure; // raised in a handler, passed on after expat returns

    TState(TXmlHandler& h, std::string n, TXmlBounds b) : handler(h), name(std::move(n)), bounds(b) {}
    ~TState()
    {
        if (parser)
            XML_ParserFree(parser);
        if (converter != iconv_t(-1))
            iconv_close(converter);
    }

    // Where the event being reported ends: the parser holds nothing before it.
    // (An entity declaration is reported at its value, with no length.)
    void Mark(uint64_t length = 0)
    {
        const XML_Index at = XML_GetCurrentByteIndex(parser);
        if (at >= 0)
            lastEvent = std::max(lastEvent, uint64_t(at) + std::max(uint64_t(std::max(XML_GetCurrentByteCount(parser), 0)),
                                                                    length));
    }

    template <class F>
    void Guarded(F work)
    {
        if (failure)
            return;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
            XML_StopParser(parser, XML_FALSE);
        }
    }

    void Fail(const std::string& reason)
    {
        Guarded([&] {
            throw EXmlParseError(name, reason, size_t(XML_GetCurrentLineNumber(parser)),
                                 size_t(XML_GetCurrentColumnNumber(parser)) + 1, std::string());
        });
    }

    static void XMLCALL OnStart(void* data, const XML_Char* rawName, const XML_Char** attributes)
    {
        TState& s = *static_cast<TState*>(data);
        s.Mark();
        if (++s.depth > s.bounds.MaxDepth) {
            s.Fail("elements nested deeper than " + std::to_string(s.bounds.MaxDepth) + " levels");
            return;
        }
        const TExpatName name = SplitExpatName(rawName);
        const TXmlElement element{Classify(name), name.Local, name.Prefix, attributes};
        s.Guarded([&] { s.handler.StartElement(element); });
    }

    static void XMLCALL OnEnd(void* data, const XML_Char*)
    {
        TState& s = *static_cast<TState*>(data);
        s.Mark();
        --s.depth;
        s.Guarded([&] { s.handler.EndElement(); });
    }

    static void XMLCALL OnText(void* data, const XML_Char* text, int length)
    {
        TState& s = *static_cast<TState*>(data);
        s.Mark();
        s.Guarded([&] { s.handler.Text(std::string_view(text, size_t(length))); });
    }

    // Everything else the parser meets (declarations, comments, processing
    // instructions) only shows that it goes on.
    static void XMLCALL OnOther(void* data, const XML_Char*, int) { static_cast<TState*>(data)->Mark(); }

    static void XMLCALL OnEntity(void* data, const XML_Char*, int, const XML_Char*, int valueLength, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*)
    {
        TState& s = *static_cast<TState*>(data);
        s.Mark(uint64_t(std::max(valueLength, 0)));
        s.entityText += uint64_t(std::max(valueLength, 0));
        if (s.entityText > s.bounds.MaxEntityText)
            s.Fail("the entity declarations hold more than " + std::to_string(s.bounds.MaxEntityText >> 20) +
                   " MB of text");
    }
};

TXmlStream::TXmlStream(TXmlHandler& handler, std::string name, TXmlBounds bounds)
    : state_(std::make_unique<TState>(handler, std::move(name), bounds))
{
}

TXmlStream::~TXmlStream() = default;

void TXmlStream::Start()
{
    TState& s = *state_;
    std::string_view text = s.sniffed;
    const char* wide = WideEncoding(text);
    const bool bom = text.substr(0, 3) == "\xEF\xBB\xBF";
    const std::string declared = wide ? std::string() : DeclaredEncoding(text.substr(bom ? 3 : 0));
    const char* parserEncoding = "UTF-8";
    if (wide) {
        s.encoding = wide;
    } else if (StartsIgnoringCase(declared, "UTF-16") || StartsIgnoringCase(declared, "UTF-32")) {
        parserEncoding = nullptr; // declared wide but written in 8 bits: the parser names the mismatch
    } else if (!declared.empty() && !EqualsIgnoringCase(declared, "UTF-8")) {
        s.encoding = declared;
    }
    if (!s.encoding.empty()) {
        s.converter = iconv_open("UTF-8", s.encoding.c_str());
        if (s.converter == iconv_t(-1))
            throw EXmlParseError(s.name + ": the encoding \"" + s.encoding + "\" is not supported");
    }
    s.parser = XML_ParserCreateNS(parserEncoding, '\x01');
    if (!s.parser)
        throw std::bad_alloc();
    XML_SetReturnNSTriplet(s.parser, XML_TRUE);
    XML_SetUserData(s.parser, &s);
    XML_SetElementHandler(s.parser, TState::OnStart, TState::OnEnd);
    XML_SetCharacterDataHandler(s.parser, TState::OnText);
    XML_SetDefaultHandlerExpand(s.parser, TState::OnOther); // keeps internal entities expanded
    XML_SetEntityDeclHandler(s.parser, TState::OnEntity);
    s.mode = s.encoding.empty() ? TState::TMode::Direct : TState::TMode::Converting;
}

void TXmlStream::Feed(const char* data, size_t size)
{
    TState& s = *state_;
    fed_ += size;
    if (s.mode == TState::TMode::Sniffing) {
        const size_t taken = std::min(size, kSniffBytes - s.sniffed.size());
        s.sniffed.append(data, taken);
        data += taken;
        size -= taken;
        if (s.sniffed.size() < kSniffBytes)
            return;
        Start();
        const std::string first = std::move(s.sniffed);
        s.sniffed.clear();
        if (s.mode == TState::TMode::Converting)
            Convert(first.data(), first.size(), false);
        else
            Parse(first.data(), first.size(), false);
    }
    if (s.mode == TState::TMode::Converting)
        Convert(data, size, false);
    else
        Parse(data, size, false);
}

void TXmlStream::Finish()
{
    TState& s = *state_;
    if (s.mode == TState::TMode::Sniffing) {
        Start();
        const std::string first = std::move(s.sniffed);
        if (s.mode == TState::TMode::Converting)
            Convert(first.data(), first.size(), true);
        else
            Parse(first.data(), first.size(), true);
        return;
    }
    if (s.mode == TState::TMode::Converting)
        Convert(nullptr, 0, true);
    else
        Parse(nullptr, 0, true);
}

void TXmlStream::Parse(const char* data, size_t size, bool last)
{
    TState& s = *state_;
    do {
        const size_t n = std::min(size, kParseChunk);
        const bool final = last && n == size;
        if (XML_Parse(s.parser, data, int(n), final) != XML_STATUS_OK) {
            if (s.failure)
                std::rethrow_exception(s.failure);
            RaiseParserError();
        }
        s.parsed += n;
        // A piece of markup is reported only once it is whole: one that
        // grows without end would grow the parser's buffer with it.
        if (s.parsed - s.lastEvent > s.bounds.MaxToken)
            throw EXmlParseError(s.name, "a single tag, comment or declaration longer than " +
                                             std::to_string(s.bounds.MaxToken >> 20) + " MB",
                                 size_t(XML_GetCurrentLineNumber(s.parser)),
                                 size_t(XML_GetCurrentColumnNumber(s.parser)) + 1, std::string());
        data += n;
        size -= n;
    } while (size > 0);
}

void TXmlStream::Convert(const char* data, size_t size, bool last)
{
    TState& s = *state_;
    std::string joined;
    if (!s.carry.empty()) {
        joined = std::move(s.carry);
        joined.append(data, size);
        s.carry.clear();
        data = joined.data();
        size = joined.size();
    }
    char out[kConvertChunk];
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    auto hand = [&](const char* begin, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (begin[i] == '\n') {
                ++s.convertedLine;
                s.convertedColumn = 1;
            } else if ((uint8_t(begin[i]) & 0xC0) != 0x80) {
                ++s.convertedColumn;
            }
        }
        Parse(begin, n, false);
    };
    while (inLeft > 0) {
        char* outPtr = out;
        size_t outLeft = sizeof out;
        const size_t rc = iconv(s.converter, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        hand(out, size_t(outPtr - out));
        if (rc != size_t(-1) || err == E2BIG)
            continue;
        if (err == EINVAL && !last) { // a character goes on in the next piece
            s.carry.assign(in, inLeft);
            return;
        }
        throw EXmlParseError(s.name, "bytes that are not a character of the encoding \"" + s.encoding + "\"",
                             s.convertedLine, s.convertedColumn,
                             XmlSnippet(std::string_view(in, inLeft), 0));
    }
    if (last)
        Parse(nullptr, 0, true);
}

void TXmlStream::RaiseParserError()
{
    TState& s = *state_;
    const std::string reason = XML_ErrorString(XML_GetErrorCode(s.parser));
    const size_t line = size_t(XML_GetCurrentLineNumber(s.parser));
    const size_t column = size_t(XML_GetCurrentColumnNumber(s.parser)) + 1;
    int offset = 0, size = 0;
    const char* context = XML_GetInputContext(s.parser, &offset, &size);
    std::string near;
    if (context && offset >= 0 && offset <= size)
        near = XmlSnippet(std::string_view(context, size_t(size)), size_t(offset));
    if (near.find_first_not_of(' ') == std::string::npos)
        near.clear();
    throw EXmlParseError(s.name, reason, line, column, near);
}

} // namespace quarvex
