#include "kml/kmz/UResolveKml.h"
#include "kml/kmz/UUnZip.h"

#include "ImplodeEncoder.h"
#include "kml/UParse.h"
#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "support/RecordingView.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace quarvex;
using namespace quarvex::test;

namespace {

const std::string kKml = "<kml><Placemark><name>A</name><Point><coordinates>1,2</coordinates></Point></Placemark></kml>";

// An archive reader whose messages are collected.
struct TCollectingUnZip {
    TUnZip unzip;
    std::vector<std::string> messages;
    TCollectingUnZip()
    {
        unzip.OnError = [this](TUnZip&, const std::string& m) { messages.push_back(m); };
    }
};

std::string WriteArchive(const TScratchDir& dir, const std::string& name, const std::string& bytes)
{
    WriteText(dir.File(name), bytes);
    return dir.File(name);
}

} // namespace

TEST(UUnZip, ListingLines)
{
    TScratchDir dir;
    TZipEntrySpec zeroDate{"a.txt", std::string(25, 'x'), 8, 0, 0, 100, 0, 0};
    TZipEntrySpec dated{"b/c.kml", "", 0, 0, 0, 0, 0x7A3C, 0x5B8F}; // 15:17:56, 15 December 2025
    std::string path = WriteArchive(dir, "l.zip", TZipBuilder().Add(zeroDate).Add(dated).Build());
    TUnZip unzip;
    std::vector<std::string> lines{"kept"};
    unzip.ListArchive(path, lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"kept", "a.txt\t100\t25\t-75%\t21-03-2002\t00:46:38",
                                               "b/c.kml\t0\t0\t0%\t15-12-2025\t15:17:56"}));
    // ZIP64 sizes far apart give a ratio beyond any integer: it is capped.
    TZipEntryHeader huge;
    huge.Name = "z";
    huge.CompressedSize = uint64_t(1) << 62;
    huge.UncompressedSize = 1;
    EXPECT_EQ(ListingLine(huge).substr(0, 41), "z\t1\t4611686018427387904\t1000000000000000%");
    // Not an archive: no lines, no error; a missing file raises the I/O error.
    lines.clear();
    unzip.ListArchive(WriteArchive(dir, "x.kmz", "plain text, no archive"), lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_THROW(unzip.ListArchive(dir.File("none.kmz"), lines), EInOutError);
}

TEST(UUnZip, MaskMatching)
{
    EXPECT_TRUE(MatchesMask("*.*", "doc.kml"));
    EXPECT_TRUE(MatchesMask("DOC.KML", "doc.kml"));
    EXPECT_TRUE(MatchesMask("doc.kml", "doc.old.kml"));   // base name up to the first ".", last extension
    EXPECT_TRUE(MatchesMask("doc.kml", "doc.kmlz"));      // extensions compare three characters
    EXPECT_FALSE(MatchesMask("doc.kml", "files/doc.kml")); // folders must be equal
    EXPECT_FALSE(MatchesMask("FILES/doc.kml", "files/doc.kml"));
    EXPECT_TRUE(MatchesMask("files/d?c.k*", "files/DOC.KML"));
    EXPECT_TRUE(MatchesMask("m*.kml", "map.kml"));
    EXPECT_FALSE(MatchesMask("m*.kml", "doc.kml"));
    EXPECT_TRUE(MatchesMask("\xE8\x61j.txt", "\xC8\x41J.TXT")); // code page 1250: č and Č
    EXPECT_FALSE(MatchesMask("\xE6.txt", "\xC6.txt"));         // æ has no partner in the table
}

TEST(UUnZip, UnsafeNames)
{
    for (const char* name : {"../x/doc.kml", "a/../../doc.kml", "..", "/tmp/doc.kml", "C:doc.kml", "a\\doc.kml", ""})
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    for (const char* name : {"doc.kml", "files/doc.kml", "..doc.kml", "a/..b/doc.kml", "./doc.kml"})
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
    EXPECT_FALSE(IsSafeEntryName(std::string("doc.kml\0/x", 10)));
}

TEST(UUnZip, ResolveChoosesTheFirstDocKmlEntry)
{
    TScratchDir dir;
    const std::string work = dir.File("work/");
    TCollectingUnZip z;
    EXPECT_EQ(ResolveKmlPath(dir.File("tour.kml"), work, z.unzip), dir.File("tour.kml"));
    EXPECT_FALSE(FileExists(work));

    auto resolve = [&](TZipBuilder archive, const char* file = "tour.KmZ") {
        return ResolveKmlPath(WriteArchive(dir, file, archive.Build()), work, z.unzip);
    };
    EXPECT_EQ(resolve(TZipBuilder().Stored("files/icon.png", "PNG").Deflated("doc.kml", kKml)), work + "doc.kml");
    EXPECT_EQ(ReadText(work + "doc.kml"), kKml);
    EXPECT_FALSE(FileExists(work + "files/icon.png"));
    EXPECT_EQ(resolve(TZipBuilder().Stored("Doc.KML", kKml)), work + "Doc.KML");
    EXPECT_EQ(resolve(TZipBuilder().Stored("mydoc.kml", "my").Stored("doc.kml", kKml)), work + "mydoc.kml");
    EXPECT_EQ(ReadText(work + "mydoc.kml"), "my");
    EXPECT_EQ(resolve(TZipBuilder().Stored("map.kml", kKml)), "");
    EXPECT_FALSE(FileExists(work + "map.kml"));
    EXPECT_EQ(resolve(TZipBuilder(), "empty.kmz"), "");
    // An entry in a folder lands in that folder inside the work folder.
    EXPECT_EQ(resolve(TZipBuilder().Deflated("files/doc.kml", kKml)), work + "files/doc.kml");
    EXPECT_EQ(ReadText(work + "files/doc.kml"), kKml);
    EXPECT_TRUE(z.messages.empty()) << z.messages[0];
}

TEST(UUnZip, StoredAndDeflatedGiveTheSameBytes)
{
    TScratchDir dir;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "<Placemark><name>P" + std::to_string(i) + "</name></Placemark>\n";
    WriteText(dir.File("doc.kml"), text);
    WriteText(dir.File("empty.kml"), "");
    // Archives made by Debian's zip, one deflated and one stored.
    ASSERT_EQ(std::system(("cd " + dir.Path() + " && zip -q -9 d.kmz doc.kml empty.kml && zip -q -0 s.kmz doc.kml").c_str()), 0);
    TCollectingUnZip z;
    for (const char* archive : {"d.kmz", "s.kmz"}) {
        TScratchDir work;
        EXPECT_EQ(ResolveKmlPath(dir.File(archive), work.Path(), z.unzip), work.File("doc.kml"));
        EXPECT_EQ(ReadText(work.File("doc.kml")), text) << archive;
    }
    TScratchDir work;
    z.unzip.ArcName = dir.File("d.kmz");
    z.unzip.SetExtrPath(work.Path());
    z.unzip.Files = {"empty.kml"};
    EXPECT_TRUE(z.unzip.Extract());
    ASSERT_EQ(z.unzip.Extracted.size(), 1u);
    EXPECT_TRUE(z.unzip.Extracted[0].Written);
    EXPECT_TRUE(FileExists(work.File("empty.kml")));
    EXPECT_EQ(ReadBytes(work.File("empty.kml")).size(), 0u);
    EXPECT_TRUE(z.messages.empty());
}

TEST(UUnZip, AnEntryOf8190BytesBeforeTheDocument)
{
    TScratchDir dir;
    std::string path = WriteArchive(dir, "a.kmz", TZipBuilder().Stored("big.bin", std::string(8190, 'b')).Stored("doc.kml", kKml).Build());
    TUnZip unzip;
    std::vector<std::string> lines;
    unzip.ListArchive(path, lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 8), "doc.kml\t");
    EXPECT_EQ(ResolveKmlPath(path, dir.File("w/"), unzip), dir.File("w/doc.kml"));
    EXPECT_EQ(ReadText(dir.File("w/doc.kml")), kKml);
}

TEST(UUnZip, DamagedAndTruncatedEntries)
{
    TScratchDir dir;
    const std::string work = dir.File("w/");
    TCollectingUnZip z;
    // Altered data: the message, the file stays, the path is returned.
    TZipEntrySpec altered{"doc.kml", kKml, 0, 0, Crc32Of(kKml) ^ 1, uint32_t(kKml.size())};
    std::string path = WriteArchive(dir, "crc.kmz", TZipBuilder().Add(altered).Build());
    EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), work + "doc.kml");
    EXPECT_EQ(ReadText(work + "doc.kml"), kKml);
    char expected[160];
    std::snprintf(expected, sizeof expected, "File %sdoc.kml has bad CRC! Stored CRC is %x, computed CRC is %x.",
                  work.c_str(), Crc32Of(kKml) ^ 1, Crc32Of(kKml));
    EXPECT_EQ(z.messages, std::vector<std::string>{expected});

    // A deflated entry cut short: false, and the old document is gone.
    std::string full = TZipBuilder().Deflated("doc.kml", std::string(5000, 'q') + kKml).Build(false);
    path = WriteArchive(dir, "cut.kmz", full.substr(0, full.size() - 20));
    EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), "");
    z.unzip.ArcName = path;
    EXPECT_FALSE(z.unzip.Extract());

    // A header claiming 4 GiB over a few bytes costs no memory and fails.
    TZipEntrySpec bomb{"doc.kml", RawDeflate("tiny"), 8, 0, 0, 0xFFFFFFFFu};
    path = WriteArchive(dir, "bomb.kmz", TZipBuilder().Add(bomb).Build());
    EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), "");
    EXPECT_LE(ReadBytes(work + "doc.kml").size(), 4u);

    // An unknown method: the message, an empty target, and no document.
    z.messages.clear();
    TZipEntrySpec unknown{"doc.kml", "xyz", 99, 0, 0, 3};
    path = WriteArchive(dir, "m.kmz", TZipBuilder().Add(unknown).Build());
    EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), "");
    EXPECT_EQ(z.messages, std::vector<std::string>{"Unknown compress method (99) used on doc.kml ! Skip next..."});
    EXPECT_EQ(ReadBytes(work + "doc.kml").size(), 0u);
}

TEST(UUnZip, OldDocumentIsDeletedFirst)
{
    TScratchDir dir;
    const std::string work = dir.File("w/");
    mkdir(work.c_str(), 0777);
    WriteText(work + "doc.kml", "old document");
    TZipEntrySpec unknown{"doc.kml", "xyz", 7, 0, 0, 3};
    TCollectingUnZip z;
    // Method 7 leaves no target: the old file must not pass for the result.
    z.unzip.Overwrite = false;
    EXPECT_EQ(ResolveKmlPath(WriteArchive(dir, "a.kmz", TZipBuilder().Add(unknown).Build()), work, z.unzip), "");
    EXPECT_NE(ReadText(work + "doc.kml"), "old document");
}

TEST(UUnZip, UnsafeEntriesAreNeverWrittenOutsideTheWorkFolder)
{
    TScratchDir dir;
    const std::string work = dir.File("a/b/work/");
    std::filesystem::create_directories(work);
    std::filesystem::create_directory_symlink(dir.Path(), work + "link");
    TCollectingUnZip z;
    struct Row {
        std::string name;
        std::string extractMessage; // from a plain extraction of every entry
    };
    const Row rows[] = {
        {"../../doc.kml", "Unsafe entry name ../../doc.kml, skipped"},
        {"../../../doc.kml", "Unsafe entry name ../../../doc.kml, skipped"},
        {dir.File("doc.kml"), "Unsafe entry name " + dir.File("doc.kml") + ", skipped"},
        {"a\\..\\doc.kml", "Unsafe entry name a\\..\\doc.kml, skipped"},
        {"C:doc.kml", "Unsafe entry name C:doc.kml, skipped"},
        {"link/doc.kml", "Incorrect path or not found"}, // a link is no folder to write into
    };
    for (const Row& row : rows) {
        z.messages.clear();
        std::string path = WriteArchive(dir, "u.kmz", TZipBuilder().Stored(row.name, kKml).Build());
        EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), "") << row.name;
        EXPECT_EQ(z.messages, std::vector<std::string>{"Unsafe entry name " + row.name + ", skipped"});
        z.messages.clear();
        z.unzip.ArcName = path;
        z.unzip.SetExtrPath(work);
        z.unzip.Files = {row.name};
        EXPECT_TRUE(z.unzip.Extract());
        ASSERT_EQ(z.unzip.Extracted.size(), 1u);
        EXPECT_FALSE(z.unzip.Extracted[0].Written);
        EXPECT_EQ(z.messages, std::vector<std::string>{row.extractMessage}) << row.name;
    }
    EXPECT_FALSE(FileExists(dir.File("doc.kml")));
    EXPECT_FALSE(FileExists(dir.File("a/doc.kml")));
    EXPECT_FALSE(FileExists(dir.File("a/b/doc.kml")));
}

TEST(UUnZip, MessagesProgressAndDefaultChannel)
{
    TScratchDir dir;
    std::string path = WriteArchive(dir, "a.zip",
                                    "JUNK" + TZipBuilder().Stored(std::string(300, 'n'), "x").Build());
    TCollectingUnZip z;
    std::vector<int16_t> progress;
    z.unzip.OnProgress = [&](TUnZip&, int16_t p) { progress.push_back(p); };
    z.unzip.ArcName = WriteArchive(dir, "p.zip", TZipBuilder().Stored("p.txt", std::string(200, 'p')).Build());
    z.unzip.SetExtrPath(dir.File("out"));
    EXPECT_EQ(z.unzip.ExtrPath(), dir.File("out/"));
    EXPECT_TRUE(z.unzip.Extract());
    ASSERT_EQ(progress.size(), 200u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress[100], 50);
    EXPECT_EQ(progress.back(), 100); // 100 - round(1 * 100 / 200) rounds to even
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    // Junk before the first header: the damaged-header message, then the walk goes on.
    z.unzip.ArcName = path;
    z.unzip.OnProgress = nullptr;
    EXPECT_TRUE(z.unzip.Extract());
    EXPECT_EQ(z.messages.front(), "Header missing or damaged in " + path);

    std::vector<std::string> warnings;
    auto saved = ZipWarningHandler;
    ZipWarningHandler = [&](const std::string& m) { warnings.push_back(m); };
    TUnZip plain;
    plain.Report("hello");
    ZipWarningHandler = saved;
    EXPECT_EQ(warnings, std::vector<std::string>{"hello"});
    // A missing archive is no error: nothing to do.
    plain.ArcName = dir.File("none.zip");
    EXPECT_TRUE(plain.Extract());
}

namespace {

// Extracts every entry of a real archive; returns "name crc-ok written" lines.
std::string ExtractAll(const std::string& archive, const std::string& into, std::vector<std::string>* messages = nullptr)
{
    TCollectingUnZip z;
    z.unzip.ArcName = archive;
    z.unzip.SetExtrPath(into);
    z.unzip.Overwrite = true;
    EXPECT_TRUE(z.unzip.Extract()) << archive;
    std::string out;
    for (const TExtractedEntry& e : z.unzip.Extracted)
        out += e.Name + (e.CrcMatches ? " ok" : " BAD") + (e.Written ? "\n" : " unwritten\n");
    if (messages)
        *messages = z.messages;
    else
        EXPECT_TRUE(z.messages.empty()) << archive << ": " << z.messages[0];
    return out;
}

std::string Legacy(const std::string& name)
{
    return SharedDir() + "/testdata/legacy-zip/" + name;
}

} // namespace

TEST(ULegacyDecoders, RealArchivesExtractWithTheirCrc)
{
    if (!FileExists(Legacy("SOURCES.txt")))
        GTEST_SKIP() << "no legacy archives";
    struct Row {
        const char* archive;
        const char* expected;
    };
    const Row rows[] = {
        {"commons-compress/SHRUNK.ZIP", "TEST1.XML ok\nTEST2.XML ok\n"},
        {"commons-compress/imploding-4Kdict-2trees.zip", "HEADER.TXT ok\n"},
        {"commons-compress/imploding-8Kdict-3trees.zip", "LICENSE.TXT ok\n"},
        {"commons-compress/lorem-ipsum-implode.zip", "LOREM.TXT ok\n"},
        {"sharpcompress/Zip.shrink.zip", "TECT.TXT ok\nTEST.EXE ok\nTEST.JPG ok\n"},
        {"sharpcompress/Zip.reduce1.zip", "TECT.TXT ok\nTEST.EXE ok\nTEST.JPG ok\n"},
        {"sharpcompress/Zip.reduce2.zip", "TECT.TXT ok\nTEST.EXE ok\nTEST.JPG ok\n"},
        {"sharpcompress/Zip.reduce3.zip", "TECT.TXT ok\nTEST.EXE ok\nTEST.JPG ok\n"},
        {"sharpcompress/Zip.reduce4.zip", "TECT.TXT ok\nTEST.EXE ok\nTEST.JPG ok\n"},
        {"oldunzip/example-s.zip", "S.BIN ok\n"},
        {"oldunzip/example-r.zip", "R.BIN ok\n"},
        {"oldunzip/example-i.zip", "I.BIN ok\n"},
        {"libarchive/test_compat_zip_implode.zip", "EDIT.ZIP ok\n4MAP.DOC ok\n4MAP.EXE ok\nPUTMAP.EXE ok\nMAPDEF ok\n"},
        {"libarchive/test_compat_zip_implode_realloc.zip", "VALIDATE.TXT ok\nVALIDATE.C ok\nMAKEFILE ok\n"},
        {"zip2/shrink.zip", "FIRST.TXT ok\n"},
        {"zip2/reduce.zip", "first.txt ok\n"},
        {"zip2/implode.zip", "first.txt ok\n"},
    };
    for (const Row& row : rows) {
        TScratchDir out;
        EXPECT_EQ(ExtractAll(Legacy(row.archive), out.Path()), row.expected) << row.archive;
        if (std::string(row.archive).rfind("zip2/", 0) == 0) {
            const std::string name = std::string(row.expected).substr(0, 9);
            EXPECT_EQ(ReadText(out.File(name)), ReadText(Legacy("zip2/first.txt"))) << row.archive;
        }
        if (std::string(row.archive) == "commons-compress/SHRUNK.ZIP") {
            EXPECT_EQ(ReadText(out.File("TEST1.XML")), ReadText(Legacy("commons-compress/test1.xml")));
            EXPECT_EQ(ReadText(out.File("TEST2.XML")), ReadText(Legacy("commons-compress/test2.xml")));
        }
    }
    TScratchDir moby;
    std::string all = ExtractAll(Legacy("commons-compress/moby-imploded.zip"), moby.Path());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 135);
    EXPECT_EQ(all.find("BAD"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(moby.File("moby.0").c_str(), &st), 0);
    std::tm when{};
    localtime_r(&st.st_mtime, &when); // 24 July 1985, 22:40 in the header
    EXPECT_EQ(when.tm_year, 85);
    EXPECT_EQ(when.tm_mday, 24);
    EXPECT_EQ(when.tm_hour, 22);
}

TEST(ULegacyDecoders, ManyFormatsAndUnknownMethods)
{
    if (!FileExists(Legacy("SOURCES.txt")))
        GTEST_SKIP() << "no legacy archives";
    TScratchDir out;
    std::vector<std::string> messages;
    std::string result = ExtractAll(Legacy("zip-ada/many_formats.zip"), out.Path(), &messages);
    EXPECT_EQ(result, "$00store.tmp ok\n$01PK090.TMP ok\n$02PK090.TMP ok\n$03PK090.TMP ok\n$04PK090.TMP ok\n"
                      "$05PK090.TMP ok\n$06PK101.TMP ok\n$07PK110.TMP ok\n$11PK204.TMP ok\n$12PK250.TMP ok\n"
                      "$13_kzip.tmp ok\n$14_df64.tmp BAD unwritten\n$15_bzp2.tmp BAD unwritten\n"
                      "$16_lzma.tmp BAD unwritten\n");
    EXPECT_EQ(messages, (std::vector<std::string>{"Unknown compress method (9) used on $14_df64.tmp ! Skip next...",
                                                  "Unknown compress method (12) used on $15_bzp2.tmp ! Skip next...",
                                                  "Unknown compress method (14) used on $16_lzma.tmp ! Skip next..."}));
    EXPECT_EQ(ReadText(out.File("$05PK090.TMP")), ReadText(out.File("$00store.tmp")));
    EXPECT_EQ(ReadBytes(out.File("$14_df64.tmp")).size(), 0u);
}

TEST(ULegacyDecoders, ImplodeFlagsWithoutARealArchive)
{
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "line " + std::to_string(i % 37) + " of the imploded test text, again and again\n";
    text += std::string(600, 'z'); // a match longer than 63 + the minimum
    for (uint16_t flags : {uint16_t(0x2), uint16_t(0x4), uint16_t(0x0), uint16_t(0x6)}) {
        TScratchDir dir;
        TZipEntrySpec entry{"i.txt", Implode(text, flags), 6, flags, Crc32Of(text), uint32_t(text.size())};
        std::string path = WriteArchive(dir, "i.zip", TZipBuilder().Add(entry).Build());
        // Debian's unzip, an independent decoder, must accept the test archive first.
        int status = -1;
        std::string check = RunCommand("unzip -t '" + path + "' 2>&1", &status);
        ASSERT_EQ(status, 0) << "flags " << flags << ": " << check;
        EXPECT_EQ(ExtractAll(path, dir.File("out")), "i.txt ok\n") << "flags " << flags;
        EXPECT_EQ(ReadText(dir.File("out/i.txt")), text);
    }
}

TEST(ULegacyDecoders, ShrinkBindingCodeAndHostileStreams)
{
    // 9-bit codes, first bit lowest: 'A', 256, 3 (a bad binding), 'B', 257 ("AB").
    TBitWriter w;
    for (uint32_t code : {65u, 256u, 3u, 66u, 257u})
        w.Put(code, 9);
    const std::string expected = "ABAB";
    TScratchDir dir;
    TZipEntrySpec entry{"s.txt", w.out_, 1, 0, Crc32Of(expected), uint32_t(expected.size())};
    std::vector<std::string> messages;
    std::string result = ExtractAll(WriteArchive(dir, "s.zip", TZipBuilder().Add(entry).Build()), dir.File("o"), &messages);
    EXPECT_EQ(result, "s.txt ok\n");
    EXPECT_EQ(messages, std::vector<std::string>{"Bad binding code! Continue..."});
    EXPECT_EQ(ReadText(dir.File("o/s.txt")), expected);

    // Codes widened past 13 bits give a code above 8191: reported, decoding stops.
    TBitWriter wide;
    wide.Put(65, 9);
    int size = 9;
    for (int i = 0; i < 5; ++i, ++size) {
        wide.Put(256, size);
        wide.Put(1, size);
    }
    wide.Put(16000, size);
    wide.Put(66, size);
    TZipEntrySpec bad{"w.txt", wide.out_, 1, 0, Crc32Of("A"), 1};
    ExtractAll(WriteArchive(dir, "w.zip", TZipBuilder().Add(bad).Build()), dir.File("o"), &messages);
    EXPECT_EQ(messages, std::vector<std::string>{"Code is bad !"});
    EXPECT_EQ(ReadText(dir.File("o/w.txt")), "A");

    // An implode entry whose trees are not trees.
    TZipEntrySpec noTree{"t.txt", std::string("\x00\x11", 2), 6, 0, 0, 10};
    ExtractAll(WriteArchive(dir, "t.zip", TZipBuilder().Add(noTree).Build()), dir.File("o"), &messages);
    EXPECT_EQ(messages.front(), "Bad Shannon-Fano decode tree !");
}

TEST(UUnZip, RepeatedMessagesOfOneExtractionComeOnce)
{
    TScratchDir dir;
    std::string junk;
    for (int i = 0; i < 50; ++i)
        junk += std::string(40, char('a' + i % 26));
    TCollectingUnZip z;
    z.unzip.ArcName = WriteArchive(dir, "j.zip", junk);
    z.unzip.SetExtrPath(dir.File("o"));
    EXPECT_TRUE(z.unzip.Extract());
    // Every 40-byte run is read as a header with a huge name length.
    const std::vector<std::string> once{"Header missing or damaged in " + z.unzip.ArcName, "Invalid file name!"};
    EXPECT_EQ(z.messages, once);
    EXPECT_TRUE(z.unzip.Extract()); // a new extraction reports again
    EXPECT_EQ(z.messages.size(), 4u);
}

namespace {

// Python's zipfile as a writer that cannot seek (on a pipe: sizes and CRC
// in data descriptors), or on a seekable file; "64" asks for force_zip64.
const char* const kPythonZipWriter = R"(import io, sys, zipfile
out, how, method, doc = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
class Pipe(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
compression = zipfile.ZIP_DEFLATED if method == 'deflated' else zipfile.ZIP_STORED
with open(out, 'wb') as raw:
    with zipfile.ZipFile(Pipe(raw) if how.startswith('pipe') else raw, 'w', compression=compression) as z:
        for name, data in (('files/icon.png', b'PNG' * 3000), ('doc.kml', open(doc, 'rb').read())):
            with z.open(name, 'w', force_zip64=how.endswith('64')) as f:
                f.write(data)
)";

std::string Placemarks(int count)
{
    std::string text = "<kml><Document>";
    for (int i = 0; i < count; ++i)
        text += "<Placemark><name>P" + std::to_string(i) + "</name><Point><coordinates>" + std::to_string(i % 90) +
                ",1</coordinates></Point></Placemark>\n";
    return text + "</Document></kml>";
}

// Converts input as the open command does, in work; the point count, or
// -1 when no document came of it or the job failed.
int ConvertPoints(const std::string& input, const std::string& work)
{
    TUnZip unzip;
    unzip.OnError = [](TUnZip&, const std::string&) {};
    std::string kml;
    try {
        kml = ResolveKmlPath(input, work, unzip);
    } catch (const std::exception&) {
        return -1;
    }
    if (kml.empty())
        return -1;
    TRecordingView view;
    TMyInfoParser layers;
    layers.SetDefaults();
    TConversionJob job(layers, view, work);
    job.Begin(kml, ExtractFileName(input));
    try {
        job.RunJob();
    } catch (const std::exception&) {
        return -1;
    }
    return PointLayer.Count;
}

} // namespace

TEST(UUnZip, StreamedZip64AndEncryptedEntries)
{
    TScratchDir dir;
    const std::string text = Placemarks(300);
    WriteText(dir.File("doc.kml"), text);
    WriteText(dir.File("zipwriter.py"), kPythonZipWriter);
    auto python = [&](const std::string& name, const char* how, const char* method) {
        int status = -1;
        RunCommand("/usr/bin/python3 " + dir.File("zipwriter.py") + " " + dir.File(name) + " " + how + " " + method +
                       " " + dir.File("doc.kml") + " 2>&1",
                   &status);
        EXPECT_EQ(status, 0) << name;
        return dir.File(name);
    };
    int status = -1;
    RunCommand("cd " + dir.Path() + " && zip -q -P secret enc.kmz doc.kml 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::string icon(5000, 'i');
    auto streamed = [](TZipEntrySpec e, bool signature = true) {
        e.streamed = true;
        e.descriptorSignature = signature;
        return e;
    };
    auto zip64 = [](TZipEntrySpec e) {
        e.zip64 = true;
        return e;
    };
    const TZipEntrySpec deflatedDoc{"doc.kml", RawDeflate(text), 8, 0, Crc32Of(text), text.size()};
    const TZipEntrySpec storedDoc{"doc.kml", text, 0, 0, Crc32Of(text), text.size()};
    const TZipEntrySpec deflatedIcon{"files/icon.png", RawDeflate(icon), 8, 0, Crc32Of(icon), icon.size()};
    TZipEntrySpec encrypted = deflatedDoc;
    encrypted.flags = 1;
    auto archive = [&](const char* name, const TZipBuilder& builder, bool directory = true) {
        return WriteArchive(dir, name, builder.Build(directory));
    };
    const std::string sizesMissing = "Entry doc.kml gives its sizes only after its data, and no central directory "
                                     "gives them: it cannot be extracted, nor anything after it";
    const std::string isEncrypted = "Entry doc.kml is encrypted: it cannot be extracted";
    struct Row {
        std::string label;
        std::string archive;
        bool extracted;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {"python pipe stored", python("ps.kmz", "pipe", "stored"), true, {}},
        {"python pipe deflated", python("pd.kmz", "pipe", "deflated"), true, {}},
        {"python pipe zip64", python("pz.kmz", "pipe64", "deflated"), true, {}},
        {"python zip64", python("z.kmz", "seek64", "deflated"), true, {}},
        {"zip64 stored", archive("z1.kmz", TZipBuilder().Add(zip64(deflatedIcon)).Add(zip64(storedDoc))), true, {}},
        {"descriptor without signature",
         archive("d1.kmz", TZipBuilder().Add(streamed(deflatedIcon, false)).Add(streamed(deflatedDoc, false)), false),
         true, {}},
        {"zip64 descriptor", archive("d2.kmz", TZipBuilder().Add(zip64(streamed(deflatedIcon))).Add(zip64(streamed(deflatedDoc))), false),
         true, {}},
        {"stored and streamed, no directory", archive("s1.kmz", TZipBuilder().Add(streamed(storedDoc)), false), false,
         {sizesMissing}},
        {"zip -P", dir.File("enc.kmz"), false, {isEncrypted}},
        {"encryption flag", archive("e1.kmz", TZipBuilder().Add(encrypted)), false, {isEncrypted}},
    };
    for (const Row& row : rows) {
        TScratchDir work;
        TCollectingUnZip z;
        EXPECT_EQ(ResolveKmlPath(row.archive, work.Path(), z.unzip), row.extracted ? work.File("doc.kml") : "")
            << row.label;
        if (row.extracted) {
            EXPECT_EQ(ReadText(work.File("doc.kml")), text) << row.label;
        } else {
            EXPECT_FALSE(FileExists(work.File("doc.kml"))) << row.label;
        }
        EXPECT_EQ(z.messages, row.messages) << row.label;
    }
    // Python on a pipe really streams, and the listing shows the sizes of
    // the descriptors, not the zeros of the local headers.
    for (const char* name : {"ps.kmz", "pd.kmz", "pz.kmz"}) {
        EXPECT_NE(ReadBytes(dir.File(name))[6] & 0x08, 0) << name;
        TUnZip unzip;
        std::vector<std::string> lines;
        unzip.ListArchive(dir.File(name), lines);
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[1].substr(0, 8 + std::to_string(text.size()).size() + 1),
                  "doc.kml\t" + std::to_string(text.size()) + "\t")
            << name;
        EXPECT_EQ(unzip.Listed[1].Crc, Crc32Of(text)) << name;
    }
}

TEST(UUnZip, HostileArchivesLeaveTheWorkFolderUsable)
{
    TScratchDir dir;
    const std::string work = dir.File("work/");
    WriteText(dir.File("plain.kml"), kKml);
    const std::string good = WriteArchive(dir, "good.kmz", TZipBuilder().Deflated("doc.kml", kKml).Build());
    const std::string big(200000, 'b');
    TZipEntrySpec shrunk{"doc.kml", ShrinkBomb(1000), 1, 0, Crc32Of("A"), 1};
    TZipEntrySpec zeros4G{"big/doc.kml", ZeroBomb(256), 8, 0, 0, uint64_t(4) << 30};
    zeros4G.zip64 = true;
    TZipEntrySpec streamedZeros{"doc.kml", ZeroBomb(1), 8, 0, 0, 16 << 20};
    streamedZeros.streamed = true;
    const std::string deflated = TZipBuilder().Deflated("doc.kml", std::string(5000, 'q') + kKml).Build(false);
    TZipEntrySpec streamedCut{"doc.kml", RawDeflate(std::string(5000, 'q') + kKml), 8};
    streamedCut.streamed = true;
    const std::string cut = TZipBuilder().Add(streamedCut).Build(false);
    const std::string folderMessage = " would stand where a conversion needs a file";
    struct Row {
        std::string label;
        std::string archive;
        std::string result; // the entry whose path comes back, or ""
        std::string content; // of that entry's file
        std::vector<std::string> messages;
        std::vector<std::string> absent; // in the work folder afterwards
        uint64_t limit = kDefaultMaxEntrySize;
        std::function<void()> setup = {};
    };
    const Row rows[] = {
        {"folder entry named doc.kml",
         TZipBuilder().Stored("doc.kml/", "").Stored("doc.kml/x.kml", kKml).Build(), "", "",
         {"Entry doc.kml/x.kml is not extracted: its folder doc.kml" + folderMessage}, {"doc.kml"}},
        {"folder named like a layer file", TZipBuilder().Stored("kml_tmp1.$m/doc.kml", kKml).Build(), "", "",
         {"Entry kml_tmp1.$m/doc.kml is not extracted: its folder kml_tmp1.$m" + folderMessage}, {"kml_tmp1.$m/doc.kml"}},
        {"folder named like a document", TZipBuilder().Stored("files/Doc.kml/doc.kml", kKml).Build(), "", "",
         {"Entry files/Doc.kml/doc.kml is not extracted: its folder files/Doc.kml" + folderMessage}, {"files"}},
        {"entries of like names",
         TZipBuilder().Stored("doc.kml", kKml).Stored("doc.1.kml", "1").Stored("DOC.KmL", "2").Stored("doc.kml", "3").Build(),
         "doc.kml", kKml, {}, {"doc.1.kml", "DOC.KmL"}},
        {"wildcards in the chosen name",
         TZipBuilder().Stored("*doc.kml", kKml).Stored("a.kml", big).Stored("b.kml", big).Build(), "*doc.kml", kKml,
         {}, {"a.kml", "b.kml"}},
        {"shrunk far past its stated size", TZipBuilder().Add(shrunk).Build(), "doc.kml", "A",
         {"Entry doc.kml decodes to more than its stated size of 1 byte: the rest was not extracted"}, {}},
        {"4 GiB stated in ZIP64", TZipBuilder().Add(zeros4G).Build(), "", "",
         {"Entry big/doc.kml states 4294967296 bytes, more than the limit of 2147483648 bytes: not extracted"},
         {"big"}},
        {"streamed, the directory states more than the limit", TZipBuilder().Add(streamedZeros).Build(), "", "",
         {"Entry doc.kml states 16777216 bytes, more than the limit of 1048576 bytes: not extracted"}, {"doc.kml"},
         uint64_t(1) << 20},
        {"streamed past the limit", TZipBuilder().Add(streamedZeros).Build(false), "", "",
         {"Entry doc.kml decodes to more than the limit of 1048576 bytes: stopped, and the partial file removed"},
         {"doc.kml"}, uint64_t(1) << 20},
        {"deflated data cut short", deflated.substr(0, deflated.size() - 20), "", "",
         {"The deflated data of doc.kml gives fewer bytes than its header claims"}, {"doc.kml"}},
        {"streamed data cut short", cut.substr(0, cut.size() - 30), "", "",
         {"The deflated data of doc.kml ends before its stream does"}, {"doc.kml"}},
        {"a file where a folder is needed", TZipBuilder().Stored("files/doc.kml", kKml).Build(), "", "",
         {"Incorrect path or not found"}, {}, kDefaultMaxEntrySize, [&] { WriteText(work + "files", "x"); }},
    };
    for (const Row& row : rows) {
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        ASSERT_EQ(ConvertPoints(dir.File("plain.kml"), work), 1);
        if (row.setup)
            row.setup();
        TCollectingUnZip z;
        z.unzip.MaxEntrySize = row.limit;
        const std::string path = WriteArchive(dir, "hostile.kmz", row.archive);
        EXPECT_EQ(ResolveKmlPath(path, work, z.unzip), row.result.empty() ? "" : work + row.result) << row.label;
        EXPECT_EQ(z.messages, row.messages) << row.label;
        for (const std::string& name : row.absent)
            EXPECT_FALSE(FileExists(work + name)) << row.label << ": " << name;
        if (!row.result.empty()) {
            EXPECT_EQ(ReadText(work + row.result), row.content) << row.label;
        }
        EXPECT_LT(FolderBytes(work), 100000u) << row.label;
        // Nothing left behind stops the next conversions.
        EXPECT_EQ(ConvertPoints(dir.File("plain.kml"), work), 1) << row.label;
        EXPECT_EQ(ConvertPoints(good, work), 1) << row.label;
        EXPECT_EQ(ReadText(work + "doc.kml"), kKml) << row.label;
    }
    // A folder found where the document goes is named, not "File access denied".
    std::filesystem::remove(work + "doc.kml");
    std::filesystem::create_directories(work + "doc.kml");
    TCollectingUnZip z;
    try {
        ResolveKmlPath(good, work, z.unzip);
        ADD_FAILURE() << "no error for the folder doc.kml";
    } catch (const EQuarvexError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot delete \"" + work + "doc.kml\": it is a folder, not a file");
    }
    z.unzip.ArcName = good;
    z.unzip.SetExtrPath(work);
    z.unzip.Overwrite = true;
    z.unzip.Files = {"doc.kml"};
    EXPECT_TRUE(z.unzip.Extract());
    EXPECT_EQ(z.messages, std::vector<std::string>{"Cannot extract doc.kml: a folder named " + work + "doc.kml is in its way"});
}

TEST(ULegacyDecoders, EveryDecoderStopsAtTheStatedSize)
{
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "line " + std::to_string(i % 7) + " of the text that goes on past its stated size\n";
    const std::string head = text.substr(0, 10);
    TBitWriter literals; // shrunk: every byte as a 9-bit literal code
    for (char c : text)
        literals.Put(uint8_t(c), 9);
    const std::string reduced = std::string(192, '\0') + text; // no follower sets: bytes as they are
    struct Row {
        const char* label;
        uint16_t method;
        std::string data;
        uint16_t flags = 0;
    };
    const Row rows[] = {
        {"stored", 0, text},
        {"deflated", 8, RawDeflate(text)},
        {"shrunk", 1, literals.out_},
        {"reduced", 2, reduced},
        {"reduced, factor 4", 5, reduced},
        {"imploded", 6, Implode(text, 0), 0},
        {"imploded, 8K and three trees", 6, Implode(text, 6), 6},
    };
    for (const Row& row : rows) {
        TScratchDir dir;
        TZipEntrySpec entry{"e.txt", row.data, row.method, row.flags, Crc32Of(head), head.size()};
        std::vector<std::string> messages;
        EXPECT_EQ(ExtractAll(WriteArchive(dir, "e.zip", TZipBuilder().Add(entry).Build()), dir.File("o"), &messages),
                  "e.txt ok\n")
            << row.label;
        EXPECT_EQ(ReadText(dir.File("o/e.txt")), head) << row.label;
        EXPECT_EQ(messages,
                  std::vector<std::string>{"Entry e.txt decodes to more than its stated size of 10 bytes: the rest was not extracted"})
            << row.label;
        // Stated in full, the same data gives the text without a message.
        TZipEntrySpec whole{"e.txt", row.data, row.method, row.flags, Crc32Of(text), text.size()};
        EXPECT_EQ(ExtractAll(WriteArchive(dir, "w.zip", TZipBuilder().Add(whole).Build()), dir.File("w")), "e.txt ok\n")
            << row.label;
        EXPECT_EQ(ReadText(dir.File("w/e.txt")), text) << row.label;
    }
}

namespace {

// The shrink decoder as it was first written, with the partial clear that
// scans the whole table three times: the reference for the decoder's clear,
// which costs only what it frees.
class TReferenceUnShrink {
public:
    TReferenceUnShrink()
    {
        for (int c = 0; c < 8192; ++c)
            prefix_[c] = c < 257 ? 0 : -1;
    }
    bool IsLive(int code) const { return code < 256 || (code > 256 && code < 8192 && prefix_[code] != -1); }
    int NextFree() const { return nextFree_; }
    int Previous() const { return previous_; }
    void Clear()
    {
        bool referenced[8192] = {};
        for (int c = 257; c < 8192; ++c)
            if (prefix_[c] >= 257)
                referenced[prefix_[c]] = true;
        for (int c = 257; c < 8192; ++c)
            if (!referenced[c])
                prefix_[c] = -1;
        nextFree_ = Lowest(257);
    }
    // Decodes one code other than 256; false where decoding stops.
    bool Code(int code)
    {
        std::string s;
        if (IsLive(code)) {
            if (!String(code, 0, s))
                return false;
        } else if (code == nextFree_ && previous_ >= 0) {
            if (!String(previous_, 1, s))
                return false;
            s += s[0];
        } else {
            return false;
        }
        Out += s;
        if (previous_ >= 0 && nextFree_ < 8192) {
            prefix_[nextFree_] = int16_t(previous_);
            suffix_[nextFree_] = uint8_t(s[0]);
            nextFree_ = Lowest(nextFree_ + 1);
        }
        previous_ = code;
        return true;
    }
    std::string Out;

private:
    int Lowest(int from) const
    {
        while (from < 8192 && prefix_[from] != -1)
            ++from;
        return from;
    }
    // The string of code; false when it is longer than 8192 - extra bytes.
    bool String(int code, size_t extra, std::string& s) const
    {
        std::string reversed;
        while (code >= 257) {
            if (reversed.size() + extra == 8192)
                return false;
            reversed += char(suffix_[code]);
            code = prefix_[code];
        }
        if (reversed.size() + extra == 8192)
            return false;
        reversed += char(code);
        s.assign(reversed.rbegin(), reversed.rend());
        return true;
    }

    int16_t prefix_[8192];
    uint8_t suffix_[8192] = {};
    int nextFree_ = 257;
    int previous_ = -1;
};

} // namespace

TEST(ULegacyDecoders, PartialClearsFreeWhatAFullScanFrees)
{
    // Random code streams: literals of a small alphabet (long strings), live
    // codes, the code being defined, partial clears (one seed with a flood
    // of them, one with none, so that the table fills) and widenings;
    // decoded by both and compared byte for byte.
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        TBitWriter w;
        TReferenceUnShrink reference;
        int size = 9;
        for (int step = 0; step < 12000; ++step) {
            const unsigned r = rng() % 100;
            const int clears = seed == 7 && step == 9000 ? 3000 : r < 2 && seed != 59 ? 1 : 0; // 59 fills the table
            if (clears > 0) {
                // Odd seeds clear after a literal, as an encoder would; even
                // ones after any code, which may be freed while it is the
                // previous code (hostile data).
                if (seed % 2 == 1) {
                    w.Put('a', size);
                    if (!reference.Code('a'))
                        break;
                }
                for (int i = 0; i < clears; ++i) {
                    w.Put(256, size);
                    w.Put(2, size);
                    reference.Clear();
                }
                continue;
            }
            if (r < 6 && size < 13) {
                w.Put(256, size);
                w.Put(1, size);
                ++size;
                continue;
            }
            int code = 'a' + int(rng() % 4);
            if (r >= 40 && reference.Previous() >= 0) {
                code = r < 50 ? reference.NextFree() : 257 + int(rng() % uint32_t((1 << size) - 257));
                if (!reference.IsLive(code))
                    code = reference.NextFree();
            }
            if (code >= (1 << size))
                code = 'a';
            w.Put(uint32_t(code), size);
            if (!reference.Code(code))
                break;
        }
        const std::string& expected = reference.Out;
        TScratchDir dir;
        TZipEntrySpec entry{"s.txt", w.out_, 1, 0, Crc32Of(expected), expected.size()};
        std::vector<std::string> messages;
        ExtractAll(WriteArchive(dir, "s.zip", TZipBuilder().Add(entry).Build()), dir.File("o"), &messages);
        ASSERT_EQ(ReadText(dir.File("o/s.txt")), expected) << "seed " << seed;
    }
}

TEST(UUnZip, TheDefaultChannelPrintsAWholeMessage)
{
    EXPECT_EQ(PrintableMessage(std::string("Unsafe entry name a\0b\x1b[2J, skipped", 34)),
              "Unsafe entry name a\\x00b\\x1B[2J, skipped");
    TScratchDir dir;
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = ::open(dir.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, STDERR_FILENO);
    ZipWarningHandler(std::string("name a\0b.kml", 12));
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(ReadText(dir.File("err")), "Warning: name a\\x00b.kml\n");
}
