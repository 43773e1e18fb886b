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

// A reply begins once the headers of the final response have ended (no
// redirect follows) or its first body byte has come.
enum class THttpOutcome {
    Complete,  // the whole body arrived
    BrokenOff, // the transfer broke off after a reply began
    // No reply: a bad or unsupported address, an unreachable host, no
    // connection in time, a refused redirect or a redirect loop, headers
    // that are too long, not valid or never end.
    Failed,
    HttpError, // a status of 400 or more
    Stalled,   // a reply began, then no byte came for stallTimeoutMs
    TooSlow,   // fewer than minBytesPerWindow bytes came in a speed window
    TooLong,   // the transfer passed totalTimeoutMs
    TooLarge,  // the body passed maxBodyBytes
};

struct THttpResult {
    THttpOutcome Outcome = THttpOutcome::Failed;
    // For Failed and HttpError: what happened, in words ("the server
    // answered with status 404", "a redirect to a file: address was refused").
    std::string Reason;
    bool TimeBoundReached = false; // totalTimeoutMs ended it, reply or not
};

// The body's pieces go to onBody, in order, each of at most 1024 bytes; an
// exception raised there ends the fetch and passes on to the caller.
// onBody is called for no byte when there is no reply or an HTTP error.
THttpResult HttpGet(const std::string& address, const std::string& userAgent, const THttpLimits& limits,
                    const std::function<void(const char* data, size_t size)>& onBody);

} // namespace quarvex
