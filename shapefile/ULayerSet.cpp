#include "shapefile/ULayerSet.h"

#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "platform/UProgramInfo.h"

#include <cerrno>
#include <exception>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace quarvex {

TKMLMeta PointLayer;
TKMLMeta PathLayer;
TKMLMeta OuterPolygonLayer;
TKMLMeta InnerPolygonLayer;
TMyInfoParser* CurrentLayerSet = nullptr;

namespace {

constexpr int kKinds[] = {kPointsKind, kPathsKind, kOuterPolygonsKind, kInnerPolygonsKind};
constexpr uint8_t kShapeTypeOfKind[] = {0, 1, 3, 5, 5};

void AppendEscaped(std::string& out, const std::string& text)
{
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else
            out += c;
    }
}

// Runs step; keeps the first error in firstError instead of raising it.
template <class F>
void TryStep(std::exception_ptr& firstError, F step)
{
    try {
        step();
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
}

} // namespace

TKMLMeta& LayerOf(int kind)
{
    switch (kind) {
    case kPointsKind: return PointLayer;
    case kPathsKind: return PathLayer;
    case kOuterPolygonsKind: return OuterPolygonLayer;
    default: return InnerPolygonLayer;
    }
}

TMyInfoParser::TMyInfoParser() : DoExtent(true) {}

void TMyInfoParser::SetDefaults()
{
    DoPoints = DoPaths = DoInnerPolygons = DoOuterPolygons = true;
    DoLinks = DoDescriptions = true;
}

bool TMyInfoParser::IsEnabled(int kind) const
{
    switch (kind) {
    case kPointsKind: return DoPoints;
    case kPathsKind: return DoPaths;
    case kOuterPolygonsKind: return DoOuterPolygons;
    case kInnerPolygonsKind: return DoInnerPolygons;
    default: return false;
    }
}

std::unique_ptr<TFileSHPW>& TMyInfoParser::WriterField(int kind)
{
    switch (kind) {
    case kPointsKind: return PointWriter;
    case kPathsKind: return PathWriter;
    case kOuterPolygonsKind: return OuterPolygonWriter;
    default: return InnerPolygonWriter;
    }
}

TFileSHPW* TMyInfoParser::WriterOf(int kind)
{
    return WriterField(kind).get();
}

void TMyInfoParser::Prepare(const std::string& workFolder)
{
    for (int kind : kKinds) {
        LayerOf(kind).Count = 0;
        LayerOf(kind).Name = LayerFileName(kind, workFolder);
    }
    for (int kind : kKinds) {
        if (!IsEnabled(kind))
            continue;
        auto writer = std::make_unique<TFileSHPW>();
        writer->FileName = LayerOf(kind).Name;
        writer->Open();
        WriterField(kind) = std::move(writer);
        WriterField(kind)->Start(kShapeTypeOfKind[kind]);
    }
    if (!DoDescriptions)
        return;
    for (int kind : kKinds) {
        if (!IsEnabled(kind))
            continue;
        DescrFile.Open(DescrFileName(kind), TBufferedFile::TMode::CreateTruncate);
        descrStarted_[size_t(kind)] = true;
        WriteDescrLine("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
        WriteDescrLine("<doc><createdby>QUARVEX v2, " + WebBaseAddress + "</createdby>");
        WriteDescrLine("<info>Descriptions for Entities, zid corresponds to zid in Attributes Table</info>");
        WriteDescrLine("<shapes>");
        DescrFile.Close();
    }
}

void TMyInfoParser::OpenDescriptions(int kind)
{
    if (DoDescriptions)
        DescrFile.Open(DescrFileName(kind), TBufferedFile::TMode::Append);
}

void TMyInfoParser::WriteDescrLine(const std::string& line)
{
    DescrFile.Write(line);
    DescrFile.Write("\r\n", 2);
}

void TMyInfoParser::AddDescription(int32_t zid, const std::string& text)
{
    if (!DoDescriptions)
        return;
    line_ = "<shp zid=\"";
    line_ += std::to_string(zid);
    line_ += "\"><descrip>";
    AppendEscaped(line_, text);
    line_ += "</descrip></shp>";
    WriteDescrLine(line_);
}

void TMyInfoParser::CloseDescriptions()
{
    if (DoDescriptions)
        DescrFile.Close();
}

void TMyInfoParser::AddExtent(const TFileSHPW& writer)
{
    Corners.Add(writer.Xmin, writer.Ymin);
    Corners.Add(writer.Xmax, writer.Ymax);
}

void TMyInfoParser::Finish()
{
    std::exception_ptr firstError;
    TryStep(firstError, [&] { DescrFile.Close(); }); // open only when a pass stopped inside
    for (int kind : kKinds) {
        std::unique_ptr<TFileSHPW>& writer = WriterField(kind);
        if (!writer)
            continue;
        TryStep(firstError, [&] { writer->Finish(); });
        TryStep(firstError, [&] { writer->Close(); });
        writer.reset();
    }
    for (int kind : kKinds) {
        if (!descrStarted_[size_t(kind)])
            continue;
        descrStarted_[size_t(kind)] = false;
        TryStep(firstError, [&] {
            DescrFile.Open(DescrFileName(kind), TBufferedFile::TMode::Append);
            WriteDescrLine("</shapes></doc>");
            DescrFile.Close();
        });
        TryStep(firstError, [&] { DescrFile.Close(); });
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

std::string LayerFileName(int kind, const std::string& folder)
{
    return folder + "kml_tmp" + std::to_string(kind) + ".$m";
}

std::string DescrFileName(int kind)
{
    return ChangeFileExt(LayerOf(kind).Name, ".xml");
}

std::string FormatClockText(const std::tm& time, int milliseconds)
{
    return std::to_string(time.tm_hour) + ":" + std::to_string(time.tm_min) + ":" +
           std::to_string(time.tm_sec) + ":" + std::to_string(milliseconds);
}

std::string ClockText()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    return FormatClockText(local, int(now.tv_usec / 1000));
}

void DeleteIfExists(const std::string& path)
{
    // ENOTDIR: a file stands where a folder of the path should be, so no
    // file of that path exists.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR)
        return;
    const int err = errno;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw EQuarvexError("Cannot delete \"" + path + "\": it is a folder, not a file");
    RaiseIoError(err);
}

} // namespace quarvex
