#include "platform/UMemoryBudget.h"

#include "platform/UErrors.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace quarvex {

std::function<uint64_t()> AvailableMemoryProbe = AvailableMemory;

uint64_t ParseMemAvailable(const std::string& meminfo)
{
    const std::string key = "MemAvailable:";
    size_t at = meminfo.find(key);
    if (at == std::string::npos || (at > 0 && meminfo[at - 1] != '\n'))
        return 0;
    at += key.size();
    while (at < meminfo.size() && meminfo[at] == ' ')
        ++at;
    uint64_t kib = 0;
    size_t digits = 0;
    // At most 15 digits: the value in kB times 1024 stays below 2^64.
    for (; at < meminfo.size() && meminfo[at] >= '0' && meminfo[at] <= '9' && digits < 15; ++at, ++digits)
        kib = kib * 10 + uint64_t(meminfo[at] - '0');
    if (digits == 0 || meminfo.compare(at, 3, " kB") != 0)
        return 0;
    return kib * 1024;
}

uint64_t AvailableMemory()
{
    std::ifstream file("/proc/meminfo");
    if (!file)
        return 0;
    std::ostringstream text;
    text << file.rdbuf();
    return ParseMemAvailable(text.str());
}

std::string FormatByteSize(uint64_t bytes)
{
    char text[32];
    if (bytes < 1000)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else if (bytes < 1000 * 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

void CheckDomFitsInMemory(const std::string& path)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    CheckDomFitsInMemory(path, uint64_t(st.st_size));
}

namespace {

// Raises the rule's error when size bytes of document need more memory
// than is available; what names the bytes in the message.
void CheckSizeFits(const std::string& path, uint64_t size, const std::string& what)
{
    const uint64_t available = AvailableMemoryProbe ? AvailableMemoryProbe() : 0;
    if (available == 0)
        return;
    // A size an archive states may be near 2^64: the product is taken and
    // compared as a double, and told as the largest size it can be told as
    // when it passes 2^64.
    const double needed = double(size) * kDomBytesPerDocumentByte;
    if (needed <= double(available))
        return;
    const uint64_t neededBytes = needed < 0x1p64 ? uint64_t(needed) : UINT64_MAX;
    throw EQuarvexError("\"" + path + "\" is too large to load: " + what + FormatByteSize(size) +
                        " would need about " + FormatByteSize(neededBytes) +
                        " of memory as a document tree, but only " + FormatByteSize(available) +
                        " are available");
}

} // namespace

void CheckDomFitsInMemory(const std::string& path, uint64_t size)
{
    CheckSizeFits(path, size, "its ");
}

void CheckStreamFitsInMemory(const std::string& path, uint64_t bytesSoFar)
{
    CheckSizeFits(path, bytesSoFar, "the first ");
}

uint64_t DomDocumentBound()
{
    const uint64_t available = AvailableMemoryProbe ? AvailableMemoryProbe() : 0;
    return available == 0 ? UINT64_MAX : uint64_t(double(available) / kDomBytesPerDocumentByte);
}

} // namespace quarvex
