// The conversion job: prepare the layers, one document pass over the input
// and one over every fetched map-service document, finish the layers, and
// report it all through a TJobView. No toolkit code lives here.
#pragma once

#include "kml/UGeometryPasses.h"
#include "kml/UJobView.h"
#include "kml/UNetworkLinks.h"
#include "platform/UHttp.h"
#include "platform/UKmlDom.h"
#include "shapefile/UAttributeTable.h"
#include "shapefile/ULayerSet.h"

#include <string>

namespace quarvex {

// At most this many map-service documents are fetched in one job.
constexpr size_t kMaxFetchedDocuments = 256;

// The layer's file name with the extension ".dbf": its attribute table.
std::string TableNameOf(const std::string& layerFileName);

class TConversionJob {
public:
    // workFolder ends with "/"; layers and view outlive the job.
    TConversionJob(TMyInfoParser& layers, TJobView& view, const std::string& workFolder);

    // What happens before the job window shows: DocPath := inputPath (which
    // may be empty), the "File: " log line, both link lists emptied.
    void Begin(const std::string& inputPath, const std::string& displayName);
    // Runs the whole job. When an error stops it, every file is closed with
    // its true length and tail, the log ends with "Error: " + the message,
    // the summary shows, and the error is raised again for the caller.
    void RunJob();
    // One document pass: load, run the enabled passes, release. A document
    // whose DOM would not fit in the available memory is refused first.
    void ParseDocument(const std::string& path);
    void AddLog(const std::string& text) { view_.AddLog(text); }

    TLinkLists Links;
    THttpLimits HttpLimits; // time-outs and size bound of every fetch
    // All fetches of the job together end after this long; the links not
    // fetched by then are logged as such.
    long FetchBudgetMs = 15 * 60 * 1000;

private:
    void RunJobSteps();
    void FetchMapServiceDocuments();
    // Fetches and reads one document; false when the job's time for
    // fetching ran out during the fetch.
    bool FetchAndRead(const std::string& address, const std::string& target, long remainingMs);
    void LogNotFetched(size_t from);
    void CloseAfterError();

    TMyInfoParser& layers_;
    TJobView& view_;
    std::string workFolder_;
    TDomDocument XMLDoc;
    TAttributeTable Dbf1;
    TPassContext context_;
};

} // namespace quarvex
