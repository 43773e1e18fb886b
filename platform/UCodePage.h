// The 8-bit code page of dBASE text: the Windows ANSI code page of the user's
// locale, its dBASE language-driver ID, and UTF-8 to code-page conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvex {

// The Windows ANSI code page for a locale name such as "de_DE.UTF-8";
// C, POSIX, empty and unknown names give 1252.
int AnsiCodePageForLocale(const std::string& localeName);

// The ANSI code page of this process's user: the first non-empty of
// LC_ALL, LC_CTYPE and LANG, read through AnsiCodePageForLocale.
int SystemAnsiCodePage();

// The dBASE language-driver ID naming codePage (byte 29 of a table);
// unknown code pages give the ID of 1252.
uint8_t LanguageDriverId(int codePage);

// The code page a language-driver ID names, or 0 for an ID not listed above.
int CodePageOfDriverId(uint8_t driverId);

// Converts in with the open iconv descriptor cd (an iconv_t), appending to
// out. Where cd cannot convert, badLength(position, bytesLeft) bytes of the
// input are replaced by one "?" and the conversion goes on after them.
void IconvWithReplacement(void* cd, std::string_view in, std::string& out,
                          size_t (*badLength)(const char* position, size_t bytesLeft));

// Converts UTF-8 text to one of the code pages above. Characters the code
// page lacks, and bytes that are not valid UTF-8, become "?".
class TCodePageConverter {
public:
    explicit TCodePageConverter(int codePage);
    ~TCodePageConverter();
    TCodePageConverter(const TCodePageConverter&) = delete;
    TCodePageConverter& operator=(const TCodePageConverter&) = delete;

    int CodePage() const { return codePage_; }
    // Appends the converted text to out.
    void Convert(const std::string& utf8, std::string& out);
    // The length of the longest prefix of text (in this code page) that is at
    // most maxBytes long and ends on a character boundary.
    size_t CutLength(const std::string& text, size_t maxBytes) const;

private:
    int codePage_;
    void* iconv_; // iconv_t
};

} // namespace quarvex
