#include "kml/kmz/UUnZip.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

std::function<void(const std::string&)> ZipWarningHandler = [](const std::string& message) {
    std::fprintf(stderr, "Warning: %s\n", message.c_str());
};

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr size_t kFixedHeaderSize = 30;
constexpr size_t kMaxNameLength = 255;
// Shown for an entry whose DOS date and time are both 0.
constexpr uint32_t kZeroDateTime = 0x2C7505D3;

// Closes a file descriptor when the scope ends.
struct TFd {
    int fd = -1;
    ~TFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The messages of a failed file operation, by I/O error code.
std::string IoMessage(int err)
{
    switch (IoErrorCodeFromErrno(err)) {
    case 2: return "File not found";
    case 3: return "Incorrect path or not found";
    case 5: return "Bad name or path or syntax";
    case 101: return "Diskette is full";
    default: return "Input-output error " + std::to_string(IoErrorCodeFromErrno(err));
    }
}

std::string Format(const char* pattern, const std::string& a)
{
    std::string out = pattern;
    out.replace(out.find("%s"), 2, a);
    return out;
}

// Upper case for names: ASCII a to z and the 22 accented lower-case letters
// of code page 1250 that have an upper-case partner.
unsigned char UpperNameChar(unsigned char c)
{
    static const unsigned char lower[] = {0xFC, 0xE9, 0xEF, 0xE4, 0xE8, 0xEC, 0xE5, 0xBE, 0x9E, 0xF4, 0xF6,
                                          0xF9, 0xFD, 0x9D, 0xE1, 0xED, 0xF3, 0xFA, 0xF2, 0x9A, 0xF8, 0xE0};
    static const unsigned char upper[] = {0xDC, 0xC9, 0xCF, 0xC4, 0xC8, 0xCC, 0xC5, 0xBC, 0x8E, 0xD4, 0xD6,
                                          0xD9, 0xDD, 0x8D, 0xC1, 0xCD, 0xD3, 0xDA, 0xD2, 0x8A, 0xD8, 0xC0};
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 'a' + 'A');
    for (size_t i = 0; i < sizeof lower; ++i)
        if (c == lower[i])
            return upper[i];
    return c;
}

// "*" and "?" match on either side; other characters ignore letter case.
bool WildcardMatch(const std::string& a, const std::string& b)
{
    const size_t n = a.size(), m = b.size();
    // matches[i][j]: a from i on matches b from j on; filled from the ends.
    std::vector<std::vector<char>> matches(n + 1, std::vector<char>(m + 1, 0));
    matches[n][m] = 1;
    for (size_t i = n + 1; i-- > 0;) {
        for (size_t j = m + 1; j-- > 0;) {
            if (i == n && j == m)
                continue;
            bool ok = false;
            if (i < n && a[i] == '*')
                ok = matches[i + 1][j] || (j < m && matches[i][j + 1]);
            else if (j < m && b[j] == '*')
                ok = matches[i][j + 1] || (i < n && matches[i + 1][j]);
            else if (i < n && j < m)
                ok = (a[i] == '?' || b[j] == '?' ||
                      UpperNameChar(static_cast<unsigned char>(a[i])) == UpperNameChar(static_cast<unsigned char>(b[j]))) &&
                     matches[i + 1][j + 1];
            matches[i][j] = ok;
        }
    }
    return matches[0][0];
}

struct TNameParts {
    std::string folder;
    std::string base;
    std::string ext;
};

TNameParts SplitName(const std::string& name)
{
    std::string full = name;
    if (full.empty() || full[0] != '/') {
        std::error_code ec;
        full = std::filesystem::current_path(ec).string() + "/" + name;
    }
    TNameParts parts;
    const size_t slash = full.rfind('/');
    parts.folder = full.substr(0, slash);
    const std::string file = full.substr(slash + 1);
    parts.base = file.substr(0, file.find('.'));
    const size_t dot = full.rfind('.');
    if (dot != std::string::npos && dot > slash)
        parts.ext = full.substr(dot + 1, 3);
    return parts;
}

TZipEntryHeader ParseFixedHeader(const uint8_t* p)
{
    TZipEntryHeader h;
    h.Flags = GetLE16(p + 6);
    h.Method = GetLE16(p + 8);
    h.DosTime = GetLE16(p + 10);
    h.DosDate = GetLE16(p + 12);
    h.Crc = GetLE32(p + 14);
    h.CompressedSize = GetLE32(p + 18);
    h.UncompressedSize = GetLE32(p + 22);
    h.NameLength = GetLE16(p + 26);
    h.ExtraLength = GetLE16(p + 28);
    return h;
}

// Reads the name (its first 255 bytes kept) and passes over the extra field;
// false when the file ends inside them.
bool ReadNameAndExtra(TArchiveReader& archive, TZipEntryHeader& h)
{
    uint8_t name[65535];
    if (archive.Read(name, h.NameLength) != h.NameLength)
        return false;
    h.Name.assign(reinterpret_cast<const char*>(name), std::min<size_t>(h.NameLength, kMaxNameLength));
    return archive.Skip(h.ExtraLength);
}

std::tm DosDateTime(const TZipEntryHeader& h)
{
    uint32_t value = (uint32_t(h.DosDate) << 16) | h.DosTime;
    if (value == 0)
        value = kZeroDateTime;
    std::tm t{};
    t.tm_year = int(value >> 25) + 80;
    t.tm_mon = int((value >> 21) & 15) - 1;
    t.tm_mday = int((value >> 16) & 31);
    t.tm_hour = int((value >> 11) & 31);
    t.tm_min = int((value >> 5) & 63);
    t.tm_sec = int(value & 31) * 2;
    t.tm_isdst = -1;
    return t;
}

// Makes the folders of relative (a "/"-separated path without "..") inside
// base; an existing component that is not a real folder (a link, a file)
// stops it. Returns 0 or the errno of the failure.
int MakeFoldersInside(const std::string& base, const std::string& relative)
{
    std::string path = base;
    size_t start = 0;
    while (true) {
        const size_t slash = relative.find('/', start);
        if (slash == std::string::npos)
            return 0;
        const std::string part = relative.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".")
            continue;
        path += part; // no trailing "/": lstat must not follow a link here
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
        } else if (::mkdir(path.c_str(), 0777) != 0) {
            return errno;
        }
        path += "/";
    }
}

// Inflates the raw deflate stream of the entry into exactly size bytes.
void Inflate(TEntryInput& input, TOutputWindow& output, uint64_t size, const std::string& name)
{
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        throw EQuarvexError("Not enough memory to inflate " + name);
    uint8_t in[kZipBufferSize];
    uint8_t out[kZipBufferSize];
    uint64_t produced = 0;
    int rc = Z_OK;
    while (produced < size && rc != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            zs.avail_in = uInt(input.Read(in, sizeof in));
            zs.next_in = in;
            if (zs.avail_in == 0)
                break; // the data ended before the stream
        }
        zs.next_out = out;
        zs.avail_out = uInt(std::min<uint64_t>(sizeof out, size - produced));
        const uInt inputBefore = zs.avail_in;
        rc = inflate(&zs, Z_NO_FLUSH);
        const size_t made = size_t(zs.next_out - out);
        output.Write(out, made);
        produced += made;
        if ((rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) || (made == 0 && zs.avail_in == inputBefore))
            break; // damaged data, or no way forward
    }
    inflateEnd(&zs);
    if (produced < size)
        throw EQuarvexError("The deflated data of " + name + " gives fewer bytes than its header claims");
}

} // namespace

bool IsSafeEntryName(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return false;
    if (name.size() >= 2 && name[1] == ':')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        if (name.compare(start, slash - start, "..") == 0)
            return false;
        start = slash + 1;
    }
    return true;
}

bool MatchesMask(const std::string& mask, const std::string& name)
{
    const TNameParts m = SplitName(mask);
    const TNameParts n = SplitName(name);
    return m.folder == n.folder && WildcardMatch(m.base, n.base) && WildcardMatch(m.ext, n.ext);
}

std::string ListingLine(const TZipEntryHeader& h)
{
    const long ratio = h.UncompressedSize == 0
                           ? 0
                           : long(std::nearbyint(double(h.CompressedSize) * 100.0 / double(h.UncompressedSize) - 100.0));
    const std::tm t = DosDateTime(h);
    char when[64];
    std::snprintf(when, sizeof when, "%02d-%02d-%04d\t%02d:%02d:%02d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return h.Name + "\t" + std::to_string(h.UncompressedSize) + "\t" + std::to_string(h.CompressedSize) + "\t" +
           std::to_string(ratio) + "%\t" + when;
}

void TUnZip::SetExtrPath(const std::string& path)
{
    extrPath_ = path;
    if (!extrPath_.empty() && extrPath_.back() != '/')
        extrPath_ += '/';
}

void TUnZip::Report(const std::string& message)
{
    if (extracting_ && !reported_.insert(message).second)
        return;
    if (OnError)
        OnError(*this, message);
    else if (ZipWarningHandler)
        ZipWarningHandler(message);
}

void TUnZip::ListArchive(const std::string& archivePath, std::vector<std::string>& lines)
{
    TFd file;
    file.fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        RaiseIoError(errno);
    TArchiveReader archive(file.fd);
    uint8_t fixed[kFixedHeaderSize];
    while (archive.Read(fixed, sizeof fixed) == sizeof fixed && GetLE32(fixed) == kLocalHeaderSignature) {
        TZipEntryHeader header = ParseFixedHeader(fixed);
        if (!ReadNameAndExtra(archive, header))
            break;
        lines.push_back(ListingLine(header));
        if (!archive.Skip(header.CompressedSize))
            break;
    }
}

bool TUnZip::MatchesMasks(const std::string& name) const
{
    if (Files.empty())
        return MatchesMask("*.*", name);
    for (const std::string& mask : Files)
        if (MatchesMask(mask, name))
            return true;
    return false;
}

bool TUnZip::Extract()
{
    Extracted.clear();
    reported_.clear();
    extracting_ = true;
    struct TDone {
        bool& flag;
        ~TDone() { flag = false; }
    } done{extracting_};
    struct stat st;
    if (::stat(ArcName.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    std::error_code ec;
    if (!std::filesystem::is_directory(extrPath_, ec) &&
        (!std::filesystem::create_directories(extrPath_, ec) || ec))
        return true;
    TFd file;
    file.fd = ::open(ArcName.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
        Report(IoMessage(errno));
        return false;
    }
    try {
        TArchiveReader archive(file.fd);
        uint8_t fixed[kFixedHeaderSize];
        while (archive.Read(fixed, 4) == 4) {
            const uint32_t signature = GetLE32(fixed);
            if (signature == kCentralHeaderSignature)
                break;
            if (signature != kLocalHeaderSignature)
                Report(Format("Header missing or damaged in %s", ArcName));
            if (archive.Read(fixed + 4, kFixedHeaderSize - 4) != kFixedHeaderSize - 4)
                break;
            TZipEntryHeader header = ParseFixedHeader(fixed);
            if (header.NameLength > kMaxNameLength || header.ExtraLength > kMaxNameLength)
                Report("Invalid file name!");
            if (!ReadNameAndExtra(archive, header))
                break;
            if (MatchesMasks(header.Name))
                ExtractEntry(archive, header);
            else if (!archive.Skip(header.CompressedSize))
                break;
        }
    } catch (const std::exception& e) {
        Report(e.what());
        return false;
    }
    return true;
}

void TUnZip::ExtractEntry(TArchiveReader& archive, const TZipEntryHeader& h)
{
    Extracted.push_back({h.Name, extrPath_ + h.Name, false, false});
    TExtractedEntry& result = Extracted.back();
    TEntryInput input(archive, h.CompressedSize, OnProgress ? TEntryInput::TProgress([this](int16_t p) {
        OnProgress(*this, p);
    }) : TEntryInput::TProgress());
    if (!IsSafeEntryName(h.Name)) {
        Report(Format("Unsafe entry name %s, skipped", h.Name));
        input.SkipRest();
        return;
    }
    if (int err = MakeFoldersInside(extrPath_, h.Name)) {
        Report(IoMessage(err));
        input.SkipRest();
        return;
    }
    if (h.Name.back() == '/') { // a folder entry: made above
        input.SkipRest();
        return;
    }
    struct stat st;
    if (!Overwrite && ::lstat(result.Target.c_str(), &st) == 0) {
        input.SkipRest();
        return;
    }
    TFd target;
    target.fd = ::open(result.Target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (target.fd < 0) {
        Report(IoMessage(errno));
        input.SkipRest();
        return;
    }
    int writeError = 0;
    TOutputWindow output([&](const uint8_t* data, size_t size) {
        while (size > 0 && writeError == 0) {
            ssize_t written = ::write(target.fd, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                writeError = written < 0 ? errno : ENOSPC;
                Report(IoMessage(writeError));
                return;
            }
            data += written;
            size -= size_t(written);
        }
    });
    const TZipReport report = [this](const std::string& message) { Report(message); };
    TDecodeResult decoded = TDecodeResult::Done;
    switch (h.Method) {
    case 0: {
        uint8_t chunk[kZipBufferSize];
        while (size_t got = input.Read(chunk, sizeof chunk))
            output.Write(chunk, got);
        break;
    }
    case 1: decoded = UnShrink(input, output, report); break;
    case 2:
    case 3:
    case 4:
    case 5: decoded = UnReduce(input, output, h.UncompressedSize, h.Method - 1, report); break;
    case 6: decoded = UnExplode(input, output, h.UncompressedSize, h.Flags, report); break;
    case 8: Inflate(input, output, h.UncompressedSize, h.Name); break;
    default:
        Report("Unknown compress method (" + std::to_string(h.Method) + ") used on " + h.Name + " ! Skip next...");
        input.SkipRest();
        return;
    }
    input.SkipRest();
    output.Flush();
    if (decoded != TDecodeResult::NoMemory) {
        result.CrcMatches = output.Crc() == h.Crc;
        if (!result.CrcMatches) {
            char message[64];
            std::snprintf(message, sizeof message, "Stored CRC is %x, computed CRC is %x.", h.Crc, output.Crc());
            Report("File " + result.Target + " has bad CRC! " + message);
        }
    }
    std::tm when = DosDateTime(h);
    const time_t stamp = std::mktime(&when);
    if (stamp != time_t(-1)) {
        const timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ::futimens(target.fd, times);
    }
    const int fd = target.fd;
    target.fd = -1;
    if (::close(fd) != 0 && writeError == 0) {
        writeError = errno;
        Report(IoMessage(errno));
    }
    result.Written = writeError == 0 && decoded != TDecodeResult::NoMemory;
}

} // namespace quarvex
