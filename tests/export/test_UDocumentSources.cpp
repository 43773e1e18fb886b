// The export's fetches share one bound of time: once it is spent, a remote
// document is not fetched, and nothing is left behind for it.
#include "export/UDocumentSources.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quarvex;
using namespace quarvex::test;

TEST(UDocumentSources, FetchesEndWhenTheirTimeIsSpent)
{
    TScratchDir dir;
    WriteText(dir.File("b.kml"), "<kml/>");
    long spent = 15 * 60 * 1000;
    TSourceOptions options;
    options.FetchLinks = true;
    options.ScratchPrefix = dir.File("b.fetched-");
    options.FetchSpentMs = &spent;
    TDocumentSources sources(options);
    TDocumentRef from = sources.OpenInput(dir.File("b.kml"));
    TDocumentRef remote;
    std::string reason;
    ASSERT_TRUE(sources.ResolveLink(from, "http://127.0.0.1:9/x.kml", remote, reason)) << reason;
    EXPECT_FALSE(sources.Fetch(remote, reason));
    EXPECT_EQ(reason, "not fetched: the fetches of this export took their 15 minutes");
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1u); // b.kml alone
}
