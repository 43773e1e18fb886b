// Runs one legacy decoder over the fuzzer's bytes. The first byte chooses
// the parameters (reduce factor, implode flags); the next two the output size,
// which bounds every decoder.
#include "FuzzSupport.h"
#include "kml/kmz/ULegacyDecoders.h"
#include "platform/UErrors.h"

#ifndef QUARVEX_FUZZ_METHOD
#error "QUARVEX_FUZZ_METHOD must be 1 (shrink), 2 (reduce) or 6 (implode)"
#endif

using namespace quarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t parameter = data[0];
    const uint64_t outputSize = (uint64_t(data[1]) << 8 | data[2]) * 16;
    int fd = fuzz::MemoryFile(data + 3, size - 3);
    TArchiveReader archive(fd);
    TEntryInput input(archive, size - 3);
    TOutputWindow output([](const uint8_t*, size_t) {});
    output.SetLimit(outputSize);
    const TZipReport report = [](const std::string&) {};
    switch (QUARVEX_FUZZ_METHOD) {
    case 1: UnShrink(input, output, report); break;
    case 2: UnReduce(input, output, outputSize, 1 + parameter % 4, report); break;
    default: UnExplode(input, output, outputSize, parameter & 6, report); break;
    }
    output.Flush();
    close(fd);
    return 0;
}
