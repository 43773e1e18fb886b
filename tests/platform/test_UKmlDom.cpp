#include "platform/UKmlDom.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarvex;

namespace {
std::vector<std::string> NamesInOrder(TDomDocument& doc, const char* tag)
{
    std::vector<std::string> out;
    doc.ForEachElementByTagName(tag, [&](TDomNode n) {
        out.push_back(std::string(n.FirstChild().NodeName()) + "=" + std::string(n.FirstChild().NodeValue()));
    });
    return out;
}

std::string ParseError(const std::string& text)
{
    TDomDocument doc;
    try {
        doc.LoadFromText(text, "t.kml");
    } catch (const EXmlParseError& e) {
        return e.what();
    }
    return "no error";
}
} // namespace

TEST(UKmlDom, WalksElementsInDocumentOrderWithQualifiedNames)
{
    TDomDocument doc;
    doc.LoadFromText("<a xmlns:x='urn:x'><b>1</b><c><b>2</b><x:b>no</x:b></c>  <b><![CDATA[3 & <4>]]></b>"
                     "<b><!--c-->t</b><B>no</B></a>");
    EXPECT_EQ(doc.CountElementsByTagName("b"), 4);
    EXPECT_EQ(doc.CountElementsByTagName("x:b"), 1);
    EXPECT_EQ(doc.CountElementsByTagName("B"), 1);
    EXPECT_EQ(doc.CountElementsByTagName("none"), 0);
    EXPECT_EQ(NamesInOrder(doc, "b"),
              (std::vector<std::string>{"#text=1", "#text=2", "#cdata-section=3 & <4>", "#comment=c"}));
    // White-space-only text is dropped: c's next sibling is the element itself.
    int seen = 0;
    doc.ForEachElementByTagName("c", [&](TDomNode c) {
        ++seen;
        EXPECT_EQ(c.NextSibling().NodeName(), "b");
        EXPECT_EQ(c.ParentNode().NodeName(), "a");
        EXPECT_EQ(c.ParentNode().ParentNode().NodeName(), "#document");
        EXPECT_FALSE(c.ParentNode().ParentNode().ParentNode());
        EXPECT_EQ(c.NodeValue(), "");
    });
    EXPECT_EQ(seen, 1);
}

TEST(UKmlDom, EmptyPathGivesAnEmptyDocumentAndReleaseEmptiesIt)
{
    TDomDocument doc;
    doc.Load("");
    EXPECT_EQ(doc.CountElementsByTagName("Point"), 0);
    doc.LoadFromText("<kml><Point/></kml>");
    EXPECT_EQ(doc.CountElementsByTagName("Point"), 1);
    doc.Release();
    EXPECT_EQ(doc.CountElementsByTagName("Point"), 0);
    EXPECT_THROW(doc.Load("/nonexistent/file.kml"), EQuarvexError);
}

TEST(UKmlDom, MalformedDocumentsRaiseWithReasonAndPlace)
{
    EXPECT_EQ(ParseError("<kml>\n  <Document>\n    <Placemark></Document>\n</kml>"),
              "t.kml: mismatched tag at line 3, column 18, near \"Document>\"");
    EXPECT_EQ(ParseError("<kml>\n<Point>"), "t.kml: no element found at line 2, column 8, where the document ends: the document is cut short");
    EXPECT_EQ(ParseError(""), "t.kml: no element found at line 1, column 1, where the document ends: the document is empty");
    EXPECT_NE(ParseError("<a x='1' x='2'><b <c></a>").find("t.kml: "), std::string::npos);
    EXPECT_EQ(ParseError("<?xml version='1.0' encoding='X-NO-SUCH'?><a/>"),
              "t.kml: the encoding \"X-NO-SUCH\" is not supported");
}

TEST(UKmlDom, DeclaredEightBitEncodingsAreConvertedAndEntitiesStayUnresolved)
{
    TDomDocument doc;
    doc.LoadFromText("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a><name>Caf\xE9 &amp; M\xFCller</name></a>");
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=Caf\xC3\xA9 & M\xC3\xBCller"}));
    doc.LoadFromText("<?xml version='1.0' encoding='windows-1252'?><a><name>\x80</name></a>");
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=\xE2\x82\xAC"}));
    doc.LoadFromText("\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><a><name>\xC3\xA9</name></a>");
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=\xC3\xA9"}));
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<a><name>x</name></a>"))
        utf16 += std::string{c, '\0'};
    doc.LoadFromText(utf16);
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=x"}));
    // An external entity is never fetched and a DTD entity never expanded.
    doc.LoadFromText("<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\"><!ENTITY l \"lol\">]>"
                     "<a><name>&e;&l;</name></a>");
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=&e;&l;"}));
    doc.LoadFromText("<!DOCTYPE a [<!ENTITY ok \"<b>x</b>\"><!ENTITY two \"&ok;&ok;\">]><a><name>&two;</name></a>");
    EXPECT_EQ(NamesInOrder(doc, "name"), (std::vector<std::string>{"#text=&two;"}));
    // Entities that would grow without bound are refused by expat's own limit.
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lollollollol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><a>&l9;</a>";
    try {
        doc.LoadFromText(laughs, "t.kml");
        ADD_FAILURE() << "not refused";
    } catch (const EXmlParseError& e) {
        EXPECT_EQ(e.Reason(), "limit on input amplification factor (from DTD and entities) breached");
    }
}

TEST(UKmlDom, DeepNestingNeitherCrashesNorRecurses)
{
    std::string text;
    const int depth = 200000;
    for (int i = 0; i < depth; ++i)
        text += "<g>";
    text += "<Point/>";
    for (int i = 0; i < depth; ++i)
        text += "</g>";
    TDomDocument doc;
    doc.LoadFromText(text);
    EXPECT_EQ(doc.CountElementsByTagName("g"), depth);
    int points = 0;
    doc.ForEachElementByTagName("Point", [&](TDomNode) { ++points; });
    EXPECT_EQ(points, 1);
}

TEST(UKmlDom, DocumentsThatAreNotWellFormedAreRefusedWithReasonAndPlace)
{
    struct Row {
        std::string text;
        const char* message; // after "t.kml: "
    };
    const Row rows[] = {
        {"<kml/>\n<kml/>", "junk after document element at line 2, column 1, near \"<kml/>\""},
        {"text<kml/>", "not well-formed (invalid token) at line 1, column 5, near \"<kml/>\""},
        {"<kml>a & b</kml>", "not well-formed (invalid token) at line 1, column 9, near \" b</kml>\""},
        {"<kml>&foo;</kml>", "undefined entity at line 1, column 6, near \"&foo;</kml>\""},
        {"<kml a='1' a='2'/>", "duplicate attribute at line 1, column 12, near \"a='2'/>\""},
        {"<kml>\n  <gx:Track/>\n</kml>", "unbound prefix at line 2, column 3, near \"<gx:Track/>\""},
        {"<kml><name>Caf\xE9</name></kml>", "not well-formed (invalid token) at line 1, column 15, near \"\\xE9</name></kml>\""},
        {"<?xml version='1.0' encoding='UTF-8'?>\n<kml><name>\xC3\x28</name></kml>",
         "not well-formed (invalid token) at line 2, column 12, near \"\\xC3(</name></kml>\""},
        {"<kml>\xED\xA0\x80</kml>", "not well-formed (invalid token) at line 1, column 6, near \"\\xED\\xA0\\x80</kml>\""},
        {"<kml>&#1;</kml>", "reference to invalid character number at line 1, column 6, near \"&#1;</kml>\""},
        {"<kml>\x01</kml>", "not well-formed (invalid token) at line 1, column 6, near \"\\x01</kml>\""},
        {"<kml a='<'/>", "not well-formed (invalid token) at line 1, column 9, near \"<'/>\""},
        {"<kml><!-- a -- b --></kml>", "not well-formed (invalid token) at line 1, column 15, near \" b --></kml>\""},
        {"<kml>]]></kml>", "not well-formed (invalid token) at line 1, column 8, near \"></kml>\""},
        {"<kml xmlns:a='u' xmlns:b='u' a:x='1' b:x='2'/>", "duplicate attribute at line 1, column 1, near \"<kml xmlns:a='u' xmlns:b='u' a:x='1' b:x\""},
        {"<?xml version='1.0' encoding='windows-1252'?><kml>\x81</kml>",
         "bytes that are not a character of the encoding \"windows-1252\" at line 1, column 51, near \"\\x81</kml>\""},
        {"<?xml version='1.0' encoding='UTF-16'?><kml/>",
         "encoding specified in XML declaration is incorrect at line 1, column 31, near \"UTF-16'?><kml/>\""},
        {"<kml>\n<Document>\n</kml>", "mismatched tag at line 3, column 3, near \"kml>\""},
        // Declared entities that are not well-formed, found where they are used.
        {"<!DOCTYPE a [<!ENTITY r \"x&r;\">]><a>&r;</a>", "recursive entity reference at line 1, column 37, near \"&r;</a>\""},
        {"<!DOCTYPE a [<!ENTITY r \"&s;\"><!ENTITY s \"&r;\">]>\n<a>&r;</a>",
         "recursive entity reference at line 2, column 4, near \"&r;</a>\""},
        {"<!DOCTYPE a [<!ENTITY u \"<b>\">]><a>&u;</a>", "asynchronous entity at line 1, column 36, near \"&u;</a>\""},
        {"<!DOCTYPE a [<!ENTITY u \"</a><a>\">]><a>&u;</a>", "asynchronous entity at line 1, column 40, near \"&u;</a>\""},
        {"<!DOCTYPE a [<!ENTITY d \"&nope;\">]><a>&d;</a>", "undefined entity at line 1, column 39, near \"&d;</a>\""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ParseError(row.text), std::string("t.kml: ") + row.message) << row.text;
    }
    // The parts of the message are kept apart too.
    TDomDocument doc;
    try {
        doc.LoadFromText("<kml>\n  <gx:Track/>\n</kml>", "t.kml");
        FAIL() << "no error";
    } catch (const EXmlParseError& e) {
        EXPECT_EQ(e.Reason(), "unbound prefix");
        EXPECT_EQ(e.Line(), 2u);
        EXPECT_EQ(e.Column(), 3u);
        EXPECT_EQ(e.Near(), "<gx:Track/>");
    }
    EXPECT_EQ(doc.CountElementsByTagName("kml"), 0); // nothing of it is kept
}

TEST(UKmlDom, LeadingTextOfAnElementIsItsFirstChild)
{
    TDomDocument doc;
    doc.LoadFromText("<a><b>t<!--c-->u<i/>v</b><b><!--c-->w</b><b>x<![CDATA[y]]></b><b/></a>");
    std::vector<std::string> children;
    doc.ForEachElementByTagName("b", [&](TDomNode b) {
        std::string line;
        for (TDomNode c = b.FirstChild(); c; c = c.NextSibling()) {
            line += std::string(c.NodeName()) + "=" + std::string(c.NodeValue()) + (c.IsElement() ? "(e)" : "") + " ";
            EXPECT_EQ(c.ParentNode().NodeName(), "b");
            EXPECT_FALSE(c.FirstChild() && !c.IsElement());
        }
        children.push_back(line);
    });
    EXPECT_EQ(children, (std::vector<std::string>{"#text=t #comment=c #text=u i=(e) #text=v ", "#comment=c #text=w ",
                                                  "#text=x #cdata-section=y ", ""}));
}
