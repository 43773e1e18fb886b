// A read-only XML DOM over pugixml: load a document from a file, walk the
// elements of a tag name in document order, and read node names, values,
// parents and children. No DTD or external entity is ever resolved.
#pragma once

#include "platform/UErrors.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace pugi {
struct xml_node_struct;
class xml_document;
} // namespace pugi

namespace quarvex {

// A document that is not well-formed XML, or whose declared encoding is
// unknown; the message names the file, the reason and the place.
class EXmlParseError : public EQuarvexError {
public:
    using EQuarvexError::EQuarvexError;
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

private:
    pugi::xml_node_struct* node_ = nullptr;
};

class TDomDocument {
public:
    TDomDocument();
    ~TDomDocument();
    TDomDocument(const TDomDocument&) = delete;
    TDomDocument& operator=(const TDomDocument&) = delete;

    // Loads and parses the file; an empty path gives an empty document.
    // Raises EXmlParseError for a document that is not well-formed or has an
    // unknown encoding, and EQuarvexError naming the file when it cannot be read.
    void Load(const std::string& path);
    // Parses text held in memory; name stands for the file in messages.
    void LoadFromText(std::string text, const std::string& name = "text");
    // Releases the DOM; the document is then empty.
    void Release();

    // The number of elements with exactly this tag name.
    int CountElementsByTagName(std::string_view name);
    // Calls visit for every element with exactly this tag name, in document order.
    void ForEachElementByTagName(std::string_view name, const std::function<void(TDomNode)>& visit) const;

private:
    // Parses text_ in place; original gives the unparsed text back for the
    // error message, since parsing in place overwrites the buffer.
    void Parse(const std::string& name, const std::function<std::string()>& original);

    std::unique_ptr<pugi::xml_document> doc_;
    std::string text_; // the document's bytes; the DOM points into them
    std::unordered_map<std::string_view, int> census_;
    bool censusDone_ = false;
};

} // namespace quarvex
