#include "cli/UConvertCli.h"

#include "kml/UParse.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UFileNames.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace quarvex {

const char* const kConvertUsage =
    "Usage: quarvex-convert [--work-dir DIR] FILE\n"
    "Converts the points, paths and polygon rings of a KML file or KMZ archive into\n"
    "shapefile layers (kml_tmp1..4 .$m, .dbf, .xml) in the work folder.\n"
    "\n"
    "  --work-dir DIR  folder for the layers (default: the program's folder + ztmp/;\n"
    "                  created when missing)\n"
    "  --help          shows this text\n"
    "\n"
    "Exit status: 0 when the job ran to its end, 1 when it stopped on an error,\n"
    "2 on a usage error.\n";

namespace {

// Log lines go to standard output as they come; the progress bar is drawn
// on standard error, only when that is a terminal.
class TConsoleView : public TJobView {
public:
    TConsoleView() : drawBar_(isatty(STDERR_FILENO)) {}

    void SetPassName(const std::string& name) override
    {
        pass_ = name;
        percent_ = -1;
    }
    void SetStatusCaption(const std::string&) override {}
    void ShowProgress() override {}
    void SetProgressMax(int max) override { max_ = max; }
    void SetProgressPosition(int position) override
    {
        if (!drawBar_ || max_ <= 0)
            return;
        int percent = int(int64_t(position) * 100 / max_);
        if (percent == percent_)
            return;
        percent_ = percent;
        std::fprintf(stderr, "\r%-9s [%-40s] %3d%%", pass_.c_str(), std::string(size_t(percent * 40 / 100), '#').c_str(),
                     percent);
        std::fflush(stderr);
        barShown_ = true;
    }
    void AddLog(const std::string& line) override
    {
        ClearBar();
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void SetStartCaption(const std::string&) override {}
    void SetEndCaption(const std::string&) override {}
    void ShowSummary() override { ClearBar(); }

private:
    void ClearBar()
    {
        if (!barShown_)
            return;
        std::fprintf(stderr, "\r%60s\r", "");
        barShown_ = false;
    }

    bool drawBar_;
    bool barShown_ = false;
    std::string pass_;
    int max_ = 0;
    int percent_ = -1;
};

std::string ExecutableFolder()
{
    const std::string exe = ExecutablePath();
    return exe.substr(0, exe.rfind('/') + 1);
}

} // namespace

bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.ShowHelp = true;
        } else if (arg == "--work-dir") {
            if (i + 1 == args.size()) {
                error = "--work-dir needs a folder";
                return false;
            }
            options.WorkDir = args[++i];
        } else if (arg.rfind("--work-dir=", 0) == 0) {
            options.WorkDir = arg.substr(11);
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (!options.InputPath.empty()) {
            error = "only one FILE can be converted at a time";
            return false;
        } else {
            options.InputPath = arg;
        }
    }
    if (options.InputPath.empty() && !options.ShowHelp) {
        error = "no FILE given";
        return false;
    }
    return true;
}

int RunConvert(const TConvertOptions& options)
{
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "quarvex-convert: %s\n", message.c_str());
        return 1;
    };
    const std::string workFolder =
        IncludeTrailingSlash(options.WorkDir.empty() ? ExecutableFolder() + "ztmp" : options.WorkDir);
    std::error_code ec;
    std::filesystem::create_directories(workFolder, ec);
    if (ec)
        return fail("cannot create the work folder " + workFolder + ": " + ec.message());
    std::string kmlPath;
    try {
        TUnZip unzip;
        kmlPath = ResolveKmlPath(options.InputPath, workFolder, unzip);
    } catch (const std::exception& e) {
        return fail(options.InputPath + ": " + e.what());
    }
    TConsoleView view;
    TMyInfoParser layers;
    layers.SetDefaults();
    CurrentLayerSet = &layers;
    TConversionJob job(layers, view, workFolder);
    job.Begin(kmlPath, ExtractFileName(options.InputPath));
    // An archive without a usable document still runs the job, over an empty
    // document, so that no layers of an earlier run are left looking current.
    try {
        job.RunJob();
    } catch (const std::exception& e) {
        CurrentLayerSet = nullptr;
        return fail(e.what());
    }
    CurrentLayerSet = nullptr;
    if (kmlPath.empty())
        return fail(options.InputPath + ": the archive holds no doc.kml document that could be extracted");
    return 0;
}

} // namespace quarvex
