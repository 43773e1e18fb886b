// Measures the memory a document takes while it is loaded into the DOM
// (TDomDocument over pugixml): the peak resident size during Load minus
// the resident size before it, per byte of the document. This is the
// factor the memory check before each load multiplies a document's size by.
// Usage: bench_dom_memory FILE...   (each file is loaded in its own child
// process, so that one peak does not hide the next)
#include "platform/UKmlDom.h"
#include "platform/UMemoryBudget.h"

#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quarvex;

namespace {

long PeakKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs in the child: loads the file once, prints size, peak growth, factor.
int LoadOne(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0 || st.st_size == 0) {
        std::fprintf(stderr, "%s: cannot read\n", path);
        return 1;
    }
    TDomDocument doc;
    const long before = PeakKib();
    try {
        doc.Load(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", path, e.what());
        return 1;
    }
    const double grown = double(PeakKib() - before) * 1024.0;
    std::printf("%-48s %10.1f MB  peak +%9.1f MB  %5.2f bytes per byte (constant in use: %.2f)\n", path,
                double(st.st_size) / 1e6, grown / 1e6, grown / double(st.st_size), kDomBytesPerDocumentByte);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0)
        {
            const int code = LoadOne(argv[i]);
            std::fflush(stdout);
            _exit(code);
        }
        int result = 0;
        waitpid(child, &result, 0);
        if (!WIFEXITED(result) || WEXITSTATUS(result) != 0)
            status = 1;
    }
    return status;
}
