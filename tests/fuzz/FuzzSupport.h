// Helpers for the fuzz targets: input bytes as a file descriptor, and a
// scratch folder emptied before each run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace quarvex::fuzz {

// The bytes as an anonymous in-memory file; the caller closes it.
inline int MemoryFile(const uint8_t* data, size_t size)
{
    int fd = memfd_create("fuzz", 0);
    size_t done = 0;
    while (fd >= 0 && done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return fd;
}

// A folder of this process under /tmp, empty on return; ends with "/".
inline std::string FreshFolder(const char* name)
{
    static const std::string base = "/tmp/quarvex-fuzz-" + std::to_string(getpid()) + "/";
    const std::string folder = base + name + "/";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    return folder;
}

} // namespace quarvex::fuzz
