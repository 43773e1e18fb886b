#include "platform/UHttp.h"

#include <curl/curl.h>

#include <algorithm>
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

} // namespace

THttpOutcome HttpGet(const std::string& address, const std::string& userAgent, const THttpLimits& limits,
                     const std::function<void(const char*, size_t)>& onBody)
{
    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl)
        return THttpOutcome::Failed;
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
    CURLcode rc = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    if (t.error)
        std::rethrow_exception(t.error);
    if (t.httpError || (rc == CURLE_OK && code >= 400))
        return THttpOutcome::HttpError;
    if (t.tooLarge)
        return THttpOutcome::TooLarge;
    const bool replied = t.began || code > 0;
    if (t.tooLong)
        return replied ? THttpOutcome::TooLong : THttpOutcome::Failed;
    if (t.tooSlow)
        return replied ? THttpOutcome::TooSlow : THttpOutcome::Failed;
    if (t.stalled || rc == CURLE_OPERATION_TIMEDOUT)
        return replied ? THttpOutcome::Stalled : THttpOutcome::Failed;
    if (rc == CURLE_OK)
        return THttpOutcome::Complete;
    return replied ? THttpOutcome::BrokenOff : THttpOutcome::Failed;
}

} // namespace quarvex
