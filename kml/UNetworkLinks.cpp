#include "kml/UNetworkLinks.h"

#include "platform/UBufferedFile.h"
#include "platform/UFileNames.h"

#include <algorithm>
#include <unistd.h>

namespace quarvex {

const char* const kMapServiceMarker = "http://maps.google.com/maps/ms?";

namespace {
// A reply of exactly this size is the service's error page.
constexpr uint64_t kServiceErrorReplySize = 280;
} // namespace

bool IsMapServiceAddress(const std::string& address)
{
    return address.find(kMapServiceMarker) != std::string::npos;
}

void CollectLinks(TPassContext& c, TLinkLists& links)
{
    c.View.SetPassName("Links");
    const int n = c.XMLDoc.CountElementsByTagName("Link");
    if (n == 0)
        return;
    c.View.SetProgressMax(n);
    c.View.SetProgressPosition(0);
    int i = 0;
    c.XMLDoc.ForEachElementByTagName("Link", [&](TDomNode e) {
        std::string address(ChildText(e, "HREF"));
        if (!IsMapServiceAddress(address))
            links.ComboLinks.push_back(std::move(address));
        else if (std::find(links.ComboGMaps.begin(), links.ComboGMaps.end(), address) == links.ComboGMaps.end())
            links.ComboGMaps.push_back(std::move(address));
        c.View.SetProgressPosition(++i);
    });
}

std::string ClientIdentity()
{
    return ExtractFileName(ExecutablePath()) + " v1.0 qvx";
}

namespace {

std::string Seconds(long ms)
{
    return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 / 100) : "") + " s";
}

} // namespace

bool TFetchResult::Fetched() const
{
    return Http.Outcome == THttpOutcome::Complete && Received != kServiceErrorReplySize;
}

std::string TFetchResult::Failure() const
{
    if (Http.Outcome == THttpOutcome::Complete && Received == kServiceErrorReplySize)
        return "the reply is the map service's error page (280 bytes)";
    return Http.Reason;
}

std::string TransferFault(const TFetchResult& fetch, const THttpLimits& limits)
{
    switch (fetch.Http.Outcome) {
    case THttpOutcome::BrokenOff: return "the connection broke off after " + std::to_string(fetch.Received) + " bytes";
    case THttpOutcome::Stalled: return "no data arrived for " + Seconds(limits.stallTimeoutMs);
    case THttpOutcome::TooSlow:
        return "fewer than " + std::to_string(limits.minBytesPerWindow) + " bytes arrived in " +
               Seconds(limits.speedWindowMs);
    case THttpOutcome::TooLong: return "the transfer took longer than " + Seconds(limits.totalTimeoutMs);
    case THttpOutcome::TooLarge:
        return "the reply is larger than " + std::to_string(limits.maxBodyBytes >> 20) + " MB";
    default: return {};
    }
}

TFetchResult FetchLink(const std::string& address, const std::string& target, const THttpLimits& limits)
{
    TBufferedFile file;
    TFetchResult fetch;
    fetch.Http = HttpGet(address, ClientIdentity(), limits, [&](const char* data, size_t size) {
        if (!file.IsOpen())
            file.Open(target, TBufferedFile::TMode::CreateNew); // never through a link planted there
        file.Write(data, size);
        fetch.Received += size;
    });
    if (!TransferFault(fetch, limits).empty()) {
        // Part of a document is no document: nothing of it is kept.
        try {
            file.Close();
        } catch (const EQuarvexError&) {
        }
        if (fetch.Received > 0) // the target was made by this fetch
            ::unlink(target.c_str());
        return fetch;
    }
    if (fetch.Http.Outcome == THttpOutcome::Complete && !file.IsOpen()) // an empty body still makes an empty target
        file.Open(target, TBufferedFile::TMode::CreateNew);
    file.Close();
    return fetch;
}

bool DownloadFile(const std::string& address, const std::string& target, const THttpLimits& limits)
{
    const TFetchResult fetch = FetchLink(address, target, limits);
    const std::string fault = TransferFault(fetch, limits);
    if (!fault.empty())
        throw EQuarvexError("Fetching \"" + address + "\" failed: " + fault);
    return fetch.Fetched();
}

} // namespace quarvex
