#pragma once

// Thin RAII helpers over the SQLite C interface, used only inside the engine, and the
// raising of the engine's errors.

#include "engine/TableEngine.h"

#include <QByteArray>
#include <QStringList>
#include <memory>
#include <sqlite3.h>

namespace lv26::engine::detail {

// Throws EEngineError(code) whose message is errorText(code) (or "Table engine error $XXXX"
// when the code has no text) followed by each non-empty entry of `stack`, each once, joined
// by line breaks.
[[noreturn]] void raise(quint16 code, const QStringList& stack = {});

// `code` as four upper-case hexadecimal digits ("2A06").
QString hexCode(quint16 code);

// The engine code for a SQLite result code (extended codes allowed).
quint16 codeForSqlite(int rc);

// One value exactly as SQLite stores it: its storage class and its bytes. Keys are kept in
// this form so that seeks bind back precisely what was read.
struct RawValue {
    int type = SQLITE_NULL; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes; // UTF-8 text or blob bytes

    bool isNull() const { return type == SQLITE_NULL; }
    static RawValue fromColumn(sqlite3_stmt* stmt, int column);
    static RawValue fromVariant(const QVariant& value);
    QVariant toVariant() const;
    bool operator==(const RawValue& other) const = default;
};

// An open database connection; closes on destruction.
class Database {
public:
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    // Opens `path` (never creating it unless `create`), read-only or read-write; `immutable`
    // opens a read-only file without any locking (for files in folders we cannot write).
    // Throws the mapped engine error naming `tableName`.
    void open(const QString& path, const QString& tableName, bool readOnly, bool create = false,
              bool immutable = false);
    sqlite3* handle() const { return db_; }
    const QString& tableName() const { return tableName_; }

    // Runs statements without results; throws on failure.
    void exec(const char* sql);
    // Throws the engine error for `rc` with SQLite's message and the table's name.
    [[noreturn]] void fail(int rc, const QString& context = {}) const;

private:
    sqlite3* db_ = nullptr;
    QString tableName_;
};

// A prepared statement; finalized on destruction. step() returns true while rows come.
class Statement {
public:
    Statement() = default;
    Statement(const Database& db, const QString& sql);
    Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
        other.stmt_ = nullptr;
    }
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    ~Statement();

    sqlite3_stmt* handle() const { return stmt_; }
    void bind(int index, const RawValue& value); // index from 1
    bool step();                                 // throws on error
    void reset();                                // also clears bindings

private:
    const Database* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when leaving a scope, so that no read transaction stays open.
class ResetGuard {
public:
    explicit ResetGuard(Statement& stmt) : stmt_(stmt) {}
    ~ResetGuard() { stmt_.reset(); }

private:
    Statement& stmt_;
};

// Quotes an SQL identifier.
QString quoted(const QString& identifier);

// A column's declared type as the engine reads it: family and size.
ColumnInfo parseDeclaredType(const QString& name, const QString& declared);

// Describes the single table in an open database, keeping what a cursor needs besides the
// public description. Throws NotATable when the file is not a table of ours.
struct IndexKeyPart {
    int column = -1; // index into the columns
    QString collation;
};
struct IndexDetail {
    IndexInfo info;
    QList<IndexKeyPart> parts;
};
struct SchemaDetail {
    QString sqlTable; // name of the table inside the file
    TableDescription description;
    QList<IndexDetail> indexes;
};
SchemaDetail readSchema(const Database& db, const QString& tableName, const QString& path);

// Checks that `path` names a readable regular file; throws TableNotFound, NotATable or
// AccessDenied naming it.
void checkTableFile(const QString& path);

// Writable means: the user may write it and its permission bits allow some writer (root
// passes access() on any file, yet a file made read-only stays read-only for the program).
bool writable(const QString& path);
QString folderOf(const QString& path);
// Opens the database of a table file. A read-only file in a folder we cannot write, with no
// write-ahead log beside it, cannot have writers: it is opened without any locking.
std::unique_ptr<Database> openDatabase(const QString& path, const QString& tableName,
                                       bool readOnly);
// Sets a connection up for writing (write-ahead log, synced at checkpoints).
void prepareForWriting(Database& db);
// Throws ReadOnlyTable naming the table unless the file and its folder can be written.
void requireWritableFile(const QString& path, const QString& tableName);
// The index named `indexName` (case ignored); throws IndexNotFound or IndexNotUsable.
const IndexDetail& findIndex(const SchemaDetail& schema, const QString& indexName,
                             const QString& tableName);

// Value conversions between stored values and row values (see docs/tables.md).
QVariant valueForColumn(const RawValue& raw, const ColumnInfo& column);
RawValue valueToStore(const QVariant& value, const ColumnInfo& column);

} // namespace lv26::engine::detail
