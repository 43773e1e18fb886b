// Helpers shared by the tests: scratch folders, file bytes, running an
// independent reader, and a file-size limit that makes writes fail.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvex::test {

// A fresh folder under /tmp, removed with everything in it on destruction.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    const std::string& Path() const { return path_; } // ends with "/"
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// The bytes of all regular files under folder, at any depth.
uint64_t FolderBytes(const std::string& folder);

// Runs a shell command; returns its standard output, and its exit status in *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

// The independent reader's dump of a layer (tests/tools/shpdump.py, pyshp).
std::string DumpLayer(const std::string& shapeFile, const std::string& table = "");

// While alive, writes that pass maxBytes in any file fail as on a full disk.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(uint64_t maxBytes);
    ~TFileSizeLimit();

private:
    uint64_t oldSoft_;
};

// A tmpfs mounted on folder for the object's life, when this process may
// mount (root); options as for mount -o, such as "size=200k" or "ro".
class TTmpfsMount {
public:
    TTmpfsMount(const std::string& folder, const std::string& options);
    ~TTmpfsMount();
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

std::string SharedDir();
std::string SourceDir();

} // namespace quarvex::test

namespace quarvex::test {

// The HTTP fixture (tests/tools/httpfixture.py) on 127.0.0.1, running while
// this object lives; its request log is kept in a file.
class TFixtureServer {
public:
    TFixtureServer();
    ~TFixtureServer();
    int Port() const { return port_; }
    std::string ProxyAddress() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The lines "GET <address> <agent>" of the requests so far.
    std::string RequestLog() const;

private:
    int pid_ = -1;
    int port_ = 0;
    std::string logPath_;
};

// A program started in the background with this process's environment, its
// standard output and error in files of a folder; killed when the object ends.
class TBackgroundProcess {
public:
    TBackgroundProcess(const std::vector<std::string>& argv, const std::string& folder);
    ~TBackgroundProcess() { Kill(); }
    TBackgroundProcess(const TBackgroundProcess&) = delete;
    TBackgroundProcess& operator=(const TBackgroundProcess&) = delete;
    void Kill();
    std::string Err() const { return ReadText(errPath_); }

private:
    int pid_ = -1;
    std::string errPath_;
};

// A copy of program in folder, run as from a build tree (a CMakeCache.txt
// beside it), so that its default work folder is folder + "ztmp/"; returns
// the copy's path.
std::string CopyProgram(const std::string& program, const std::string& folder);

// Polls done() for at most seconds; false when it never held.
bool WaitFor(const std::function<bool()>& done, double seconds);

// Sets http_proxy to the address for the object's life and clears no_proxy.
class TProxySetting {
public:
    explicit TProxySetting(const std::string& proxy);
    ~TProxySetting();
};

} // namespace quarvex::test
