// A KML document read as a stream of parse events through expat: bytes go
// in as they come (from a file, a pipe, an archive entry being inflated),
// elements and text come out, and nothing of the document is kept. The
// document must be well-formed XML 1.0 with namespaces in its declared
// encoding, as for the conversion job; a fault found partway raises
// EXmlParseError with the line and column.
#pragma once

#include "platform/UKmlDom.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace quarvex {

// The namespaces the export reads: KML (2.0 to 2.3, or no namespace at all)
// and Google's extensions; everything else is Other.
enum class TXmlNs : uint8_t { Kml, Gx, Other };

// One element as the parser reports it.
struct TXmlElement {
    TXmlNs Ns = TXmlNs::Other;
    std::string_view Local;       // the local name
    std::string_view Prefix;      // as written; empty for the default namespace
    const char* const* Attributes = nullptr; // expat's name/value pairs, null-terminated

    // The value of the attribute of this local name without a namespace,
    // else of the first one of that local name in a namespace; empty when
    // there is none.
    std::string_view Attribute(std::string_view local) const;
    // The qualified name as written, prefix:local.
    std::string QualifiedName() const;
    // Calls visit(qualified name, value) for each attribute, in order.
    template <class F>
    void ForEachAttribute(F visit) const;
};

// Receives the events. The views live for the duration of the call.
class TXmlHandler {
public:
    virtual ~TXmlHandler() = default;
    virtual void StartElement(const TXmlElement& element) = 0;
    virtual void EndElement() = 0;
    // Text and CDATA, in pieces of any length; comments are not reported.
    virtual void Text(std::string_view text) = 0;
};

// Bounds that keep hostile documents from taking memory without end.
struct TXmlBounds {
    int MaxDepth = 10000;                           // levels of nested elements
    uint64_t MaxToken = uint64_t(64) << 20;         // one tag, comment or declaration
    uint64_t MaxEntityText = uint64_t(16) << 20;    // all entity declarations together
};

class TXmlStream {
public:
    // name stands for the document in messages.
    TXmlStream(TXmlHandler& handler, std::string name, TXmlBounds bounds = {});
    ~TXmlStream();
    TXmlStream(const TXmlStream&) = delete;
    TXmlStream& operator=(const TXmlStream&) = delete;

    // Parses the next bytes of the document. Raises EXmlParseError for a
    // document that is not well-formed or whose encoding is unknown; an
    // exception raised by the handler passes on unchanged.
    void Feed(const char* data, size_t size);
    // The end of the document: raises when it is cut short.
    void Finish();

    // Bytes given to Feed so far.
    uint64_t BytesFed() const { return fed_; }

private:
    struct TState;
    void Start();
    void Parse(const char* data, size_t size, bool last);
    void Convert(const char* data, size_t size, bool last);
    [[noreturn]] void RaiseParserError();

    std::unique_ptr<TState> state_;
    uint64_t fed_ = 0;
};


// The parts of a name as expat gives it with namespaces on: "local",
// "uri\1local" or "uri\1local\1prefix".
struct TExpatName {
    std::string_view Uri, Local, Prefix;
    bool HasUri = false;
};
TExpatName SplitExpatName(std::string_view raw);

template <class F>
void TXmlElement::ForEachAttribute(F visit) const
{
    for (const char* const* a = Attributes; a && a[0]; a += 2) {
        const TExpatName name = SplitExpatName(a[0]);
        std::string qualified(name.Prefix);
        if (!qualified.empty())
            qualified += ':';
        qualified.append(name.Local);
        visit(qualified, std::string_view(a[1]));
    }
}

} // namespace quarvex
