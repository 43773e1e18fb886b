// Putting an input's new sets in place so that, at every instant and a kill
// included, each set is its old files whole, its new files whole, or absent
// (no .shp). A small journal beside the sets records the step reached:
//   1. the journal, naming the sets and the files each new set has;
//   2. every old file of those sets moved aside (".quarvex-old"; the .shp of
//      a set first, so that the set is absent from then on);
//   3. the journal's step moved on; every new file moved in place from its
//      temporary name (the .shp of a set last);
//   4. the old files removed, then the journal.
// An export that finds a journal finishes what it records (or, when the new
// files are gone, brings the old ones back) before it does anything else.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarvex {

struct TSetFiles {
    std::string Name;                     // the set's file name without extension: "B_points"
    std::vector<std::string> NewExtensions; // the files written under temporary names; none: no set now
};

// The files of a set, in the order they are put in place (.shp last).
extern const char* const kSetExtensions[5];
// The suffix of a file written, until it is complete and put in place.
extern const char* const kPartSuffix;

class TSetCommit {
public:
    // folder ends with "/"; journal is the journal's file name in it.
    TSetCommit(std::string folder, std::string journal, std::vector<TSetFiles> sets);

    // Puts the sets in place. On a failure the old sets are brought back
    // and EQuarvexError names what failed; when even that fails, the
    // journal stays for the next export, and the message says so.
    void Run();

    // Finishes, in folder, what every journal there records; returns the
    // names of the sets it finished or brought back. A journal that cannot
    // be read is left and named in problems.
    static std::vector<std::string> RecoverAll(const std::string& folder, std::vector<std::string>& problems);

    // Where a test makes a step fail: called before every rename with its
    // number, from 1.
    static std::function<void(int)> BeforeRename;

private:
    void WriteJournal(int step);
    void MoveOldAside();
    void PlaceNew();
    void RemoveOld();
    bool RollBack();
    void Rename(const std::string& from, const std::string& to);
    std::string Path(const TSetFiles& set, const char* ext) const { return folder_ + set.Name + ext; }

    std::string folder_;
    std::string journal_;
    std::vector<TSetFiles> sets_;
    int renames_ = 0;
    std::vector<std::pair<std::string, std::string>> done_; // the renames made, to undo them
};

} // namespace quarvex
