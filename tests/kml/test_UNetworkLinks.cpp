#include "kml/UNetworkLinks.h"
#include "kml/UParse.h"

#include "support/RecordingView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarvex;
using quarvex::test::TRecordingView;
using quarvex::test::TScratchDir;

namespace {

const std::string kMarker = "http://maps.google.com/maps/ms?";

std::string Link(const std::string& href)
{
    return "<NetworkLink><Link><href>" + href + "</href></Link></NetworkLink>";
}

std::string Kml(const std::string& body)
{
    return "<kml><Document>" + body + "</Document></kml>";
}

std::string PointPlacemark(const std::string& name, int x)
{
    return "<Placemark><name>" + name + "</name><Point><coordinates>" + std::to_string(x) +
           ",1</coordinates></Point></Placemark>";
}

// Runs a job over the text with the fixture server as the proxy.
struct TFetchJob {
    quarvex::test::TFixtureServer server;
    quarvex::test::TProxySetting proxy{server.ProxyAddress()};
    TScratchDir dir;
    TRecordingView view;
    TMyInfoParser layers;
    THttpLimits limits{2000, 1000};
    long budgetMs = 15 * 60 * 1000;
    std::string error;

    std::string Run(const std::string& text)
    {
        quarvex::test::WriteText(dir.File("input.kml"), text);
        layers.SetDefaults();
        TConversionJob job(layers, view, dir.Path());
        job.HttpLimits = limits;
        job.FetchBudgetMs = budgetMs;
        job.Begin(dir.File("input.kml"), "input.kml");
        try {
            job.RunJob();
        } catch (const std::exception& e) {
            error = e.what();
        }
        return view.LogText();
    }
};

} // namespace

TEST(UNetworkLinks, MapServiceMarker)
{
    EXPECT_TRUE(IsMapServiceAddress(kMarker + "msid=1"));
    EXPECT_TRUE(IsMapServiceAddress("see " + kMarker));
    EXPECT_FALSE(IsMapServiceAddress("https://maps.google.com/maps/ms?msid=1"));
    EXPECT_FALSE(IsMapServiceAddress("http://MAPS.google.com/maps/ms?msid=1"));
    EXPECT_FALSE(IsMapServiceAddress("http://maps.google.com/maps/ms"));
    EXPECT_EQ(ClientIdentity(), "quarvex_core_tests v1.0 qvx");
}

TEST(UNetworkLinks, WorkedExampleLogAndZidsContinuingOverTheFetchedDocument)
{
    TFetchJob job;
    std::string log = job.Run(Kml(PointPlacemark("P1", 1) + PointPlacemark("P2", 2) + PointPlacemark("P3", 3) +
                                  "<Placemark><name>L</name><LineString><coordinates>0,0 1,1</coordinates>"
                                  "</LineString></Placemark>" +
                                  Link(kMarker + "doc=two") + Link("http://other.example/a.kml")));
    EXPECT_EQ(job.error, "");
    EXPECT_EQ(log, "File: input.kml\n"
                   "      Points: 3\n      Paths: 1\n      Polygons(outer): 0\n      Polygons (inner): 0\n"
                   "\n Network Links: \n"
                   " Streaming KMLData from GoogleMaps...\n"
                   "  - " + kMarker + "doc=two\n"
                   "      Points: 2\n      Paths: 0\n      Polygons(outer): 0\n      Polygons (inner): 0\n"
                   "\n The following Links were ignored\n  - http://other.example/a.kml\n\nEnd.\n");
    EXPECT_EQ(PointLayer.Count, 5);
    std::string dump = quarvex::test::DumpLayer(job.dir.File("kml_tmp1.$m"), job.dir.File("kml_tmp1.dbf"));
    EXPECT_NE(dump.find("record 4 ZID 4 NAME 'Fetched A'\nrecord 5 ZID 5 NAME 'Fetched B'\n"), std::string::npos)
        << dump;
    std::string descr = quarvex::test::ReadText(job.dir.File("kml_tmp1.xml"));
    EXPECT_NE(descr.find("<shp zid=\"5\"><descrip>Fetched B</descrip></shp>\r\n</shapes></doc>\r\n"),
              std::string::npos);
    EXPECT_NE(job.server.RequestLog().find("GET " + kMarker + "doc=two quarvex_core_tests v1.0 qvx\n"),
              std::string::npos)
        << job.server.RequestLog();
}

TEST(UNetworkLinks, FailedFetchesAreLoggedAndTheJobGoesOn)
{
    TFetchJob job;
    std::string log = job.Run(Kml(Link(kMarker + "doc=size-280") + Link(kMarker + "doc=size-279") +
                                  Link(kMarker + "doc=size-281") + Link(kMarker + "doc=missing") +
                                  Link(kMarker + "doc=broken") + Link(kMarker + "doc=redirect") +
                                  Link(kMarker + "doc=self")));
    EXPECT_EQ(job.error, "");
    const std::string counts1 = "      Points: 1\n      Paths: 0\n      Polygons(outer): 0\n      Polygons (inner): 0\n";
    const std::string counts2 = "      Points: 2\n      Paths: 0\n      Polygons(outer): 0\n      Polygons (inner): 0\n";
    EXPECT_EQ(log.substr(log.find(" Streaming")),
              " Streaming KMLData from GoogleMaps...\n"
              "  - " + kMarker + "doc=size-280\n    * Error downloading link\n"
              "      the reply is the map service's error page (280 bytes)\n"
              "  - " + kMarker + "doc=size-279\n" + counts1 +
              "  - " + kMarker + "doc=size-281\n" + counts1 +
              "  - " + kMarker + "doc=missing\n    * Error downloading link\n"
              "      the server answered with status 404\n"
              "  - " + kMarker + "doc=broken\n    * Error reading link: " + job.dir.File("doc.kml") +
                  ": mismatched tag at line 1, column 29, near \"Document></kml>\"\n"
              "  - " + kMarker + "doc=redirect\n" + counts2 +
              "  - " + kMarker + "doc=self\n" + counts1 +
              "  - " + kMarker + "doc=two\n" + counts2 +
              "\nEnd.\n");
    EXPECT_EQ(PointLayer.Count, 7);
    // The self-linking document was fetched once.
    std::string requests = job.server.RequestLog();
    size_t first = requests.find("doc=self ");
    EXPECT_EQ(requests.find("doc=self ", first + 1), std::string::npos) << requests;
}

TEST(UNetworkLinks, AJobFetchesAtMostItsBound)
{
    TFetchJob job;
    std::string links;
    for (size_t i = 0; i < kMaxFetchedDocuments + 5; ++i)
        links += Link(kMarker + "doc=empty" + std::to_string(i));
    std::string log = job.Run(Kml(links));
    EXPECT_NE(log.find("  - " + kMarker + "doc=empty255\n"), std::string::npos);
    EXPECT_EQ(log.find("doc=empty256"), std::string::npos);
    EXPECT_NE(log.find("doc=empty255\n      Points: 0\n      Paths: 0\n      Polygons(outer): 0\n"
                       "      Polygons (inner): 0\n    * Too many network links, the rest were not fetched\n\nEnd.\n"),
              std::string::npos)
        << log.substr(log.size() - 400);
}

TEST(UNetworkLinks, DownloadFileTargets)
{
    TScratchDir dir;
    const std::string target = dir.File("doc.kml");
    quarvex::test::WriteText(target, "old");
    // Nothing listens on port 1: no reply, the target stays as it was.
    unsetenv("http_proxy");
    EXPECT_FALSE(DownloadFile("http://127.0.0.1:1/maps/ms?x", target));
    EXPECT_FALSE(DownloadFile("file:///etc/passwd", target));
    EXPECT_EQ(quarvex::test::ReadText(target), "old");

    quarvex::test::TFixtureServer server;
    std::string direct = "http://127.0.0.1:" + std::to_string(server.Port()) + "/maps/ms?doc=size-300";
    EXPECT_TRUE(DownloadFile(direct, target));
    EXPECT_EQ(quarvex::test::ReadBytes(target).size(), 300u);

    THttpLimits small;
    small.maxBodyBytes = 100;
    try {
        DownloadFile(direct, target, small);
        FAIL() << "no error";
    } catch (const EQuarvexError& e) {
        EXPECT_EQ(std::string(e.what()), "Fetching \"" + direct + "\" failed: the reply is larger than 0 MB");
    }
    // The limit was passed before a byte was written: the target is untouched.
    EXPECT_EQ(quarvex::test::ReadBytes(target).size(), 300u);
    EXPECT_THROW(DownloadFile(direct, dir.File("no/such/folder/doc.kml")), EInOutError);
}

TEST(UNetworkLinks, AServerThatMisbehavesEndsTheJobWithItsFault)
{
    // The fixture sends part of a document and then: resets the connection,
    // says nothing, sends without end, or sends a byte every 0.3 s.
    struct Row {
        const char* doc;
        const char* fault;
    };
    const Row rows[] = {
        {"reset", "the connection broke off after 150 bytes"},
        {"stall", "no data arrived for 1 s"},
        {"endless", "the reply is larger than 1 MB"},
        {"drip", "fewer than 100 bytes arrived in 1.5 s"},
    };
    for (const Row& row : rows) {
        TFetchJob job;
        job.limits.maxBodyBytes = 1 << 20;
        job.limits.speedWindowMs = 1500;
        job.limits.minBytesPerWindow = 100;
        job.limits.stallTimeoutMs = 1000;
        const std::string address = kMarker + "doc=" + row.doc;
        std::string log = job.Run(Kml(PointPlacemark("Main", 4) + Link(address) + Link(kMarker + "doc=two")));
        const std::string error = "Fetching \"" + address + "\" failed: " + row.fault;
        EXPECT_EQ(job.error, error) << row.doc;
        EXPECT_EQ(job.view.Log.back(), "Error: " + error) << log;
        EXPECT_TRUE(job.view.SummaryShown);
        // The layers hold the main document, whole; no part of the reply stays.
        EXPECT_EQ(PointLayer.Count, 1) << row.doc;
        std::string dump = quarvex::test::DumpLayer(job.dir.File("kml_tmp1.$m"), job.dir.File("kml_tmp1.dbf"));
        EXPECT_NE(dump.find("records 1\nrecord 1 ZID 1 NAME 'Main'\n"), std::string::npos) << dump;
        EXPECT_EQ(quarvex::test::ReadText(job.dir.File("kml_tmp1.xml")).rfind("</shapes></doc>\r\n"),
                  quarvex::test::ReadText(job.dir.File("kml_tmp1.xml")).size() - 17);
        EXPECT_FALSE(quarvex::test::FileExists(job.dir.File("doc.kml"))) << row.doc;
        EXPECT_EQ(job.server.RequestLog().find("doc=two"), std::string::npos) << row.doc;
    }

    // A whole transfer that takes too long ends too, however fast it goes.
    TScratchDir dir;
    quarvex::test::TFixtureServer server;
    THttpLimits limits;
    limits.totalTimeoutMs = 1200;
    const std::string direct = "http://127.0.0.1:" + std::to_string(server.Port()) + "/maps/ms?doc=drip";
    try {
        DownloadFile(direct, dir.File("doc.kml"), limits);
        FAIL() << "no error";
    } catch (const EQuarvexError& e) {
        EXPECT_EQ(std::string(e.what()), "Fetching \"" + direct + "\" failed: the transfer took longer than 1.2 s");
    }
}

TEST(UNetworkLinks, LinksWithoutAReplyAreLoggedWithWhatHappened)
{
    // Refused redirects, a loop, headers too long or without end, a scheme
    // that is not http: no reply, logged, and the job goes on to doc=two.
    struct Row {
        std::string address;
        const char* reason;
    };
    const Row rows[] = {
        {kMarker + "doc=loop", "the redirects did not end after 20 (a loop)"},
        {kMarker + "doc=tofile", "a redirect to an address that is not http or https was refused"},
        {kMarker + "doc=toftp", "a redirect to an address that is not http or https was refused"},
        {kMarker + "doc=longheader", "the reply's headers are too long or not valid"},
        {kMarker + "doc=endlessheader", "the reply's headers are too long or not valid ("},
        {kMarker + "doc=slowheader", "the reply's headers did not end within 1 s"},
        {"gopher://127.0.0.1:1/" + kMarker + "doc=two", "the address is not an http or https address"},
    };
    for (const Row& row : rows) {
        TFetchJob job;
        job.limits.speedWindowMs = 1500;
        job.limits.minBytesPerWindow = 100;
        std::string log = job.Run(Kml(PointPlacemark("Main", 4) + Link(row.address) + Link(kMarker + "doc=two")));
        EXPECT_EQ(job.error, "") << row.address;
        // The reason line may go on with the client's own words.
        const size_t at = log.find("  - " + row.address + "\n    * Error downloading link\n      " + row.reason);
        EXPECT_NE(at, std::string::npos) << log;
        EXPECT_NE(log.find("\n  - " + kMarker + "doc=two\n      Points: 2\n", at), std::string::npos) << log;
        const std::string check = quarvex::test::RunCommand(
            "/usr/bin/python3 '" + quarvex::test::SourceDir() + "/tests/tools/shpdump.py' --check '" + job.dir.Path() + "' 2>&1");
        EXPECT_EQ(check.substr(0, 30), "layer 1 shapes 3 records 3 ok\n") << row.address;
    }
}

TEST(UNetworkLinks, AllFetchesOfAJobTogetherAreBounded)
{
    // A link that never ends uses up the job's time for fetching: it and
    // the links after it are logged as not fetched, the job ends whole.
    const std::string drip = kMarker + "doc=drip", two = kMarker + "doc=two", self = kMarker + "doc=self";
    struct Row {
        long budgetMs;
        std::string links;
        std::string logged; // from the first fetched address on
    };
    const std::string notFetched = "    * Not fetched: the fetches of this job took their ";
    const Row rows[] = {
        {0, Link(two) + Link(self), "  - " + two + "\n" + notFetched + "0.0 s\n  - " + self + "\n" + notFetched + "0.0 s\n\nEnd.\n"},
        {1200, Link(drip) + Link(two), "  - " + drip + "\n" + notFetched + "1.2 s\n  - " + two + "\n" + notFetched + "1.2 s\n\nEnd.\n"},
    };
    for (const Row& row : rows) {
        TFetchJob job;
        job.budgetMs = row.budgetMs;
        std::string log = job.Run(Kml(PointPlacemark("Main", 4) + row.links));
        EXPECT_EQ(job.error, "");
        EXPECT_EQ(log.substr(log.find("  - ")), row.logged);
        EXPECT_EQ(job.server.RequestLog().find("doc=two"), std::string::npos);
        EXPECT_FALSE(quarvex::test::FileExists(job.dir.File("doc.kml")));
        const std::string check = quarvex::test::RunCommand(
            "/usr/bin/python3 '" + quarvex::test::SourceDir() + "/tests/tools/shpdump.py' --check '" + job.dir.Path() + "' 2>&1");
        EXPECT_EQ(check.substr(0, 30), "layer 1 shapes 1 records 1 ok\n") << row.budgetMs;
    }
}
