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

std::string TransferFault(THttpOutcome outcome, uint64_t received, const THttpLimits& limits)
{
    switch (outcome) {
    case THttpOutcome::BrokenOff: return "the connection broke off after " + std::to_string(received) + " bytes";
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

bool DownloadFile(const std::string& address, const std::string& target, const THttpLimits& limits)
{
    TBufferedFile file;
    uint64_t total = 0;
    THttpOutcome outcome = HttpGet(address, ClientIdentity(), limits, [&](const char* data, size_t size) {
        if (!file.IsOpen())
            file.Open(target, TBufferedFile::TMode::CreateTruncate);
        file.Write(data, size);
        total += size;
    });
    const std::string fault = TransferFault(outcome, total, limits);
    if (!fault.empty()) {
        // Part of a document is no document: nothing of it is kept.
        try {
            file.Close();
        } catch (const EQuarvexError&) {
        }
        if (total > 0) // the target was opened, and truncated, by this fetch
            ::unlink(target.c_str());
        throw EQuarvexError("Fetching \"" + address + "\" failed: " + fault);
    }
    const bool replied = outcome == THttpOutcome::Complete;
    if (replied && !file.IsOpen()) // an empty body still makes an empty target
        file.Open(target, TBufferedFile::TMode::CreateTruncate);
    file.Close();
    return replied && total != kServiceErrorReplySize;
}

} // namespace quarvex
