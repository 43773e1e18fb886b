#include "export/UExport.h"

#include "export/UDocumentSources.h"
#include "export/UExportSet.h"
#include "export/UGpkgExport.h"
#include "export/UKmlReader.h"
#include "export/USetCommit.h"
#include "export/UXmlStream.h"
#include "platform/UErrors.h"
#include "platform/UFileNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

namespace quarvex {

namespace {

namespace fs = std::filesystem;

struct TQueued {
    TDocumentRef Doc;
    std::string Folder;
};

} // namespace

struct TShapeExport::TRun {
    std::string input;
    TFieldRegistry fields;
    TReadCounts counts;
    std::vector<std::unique_ptr<TExportSet>> sets;
    std::unique_ptr<TGeoPackageExport> package; // instead of the sets, with --format gpkg
    std::vector<uint16_t> renamed;
    std::unique_ptr<TDocumentSources> sources;
};

std::string ExportBaseName(const std::string& input)
{
    const std::string name = ExtractFileName(input);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool ParseEntities(const std::string& list, TExportOptions& options, std::string& error)
{
    TExportOptions chosen = options;
    chosen.Points = chosen.Paths = chosen.Outer = chosen.Inner = false;
    std::stringstream items(list);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        if (item == "points")
            chosen.Points = true;
        else if (item == "paths")
            chosen.Paths = true;
        else if (item == "outer")
            chosen.Outer = true;
        else if (item == "inner")
            chosen.Inner = true;
        else {
            error = "--entities takes points, paths, outer and inner, not \"" + item + "\"";
            return false;
        }
        any = true;
    }
    if (!any) {
        error = "--entities needs at least one of points, paths, outer, inner";
        return false;
    }
    options = chosen;
    return true;
}

TShapeExport::TShapeExport(const TExportOptions& options, std::function<void(const std::string&)> log)
    : options_(options), log_(std::move(log)), projection_(options.Zone)
{
}

void TShapeExport::ExportFile(const std::string& input)
{
    TRun run;
    run.input = input;
    const std::string base = IncludeTrailingSlash(options_.Folder) + ExportBaseName(input);
    TSourceOptions sourceOptions;
    sourceOptions.MaxDocumentSize = options_.MaxDocumentSize;
    sourceOptions.FetchLinks = options_.FetchLinks;
    sourceOptions.Limits = options_.Limits;
    sourceOptions.ScratchPrefix = base + ".fetched-";
    sourceOptions.FetchSpentMs = &fetchSpentMs_;
    run.sources = std::make_unique<TDocumentSources>(sourceOptions);
    const TSetChoice choice{options_.Outer, options_.Inner, options_.KeepElevations, options_.Descriptions,
                            options_.Prj};
    auto plan = [&](bool wanted, TFeatureClass featureClass, const char* suffix) {
        if (wanted)
            run.sets.push_back(
                std::make_unique<TExportSet>(featureClass, base + suffix, choice, projection_, run.fields));
    };
    const bool gpkg = options_.Format == TExportFormat::GeoPackage;
    if (gpkg) {
        const bool classes[3] = {options_.Points, options_.Paths, options_.Outer || options_.Inner};
        run.package = std::make_unique<TGeoPackageExport>(base + ".gpkg", classes, choice, projection_, run.fields);
    } else {
        plan(options_.Points, TFeatureClass::Point, "_points");
        plan(options_.Paths, TFeatureClass::Path, "_paths");
        plan(options_.Outer || options_.Inner, TFeatureClass::Polygon, "_polygons");
    }
    auto abandon = [&run] {
        for (auto& set : run.sets)
            set->Abandon();
        if (run.package)
            run.package->Abandon();
    };
    LockFolder();
    // What an export killed while it put its sets in place left is finished
    // first; then parts left by one stopped before go: none of them may pass
    // for this run's, and a link standing there is removed, not followed.
    std::vector<std::string> problems;
    const std::vector<std::string> recovered = TSetCommit::RecoverAll(IncludeTrailingSlash(options_.Folder), problems);
    for (const std::string& name : recovered)
        log_("      Set put in place that an interrupted export left: " + name);
    for (const std::string& problem : problems)
        log_("      " + problem);
    abandon();
    RemoveStaleReplies(ExtractFileName(sourceOptions.ScratchPrefix));
    try {
        try {
            ReadDocuments(run);
        } catch (const EInOutError& e) { // of the input or an archive, not of a set
            throw EQuarvexError("Cannot read \"" + input + "\": " + e.what());
        }
        if (gpkg) {
            run.renamed = run.fields.AssignGpkgNames(GpkgReservedNames());
            run.package->Finish();
            run.package->PutInPlace();
        } else {
            run.renamed = run.fields.AssignColumnNames();
            for (auto& set : run.sets)
                set->Finish();
            PutSetsInPlace(run);
        }
    } catch (const EInOutError& e) {
        abandon();
        throw EQuarvexError((gpkg ? "Cannot write " + base + ".gpkg: " : "Cannot write the sets " + base + "_*: ") +
                            e.what());
    } catch (...) {
        abandon();
        throw;
    }
    run.sources->RemoveScratch();
    LogCounts(run);
}

void TShapeExport::ReadDocuments(TRun& run)
{
    TDocumentRef main = run.sources->OpenInput(run.input);
    log_("File: " + ExtractFileName(run.input));
    std::deque<TQueued> queue{{main, std::string()}};
    std::set<std::string> seen{main.Key};
    size_t read = 0;
    auto onFeature = [&](const TKmlFeature& feature) {
        if (run.package)
            run.package->Add(feature);
        for (auto& set : run.sets)
            if (set->Class() == feature.Class)
                set->Add(feature);
    };
    while (!queue.empty()) {
        TQueued next = std::move(queue.front());
        queue.pop_front();
        const bool isInput = read == 0;
        std::string reason;
        if (!run.sources->Fetch(next.Doc, reason)) {
            log_("      Link not followed: " + next.Doc.Shown + " (" + reason + ")");
            continue;
        }
        if (!isInput)
            log_("      Linked document: " + next.Doc.Shown);
        ++read;
        std::vector<TKmlLink> links;
        TKmlReader reader(run.fields, run.counts, next.Folder, options_.Descriptions, onFeature,
                          [&](const TKmlLink& link) { links.push_back(link); });
        TXmlStream stream(reader, isInput ? run.input : run.input + ": " + next.Doc.Shown);
        run.sources->Read(
            next.Doc, [&](const char* data, size_t size) { stream.Feed(data, size); },
            isInput ? progress_ : std::function<void(uint64_t, uint64_t)>());
        stream.Finish();
        for (const TKmlLink& link : links) {
            TDocumentRef target;
            if (!run.sources->ResolveLink(next.Doc, link.Href, target, reason))
                log_("      Link not followed: " + link.Href + " (" + reason + ")");
            else if (!seen.insert(target.Key).second)
                log_("      Link not followed: " + link.Href + " (already read)");
            else if (read + queue.size() >= kMaxLinkedDocuments)
                log_("      Link not followed: " + link.Href + " (more than " + std::to_string(kMaxLinkedDocuments) +
                     " documents)");
            else
                queue.push_back({target, link.Folder});
        }
    }
}

void TShapeExport::PutSetsInPlace(TRun& run)
{
    // Nothing is replaced until every target is known to be a file (or
    // nothing): a folder in the way would leave a set half old, half new.
    std::error_code ec;
    std::vector<TSetFiles> files;
    for (const auto& set : run.sets) {
        for (const char* ext : kSetExtensions) {
            const std::string target = set->Path() + ext;
            const fs::file_status status = fs::symlink_status(target, ec);
            if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status))
                throw EQuarvexError("Cannot put " + target + " in place: something that is not a file stands there");
        }
        files.push_back({ExtractFileName(set->Path()), set->Parts()});
    }
    // Every new file is complete: the sets of this name are replaced. A
    // class that has nothing now, or a file this run does not write (a .prj
    // after --no-prj), leaves nothing of the earlier run behind.
    TSetCommit(IncludeTrailingSlash(options_.Folder), ExportBaseName(run.input) + ".quarvex-journal", files).Run();
}

void TShapeExport::RemoveStaleReplies(const std::string& prefix)
{
    // Replies that a stopped export of this input had fetched.
    const std::string folder = IncludeTrailingSlash(options_.Folder);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + std::strlen(kPartSuffix) &&
            name.compare(name.size() - std::strlen(kPartSuffix), std::string::npos, kPartSuffix) == 0)
            ::unlink((folder + name).c_str());
    }
}

void TShapeExport::LockFolder()
{
    if (folderLock_ >= 0)
        return;
    // One export into a folder at a time: two would write the same
    // temporary files, and finish each other's journals.
    folderLock_ = ::open(options_.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderLock_ < 0)
        throw EQuarvexError("Cannot open the export folder " + options_.Folder + ": " + std::strerror(errno));
    if (::flock(folderLock_, LOCK_EX | LOCK_NB) == 0)
        return;
    log_("      Waiting for another export into " + options_.Folder + " to end");
    while (::flock(folderLock_, LOCK_EX) != 0)
        if (errno != EINTR)
            throw EQuarvexError("Cannot lock the export folder " + options_.Folder + ": " + std::strerror(errno));
}

TShapeExport::~TShapeExport()
{
    if (folderLock_ >= 0)
        ::close(folderLock_);
}

void TShapeExport::LogCounts(TRun& run)
{
    static const char* const kLabels[] = {"      Points: ", "      Paths: ", "      Polygons: "};
    std::vector<std::pair<TFeatureClass, const TSetCounts*>> classes;
    for (const auto& set : run.sets)
        classes.emplace_back(set->Class(), &set->Counts());
    if (run.package)
        for (const auto& table : run.package->Tables())
            classes.emplace_back(table->Class(), &table->Counts());
    TSetCounts total;
    for (const auto& [featureClass, counts] : classes) {
        const TSetCounts& c = *counts;
        log_(kLabels[int(featureClass)] + std::to_string(c.Features));
        total.SkippedTuples += c.SkippedTuples;
        total.DroppedRings += c.DroppedRings;
        total.OrphanHoles += c.OrphanHoles;
        total.HolesLeftOut += c.HolesLeftOut;
        total.BadValues += c.BadValues;
        total.TimesAsText += c.TimesAsText;
    }
    const TReadCounts& r = run.counts;
    const std::pair<int, const char*> lines[] = {
        {r.SkippedTuples, "Skipped coordinates"},
        {total.SkippedTuples, "Coordinates outside the coordinate system"},
        {total.DroppedRings, "Rings dropped (fewer than 3 distinct vertices)"},
        {total.OrphanHoles, "Holes left out with their outer ring"},
        {total.HolesLeftOut, "Holes left out (inner is not among the entities)"},
        {r.WithoutGeometry, "Placemarks without geometry"},
        {r.StylesNotFound, "Style references not found in their document"},
        {r.StylesElsewhere, "Style references to other documents, not followed"},
        {total.BadValues + r.BadValues, "Values that do not fit their type, left empty"},
        {r.TextsCut, "Texts cut at 16 MB"},
        {r.StylesLeftOut, "Styles left out (too many in one document)"},
        {total.TimesAsText, "Times that are not date-times, kept as text"},
        {r.FieldsLeftOut, "Values left out (too many extended data fields)"},
    };
    for (const auto& [count, label] : lines)
        if (count > 0)
            log_(std::string("      ") + label + ": " + std::to_string(count));
    for (uint16_t key : run.renamed) {
        const TFieldInfo& field = run.fields.Info(key);
        log_("      Field \"" + field.KmlName + "\" is written as " + (run.package ? field.GpkgName : field.ColumnName));
    }
    for (const auto& set : run.sets)
        if (!set->Parts().empty())
            log_("  - " + set->Path() + ".shp");
    if (run.package && run.package->Written())
        log_("  - " + run.package->Path());
    log_("End.");
}

} // namespace quarvex
