#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>

namespace quarvex::test {

TScratchDir::TScratchDir()
{
    char pattern[] = "/tmp/quarvex-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    path_ = std::string(made) + "/";
}

TScratchDir::~TScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

std::string RunCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    int rc = pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

std::string DumpLayer(const std::string& shapeFile, const std::string& table)
{
    std::string command = "PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + SourceDir() + "/tests/tools/shpdump.py' '" + shapeFile + "'";
    if (!table.empty())
        command += " '" + table + "'";
    int status = 0;
    std::string output = RunCommand(command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << output;
    return output;
}

TFileSizeLimit::TFileSizeLimit(uint64_t maxBytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    oldSoft_ = limit.rlim_cur;
    limit.rlim_cur = maxBytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = oldSoft_;
    setrlimit(RLIMIT_FSIZE, &limit);
}

std::string SharedDir()
{
    return QUARVEX_SHARED_DIR;
}

std::string SourceDir()
{
    return QUARVEX_SOURCE_DIR;
}

} // namespace quarvex::test
