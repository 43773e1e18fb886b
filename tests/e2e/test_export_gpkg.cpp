// quarvex-convert --export --format gpkg end to end: the GeoPackage is read
// back with GDAL and Python's sqlite3 (tests/tools/gpkgcheck.py) and
// compared, record by record, with the shapefile sets of the same input.
#include "support/TestSupport.h"
#include "e2e/ConvertRun.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace quarvex::test;

namespace {

std::string GpkgCheck(const std::string& args)
{
    int status = 0;
    std::string out =
        RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/gpkgcheck.py' " + args + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

// Typed and untyped extended data with long and clashing names, a long
// description, a shared style, times of every kind, a null point, a track
// of two parts, a polygon with a hole whose rings run the wrong way round.
const std::string kRich =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\" xmlns:gx=\"http://www.google.com/kml/ext/2.2\"><Document>"
    "<Schema id=\"sid\"><SimpleField name=\"count\" type=\"int\"/><SimpleField name=\"big\" type=\"uint\"/>"
    "<SimpleField name=\"small\" type=\"short\"/><SimpleField name=\"port\" type=\"ushort\"/>"
    "<SimpleField name=\"ratio\" type=\"float\"/><SimpleField name=\"depth\" type=\"double\"/>"
    "<SimpleField name=\"ok\" type=\"bool\"/></Schema>"
    "<Style id=\"s\"><IconStyle><color>ff0000ff</color><scale>1.5</scale><Icon><href>pin.png</href></Icon>"
    "</IconStyle><LineStyle><color>7f00ff00</color><width>3</width></LineStyle><PolyStyle><color>40ff0000</color>"
    "<fill>0</fill></PolyStyle></Style>"
    "<Folder><name>F</name>"
    "<Placemark><name>P1</name><description>" + std::string(300, 'd') + "</description><styleUrl>#s</styleUrl>"
    "<TimeStamp><when>2020-05-01T12:30:00.12345+02:00</when></TimeStamp><ExtendedData><SchemaData schemaUrl=\"#sid\">"
    "<SimpleData name=\"count\">42</SimpleData><SimpleData name=\"big\">4000000000</SimpleData>"
    "<SimpleData name=\"small\">-7</SimpleData><SimpleData name=\"port\">65535</SimpleData>"
    "<SimpleData name=\"ratio\">0.5</SimpleData><SimpleData name=\"depth\">12.25</SimpleData>"
    "<SimpleData name=\"ok\">true</SimpleData></SchemaData><Data name=\"random_2_trial\"><value>a</value></Data>"
    "<Data name=\"random_2_trick\"><value>b</value></Data><Data name=\"Name\"><value>clash</value></Data>"
    "<Data name=\"geom\"><value>g</value></Data></ExtendedData><Point><coordinates>1,2,3</coordinates></Point>"
    "</Placemark>"
    "<Placemark><name>P2</name><TimeStamp><when>2020</when></TimeStamp><Point><coordinates>4,5</coordinates>"
    "</Point></Placemark>"
    "<Placemark><name>P3</name><TimeStamp><when>2021-02-03</when></TimeStamp><Point><coordinates></coordinates>"
    "</Point></Placemark></Folder>"
    "<Placemark><name>Track</name><TimeSpan><begin>2020-13-45</begin><end>2021-01-01T00:00:00Z</end></TimeSpan>"
    "<gx:MultiTrack><gx:Track><when>2020-01-02</when><when>2020-01-03</when><gx:coord>0 0 0</gx:coord>"
    "<gx:coord>1 0 5</gx:coord></gx:Track><gx:Track><when>2020-01-04</when><when>2020-01-05</when>"
    "<gx:coord>5 5 0</gx:coord><gx:coord>6 6 0</gx:coord></gx:Track></gx:MultiTrack></Placemark>"
    "<Placemark><name>Line</name><styleUrl>#s</styleUrl><LineString><coordinates>0,0,1 1,1,2 2,0,3</coordinates>"
    "</LineString></Placemark>"
    "<Placemark><name>Lake</name><styleUrl>#s</styleUrl><Polygon><outerBoundaryIs><LinearRing><coordinates>"
    "0,0,1 4,0,1 4,4,1 0,4,1</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs><LinearRing>"
    "<coordinates>1,1 1,2 2,2 2,1 1,1</coordinates></LinearRing></innerBoundaryIs></Polygon></Placemark>"
    "<Placemark><name>Plain</name><Polygon><outerBoundaryIs><LinearRing><coordinates>10,10 11,10 11,11 10,10"
    "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>"
    "</Document></kml>\n";

} // namespace

TEST(GeoPackageExport, OneFileWithFullNamesTypesAndTimes)
{
    TScratchDir dir;
    WriteText(dir.File("r.kml"), kRich);
    TRun run = Convert("--export " + dir.File("out") + " --format gpkg --descriptions " + dir.File("r.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "File: r.kml\n      Points: 3\n      Paths: 2\n      Polygons: 2\n"
                       "      Times that are not date-times, kept as text: 2\n"
                       "      Field \"Name\" is written as Name_1\n      Field \"geom\" is written as geom_1\n"
                       "  - " + dir.File("out/r.gpkg") + "\nEnd.\n");
    EXPECT_FALSE(FileExists(dir.File("out/r_points.shp")));
    const std::string d300(300, 'd');
    EXPECT_EQ(GpkgCheck("summary '" + dir.File("out/r.gpkg") + "'"),
              "points Point count 3 EPSG:4326\n"
              "  fields ZID:Integer NAME:String DESCRIPT:String FOLDER:String TIMESTAMP:DateTime "
              "TIMESTAMP_TEXT:String ICON:String ICONSCALE:Real ICONCOLOR:String count:Integer big:Integer64 "
              "small:Integer(Int16) port:Integer ratio:Real(Float32) depth:Real ok:Integer(Boolean) "
              "random_2_trial:String random_2_trick:String Name_1:String geom_1:String\n"
              "  ZID=1 NAME=P1 DESCRIPT=" + d300 + " FOLDER=F TIMESTAMP=2020/05/01 10:30:00.123+00 "
              "TIMESTAMP_TEXT=None ICON=pin.png ICONSCALE=1.5 ICONCOLOR=#FF0000FF count=42 big=4000000000 small=-7 "
              "port=65535 ratio=0.5 depth=12.25 ok=1 random_2_trial=a random_2_trick=b Name_1=clash geom_1=g | "
              "POINT (1 2)\n"
              "  ZID=2 NAME=P2 DESCRIPT=None FOLDER=F TIMESTAMP=None TIMESTAMP_TEXT=2020 ICON=None ICONSCALE=None "
              "ICONCOLOR=None count=None big=None small=None port=None ratio=None depth=None ok=None "
              "random_2_trial=None random_2_trick=None Name_1=None geom_1=None | POINT (4 5)\n"
              "  ZID=3 NAME=P3 DESCRIPT=None FOLDER=F TIMESTAMP=2021/02/03 00:00:00+00 TIMESTAMP_TEXT=None ICON=None "
              "ICONSCALE=None ICONCOLOR=None count=None big=None small=None port=None ratio=None depth=None ok=None "
              "random_2_trial=None random_2_trick=None Name_1=None geom_1=None | EMPTY\n"
              "paths Multi Line String count 2 EPSG:4326\n"
              "  fields ZID:Integer NAME:String DESCRIPT:String BEGIN_TEXT:String END:DateTime LINECOLOR:String "
              "LINEWIDTH:Real\n"
              "  ZID=1 NAME=Track DESCRIPT=None BEGIN_TEXT=2020-13-45 END=2021/01/01 00:00:00+00 LINECOLOR=None "
              "LINEWIDTH=None | MULTILINESTRING ((0 0,1 0),(5 5,6 6))\n"
              "  ZID=2 NAME=Line DESCRIPT=None BEGIN_TEXT=None END=None LINECOLOR=#00FF007F LINEWIDTH=3 | "
              "MULTILINESTRING ((0 0,1 1,2 0))\n"
              "polygons Multi Polygon count 2 EPSG:4326\n"
              "  fields ZID:Integer NAME:String DESCRIPT:String LINECOLOR:String LINEWIDTH:Real FILLCOLOR:String "
              "FILL:Integer(Boolean)\n"
              "  ZID=1 NAME=Lake DESCRIPT=None LINECOLOR=#00FF007F LINEWIDTH=3 FILLCOLOR=#0000FF40 FILL=0 | "
              "MULTIPOLYGON (((0 0,0 4,4 4,4 0,0 0),(1 1,2 1,2 2,1 2,1 1)))\n"
              "  ZID=2 NAME=Plain DESCRIPT=None LINECOLOR=None LINEWIDTH=None FILLCOLOR=None FILL=None | "
              "MULTIPOLYGON (((10 10,11 11,11 10,10 10)))\n");
    EXPECT_EQ(GpkgCheck("check '" + dir.File("out/r.gpkg") + "'"),
              "integrity ok application_id 1196444487 user_version 10200\n"
              "rtree points 2 ok\nrtree paths 2 ok\nrtree polygons 2 ok\n"
              "style points marker fields ICONCOLOR,ICONSCALE ok\n"
              "style paths line fields LINECOLOR,LINEWIDTH ok\n"
              "style polygons fill fields FILL,FILLCOLOR,LINECOLOR,LINEWIDTH ok\n");
    int status = 0;
    const std::string info = RunCommand("ogrinfo -so '" + dir.File("out/r.gpkg") + "' points 2>&1", &status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("Extent: (1.000000, 2.000000) - (4.000000, 5.000000)"), std::string::npos) << info;
}

TEST(GeoPackageExport, TheSetsRecordsUnderEveryChoice)
{
    TScratchDir dir;
    WriteText(dir.File("r.kml"), kRich);
    // A document without styles: one plain style per table.
    WriteText(dir.File("plain.kml"), "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Placemark><name>A</name>"
                                     "<Point><coordinates>1,1</coordinates></Point></Placemark></kml>");
    const struct {
        const char* options;
        const char* input;
        const char* match; // gpkgcheck.py against
        const char* styles; // the style lines of gpkgcheck.py check
    } cases[] = {
        {"--descriptions", "r", "match points 3\nmatch paths 2\nmatch polygons 2\n",
         "style points marker fields ICONCOLOR,ICONSCALE ok\nstyle paths line fields LINECOLOR,LINEWIDTH ok\n"
         "style polygons fill fields FILL,FILLCOLOR,LINECOLOR,LINEWIDTH ok\n"},
        {"--keep-elevations", "r", "match points 3\nmatch paths 2\nmatch polygons 2\n", nullptr},
        {"--utm 31N", "r", "match points 3\nmatch paths 2\nmatch polygons 2\n", nullptr},
        {"--entities inner", "r", "match polygons 2\n", "style polygons fill fields FILL,FILLCOLOR,LINECOLOR,LINEWIDTH ok\n"},
        {"--entities points,paths", "plain", "match points 1\n", "style points marker fields - ok\n"},
    };
    for (const auto& c : cases) {
        const std::string out = dir.File(std::string("out ") + c.options + "/");
        const std::string input = dir.File(std::string(c.input) + ".kml");
        ASSERT_EQ(Convert("--export '" + out + "' " + c.options + " " + input).status, 0) << c.options;
        ASSERT_EQ(Convert("--export '" + out + "' --format gpkg " + c.options + " " + input).status, 0) << c.options;
        const std::string gpkg = "'" + out + c.input + ".gpkg'";
        EXPECT_EQ(GpkgCheck("against " + gpkg + " '" + out + "' " + c.input), c.match) << c.options;
        const std::string checked = GpkgCheck("check " + gpkg);
        EXPECT_EQ(checked.substr(0, checked.find('\n') + 1), "integrity ok application_id 1196444487 user_version 10200\n")
            << c.options;
        EXPECT_EQ(checked.find(" wrong "), std::string::npos) << c.options << "\n" << checked;
        if (c.styles) {
            EXPECT_EQ(checked.substr(checked.find("style ")), c.styles) << c.options;
        }
    }
    const std::string z = GpkgCheck("summary '" + dir.File("out --keep-elevations/r.gpkg") + "'");
    EXPECT_NE(z.find("paths 3D Multi Line String count 2"), std::string::npos) << z;
    EXPECT_NE(z.find("MULTILINESTRING Z ((0 0 0,1 0 5),(5 5 0,6 6 0))"), std::string::npos) << z;
    EXPECT_NE(GpkgCheck("summary '" + dir.File("out --utm 31N/r.gpkg") + "'").find("points Point count 3 EPSG:32631\n"),
              std::string::npos);
}

TEST(GeoPackageExport, TheCorpusAsItsShapefileSets)
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
    TScratchDir dir;
    int compared = 0;
    for (const std::string& file : files) {
        const std::string base = file.substr(0, file.size() - 4);
        const std::string out = dir.File(base);
        const TRun sets = Convert("--export '" + out + "' --descriptions '" + corpus + file + "'");
        const TRun package = Convert("--export '" + out + "' --descriptions --format gpkg '" + corpus + file + "'");
        EXPECT_EQ(sets.status, package.status) << file << package.err;
        if (package.status != 0 || !FileExists(out + "/" + base + ".gpkg"))
            continue;
        const std::string gpkg = "'" + out + "/" + base + ".gpkg'";
        const std::string match = GpkgCheck("against " + gpkg + " '" + out + "' '" + base + "'");
        EXPECT_EQ(match.find("match "), 0u) << file << "\n" << match;
        for (size_t at = 0; at < match.size(); at = match.find('\n', at) + 1)
            EXPECT_EQ(match.compare(at, 6, "match "), 0) << file << "\n" << match;
        const std::string checked = GpkgCheck("check " + gpkg);
        EXPECT_EQ(checked.rfind("integrity ok ", 0), 0u) << file << checked;
        EXPECT_EQ(checked.find(" wrong "), std::string::npos) << file << checked;
        EXPECT_EQ(checked.find(" unknown "), std::string::npos) << file << checked;
        ++compared;
    }
    EXPECT_GE(compared, 25);
}

TEST(GeoPackageExport, AnEarlierFileStaysUntilTheNewOneIsComplete)
{
    TScratchDir dir;
    WriteText(dir.File("a.kml"), kRich);
    const std::string out = dir.File("out/");
    ASSERT_EQ(Convert("--export " + out + " --format gpkg " + dir.File("a.kml")).status, 0);
    const auto before = ReadBytes(out + "a.gpkg");

    // A document found not well-formed partway: no file, the earlier kept.
    std::filesystem::create_directories(dir.File("bad"));
    WriteText(dir.File("bad/a.kml"), kRich.substr(0, kRich.size() - 8));
    TRun run = Convert("--export " + out + " --format gpkg " + dir.File("bad/a.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadBytes(out + "a.gpkg"), before);

    // Killed while the file is written.
    std::string big = "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n";
    for (int i = 0; i < 60000; ++i)
        big += "<Placemark><name>p" + std::to_string(i) + "</name><Point><coordinates>" + std::to_string(i % 360 - 180) +
               ",1</coordinates></Point></Placemark>\n";
    std::filesystem::create_directories(dir.File("big"));
    WriteText(dir.File("big/a.kml"), big + "</Document></kml>\n");
    const std::string exe = QUARVEX_CONVERT, input = dir.File("big/a.kml");
    char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("--export"), const_cast<char*>(out.c_str()),
                    const_cast<char*>("--format=gpkg"), const_cast<char*>(input.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Watched until the file is begun (however slow the build, a sanitized
    // one included) or the export ends by itself.
    bool seenPart = false, ended = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (!seenPart && !ended && std::chrono::steady_clock::now() < giveUp) {
        seenPart = FileExists(out + "a.gpkg.quarvex-part");
        ended = !seenPart && waitpid(pid, nullptr, WNOHANG) == pid;
        if (!seenPart && !ended)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    ASSERT_TRUE(seenPart) << "the export ended before it could be interrupted";
    EXPECT_EQ(ReadBytes(out + "a.gpkg"), before);

    // The next export replaces it; a link at the temporary name is removed,
    // not followed, and a journal the earlier file left is not replayed.
    WriteText(dir.File("victim"), "kept");
    std::filesystem::remove(out + "a.gpkg.quarvex-part");
    std::filesystem::create_symlink(dir.File("victim"), out + "a.gpkg.quarvex-part");
    WriteText(out + "a.gpkg-journal", std::string(4096, 'j'));
    ASSERT_EQ(Convert("--export " + out + " --format gpkg " + input).status, 0);
    EXPECT_EQ(ReadText(dir.File("victim")), "kept");
    EXPECT_FALSE(FileExists(out + "a.gpkg-journal"));
    EXPECT_EQ(GpkgCheck("check '" + out + "a.gpkg'").substr(0, 13), "integrity ok ");
    for (const char* left : {"a.gpkg.quarvex-part", "a.gpkg.points.rows.quarvex-part"})
        EXPECT_FALSE(FileExists(out + left)) << left;

    // A folder where the file goes: reported, and left as it is.
    std::filesystem::create_directories(dir.File("other/a.gpkg/inside"));
    run = Convert("--export " + dir.File("other") + " --format gpkg " + dir.File("a.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot put " + dir.File("other/a.gpkg") + " in place"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("other/a.gpkg.quarvex-part")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("other/a.gpkg/inside")));

    // Usage errors.
    for (const char* args : {"--export x --format kml a.kml", "--format gpkg a.kml", "--export x --format gpkg --no-prj a.kml"})
        EXPECT_EQ(Convert(args).status, 2) << args;
}
