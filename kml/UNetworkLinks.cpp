#include "kml/UNetworkLinks.h"

#include "platform/UBufferedFile.h"
#include "platform/UFileNames.h"

#include <algorithm>

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
    const bool replied = outcome == THttpOutcome::Complete || outcome == THttpOutcome::BrokenOff;
    if (replied && !file.IsOpen()) // an empty body still makes an empty target
        file.Open(target, TBufferedFile::TMode::CreateTruncate);
    file.Close();
    return replied && total != kServiceErrorReplySize;
}

} // namespace quarvex
