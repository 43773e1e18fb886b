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

// What went wrong with a transfer that began but did not end as a whole
// document (received bytes had come); empty for the outcomes that are no
// such fault.
std::string TransferFault(THttpOutcome outcome, uint64_t received, const THttpLimits& limits);

// Fetches address into target (replacing it) and says whether the fetch
// counts as a success: the reply arrived with a status below 400 and is not
// exactly 280 bytes long. Without a reply the target is left untouched.
// Raises the I/O error when the target cannot be created or written, and
// EQuarvexError naming the address and the fault when a reply began but
// broke off, stalled, came too slowly, took too long or grew too large;
// the part received is then removed.
bool DownloadFile(const std::string& address, const std::string& target, const THttpLimits& limits = {});

} // namespace quarvex
