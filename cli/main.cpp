#include "cli/UConvertCli.h"
#include "platform/UProgramInfo.h"

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace quarvex;
    TConvertOptions options;
    std::string error;
    if (!ParseConvertArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "quarvex-convert: %s\n%s", error.c_str(), kConvertUsage);
        return 2;
    }
    if (options.ShowHelp) {
        std::fputs(kConvertUsage, stdout);
        return 0;
    }
    if (options.ShowVersion) {
        std::fputs(VersionText("quarvex-convert").c_str(), stdout);
        return 0;
    }
    return RunConvert(options);
}
