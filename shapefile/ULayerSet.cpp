#include "shapefile/ULayerSet.h"

#include "platform/UErrors.h"
#include "platform/UFileNames.h"
#include "shapefile/UAttributeTable.h"
#include "platform/UProgramInfo.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <sys/stat.h>
#include <limits>
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
constexpr int kDescrHeadLines = 4;
constexpr const char* kDescrTail = "</shapes></doc>";

std::string ReadFileText(const std::string& path)
{
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::OpenExisting);
    std::string text(size_t(file.Size()), '\0');
    text.resize(file.ReadAt(0, text.data(), text.size()));
    file.Close();
    return text;
}

// "&" and "<" as references; also the ">" of "]]>", which may not stand in
// the text of a well-formed file.
void AppendEscaped(std::string& out, const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>' && i >= 2 && text[i - 1] == ']' && text[i - 2] == ']')
            out += "&gt;";
        else
            out += c;
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
    // A table left by an earlier job must not pass for this job's table when
    // the job stops before it creates its own.
    for (int kind : kKinds)
        active_[size_t(kind)] = IsEnabled(kind);
    described_.fill(false);
    // A folder standing where a layer's file goes is named, not reported as
    // a bare "File access denied".
    for (int kind : kKinds)
        if (IsEnabled(kind))
            for (const char* ext : {".dbf", ".$m", ".xml"})
                DeleteIfExists(ChangeFileExt(LayerOf(kind).Name, ext));
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
    if (!DoDescriptions)
        return;
    DescrFile.Open(DescrFileName(kind), TBufferedFile::TMode::Append);
    descrKind_ = kind;
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
    described_[size_t(descrKind_)] = true;
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
    // The box of a layer whose shapes are all empty is no place on the map.
    if (!writer.HasVertexBox())
        return;
    Corners.Add(writer.Xmin, writer.Ymin);
    Corners.Add(writer.Xmax, writer.Ymax);
}

void TMyInfoParser::Finish()
{
    // The writers and the record of started descriptions stay until every
    // step has succeeded, so that a failure can still settle every layer.
    try {
        DescrFile.Close(); // open only when a pass stopped inside
        for (int kind : kKinds) {
            if (std::unique_ptr<TFileSHPW>& writer = WriterField(kind)) {
                writer->Finish();
                writer->Close();
            }
        }
        for (int kind : kKinds) {
            if (!descrStarted_[size_t(kind)])
                continue;
            DescrFile.Open(DescrFileName(kind), TBufferedFile::TMode::Append);
            WriteDescrLine(kDescrTail);
            DescrFile.Close();
        }
    } catch (...) {
        FinishAfterError();
        throw;
    }
    for (int kind : kKinds)
        WriterField(kind).reset();
    descrStarted_.fill(false);
    active_.fill(false);
}

void TMyInfoParser::FinishAfterError()
{
    try {
        DescrFile.Close();
    } catch (...) {
    }
    for (int kind : kKinds) {
        if (!active_[size_t(kind)])
            continue;
        active_[size_t(kind)] = false;
        std::unique_ptr<TFileSHPW> writer = std::move(WriterField(kind));
        const bool descrStarted = descrStarted_[size_t(kind)];
        descrStarted_[size_t(kind)] = false;
        int32_t records = 0;
        bool complete = writer != nullptr && (descrStarted || !DoDescriptions);
        try {
            if (complete)
                records = SettleLayer(kind, *writer);
        } catch (...) {
            complete = false;
        }
        writer.reset(); // closes the file; nothing is left to fail there
        if (!complete)
            RemoveLayerFiles(kind);
        LayerOf(kind).Count = complete ? records : 0;
    }
}

int32_t TMyInfoParser::SettleLayer(int kind, TFileSHPW& writer)
{
    // The shape file, the table and, where the layer has them, the
    // descriptions keep the same number of whole records: the shortest.
    const std::string table = ChangeFileExt(LayerOf(kind).Name, ".dbf");
    int32_t records = writer.SettleOnDisk(std::numeric_limits<int32_t>::max());
    const uint32_t rows = TrimAttributeTable(table, uint32_t(records));
    if (rows < uint32_t(records))
        records = writer.SettleOnDisk(int32_t(rows));
    if (DoDescriptions) {
        const int32_t entries = SettleDescriptions(DescrFileName(kind), records);
        if (described_[size_t(kind)] && entries < records) {
            records = writer.SettleOnDisk(entries);
            TrimAttributeTable(table, uint32_t(records));
        }
    }
    writer.Close();
    return records;
}

void TMyInfoParser::RemoveLayerFiles(int kind)
{
    for (const char* ext : {".$m", ".dbf", ".xml"}) {
        try {
            DeleteIfExists(ChangeFileExt(LayerOf(kind).Name, ext));
        } catch (...) {
        }
    }
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

int32_t SettleDescriptions(const std::string& path, int32_t maxZid)
{
    // Keeps the head lines and the whole entries 1, 2, 3 ... up to maxZid,
    // then ends the file with its tail.
    const std::string text = ReadFileText(path);
    size_t keep = 0;
    int lines = 0;
    int32_t entries = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t eol = text.find("\r\n", at);
        if (eol == std::string::npos)
            break;
        const std::string_view line(text.data() + at, eol - at);
        if (lines >= kDescrHeadLines) {
            constexpr std::string_view kEnd = "</descrip></shp>";
            if (line.rfind("<shp zid=\"", 0) != 0 || line.size() < kEnd.size() ||
                line.substr(line.size() - kEnd.size()) != kEnd)
                break;
            int64_t zid = 0;
            const auto read = std::from_chars(line.data() + 10, line.data() + line.size(), zid);
            if (read.ec != std::errc() || zid != int64_t(entries) + 1 || zid > maxZid)
                break;
            ++entries;
        }
        ++lines;
        at = keep = eol + 2;
    }
    if (lines < kDescrHeadLines)
        throw EQuarvexError("The descriptions file \"" + path + "\" lost its head");
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::OpenExisting);
    file.Seek(int64_t(keep));
    // Written over bytes the file has where there are enough, so that a
    // full disk cannot refuse the tail.
    const std::string tail = std::string(kDescrTail) + "\r\n";
    if (text.size() >= keep + tail.size()) {
        file.Write(tail);
        file.Flush();
        file.Truncate(int64_t(keep + tail.size()));
    } else {
        file.Truncate(int64_t(keep));
        file.Write(tail);
    }
    file.Close();
    return entries;
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
