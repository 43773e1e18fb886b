#include "platform/UXmlCheck.h"

#include <gtest/gtest.h>

#include <expat.h>

using namespace quarvex;

namespace {
bool ExpatAccepts(const std::string& text)
{
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '\x01');
    const bool ok = XML_Parse(parser, text.data(), int(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}
} // namespace

TEST(UXmlCheck, ProvesOnlyWhatTheFullParserAccepts)
{
    struct Row {
        const char* text;
        bool proven;
    };
    const Row rows[] = {
        // Proven: the documents most files are.
        {"<kml/>", true},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes'?>\r\n<kml>\r\n</kml>\r\n", true},
        {"<?xml version='1.0'?><!-- c --><?pi data?><kml xmlns='http://www.opengis.net/kml/2.2' "
         "xmlns:gx=\"http://www.google.com/kml/ext/2.2\"><gx:Track a='1' gx:b=\"&lt;&#x41;&#66;\"/></kml> <!--e-->",
         true},
        {"<a>-1.5,2e3 \xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80 &amp;&gt;&apos;&quot; ] ]> <![CDATA[<&]]]></a>", true},
        {"<a xml:lang='en'><b xmlns:p='u'/><p:c xmlns:p='v' p:d='1' d='2'/></a>", true},
        {"<a\n  x = '1'\n  y=\"2\" ></a >", true},
        {"<a><!----><?t?></a>", true},
        // Not well-formed: never proven.
        {"", false},
        {"<a/><b/>", false},
        {"x<a/>", false},
        {"<a/>x", false},
        {"<a>&</a>", false},
        {"<a>&foo;</a>", false},
        {"<a>&#0;</a>", false},
        {"<a>&#xD800;</a>", false},
        {"<a>&#x110000;</a>", false},
        {"<a>\x01</a>", false},
        {"<a>\xC3</a>", false},
        {"<a>\xC0\xAF</a>", false},
        {"<a>\xEF\xBF\xBE</a>", false},
        {"<a>]]></a>", false},
        {"<a x='1' x='2'/>", false},
        {"<a x='1'y='2'/>", false},
        {"<a x='<'/>", false},
        {"<a x=1/>", false},
        {"<p:a/>", false},
        {"<a p:x='1'/>", false},
        {"<a><p:b xmlns:p='u'/><p:c/></a>", false},
        {"<a></b>", false},
        {"<a>", false},
        {"<a><!-- -- --></a>", false},
        {"<a><!-- ---></a>", false},
        {"<a><?xml version='1.0'?></a>", false},
        {" <?xml version='1.0'?><a/>", false},
        {"<?xml version='1.0' encoding='UTF-8' version='1.0'?><a/>", false},
        {"<?xml encoding='UTF-8'?><a/>", false},
        {"<a:b:c/>", false},
        {"<:a/>", false},
        {"<a xmlns:p=''/>", false},
        {"<a xmlns:xmlns='u'/>", false},
        // Well-formed, but left to the full parser.
        {"<!DOCTYPE a><a/>", false},
        {"<?xml version='1.1'?><a/>", false},
        {"<caf\xC3\xA9/>", false},
        {"<a xmlns:p='u' xmlns:q='v' p:x='1' q:x='2'/>", false},
        {"<a>&#0000000065;</a>", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IsPlainWellFormedXml(row.text), row.proven) << row.text;
        if (row.proven) {
            EXPECT_TRUE(ExpatAccepts(row.text)) << row.text;
        }
    }
    EXPECT_TRUE(ExpatAccepts("<!DOCTYPE a><a/>"));
    EXPECT_TRUE(ExpatAccepts("<caf\xC3\xA9/>"));
    // Many attributes on one element, or many prefixes in scope, are left to
    // the parser; a few are still proven.
    auto attributes = [](int n) {
        std::string text = "<a";
        for (int i = 0; i < n; ++i)
            text += " x" + std::to_string(i) + "='1'";
        return text + "/>";
    };
    auto prefixes = [](int n) {
        std::string open, close;
        for (int i = 0; i < n; ++i) {
            open += "<p" + std::to_string(i) + ":e xmlns:p" + std::to_string(i) + "='u'>";
            close = "</p" + std::to_string(i) + ":e>" + close;
        }
        return open + close;
    };
    for (const auto& [text, proven] : {std::pair{attributes(20), true}, std::pair{attributes(2000), false},
                                       std::pair{prefixes(20), true}, std::pair{prefixes(2000), false}}) {
        EXPECT_EQ(IsPlainWellFormedXml(text), proven) << text.substr(0, 40);
        EXPECT_TRUE(ExpatAccepts(text)) << text.substr(0, 40);
    }
}
