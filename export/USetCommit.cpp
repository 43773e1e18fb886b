#include "export/USetCommit.h"

#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

const char* const kPartSuffix = ".quarvex-part";
const char* const kSetExtensions[5] = {".shx", ".dbf", ".cpg", ".prj", ".shp"};
std::function<void(int)> TSetCommit::BeforeRename;

namespace {

const char* const kOldSuffix = ".quarvex-old";
const char* const kJournalSuffix = ".quarvex-journal";
const char* const kJournalHead = "quarvex sets 1";

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool Has(const TSetFiles& set, const char* ext)
{
    return std::find(set.NewExtensions.begin(), set.NewExtensions.end(), ext) != set.NewExtensions.end();
}

bool IsSetExtension(const std::string& ext)
{
    return std::find(std::begin(kSetExtensions), std::end(kSetExtensions), ext) != std::end(kSetExtensions);
}

// The journal's sets, or false when it is not one of ours.
bool ReadJournal(const std::string& path, std::vector<TSetFiles>& sets)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line != kJournalHead)
        return false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word, name;
        if (!(words >> word) || word == "step")
            continue;
        if (word != "set" || !(words >> name) || name.find('/') != std::string::npos || name[0] == '.')
            return false;
        TSetFiles set{name, {}};
        while (words >> word) {
            if (!IsSetExtension(word))
                return false;
            set.NewExtensions.push_back(word);
        }
        sets.push_back(set);
    }
    return !sets.empty();
}

} // namespace

TSetCommit::TSetCommit(std::string folder, std::string journal, std::vector<TSetFiles> sets)
    : folder_(std::move(folder)), journal_(std::move(journal)), sets_(std::move(sets))
{
}

void TSetCommit::Rename(const std::string& from, const std::string& to)
{
    if (BeforeRename)
        BeforeRename(++renames_);
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw EQuarvexError("Cannot put " + to + " in place: " + std::strerror(errno));
    done_.emplace_back(from, to);
}

void TSetCommit::WriteJournal(int step)
{
    std::string text = std::string(kJournalHead) + "\nstep " + std::to_string(step) + "\n";
    for (const TSetFiles& set : sets_) {
        text += "set " + set.Name;
        for (const std::string& ext : set.NewExtensions)
            text += " " + ext;
        text += "\n";
    }
    const std::string part = folder_ + journal_ + kPartSuffix;
    ::unlink(part.c_str());
    // A name that someone else made meanwhile is never written through.
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EQuarvexError("Cannot create " + part + ": " + std::strerror(errno));
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    const int err = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(part.c_str());
        throw EQuarvexError("Cannot write " + part + ": " + std::strerror(written ? errno : err));
    }
    try {
        Rename(part, folder_ + journal_);
    } catch (...) {
        ::unlink(part.c_str());
        throw;
    }
}

void TSetCommit::MoveOldAside()
{
    // A file that stands where a set's file goes is an old one unless it was
    // put there already (then its temporary file is gone). The .shp first:
    // from then on the set is absent until its new .shp comes.
    static const char* const kOrder[] = {".shp", ".shx", ".dbf", ".cpg", ".prj"};
    for (const TSetFiles& set : sets_)
        for (const char* ext : kOrder) {
            const std::string target = Path(set, ext);
            if (!Exists(target) || (Has(set, ext) && !Exists(target + kPartSuffix)))
                continue;
            ::unlink((target + kOldSuffix).c_str());
            Rename(target, target + kOldSuffix);
        }
}

void TSetCommit::PlaceNew()
{
    for (const TSetFiles& set : sets_)
        for (const char* ext : kSetExtensions)
            if (Has(set, ext) && Exists(Path(set, ext) + kPartSuffix))
                Rename(Path(set, ext) + kPartSuffix, Path(set, ext));
}

void TSetCommit::RemoveOld()
{
    for (const TSetFiles& set : sets_)
        for (const char* ext : kSetExtensions)
            ::unlink((Path(set, ext) + kOldSuffix).c_str());
}

bool TSetCommit::RollBack()
{
    // Every step undone, the last first: a new .shp goes before the other
    // new files, an old .shp comes back after the other old ones.
    for (auto it = done_.rbegin(); it != done_.rend(); ++it)
        if (it->second != folder_ + journal_ && ::rename(it->second.c_str(), it->first.c_str()) != 0)
            return false;
    ::unlink((folder_ + journal_).c_str());
    done_.clear();
    return true;
}

void TSetCommit::Run()
{
    try {
        WriteJournal(1);
        MoveOldAside();
        WriteJournal(2);
        PlaceNew();
    } catch (const EQuarvexError& e) {
        if (RollBack())
            throw EQuarvexError(std::string(e.what()) + "; the earlier sets are left as they were");
        throw EQuarvexError(std::string(e.what()) + "; the next export into " + folder_ +
                            " puts the new sets in place");
    }
    RemoveOld();
    ::unlink((folder_ + journal_).c_str());
}

std::vector<std::string> TSetCommit::RecoverAll(const std::string& folder, std::vector<std::string>& problems)
{
    std::vector<std::string> journals;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const size_t n = std::strlen(kJournalSuffix);
            if (name.size() > n && name.compare(name.size() - n, n, kJournalSuffix) == 0)
                journals.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(journals.begin(), journals.end());
    std::vector<std::string> recovered;
    for (const std::string& journal : journals) {
        std::vector<TSetFiles> sets;
        if (!ReadJournal(folder + journal, sets)) {
            problems.push_back(folder + journal + " is no journal of an export");
            continue;
        }
        TSetCommit commit(folder, journal, sets);
        try {
            commit.MoveOldAside();
            commit.PlaceNew();
            commit.RemoveOld();
            ::unlink((folder + journal).c_str());
        } catch (const EQuarvexError& e) {
            problems.push_back(e.what());
            continue;
        }
        for (const TSetFiles& set : sets)
            recovered.push_back(set.Name);
    }
    return recovered;
}

} // namespace quarvex
