#include "platform/UHttp.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <exception>
#include <mutex>

namespace quarvex {

namespace {

constexpr size_t kPieceSize = 1024;
using TClock = std::chrono::steady_clock;

struct TTransfer {
    CURL* curl = nullptr;
    const THttpLimits* limits = nullptr;
    const std::function<void(const char*, size_t)>* onBody = nullptr;
    uint64_t received = 0;
    bool began = false;
    bool headersEnded = false; // of the final response: a reply has begun
    long blockStatus = 0;      // the status of the header block being read
    bool blockRedirects = false; // that block names a Location to follow
    bool httpError = false;
    bool tooLarge = false;
    bool stalled = false;
    bool tooSlow = false;
    bool tooLong = false;
    TClock::time_point start = TClock::now();
    TClock::time_point lastByte = start;
    curl_off_t lastCount = 0;
    TClock::time_point windowStart = start;
    curl_off_t windowCount = 0;
    std::exception_ptr error;
};

size_t OnWrite(char* data, size_t one, size_t count, void* user)
{
    auto& t = *static_cast<TTransfer*>(user);
    const size_t size = one * count;
    if (!t.began) {
        long status = 0;
        curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            t.httpError = true;
            return 0;
        }
        t.began = true;
    }
    if (t.received + size > t.limits->maxBodyBytes) {
        t.tooLarge = true;
        return 0;
    }
    try {
        for (size_t done = 0; done < size; done += kPieceSize)
            (*t.onBody)(data + done, std::min(kPieceSize, size - done));
    } catch (...) {
        t.error = std::current_exception();
        return 0;
    }
    t.received += size;
    return size;
}

bool StartsIgnoringCase(const char* data, size_t size, const char* start)
{
    const size_t n = std::strlen(start);
    if (size < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(data[i])) != start[i])
            return false;
    return true;
}

// Follows the header blocks: a reply begins when the block of a final
// response ends (not 1xx, not a redirect that is followed).
size_t OnHeader(char* data, size_t one, size_t count, void* user)
{
    auto& t = *static_cast<TTransfer*>(user);
    const size_t size = one * count;
    if (StartsIgnoringCase(data, size, "http/")) {
        const char* space = static_cast<const char*>(std::memchr(data, ' ', size));
        t.blockStatus = space ? std::strtol(space + 1, nullptr, 10) : 0;
        t.blockRedirects = false;
    } else if (StartsIgnoringCase(data, size, "location:")) {
        t.blockRedirects = true;
    } else if ((size == 2 && data[0] == '\r') || (size == 1 && data[0] == '\n')) {
        const bool redirect = t.blockStatus >= 300 && t.blockStatus < 400 && t.blockRedirects;
        if (t.blockStatus >= 200 && !redirect)
            t.headersEnded = true;
    }
    return size;
}

int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t)
{
    auto& t = *static_cast<TTransfer*>(user);
    const auto now = TClock::now();
    using std::chrono::milliseconds;
    if (now - t.start > milliseconds(t.limits->totalTimeoutMs)) {
        t.tooLong = true;
        return 1;
    }
    if (now - t.windowStart >= milliseconds(t.limits->speedWindowMs)) {
        if (uint64_t(downloaded - t.windowCount) < t.limits->minBytesPerWindow) {
            t.tooSlow = true;
            return 1;
        }
        t.windowStart = now;
        t.windowCount = downloaded;
    }
    if (downloaded != t.lastCount) {
        t.lastCount = downloaded;
        t.lastByte = now;
        return 0;
    }
    if (now - t.lastByte > milliseconds(t.limits->stallTimeoutMs)) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Milliseconds(long ms)
{
    return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 / 100) : "") + " s";
}

// Why a transfer that never became a reply failed, in words.
std::string NoReplyReason(const TTransfer& t, CURLcode rc, long redirects, const char* curlMessage)
{
    const THttpLimits& l = *t.limits;
    // Header bytes do not count as data for the bounds: headers that never
    // end are ended by them.
    const bool headersBegan = t.blockStatus > 0;
    if (headersBegan && (t.tooLong || t.tooSlow || t.stalled))
        return "the reply's headers did not end within " +
               Milliseconds(t.tooLong ? l.totalTimeoutMs : t.tooSlow ? l.speedWindowMs : l.stallTimeoutMs);
    if (t.tooLong)
        return "no reply came within " + Milliseconds(l.totalTimeoutMs);
    if (t.tooSlow)
        return "no reply came: fewer than " + std::to_string(l.minBytesPerWindow) + " bytes arrived in " +
               Milliseconds(l.speedWindowMs);
    if (t.stalled)
        return "no reply came: nothing arrived for " + Milliseconds(l.stallTimeoutMs);
    switch (rc) {
    case CURLE_TOO_MANY_REDIRECTS: return "the redirects did not end after " + std::to_string(redirects) + " (a loop)";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return redirects > 0 ? "a redirect to an address that is not http or https was refused"
                             : "the address is not an http or https address";
    case CURLE_URL_MALFORMAT: return "the address is not a valid web address";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return "the host is not known";
    case CURLE_COULDNT_CONNECT: return "no connection could be made";
    case CURLE_OPERATION_TIMEDOUT: return "no connection within " + Milliseconds(l.connectTimeoutMs);
    default: break;
    }
    if (headersBegan)
        return std::string("the reply's headers are too long or not valid") +
               (*curlMessage ? " (" + std::string(curlMessage) + ")" : "");
    return *curlMessage ? std::string(curlMessage) : std::string(curl_easy_strerror(rc));
}

// The outcome of a transfer that ended without an exception.
THttpResult Classify(const TTransfer& t, CURLcode rc, long code, long redirects, const char* curlMessage)
{
    THttpResult result;
    result.TimeBoundReached = t.tooLong;
    const bool replied = t.began || t.headersEnded;
    if (t.httpError || (rc == CURLE_OK && code >= 400)) {
        result.Outcome = THttpOutcome::HttpError;
        result.Reason = "the server answered with status " + std::to_string(code);
    } else if (t.tooLarge) {
        result.Outcome = THttpOutcome::TooLarge;
    } else if (rc == CURLE_OK) {
        result.Outcome = THttpOutcome::Complete;
    } else if (!replied) {
        result.Outcome = THttpOutcome::Failed;
        result.Reason = NoReplyReason(t, rc, redirects, curlMessage);
    } else if (t.tooLong) {
        result.Outcome = THttpOutcome::TooLong;
    } else if (t.tooSlow) {
        result.Outcome = THttpOutcome::TooSlow;
    } else if (t.stalled || rc == CURLE_OPERATION_TIMEDOUT) {
        result.Outcome = THttpOutcome::Stalled;
    } else {
        result.Outcome = THttpOutcome::BrokenOff;
    }
    return result;
}

} // namespace

THttpResult HttpGet(const std::string& address, const std::string& userAgent, const THttpLimits& limits,
                     const std::function<void(const char*, size_t)>& onBody)
{
    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl)
        return THttpResult{THttpOutcome::Failed, "the HTTP client could not start", false};
    TTransfer t;
    t.curl = curl;
    t.limits = &limits;
    t.onBody = &onBody;
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    // Only web addresses: a link must never read local files or other services.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    char curlMessage[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlMessage);
    const CURLcode rc = curl_easy_perform(curl);
    long code = 0, redirects = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_cleanup(curl);
    if (t.error)
        std::rethrow_exception(t.error);
    return Classify(t, rc, code, redirects, curlMessage);
}

} // namespace quarvex
