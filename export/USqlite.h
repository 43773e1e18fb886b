// The little of SQLite the GeoPackage writer needs: prepared statements that
// finalize themselves, and SQLite's failures raised as the program's errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace quarvex {

// Raises the failure code of db: a full disk as the I/O error 101, a
// failing system call as the I/O error of its errno, anything else as
// EQuarvexError "what: SQLite's message".
[[noreturn]] void RaiseSqliteError(sqlite3* db, int code, const std::string& what);

// Runs sql (one or more statements); raises on failure.
void ExecSql(sqlite3* db, const std::string& sql);

// A name quoted as an SQL identifier ("..." with each " doubled).
std::string QuoteIdentifier(std::string_view name);

class TSqlStatement {
public:
    TSqlStatement() = default;
    // Prepares sql on db; raises on failure.
    TSqlStatement(sqlite3* db, const std::string& sql);
    TSqlStatement(TSqlStatement&& other) noexcept;
    TSqlStatement& operator=(TSqlStatement&& other) noexcept;
    ~TSqlStatement();

    // Parameters count from 1. Texts and blobs are not copied: they must
    // stay as they are until the statement has run.
    void BindNull(int parameter);
    void BindText(int parameter, std::string_view text);
    void BindBlob(int parameter, std::string_view bytes);
    void BindInteger(int parameter, int64_t value);
    void BindReal(int parameter, double value);
    // Runs the statement to its end, then resets it and clears its
    // parameters; raises on failure.
    void Run();
    // Steps to the next row: false at the end (raises on failure).
    bool Next();
    int64_t Integer(int column) const;
    double Real(int column) const;
    void Finalize();

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

} // namespace quarvex
