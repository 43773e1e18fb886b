#include "export/UGpkgRtree.h"

#include "platform/UByteOrder.h"
#include "platform/UErrors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sqlite3.h>

namespace quarvex {

namespace {

constexpr size_t kCellBytes = 8 + 4 * 4; // id, then four 32-bit coordinates
constexpr int kHilbertOrder = 16;        // a grid of 65536 x 65536 cells over the extent

// The index keeps 32-bit floats; rounded outwards, a box still holds its feature.
float Down(double v)
{
    float f = float(v);
    return double(f) > v ? std::nextafter(f, -INFINITY) : f;
}

float Up(double v)
{
    float f = float(v);
    return double(f) < v ? std::nextafter(f, INFINITY) : f;
}

// The distance along the Hilbert curve of the grid cell (x, y).
int64_t HilbertIndex(uint32_t x, uint32_t y)
{
    int64_t d = 0;
    for (uint32_t s = 1u << (kHilbertOrder - 1); s > 0; s >>= 1) {
        const uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
        d += int64_t(s) * s * ((3 * rx) ^ ry);
        if (ry == 0) { // turn the quadrant so that the curve runs on
            if (rx == 1) {
                x = s - 1 - (x & (s - 1));
                y = s - 1 - (y & (s - 1));
            }
            std::swap(x, y);
        }
        x &= s - 1;
        y &= s - 1;
    }
    return d;
}

uint32_t GridCell(double v, double min, double max)
{
    const double span = max - min;
    if (!(span > 0))
        return 0;
    const double t = std::clamp((v - min) / span, 0.0, 1.0);
    return uint32_t(t * ((1u << kHilbertOrder) - 1));
}

// quarvex_hilbert(x, y): the Hilbert index of a point within the extent
// given as the function's data.
void HilbertFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    const TGpkgBox& e = *static_cast<const TGpkgBox*>(sqlite3_user_data(context));
    const uint32_t x = GridCell(sqlite3_value_double(values[0]), e.MinX, e.MaxX);
    const uint32_t y = GridCell(sqlite3_value_double(values[1]), e.MinY, e.MaxY);
    sqlite3_result_int64(context, HilbertIndex(x, y));
}

void PutBE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void PutBEFloat(uint8_t* p, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    PutBE32(p, bits);
}

} // namespace

void TGpkgRtree::Begin(sqlite3* db, const std::string& name)
{
    db_ = db;
    name_ = name;
    levels_.clear();
    nextNode_ = 2;
    ExecSql(db, "CREATE VIRTUAL TABLE " + QuoteIdentifier(name) + " USING rtree(id, minx, maxx, miny, maxy)");
    // The node size SQLite chose goes with every node: the empty root has it.
    TSqlStatement root(db, "SELECT length(data) FROM " + QuoteIdentifier(name + "_node") + " WHERE nodeno = 1");
    if (!root.Next())
        throw EQuarvexError("The R-tree " + name + " has no root");
    nodeSize_ = size_t(root.Integer(0));
    capacity_ = nodeSize_ >= 4 ? (nodeSize_ - 4) / kCellBytes : 0;
    if (capacity_ < 2)
        throw EQuarvexError("The R-tree " + name + " has nodes of " + std::to_string(nodeSize_) + " bytes");
    ExecSql(db, "CREATE TEMP TABLE quarvex_boxes (id INTEGER, minx REAL, maxx REAL, miny REAL, maxy REAL)");
    gather_ = TSqlStatement(db, "INSERT INTO temp.quarvex_boxes VALUES (?, ?, ?, ?, ?)");
}

void TGpkgRtree::Add(int64_t id, const TGpkgBox& box)
{
    gather_.BindInteger(1, id);
    gather_.BindReal(2, box.MinX);
    gather_.BindReal(3, box.MaxX);
    gather_.BindReal(4, box.MinY);
    gather_.BindReal(5, box.MaxY);
    gather_.Run();
}

void TGpkgRtree::AddCell(size_t level, const TCell& cell)
{
    if (level == levels_.size())
        levels_.emplace_back();
    levels_[level].Cells.push_back(cell);
    if (levels_[level].Cells.size() == capacity_)
        WriteNode(level, false);
}

void TGpkgRtree::WriteNode(size_t level, bool root)
{
    // The node: its depth (the root's only; the leaves' depth is 0), its
    // number of cells, then the cells; all numbers big-endian.
    std::vector<TCell>& cells = levels_[level].Cells;
    const int64_t number = root ? 1 : nextNode_++;
    blob_.assign(nodeSize_, 0);
    PutBE16(blob_.data(), root ? uint16_t(level) : 0);
    PutBE16(blob_.data() + 2, uint16_t(cells.size()));
    TCell parent{number, {cells[0].Box[0], cells[0].Box[1], cells[0].Box[2], cells[0].Box[3]}};
    for (size_t i = 0; i < cells.size(); ++i) {
        uint8_t* p = blob_.data() + 4 + i * kCellBytes;
        PutBE32(p, uint32_t(uint64_t(cells[i].Id) >> 32));
        PutBE32(p + 4, uint32_t(cells[i].Id));
        for (int k = 0; k < 4; ++k)
            PutBEFloat(p + 8 + 4 * k, cells[i].Box[k]);
        parent.Box[0] = std::min(parent.Box[0], cells[i].Box[0]);
        parent.Box[1] = std::max(parent.Box[1], cells[i].Box[1]);
        parent.Box[2] = std::min(parent.Box[2], cells[i].Box[2]);
        parent.Box[3] = std::max(parent.Box[3], cells[i].Box[3]);
        // Where each feature is found, and each node's parent.
        TSqlStatement& link = level == 0 ? rowid_ : parent_;
        link.BindInteger(1, cells[i].Id);
        link.BindInteger(2, number);
        link.Run();
    }
    node_.BindInteger(1, number);
    node_.BindBlob(2, std::string_view(reinterpret_cast<const char*>(blob_.data()), blob_.size()));
    node_.Run();
    ++levels_[level].Written;
    cells.clear();
    if (!root)
        AddCell(level + 1, parent);
}

void TGpkgRtree::Write(const TGpkgBox& extent)
{
    gather_.Finalize();
    const TGpkgBox frame = extent;
    if (const int code = sqlite3_create_function(db_, "quarvex_hilbert", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                 const_cast<TGpkgBox*>(&frame), HilbertFunction, nullptr, nullptr);
        code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
    node_ = TSqlStatement(db_, "INSERT OR REPLACE INTO " + QuoteIdentifier(name_ + "_node") + " VALUES (?, ?)");
    rowid_ = TSqlStatement(db_, "INSERT INTO " + QuoteIdentifier(name_ + "_rowid") + " VALUES (?, ?)");
    parent_ = TSqlStatement(db_, "INSERT INTO " + QuoteIdentifier(name_ + "_parent") + " VALUES (?, ?)");
    {
        TSqlStatement sorted(db_, "SELECT id, minx, maxx, miny, maxy FROM temp.quarvex_boxes "
                                  "ORDER BY quarvex_hilbert((minx + maxx) / 2, (miny + maxy) / 2)");
        while (sorted.Next())
            AddCell(0, TCell{sorted.Integer(0), {Down(sorted.Real(1)), Up(sorted.Real(2)), Down(sorted.Real(3)),
                                                 Up(sorted.Real(4))}});
    }
    // The nodes left part-full, from the leaves up; the first level that
    // has no node written yet and nothing above it is the root.
    for (size_t level = 0; level < levels_.size(); ++level) {
        const bool top = level + 1 == levels_.size();
        if (top && levels_[level].Written == 0) {
            WriteNode(level, true);
            break;
        }
        if (!levels_[level].Cells.empty())
            WriteNode(level, false);
    }
    node_.Finalize();
    rowid_.Finalize();
    parent_.Finalize();
    sqlite3_create_function(db_, "quarvex_hilbert", 2, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
    ExecSql(db_, "DROP TABLE temp.quarvex_boxes");
}

} // namespace quarvex
