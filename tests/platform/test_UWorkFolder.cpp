#include "platform/UWorkFolder.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace quarvex;
using quarvex::test::TScratchDir;

TEST(UWorkFolder, BesideTheProgramOrInTheUserCache)
{
    TScratchDir dir;
    TScratchDir cache;
    setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    const std::string userCache = cache.Path() + "quarvex/ztmp/";
    const struct {
        std::string programFolder;
        std::string expected;
    } cases[] = {
        {dir.Path(), dir.Path() + "ztmp/"},                                  // with its "/"
        {dir.Path().substr(0, dir.Path().size() - 1), dir.Path() + "ztmp/"}, // without
        {"/nonexistent/bin/", userCache},                                    // cannot be written
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultWorkFolder(c.programFolder), c.expected) << c.programFolder;
    // A file named ztmp beside the program: the cache folder is used instead.
    TScratchDir blocked;
    quarvex::test::WriteText(blocked.File("ztmp"), "x");
    EXPECT_EQ(DefaultWorkFolder(blocked.Path()), userCache);

    std::string error;
    EXPECT_TRUE(EnsureWorkFolder(userCache, error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(userCache));
    quarvex::test::WriteText(dir.File("plain"), "x");
    EXPECT_FALSE(EnsureWorkFolder(dir.File("plain/ztmp/"), error));
    EXPECT_FALSE(error.empty());
    unsetenv("XDG_CACHE_HOME");
}
