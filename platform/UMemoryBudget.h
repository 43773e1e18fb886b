// The memory check made before a document is loaded into the DOM: a
// document whose DOM would not fit in the memory the system has available
// is refused with the sizes, instead of driving the machine into swap.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quarvex {

// Peak bytes of memory per byte of document while TDomDocument loads it: the
// document's text plus pugixml's nodes. Measured with bench/bench_dom_memory
// (peak resident size during Load minus that before it): 2.1 for the
// indented layout desktop globe software saves, 3.9 for one element per
// line, 4.2 to 5.0 for one placemark per line with short names and
// coordinates, the densest layout real writers produce. Floods of empty
// elements reach 17, but are no document anyone converts.
constexpr double kDomBytesPerDocumentByte = 5.0;

// The memory available to a new allocation in bytes: MemAvailable of
// /proc/meminfo; 0 when it cannot be read (then no document is refused).
uint64_t AvailableMemory();

// Where the check asks for the available memory; tests replace it.
extern std::function<uint64_t()> AvailableMemoryProbe;

// The kB value of "MemAvailable:" in the text of /proc/meminfo, in bytes;
// 0 when the line is missing or malformed.
uint64_t ParseMemAvailable(const std::string& meminfo);

// Raises EQuarvexError, naming the document with its size, the memory its
// DOM would need and the memory available, when that need is more than
// what is available. A path that names no readable file passes: the load
// reports it.
void CheckDomFitsInMemory(const std::string& path);
// The same for a document of size bytes; TDomDocument::Load checks every file
// it reads this way.
void CheckDomFitsInMemory(const std::string& path, uint64_t size);

// The same rule for a document read from a pipe or a device, whose size is
// known only as it arrives: raises EQuarvexError, naming the document and
// the bytes read so far, once their DOM would need more than is available.
// Called as the bytes come, it stops the read soon after the bound.
void CheckStreamFitsInMemory(const std::string& path, uint64_t bytesSoFar);

// The most bytes of a document whose DOM fits in the memory available now
// (UINT64_MAX when that is not known): below it no check can refuse.
uint64_t DomDocumentBound();

// "512 bytes", "3.4 MB", "2.0 GB" (decimal units, one decimal).
std::string FormatByteSize(uint64_t bytes);

} // namespace quarvex
