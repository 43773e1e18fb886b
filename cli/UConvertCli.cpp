#include "cli/UConvertCli.h"

#include "cli/UMapPicture.h"
#include "kml/UParse.h"
#include "kml/kmz/UResolveKml.h"
#include "platform/UFileNames.h"
#include "platform/UWorkFolder.h"
#include "platform/UWorkFolderLock.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace quarvex {

const char* const kConvertUsage =
    "Usage: quarvex-convert [--work-dir DIR] [--png IMAGE [--size WxH]] FILE\n"
    "       quarvex-convert --export DIR [export options] FILE...\n"
    "Converts the points, paths and polygon rings of a KML file or KMZ archive into\n"
    "shapefile layers (kml_tmp1..4 .$m, .dbf, .xml) in the work folder.\n"
    "\n"
    "  --work-dir DIR  folder for the layers (and the document taken out of a KMZ),\n"
    "                  created when missing (default: the program's folder + ztmp/,\n"
    "                  or ~/.cache/quarvex/ztmp/ when the program's folder cannot be\n"
    "                  written); an export does not use it\n"
    "  --png IMAGE     after the job, saves the map as the desktop program shows it\n"
    "                  (every layer checked) as a PNG picture named IMAGE\n"
    "  --size WxH      size of that picture in pixels (default 800x600, each side\n"
    "                  1 to 10000)\n"
    "  --max-document-size SIZE\n"
    "                  largest KML document taken out of a KMZ archive, in bytes or\n"
    "                  with K, M or G (1024, 1024^2, 1024^3; default 2G); a bigger\n"
    "                  one is refused\n"
    "  --help          shows this text\n"
    "  --version       shows the version and the build\n"
    "\n"
    "Export: each FILE becomes shapefile sets that GIS programs open as they are,\n"
    "in DIR: B_points, B_paths, B_polygons (.shp, .shx, .dbf in UTF-8, .cpg, .prj)\n"
    "for the file's base name B, or with --format gpkg one GeoPackage B.gpkg with\n"
    "the tables points, paths, polygons; one record per Point, LineString,\n"
    "LinearRing, Polygon (outer ring and holes together) and gx:Track or\n"
    "gx:MultiTrack, the footprint of each GroundOverlay and the point of each\n"
    "PhotoOverlay.\n"
    "  --export DIR          the destination folder (created when missing)\n"
    "  --format FORMAT       shp (shapefile sets, the default) or gpkg (GeoPackage)\n"
    "  --entities LIST       of points,paths,outer,inner (default: all four)\n"
    "  --utm ZONE            WGS 84 / UTM zone, 1N to 60N or 1S to 60S (default:\n"
    "                        WGS 84 longitude and latitude)\n"
    "  --keep-elevations     PointZ, PolyLineZ, PolygonZ with the KML altitudes\n"
    "  --descriptions        a DESCRIPT field with each placemark's description\n"
    "  --prj, --no-prj       write the .prj file (default) or leave it out (sets only)\n"
    "  --fetch-links         fetch the http(s) documents that network links name\n"
    "Fields, where any record has a value: ZID, NAME, DESCRIPT, FOLDER (the\n"
    "enclosing folders, joined by \"/\"), TIMESTAMP, BEGIN, END, ALTMODE, EXTRUDE,\n"
    "TESSELLATE, VISIBLE; the resolved style: ICON, ICONSCALE, ICONCOLOR (points),\n"
    "LINECOLOR, LINEWIDTH (paths, polygons), FILLCOLOR, FILL, OUTLINE (polygons),\n"
    "colours as #RRGGBBAA; then every ExtendedData field (names cut to 10 bytes\n"
    "and made unique; the log names each one renamed).\n"
    "A GeoPackage keeps the full names (made unique without regard to case), texts\n"
    "at full length, integers, reals and 0/1 (BOOLEAN) as declared, and a QGIS\n"
    "style per table drawn from the style fields. TIMESTAMP, BEGIN and END are\n"
    "DATETIME in UTC: a date and time (Z, an offset, or none for UTC) or a date\n"
    "alone (its start); any other value (a year such as 2020, 2020-13-45, text)\n"
    "is kept as written in TIMESTAMP_TEXT, BEGIN_TEXT or END_TEXT instead.\n"
    "Network links to documents of the same archive, or to files in the input's\n"
    "folder or below it, are read into the input's sets (each document once, 256\n"
    "at most), under the link's name as a folder; the log names every link not\n"
    "followed and why.\n"
    "\n"
    "Examples: quarvex-convert --png trip.png --size 1024x768 trip.kmz\n"
    "          quarvex-convert --export out --utm 33N --descriptions a.kml b.kmz\n"
    "          quarvex-convert --export out --format gpkg trip.kmz\n"
    "\n"
    "Exit status: 0 when the job ran to its end, 1 when it stopped on an error\n"
    "(or the picture could not be written or drawn in full, or any FILE of an\n"
    "export failed), 2 on a usage error.\n";

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

// The value of an option given as "--name VALUE" or "--name=VALUE"; false
// (with the reason in error) when it is missing. Advances i past the value.
bool OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& name, const char* what,
                 std::string& value, std::string& error)
{
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 == args.size()) {
            error = name + " needs " + what;
            return false;
        }
        value = args[++i];
        return true;
    }
    value = arg.substr(name.size() + 1);
    return true;
}

bool IsOption(const std::string& arg, const std::string& name)
{
    return arg == name || arg.rfind(name + "=", 0) == 0;
}

bool ParseSide(const char* first, const char* last, int& side)
{
    if (first == last || *first < '0' || *first > '9')
        return false;
    auto [end, ec] = std::from_chars(first, last, side);
    return ec == std::errc() && end == last && side >= 1 && side <= kMaxPictureSide;
}

// The options of --export: 1 when args[i] was one (i moved past its value),
// 0 when it is none of them, -1 on a usage error.
int ParseExportOption(const std::vector<std::string>& args, size_t& i, TConvertOptions& options, bool& given,
                      std::string& error)
{
    const std::string& arg = args[i];
    std::string value;
    if (IsOption(arg, "--export")) {
        if (!OptionValue(args, i, "--export", "a destination folder", options.Export.Folder, error))
            return -1;
        options.DoExport = !options.Export.Folder.empty();
        if (!options.DoExport)
            error = "--export needs a destination folder";
        return options.DoExport ? 1 : -1;
    }
    if (IsOption(arg, "--entities")) {
        if (!OptionValue(args, i, "--entities", "a list", value, error) || !ParseEntities(value, options.Export, error))
            return -1;
    } else if (IsOption(arg, "--utm")) {
        if (!OptionValue(args, i, "--utm", "a zone", value, error))
            return -1;
        if (!ParseUtmZone(value, options.Export.Zone)) {
            error = "--utm needs a zone from 1 to 60 and N or S, such as 33N, not \"" + value + "\"";
            return -1;
        }
    } else if (IsOption(arg, "--format")) {
        if (!OptionValue(args, i, "--format", "gpkg or shp", value, error))
            return -1;
        if (value == "gpkg") {
            options.Export.Format = TExportFormat::GeoPackage;
        } else if (value == "shp") {
            options.Export.Format = TExportFormat::Shapefile;
        } else {
            error = "--format takes gpkg or shp, not \"" + value + "\"";
            return -1;
        }
    } else if (arg == "--keep-elevations") {
        options.Export.KeepElevations = true;
    } else if (arg == "--descriptions") {
        options.Export.Descriptions = true;
    } else if (arg == "--prj") {
        options.Export.Prj = true;
    } else if (arg == "--no-prj") {
        options.Export.Prj = false;
    } else if (arg == "--fetch-links") {
        options.Export.FetchLinks = true;
    } else {
        return 0;
    }
    given = true;
    return 1;
}

} // namespace

bool ParsePictureSize(const std::string& text, int& width, int& height)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    const char* s = text.data();
    return ParseSide(s, s + x, width) && ParseSide(s + x + 1, s + text.size(), height);
}

bool ParseByteSize(const std::string& text, uint64_t& bytes)
{
    const char* first = text.data();
    const char* last = first + text.size();
    if (first == last || *first < '0' || *first > '9')
        return false;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc())
        return false;
    std::string unit(end, last);
    for (char& c : unit)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    int shift = 0;
    if (unit == "K" || unit == "KIB")
        shift = 10;
    else if (unit == "M" || unit == "MIB")
        shift = 20;
    else if (unit == "G" || unit == "GIB")
        shift = 30;
    else if (!unit.empty())
        return false;
    if (value == 0 || value > (UINT64_MAX >> shift))
        return false;
    bytes = value << shift;
    return true;
}

bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error)
{
    bool sizeGiven = false;
    bool exportOptionGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") { // everything after it is a FILE, whatever it starts with
            options.Inputs.insert(options.Inputs.end(), args.begin() + long(i) + 1, args.end());
            break;
        }
        const int exportOption = ParseExportOption(args, i, options, exportOptionGiven, error);
        if (exportOption < 0)
            return false;
        if (exportOption > 0)
            continue;
        if (arg == "--help" || arg == "-h") {
            options.ShowHelp = true;
        } else if (arg == "--version") {
            options.ShowVersion = true;
        } else if (IsOption(arg, "--work-dir")) {
            if (!OptionValue(args, i, "--work-dir", "a folder", options.WorkDir, error))
                return false;
        } else if (IsOption(arg, "--png")) {
            if (!OptionValue(args, i, "--png", "a picture file name", options.PngPath, error))
                return false;
            if (options.PngPath.empty()) {
                error = "--png needs a picture file name";
                return false;
            }
        } else if (IsOption(arg, "--size")) {
            std::string size;
            if (!OptionValue(args, i, "--size", "a size WxH", size, error))
                return false;
            if (!ParsePictureSize(size, options.PictureWidth, options.PictureHeight)) {
                error = "--size needs WIDTHxHEIGHT in pixels, each from 1 to " + std::to_string(kMaxPictureSide) +
                        ", not \"" + size + "\"";
                return false;
            }
            sizeGiven = true;
        } else if (IsOption(arg, "--max-document-size")) {
            std::string size;
            if (!OptionValue(args, i, "--max-document-size", "a size", size, error))
                return false;
            if (!ParseByteSize(size, options.Export.MaxDocumentSize)) {
                error = "--max-document-size needs a size above 0 in bytes, or with K, M or G, not \"" + size + "\"";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            options.Inputs.push_back(arg);
        }
    }
    if (options.ShowHelp || options.ShowVersion)
        return true;
    if (options.Inputs.empty()) {
        error = "no FILE given";
        return false;
    }
    options.InputPath = options.Inputs.front();
    if (options.Inputs.size() > 1 && !options.DoExport) {
        error = "only one FILE can be converted at a time (several with --export DIR)";
        return false;
    }
    if (exportOptionGiven && !options.DoExport) {
        error = "--format, --entities, --utm, --keep-elevations, --descriptions, --prj and --fetch-links belong to "
                "--export DIR";
        return false;
    }
    if (options.Export.Format == TExportFormat::GeoPackage && !options.Export.Prj) {
        error = "--no-prj belongs to the shapefile sets: a GeoPackage always names its coordinate system";
        return false;
    }
    if (options.DoExport && !options.PngPath.empty()) {
        error = "--png draws the work folder's layers; run it apart from --export";
        return false;
    }
    if (sizeGiven && options.PngPath.empty()) {
        error = "--size is the size of the --png picture; give --png IMAGE too";
        return false;
    }
    return true;
}

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "quarvex-convert: %s\n", message.c_str());
    return 1;
}

// Every input into its sets; one that fails is reported and the others go on.
// The bar over the files of an export, on standard error when that is a
// terminal; cleared before every log line, so that the two never mix.
class TFilesBar {
public:
    explicit TFilesBar(size_t files) : files_(files), draw_(isatty(STDERR_FILENO)) {}
    ~TFilesBar() { Clear(); }
    // done files of all, the one being read, and how far it is (percent,
    // -1 when not known).
    void Show(size_t done, const std::string& name, int percent = -1)
    {
        if (!draw_ || (percent == percent_ && done == done_ && shown_))
            return;
        percent_ = percent;
        done_ = done;
        const size_t filled = files_ ? done * 30 / files_ : 0;
        const std::string share = percent >= 0 ? std::to_string(percent) + "%" : std::string();
        std::fprintf(stderr, "\r[%-30s] %zu/%zu %-30.30s %4s", std::string(filled, '#').c_str(), done, files_,
                     name.c_str(), share.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear()
    {
        if (!shown_)
            return;
        std::fprintf(stderr, "\r%80s\r", "");
        shown_ = false;
    }

private:
    size_t files_;
    bool draw_;
    bool shown_ = false;
    int percent_ = -1;
    size_t done_ = 0;
};

int RunExport(const TConvertOptions& options)
{
    std::string reason;
    if (!EnsureWorkFolder(IncludeTrailingSlash(options.Export.Folder), reason))
        return Fail("cannot create the export folder " + options.Export.Folder + ": " + reason);
    int status = 0;
    try {
        TFilesBar bar(options.Inputs.size());
        TShapeExport exporter(options.Export, [&bar](const std::string& line) {
            bar.Clear();
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
        // Two inputs of one base name would write the same sets: the first wins.
        std::map<std::string, std::string> firstOfBase;
        for (size_t i = 0; i < options.Inputs.size(); ++i) {
            const std::string& input = options.Inputs[i];
            bar.Show(i, ExtractFileName(input));
            const auto [first, isNew] = firstOfBase.emplace(ExportBaseName(input), input);
            if (!isNew) {
                bar.Clear();
                status = Fail(input + ": not exported, its sets would replace those of " + first->second +
                              " (the same base name)");
                continue;
            }
            exporter.SetProgress([&bar, i, &input](uint64_t done, uint64_t size) {
                bar.Show(i, ExtractFileName(input), size ? int(done * 100 / size) : -1);
            });
            try {
                exporter.ExportFile(input);
            } catch (const std::exception& e) {
                bar.Clear();
                // Parse errors name the file already.
                const std::string message = e.what();
                status = Fail(message.rfind(input + ":", 0) == 0 ? message : input + ": " + message);
            }
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return status;
}

// The folder of --work-dir, or the default one (or a numbered one beside
// it while another program uses it, said on standard error), locked.
bool LockJobWorkFolder(const TConvertOptions& options, TWorkFolderLock& lock, std::string& error)
{
    if (!options.WorkDir.empty())
        return LockWorkFolder(options.WorkDir, lock, error);
    std::string notice;
    if (!LockDefaultWorkFolder(DefaultWorkFolder(ExecutableFolder()), lock, notice, error))
        return false;
    if (!notice.empty())
        std::fprintf(stderr, "quarvex-convert: %s\n", notice.c_str());
    return true;
}

} // namespace

int RunConvert(const TConvertOptions& options)
{
    auto fail = [](const std::string& message) { return Fail(message); };
    // The export reads its inputs where they are and locks its own folder;
    // a conversion holds the work folder alone until the program ends.
    if (options.DoExport)
        return RunExport(options);
    TWorkFolderLock lock;
    std::string error;
    if (!LockJobWorkFolder(options, lock, error))
        return fail(error);
    const std::string workFolder = lock.Folder();
    std::string kmlPath;
    try {
        TUnZip unzip;
        unzip.MaxEntrySize = options.Export.MaxDocumentSize; // applies to every job, export or not
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
    int status = 0;
    if (!options.PngPath.empty()) {
        std::vector<std::string> problems;
        if (!SaveMapPicture(options.PngPath, options.PictureWidth, options.PictureHeight, problems, error))
            return fail("cannot write the map picture " + options.PngPath + ": " + error);
        for (const std::string& problem : problems)
            status = fail("the map picture lacks part of a layer: " + problem);
    }
    if (kmlPath.empty())
        return fail(options.InputPath + ": the archive holds no doc.kml document that could be extracted");
    return status;
}

} // namespace quarvex
