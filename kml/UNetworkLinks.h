// Network links: the link pass sorts the addresses of a document into the
// map-service documents to fetch and the links that are only listed, and
// DownloadFile fetches one address into a file.
#pragma once

#include "kml/UGeometryPasses.h"
#include "platform/UHttp.h"

#include <string>
#include <vector>

namespace quarvex {

// "http://" + the map service's host + "/maps/ms?".
extern const char* const kMapServiceMarker;

// True when the address contains the marker anywhere (case-sensitive).
bool IsMapServiceAddress(const std::string& address);

struct TLinkLists {
    std::vector<std::string> ComboLinks; // every other address, duplicates kept
    std::vector<std::string> ComboGMaps; // map-service addresses still to fetch, each once
};

// Collects the HREF text of every "Link" element of the loaded document.
void CollectLinks(TPassContext& context, TLinkLists& links);

// The executable's file name + " v1.0 qvx".
std::string ClientIdentity();

// One fetch of a link into a file.
struct TFetchResult {
    THttpResult Http;
    uint64_t Received = 0; // body bytes
    // True when the target holds a reply to read: it arrived whole with a
    // status below 400 and is not exactly 280 bytes long.
    bool Fetched() const;
    // Why nothing was fetched, in words, for a link that gave no reply.
    std::string Failure() const;
};

// Fetches address into target as DownloadFile does, but tells the outcome
// instead of raising it: a reply that broke off or passed a bound leaves no
// part behind and is told by its Outcome. Raises only the target's errors.
TFetchResult FetchLink(const std::string& address, const std::string& target, const THttpLimits& limits);

// What went wrong with a reply that began but did not arrive whole, in
// words; empty for the outcomes that are no such fault.
std::string TransferFault(const TFetchResult& fetch, const THttpLimits& limits);

// Fetches address into target (replacing it) and says whether the fetch
// counts as a success: the reply arrived with a status below 400 and is not
// exactly 280 bytes long. Without a reply the target is left untouched.
// Raises the I/O error when the target cannot be created or written, and
// EQuarvexError naming the address and the fault when a reply began but
// broke off, stalled, came too slowly, took too long or grew too large;
// the part received is then removed.
bool DownloadFile(const std::string& address, const std::string& target, const THttpLimits& limits = {});

} // namespace quarvex
