// The R-tree spatial index of a GeoPackage feature table, in the tables of
// SQLite's rtree module (the virtual table rtree_<table>_geom and its
// shadow tables _node, _rowid and _parent), packed in one pass: the
// features' boxes are gathered in a temporary table, read back sorted by the
// Hilbert index of their centres (SQLite's own sort, which spills to disk,
// so memory stays bounded), and written bottom-up as full nodes. Grown by
// one insert per feature, the index would take longer than all the rest of
// the export together, and come out less tidy.
#pragma once

#include "export/UGpkgGeometry.h"
#include "export/USqlite.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvex {

class TGpkgRtree {
public:
    // Creates the virtual table name (of the columns id, minx, maxx, miny,
    // maxy) on db and the temporary table that gathers the boxes. Raises on
    // failure.
    void Begin(sqlite3* db, const std::string& name);
    // Notes the box of feature id.
    void Add(int64_t id, const TGpkgBox& box);
    // Writes the index of every box added; extent holds them all.
    void Write(const TGpkgBox& extent);

private:
    struct TCell {
        int64_t Id = 0; // a feature's id in a leaf, a node's number above
        float Box[4] = {}; // minx, maxx, miny, maxy
    };
    struct TLevel {
        std::vector<TCell> Cells; // of the node being filled
        int Written = 0;          // nodes of this level written so far
    };
    void AddCell(size_t level, const TCell& cell);
    void WriteNode(size_t level, bool root);

    sqlite3* db_ = nullptr;
    std::string name_;
    size_t nodeSize_ = 0; // bytes, as SQLite chose it for the root
    size_t capacity_ = 0; // cells per node
    TSqlStatement gather_, node_, rowid_, parent_;
    std::vector<TLevel> levels_; // 0: the leaves
    int64_t nextNode_ = 2;       // the root is node 1
    std::vector<uint8_t> blob_;
};

} // namespace quarvex
