#include "platform/UMemoryBudget.h"

#include "kml/UParse.h"
#include "platform/UErrors.h"
#include "support/RecordingView.h"
#include "kml/kmz/UResolveKml.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace quarvex;
using quarvex::test::TRecordingView;
using quarvex::test::TScratchDir;

namespace {

// While alive, the memory check sees `available` bytes.
struct TAvailableMemory {
    explicit TAvailableMemory(uint64_t available) : saved(AvailableMemoryProbe)
    {
        AvailableMemoryProbe = [available] { return available; };
    }
    ~TAvailableMemory() { AvailableMemoryProbe = saved; }
    std::function<uint64_t()> saved;
};

} // namespace

TEST(UMemoryBudget, MemAvailableAndSizes)
{
    const struct {
        const char* meminfo;
        uint64_t bytes;
    } rows[] = {
        {"MemTotal:       24683752 kB\nMemFree:        24174744 kB\nMemAvailable:   24369980 kB\n", 24369980ull * 1024},
        {"MemAvailable: 1 kB\n", 1024},
        {"MemTotal: 5 kB\n", 0},                   // an old kernel without the line
        {"XMemAvailable: 5 kB\n", 0},              // not the line itself
        {"MemAvailable: lots\n", 0},               // no number
        {"MemAvailable: 12\n", 0},                 // no unit
        {"MemAvailable: 9999999999999999999 kB\n", 0}, // more digits than a count of kB can have
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseMemAvailable(row.meminfo), row.bytes) << row.meminfo;
    EXPECT_GT(AvailableMemory(), 0u); // this machine's /proc/meminfo
    EXPECT_EQ(FormatByteSize(999), "999 bytes");
    EXPECT_EQ(FormatByteSize(4500000), "4.5 MB");
    EXPECT_EQ(FormatByteSize(uint64_t(4) << 30), "4.3 GB");
}

TEST(UMemoryBudget, ADocumentTooLargeForMemoryIsRefusedBeforeItIsLoaded)
{
    TScratchDir dir;
    std::string kml = "<kml>";
    for (int i = 0; i < 2000; ++i)
        kml += "<Placemark><name>P</name><Point><coordinates>1,2</coordinates></Point></Placemark>";
    kml += "</kml>";
    quarvex::test::WriteText(dir.File("big.kml"), kml);
    const uint64_t needed = uint64_t(double(kml.size()) * kDomBytesPerDocumentByte);
    {
        TAvailableMemory enough(needed);
        EXPECT_NO_THROW(CheckDomFitsInMemory(dir.File("big.kml")));
        EXPECT_NO_THROW(CheckDomFitsInMemory(dir.File("none.kml"))); // the load reports that one
        EXPECT_NO_THROW(CheckDomFitsInMemory(""));
    }
    TAvailableMemory scarce(needed - 1);
    const std::string message = "\"" + dir.File("big.kml") + "\" is too large to load: its " +
                                FormatByteSize(kml.size()) + " would need about " + FormatByteSize(needed) +
                                " of memory as a document tree, but only " + FormatByteSize(needed - 1) +
                                " are available";
    try {
        CheckDomFitsInMemory(dir.File("big.kml"));
        ADD_FAILURE() << "not refused";
    } catch (const EQuarvexError& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
    // A size an archive states may be near 2^64; its need is told whole.
    try {
        CheckDomFitsInMemory("x.kml", UINT64_MAX / 2);
        ADD_FAILURE() << "not refused";
    } catch (const EQuarvexError& e) {
        EXPECT_NE(std::string(e.what()).find(" would need about " + FormatByteSize(UINT64_MAX) + " of memory"),
                  std::string::npos)
            << e.what();
    }
    // The job refuses it before its passes: the log ends with the message and
    // the layers hold no record.
    TRecordingView view;
    TMyInfoParser layers;
    layers.SetDefaults();
    TConversionJob job(layers, view, dir.Path());
    job.Begin(dir.File("big.kml"), "big.kml");
    EXPECT_THROW(job.RunJob(), EQuarvexError);
    EXPECT_EQ(view.Log.back(), "Error: " + message);
    EXPECT_EQ(PointLayer.Count, 0);
    EXPECT_EQ(quarvex::test::ReadBytes(dir.File("kml_tmp1.$m")).size(), 100u);
}

TEST(UMemoryBudget, DocumentsOfEveryKindAreReadUnderTheRule)
{
    // With 5 MB available, 1 MB of document is the bound: a pipe is stopped
    // soon after it, an archive entry that states 5 GiB is refused before a
    // byte of it is extracted; the job's layers stay whole and empty.
    TScratchDir dir;
    const std::string work = dir.File("work/");
    std::filesystem::create_directories(work);
    std::string placemarks;
    for (int i = 0; i < 200; ++i)
        placemarks += "<Placemark><name>P</name><Point><coordinates>1,2</coordinates></Point></Placemark>";
    const std::string text = "<kml>" + placemarks + "</kml>";
    quarvex::test::TZipEntrySpec stated{"doc.kml", quarvex::test::RawDeflate(text), 8, 0,
                                        quarvex::test::Crc32Of(text), uint64_t(5) << 30};
    stated.zip64 = true;
    quarvex::test::WriteText(dir.File("big.kmz"), quarvex::test::TZipBuilder().Add(stated).Build());
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::signal(SIGPIPE, SIG_IGN);
    uint64_t written = 0;
    std::thread writer([&] { // endless KML, until the reader gives up
        ssize_t n = ::write(pipeEnds[1], "<kml>", 5);
        while ((n = ::write(pipeEnds[1], placemarks.data(), placemarks.size())) > 0)
            written += uint64_t(n);
        ::close(pipeEnds[1]);
    });
    const std::string stream = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
    struct Row {
        std::string input;
        std::string message;
    };
    TAvailableMemory scarce(5000000);
    const Row rows[] = {
        // What the pipe gave past the bound depends on how much one read gets.
        {stream, "\"" + stream + "\" is too large to load: the first 1.* MB would need about 5.* MB of memory as a "
                 "document tree, but only 5.0 MB are available"},
        {dir.File("big.kmz"), "\"doc.kml\" is too large to load: its 5.4 GB would need about "
                              "26.8 GB of memory as a document tree, but only 5.0 MB are available"},
    };
    for (const Row& row : rows) {
        std::string message;
        TRecordingView view;
        TMyInfoParser layers;
        layers.SetDefaults();
        try {
            TUnZip unzip;
            unzip.MaxEntrySize = uint64_t(6) << 30;
            const std::string kml = ResolveKmlPath(row.input, work, unzip);
            TConversionJob job(layers, view, work);
            job.Begin(kml, "input");
            job.RunJob();
        } catch (const EQuarvexError& e) {
            message = e.what();
        }
        EXPECT_TRUE(testing::internal::RE::FullMatch(message, testing::internal::RE(row.message))) << message;
        EXPECT_FALSE(quarvex::test::FileExists(work + "doc.kml")) << row.input;
    }
    ::close(pipeEnds[0]);
    writer.join();
    EXPECT_LT(written, uint64_t(1500000)); // read no further than the bound and a chunk
    EXPECT_EQ(quarvex::test::RunCommand("/usr/bin/python3 '" + quarvex::test::SourceDir() +
                                        "/tests/tools/shpdump.py' --check '" + work + "' 2>&1"),
              "layer 1 shapes 0 records 0 ok\nlayer 2 shapes 0 records 0 ok\n"
              "layer 3 shapes 0 records 0 ok\nlayer 4 shapes 0 records 0 ok\n");
}
