#include "kml/UPlacemark.h"

#include <gtest/gtest.h>

using namespace quarvex;

namespace {
// The placemark name of every Point of the document, in order.
std::vector<std::string> PointNames(const std::string& body)
{
    TDomDocument doc;
    doc.LoadFromText("<kml xmlns:kml='http://www.opengis.net/kml/2.2'><Document>" + body + "</Document></kml>");
    TPlacemarkNames names;
    std::vector<std::string> out;
    doc.ForEachElementByTagName("Point", [&](TDomNode p) { out.push_back(names.PlacemarkName(p.ParentNode())); });
    return out;
}
} // namespace

TEST(UPlacemark, NameEdgeCases)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(PointNames("<Placemark><NaMe>Mixed</NaMe><Point/></Placemark>"), V{"Mixed"});
    EXPECT_EQ(PointNames("<Placemark><name>First</name><name>Second</name><Point/></Placemark>"), V{"First"});
    EXPECT_EQ(PointNames("<Placemark><name></name><Point/></Placemark><Placemark><Point/></Placemark>"), V({"", ""}));
    EXPECT_EQ(PointNames("<Placemark><name>A</name><MultiGeometry><Point/><Point/></MultiGeometry></Placemark>"),
              V({"A", "A"}));
    // A multi-geometry nested in another looks on the outer one, which has no name.
    EXPECT_EQ(PointNames("<Placemark><name>A</name><MultiGeometry><MultiGeometry><Point/></MultiGeometry>"
                         "</MultiGeometry></Placemark>"),
              V{""});
    EXPECT_EQ(PointNames("<Placemark><kml:name>P</kml:name><Point/></Placemark>"), V{""});
    EXPECT_EQ(PointNames("<Placemark><name><![CDATA[A & <B>]]></name><Point/></Placemark>"), V{"A & <B>"});
    EXPECT_EQ(PointNames("<Placemark><name>a<!--c-->b</name><Point/></Placemark>"), V{"a"});
    EXPECT_EQ(PointNames("<Placemark><name><b>bold</b></name><Point/></Placemark>"), V{""});
    EXPECT_EQ(PointNames("<Point/>"), V{""});
}

TEST(UPlacemark, ChildTextMatchesOnlyAsciiUpperCasing)
{
    EXPECT_TRUE(SameNameUpperCased("coordinates", "COORDINATES"));
    EXPECT_TRUE(SameNameUpperCased("CoOrDiNaTeS", "COORDINATES"));
    EXPECT_FALSE(SameNameUpperCased("kml:coordinates", "COORDINATES"));
    EXPECT_FALSE(SameNameUpperCased("n\xC3\xA1me", "N\xC3\x81ME"));
    TDomDocument doc;
    doc.LoadFromText("<Point><x/><Coordinates>1,2</Coordinates><coordinates>3,4</coordinates></Point>");
    doc.ForEachElementByTagName("Point", [&](TDomNode p) {
        EXPECT_EQ(ChildText(p, "COORDINATES"), "1,2");
        EXPECT_EQ(ChildText(p, "X"), "");
        EXPECT_EQ(ChildText(p, "NAME"), "");
    });
    EXPECT_EQ(ChildText(TDomNode(), "NAME"), "");
}

TEST(UPlacemark, CoordinatesAreAllTheirTextAndCdataWithoutComments)
{
    const struct {
        const char* inside;
        const char* text;
    } cases[] = {
        {"1,2 3,4", "1,2 3,4"},
        {"1,2 <!-- 9,9 --> 3,4", "1,2  3,4"},
        {"<!-- first -->1,2", "1,2"},
        {"1,2 <![CDATA[3,4]]> 5,6", "1,2 3,4 5,6"},
        {"1,2 <x>3,4 <y>5,6</y></x> 7,8", "1,2 3,4 5,6 7,8"},
        {"<!-- only a comment -->", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadFromText(std::string("<kml><Point><coordinates>") + c.inside + "</coordinates></Point></kml>");
        std::string scratch;
        doc.ForEachElementByTagName("Point", [&](TDomNode p) {
            EXPECT_EQ(ChildAllText(p, "COORDINATES", scratch), c.text) << c.inside;
        });
    }
    std::string scratch;
    EXPECT_EQ(ChildAllText(TDomNode(), "COORDINATES", scratch), "");
}
