#include "shapefile/UAttributeTable.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"
#include "support/TestSupport.h"

#include <ctime>
#include <gtest/gtest.h>

using namespace quarvex;
using quarvex::test::ReadBytes;
using quarvex::test::TScratchDir;

namespace {
std::string Slice(const std::vector<uint8_t>& f, size_t from, size_t length)
{
    return std::string(f.begin() + long(from), f.begin() + long(from + length));
}
} // namespace

TEST(UAttributeTable, EmptyTableIsByteExact)
{
    TScratchDir dir;
    TAttributeTable table(1252);
    table.CreateAttributeTable(dir.File("t.dbf"));
    EXPECT_FALSE(table.IsOpen());
    auto f = ReadBytes(dir.File("t.dbf"));
    ASSERT_EQ(f.size(), 258u);
    EXPECT_EQ(f[0], 0x03);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(f[1], local.tm_year);
    EXPECT_EQ(f[2], local.tm_mon + 1);
    EXPECT_EQ(GetLE32(&f[4]), 0u);
    EXPECT_EQ(GetLE16(&f[8]), 257);
    EXPECT_EQ(GetLE16(&f[10]), 537);
    EXPECT_EQ(f[29], 0x03);
    const char* names[] = {"ZID", "NAME", "HINT", "COLOR", "ICON_SIZE", "EXTRUDE", "TESELLATE"};
    const char types[] = {'N', 'C', 'C', 'C', 'C', 'C', 'C'};
    const int lengths[] = {9, 255, 255, 10, 5, 1, 1};
    for (int i = 0; i < 7; ++i) {
        size_t at = 32 + 32 * size_t(i);
        std::string name(names[i]);
        EXPECT_EQ(Slice(f, at, 11), name + std::string(11 - name.size(), '\0'));
        EXPECT_EQ(f[at + 11], types[i]);
        EXPECT_EQ(f[at + 16], lengths[i]);
        EXPECT_EQ(f[at + 17], 0);
        EXPECT_EQ(Slice(f, at + 18, 14), std::string(14, '\0'));
    }
    EXPECT_EQ(f[256], 0x0D);
    EXPECT_EQ(f[257], 0x1A);
}

TEST(UAttributeTable, RecordsAreByteExactAndAppendAcrossOpens)
{
    TScratchDir dir;
    const std::string path = dir.File("t.dbf");
    TAttributeTable table(1252);
    table.CreateAttributeTable(path);
    table.OpenAttributeTable(path);
    table.AppendAttributeRecord(1, "Home");
    table.CloseAttributeTable();
    auto f = ReadBytes(path);
    ASSERT_EQ(f.size(), 257u + 537u + 1u);
    EXPECT_EQ(GetLE32(&f[4]), 1u);
    EXPECT_EQ(Slice(f, 257, 537), " " + std::string(8, ' ') + "1" + "Home" + std::string(251, ' ') + std::string(272, ' '));
    EXPECT_EQ(f[794], 0x1A);

    // A second document of the job appends behind the records already there.
    table.OpenAttributeTable(path);
    table.AppendAttributeRecord(2, std::string(300, 'x'));
    table.AppendAttributeRecord(123456789, "");
    table.CloseAttributeTable();
    f = ReadBytes(path);
    ASSERT_EQ(f.size(), 257u + 3 * 537u + 1u);
    EXPECT_EQ(GetLE32(&f[4]), 3u);
    EXPECT_EQ(Slice(f, 257 + 537, 10), std::string(9, ' ') + "2");
    EXPECT_EQ(Slice(f, 257 + 537 + 10, 255), std::string(255, 'x'));
    EXPECT_EQ(Slice(f, 257 + 537 + 265, 272), std::string(272, ' '));
    EXPECT_EQ(Slice(f, 257 + 2 * 537, 10), " 123456789");
    EXPECT_EQ(Slice(f, 257 + 2 * 537 + 10, 255), std::string(255, ' '));
    EXPECT_EQ(f.back(), 0x1A);

    // Creating the table again replaces it with an empty one.
    table.CreateAttributeTable(path);
    EXPECT_EQ(ReadBytes(path).size(), 258u);
}

TEST(UAttributeTable, NamesGoIntoTheCodePageOfByte29)
{
    TScratchDir dir;
    const std::string path = dir.File("t.dbf");
    TAttributeTable russian(1251);
    russian.CreateAttributeTable(path);
    russian.OpenAttributeTable(path);
    russian.AppendAttributeRecord(1, "\xD0\x9C\xD0\xB8\xD1\x80 caf\xC3\xA9"); // "Мир café": é is not in 1251
    russian.CloseAttributeTable();

    // A component set to another code page still appends in the table's own.
    TAttributeTable western(1252);
    western.OpenAttributeTable(path);
    western.AppendAttributeRecord(2, "\xD0\x94");
    western.CloseAttributeTable();
    auto f = ReadBytes(path);
    EXPECT_EQ(f[29], 0xC9);
    EXPECT_EQ(Slice(f, 267, 8), "\xCC\xE8\xF0 caf?");
    EXPECT_EQ(Slice(f, 257 + 537 + 10, 2), "\xC4 ");

    // A cut at 255 bytes never leaves half a double-byte character.
    TAttributeTable japanese(932);
    japanese.CreateAttributeTable(path);
    japanese.OpenAttributeTable(path);
    std::string name = "ab";
    for (int i = 0; i < 200; ++i)
        name += "\xE6\x9D\xB1"; // 東, two bytes in code page 932
    japanese.AppendAttributeRecord(1, name);
    japanese.CloseAttributeTable();
    f = ReadBytes(path);
    EXPECT_EQ(f[29], 0x13);
    EXPECT_EQ(Slice(f, 267, 2), "ab");
    EXPECT_EQ(Slice(f, 519, 2), "\x93\x8C"); // the 126th pair ends at byte 254 of the field
    EXPECT_EQ(f[521], ' ');                    // the 127th would not fit whole
}

TEST(UAttributeTable, OpenFailures)
{
    TScratchDir dir;
    TAttributeTable table(1252);
    try {
        table.OpenAttributeTable(dir.File("none.dbf"));
        FAIL() << "no error";
    } catch (const EQuarvexError& e) {
        EXPECT_EQ(std::string(e.what()), "Open: file not found: \"" + dir.File("none.dbf") + "\".");
    }
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("none.dbf")));
    quarvex::test::WriteText(dir.File("bad.dbf"), "not a table");
    EXPECT_THROW(table.OpenAttributeTable(dir.File("bad.dbf")), EQuarvexError);
    EXPECT_FALSE(table.IsOpen());
    EXPECT_THROW(table.AppendAttributeRecord(1, "x"), EQuarvexError);
}

TEST(UAttributeTable, FullDiskKeepsAHeaderThatCountsTheWholeRecords)
{
    TScratchDir dir;
    const std::string path = dir.File("t.dbf");
    TAttributeTable table(1252);
    table.CreateAttributeTable(path);
    table.OpenAttributeTable(path);
    std::string error;
    {
        quarvex::test::TFileSizeLimit limit(257 + 537 * 150 + 100); // room for 150 and a piece
        try {
            for (int i = 1; i <= 1000; ++i)
                table.AppendAttributeRecord(i, "n" + std::to_string(i));
            table.CloseAttributeTable();
        } catch (const EInOutError& e) {
            error = e.what();
        }
        table.CloseAttributeTable(); // an unwinding pass closes the table
    }
    EXPECT_EQ(error, "Disk full");
    auto f = ReadBytes(path);
    uint32_t count = GetLE32(&f[4]);
    EXPECT_EQ(count, 150u);
    ASSERT_GE(f.size(), 257u + 537u * count);
    EXPECT_EQ(Slice(f, 257 + 537 * 149, 10), std::string(7, ' ') + "150");
    EXPECT_EQ(f.size(), 257u + 537u * count + 1u);
    EXPECT_EQ(f.back(), 0x1A);

    // A failed creation leaves no half-written table behind.
    {
        quarvex::test::TFileSizeLimit limit(100);
        EXPECT_THROW(table.CreateAttributeTable(dir.File("small.dbf")), EInOutError);
    }
    EXPECT_FALSE(quarvex::test::FileExists(dir.File("small.dbf")));
}
