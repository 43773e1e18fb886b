// A read-only XML DOM: load a document from a file, walk the elements of a
// tag name in document order, and read node names, values, parents and
// children. A document is accepted only when it is well-formed XML 1.0 with
// namespaces; no DTD or external entity is ever resolved, and references to
// entities a DTD declares stay in the text as written.
#pragma once

#include "platform/UErrors.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
} // namespace pugi

namespace quarvex {

// A document that is not well-formed XML, or whose declared encoding is
// unknown; the message names the file, the reason and the place. Line and
// column count from 1 (0 when the place is not known); Near is the start of
// the offending text as shown in the message.
class EXmlParseError : public EQuarvexError {
public:
    using EQuarvexError::EQuarvexError;
    EXmlParseError(const std::string& name, const std::string& reason, size_t line, size_t column,
                   const std::string& near);

    const std::string& Reason() const { return reason_; }
    size_t Line() const { return line_; }
    size_t Column() const { return column_; }
    const std::string& Near() const { return near_; }

private:
    std::string reason_;
    size_t line_ = 0;
    size_t column_ = 0;
    std::string near_;
};

// A node of a loaded document; a null node answers every query with
// nothing (empty name and value, null relatives).
class TDomNode {
public:
    TDomNode() = default;
    explicit TDomNode(pugi::xml_node_struct* node) : node_(node) {}
    explicit operator bool() const { return node_ != nullptr; }

    // The qualified tag name of an element; "#text", "#cdata-section",
    // "#comment" or "#document" for those nodes.
    std::string_view NodeName() const;
    // True for an element node.
    bool IsElement() const;
    // The text of a text, CDATA or comment node; empty for an element.
    std::string_view NodeValue() const;
    TDomNode ParentNode() const;
    TDomNode FirstChild() const;
    TDomNode NextSibling() const;
    // Calls visit(name, value) for each attribute of an element, in order.
    void ForEachAttribute(const std::function<void(std::string_view, std::string_view)>& visit) const;
    // The same node of the same document.
    bool operator==(const TDomNode& other) const = default;

private:
    // The text an element holds before its first child node is kept in the
    // element itself; such a node stands for that text.
    TDomNode(pugi::xml_node_struct* element, bool leadingText) : node_(element), leadingText_(leadingText) {}

    pugi::xml_node_struct* node_ = nullptr;
    bool leadingText_ = false;
};

class TDomDocument {
public:
    TDomDocument();
    ~TDomDocument();
    TDomDocument(const TDomDocument&) = delete;
    TDomDocument& operator=(const TDomDocument&) = delete;

    // Loads and parses the file; an empty path gives an empty document.
    // Raises EXmlParseError for a document that is not well-formed or has an
    // unknown encoding, and EQuarvexError naming the file when it cannot be
    // read or its tree would not fit in the memory available.
    void Load(const std::string& path);
    // Parses text held in memory; name stands for the file in messages.
    void LoadFromText(std::string text, const std::string& name = "text");
    // Releases the DOM; the document is then empty.
    void Release();

    // The number of elements with exactly this tag name.
    int CountElementsByTagName(std::string_view name);
    // Calls visit for every element with exactly this tag name, in document order.
    void ForEachElementByTagName(std::string_view name, const std::function<void(TDomNode)>& visit);

private:
    class TBuffer;
    // Checks, converts and parses buffer_ in place; name stands for the file.
    void Parse(const std::string& name);
    const std::vector<pugi::xml_node_struct*>* ElementsNamed(std::string_view name);

    std::unique_ptr<pugi::xml_document> doc_;
    std::unique_ptr<TBuffer> buffer_; // the document's bytes; the DOM points into them
    std::unordered_map<std::string_view, std::vector<pugi::xml_node_struct*>> byName_;
    bool indexed_ = false;
};

} // namespace quarvex
