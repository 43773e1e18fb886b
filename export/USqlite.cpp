#include "export/USqlite.h"

#include "platform/UErrors.h"

#include <sqlite3.h>
#include <utility>

namespace quarvex {

void RaiseSqliteError(sqlite3* db, int code, const std::string& what)
{
    const int primary = code & 0xFF;
    const int systemErrno = db ? sqlite3_system_errno(db) : 0;
    if (primary == SQLITE_FULL)
        throw EInOutError(101);
    if ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) && systemErrno != 0)
        RaiseIoError(systemErrno);
    throw EQuarvexError(what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code)));
}

void ExecSql(sqlite3* db, const std::string& sql)
{
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        RaiseSqliteError(db, code, "SQLite");
}

std::string QuoteIdentifier(std::string_view name)
{
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

TSqlStatement::TSqlStatement(sqlite3* db, const std::string& sql) : db_(db)
{
    const int code = sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &statement_, nullptr);
    if (code != SQLITE_OK)
        RaiseSqliteError(db, code, "SQLite");
}

TSqlStatement::TSqlStatement(TSqlStatement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), statement_(std::exchange(other.statement_, nullptr))
{
}

TSqlStatement& TSqlStatement::operator=(TSqlStatement&& other) noexcept
{
    if (this != &other) {
        Finalize();
        db_ = std::exchange(other.db_, nullptr);
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

TSqlStatement::~TSqlStatement()
{
    Finalize();
}

void TSqlStatement::Finalize()
{
    sqlite3_finalize(statement_); // a no-op on nullptr
    statement_ = nullptr;
}

// Binding fails only on a parameter number out of range or on a statement
// that runs, both faults of ours that the next step reports too; the codes
// are checked all the same.
void TSqlStatement::BindNull(int parameter)
{
    if (const int code = sqlite3_bind_null(statement_, parameter); code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
}

void TSqlStatement::BindText(int parameter, std::string_view text)
{
    if (const int code = sqlite3_bind_text(statement_, parameter, text.data(), int(text.size()), SQLITE_STATIC);
        code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
}

void TSqlStatement::BindBlob(int parameter, std::string_view bytes)
{
    if (const int code = sqlite3_bind_blob(statement_, parameter, bytes.data(), int(bytes.size()), SQLITE_STATIC);
        code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
}

void TSqlStatement::BindInteger(int parameter, int64_t value)
{
    if (const int code = sqlite3_bind_int64(statement_, parameter, value); code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
}

void TSqlStatement::BindReal(int parameter, double value)
{
    if (const int code = sqlite3_bind_double(statement_, parameter, value); code != SQLITE_OK)
        RaiseSqliteError(db_, code, "SQLite");
}

void TSqlStatement::Run()
{
    const int code = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    if (code != SQLITE_DONE && code != SQLITE_ROW)
        RaiseSqliteError(db_, code, "SQLite");
}

bool TSqlStatement::Next()
{
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        RaiseSqliteError(db_, code, "SQLite");
    return false;
}

int64_t TSqlStatement::Integer(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

double TSqlStatement::Real(int column) const
{
    return sqlite3_column_double(statement_, column);
}

} // namespace quarvex
