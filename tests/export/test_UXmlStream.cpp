#include "export/UXmlStream.h"

#include <gtest/gtest.h>

using namespace quarvex;

namespace {

// The events as text: "<ns:local" for a start (ns K, G or O), ">" for an
// end, the text between them as it came (pieces joined).
class TTrace : public TXmlHandler {
public:
    std::string trace;
    void StartElement(const TXmlElement& e) override
    {
        trace += std::string("<") + "KGO"[int(e.Ns)] + ":" + std::string(e.Local);
        if (!e.Attribute("id").empty())
            trace += "#" + std::string(e.Attribute("id"));
    }
    void EndElement() override { trace += ">"; }
    void Text(std::string_view text) override { trace += text; }
};

// The trace of the document fed in pieces of piece bytes, or the error.
std::string Read(const std::string& doc, size_t piece, TXmlBounds bounds = {})
{
    TTrace handler;
    TXmlStream stream(handler, "d.kml", bounds);
    try {
        for (size_t at = 0; at < doc.size(); at += piece)
            stream.Feed(doc.data() + at, std::min(piece, doc.size() - at));
        stream.Finish();
    } catch (const EXmlParseError& e) {
        return std::string("error: ") + e.what();
    }
    return handler.trace;
}

// A Latin-1 text as UTF-16, little-endian, after a byte-order mark.
std::string Utf16Le(const std::string& latin1)
{
    std::string out = "\xFF\xFE";
    for (char c : latin1) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

TEST(UXmlStream, NamespacesEncodingsAndTextAsTheyCome)
{
    const struct {
        std::string doc;
        std::string trace;
    } cases[] = {
        {"<k:kml xmlns:k='http://www.opengis.net/kml/2.2'><k:Placemark id='p'/></k:kml>", "<K:kml<K:Placemark#p>>"},
        {"<kml><name>a</name></kml>", "<K:kml<K:namea>>"},
        {"<kml xmlns='http://earth.google.com/kml/2.1' xmlns:gx='http://www.google.com/kml/ext/2.2' "
         "xmlns:a='http://www.w3.org/2005/Atom'><gx:Track/><a:name/></kml>",
         "<K:kml<G:Track><O:name>>"},
        // An id in the KML namespace, as gx:CascadingStyle has it.
        {"<kml xmlns='http://www.opengis.net/kml/2.2' xmlns:k='http://www.opengis.net/kml/2.2'><S k:id='c'/></kml>",
         "<K:kml<K:S#c>>"},
        {"<kml>1,2 <!-- 9,9 -->3,4 <![CDATA[5,6]]></kml>", "<K:kml1,2 3,4 5,6>"},
        {"<!DOCTYPE kml [<!ENTITY e 'expanded'>]><kml>&e;&amp;</kml>", "<K:kmlexpanded&>"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><kml>caf\xE9</kml>", "<K:kmlcaf\xC3\xA9>"},
        {"<?xml version='1.0' encoding='windows-1252'?><kml>\x80</kml>", "<K:kml\xE2\x82\xAC>"},
        {Utf16Le("<kml>\xE9</kml>"), "<K:kml\xC3\xA9>"},
        {"\xEF\xBB\xBF<kml>\xE2\x82\xAC</kml>", "<K:kml\xE2\x82\xAC>"},
        {"<kml><a><b></a></kml>", "error: d.kml: mismatched tag at line 1, column 14, near \"a></kml>\""},
        {"<kml><a>", "error: d.kml: no element found at line 1, column 9, where the document ends: the document is "
                     "cut short"},
        {"<kml>\xC3</kml>", "error: d.kml: not well-formed (invalid token) at line 1, column 6, near \"\\xC3</kml>\""},
        {"<kml>&nope;</kml>", "error: d.kml: undefined entity at line 1, column 6, near \"&nope;</kml>\""},
        {"<!DOCTYPE kml [<!ENTITY a '&a;'>]><kml>&a;</kml>",
         "error: d.kml: recursive entity reference at line 1, column 40, near \"&a;</kml>\""},
        {"<?xml version='1.0' encoding='x-nothing'?><kml/>", "error: d.kml: the encoding \"x-nothing\" is not supported"},
        {"<?xml version='1.0' encoding='US-ASCII'?>\n<kml>\n\xE9</kml>",
         "error: d.kml: bytes that are not a character of the encoding \"US-ASCII\" at line 3, column 1, near "
         "\"\\xE9</kml>\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.doc, c.doc.size()), c.trace) << c.doc;
        EXPECT_EQ(Read(c.doc, 1), c.trace) << "byte by byte: " << c.doc;
    }
}

TEST(UXmlStream, BoundsKeepHostileDocumentsSmall)
{
    std::string deep;
    for (int i = 0; i <= TXmlBounds().MaxDepth; ++i)
        deep += "<a>";
    EXPECT_EQ(Read(deep, 4096).substr(0, 57), "error: d.kml: elements nested deeper than 10000 levels at");

    // Bounds of 1 MB here, so that the test is quick: one comment longer
    // than that, fed as it would be read, is not taken whole.
    TXmlBounds small;
    small.MaxToken = small.MaxEntityText = uint64_t(1) << 20;
    TTrace handler;
    TXmlStream stream(handler, "d.kml", small);
    const std::string start = "<kml><!--";
    stream.Feed(start.data(), start.size());
    const std::string piece(64 << 10, 'x');
    std::string error;
    try {
        for (uint64_t fed = 0; fed <= small.MaxToken + piece.size(); fed += piece.size())
            stream.Feed(piece.data(), piece.size());
    } catch (const EXmlParseError& e) {
        error = e.what();
    }
    EXPECT_EQ(error.substr(0, 64), "d.kml: a single tag, comment or declaration longer than 1 MB at ");

    const std::string entities = "<!DOCTYPE kml [<!ENTITY a '" + std::string(600 << 10, 'a') + "'><!ENTITY b '" +
                                 std::string(600 << 10, 'b') + "'>]><kml/>";
    EXPECT_EQ(Read(entities, 64 << 10, small).substr(0, 69),
              "error: d.kml: the entity declarations hold more than 1 MB of text at ");
}

TEST(UXmlStream, AHandlersErrorPassesOnUnchanged)
{
    struct TThrows : TTrace {
        void Text(std::string_view) override { throw std::runtime_error("disk full"); }
    } handler;
    TXmlStream stream(handler, "d.kml");
    const std::string doc = "<kml>text</kml>";
    EXPECT_THROW(
        {
            stream.Feed(doc.data(), doc.size());
            stream.Finish();
        },
        std::runtime_error);
}
