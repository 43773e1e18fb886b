#include "export/UKmlReader.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace quarvex;

namespace {

struct TRead {
    std::vector<std::string> features; // "class parts | KEY=value ..."
    std::vector<std::string> links;    // "href > folder"
    TReadCounts counts;
};

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// Reads a KML body (inside <Document>) fed in pieces of piece bytes.
TRead Read(const std::string& body, size_t piece = 1 << 20, const std::string& linkFolder = "")
{
    TRead r;
    TFieldRegistry fields;
    TKmlReader reader(
        fields, r.counts, linkFolder, true,
        [&](const TKmlFeature& f) {
            std::string text(1, "PLA"[int(f.Class)]);
            for (size_t i = 0; i < f.PartCount; ++i) {
                text += i == 0 ? " " : " / ";
                if (i == 0 && f.Class == TFeatureClass::Polygon && !f.HasOuter)
                    text += "no outer";
                for (size_t k = 0; k < (*f.Parts)[i].Points.size(); ++k)
                    text += (k ? "," : "") + Number((*f.Parts)[i].Points[k].X) + " " +
                            Number((*f.Parts)[i].Points[k].Y);
            }
            text += " |";
            for (const auto* values : {f.Shared, f.Own})
                for (const TFieldValue& v : *values)
                    text += " " + fields.Info(v.Field).KmlName + "=" + v.Value;
            r.features.push_back(text);
        },
        [&](const TKmlLink& link) { r.links.push_back(link.Href + " > " + link.Folder); });
    TXmlStream stream(reader, "t.kml");
    const std::string doc = "<kml xmlns='http://www.opengis.net/kml/2.2' xmlns:gx='http://www.google.com/kml/ext/2.2' "
                            "xmlns:x='urn:private'><Document>" +
                            body + "</Document></kml>";
    for (size_t at = 0; at < doc.size(); at += piece)
        stream.Feed(doc.data() + at, std::min(piece, doc.size() - at));
    stream.Finish();
    return r;
}

using V = std::vector<std::string>;

} // namespace

TEST(UKmlReader, GeometriesOfEveryKind)
{
    const struct {
        std::string body;
        V features;
    } cases[] = {
        {"<Placemark><Point><coordinates>1,2,3 4,5</coordinates></Point></Placemark>", {"P 1 2 |"}},
        // A comment and CDATA inside the coordinates; a fourth field is passed over.
        {"<Placemark><LineString><coordinates>0,0 <!-- 8,8 --> 1,1 <![CDATA[2,2]]> 3,3,0,9</coordinates>"
         "</LineString></Placemark>",
         {"L 0 0,1 1,2 2,3 3 |"}},
        {"<Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 1,0 1,1</coordinates></LinearRing>"
         "</outerBoundaryIs><innerBoundaryIs><LinearRing><coordinates>5,5</coordinates></LinearRing>"
         "<LinearRing><coordinates>6,6</coordinates></LinearRing></innerBoundaryIs>"
         "<outerBoundaryIs><LinearRing><coordinates>9,9</coordinates></LinearRing></outerBoundaryIs>"
         "</Polygon></Placemark>",
         {"A 0 0,1 0,1 1 / 5 5 / 6 6 |"}},
        {"<Placemark><Polygon><innerBoundaryIs><LinearRing><coordinates>5,5</coordinates></LinearRing>"
         "</innerBoundaryIs></Polygon></Placemark>",
         {"A no outer / 5 5 |"}},
        // MultiGeometry at any depth, and the older Multi* containers; a
        // ring on its own is a closed path.
        {"<Placemark><MultiGeometry><Point><coordinates>1,1</coordinates></Point><MultiGeometry><LinearRing>"
         "<coordinates>0,0 1,0 0,1 0,0</coordinates></LinearRing></MultiGeometry></MultiGeometry>"
         "<MultiPoint><Point><coordinates>2,2</coordinates></Point></MultiPoint></Placemark>",
         {"P 1 1 |", "L 0 0,1 0,0 1,0 0 |", "P 2 2 |"}},
        {"<Placemark><gx:Track><gx:altitudeMode>absolute</gx:altitudeMode><when>2020</when><gx:coord>1 2 3</gx:coord>"
         "<gx:coord>bad</gx:coord><gx:coord>4 5</gx:coord><gx:coord>6 7 8 9</gx:coord></gx:Track></Placemark>",
         {"L 1 2,4 5,6 7 | ALTMODE=absolute"}},
        {"<Placemark><gx:MultiTrack><gx:Track><altitudeMode>clampToGround</altitudeMode><gx:coord>0 0</gx:coord>"
         "<gx:coord>1 0</gx:coord></gx:Track><gx:Track><gx:coord>5 5</gx:coord></gx:Track></gx:MultiTrack>"
         "</Placemark>",
         {"L 0 0,1 0 / 5 5 | ALTMODE=clampToGround"}},
        // A ground overlay's box turned by 90 degrees about its centre, and a quad.
        {"<GroundOverlay><name>O</name><Icon><href>i.png</href></Icon><LatLonBox><north>2</north><south>0</south>"
         "<east>4</east><west>0</west><rotation>90</rotation></LatLonBox></GroundOverlay>"
         "<GroundOverlay><gx:LatLonQuad><coordinates>0,0 1,0 1,1 0,1</coordinates></gx:LatLonQuad></GroundOverlay>",
         {"A 3 -1,3 3,1 3,1 -1 | NAME=O ICON=i.png", "A 0 0,1 0,1 1,0 1 |"}},
        {"<PhotoOverlay><name>Ph</name><Camera><longitude>9</longitude></Camera><Point><coordinates>7,8</coordinates>"
         "</Point></PhotoOverlay>",
         {"P 7 8 | NAME=Ph"}},
        // What is no geometry of a placemark is passed over.
        {"<Placemark><x:Point><coordinates>1,1</coordinates></x:Point><Model><Location><longitude>1</longitude>"
         "</Location></Model></Placemark><Point><coordinates>3,3</coordinates></Point>"
         "<NetworkLinkControl><Update><Create><Document><Placemark><Point><coordinates>4,4</coordinates></Point>"
         "</Placemark></Document></Create></Update></NetworkLinkControl>",
         {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.body).features, c.features) << c.body;
        EXPECT_EQ(Read(c.body, 3).features, c.features) << "in pieces: " << c.body;
    }
    EXPECT_EQ(Read("<Placemark><name>none</name></Placemark><GroundOverlay/>").counts.WithoutGeometry, 2);
    EXPECT_EQ(Read("<Placemark><gx:Track><gx:coord>bad</gx:coord></gx:Track></Placemark>").counts.SkippedTuples, 1);
}

TEST(UKmlReader, ValuesFoldersAndLinks)
{
    const std::string body =
        "<Folder><name>A</name><Folder><name><![CDATA[B]]></name>"
        "<Placemark><description>x <b class=\"c&amp;\">y</b><br/> </description><Point><extrude>1</extrude>"
        "<altitudeMode>relativeToGround</altitudeMode><coordinates>1,1</coordinates></Point>"
        "<name>late</name><visibility>0</visibility><TimeSpan><begin>2001</begin><end>2002</end></TimeSpan>"
        "</Placemark></Folder>"
        "<NetworkLink><name>L</name><Link><href> sub/a.kml </href></Link></NetworkLink></Folder>"
        "<Folder><Placemark><TimeStamp><when>2020-01-01</when></TimeStamp><LineString><tessellate>true</tessellate>"
        "<coordinates>0,0 1,1</coordinates></LineString></Placemark></Folder>"
        "<NetworkLink><Url><href>old.kml</href></Url></NetworkLink>";
    const TRead r = Read(body, 7, "Top");
    EXPECT_EQ(r.features,
              V({"P 1 1 | DESCRIPT=x <b class=\"c&amp;\">y</b><br/> NAME=late VISIBLE=0 BEGIN=2001 END=2002 "
                 "FOLDER=Top/A/B EXTRUDE=1 ALTMODE=relativeToGround",
                 "L 0 0,1 1 | TIMESTAMP=2020-01-01 FOLDER=Top TESSELLATE=true"}));
    EXPECT_EQ(r.links, V({"sub/a.kml > Top/A/L", "old.kml > Top"}));
}

TEST(UKmlReader, StylesAndExtendedData)
{
    const std::string shared =
        "<Style id='base'><IconStyle><color>ff0000ff</color><scale>1.5</scale><Icon><href>pin.png</href></Icon>"
        "</IconStyle><LineStyle><color>7f00ff00</color><width>3</width></LineStyle>"
        "<PolyStyle><color>40ff0000</color><fill>0</fill><outline>true</outline></PolyStyle></Style>"
        "<StyleMap id='map'><Pair><key>highlight</key><styleUrl>#none</styleUrl></Pair>"
        "<Pair><key>normal</key><styleUrl>#base</styleUrl></Pair></StyleMap>"
        "<StyleMap id='map2'><Pair><key>normal</key><Style><LineStyle><width>7</width></LineStyle></Style>"
        "</Pair></StyleMap>"
        "<gx:CascadingStyle xmlns:k='http://www.opengis.net/kml/2.2' k:id='cs'><Style><IconStyle><scale>4</scale>"
        "</IconStyle></Style></gx:CascadingStyle>"
        "<Schema name='S' id='sid'><SimpleField name='n' type='int'/><SimpleField name='r' type='double'/>"
        "</Schema>";
    const struct {
        std::string placemark;
        std::string values;
    } cases[] = {
        {"<styleUrl>#map</styleUrl><Style><IconStyle><scale>2</scale><color>zz</color></IconStyle></Style>",
         "ICON=pin.png ICONSCALE=2 ICONCOLOR=#FF0000FF LINECOLOR=#00FF007F LINEWIDTH=3 FILLCOLOR=#0000FF40 FILL=0 "
         "OUTLINE=1"},
        {"<styleUrl>#map2</styleUrl>", "LINEWIDTH=7"},
        {"<styleUrl>#cs</styleUrl>", "ICONSCALE=4"},
        {"<styleUrl>#missing</styleUrl>", ""},
        {"<styleUrl>other.kml#base</styleUrl>", ""},
        {"<ExtendedData><Data name='note'><displayName>N</displayName><value> hi </value></Data>"
         "<SchemaData schemaUrl='#sid'><SimpleData name='n'>4</SimpleData><SimpleData name='r'>x</SimpleData>"
         "<SimpleData name='u'>free</SimpleData></SchemaData></ExtendedData>",
         "note=hi n=4 r=x u=free"},
    };
    for (const auto& c : cases) {
        const TRead r = Read(shared + "<Placemark>" + c.placemark + "<Point><coordinates>0,0</coordinates></Point>"
                                                                   "</Placemark>");
        ASSERT_EQ(r.features.size(), 1u) << c.placemark;
        EXPECT_EQ(r.features[0], "P 0 0 |" + (c.values.empty() ? "" : " " + c.values)) << c.placemark;
    }
    const TRead counted = Read(shared + "<Placemark><styleUrl>#missing</styleUrl><Point/></Placemark>"
                                        "<Placemark><styleUrl>x.kml#base</styleUrl><Point/></Placemark>"
                                        "<Placemark><Style><LineStyle><width>wide</width></LineStyle></Style></Placemark>");
    EXPECT_EQ(counted.counts.StylesNotFound, 1);
    EXPECT_EQ(counted.counts.StylesElsewhere, 1);
    EXPECT_EQ(counted.counts.BadValues, 1);
}

TEST(UKmlReader, LongTextsAndManyGeometriesStayBounded)
{
    // A path far longer than one piece of coordinates text, with a blank
    // after each comma, read in odd pieces: no tuple is split.
    std::string path;
    for (int i = 0; i < 20000; ++i)
        path += std::to_string(i) + ", " + std::to_string(-i) + ", 0 ";
    const TRead r = Read("<Placemark><LineString><coordinates>" + path + "</coordinates></LineString></Placemark>", 997);
    ASSERT_EQ(r.features.size(), 1u);
    EXPECT_EQ(r.counts.SkippedTuples, 0);
    EXPECT_EQ(std::count(r.features[0].begin(), r.features[0].end(), ','), 19999);
    EXPECT_EQ(r.features[0].substr(r.features[0].size() - 27), "19998 -19998,19999 -19999 |");

    // A placemark of more geometries than it holds: all of them are read.
    std::string points;
    for (int i = 0; i < 5000; ++i)
        points += "<Point><coordinates>" + std::to_string(i) + ",0</coordinates></Point>";
    const TRead many = Read("<Placemark><name>M</name><MultiGeometry>" + points + "</MultiGeometry></Placemark>");
    ASSERT_EQ(many.features.size(), 5000u);
    EXPECT_EQ(many.features[4999], "P 4999 0 | NAME=M");
}
