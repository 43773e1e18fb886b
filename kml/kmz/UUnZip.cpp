#include "kml/kmz/UUnZip.h"

#include "platform/UByteOrder.h"
#include "kml/kmz/UInflate.h"
#include "platform/UErrors.h"
#include "platform/UFileCreation.h"

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

std::function<void(const std::string&)> ZipWarningHandler = [](const std::string& message) {
    const std::string line = "Warning: " + PrintableMessage(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
};

namespace {

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

// The messages of a failed file operation, by I/O error code; a code
// without a message of its own is told by text, in the system's words.
std::string IoMessageOfCode(int code, const std::string& text)
{
    switch (code) {
    case 2: return "File not found";
    case 3: return "Incorrect path or not found";
    case 5: return "Bad name or path or syntax";
    case 101: return "Diskette is full";
    default: return "Input-output error: " + text;
    }
}

std::string IoMessage(int err, const std::string& path)
{
    return IoMessageOfCode(IoErrorCodeFromErrno(err), IoErrorText(err, path));
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

// "1 byte", "4096 bytes".
std::string ByteCount(uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
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
    // ZIP64 sizes can make the ratio larger than any integer: it is held
    // inside a range that prints, and converts, safely.
    const double percent =
        h.UncompressedSize == 0 ? 0.0 : double(h.CompressedSize) * 100.0 / double(h.UncompressedSize) - 100.0;
    const long ratio = long(std::nearbyint(std::clamp(percent, -1e15, 1e15)));
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

std::string PrintableMessage(const std::string& message)
{
    std::string out;
    for (unsigned char c : message) {
        if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

void TUnZip::ListArchive(const std::string& archivePath, std::vector<std::string>& lines)
{
    Listed.clear();
    TFd file;
    file.fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        RaiseIoError(errno);
    directoryRead_ = false;
    TArchiveReader archive(file.fd);
    TZipEntryHeader header;
    while (ReadLocalHeader(archive, header, TWalk::Listing)) {
        // A streamed entry is listed with the sizes of its descriptor.
        const bool goOn = header.SizesKnown && PassOver(archive, header);
        lines.push_back(ListingLine(header));
        Listed.push_back(header);
        if (!goOn)
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

template <class F>
bool TUnZip::Run(F&& work)
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
        Report(IoMessage(errno, ArcName));
        return false;
    }
    directoryRead_ = false;
    try {
        TArchiveReader archive(file.fd);
        work(archive);
    } catch (const std::exception& e) {
        Report(e.what());
        return false;
    }
    return true;
}

bool TUnZip::Extract()
{
    return Run([this](TArchiveReader& archive) { ExtractMatching(archive); });
}

bool TUnZip::ExtractEntryAt(uint64_t offset)
{
    return Run([&](TArchiveReader& archive) {
        archive.Seek(offset);
        TZipEntryHeader header;
        if (ReadLocalHeader(archive, header, TWalk::ExactlyHere))
            ExtractEntry(archive, header);
    });
}

void TUnZip::StreamEntryAt(const std::string& archivePath, uint64_t offset, const TOutputWindow::TSink& sink)
{
    reported_.clear();
    TFd file;
    file.fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        RaiseIoError(errno);
    directoryRead_ = false;
    TArchiveReader archive(file.fd);
    archive.Seek(offset);
    TZipEntryHeader h;
    if (!ReadLocalHeader(archive, h, TWalk::ExactlyHere))
        throw EQuarvexError("The archive entry at offset " + std::to_string(offset) + " cannot be read");
    if (IsEncrypted(h))
        throw EQuarvexError("Entry " + h.Name + " is encrypted: it cannot be read");
    if (SizesAreStated(h) && h.UncompressedSize > MaxEntrySize)
        throw EQuarvexError("Entry " + h.Name + " states " + ByteCount(h.UncompressedSize) +
                            ", more than the limit of " + ByteCount(MaxEntrySize));
    TOutputWindow output(sink);
    const bool streamed = EndsWithItsStream(h);
    output.SetLimit(streamed ? MaxEntrySize : h.UncompressedSize);
    const uint64_t dataStart = archive.Position();
    const uint64_t fileSize = archive.FileSize();
    TEntryInput input(archive, streamed ? (fileSize > dataStart ? fileSize - dataStart : 0) : h.CompressedSize);
    TDecodeResult decoded = TDecodeResult::Done;
    TInflateResult inflated;
    if (!Decode(input, output, h, decoded, inflated))
        throw EQuarvexError("Entry " + h.Name + " uses the unknown compress method " + std::to_string(h.Method));
    output.Flush();
    if (decoded == TDecodeResult::PastLimit)
        throw EQuarvexError("Entry " + h.Name + " decodes to more than " +
                            (streamed ? "the limit of " + ByteCount(MaxEntrySize)
                                      : "its stated size of " + ByteCount(h.UncompressedSize)));
    if (decoded == TDecodeResult::NoMemory)
        throw EQuarvexError("Not enough memory to decode entry " + h.Name);
    if (decoded == TDecodeResult::Stopped)
        throw EQuarvexError("The data of entry " + h.Name + " is damaged");
    if (streamed && inflated.Ended) {
        archive.Seek(dataStart + inflated.Consumed);
        ReadDescriptorAfter(archive, h, inflated.Consumed, output.Total());
    }
    TExtractedEntry result{h.Name, h.Name, true, false};
    CheckCrc(result, h.Crc, output.Crc());
}

void TUnZip::ExtractMatching(TArchiveReader& archive)
{
    TZipEntryHeader header;
    while (ReadLocalHeader(archive, header, TWalk::Extracting))
        if (!(MatchesMasks(header.Name) ? ExtractEntry(archive, header) : PassOver(archive, header)))
            break;
}

bool TUnZip::ReadLocalHeader(TArchiveReader& archive, TZipEntryHeader& h, TWalk walk)
{
    const uint64_t offset = archive.Position();
    uint8_t fixed[kFixedHeaderSize];
    if (archive.Read(fixed, 4) != 4)
        return false;
    const uint32_t signature = GetLE32(fixed);
    if (walk == TWalk::Listing && signature != kLocalHeaderSignature)
        return false;
    if (walk == TWalk::Extracting && signature == kCentralHeaderSignature)
        return false;
    if (signature != kLocalHeaderSignature) {
        Report(Format("Header missing or damaged in %s", ArcName));
        if (walk == TWalk::ExactlyHere)
            return false;
    }
    if (archive.Read(fixed + 4, kFixedHeaderSize - 4) != kFixedHeaderSize - 4)
        return false;
    h = ParseFixedHeader(fixed);
    h.Offset = offset;
    if (walk != TWalk::Listing && (h.NameLength > kMaxNameLength || h.ExtraLength > kMaxNameLength))
        Report("Invalid file name!");
    if (!ReadNameAndExtra(archive, h))
        return false;
    // A streamed entry takes its sizes from the central directory where it
    // can: a deflated one could also be walked by inflating it, but that
    // costs far more than the archive's size in time.
    if (HasDataDescriptor(h) && !TakeSizesFromDirectory(archive, h) && !EndsWithItsStream(h) &&
        h.CompressedSize == 0) {
        h.SizesKnown = false;
        if (walk == TWalk::Listing)
            return true; // listed, and the listing ends there
        Report("Entry " + h.Name + " gives its sizes only after its data, and no central directory gives "
               "them: it cannot be extracted, nor anything after it");
        return false;
    }
    return true;
}

bool TUnZip::TakeSizesFromDirectory(TArchiveReader& archive, TZipEntryHeader& h)
{
    if (!directoryRead_) {
        directory_.Load(archive.Fd());
        directoryRead_ = true;
    }
    const TCentralRecord* record = directory_.Find(h.Offset);
    if (!record)
        return false;
    h.Crc = record->Crc;
    h.CompressedSize = record->CompressedSize;
    h.UncompressedSize = record->UncompressedSize;
    h.SizesFromDirectory = true;
    return true;
}

void TUnZip::ReadDescriptorAfter(TArchiveReader& archive, TZipEntryHeader& h, uint64_t compressed, uint64_t written)
{
    TDataDescriptor descriptor;
    const bool found = ReadDataDescriptor(archive, h.Zip64, compressed, written, descriptor);
    h.CompressedSize = compressed;
    h.UncompressedSize = found ? descriptor.UncompressedSize : written;
    if (found)
        h.Crc = descriptor.Crc;
}

void TUnZip::SkipPastData(TEntryInput& input, TArchiveReader& archive, TZipEntryHeader& h)
{
    input.SkipRest();
    if (HasDataDescriptor(h))
        ReadDescriptorAfter(archive, h, h.CompressedSize, h.UncompressedSize);
}

bool TUnZip::PassOver(TArchiveReader& archive, TZipEntryHeader& h)
{
    if (SizesAreStated(h)) {
        if (!archive.Skip(h.CompressedSize))
            return false;
        TDataDescriptor descriptor;
        if (HasDataDescriptor(h))
            ReadDataDescriptor(archive, h.Zip64, h.CompressedSize, h.UncompressedSize, descriptor);
        return true;
    }
    // Where the data ends is known only once its deflate stream has ended;
    // an entry that decodes past the limit is given up there.
    const uint64_t start = archive.Position();
    const uint64_t fileSize = archive.FileSize();
    TEntryInput input(archive, fileSize > start ? fileSize - start : 0);
    TOutputWindow nowhere(nullptr);
    nowhere.SetLimit(MaxEntrySize);
    const TInflateResult inflated = Inflate(input, nowhere, h.Name);
    if (!inflated.Ended) {
        if (extracting_)
            Report("The deflated data of " + h.Name +
                   (nowhere.Overflowed() ? " decodes to more than the limit of " + ByteCount(MaxEntrySize)
                    : inflated.Damaged   ? std::string(" is damaged")
                                         : std::string(" ends before its stream does")) +
                   ": the rest of the archive cannot be read");
        return false;
    }
    archive.Seek(start + inflated.Consumed);
    ReadDescriptorAfter(archive, h, inflated.Consumed, nowhere.Total());
    return true;
}

bool TUnZip::MayWrite(const TZipEntryHeader& h, const std::string& target)
{
    if (!IsSafeEntryName(h.Name)) {
        Report(Format("Unsafe entry name %s, skipped", h.Name));
        return false;
    }
    if (IsEncrypted(h)) {
        Report("Entry " + h.Name + " is encrypted: it cannot be extracted");
        return false;
    }
    if (SizesAreStated(h) && h.UncompressedSize > MaxEntrySize) {
        Report("Entry " + h.Name + " states " + ByteCount(h.UncompressedSize) + ", more than the limit of " +
               ByteCount(MaxEntrySize) + ": not extracted");
        return false;
    }
    if (int err = MakeFoldersInside(extrPath_, h.Name)) {
        Report(IoMessage(err, target));
        return false;
    }
    if (h.Name.back() == '/') // a folder entry: made above
        return false;
    struct stat st;
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    if (exists && !Overwrite)
        return false;
    if (exists && S_ISDIR(st.st_mode)) {
        Report("Cannot extract " + h.Name + ": a folder named " + target + " is in its way");
        return false;
    }
    return true;
}

bool TUnZip::ExtractEntry(TArchiveReader& archive, TZipEntryHeader& h)
{
    Extracted.push_back({h.Name, extrPath_ + h.Name, false, false});
    TExtractedEntry& result = Extracted.back();
    if (!MayWrite(h, result.Target))
        return PassOver(archive, h);
    TFd target;
    try {
        // A link planted at the name is replaced, never written through.
        target.fd = CreateFileNoFollow(result.Target, O_WRONLY);
    } catch (const EInOutError& e) {
        Report(IoMessageOfCode(e.ErrorCode(), e.what()));
        return PassOver(archive, h);
    } catch (const EQuarvexError& e) {
        Report(e.what());
        return PassOver(archive, h);
    }
    auto removeTarget = [&] {
        ::close(target.fd);
        target.fd = -1;
        ::unlink(result.Target.c_str());
    };
    int writeError = 0;
    TOutputWindow output([&](const uint8_t* data, size_t size) { WriteOut(target.fd, result.Target, data, size, writeError); });
    // A streamed deflated entry is read to the end of its stream, which the
    // limit bounds; every other entry ends at its sizes.
    const bool streamed = EndsWithItsStream(h);
    output.SetLimit(streamed ? MaxEntrySize : h.UncompressedSize);
    const uint64_t dataStart = archive.Position();
    const uint64_t fileSize = streamed ? archive.FileSize() : 0;
    TEntryInput input(archive, streamed ? (fileSize > dataStart ? fileSize - dataStart : 0) : h.CompressedSize,
                      OnProgress ? TEntryInput::TProgress([this](int16_t p) { OnProgress(*this, p); })
                                 : TEntryInput::TProgress());
    TDecodeResult decoded = TDecodeResult::Done;
    TInflateResult inflated;
    try {
        if (!Decode(input, output, h, decoded, inflated)) {
            SkipPastData(input, archive, h);
            return true; // an unknown method: the target stays empty
        }
        output.Flush();
    } catch (...) {
        removeTarget(); // nothing half-decoded stays behind
        throw;
    }
    // On past the entry's data and its descriptor.
    bool goOn = true;
    if (!streamed) {
        SkipPastData(input, archive, h);
    } else if (inflated.Ended) {
        archive.Seek(dataStart + inflated.Consumed);
        ReadDescriptorAfter(archive, h, inflated.Consumed, output.Total());
    } else {
        goOn = false; // stopped at the limit: where the stream ends is not known
    }
    if (decoded == TDecodeResult::PastLimit && streamed) {
        Report("Entry " + h.Name + " decodes to more than the limit of " + ByteCount(MaxEntrySize) +
               ": stopped, and the partial file removed");
        removeTarget();
        return goOn;
    }
    if (decoded == TDecodeResult::PastLimit)
        Report("Entry " + h.Name + " decodes to more than its stated size of " + ByteCount(h.UncompressedSize) +
               ": the rest was not extracted");
    if (writeError != 0) {
        removeTarget(); // a file cut short by the disk is no extracted entry
        return goOn;
    }
    if (decoded != TDecodeResult::NoMemory)
        CheckCrc(result, h.Crc, output.Crc());
    const int fd = target.fd;
    target.fd = -1;
    if (!StampAndClose(fd, h)) {
        ::unlink(result.Target.c_str());
        return goOn;
    }
    result.Written = decoded != TDecodeResult::NoMemory;
    return goOn;
}

bool TUnZip::Decode(TEntryInput& input, TOutputWindow& output, const TZipEntryHeader& h, TDecodeResult& decoded,
                    TInflateResult& inflated)
{
    const TZipReport report = [this](const std::string& message) { Report(message); };
    const bool streamed = EndsWithItsStream(h);
    switch (h.Method) {
    case 0: {
        uint8_t chunk[kZipBufferSize];
        size_t got;
        while (!output.Overflowed() && (got = input.Read(chunk, sizeof chunk)) > 0)
            output.Write(chunk, got);
        decoded = output.Overflowed() ? TDecodeResult::PastLimit : TDecodeResult::Done;
        return true;
    }
    case 1: decoded = UnShrink(input, output, report); return true;
    case 2:
    case 3:
    case 4:
    case 5: decoded = UnReduce(input, output, h.UncompressedSize, h.Method - 1, report); return true;
    case 6: decoded = UnExplode(input, output, h.UncompressedSize, h.Flags, report); return true;
    case 8:
        inflated = Inflate(input, output, h.Name);
        if (output.Overflowed())
            decoded = TDecodeResult::PastLimit;
        else if (streamed && !inflated.Ended)
            throw EQuarvexError("The deflated data of " + h.Name +
                                (inflated.Damaged ? " is damaged" : " ends before its stream does"));
        else if (!streamed && output.Total() < h.UncompressedSize)
            throw EQuarvexError("The deflated data of " + h.Name + " gives fewer bytes than its header claims");
        return true;
    default:
        Report("Unknown compress method (" + std::to_string(h.Method) + ") used on " + h.Name + " ! Skip next...");
        return false;
    }
}

void TUnZip::WriteOut(int fd, const std::string& target, const uint8_t* data, size_t size, int& writeError)
{
    while (size > 0 && writeError == 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            writeError = written < 0 ? errno : ENOSPC;
            Report(IoMessage(writeError, target));
            return;
        }
        data += written;
        size -= size_t(written);
    }
}

void TUnZip::CheckCrc(TExtractedEntry& result, uint32_t stored, uint32_t computed)
{
    result.CrcMatches = stored == computed;
    if (result.CrcMatches)
        return;
    char message[64];
    std::snprintf(message, sizeof message, "Stored CRC is %x, computed CRC is %x.", stored, computed);
    Report("File " + result.Target + " has bad CRC! " + message);
}

bool TUnZip::StampAndClose(int fd, const TZipEntryHeader& h)
{
    std::tm when = DosDateTime(h);
    const time_t stamp = std::mktime(&when);
    if (stamp != time_t(-1)) {
        const timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ::futimens(fd, times);
    }
    if (::close(fd) == 0)
        return true;
    Report(IoMessage(errno, extrPath_ + h.Name));
    return false;
}

} // namespace quarvex
