#include "platform/UCodePage.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace quarvex;

namespace {
std::string Convert(int codePage, const std::string& utf8)
{
    TCodePageConverter converter(codePage);
    std::string out;
    converter.Convert(utf8, out);
    return out;
}
} // namespace

TEST(UCodePage, LocalesChooseTheWindowsCodePage)
{
    EXPECT_EQ(AnsiCodePageForLocale("de_DE.UTF-8"), 1252);
    EXPECT_EQ(AnsiCodePageForLocale("pl_PL.UTF-8"), 1250);
    EXPECT_EQ(AnsiCodePageForLocale("ru_RU"), 1251);
    EXPECT_EQ(AnsiCodePageForLocale("el_GR.UTF-8"), 1253);
    EXPECT_EQ(AnsiCodePageForLocale("tr_TR.UTF-8"), 1254);
    EXPECT_EQ(AnsiCodePageForLocale("he_IL.UTF-8"), 1255);
    EXPECT_EQ(AnsiCodePageForLocale("ar_EG.UTF-8"), 1256);
    EXPECT_EQ(AnsiCodePageForLocale("ja_JP.UTF-8"), 932);
    EXPECT_EQ(AnsiCodePageForLocale("zh_CN.UTF-8"), 936);
    EXPECT_EQ(AnsiCodePageForLocale("zh_TW.UTF-8"), 950);
    EXPECT_EQ(AnsiCodePageForLocale("ko_KR.EUC-KR"), 949);
    EXPECT_EQ(AnsiCodePageForLocale("th_TH.UTF-8"), 874);
    EXPECT_EQ(AnsiCodePageForLocale("C"), 1252);
    EXPECT_EQ(AnsiCodePageForLocale("POSIX"), 1252);
    EXPECT_EQ(AnsiCodePageForLocale(""), 1252);
    EXPECT_EQ(AnsiCodePageForLocale("xx_YY"), 1252);

    setenv("LC_ALL", "", 1);
    setenv("LC_CTYPE", "cs_CZ.UTF-8", 1);
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(SystemAnsiCodePage(), 1250);
    unsetenv("LC_CTYPE");
    EXPECT_EQ(SystemAnsiCodePage(), 932);
    unsetenv("LANG");
    EXPECT_EQ(SystemAnsiCodePage(), 1252);
}

TEST(UCodePage, DriverIdsRoundTrip)
{
    const std::pair<int, uint8_t> rows[] = {{1252, 0x03}, {1250, 0xC8}, {1251, 0xC9}, {1253, 0xCB},
                                            {1254, 0xCA}, {1255, 0x7D}, {1256, 0x7E}, {932, 0x13},
                                            {936, 0x4D},  {949, 0x4E},  {950, 0x4F},  {874, 0x50}};
    for (auto [codePage, id] : rows) {
        EXPECT_EQ(LanguageDriverId(codePage), id) << codePage;
        EXPECT_EQ(CodePageOfDriverId(id), codePage) << codePage;
        EXPECT_NO_THROW(TCodePageConverter{codePage});
    }
    EXPECT_EQ(CodePageOfDriverId(0x57), 0);
}

TEST(UCodePage, ConvertsAndReplacesWhatTheCodePageLacks)
{
    EXPECT_EQ(Convert(1252, "Caf\xC3\xA9 M\xC3\xBCller"), "Caf\xE9 M\xFCller");
    EXPECT_EQ(Convert(1252, "Tokyo \xE6\x9D\xB1\xE4\xBA\xAC."), "Tokyo ??.");
    EXPECT_EQ(Convert(1251, "\xD0\x9C\xD0\xB8\xD1\x80"), "\xCC\xE8\xF0"); // Мир
    EXPECT_EQ(Convert(1250, "\xC5\x81\xC3\xB3\x64\xC5\xBA"), "\xA3\xF3\x64\x9F"); // Łódź
    // A stray byte is replaced alone; the next character survives.
    EXPECT_EQ(Convert(1252, "a\xC3" "b\xFF" "c"), "a?b?c");
    EXPECT_EQ(Convert(932, "\xE6\x9D\xB1"), "\x93\x8C"); // 東
}

TEST(UCodePage, CutNeverSplitsADoubleByteCharacter)
{
    TCodePageConverter japanese(932);
    std::string text = "a" + std::string(6, '\x93') ; // lead bytes only: pairs after "a"
    EXPECT_EQ(japanese.CutLength(text, 4), 3u);       // "a" + one pair; the next pair would pass 4
    EXPECT_EQ(japanese.CutLength(text, 5), 5u);
    EXPECT_EQ(japanese.CutLength("abc", 10), 3u);
    TCodePageConverter western(1252);
    EXPECT_EQ(western.CutLength(std::string(300, '\xE9'), 255), 255u);
}
