// HTTP GET over libcurl: the proxy variables are honoured, redirects are
// followed, and the body is handed over in pieces of at most 1024 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarvex {

struct THttpLimits {
    long connectTimeoutMs = 30000;
    long stallTimeoutMs = 60000; // no byte for this long ends the fetch
    uint64_t maxBodyBytes = uint64_t(512) << 20;
};

enum class THttpOutcome {
    Complete,     // the whole body arrived
    BrokenOff,    // the transfer broke off after a reply began
    Failed,       // no reply: bad address, unreachable host, refused
    HttpError,    // a status of 400 or more
    TimedOut,     // connecting or a stall took too long
    TooLarge,     // the body passed maxBodyBytes
};

// The body's pieces go to onBody, in order, each of at most 1024 bytes; an
// exception raised there ends the fetch and passes on to the caller.
// onBody is called for no byte when there is no reply or an HTTP error.
THttpOutcome HttpGet(const std::string& address, const std::string& userAgent, const THttpLimits& limits,
                     const std::function<void(const char* data, size_t size)>& onBody);

} // namespace quarvex
