#include "export/UDocumentSources.h"

#include "kml/UNetworkLinks.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UErrors.h"
#include "platform/UFileCreation.h"
#include "platform/UFileNames.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {

constexpr size_t kReadPiece = size_t(1) << 20;

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && UpperAscii(text.substr(text.size() - end.size())) == UpperAscii(end);
}

// The scheme of an address ("http" of "http://..."), or empty when the
// text has none.
std::string SchemeOf(const std::string& href)
{
    const size_t colon = href.find(':');
    if (colon == std::string::npos || colon == 0)
        return {};
    for (size_t i = 0; i < colon; ++i) {
        const char c = href[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return {};
    }
    return UpperAscii(href.substr(0, colon));
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads fd to its end in pieces; the error names path.
void ReadAll(int fd, const std::string& path, const std::function<void(const char*, size_t)>& feed,
             const std::function<void(uint64_t, uint64_t)>& progress, uint64_t size)
{
    std::vector<char> piece(kReadPiece);
    uint64_t done = 0;
    while (true) {
        const ssize_t got = ::read(fd, piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EQuarvexError("Cannot read \"" + path + "\": " + IoErrorMessage(IoErrorCodeFromErrno(errno)));
        if (got == 0)
            return;
        feed(piece.data(), size_t(got));
        done += uint64_t(got);
        if (progress)
            progress(done, size);
    }
}

struct TFd {
    int fd = -1;
    ~TFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

bool JoinRelative(const std::string& base, const std::string& href, std::string& joined)
{
    std::string path = href.substr(0, href.find_first_of("?#"));
    std::string decoded;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && HexDigit(path[i + 1]) >= 0 && HexDigit(path[i + 2]) >= 0) {
            decoded += char(HexDigit(path[i + 1]) * 16 + HexDigit(path[i + 2]));
            i += 2;
        } else {
            decoded += path[i] == '\\' ? '/' : path[i];
        }
    }
    if (decoded.empty() || decoded[0] == '/' || decoded.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> steps;
    for (const std::string& text : {base, decoded}) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t slash = text.find('/', start);
            if (slash == std::string::npos)
                slash = text.size();
            const std::string step = text.substr(start, slash - start);
            start = slash + 1;
            if (step.empty() || step == ".")
                continue;
            if (step == "..") {
                if (steps.empty())
                    return false;
                steps.pop_back();
                continue;
            }
            steps.push_back(step);
        }
    }
    if (steps.empty())
        return false;
    joined.clear();
    for (const std::string& step : steps)
        joined.append(joined.empty() ? "" : "/").append(step);
    return true;
}

TDocumentSources::TDocumentSources(TSourceOptions options) : options_(std::move(options))
{
    unzip_.MaxEntrySize = options_.MaxDocumentSize;
}

TDocumentSources::~TDocumentSources()
{
    RemoveScratch();
}

const TDocumentSources::TArchive& TDocumentSources::ListArchive(const std::string& path)
{
    auto it = archives_.find(path);
    if (it != archives_.end())
        return it->second;
    std::vector<std::string> lines;
    unzip_.ListArchive(path, lines);
    TArchive archive;
    archive.Entries = unzip_.Listed;
    return archives_.emplace(path, std::move(archive)).first->second;
}

bool TDocumentSources::ArchiveDocument(const std::string& path, TDocumentRef& ref, std::string& reason)
{
    const TArchive& archive = ListArchive(path);
    std::vector<std::string> names;
    for (const TZipEntryHeader& entry : archive.Entries)
        names.push_back(entry.Name + "\t");
    long chosen = ChooseKmlEntry(names);
    // An archive without a doc.kml holds its document as its first .kml entry.
    for (size_t i = 0; chosen < 0 && i < archive.Entries.size(); ++i)
        if (EndsWithIgnoringCase(archive.Entries[i].Name, ".kml"))
            chosen = long(i);
    if (chosen < 0) {
        reason = "the archive holds no KML document";
        return false;
    }
    const TZipEntryHeader& entry = archive.Entries[size_t(chosen)];
    ref.Kind = TDocumentRef::TKind::Entry;
    ref.Path = path;
    ref.Entry = entry.Name;
    ref.Offset = entry.Offset;
    ref.Key = path + "\n" + entry.Name;
    return true;
}

TDocumentRef TDocumentSources::OpenInput(const std::string& input)
{
    struct stat st;
    if (::stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw EQuarvexError("it is a folder, not a KML or KMZ file");
    if (::stat(input.c_str(), &st) != 0)
        RaiseIoError(errno);
    const std::string real = RealPath(input);
    root_ = real.empty() ? std::string() : FolderOf(real);
    TDocumentRef ref;
    ref.Shown = ExtractFileName(input);
    if (UpperAscii(ExtractFileExt(input)) == ".KMZ") {
        std::string reason;
        if (!ArchiveDocument(input, ref, reason))
            throw EQuarvexError(reason);
        return ref;
    }
    ref.Kind = TDocumentRef::TKind::File;
    ref.Path = input;
    ref.Key = real.empty() ? input : real;
    return ref;
}

bool TDocumentSources::Fetch(TDocumentRef& doc, std::string& reason)
{
    if (doc.Kind != TDocumentRef::TKind::Remote)
        return true;
    std::string path;
    try {
        path = FetchReply(doc.Url);
    } catch (const EQuarvexError& e) {
        reason = e.what();
        return false;
    }
    uint8_t magic[4] = {};
    TFd probe;
    probe.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool archive = probe.fd >= 0 && ::read(probe.fd, magic, 4) == 4 && magic[0] == 'P' && magic[1] == 'K' &&
                         magic[2] == 3 && magic[3] == 4;
    TDocumentRef fetched = doc;
    if (archive) {
        if (!ArchiveDocument(path, fetched, reason))
            return false;
        fetched.Key = doc.Key;
    } else {
        fetched.Kind = TDocumentRef::TKind::File;
        fetched.Path = path;
    }
    doc = fetched;
    return true;
}

void TDocumentSources::Read(const TDocumentRef& doc, const std::function<void(const char*, size_t)>& feed,
                            const std::function<void(uint64_t, uint64_t)>& progress)
{
    if (doc.Kind == TDocumentRef::TKind::Entry) {
        const TArchive& archive = ListArchive(doc.Path);
        uint64_t size = 0;
        for (const TZipEntryHeader& entry : archive.Entries)
            if (entry.Offset == doc.Offset)
                size = entry.UncompressedSize;
        uint64_t done = 0;
        unzip_.StreamEntryAt(doc.Path, doc.Offset, [&](const uint8_t* data, size_t n) {
            feed(reinterpret_cast<const char*>(data), n);
            done += n;
            if (progress)
                progress(done, size);
        });
        return;
    }
    TFd file;
    file.fd = ::open(doc.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0)
        throw EQuarvexError("Cannot read \"" + doc.Path + "\": " + IoErrorMessage(IoErrorCodeFromErrno(errno)));
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        RaiseIoError(errno);
    if (S_ISDIR(st.st_mode))
        throw EQuarvexError("it is a folder, not a KML or KMZ file");
    ReadAll(file.fd, doc.Path, feed, progress, S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0);
}

bool TDocumentSources::ResolveLink(const TDocumentRef& from, const std::string& href, TDocumentRef& target,
                                   std::string& reason)
{
    if (href.empty()) {
        reason = "it names no document";
        return false;
    }
    const std::string scheme = SchemeOf(href);
    std::string address;
    if (scheme == "HTTP" || scheme == "HTTPS") {
        address = href;
    } else if (!scheme.empty() || href[0] == '/') {
        reason = "outside the document's folder";
        return false;
    } else if (from.Kind == TDocumentRef::TKind::Entry) {
        return ResolveInArchive(from, href, target, reason);
    } else if (!from.Url.empty()) {
        // Relative to the address a fetched document came from.
        const size_t hostEnd = from.Url.find('/', from.Url.find("://") + 3);
        const std::string origin = hostEnd == std::string::npos ? from.Url : from.Url.substr(0, hostEnd);
        const std::string path = hostEnd == std::string::npos ? std::string() : from.Url.substr(hostEnd + 1);
        std::string joined;
        if (!JoinRelative(FolderOf(path.substr(0, path.find_first_of("?#"))), href, joined)) {
            reason = "outside the document's folder";
            return false;
        }
        address = origin + "/" + joined;
    } else {
        return ResolveFile(from, href, target, reason);
    }
    if (!options_.FetchLinks) {
        reason = "a remote document, fetched only with --fetch-links";
        return false;
    }
    target = TDocumentRef();
    target.Kind = TDocumentRef::TKind::Remote;
    target.Url = target.Key = target.Shown = address;
    return true;
}

bool TDocumentSources::ResolveInArchive(const TDocumentRef& from, const std::string& relative, TDocumentRef& target,
                                        std::string& reason)
{
    std::string name;
    if (!JoinRelative(FolderOf(from.Entry), relative, name)) {
        reason = "outside the document's folder";
        return false;
    }
    for (const TZipEntryHeader& entry : ListArchive(from.Path).Entries) {
        if (entry.Name != name)
            continue;
        target = TDocumentRef();
        target.Kind = TDocumentRef::TKind::Entry;
        target.Path = from.Path;
        target.Entry = name;
        target.Offset = entry.Offset;
        target.Url = from.Url;
        target.Key = from.Path + "\n" + name;
        target.Shown = name;
        return true;
    }
    reason = "not found in the archive";
    return false;
}

bool TDocumentSources::ResolveFile(const TDocumentRef& from, const std::string& relative, TDocumentRef& target,
                                   std::string& reason)
{
    const std::string fromReal = RealPath(from.Path);
    std::string base;
    if (!root_.empty() && fromReal.compare(0, root_.size(), root_) == 0)
        base = FolderOf(fromReal.substr(root_.size()));
    std::string joined;
    if (root_.empty() || !JoinRelative(base, relative, joined)) {
        reason = "outside the document's folder";
        return false;
    }
    const std::string real = RealPath(root_ + joined);
    if (real.empty()) {
        reason = "not found";
        return false;
    }
    // A link on the way may point anywhere: the resolved path must stay inside.
    if (real.compare(0, root_.size(), root_) != 0) {
        reason = "outside the document's folder";
        return false;
    }
    struct stat st;
    if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a file";
        return false;
    }
    target = TDocumentRef();
    target.Shown = relative;
    if (EndsWithIgnoringCase(real, ".kmz")) {
        if (!ArchiveDocument(real, target, reason))
            return false;
        target.Shown = relative;
        return true;
    }
    target.Kind = TDocumentRef::TKind::File;
    target.Path = target.Key = real;
    return true;
}

std::string TDocumentSources::FetchReply(const std::string& url)
{
    const long spent = options_.FetchSpentMs ? *options_.FetchSpentMs : 0;
    const long remaining = options_.FetchBudgetMs - spent;
    const std::string budgetSpent = "not fetched: the fetches of this export took their " +
                                    std::to_string(options_.FetchBudgetMs / 60000) + " minutes";
    if (remaining <= 0)
        throw EQuarvexError(budgetSpent);
    const std::string path = options_.ScratchPrefix + std::to_string(scratch_.size() + 1) + ".quarvex-part";
    TFd file;
    file.fd = CreateFileNoFollow(path, O_WRONLY); // a name someone else made meanwhile is never written through
    scratch_.push_back(path);
    THttpLimits limits = options_.Limits;
    const bool cutByBudget = remaining < limits.totalTimeoutMs;
    if (cutByBudget)
        limits.totalTimeoutMs = remaining;
    uint64_t received = 0;
    int writeError = 0;
    const auto start = std::chrono::steady_clock::now();
    const THttpResult result = HttpGet(url, ClientIdentity(), limits, [&](const char* data, size_t n) {
        received += n;
        while (n > 0 && writeError == 0) {
            const ssize_t written = ::write(file.fd, data, n);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                writeError = written < 0 ? errno : ENOSPC;
                break;
            }
            data += written;
            n -= size_t(written);
        }
    });
    if (options_.FetchSpentMs)
        *options_.FetchSpentMs +=
            long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    if (writeError != 0)
        throw EQuarvexError("Cannot write \"" + path + "\": " + IoErrorMessage(IoErrorCodeFromErrno(writeError)));
    if (cutByBudget && result.TimeBoundReached)
        throw EQuarvexError(budgetSpent);
    TFetchResult fetch;
    fetch.Http = result;
    fetch.Received = received;
    const std::string fault = TransferFault(fetch, limits);
    if (!fault.empty())
        throw EQuarvexError("not fetched: " + fault);
    if (result.Outcome != THttpOutcome::Complete)
        throw EQuarvexError("not fetched: " + (result.Reason.empty() ? std::string("no reply") : result.Reason));
    return path;
}

void TDocumentSources::RemoveScratch()
{
    for (const std::string& path : scratch_)
        ::unlink(path.c_str());
    scratch_.clear();
}

} // namespace quarvex
