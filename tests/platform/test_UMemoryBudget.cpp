#include "platform/UMemoryBudget.h"

#include "kml/UParse.h"
#include "platform/UErrors.h"
#include "support/RecordingView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
