#include "platform/UWorkFolder.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace quarvex;
using quarvex::test::TScratchDir;

TEST(UWorkFolder, BesideTheProgramInItsBuildTreeElseInTheUserCache)
{
    TScratchDir build;   // a build folder: CMake's cache at its top, tests one level down
    TScratchDir prefix;  // an installed program: writable, but no build tree
    TScratchDir cache;
    quarvex::test::WriteText(build.File("CMakeCache.txt"), "x");
    std::filesystem::create_directories(build.File("tests"));
    std::filesystem::create_directories(prefix.File("bin"));
    setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    const std::string userCache = cache.Path() + "quarvex/ztmp/";
    const struct {
        std::string programFolder;
        std::string expected;
    } cases[] = {
        {build.Path(), build.Path() + "ztmp/"},                                    // with its "/"
        {build.Path().substr(0, build.Path().size() - 1), build.Path() + "ztmp/"}, // without
        {build.File("tests/"), build.File("tests/ztmp/")},                         // the cache one level up
        {prefix.File("bin/"), userCache},                                          // installed
        {prefix.File("bin"), userCache},
        {"/nonexistent/bin/", userCache}, // cannot be written
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultWorkFolder(c.programFolder), c.expected) << c.programFolder;
    // A file named ztmp beside the program: the cache folder is used instead.
    TScratchDir blocked;
    quarvex::test::WriteText(blocked.File("CMakeCache.txt"), "x");
    quarvex::test::WriteText(blocked.File("ztmp"), "x");
    EXPECT_EQ(DefaultWorkFolder(blocked.Path()), userCache);

    TScratchDir dir;
    std::string error;
    EXPECT_TRUE(EnsureWorkFolder(userCache, error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(userCache));
    quarvex::test::WriteText(dir.File("plain"), "x");
    EXPECT_FALSE(EnsureWorkFolder(dir.File("plain/ztmp/"), error));
    EXPECT_FALSE(error.empty());
    unsetenv("XDG_CACHE_HOME");
}
