#include "kml/UPlacemark.h"

namespace quarvex {

bool SameNameUpperCased(std::string_view name, std::string_view upperName)
{
    if (name.size() != upperName.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != upperName[i])
            return false;
    }
    return true;
}

std::string_view ChildText(TDomNode node, std::string_view upperName)
{
    for (TDomNode child = node.FirstChild(); child; child = child.NextSibling())
        if (SameNameUpperCased(child.NodeName(), upperName))
            return child.FirstChild().NodeValue();
    return {};
}

std::string_view ChildAllText(TDomNode node, std::string_view upperName, std::string& scratch)
{
    TDomNode element;
    for (TDomNode child = node.FirstChild(); child && !element; child = child.NextSibling())
        if (SameNameUpperCased(child.NodeName(), upperName))
            element = child;
    const TDomNode first = element.FirstChild();
    if (!first.NextSibling() && !first.IsElement() && first.NodeName() != "#comment")
        return first.NodeValue(); // the usual case: one text, nothing to join
    scratch.clear();
    // Walked without recursion, so that deep nesting cannot exhaust the stack.
    TDomNode at = first;
    while (at) {
        const std::string_view name = at.NodeName();
        if (name == "#text" || name == "#cdata-section")
            scratch.append(at.NodeValue());
        if (at.IsElement() && at.FirstChild()) {
            at = at.FirstChild();
            continue;
        }
        while (at && !at.NextSibling()) {
            at = at.ParentNode();
            if (at == element)
                return scratch;
        }
        if (at)
            at = at.NextSibling();
    }
    return scratch;
}

TDomNode FirstChildElement(TDomNode node)
{
    TDomNode child = node.FirstChild();
    while (child && !child.IsElement())
        child = child.NextSibling();
    return child;
}

const std::string& TPlacemarkNames::PlacemarkName(TDomNode holder)
{
    if (SameNameUpperCased(holder.NodeName(), "MULTIGEOMETRY"))
        holder = holder.ParentNode();
    if (holder && holder == holder_)
        return current_;
    holder_ = holder;
    current_.assign(ChildText(holder, "NAME"));
    return current_;
}

} // namespace quarvex
