#include "platform/UErrors.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace quarvex;

TEST(UErrors, ErrnoValuesMapToCodesAndMessages)
{
    struct Row {
        int err;
        int code;
        const char* message;
    };
    const Row rows[] = {
        {ENOENT, 2, "File not found"},        {ENAMETOOLONG, 3, "Invalid filename"},
        {EINVAL, 3, "Invalid filename"},      {EMFILE, 4, "Too many open files"},
        {ENFILE, 4, "Too many open files"},   {EACCES, 5, "File access denied"},
        {EPERM, 5, "File access denied"},     {EROFS, 5, "File access denied"},
        {ENOSPC, 101, "Disk full"},           {EFBIG, 101, "Disk full"},
        // Codes without a text of their own are told in the system's words.
        {EBADF, EBADF, "Bad file descriptor"}, {EIO, 1005, "Input/output error"},
    };
    for (const Row& row : rows) {
        try {
            RaiseIoError(row.err);
            ADD_FAILURE() << "no error for errno " << row.err;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), row.code) << row.err;
            EXPECT_STREQ(e.what(), row.message) << row.err;
        }
    }
    // With the file named where the text is not a fixed one.
    try {
        RaiseIoError(EIO, "/w/kml_tmp1.dbf");
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 1005);
        EXPECT_STREQ(e.what(), "/w/kml_tmp1.dbf: Input/output error");
    }
    EXPECT_EQ(IoErrorText(ENOSPC, "/w/kml_tmp1.dbf"), "Disk full");
    EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
}
