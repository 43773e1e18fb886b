#include "shapefile/UAttributeTable.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvex {

namespace {

constexpr int kFileHeaderSize = 32;
constexpr int kDescriptorSize = 32;
constexpr uint8_t kHeaderEnd = 0x0D;
constexpr uint8_t kFileEnd = 0x1A;
constexpr size_t kNameLength = 255;
constexpr int kZidWidth = 9;

struct TFieldDef {
    const char* name;
    char type;
    uint8_t length;
};

constexpr TFieldDef kSchema[] = {
    {"ZID", 'N', 9},         {"NAME", 'C', 255}, {"HINT", 'C', 255},    {"COLOR", 'C', 10},
    {"ICON_SIZE", 'C', 5},   {"EXTRUDE", 'C', 1}, {"TESELLATE", 'C', 1},
};
static_assert(kFileHeaderSize + kDescriptorSize * std::size(kSchema) + 1 == kDbfHeaderLength);

int64_t RecordOffset(uint32_t index)
{
    return kDbfHeaderLength + int64_t(kDbfRecordLength) * index;
}

void PutDescriptors(uint8_t* out)
{
    for (const TFieldDef& field : kSchema) {
        std::memset(out, 0, kDescriptorSize);
        std::memcpy(out, field.name, std::strlen(field.name));
        out[11] = uint8_t(field.type);
        out[16] = field.length;
        out += kDescriptorSize;
    }
    *out = kHeaderEnd;
}

// Right-aligns zid in the 9-byte numeric field; false when it has more digits.
bool PutZid(char* field, int32_t zid)
{
    char digits[16];
    int length = std::snprintf(digits, sizeof digits, "%d", zid);
    if (length > kZidWidth)
        return false;
    std::memcpy(field + kZidWidth - length, digits, size_t(length));
    return true;
}

// Removes a half-written table; a device or other special file named as
// the table is never removed.
void DeleteRegularFile(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::unlink(path.c_str());
}

void WriteTableHeader(TBufferedFile& file, uint32_t records, uint8_t driverId)
{
    uint8_t header[kFileHeaderSize] = {};
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    header[0] = 0x03;
    header[1] = uint8_t(local.tm_year);
    header[2] = uint8_t(local.tm_mon + 1);
    header[3] = uint8_t(local.tm_mday);
    PutLE32(header + 4, records);
    PutLE16(header + 8, kDbfHeaderLength);
    PutLE16(header + 10, kDbfRecordLength);
    header[29] = driverId;
    file.Seek(0);
    file.Write(header, sizeof header);
}

// Cuts the table back to at most maxRecords of the whole records on disk,
// counts them in the header and puts the end mark behind them. The mark is
// written over bytes the file already has where it can, so that a full disk
// cannot refuse it. Every step is tried and the file closed; the first
// error is kept in firstError. Returns the number of records kept.
uint32_t SettleAndClose(TBufferedFile& file, uint32_t maxRecords, uint8_t driverId, std::exception_ptr& firstError)
{
    auto step = [&](auto action) {
        try {
            action();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    };
    step([&] { file.Flush(); });
    file.DropBufferAndSeek(0);
    uint32_t records = maxRecords;
    int64_t size = -1;
    step([&] {
        size = file.DiskSize();
        const int64_t whole = size > kDbfHeaderLength ? (size - kDbfHeaderLength) / kDbfRecordLength : 0;
        records = uint32_t(std::min<int64_t>(records, whole));
    });
    if (size < 0) { // nothing is known of what is on disk: nothing is written over it
        records = 0;
    } else {
        step([&] {
            WriteTableHeader(file, records, driverId);
            const int64_t end = RecordOffset(records);
            file.Seek(end);
            if (size > end) {
                file.Write(&kFileEnd, 1);
                file.Flush();
                file.Truncate(end + 1);
            } else {
                file.Truncate(end);
                file.Write(&kFileEnd, 1);
                file.Flush();
            }
        });
    }
    step([&] { file.Close(); });
    return records;
}

} // namespace

TAttributeTable::TAttributeTable() : TAttributeTable(SystemAnsiCodePage()) {}

TAttributeTable::TAttributeTable(int codePage) : newTableCodePage_(codePage) {}

TAttributeTable::~TAttributeTable()
{
    try {
        CloseAttributeTable();
    } catch (...) {
    }
}

void TAttributeTable::CreateAttributeTable(const std::string& path)
{
    CloseAttributeTable();
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::CreateTruncate);
    try {
        WriteTableHeader(file, 0, LanguageDriverId(newTableCodePage_));
        uint8_t tail[kDbfHeaderLength - kFileHeaderSize + 1];
        PutDescriptors(tail);
        tail[sizeof tail - 1] = kFileEnd;
        file.Write(tail, sizeof tail);
        file.Close();
    } catch (...) {
        DeleteRegularFile(path);
        throw;
    }
}

void TAttributeTable::OpenAttributeTable(const std::string& path)
{
    CloseAttributeTable();
    try {
        file_.Open(path, TBufferedFile::TMode::OpenExisting);
    } catch (const EInOutError& e) {
        if (e.ErrorCode() == 2)
            throw EQuarvexError("Open: file not found: \"" + path + "\".");
        throw;
    }
    uint8_t header[kFileHeaderSize];
    bool valid = file_.ReadAt(0, header, sizeof header) == sizeof header && header[0] == 0x03 &&
                 GetLE16(header + 8) == kDbfHeaderLength && GetLE16(header + 10) == kDbfRecordLength;
    const int64_t size = valid ? file_.Size() : 0;
    const uint32_t count = valid ? GetLE32(header + 4) : 0;
    if (!valid || size < RecordOffset(count)) {
        file_.Close();
        throw EQuarvexError("Open: \"" + path + "\" is not an attribute table of this program.");
    }
    recordCount_ = count;
    driverId_ = header[29];
    int codePage = CodePageOfDriverId(driverId_);
    if (codePage == 0)
        codePage = newTableCodePage_;
    if (!converter_ || converter_->CodePage() != codePage)
        converter_ = std::make_unique<TCodePageConverter>(codePage);
    file_.Seek(RecordOffset(recordCount_));
}

void TAttributeTable::AppendAttributeRecord(int32_t zid, const std::string& name)
{
    if (!file_.IsOpen())
        throw EQuarvexError("Append: no attribute table is open.");
    if (recordCount_ == UINT32_MAX)
        RaiseIoError(EFBIG);
    record_.assign(kDbfRecordLength, ' ');
    if (!PutZid(&record_[1], zid))
        throw EQuarvexError("ZID " + std::to_string(zid) + " does not fit its 9-digit field.");
    nameText_.clear();
    converter_->Convert(name, nameText_);
    std::memcpy(&record_[10], nameText_.data(), converter_->CutLength(nameText_, kNameLength));
    file_.Write(record_.data(), record_.size());
    ++recordCount_;
}

void TAttributeTable::FinishFile()
{
    std::exception_ptr firstError;
    recordCount_ = SettleAndClose(file_, recordCount_, driverId_, firstError);
    if (firstError)
        std::rethrow_exception(firstError);
}

uint32_t TrimAttributeTable(const std::string& path, uint32_t maxRecords)
{
    TBufferedFile file;
    file.Open(path, TBufferedFile::TMode::OpenExisting);
    uint8_t header[kFileHeaderSize];
    if (file.ReadAt(0, header, sizeof header) != sizeof header || header[0] != 0x03 ||
        GetLE16(header + 8) != kDbfHeaderLength || GetLE16(header + 10) != kDbfRecordLength)
        throw EQuarvexError("\"" + path + "\" is not an attribute table of this program.");
    std::exception_ptr firstError;
    const uint32_t records = SettleAndClose(file, std::min(GetLE32(header + 4), maxRecords), header[29], firstError);
    if (firstError)
        std::rethrow_exception(firstError);
    return records;
}

void TAttributeTable::CloseAttributeTable()
{
    if (file_.IsOpen())
        FinishFile();
}

} // namespace quarvex
