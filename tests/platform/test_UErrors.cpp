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
        {EBADF, EBADF, "I/O error 9"},        {EIO, 1005, "I/O error 1005"},
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
    EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
}
