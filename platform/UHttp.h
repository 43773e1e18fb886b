// HTTP GET over libcurl: the proxy variables are honoured, redirects are
// followed, and the body is handed over in pieces of at most 1024 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarvex {

// Bounds of one fetch. Besides the time-outs, the whole transfer is bound
// twice: it ends after totalTimeoutMs whatever arrives, and it ends when
// fewer than minBytesPerWindow bytes arrive in any speedWindowMs (so a
// server that sends a byte every few seconds cannot hold the job for long).
struct THttpLimits {
    long connectTimeoutMs = 30000;
    long stallTimeoutMs = 60000;  // no byte for this long ends the fetch
    long totalTimeoutMs = 300000; // the whole transfer, from the request on
    long speedWindowMs = 60000;
    uint64_t minBytesPerWindow = 1024;
    uint64_t maxBodyBytes = uint64_t(512) << 20;
};

enum class THttpOutcome {
    Complete,  // the whole body arrived
    BrokenOff, // the transfer broke off after a reply began
    Failed,    // no reply: bad address, unreachable host, refused, no connection in time
    HttpError, // a status of 400 or more
    Stalled,   // a reply began, then no byte came for stallTimeoutMs
    TooSlow,   // fewer than minBytesPerWindow bytes came in a speed window
    TooLong,   // the transfer passed totalTimeoutMs
    TooLarge,  // the body passed maxBodyBytes
};

// The body's pieces go to onBody, in order, each of at most 1024 bytes; an
// exception raised there ends the fetch and passes on to the caller.
// onBody is called for no byte when there is no reply or an HTTP error.
THttpOutcome HttpGet(const std::string& address, const std::string& userAgent, const THttpLimits& limits,
                     const std::function<void(const char* data, size_t size)>& onBody);

} // namespace quarvex
