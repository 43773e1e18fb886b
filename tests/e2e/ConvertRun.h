// One run of quarvex-convert for the end-to-end tests: its exit status,
// standard output and standard error.
#pragma once

#include "support/TestSupport.h"

#include <string>

namespace quarvex::test {

struct TRun {
    int status = -1;
    std::string out, err;
};

inline TRun Convert(const std::string& args)
{
    TScratchDir io;
    TRun run;
    run.out = RunCommand(std::string(QUARVEX_CONVERT) + " " + args + " 2>" + io.File("err"), &run.status);
    run.err = ReadText(io.File("err"));
    return run;
}

} // namespace quarvex::test
