#include "platform/UCodePage.h"

#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace quarvex {

namespace {

struct TLanguageCodePage {
    const char* language;
    int codePage;
};

constexpr TLanguageCodePage kLanguageCodePages[] = {
    {"pl", 1250}, {"cs", 1250}, {"hu", 1250}, {"sk", 1250}, {"sl", 1250}, {"hr", 1250},
    {"ro", 1250}, {"bs", 1250}, {"sq", 1250}, {"ru", 1251}, {"uk", 1251}, {"bg", 1251},
    {"be", 1251}, {"sr", 1251}, {"mk", 1251}, {"el", 1253}, {"tr", 1254}, {"az", 1254},
    {"he", 1255}, {"ar", 1256}, {"fa", 1256}, {"ur", 1256}, {"ja", 932},  {"ko", 949},
    {"th", 874},
};

struct TCodePageDriver {
    int codePage;
    uint8_t driverId;
    const char* iconvName;
};

// Driver IDs chosen so that common readers map them back to the same code
// page; 1252 uses 0x03 because 0x57 is commonly read as ISO-8859-1.
constexpr TCodePageDriver kDrivers[] = {
    {1252, 0x03, "CP1252"}, {1250, 0xC8, "CP1250"}, {1251, 0xC9, "CP1251"},
    {1253, 0xCB, "CP1253"}, {1254, 0xCA, "CP1254"}, {1255, 0x7D, "CP1255"},
    {1256, 0x7E, "CP1256"}, {932, 0x13, "CP932"},   {936, 0x4D, "CP936"},
    {949, 0x4E, "CP949"},   {950, 0x4F, "CP950"},   {874, 0x50, "CP874"},
};

const TCodePageDriver& DriverOf(int codePage)
{
    for (const auto& d : kDrivers)
        if (d.codePage == codePage)
            return d;
    return kDrivers[0];
}

bool IsDoubleByteCodePage(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool IsLeadByte(int codePage, uint8_t b)
{
    if (codePage == 932)
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return b >= 0x81 && b <= 0xFE;
}

// Length of the well-formed UTF-8 sequence at p (at most left bytes), or 1
// when the bytes there are not one, so that a stray byte is replaced alone.
size_t Utf8CharLength(const uint8_t* p, size_t left)
{
    size_t length = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                  : p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : 1;
    if (length > left)
        return 1;
    for (size_t i = 1; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 1;
    return length;
}

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

int AnsiCodePageForLocale(const std::string& localeName)
{
    std::string language = localeName.substr(0, localeName.find_first_of("_.@"));
    if (language == "zh") {
        std::string territory = localeName.size() > 3 ? localeName.substr(3, 2) : "";
        return (territory == "TW" || territory == "HK" || territory == "MO") ? 950 : 936;
    }
    for (const auto& entry : kLanguageCodePages)
        if (language == entry.language)
            return entry.codePage;
    return 1252;
}

int SystemAnsiCodePage()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return AnsiCodePageForLocale(value);
    }
    return 1252;
}

uint8_t LanguageDriverId(int codePage)
{
    return DriverOf(codePage).driverId;
}

void IconvWithReplacement(void* descriptor, std::string_view input, std::string& out,
                          size_t (*badLength)(const char*, size_t))
{
    auto cd = iconv_t(descriptor);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char chunk[16384];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, size_t(outPtr - chunk));
        if (rc != size_t(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: input the target cannot take, or a cut sequence.
        const size_t skip = std::min(std::max<size_t>(badLength(in, inLeft), 1), inLeft);
        out += '?';
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
}

int CodePageOfDriverId(uint8_t driverId)
{
    for (const auto& d : kDrivers)
        if (d.driverId == driverId)
            return d.codePage;
    return 0;
}

TCodePageConverter::TCodePageConverter(int codePage) : codePage_(DriverOf(codePage).codePage)
{
    iconv_t cd = iconv_open(DriverOf(codePage_).iconvName, "UTF-8");
    if (cd == iconv_t(-1))
        throw EQuarvexError("Code page " + std::to_string(codePage_) + " is not available");
    iconv_ = cd;
}

TCodePageConverter::~TCodePageConverter()
{
    iconv_close(iconv_t(iconv_));
}

void TCodePageConverter::Convert(const std::string& utf8, std::string& out)
{
    if (IsAscii(utf8)) { // every supported code page keeps ASCII as it is
        out += utf8;
        return;
    }
    IconvWithReplacement(iconv_, utf8, out, [](const char* p, size_t left) {
        return Utf8CharLength(reinterpret_cast<const uint8_t*>(p), left);
    });
}

size_t TCodePageConverter::CutLength(const std::string& text, size_t maxBytes) const
{
    if (text.size() <= maxBytes)
        return text.size();
    if (!IsDoubleByteCodePage(codePage_))
        return maxBytes;
    size_t pos = 0;
    while (pos < maxBytes) {
        size_t width = IsLeadByte(codePage_, uint8_t(text[pos])) ? 2 : 1;
        if (pos + width > maxBytes)
            break;
        pos += width;
    }
    return pos;
}

} // namespace quarvex
