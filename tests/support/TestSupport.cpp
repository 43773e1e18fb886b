#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
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

uint64_t FolderBytes(const std::string& folder)
{
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
        if (entry.is_regular_file(ec))
            total += entry.file_size(ec);
    return total;
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

TTmpfsMount::TTmpfsMount(const std::string& folder, const std::string& options) : folder_(folder)
{
    std::filesystem::create_directories(folder);
    mounted_ = ::mount("quarvex-test", folder.c_str(), "tmpfs", options == "ro" ? MS_RDONLY : 0,
                       options == "ro" ? "size=64k" : options.c_str()) == 0;
}

TTmpfsMount::~TTmpfsMount()
{
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
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

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace quarvex::test {

TFixtureServer::TFixtureServer()
{
    logPath_ = "/tmp/quarvex-http-" + std::to_string(getpid()) + "-" + std::to_string(rand()) + ".log";
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string script = SourceDir() + "/tests/tools/httpfixture.py";
    char* argv[] = {const_cast<char*>("/usr/bin/python3"), script.data(), nullptr};
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start the HTTP fixture");
    }
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0)
        throw std::runtime_error("the HTTP fixture gave no port");
}

TFixtureServer::~TFixtureServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::remove(logPath_.c_str());
}

std::string TFixtureServer::RequestLog() const
{
    return ReadText(logPath_);
}

TBackgroundProcess::TBackgroundProcess(const std::vector<std::string>& argv, const std::string& folder)
    : errPath_(folder + "stderr")
{
    const std::string outPath = folder + "stdout";
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    pid_ = pid;
}

void TBackgroundProcess::Kill()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string CopyProgram(const std::string& program, const std::string& folder)
{
    const std::string copy = folder + program.substr(program.rfind('/') + 1);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    std::ofstream(folder + "CMakeCache.txt").put('\n');
    return copy;
}

bool WaitFor(const std::function<bool()>& done, double seconds)
{
    for (double waited = 0; waited < seconds; waited += 0.02) {
        if (done())
            return true;
        usleep(20000);
    }
    return done();
}

TProxySetting::TProxySetting(const std::string& proxy)
{
    setenv("http_proxy", proxy.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
}

TProxySetting::~TProxySetting()
{
    unsetenv("http_proxy");
}

} // namespace quarvex::test
