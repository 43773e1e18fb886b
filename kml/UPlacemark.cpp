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
