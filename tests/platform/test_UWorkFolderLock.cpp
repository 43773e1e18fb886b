#include "platform/UWorkFolderLock.h"

#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quarvex;
using quarvex::test::TScratchDir;

TEST(UWorkFolderLock, OneHolderPerFolderAndNumberedFoldersBesideTheDefault)
{
    TScratchDir dir;
    const std::string ztmp = dir.File("ztmp/");
    std::string error, notice;
    TWorkFolderLock first;
    ASSERT_TRUE(LockDefaultWorkFolder(ztmp, first, notice, error)) << error;
    EXPECT_EQ(first.Folder(), ztmp);
    EXPECT_EQ(notice, "");
    // A folder named by the user that another holds is refused at once.
    TWorkFolderLock second;
    EXPECT_EQ(second.TryLock(ztmp, error), TLockOutcome::InUse);
    EXPECT_FALSE(LockWorkFolder(dir.File("ztmp"), second, error));
    EXPECT_EQ(error, "the work folder " + ztmp + " is in use by another Quarvex process");
    EXPECT_FALSE(second.Held());

    // The default one gives way to the first free numbered folder; one that
    // cannot be a folder is passed over; a freed one is taken again.
    quarvex::test::WriteText(dir.File("ztmp-3"), "a file");
    TWorkFolderLock third, fourth;
    ASSERT_TRUE(LockDefaultWorkFolder(ztmp, second, notice, error)) << error;
    EXPECT_EQ(second.Folder(), dir.File("ztmp-2/"));
    EXPECT_EQ(notice, "the work folder " + ztmp + " is in use by another Quarvex process; this one uses " +
                          dir.File("ztmp-2/"));
    ASSERT_TRUE(LockDefaultWorkFolder(ztmp, third, notice, error)) << error;
    EXPECT_EQ(third.Folder(), dir.File("ztmp-4/"));
    second.Release();
    ASSERT_TRUE(LockDefaultWorkFolder(ztmp, fourth, notice, error)) << error;
    EXPECT_EQ(fourth.Folder(), dir.File("ztmp-2/"));
    first.Release();
    ASSERT_TRUE(LockDefaultWorkFolder(ztmp, second, notice, error)) << error;
    EXPECT_EQ(second.Folder(), ztmp);
    EXPECT_EQ(notice, "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("ztmp-5")));
}

TEST(UWorkFolderLock, TheLockFileIsNeverALink)
{
    TScratchDir dir;
    std::filesystem::create_directories(dir.File("w"));
    std::filesystem::create_symlink(dir.File("elsewhere"), dir.File("w/.quarvex-lock"));
    TWorkFolderLock lock;
    std::string error;
    EXPECT_FALSE(LockWorkFolder(dir.File("w"), lock, error));
    EXPECT_EQ(error, "cannot lock the work folder " + dir.File("w/") + ": " + dir.File("w/.quarvex-lock") +
                         ": a link stands there, and a link is never followed");
    EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere")));
    // A folder the user names that cannot be made is named with the reason.
    quarvex::test::WriteText(dir.File("plain"), "x");
    EXPECT_FALSE(LockWorkFolder(dir.File("plain/sub"), lock, error));
    EXPECT_EQ(error.rfind("cannot use the work folder " + dir.File("plain/sub/") + ": ", 0), 0u) << error;
}
