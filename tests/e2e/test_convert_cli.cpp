// quarvex-convert end to end: the program is run as a user would run it and
// its layers are read back with an independent reader (pyshp).
#include "kmz/ImplodeEncoder.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"
#include "e2e/ConvertRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quarvex::test;

namespace {

std::string Check(const std::string& folder)
{
    return RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/shpdump.py' --check '" + folder + "' 2>&1");
}

const char* const kDesktopLayout =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n<Document>\r\n"
    "\t<name>Trip</name>\r\n"
    "\t<Placemark>\r\n\t\t<name>Caf\xC3\xA9 &amp; Bar</name>\r\n\t\t<Point>\r\n"
    "\t\t\t<coordinates>-122.0822035425683,37.42228990140251,0</coordinates>\r\n"
    "\t\t</Point>\r\n\t</Placemark>\r\n"
    "\t<Placemark>\r\n\t\t<name>Road</name>\r\n\t\t<LineString>\r\n\t\t\t<tessellate>1</tessellate>\r\n"
    "\t\t\t<coordinates>\r\n\t\t\t\t-112.2550785337791,36.07954952145647,2357 "
    "-112.2549277039738,36.08117083492122,2357 \r\n\t\t\t</coordinates>\r\n"
    "\t\t</LineString>\r\n\t</Placemark>\r\n"
    "\t<Placemark>\r\n\t\t<name>Yard</name>\r\n\t\t<Polygon>\r\n\t\t\t<outerBoundaryIs>\r\n\t\t\t\t<LinearRing>\r\n"
    "\t\t\t\t\t<coordinates>\r\n\t\t\t\t\t\t0,0,0\r\n\t\t\t\t\t\t2,0,0\r\n\t\t\t\t\t\t2,2,0\r\n"
    "\t\t\t\t\t\t0,0,0\r\n\t\t\t\t\t</coordinates>\r\n\t\t\t\t</LinearRing>\r\n\t\t\t</outerBoundaryIs>\r\n"
    "\t\t\t<innerBoundaryIs>\r\n\t\t\t\t<LinearRing>\r\n\t\t\t\t\t<coordinates>0.5,0.25 1,0.25 1,0.5 0.5,0.25"
    "</coordinates>\r\n\t\t\t\t</LinearRing>\r\n\t\t\t</innerBoundaryIs>\r\n\t\t</Polygon>\r\n\t</Placemark>\r\n"
    "</Document>\r\n</kml>\r\n";

} // namespace

TEST(ConvertCli, DesktopLayoutFileGivesFourLayers)
{
    TScratchDir dir;
    WriteText(dir.File("trip.kml"), kDesktopLayout);
    TRun run = Convert("--work-dir " + dir.File("work") + " " + dir.File("trip.kml"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "File: trip.kml\n      Points: 1\n      Paths: 1\n      Polygons(outer): 1\n"
                       "      Polygons (inner): 1\n\nEnd.\n");
    EXPECT_EQ(run.err, "");
    const std::string work = dir.File("work/");
    std::string points = DumpLayer(work + "kml_tmp1.$m", work + "kml_tmp1.dbf");
    EXPECT_NE(points.find("shape 1 type 1 parts [] points (-122.0822035425683 37.42228990140251)\n"),
              std::string::npos)
        << points;
    EXPECT_NE(points.find("record 1 ZID 1 NAME 'Caf\xC3\xA9 & Bar'\n"), std::string::npos) << points;
    std::string paths = DumpLayer(work + "kml_tmp2.$m", work + "kml_tmp2.dbf");
    EXPECT_NE(paths.find("points (-112.2550785337791 36.07954952145647) (-112.2549277039738 36.08117083492122)\n"),
              std::string::npos)
        << paths;
    std::string outer = DumpLayer(work + "kml_tmp3.$m", work + "kml_tmp3.dbf");
    EXPECT_NE(outer.find("points (0.0 0.0) (2.0 0.0) (2.0 2.0) (0.0 0.0)\n"), std::string::npos) << outer;
    EXPECT_NE(outer.find("record 1 ZID 1 NAME 'Yard'\n"), std::string::npos) << outer;
    std::string inner = DumpLayer(work + "kml_tmp4.$m", work + "kml_tmp4.dbf");
    EXPECT_NE(inner.find("points (0.5 0.25) (1.0 0.25) (1.0 0.5) (0.5 0.25)\n"), std::string::npos) << inner;
    EXPECT_NE(ReadText(work + "kml_tmp1.xml").find("<descrip>Caf\xC3\xA9 &amp; Bar</descrip>"), std::string::npos);
}

TEST(ConvertCli, MalformedFileExitsOneAndLeavesValidLayers)
{
    TScratchDir dir;
    WriteText(dir.File("bad.kml"), "<kml>\n<Document>\n<Placemark><name>x</Placemark>\n</Document></kml>");
    TRun run = Convert("--work-dir " + dir.Path() + " " + dir.File("bad.kml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quarvex-convert: " + dir.File("bad.kml") +
                           ": mismatched tag at line 3, column 21, near \"Placemark>\"\n");
    EXPECT_NE(run.out.find("\nError: " + dir.File("bad.kml") + ": mismatched tag at line 3"),
              std::string::npos);
    EXPECT_EQ(Check(dir.Path()), "layer 1 shapes 0 records 0 ok\nlayer 2 shapes 0 records 0 ok\n"
                                 "layer 3 shapes 0 records 0 ok\nlayer 4 shapes 0 records 0 ok\n");
}

TEST(ConvertCli, UsageAndRefusals)
{
    TRun none = Convert("");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("quarvex-convert: no FILE given\nUsage: quarvex-convert [--work-dir DIR] [--png IMAGE [--size WxH]] FILE\n", 0), 0u);
    TRun help = Convert("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: quarvex-convert [--work-dir DIR] [--png IMAGE [--size WxH]] FILE\n", 0), 0u);
    EXPECT_EQ(Convert("--bogus x.kml").status, 2);
    EXPECT_EQ(Convert("a.kml b.kml").status, 2);
    EXPECT_EQ(Convert("--work-dir").status, 2);

    TScratchDir dir;
    TRun missing = Convert("--work-dir " + dir.Path() + " " + dir.File("none.kml"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "quarvex-convert: Cannot read \"" + dir.File("none.kml") + "\": File not found\n");
    WriteText(dir.File("plain"), "x");
    TRun badFolder = Convert("--work-dir " + dir.File("plain/sub") + " x.kml");
    EXPECT_EQ(badFolder.status, 1);
    EXPECT_EQ(badFolder.err.rfind("quarvex-convert: cannot use the work folder " + dir.File("plain/sub/"), 0), 0u);
}

TEST(ConvertCli, DefaultWorkFolderIsBesideTheProgram)
{
    std::string exe = QUARVEX_CONVERT;
    std::string ztmp = exe.substr(0, exe.rfind('/') + 1) + "ztmp/";
    TScratchDir dir;
    WriteText(dir.File("one.kml"), "<kml><Placemark><Point><coordinates>1,2</coordinates></Point></Placemark></kml>");
    TRun run = Convert(dir.File("one.kml"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(DumpLayer(ztmp + "kml_tmp1.$m").find("points (1.0 2.0)"), std::string::npos);
}

TEST(ConvertCli, AnInstalledProgramKeepsItsLayersInTheUserCache)
{
    // The same program copied into a prefix's bin folder, as cmake --install
    // puts it: the folder can be written, but holds no build tree.
    TScratchDir prefix, cache, dir;
    std::filesystem::create_directories(prefix.File("bin"));
    std::filesystem::copy_file(QUARVEX_CONVERT, prefix.File("bin/quarvex-convert"));
    WriteText(dir.File("one.kml"), "<kml><Placemark><Point><coordinates>1,2</coordinates></Point></Placemark></kml>");
    int status = -1;
    RunCommand("XDG_CACHE_HOME=" + cache.Path() + " " + prefix.File("bin/quarvex-convert") + " " + dir.File("one.kml") +
                   " >/dev/null 2>&1",
               &status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(prefix.File("bin/ztmp")));
    EXPECT_NE(DumpLayer(cache.File("quarvex/ztmp/kml_tmp1.$m")).find("points (1.0 2.0)"), std::string::npos);
}

// Both programs answer --version without a display, and every option that
// --help names is in the program's manual page.
TEST(ConvertCli, VersionAndManualPages)
{
    const std::string version = "2.6.17\nBuild: v2-6.17.08\n";
    struct TProgram {
        std::string path, name;
    };
    std::vector<TProgram> programs = {{QUARVEX_CONVERT, "quarvex-convert"}};
#ifdef QUARVEX_DESKTOP
    programs.push_back({QUARVEX_DESKTOP, "quarvex"});
#endif
    for (const TProgram& program : programs) {
        int status = -1;
        const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + program.path;
        EXPECT_EQ(RunCommand(run + " --version 2>&1", &status), program.name + " " + version);
        EXPECT_EQ(status, 0) << program.name;
        const std::string help = RunCommand(run + " --help 2>&1", &status);
        EXPECT_EQ(status, 0) << program.name;
        const std::string page = ReadText(SourceDir() + "/docs/man/" + program.name + ".1");
        std::istringstream words(help);
        int options = 0;
        for (std::string word; words >> word;) {
            if (word.rfind("--", 0) != 0 || word.size() < 3)
                continue;
            const std::string option = word.substr(0, word.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", 2));
            std::string escaped;
            for (char c : option)
                escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            ++options;
            EXPECT_NE(page.find(escaped), std::string::npos) << program.name << ": " << option;
        }
        EXPECT_GE(options, 2) << program.name;
    }
}

TEST(ConvertCli, EveryCorpusFileConvertsOrFailsCleanly)
{
    const std::string corpus = SharedDir() + "/testdata/kml-corpus/";
    DIR* folder = opendir(corpus.c_str());
    if (!folder)
        GTEST_SKIP() << "no corpus at " << corpus;
    std::vector<std::string> files;
    while (dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".kml" || name.substr(name.size() - 4) == ".kmz"))
            files.push_back(name);
    }
    closedir(folder);
    ASSERT_FALSE(files.empty());
    for (const std::string& name : files) {
        TScratchDir work;
        TRun run = Convert("--work-dir " + work.Path() + " " + corpus + name);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << name << " exit " << run.status << ": " << run.err;
        if (run.status == 1) {
            EXPECT_EQ(run.err.rfind("quarvex-convert: " + corpus + name + ": ", 0), 0u) << name << ": " << run.err;
        }
        std::string check = Check(work.Path());
        EXPECT_EQ(check.find("MISMATCH"), std::string::npos) << name << "\n" << check;
        EXPECT_NE(check.find("layer 4"), std::string::npos) << name << "\n" << check;
    }
}

TEST(ConvertCli, KmzArchivesGiveTheLayersOfTheirDocument)
{
    TScratchDir dir;
    WriteText(dir.File("doc.kml"), kDesktopLayout);
    WriteText(dir.File("icon.png"), std::string(3000, 'i'));
    ASSERT_EQ(std::system(("cd " + dir.Path() + " && zip -q -9 deflated.kmz icon.png doc.kml && zip -q -0 stored.kmz doc.kml"
                           " && zip -q none.kmz icon.png")
                              .c_str()),
              0);
    TRun plain = Convert("--work-dir " + dir.File("plain") + " " + dir.File("doc.kml"));
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const char* archive : {"deflated.kmz", "stored.kmz"}) {
        const std::string work = dir.File(std::string("w-") + archive + "/");
        TRun run = Convert("--work-dir " + work + " " + dir.File(archive));
        ASSERT_EQ(run.status, 0) << archive << ": " << run.err;
        EXPECT_EQ(run.out, "File: " + std::string(archive) + plain.out.substr(plain.out.find('\n')));
        EXPECT_EQ(ReadText(work + "doc.kml"), kDesktopLayout);
        for (int kind = 1; kind <= 4; ++kind) {
            const std::string layer = "kml_tmp" + std::to_string(kind);
            EXPECT_EQ(DumpLayer(work + layer + ".$m", work + layer + ".dbf"),
                      DumpLayer(dir.File("plain/") + layer + ".$m", dir.File("plain/") + layer + ".dbf"))
                << archive << " " << layer;
        }
    }
    TRun none = Convert("--work-dir " + dir.File("w-none") + " " + dir.File("none.kmz"));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "quarvex-convert: " + dir.File("none.kmz") +
                            ": the archive holds no doc.kml document that could be extracted\n");
    EXPECT_NE(none.out.find("      Points: 0\n"), std::string::npos);
}

namespace {

struct TMeasuredRun {
    int status = -1;
    long peakKib = 0; // the program's peak resident size
    std::string err;
};

// Runs quarvex-convert with args, without a shell in between, so that the
// resource usage that wait4 gives is the program's own.
TMeasuredRun ConvertMeasured(const std::vector<std::string>& args)
{
    TScratchDir io;
    std::vector<char*> argv{const_cast<char*>(QUARVEX_CONVERT)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string err = io.File("err");
    const pid_t child = fork();
    if (child == 0) {
        const int out = open("/dev/null", O_WRONLY);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    TMeasuredRun run;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKib = usage.ru_maxrss;
    run.err = ReadText(err);
    return run;
}

} // namespace

TEST(ConvertCli, ArchiveBombsStayInBoundedMemoryAndDisk)
{
    using namespace quarvex;
    TScratchDir dir;
    const std::string work = dir.File("work/");
    const char* const point = "<kml><Placemark><name>A</name><Point><coordinates>1,2</coordinates></Point></Placemark></kml>";
    WriteText(dir.File("plain.kml"), point);
    WriteText(dir.File("good.kmz"), TZipBuilder().Deflated("doc.kml", point).Build());
    // 987 KB of shrunk data that states 1 byte and would decode to 4.8 GB.
    TZipEntrySpec shrunk{"doc.kml", ShrinkBomb(600000), 1, 0, Crc32Of("A"), 1};
    // 4 MB of deflated zeros that honestly state 4 GiB (in ZIP64).
    TZipEntrySpec honest{"doc.kml", ZeroBomb(256), 8, 0, 0, uint64_t(4) << 30};
    honest.zip64 = true;
    // The same streamed, with no central directory to state its size.
    TZipEntrySpec streamed = honest;
    streamed.zip64 = false;
    streamed.streamed = true;
    struct Row {
        const char* label;
        std::string archive;
        std::vector<std::string> options;
        std::string message;
    };
    const Row rows[] = {
        {"shrunk past its stated size", TZipBuilder().Add(shrunk).Build(), {},
         "Warning: Entry doc.kml decodes to more than its stated size of 1 byte: the rest was not extracted\n"},
        {"4 GiB stated", TZipBuilder().Add(honest).Build(), {},
         "Warning: Entry doc.kml states 4294967296 bytes, more than the limit of 2147483648 bytes: not extracted\n"},
        {"4 GiB streamed", TZipBuilder().Add(streamed).Build(false), {"--max-document-size", "64M"},
         "Warning: Entry doc.kml decodes to more than the limit of 67108864 bytes: stopped, and the partial file "
         "removed\n"},
    };
    for (const Row& row : rows) {
        const std::string bomb = dir.File("bomb.kmz");
        WriteText(bomb, row.archive);
        std::vector<std::string> args = row.options;
        for (const std::string& a : {std::string("--work-dir"), work, bomb})
            args.push_back(a);
        const TMeasuredRun run = ConvertMeasured(args);
        EXPECT_EQ(run.status, 1) << row.label;
        EXPECT_EQ(run.err.rfind(row.message, 0), 0u) << row.label << ": " << run.err;
        EXPECT_LT(run.peakKib, 512 * 1024) << row.label;
        EXPECT_LT(FolderBytes(work), 100000u) << row.label;
        // The same work folder serves the next conversions.
        for (const char* next : {"plain.kml", "good.kmz"}) {
            const TMeasuredRun after = ConvertMeasured({"--work-dir", work, dir.File(next)});
            EXPECT_EQ(after.status, 0) << row.label << ", then " << next << ": " << after.err;
            EXPECT_NE(DumpLayer(work + "kml_tmp1.$m", work + "kml_tmp1.dbf").find("record 1 ZID 1 NAME 'A'\n"),
                      std::string::npos)
                << row.label << ", then " << next;
        }
    }
}

TEST(ConvertCli, MaxDocumentSizeOption)
{
    using namespace quarvex;
    TScratchDir dir;
    const std::string kml = "<kml><Placemark><Point><coordinates>1,2</coordinates></Point></Placemark></kml>";
    WriteText(dir.File("a.kmz"), TZipBuilder().Deflated("doc.kml", kml).Build());
    const std::string size = std::to_string(kml.size());
    for (const std::string& limit : {size, "--max-document-size=" + size, std::string("1K"), std::string("2GiB")}) {
        const std::string option = limit.rfind("--", 0) == 0 ? limit : "--max-document-size " + limit;
        TRun run = Convert(option + " --work-dir " + dir.File("w") + " " + dir.File("a.kmz"));
        EXPECT_EQ(run.status, 0) << limit << ": " << run.err;
    }
    TRun small = Convert("--max-document-size " + std::to_string(kml.size() - 1) + " --work-dir " + dir.File("w") +
                         " " + dir.File("a.kmz"));
    EXPECT_EQ(small.status, 1);
    EXPECT_EQ(small.err, "Warning: Entry doc.kml states " + size + " bytes, more than the limit of " +
                             std::to_string(kml.size() - 1) + " bytes: not extracted\nquarvex-convert: " +
                             dir.File("a.kmz") + ": the archive holds no doc.kml document that could be extracted\n");
    for (const char* bad : {"0", "12X", "-5", "", "99999999999999999999", "18014398509481984G"}) {
        TRun run = Convert(std::string("--max-document-size '") + bad + "' " + dir.File("a.kmz"));
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(run.err.rfind(std::string("quarvex-convert: --max-document-size needs a size above 0 in bytes, or with "
                                            "K, M or G, not \"") + bad + "\"\n", 0), 0u)
            << bad << ": " << run.err;
    }
    EXPECT_EQ(Convert("--max-document-size").status, 2);
    EXPECT_NE(Convert("--help").out.find("  --max-document-size SIZE\n"), std::string::npos);
}

namespace {
// Four paths of 5,000 vertices each: 320 KB of shapes.
std::string LongPaths()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n";
    for (int p = 0; p < 4; ++p) {
        text += "<Placemark><name>Path " + std::to_string(p + 1) + "</name><LineString><coordinates>\n";
        for (int i = 0; i < 5000; ++i)
            text += std::to_string(-150 + p + i * 0.0001) + "," + std::to_string(61 + i * 0.0001) + ",0 ";
        text += "\n</coordinates></LineString></Placemark>\n";
    }
    return text + "</Document></kml>\n";
}

// The header's file length (16-bit words) of a shape file, against its size.
void ExpectTrueFileLength(const std::string& path)
{
    auto shp = ReadBytes(path);
    ASSERT_GE(shp.size(), 100u) << path;
    const size_t words = (size_t(shp[24]) << 24) | (size_t(shp[25]) << 16) | (size_t(shp[26]) << 8) | shp[27];
    EXPECT_EQ(words * 2, shp.size()) << path;
}
} // namespace

TEST(ConvertCli, AWorkFolderThatCannotBeWrittenStopsTheJob)
{
    TScratchDir dir;
    WriteText(dir.File("one.kml"), kDesktopLayout);
    const std::string work = dir.File("ro");
    TTmpfsMount readOnly(work, "ro");
    if (!readOnly.Mounted()) {
        std::filesystem::create_directories(work);
        std::filesystem::permissions(work, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        if (geteuid() == 0)
            GTEST_SKIP() << "root may neither mount here nor be kept out of a folder";
    }
    TRun run = Convert("--work-dir " + work + " " + dir.File("one.kml"));
    EXPECT_EQ(run.status, 1);
    // Refused before the job starts, with the folder named.
    EXPECT_EQ(run.err, "quarvex-convert: cannot use the work folder " + work + "/: it cannot be written\n");
    EXPECT_TRUE(std::filesystem::is_empty(work));
}

TEST(ConvertCli, AFullDiskLeavesEveryLayerWholeOrAbsent)
{
    // The case: four long paths on a 200 KB file system. Where no
    // tmpfs can be mounted, a file-size limit stands in for the full disk.
    TScratchDir dir;
    WriteText(dir.File("paths.kml"), LongPaths());
    const std::string work = dir.File("small");
    TTmpfsMount small(work, "size=200k");
    std::string limit;
    if (!small.Mounted()) {
        std::filesystem::create_directories(work);
        limit = "ulimit -f 200 && ";
    }
    TRun run;
    {
        TScratchDir io;
        run.out = RunCommand(limit + QUARVEX_CONVERT + std::string(" --work-dir ") + work + " " + dir.File("paths.kml") +
                                 " 2>" + io.File("err"),
                             &run.status);
        run.err = ReadText(io.File("err"));
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quarvex-convert: Disk full\n");
    EXPECT_NE(run.out.find("\nError: Disk full\n"), std::string::npos) << run.out;
    // Each layer is whole (shapes and records pair up, the header's length is
    // the file's) or absent altogether.
    for (int kind = 1; kind <= 4; ++kind) {
        const std::string base = work + "/kml_tmp" + std::to_string(kind);
        const bool present = FileExists(base + ".$m");
        EXPECT_EQ(FileExists(base + ".dbf"), present) << kind;
        EXPECT_EQ(FileExists(base + ".xml"), present) << kind;
        if (!present)
            continue;
        ExpectTrueFileLength(base + ".$m");
        EXPECT_NE(ReadText(base + ".xml").find("</shapes></doc>\r\n"), std::string::npos) << kind;
    }
    ASSERT_TRUE(FileExists(work + "/kml_tmp2.$m"));
    // On the tmpfs the pages of twelve small files leave room for one path
    // of 80 KB; under the file-size limit two paths fit the shape file.
    const std::string n = small.Mounted() ? "1" : "2";
    std::string check = Check(work);
    EXPECT_EQ(check, "layer 1 shapes 0 records 0 ok\nlayer 2 shapes " + n + " records " + n +
                         " ok\nlayer 3 shapes 0 records 0 ok\nlayer 4 shapes 0 records 0 ok\n");
    std::string paths = DumpLayer(work + "/kml_tmp2.$m", work + "/kml_tmp2.dbf");
    EXPECT_NE(paths.find(small.Mounted() ? "type 3 bbox -150.0 61.0 -149.5001 61.4999\n"
                                         : "type 3 bbox -150.0 61.0 -148.5001 61.4999\n"),
              std::string::npos);
    EXPECT_NE(paths.find("records " + n + "\nrecord 1 ZID 1 NAME 'Path 1'\n"), std::string::npos);
}

namespace {
// GDAL's reading of a work folder next to its KML driver's reading of the
// input (tests/tools/gdalcheck.py); the last line says how they compare.
std::string GdalCheck(const std::string& kml, const std::string& folder, bool unordered = false)
{
    return RunCommand("/usr/bin/python3 '" + SourceDir() + "/tests/tools/gdalcheck.py' '" + kml + "' '" + folder + "'" +
                      (unordered ? " --unordered" : "") + " 2>/dev/null");
}

std::string LastLine(const std::string& text)
{
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos)
        return "";
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

bool HaveGdal()
{
    int status = 0;
    RunCommand("/usr/bin/python3 -c 'from osgeo import ogr' 2>/dev/null", &status);
    return status == 0;
}

const char* const kScripts =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n"
    "<Placemark><name>Z\xC3\xBCrich Caf\xC3\xA9</name><Point><coordinates>8.5417,47.3769,408</coordinates></Point></Placemark>\n"
    "<Placemark><name>\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0</name><MultiGeometry>"
    "<Point><coordinates>37.6173,55.7558</coordinates></Point>"
    "<LineString><coordinates>37.5,55.7,0 37.7,55.8,0</coordinates></LineString></MultiGeometry></Placemark>\n"
    "<Placemark><name>\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1</name><Polygon><outerBoundaryIs><LinearRing><coordinates>"
    "23.6,37.9 23.8,37.9 23.8,38.1 23.6,37.9</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs><LinearRing>"
    "<coordinates>23.65,37.95 23.7,37.95 23.7,38.0 23.65,37.95</coordinates></LinearRing></innerBoundaryIs>"
    "<innerBoundaryIs><!-- second hole --><LinearRing><coordinates>23.72,37.95 23.75,37.95 23.75,38.0 23.72,37.95"
    "</coordinates></LinearRing></innerBoundaryIs></Polygon></Placemark>\n"
    "<Placemark><name>\xE6\x9D\xB1\xE4\xBA\xAC</name><Point><coordinates>139.6917,35.6895,40</coordinates></Point></Placemark>\n"
    "<Placemark><name>Empty</name></Placemark>\n"
    "<Placemark><name><![CDATA[Two & two]]></name><MultiGeometry><Polygon><outerBoundaryIs><LinearRing><coordinates>"
    "1,1 2,1 2,2 1,1</coordinates></LinearRing></outerBoundaryIs></Polygon><Polygon><outerBoundaryIs><LinearRing>"
    "<coordinates>3,3 5,3 5,5 3,3</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs><LinearRing>"
    "<coordinates>3.5,3.25 4,3.25 4,3.5 3.5,3.25</coordinates></LinearRing></innerBoundaryIs></Polygon>"
    "</MultiGeometry></Placemark>\n"
    "</Document></kml>\n";
} // namespace

TEST(ConvertCli, GdalReadsEveryLayerAsItsKmlDriverReadsTheDocument)
{
    if (!HaveGdal())
        GTEST_SKIP() << "python3-gdal is not installed";
    TScratchDir dir;
    WriteText(dir.File("desktop.kml"), kDesktopLayout);
    WriteText(dir.File("scripts.kml"), kScripts);
    struct Row {
        const char* input;
        const char* locale;
        const char* encoding;
        const char* counts; // points, paths, outer rings, inner rings
    };
    const Row rows[] = {
        {"desktop.kml", "en_US.UTF-8", "CP1252", "1 1 1 1"},
        {"scripts.kml", "de_DE.UTF-8", "CP1252", "3 1 3 3"},
        {"scripts.kml", "ru_RU.UTF-8", "CP1251", "3 1 3 3"},
        {"scripts.kml", "el_GR.UTF-8", "CP1253", "3 1 3 3"},
        {"scripts.kml", "ja_JP.UTF-8", "CP932", "3 1 3 3"},
    };
    for (const Row& row : rows) {
        const std::string work = dir.File(std::string("w-") + row.locale + "-" + row.input);
        TRun run = Convert("--work-dir '" + work + "' " + dir.File(row.input));
        ASSERT_EQ(run.status, 0) << run.err;
        // The converter takes its code page from the locale variables.
        RunCommand("LC_ALL=" + std::string(row.locale) + " " + QUARVEX_CONVERT + " --work-dir '" + work + "' " +
                   dir.File(row.input) + " >/dev/null 2>&1");
        const std::string report = GdalCheck(dir.File(row.input), work);
        EXPECT_EQ(LastLine(report), "same") << row.input << " " << row.locale << "\n" << report;
        std::istringstream counts(row.counts);
        const char* kinds[] = {"points type Point", "paths type Line String", "outer rings type Polygon",
                               "inner rings type Polygon"};
        for (int kind = 1; kind <= 4; ++kind) {
            std::string n;
            counts >> n;
            EXPECT_NE(report.find("layer " + std::to_string(kind) + " " + kinds[kind - 1] + " count " + n +
                                  " encoding " + row.encoding + " extent "),
                      std::string::npos)
                << row.locale << " layer " << kind << "\n" << report;
        }
    }
}

TEST(ConvertCli, GdalReadsTheLayersOfEveryCorpusFile)
{
    if (!HaveGdal())
        GTEST_SKIP() << "python3-gdal is not installed";
    const std::string corpus = SharedDir() + "/testdata/kml-corpus/";
    if (!FileExists(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    // Where the two readings differ on purpose: the reason, by file.
    const std::map<std::string, std::string> differs = {
        {"ets-kml22_Document-clean.kml", "a Point of a PhotoOverlay, which the KML driver leaves out"},
        {"giscore_NestedMultiGeoms.kml", "a MultiGeometry within a MultiGeometry looks for its name on the outer one"},
        {"libkml_polygons2d.kml", "a MultiGeometry within a MultiGeometry looks for its name on the outer one"},
        {"giscore_longName.kml", "NAME holds 255 bytes"},
        {"kml2geojson_warnings.kml", "names are taken as written, white space included"},
        {"libkml_outline_space.kml", "names are taken as written, white space included"},
        {"libkml_badcoords.kml", "malformed coordinate tuples are read differently"},
    };
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".kml")
            continue;
        TScratchDir work;
        TRun run = Convert("--work-dir " + work.Path() + " " + entry.path().string());
        if (run.status != 0)
            continue; // not well-formed: no layers to read
        const std::string verdict = LastLine(GdalCheck(entry.path().string(), work.Path(), true));
        EXPECT_NE(verdict, "broken") << name;
        if (verdict == "unread")
            continue;
        ++compared;
        EXPECT_EQ(verdict, differs.count(name) ? "differs" : "same") << name;
    }
    EXPECT_GE(compared, 15);
}

TEST(ConvertCli, AFolderWhereALayerGoesIsNamed)
{
    TScratchDir dir;
    WriteText(dir.File("one.kml"), kDesktopLayout);
    for (const char* name : {"kml_tmp2.$m", "kml_tmp1.xml", "kml_tmp4.dbf"}) {
        TScratchDir work;
        std::filesystem::create_directories(work.File(name));
        TRun run = Convert("--work-dir " + work.Path() + " " + dir.File("one.kml"));
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, "quarvex-convert: Cannot delete \"" + work.File(name) + "\": it is a folder, not a file\n")
            << name;
    }
}

TEST(ConvertCli, OneProgramPerWorkFolder)
{
    // A copy of the program, so that its default folder is its own: a first
    // run hangs in a fetch that never ends, holding bin/ztmp/ the while.
    TScratchDir dir;
    const std::string exe = CopyProgram(QUARVEX_CONVERT, dir.File("bin/"));
    const std::string ztmp = dir.File("bin/ztmp/"), second = dir.File("bin/ztmp-2/");
    TFixtureServer server;
    TProxySetting proxy(server.ProxyAddress());
    WriteText(dir.File("hang.kml"), "<kml><Document><NetworkLink><Link><href>http://maps.google.com/maps/ms?doc=drip"
                                    "</href></Link></NetworkLink></Document></kml>");
    const std::string kml = "<kml><Document>"
                            "<Placemark><name>A</name><Point><coordinates>1,2</coordinates></Point></Placemark>"
                            "<Placemark><name>B</name><Point><coordinates>3,4</coordinates></Point></Placemark>"
                            "</Document></kml>";
    WriteText(dir.File("two.kml"), kml);
    std::filesystem::create_directories(dir.File("io"));
    TBackgroundProcess first({exe, dir.File("hang.kml")}, dir.File("io/"));
    ASSERT_TRUE(WaitFor([&] { return server.RequestLog().find("doc=drip") != std::string::npos; }, 20))
        << first.Err();

    struct Row {
        std::string args;
        int status;
        std::string err;
        std::string folder; // whose layers hold the two points, "" for none
    };
    const std::string inUse = "quarvex-convert: the work folder " + ztmp + " is in use by another Quarvex process";
    const Row rows[] = {
        {"--work-dir " + dir.File("bin/ztmp") + " " + dir.File("two.kml"), 1, inUse + "\n", ""},
        {dir.File("two.kml"), 0, inUse + "; this one uses " + second + "\n", second},
        {dir.File("two.kml"), 0, inUse + "; this one uses " + second + "\n", second}, // taken again, none piled up
    };
    for (const Row& row : rows) {
        int status = -1;
        RunCommand(exe + " " + row.args + " >/dev/null 2>" + dir.File("io/err"), &status);
        EXPECT_EQ(status, row.status) << row.args;
        EXPECT_EQ(ReadText(dir.File("io/err")), row.err) << row.args;
        if (!row.folder.empty()) {
            EXPECT_EQ(Check(row.folder).substr(0, 30), "layer 1 shapes 2 records 2 ok\n") << row.args;
        }
    }
    EXPECT_FALSE(FileExists(dir.File("bin/ztmp-3")));
    // The lock ends with its program, however it ends.
    first.Kill();
    int status = -1;
    RunCommand(exe + " " + dir.File("two.kml") + " >/dev/null 2>" + dir.File("io/err"), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadText(dir.File("io/err")), "");
    EXPECT_EQ(Check(ztmp), "layer 1 shapes 2 records 2 ok\nlayer 2 shapes 0 records 0 ok\n"
                           "layer 3 shapes 0 records 0 ok\nlayer 4 shapes 0 records 0 ok\n");
}

TEST(ConvertCli, ALinkPlantedAtAnyNameTheJobWritesIsNeverFollowed)
{
    // Every file a job writes (the layers, the document a fetch or an archive
    // gives, the picture) with a link to a file of somebody else's at its
    // name: the job writes its own file there and the other stays as it was.
    TScratchDir dir;
    TFixtureServer server;
    TProxySetting proxy(server.ProxyAddress());
    const std::string points = "<Placemark><name>A</name><Point><coordinates>1,2</coordinates></Point></Placemark>"
                               "<Placemark><name>B</name><Point><coordinates>3,4</coordinates></Point></Placemark>";
    WriteText(dir.File("fetching.kml"), "<kml><Document>" + points +
                                            "<NetworkLink><Link><href>http://maps.google.com/maps/ms?doc=two</href>"
                                            "</Link></NetworkLink></Document></kml>");
    WriteText(dir.File("archive.kmz"),
              TZipBuilder().Deflated("doc.kml", "<kml><Document>" + points + "</Document></kml>").Build());
    std::vector<std::string> names{"doc.kml", "map.png"};
    for (int layer = 1; layer <= 4; ++layer)
        for (const char* extension : {".$m", ".dbf", ".xml"})
            names.push_back("kml_tmp" + std::to_string(layer) + extension);
    const std::string work = dir.File("work/");
    std::filesystem::create_directories(dir.File("theirs"));
    for (const std::string input : {"fetching.kml", "archive.kmz"}) {
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        for (const std::string& name : names) {
            WriteText(dir.File("theirs/" + name), "not yours");
            std::filesystem::create_symlink(dir.File("theirs/" + name), work + name);
        }
        const TRun run = Convert("--work-dir " + work + " --png " + work + "map.png " + dir.File(input));
        EXPECT_EQ(run.status, 0) << input << ": " << run.err;
        for (const std::string& name : names) {
            EXPECT_EQ(ReadText(dir.File("theirs/" + name)), "not yours") << input << ": " << name;
            EXPECT_FALSE(std::filesystem::is_symlink(work + name)) << input << ": " << name;
        }
        EXPECT_EQ(Check(work).substr(0, 30), input == "archive.kmz" ? "layer 1 shapes 2 records 2 ok\n"
                                                                    : "layer 1 shapes 4 records 4 ok\n")
            << input;
    }
}
