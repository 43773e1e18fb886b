// Where the export's documents come from: the input KML file (a regular
// file, a pipe or a device), the document inside a KMZ archive inflated
// straight from it, the documents network links name (entries of the same
// archive, files in the input's folder or below it), and, when allowed,
// documents fetched over HTTP. Nothing is copied anywhere but a fetched
// reply, kept beside the sets under a temporary name while it is read.
#pragma once

#include "kml/kmz/UUnZip.h"
#include "platform/UHttp.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quarvex {

struct TDocumentRef {
    enum class TKind { File, Entry, Remote } Kind = TKind::File;
    std::string Path;    // the file, or the archive of an entry
    std::string Entry;   // the entry's name in its archive
    uint64_t Offset = 0; // of the entry's local header
    std::string Url;     // the address a fetched document came from
    std::string Key;     // one document, one key: each is read once
    std::string Shown;   // how the log names it
};

struct TSourceOptions {
    uint64_t MaxDocumentSize = kDefaultMaxEntrySize; // of a document taken out of an archive
    bool FetchLinks = false;
    THttpLimits Limits;
    std::string ScratchPrefix; // path prefix of fetched replies while they are read
    // All fetches of an export together end after FetchBudgetMs; the time
    // spent so far is kept in *FetchSpentMs, shared by the inputs of one run.
    long FetchBudgetMs = 15 * 60 * 1000;
    long* FetchSpentMs = nullptr;
};

class TDocumentSources {
public:
    explicit TDocumentSources(TSourceOptions options);
    ~TDocumentSources();
    TDocumentSources(const TDocumentSources&) = delete;
    TDocumentSources& operator=(const TDocumentSources&) = delete;

    // The input's document: the file itself, or for a KMZ archive (by its
    // extension) its first entry named like doc.kml, else its first .kml
    // entry. Raises EQuarvexError when there is none or the input is a
    // folder, the I/O error when it cannot be read.
    TDocumentRef OpenInput(const std::string& input);

    // Fetches a remote document into a reply kept beside the sets and turns
    // doc into it (for an archive, into its document; the address stays
    // for resolving its links). False, with what happened in reason, when
    // no whole reply came. Other documents are left as they are.
    bool Fetch(TDocumentRef& doc, std::string& reason);

    // Hands the bytes of doc (a file or an entry) to feed as they are read
    // or inflated, and the bytes done and the document's size (0 when not
    // known) to progress. Raises EQuarvexError when it cannot be read whole.
    void Read(const TDocumentRef& doc, const std::function<void(const char*, size_t)>& feed,
              const std::function<void(uint64_t done, uint64_t size)>& progress);

    // The document that href, written in from, names: true with it in
    // target; false with the reason it is not followed.
    bool ResolveLink(const TDocumentRef& from, const std::string& href, TDocumentRef& target, std::string& reason);

    // Removes every fetched reply kept so far.
    void RemoveScratch();

private:
    struct TArchive {
        std::vector<TZipEntryHeader> Entries;
    };
    const TArchive& ListArchive(const std::string& path);
    bool ArchiveDocument(const std::string& path, TDocumentRef& ref, std::string& reason);
    bool ResolveInArchive(const TDocumentRef& from, const std::string& relative, TDocumentRef& target,
                          std::string& reason);
    bool ResolveFile(const TDocumentRef& from, const std::string& relative, TDocumentRef& target,
                     std::string& reason);
    std::string FetchReply(const std::string& url);

    TSourceOptions options_;
    TUnZip unzip_;
    std::string root_; // the input's folder, resolved; linked files stay inside it
    std::map<std::string, TArchive> archives_;
    std::vector<std::string> scratch_;
};

// href with "." and ".." steps taken and "%XX" decoded, relative to the
// folder base ("" or ending in "/"); false when it would climb above base's
// root or is no relative address.
bool JoinRelative(const std::string& base, const std::string& href, std::string& joined);

} // namespace quarvex
