// quarvex-convert --export end to end: the sets are read back with GDAL
// (tests/tools/exportcheck.py) and pyshp (tests/tools/setdump.py), and
// compared with what GDAL's own KML driver reads from the same file.
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"
#include "e2e/ConvertRun.h"

#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace quarvex::test;

namespace {

std::string Tool(const std::string& script, const std::string& args)
{
    int status = 0;
    std::string out =
        RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/" + script + "' " + args + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

std::string Summary(const std::string& shp)
{
    return Tool("exportcheck.py", "summary '" + shp + "'");
}

std::string Compare(const std::string& kml, const std::string& dir, const std::string& base)
{
    return Tool("exportcheck.py", "compare '" + kml + "' '" + dir + "' '" + base + "'");
}

std::string Dump(const std::string& base)
{
    return Tool("setdump.py", "'" + base + "'");
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n";
const std::string kTail = "</Document></kml>\n";

std::string Placemark(const std::string& name, const std::string& geometry, const std::string& extra = "")
{
    return "<Placemark><name>" + name + "</name>" + extra + geometry + "</Placemark>\n";
}

std::string Ring(const std::string& coordinates)
{
    return "<LinearRing><coordinates>" + coordinates + "</coordinates></LinearRing>";
}

// Names in several scripts, a MultiGeometry, polygons whose rings come the
// wrong way round and open, descriptions with markup and CDATA, an empty
// placemark.
const std::string kWorld =
    kHead +
    Placemark("Caf\xC3\xA9 \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0",
              "<Point><coordinates>\n\t\t12.5,41.9,21\n</coordinates></Point>",
              "<description><![CDATA[<b>bold</b> & more]]></description>") +
    Placemark("\xE6\x9D\xB1\xE4\xBA\xAC \xD8\xA7\xD9\x84\xD9\x82\xD8\xA7\xD9\x87\xD8\xB1\xD8\xA9",
              "<MultiGeometry><Point><coordinates>139.7,35.7</coordinates></Point>"
              "<LineString><coordinates>139.7,35.7,5 139.8,35.8,6 140,36</coordinates></LineString></MultiGeometry>",
              "<description>\n  plain <i>marked</i> text <a href=\"x?a=1&amp;b=2\">link</a><br/>\n</description>") +
    Placemark("Lake", "<Polygon><outerBoundaryIs>" + Ring("10,10 10,20 20,20 20,10") +
                          "</outerBoundaryIs><innerBoundaryIs>" + Ring("12,12 14,12 14,14 12,14 12,12") +
                          "</innerBoundaryIs></Polygon>") +
    Placemark("Fields", "<MultiGeometry><Polygon><outerBoundaryIs>" + Ring("30,0 31,0 31,1 30,0") +
                            "</outerBoundaryIs></Polygon><Polygon><outerBoundaryIs>" + Ring("40,0 41,0 41,1 40,0") +
                            "</outerBoundaryIs></Polygon></MultiGeometry>") +
    Placemark("<!-- not the name -->Nowhere", "<Point><coordinates></coordinates></Point>") + kTail;

} // namespace

TEST(Export, GdalOpensEverySetAsTheKmlDriverReadsIt)
{
    TScratchDir dir;
    WriteText(dir.File("world.kml"), kWorld);
    TRun run = Convert("--work-dir " + dir.File("w") + " --export " + dir.File("out") +
                       " --entities points,paths,outer,inner --descriptions " + dir.File("world.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "File: world.kml\n      Points: 3\n      Paths: 1\n      Polygons: 3\n  - " + dir.File("out/") +
                           "world_points.shp\n  - " + dir.File("out/") + "world_paths.shp\n  - " +
                           dir.File("out/") + "world_polygons.shp\nEnd.\n");
    const std::string out = dir.File("out/");
    EXPECT_EQ(Summary(out + "world_points.shp"),
              "type Point count 3 srs EPSG:4326\n"
              "ZID=1 NAME=Caf\xC3\xA9 \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 DESCRIPT=<b>bold</b> & more | "
              "POINT (12.5 41.9)\n"
              "ZID=2 NAME=\xE6\x9D\xB1\xE4\xBA\xAC \xD8\xA7\xD9\x84\xD9\x82\xD8\xA7\xD9\x87\xD8\xB1\xD8\xA9 "
              "DESCRIPT=plain <i>marked</i> text <a href=\"x?a=1&amp;b=2\">link</a><br/> | POINT (139.7 35.7)\n"
              "ZID=3 NAME=Nowhere DESCRIPT=None | EMPTY\n");
    EXPECT_EQ(Summary(out + "world_polygons.shp"),
              "type Polygon count 3 srs EPSG:4326\n"
              "ZID=1 NAME=Lake DESCRIPT=None | POLYGON ((10 10,10 20,20 20,20 10,10 10),(12 12,14 12,14 14,12 14,12 12))\n"
              "ZID=2 NAME=Fields DESCRIPT=None | POLYGON ((30 0,31 1,31 0,30 0))\n"
              "ZID=3 NAME=Fields DESCRIPT=None | POLYGON ((40 0,41 1,41 0,40 0))\n");
    EXPECT_EQ(Compare(dir.File("world.kml"), out, "world"), "match 6\n");
    // The header's box leaves the null point out: it spans the two real points.
    EXPECT_EQ(Dump(out + "world_points").substr(0, 42), "type 1 box 12.5 35.7 139.7 41.9 z 0.0 0.0 ");
    EXPECT_NE(Dump(out + "world_points").find(".cpg UTF-8\n"), std::string::npos);
}

std::string LibkmlCheck(const std::string& kml, const std::string& dir, const std::string& base)
{
    return Tool("libkmlcheck.py", "'" + kml + "' '" + dir + "' '" + base + "'");
}

TEST(Export, TheCorpusAsGdalsDriversReadIt)
{
    const std::string corpus = SharedDir() + "/testdata/kml-corpus/";
    DIR* folder = opendir(corpus.c_str());
    if (!folder)
        GTEST_SKIP() << "no corpus at " << corpus;
    std::vector<std::string> files;
    while (dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".kml" || name.substr(name.size() - 4) == ".kmz"))
            files.push_back(name);
    }
    closedir(folder);
    // Where we differ from LIBKML on purpose, the start of the verdict.
    const std::map<std::string, std::string> differs = {
        // A PhotoOverlay's point is a point of ours; LIBKML drops it.
        {"ets-kml22_Document-clean.kml", "geometries: ours 14, LIBKML 13; first difference (('points', (8.23, 46.707))"},
        // Malformed tuples are left out; LIBKML reads what it can of them.
        {"giscore_badCoord.kml", "geometries: ours 16, LIBKML 23;"},
        // A tuple of six fields is one vertex, its first three; LIBKML reads two.
        {"libkml_badcoords.kml", "geometries: ours 0, LIBKML 1;"},
        // LIBKML names a linked document's layer after the file, we after the link.
        {"giscore_content.kmz", "points My office: folder 'Link to hi.kml' / layer 'hi'"},
    };
    TScratchDir dir;
    int matched = 0;
    for (const std::string& file : files) {
        const std::string kml = corpus + file;
        const std::string base = file.substr(0, file.size() - 4);
        const std::string out = dir.File(base);
        TRun run = Convert("--export " + out + " --descriptions " + kml);
        if (run.status != 0) {
            EXPECT_EQ(run.status, 1) << file;
            continue; // refused (not well-formed, no document): nothing to compare
        }
        std::string verdict = LibkmlCheck(kml, out, base);
        if (verdict.rfind("unreadable by LIBKML", 0) == 0 && file.substr(file.size() - 4) == ".kml")
            verdict = Compare(kml, out, base); // the other driver of GDAL
        if (verdict.rfind("unreadable by", 0) == 0)
            continue;
        const auto known = differs.find(file);
        if (known == differs.end()) {
            EXPECT_EQ(verdict.substr(0, 6), "match ") << file << ": " << verdict;
            matched += verdict.substr(0, 6) == "match ";
        } else {
            EXPECT_EQ(verdict.substr(0, known->second.size()), known->second) << file << ": " << verdict;
        }
    }
    EXPECT_GE(matched, 20);
}

TEST(Export, RingsClosedTurnedAndDroppedAndTheEntitySelection)
{
    TScratchDir dir;
    // The outer ring runs counter-clockwise and is open; the hole runs
    // clockwise; a second hole has two distinct vertices only.
    WriteText(dir.File("r.kml"), kHead +
                                     Placemark("P", "<Polygon><outerBoundaryIs>" + Ring("0,0 4,0 4,4 0,4") +
                                                        "</outerBoundaryIs><innerBoundaryIs>" +
                                                        Ring("1,1 1,2 2,2 2,1 1,1") +
                                                        "</innerBoundaryIs><innerBoundaryIs>" + Ring("3,3 3.5,3 3,3") +
                                                        "</innerBoundaryIs></Polygon>") +
                                     Placemark("Q", "<Point><coordinates>9,9</coordinates></Point>") + kTail);
    const struct Case {
        const char* entities;
        const char* log;
        const char* polygons; // the polygon record as pyshp reads it; "" when there is no set
        bool points;
    } cases[] = {
        {"outer,inner", "      Polygons: 1\n      Rings dropped (fewer than 3 distinct vertices): 1\n",
         "shape 1 type 5 parts [0, 5] points (0.0 0.0) (0.0 4.0) (4.0 4.0) (4.0 0.0) (0.0 0.0) "
         "(1.0 1.0) (2.0 1.0) (2.0 2.0) (1.0 2.0) (1.0 1.0)\n",
         false},
        {"outer", "      Polygons: 1\n", "shape 1 type 5 parts [0] points (0.0 0.0) (0.0 4.0) (4.0 4.0) (4.0 0.0) (0.0 0.0)\n",
         false},
        {"inner", "      Polygons: 1\n      Rings dropped (fewer than 3 distinct vertices): 1\n",
         "shape 1 type 5 parts [0] points (1.0 1.0) (1.0 2.0) (2.0 2.0) (2.0 1.0) (1.0 1.0)\n", false},
        {"points", "      Points: 1\n", "", true},
    };
    WriteText(dir.File("orphan.kml"), kHead + Placemark("O", "<Polygon><outerBoundaryIs>" + Ring("0,0 1,1 0,0") +
                                                                "</outerBoundaryIs><innerBoundaryIs>" +
                                                                Ring("1,1 1,2 2,2 1,1") + "</innerBoundaryIs></Polygon>") +
                                          kTail);
    TRun orphan = Convert("--work-dir " + dir.File("w") + " --export " + dir.File("orphan") +
                          " --entities outer,inner " + dir.File("orphan.kml"));
    EXPECT_NE(orphan.out.find("      Polygons: 1\n      Rings dropped (fewer than 3 distinct vertices): 1\n"
                              "      Holes left out with their outer ring: 1\n"),
              std::string::npos)
        << orphan.out;
    EXPECT_NE(Dump(dir.File("orphan/orphan_polygons")).find("shape 1 type 0\n"), std::string::npos);
    for (const Case& c : cases) {
        const std::string out = dir.File(std::string("out-") + c.entities + "/");
        TRun run = Convert("--work-dir " + dir.File("w") + " --export " + out + " --entities " + c.entities + " " +
                           dir.File("r.kml"));
        ASSERT_EQ(run.status, 0) << c.entities << ": " << run.err;
        EXPECT_NE(run.out.find(std::string("File: r.kml\n") + c.log), std::string::npos) << c.entities << run.out;
        EXPECT_EQ(FileExists(out + "r_polygons.shp"), c.polygons[0] != 0) << c.entities;
        EXPECT_EQ(FileExists(out + "r_points.shp"), c.points) << c.entities;
        if (c.polygons[0]) {
            const std::string dump = Dump(out + "r_polygons");
            EXPECT_NE(dump.find(c.polygons), std::string::npos) << c.entities << "\n" << dump;
        }
    }
}

TEST(Export, ElevationsUtmAndTheTextCut)
{
    TScratchDir dir;
    const std::string longName = std::string(252, 'n') + "\xE2\x82\xAC"; // 255 bytes: the euro sign does not fit
    WriteText(dir.File("z.kml"), kHead + Placemark(longName, "<Point><coordinates>15,52,120</coordinates></Point>") +
                                     Placemark("Road", "<LineString><coordinates>15,52,1 15.1,52.1 15.2,52,3"
                                                       "</coordinates></LineString>") +
                                     kTail);
    TRun run = Convert("--work-dir " + dir.File("w") + " --export " + dir.File("z") + " --keep-elevations --no-prj " +
                       dir.File("z.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string points = Dump(dir.File("z/z_points"));
    EXPECT_EQ(points.substr(0, 54), "type 11 box 15.0 52.0 15.0 52.0 z 120.0 120.0 count 1\n") << points;
    EXPECT_NE(points.find("points (15.0 52.0) z 120.0\n"), std::string::npos) << points;
    EXPECT_NE(points.find("record 1 | " + std::string(252, 'n') + "\n"), std::string::npos) << points;
    EXPECT_EQ(points.find(".prj"), std::string::npos);
    EXPECT_EQ(Summary(dir.File("z/z_points.shp")).substr(0, 19), "type 3D Point count");
    EXPECT_EQ(Summary(dir.File("z/z_paths.shp")).substr(0, 25), "type 3D Line String count");
    const std::string paths = Dump(dir.File("z/z_paths"));
    EXPECT_NE(paths.find("shape 1 type 13 parts [0] points (15.0 52.0) (15.1 52.1) (15.2 52.0) z 1.0 0.0 3.0\n"),
              std::string::npos)
        << paths;

    // UTM 33N through our own projection against ogr2ogr on our geographic set.
    ASSERT_EQ(Convert("--work-dir " + dir.File("w") + " --export " + dir.File("geo") + " " + dir.File("z.kml")).status, 0);
    ASSERT_EQ(Convert("--work-dir " + dir.File("w") + " --export " + dir.File("utm") + " --utm 33N " + dir.File("z.kml"))
                  .status,
              0);
    int status = 0;
    RunCommand("ogr2ogr -t_srs EPSG:32633 '" + dir.File("ogr.shp") + "' '" + dir.File("geo/z_paths.shp") + "' 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    const std::string compare = Tool("exportcheck.py", "distance '" + dir.File("utm/z_paths.shp") + "' '" +
                                                           dir.File("ogr.shp") + "'");
    EXPECT_EQ(compare.substr(0, 9), "vertices ") << compare;
    EXPECT_LT(std::stod(compare.substr(compare.find("max ") + 4)), 0.001) << compare;
    EXPECT_NE(Summary(dir.File("utm/z_paths.shp")).find("srs EPSG:32633"), std::string::npos);
    EXPECT_EQ(Convert("--export x --utm 61N " + dir.File("z.kml")).status, 2);
    EXPECT_EQ(Convert("--export x --entities lines " + dir.File("z.kml")).status, 2);
    EXPECT_EQ(Convert("--utm 33N " + dir.File("z.kml")).status, 2);
}

TEST(Export, SeveralFilesOneBrokenAndAnInterruptedExport)
{
    TScratchDir dir;
    WriteText(dir.File("a.kml"), kHead + Placemark("A", "<Point><coordinates>1,1</coordinates></Point>") + kTail);
    WriteText(dir.File("b.kml"), "<kml><Document><Placemark></Document></kml>");
    WriteText(dir.File("c.kml"), kHead + Placemark("C", "<Point><coordinates>3,3</coordinates></Point>") + kTail);
    TRun run = Convert("--work-dir " + dir.File("w") + " --export " + dir.File("out") + " " + dir.File("a.kml") + " " +
                       dir.File("b.kml") + " " + dir.File("c.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("quarvex-convert: " + dir.File("b.kml") + ": ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_NE(Summary(dir.File("out/a_points.shp")).find("NAME=A |"), std::string::npos);
    EXPECT_NE(Summary(dir.File("out/c_points.shp")).find("NAME=C |"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("out/b_points.shp")));

    // A large file exported over the set of a.kml, killed while it writes:
    // the earlier set stays as it was.
    std::string big = kHead;
    for (int i = 0; i < 300000; ++i)
        big += "<Placemark><name>p" + std::to_string(i) + "</name><Point><coordinates>" + std::to_string(i % 360 - 180) +
               ",1</coordinates></Point></Placemark>\n";
    std::filesystem::create_directories(dir.File("big"));
    WriteText(dir.File("big/a.kml"), big + kTail);
    const auto before = ReadBytes(dir.File("out/a_points.shp"));
    const auto beforeDbf = ReadBytes(dir.File("out/a_points.dbf"));
    const std::string exe = QUARVEX_CONVERT, work = dir.File("w"), out = dir.File("out"), input = dir.File("big/a.kml");
    char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("--work-dir"), const_cast<char*>(work.c_str()),
                    const_cast<char*>("--export"), const_cast<char*>(out.c_str()), const_cast<char*>(input.c_str()),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    bool seenPart = false;
    for (int i = 0; i < 20000 && !seenPart; ++i) {
        seenPart = FileExists(dir.File("out/a_points.shp.quarvex-part"));
        if (!seenPart)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(seenPart) << "the export ended before it could be interrupted";
    EXPECT_EQ(ReadBytes(dir.File("out/a_points.shp")), before);
    EXPECT_EQ(ReadBytes(dir.File("out/a_points.dbf")), beforeDbf);
    // The next complete export replaces the set; no part of the stopped
    // run is taken for its own (it wrote a .prj, this run writes none), and
    // a link standing at a part's name is replaced, not followed.
    WriteText(dir.File("victim"), "kept");
    std::filesystem::remove(dir.File("out/a_points.cpg.quarvex-part"));
    std::filesystem::create_symlink(dir.File("victim"), dir.File("out/a_points.cpg.quarvex-part"));
    WriteText(dir.File("out/a_points.prj.quarvex-part"), "a stale projection");
    ASSERT_EQ(Convert("--work-dir " + work + " --export " + out + " --no-prj " + input).status, 0);
    EXPECT_NE(Summary(dir.File("out/a_points.shp")).find("count 300000 srs none"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("out/a_points.prj")));
    EXPECT_EQ(ReadText(dir.File("victim")), "kept");
    for (const char* ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"})
        EXPECT_FALSE(FileExists(dir.File("out/a_points") + ext + ".quarvex-part")) << ext;

    // Two inputs of one base name: the second is refused, the first kept.
    std::filesystem::create_directories(dir.File("other"));
    WriteText(dir.File("other/c.kml"), kHead + Placemark("C2", "<Point><coordinates>4,4</coordinates></Point>") + kTail);
    run = Convert("--work-dir " + work + " --export " + dir.File("same") + " " + dir.File("c.kml") + " " +
                  dir.File("other/c.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quarvex-convert: " + dir.File("other/c.kml") + ": not exported, its sets would replace those of " +
                           dir.File("c.kml") + " (the same base name)\n");
    EXPECT_NE(Summary(dir.File("same/c_points.shp")).find("NAME=C |"), std::string::npos);

    // A folder where a file of the set goes: the old set stays whole.
    const auto oldShp = ReadBytes(dir.File("same/c_points.shp"));
    std::filesystem::remove(dir.File("same/c_points.dbf"));
    std::filesystem::create_directories(dir.File("same/c_points.dbf"));
    run = Convert("--work-dir " + work + " --export " + dir.File("same") + " " + dir.File("other/c.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot put " + dir.File("same/c_points.dbf") + " in place"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("same/c_points.shp")), oldShp);
    EXPECT_FALSE(FileExists(dir.File("same/c_points.shp.quarvex-part")));
}

namespace {

// Every group of values a table holds, each KML element written "$name", so
// that the same document can be given with and without a prefix.
const std::string kGroups =
    "<$Document><$name>Doc</$name><atom:author><atom:name>not a name</atom:name></atom:author>"
    "<$Schema name='S' id='sid'><$SimpleField name='count' type='int'/><$SimpleField name='ratio' type='double'/>"
    "<$SimpleField name='ok' type='bool'/></$Schema>"
    "<$Style id='base'><$IconStyle><$color>ff0000ff</$color><$scale>1.5</$scale><$Icon><$href>pin.png</$href>"
    "</$Icon></$IconStyle><$LineStyle><$color>7f00ff00</$color><$width>3</$width></$LineStyle><$PolyStyle>"
    "<$color>40ff0000</$color><$fill>0</$fill></$PolyStyle></$Style>"
    "<$StyleMap id='map'><$Pair><$key>normal</$key><$styleUrl>#base</$styleUrl></$Pair></$StyleMap>"
    "<$Folder><$name>Outer</$name><$Folder><$name>Inner</$name>"
    "<$Placemark><$name>P1</$name><$visibility>0</$visibility><$TimeStamp><$when>2020-05-01T10:00:00Z</$when>"
    "</$TimeStamp><$styleUrl>#map</$styleUrl><$Style><$IconStyle><$scale>2</$scale></$IconStyle></$Style>"
    "<$ExtendedData><$Data name='note'><$value>hello</$value></$Data><$SchemaData schemaUrl='#sid'>"
    "<$SimpleData name='count'>42</$SimpleData><$SimpleData name='ratio'>0.25</$SimpleData>"
    "<$SimpleData name='ok'>true</$SimpleData><$SimpleData name='random_2_trial'>a</$SimpleData>"
    "<$SimpleData name='random_2_trick'>b</$SimpleData></$SchemaData></$ExtendedData>"
    "<$Point><$extrude>1</$extrude><$altitudeMode>relativeToGround</$altitudeMode><$coordinates>1,2,3</$coordinates>"
    "</$Point></$Placemark>"
    "<$Placemark><$name>P2</$name><$ExtendedData><$SchemaData schemaUrl='#sid'><$SimpleData name='count'>4.5"
    "</$SimpleData></$SchemaData></$ExtendedData><$TimeSpan><$begin>2020-02-03</$begin><$end>2021-01-01</$end>"
    "</$TimeSpan><$LineString><$tessellate>1</$tessellate><$coordinates>0,0 <!-- 9,9 --> 1,1 <![CDATA[2,2]]> 3,3"
    "</$coordinates></$LineString></$Placemark></$Folder></$Folder>"
    "<$Placemark><$name>Track</$name><gx:Track><gx:altitudeMode>absolute</gx:altitudeMode>"
    "<$when>2020-01-01T00:00:00Z</$when><$when>2020-01-01T00:01:00Z</$when><gx:coord>10 20 30</gx:coord>"
    "<gx:coord>11 21 31</gx:coord></gx:Track></$Placemark>"
    "<$Placemark><$name>Multi</$name><gx:MultiTrack><gx:Track><$when>2020-01-02</$when><$when>2020-01-03</$when>"
    "<gx:coord>0 0 0</gx:coord><gx:coord>1 0 0</gx:coord></gx:Track><gx:Track><$when>2020-01-04</$when>"
    "<$when>2020-01-05</$when><gx:coord>5 5 0</gx:coord><gx:coord>6 6 0</gx:coord></gx:Track></gx:MultiTrack>"
    "</$Placemark>"
    "<$Placemark><$name>Poly</$name><$styleUrl>#base</$styleUrl><$Polygon><$outerBoundaryIs><$LinearRing>"
    "<$coordinates>0,0 4,0 4,4 0,4 0,0</$coordinates></$LinearRing></$outerBoundaryIs><$innerBoundaryIs>"
    "<$LinearRing><$coordinates>1,1 2,1 2,2 1,1</$coordinates></$LinearRing></$innerBoundaryIs></$Polygon>"
    "</$Placemark>"
    "<$GroundOverlay><$name>Over</$name><$Icon><$href>img.png</$href></$Icon><$LatLonBox><$north>10</$north>"
    "<$south>0</$south><$east>20</$east><$west>0</$west><$rotation>90</$rotation></$LatLonBox></$GroundOverlay>"
    "<$Placemark><$name>Empty</$name></$Placemark></$Document>";

std::string GroupsDocument(const std::string& prefix)
{
    std::string text = kGroups;
    for (size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at))
        text.replace(at, 1, prefix.empty() ? "" : prefix + ":");
    const std::string ns = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + (prefix.empty() ? "" : prefix + ":") + "kml " + ns +
           "='http://www.opengis.net/kml/2.2' xmlns:gx='http://www.google.com/kml/ext/2.2' "
           "xmlns:atom='http://www.w3.org/2005/Atom'>" +
           text + "</" + (prefix.empty() ? "" : prefix + ":") + "kml>\n";
}

} // namespace

TEST(Export, EveryGroupOfValuesAsGdalReadsIt)
{
    TScratchDir dir;
    WriteText(dir.File("g.kml"), GroupsDocument(""));
    TRun run = Convert("--export " + dir.File("out") + " " + dir.File("g.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = dir.File("out/");
    EXPECT_EQ(run.out, "File: g.kml\n      Points: 1\n      Paths: 3\n      Polygons: 2\n"
                       "      Placemarks without geometry: 1\n"
                       "      Values that do not fit their type, left empty: 1\n"
                       "      Field \"random_2_trial\" is written as random_2_t\n"
                       "      Field \"random_2_trick\" is written as random_2_1\n"
                       "  - " + out + "g_points.shp\n  - " + out + "g_paths.shp\n  - " + out + "g_polygons.shp\nEnd.\n");
    EXPECT_EQ(Summary(out + "g_points.shp"),
              "type Point count 1 srs EPSG:4326\n"
              "ZID=1 NAME=P1 FOLDER=Outer/Inner TIMESTAMP=2020-05-01T10:00:00Z ALTMODE=relativeToGround EXTRUDE=1 "
              "VISIBLE=0 ICON=pin.png ICONSCALE=2.0 ICONCOLOR=#FF0000FF note=hello count=42 ratio=0.25 ok=1 "
              "random_2_t=a random_2_1=b | POINT (1 2)\n");
    EXPECT_EQ(Summary(out + "g_paths.shp"),
              "type Line String count 3 srs EPSG:4326\n"
              "ZID=1 NAME=P2 FOLDER=Outer/Inner BEGIN=2020-02-03 END=2021-01-01 ALTMODE=None TESSELLATE=1 | "
              "LINESTRING (0 0,1 1,2 2,3 3)\n"
              "ZID=2 NAME=Track FOLDER=None BEGIN=None END=None ALTMODE=absolute TESSELLATE=None | "
              "LINESTRING (10 20,11 21)\n"
              "ZID=3 NAME=Multi FOLDER=None BEGIN=None END=None ALTMODE=None TESSELLATE=None | "
              "MULTILINESTRING ((0 0,1 0),(5 5,6 6))\n");
    EXPECT_EQ(Summary(out + "g_polygons.shp"),
              "type Polygon count 2 srs EPSG:4326\n"
              "ZID=1 NAME=Poly LINECOLOR=#00FF007F LINEWIDTH=3.0 FILLCOLOR=#0000FF40 FILL=0 ICON=None | "
              "POLYGON ((0 0,0 4,4 4,4 0,0 0),(1 1,2 1,2 2,1 1))\n"
              // The 20 x 10 box turned by 90 degrees about its centre (10, 5).
              "ZID=2 NAME=Over LINECOLOR=None LINEWIDTH=None FILLCOLOR=None FILL=None ICON=img.png | "
              "POLYGON ((15 -5,5 -5,5 15,15 15,15 -5))\n");
    int status = 0;
    const std::string types = RunCommand("ogrinfo -so '" + out + "g_points.shp' g_points", &status);
    for (const char* field : {"EXTRUDE: Integer (1.0)", "ICONSCALE: Real (3.1)", "ICONCOLOR: String (9.0)",
                              "count: Integer (2.0)", "ratio: Real (4.2)", "ok: Integer (1.0)", "note: String (5.0)"})
        EXPECT_NE(types.find(field), std::string::npos) << field << "\n" << types;
    // Where LIBKML reads less: a value that does not fit its integer field is
    // cut by LIBKML, left empty by us; LIBKML reads no gx:altitudeMode, reads
    // "true" of a bool as 0 and leaves out Data and undeclared SimpleData.
    EXPECT_EQ(LibkmlCheck(dir.File("g.kml"), out, "g"),
              "paths P2: extended data [] / ['4.0']\n"
              "paths Track: altitude mode 'absolute' / None\n"
              "points P1: extended data ['0.25', '1.0', '42.0', 'a', 'b', 'hello'] / ['0.0', '0.25', '42.0']\n");

    // The same document with every KML element prefixed gives the same sets.
    std::filesystem::create_directories(dir.File("prefixed"));
    WriteText(dir.File("prefixed/g.kml"), GroupsDocument("kml"));
    ASSERT_EQ(Convert("--export " + dir.File("prefixed") + " " + dir.File("prefixed/g.kml")).status, 0);
    for (const char* file : {"g_points.shp", "g_points.dbf", "g_paths.shp", "g_paths.dbf", "g_polygons.shp",
                             "g_polygons.dbf", "g_polygons.shx"})
        EXPECT_EQ(ReadBytes(dir.File("prefixed/") + file), ReadBytes(out + file)) << file;

    // Holes by default; without inner they are counted.
    run = Convert("--export " + dir.File("outer") + " --entities outer " + dir.File("g.kml"));
    EXPECT_NE(run.out.find("      Holes left out (inner is not among the entities): 1\n"), std::string::npos) << run.out;
}

namespace {

std::string Doc(const std::string& body)
{
    return kHead + body + kTail;
}

std::string Link(const std::string& href, const std::string& name = "")
{
    return "<NetworkLink>" + (name.empty() ? "" : "<name>" + name + "</name>") + "<Link><href>" + href +
           "</href></Link></NetworkLink>";
}

std::string Pin(const std::string& name, int x)
{
    return Placemark(name, "<Point><coordinates>" + std::to_string(x) + ",1</coordinates></Point>");
}

} // namespace

TEST(Export, LinkedDocumentsOfTheArchiveAndOfTheFolder)
{
    TScratchDir dir;
    // An archive whose documents link in a circle, out of the archive, to a
    // missing entry; and one document more than an input reads.
    TZipBuilder zip;
    zip.Deflated("doc.kml", Doc(Pin("Main", 1) + Link("tiles/t1.kml", "Tiles") + Link("nothing.kml") +
                                Link("../outside.kml") + Link("many.kml")));
    zip.Deflated("tiles/t1.kml", Doc("<Folder><name>F</name>" + Pin("T1", 2) + Link("t2.kml", "Two") + "</Folder>" +
                                     Link("../doc.kml")));
    zip.Stored("tiles/t2.kml", Doc(Pin("T2", 3)));
    std::string many;
    for (int i = 0; i < 261; ++i) { // 5 more than an input reads
        zip.Stored("m/" + std::to_string(i) + ".kml", Doc(Pin("M" + std::to_string(i), 100 + i)));
        many += Link("m/" + std::to_string(i) + ".kml");
    }
    zip.Stored("many.kml", Doc(many));
    WriteText(dir.File("a.kmz"), zip.Build());
    TRun run = Convert("--export " + dir.File("out") + " " + dir.File("a.kmz"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string expectedStart = "File: a.kmz\n"
                                      "      Link not followed: nothing.kml (not found in the archive)\n"
                                      "      Link not followed: ../outside.kml (outside the document's folder)\n"
                                      "      Linked document: tiles/t1.kml\n"
                                      "      Link not followed: ../doc.kml (already read)\n"
                                      "      Linked document: many.kml\n"
                                      "      Link not followed: m/252.kml (more than 256 documents)\n";
    EXPECT_EQ(run.out.substr(0, expectedStart.size()), expectedStart) << run.out;
    // The input and 255 linked documents: many.kml, t1, t2 and 252 of m/.
    EXPECT_NE(run.out.find("      Points: 255\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("m/260.kml (more than 256 documents)\n      Linked document: tiles/t2.kml\n"
                           "      Linked document: m/0.kml\n"),
              std::string::npos);
    EXPECT_EQ(run.out.find("m/251.kml (more"), std::string::npos);
    const std::string points = Summary(dir.File("out/a_points.shp"));
    EXPECT_EQ(points.substr(0, points.find("ZID=4 ")),
              "type Point count 255 srs EPSG:4326\nZID=1 NAME=Main FOLDER=None | POINT (1 1)\n"
              "ZID=2 NAME=T1 FOLDER=Tiles/F | POINT (2 1)\nZID=3 NAME=T2 FOLDER=Tiles/F/Two | POINT (3 1)\n");

    // Beside a KML file: a file below its folder, one above, a link on the
    // way out of it, a remote document without --fetch-links.
    std::filesystem::create_directories(dir.File("k/sub"));
    WriteText(dir.File("outside.kml"), Doc(Pin("Outside", 9)));
    std::filesystem::create_symlink(dir.File("outside.kml"), dir.File("k/esc.kml"));
    WriteText(dir.File("k/sub/s.kml"), Doc(Pin("Sub", 4) + Link("../main.kml")));
    WriteText(dir.File("k/main.kml"), Doc(Pin("Main", 1) + Link("sub/s.kml", "S") + Link("../outside.kml") +
                                          Link("esc.kml") + Link("http://127.0.0.1:9/x.kml") + Link("/etc/hosts") +
                                          Link("file:///etc/hosts")));
    run = Convert("--export " + dir.File("kout") + " " + dir.File("k/main.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("      Points:")),
              "File: main.kml\n"
              "      Link not followed: ../outside.kml (outside the document's folder)\n"
              "      Link not followed: esc.kml (outside the document's folder)\n"
              "      Link not followed: http://127.0.0.1:9/x.kml (a remote document, fetched only with --fetch-links)\n"
              "      Link not followed: /etc/hosts (outside the document's folder)\n"
              "      Link not followed: file:///etc/hosts (outside the document's folder)\n"
              "      Linked document: sub/s.kml\n"
              "      Link not followed: ../main.kml (already read)\n");
    EXPECT_EQ(Summary(dir.File("kout/main_points.shp")),
              "type Point count 2 srs EPSG:4326\nZID=1 NAME=Main FOLDER=None | POINT (1 1)\n"
              "ZID=2 NAME=Sub FOLDER=S | POINT (4 1)\n");

    // A linked document found not well-formed partway fails the input: no set.
    WriteText(dir.File("k/sub/s.kml"), Doc(Pin("Sub", 4)) + "<extra/>");
    run = Convert("--export " + dir.File("bad") + " " + dir.File("k/main.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir.File("k/main.kml") + ": sub/s.kml: junk after document element at line 5, column 1"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(FileExists(dir.File("bad/main_points.shp")));
    EXPECT_EQ(FolderBytes(dir.File("bad")), 0u);
}

TEST(Export, FetchedLinksAndInputFromAPipe)
{
    TFixtureServer server;
    TProxySetting proxy(server.ProxyAddress());
    TScratchDir dir;
    const std::string service = "http://maps.google.com/maps/ms?doc=";
    WriteText(dir.File("f.kml"), Doc(Pin("Here", 1) + Link(service + "self", "Service") + Link(service + "missing") +
                                     Link(service + "loop") + Link(service + "tofile")));
    TRun run = Convert("--export " + dir.File("out") + " --fetch-links " + dir.File("f.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("      Points:")),
              "File: f.kml\n"
              "      Linked document: " + service + "self\n"
              "      Link not followed: " + service + "self (already read)\n"
              "      Link not followed: " + service + "missing (not fetched: the server answered with status 404)\n"
              "      Link not followed: " + service + "loop (not fetched: the redirects did not end after 20 (a loop))\n"
              "      Link not followed: " + service + "tofile (not fetched: a redirect to an address that is not http or https was refused)\n"
              "      Linked document: " + service + "two\n");
    EXPECT_EQ(Summary(dir.File("out/f_points.shp")),
              "type Point count 4 srs EPSG:4326\nZID=1 NAME=Here FOLDER=None | POINT (1 1)\n"
              "ZID=2 NAME=Self FOLDER=Service | POINT (1 1)\nZID=3 NAME=Fetched A FOLDER=Service | POINT (10 20)\n"
              "ZID=4 NAME=Fetched B FOLDER=Service | POINT (11 21)\n");
    EXPECT_EQ(run.err, "");
    // A fetched document that is not well-formed fails the input, as any.
    WriteText(dir.File("b.kml"), Doc(Pin("Here", 1) + Link(service + "broken")));
    run = Convert("--export " + dir.File("out") + " --fetch-links " + dir.File("b.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir.File("b.kml") + ": " + service + "broken: mismatched tag at line 1"), std::string::npos)
        << run.err;
    EXPECT_FALSE(FileExists(dir.File("out/b_points.shp")));

    // The same document through a pipe, named after it; nothing is fetched
    // without --fetch-links.
    int status = 0;
    const std::string out = RunCommand("cat '" + dir.File("f.kml") + "' | " + std::string(QUARVEX_CONVERT) +
                                           " --export '" + dir.File("pipe") + "' /dev/stdin",
                                       &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(Summary(dir.File("pipe/stdin_points.shp")).find("count 1 "), std::string::npos);
    EXPECT_NE(out.find("(a remote document, fetched only with --fetch-links)"), std::string::npos) << out;
}

TEST(Export, AKillOrAFailureAtEveryRenameNeverMixesSets)
{
    if (RunCommand("command -v strace").empty())
        GTEST_SKIP() << "strace is not installed";
    TScratchDir dir;
    // The old sets: one point, one path, no polygon; the new: every class,
    // and no .prj, so that a stale file has to go too.
    std::filesystem::create_directories(dir.File("old"));
    std::filesystem::create_directories(dir.File("new"));
    WriteText(dir.File("old/s.kml"), Doc(Pin("Old", 1) + Placemark("OldPath", "<LineString><coordinates>0,0 1,1"
                                                                              "</coordinates></LineString>")));
    WriteText(dir.File("new/s.kml"), GroupsDocument(""));
    const std::string out = dir.File("out/");
    auto state = [&] { return Tool("setstate.py", "'" + out + "' s_points s_paths s_polygons"); };
    const std::string convert = std::string(QUARVEX_CONVERT) + " --export " + out + " ";
    auto files = [&] {
        std::map<std::string, std::vector<uint8_t>> bytes;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            std::vector<uint8_t>& b = bytes[entry.path().filename()] = ReadBytes(entry.path());
            if (entry.path().extension() == ".dbf" && b.size() > 3)
                b[1] = b[2] = b[3] = 0; // the day of the last change, which may pass midnight
        }
        return bytes;
    };
    ASSERT_EQ(Convert("--export " + out + " --no-prj " + dir.File("new/s.kml")).status, 0);
    const std::string fresh = state();
    const auto freshFiles = files();
    ASSERT_EQ(Convert("--export " + out + " " + dir.File("old/s.kml")).status, 0);
    const std::string old = state();
    const auto oldFiles = files();
    ASSERT_NE(old, fresh);
    ASSERT_EQ(old.substr(old.rfind("leftovers")), "leftovers \n");
    std::vector<std::string> oldLines, freshLines;
    for (auto [text, v] : {std::pair{old, &oldLines}, std::pair{fresh, &freshLines}}) {
        std::stringstream in(text);
        for (std::string line; std::getline(in, line);)
            v->push_back(line);
    }
    const std::string trace = "strace -o '" + dir.File("trace") + "' -e trace=rename,renameat,renameat2 ";
    RunCommand(trace + convert + "--no-prj " + dir.File("new/s.kml") + " >/dev/null 2>&1");
    const std::string traced = ReadText(dir.File("trace"));
    int renames = 0;
    for (size_t at = traced.find("rename"); at != std::string::npos; at = traced.find("\nrename", at + 1))
        ++renames;
    ASSERT_GE(renames, 20);
    // A kill at every rename; a rename that fails, at the journal, the first
    // old file, the middle, and the last two.
    std::vector<std::pair<std::string, int>> faults;
    for (int k = 1; k <= renames; ++k)
        faults.push_back({"signal=SIGKILL", k});
    for (int k : {1, 2, renames / 2, renames - 1, renames})
        faults.push_back({"error=EACCES", k});
    for (const auto& [fault, k] : faults) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        for (const auto& [name, bytes] : oldFiles) // (the old tables with their day set to 0)
            WriteText(out + name, std::string(bytes.begin(), bytes.end()));
        int status = 0;
        RunCommand("strace -o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:" +
                       fault + ":when=" + std::to_string(k) + " " + convert + "--no-prj " + dir.File("new/s.kml") +
                       " >/dev/null 2>&1",
                   &status);
        EXPECT_NE(status, 0) << fault << " at rename " << k;
        // Each set as pyshp reads it: the old whole, the new whole, or absent.
        std::stringstream now(state());
        std::string line;
        for (size_t i = 0; i < 3 && std::getline(now, line); ++i)
            EXPECT_TRUE(line == oldLines[i] || line == freshLines[i] || line == line.substr(0, line.find(' ')) + " absent")
                << fault << " at rename " << k << ": " << line;
        if (fault == "error=EACCES") { // the running export brought the old sets back
            EXPECT_EQ(files(), oldFiles) << "a failure at rename " << k;
        }
        // The next export finishes what the stopped one left, then its own.
        ASSERT_EQ(Convert("--export " + out + " --no-prj " + dir.File("new/s.kml")).status, 0) << fault << " " << k;
        EXPECT_EQ(files(), freshFiles) << fault << " at rename " << k;
    }
}
