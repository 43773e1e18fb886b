#include "kml/kmz/UResolveKml.h"
#include "kml/kmz/UUnZip.h"

#include "ImplodeEncoder.h"
#include "support/TestSupport.h"
#include "platform/UErrors.h"
#include "support/ZipBuilder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
