#include "kml/UParse.h"

#include "platform/UFileNames.h"
#include "preview/UViewState.h"

#include <algorithm>
#include <chrono>
#include <new>

namespace quarvex {

std::string TableNameOf(const std::string& layerFileName)
{
    return ChangeFileExt(layerFileName, ".dbf");
}

TConversionJob::TConversionJob(TMyInfoParser& layers, TJobView& view, const std::string& workFolder)
    : layers_(layers), view_(view), workFolder_(workFolder), context_{XMLDoc, Dbf1, layers, view, {}, {}, {}}
{
}

void TConversionJob::Begin(const std::string& inputPath, const std::string& displayName)
{
    layers_.DocPath = inputPath;
    view_.SetPassName("");
    AddLog("File: " + displayName);
    Links = TLinkLists{};
}

void TConversionJob::RunJob()
{
    try {
        try {
            RunJobSteps();
        } catch (const std::bad_alloc&) {
            throw EQuarvexError("Not enough memory to go on with the conversion");
        }
    } catch (const std::exception& e) {
        CloseAfterError();
        AddLog("");
        AddLog(std::string("Error: ") + e.what());
        ViewState.Loaded = false;
        view_.SetEndCaption("Ending Time: " + ClockText());
        view_.ShowSummary();
        throw;
    }
}

void TConversionJob::CloseAfterError()
{
    try {
        Dbf1.CloseAttributeTable();
    } catch (...) {
    }
    layers_.FinishAfterError();
    XMLDoc.Release();
}

void TConversionJob::RunJobSteps()
{
    view_.SetStartCaption("Starting Time: " + ClockText());
    layers_.Prepare(workFolder_);
    for (int kind = 1; kind <= 4; ++kind)
        if (layers_.IsEnabled(kind))
            Dbf1.CreateAttributeTable(TableNameOf(LayerOf(kind).Name));
    ParseDocument(layers_.DocPath);
    if (!Links.ComboLinks.empty() || !Links.ComboGMaps.empty()) {
        AddLog("");
        AddLog(" Network Links: ");
    }
    FetchMapServiceDocuments();
    layers_.Finish();
    if (!Links.ComboLinks.empty()) {
        AddLog("");
        AddLog(" The following Links were ignored");
        for (const std::string& address : Links.ComboLinks)
            AddLog("  - " + address);
    }
    if (layers_.DoExtent) {
        ViewState.Loaded = PointLayer.Count > 0 || PathLayer.Count > 0 || OuterPolygonLayer.Count > 0 ||
                           InnerPolygonLayer.Count > 0;
        if (ViewState.Loaded) {
            TExtent extent;
            layers_.Corners.GetExtent(extent);
            ViewState.MinX = extent.Xmin;
            ViewState.MinY = extent.Ymin;
            ViewState.MaxX = extent.Xmax;
            ViewState.MaxY = extent.Ymax;
        }
    }
    view_.SetEndCaption("Ending Time: " + ClockText());
    AddLog("");
    AddLog("End.");
    view_.ShowSummary();
}

void TConversionJob::FetchMapServiceDocuments()
{
    if (Links.ComboGMaps.empty())
        return;
    AddLog(" Streaming KMLData from GoogleMaps...");
    const std::string target = workFolder_ + "doc.kml";
    layers_.DocPath = target;
    const auto start = std::chrono::steady_clock::now();
    // The list grows while its documents are read; its size is taken anew each time.
    for (size_t i = 0; i < Links.ComboGMaps.size(); ++i) {
        if (i == kMaxFetchedDocuments) {
            AddLog("    * Too many network links, the rest were not fetched");
            break;
        }
        AddLog("  - " + Links.ComboGMaps[i]);
        const auto spent = std::chrono::steady_clock::now() - start;
        const long remaining = FetchBudgetMs - long(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count());
        if (remaining <= 0 || !FetchAndRead(Links.ComboGMaps[i], target, remaining)) {
            LogNotFetched(i);
            break;
        }
    }
}

bool TConversionJob::FetchAndRead(const std::string& address, const std::string& target, long remainingMs)
{
    THttpLimits limits = HttpLimits;
    const bool cutByBudget = remainingMs < limits.totalTimeoutMs;
    if (cutByBudget)
        limits.totalTimeoutMs = remainingMs;
    const TFetchResult fetch = FetchLink(address, target, limits);
    if (cutByBudget && fetch.Http.TimeBoundReached)
        return false; // told with the links after it
    const std::string fault = TransferFault(fetch, limits);
    if (!fault.empty())
        throw EQuarvexError("Fetching \"" + address + "\" failed: " + fault);
    if (!fetch.Fetched()) {
        AddLog("    * Error downloading link");
        AddLog("      " + fetch.Failure());
        return true;
    }
    try {
        ParseDocument(target);
    } catch (const EXmlParseError& e) {
        AddLog(std::string("    * Error reading link: ") + e.what());
    }
    return true;
}

void TConversionJob::LogNotFetched(size_t from)
{
    const long ms = FetchBudgetMs, minutes = ms / 60000;
    const std::string bound = ms > 0 && ms % 60000 == 0
                                  ? std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes")
                                  : std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
    AddLog("    * Not fetched: the fetches of this job took their " + bound);
    const size_t end = std::min(Links.ComboGMaps.size(), kMaxFetchedDocuments);
    for (size_t i = from + 1; i < end; ++i) {
        AddLog("  - " + Links.ComboGMaps[i]);
        AddLog("    * Not fetched: the fetches of this job took their " + bound);
    }
}

void TConversionJob::ParseDocument(const std::string& path)
{
    XMLDoc.Load(path); // refuses a document whose tree would not fit in memory
    view_.ShowProgress();
    if (layers_.DoPoints)
        ParsePoints(context_);
    if (layers_.DoPaths)
        ParsePaths(context_);
    if (layers_.DoOuterPolygons)
        ParsePolygons(context_, false, OuterPolygonLayer);
    if (layers_.DoInnerPolygons)
        ParsePolygons(context_, true, InnerPolygonLayer);
    if (layers_.DoLinks)
        CollectLinks(context_, Links);
    view_.SetStatusCaption("Cleaning Memory...");
    view_.SetPassName("");
    XMLDoc.Release();
}

} // namespace quarvex
