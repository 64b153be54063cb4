#pragma once

// A table on the server as the backend reads it: its description, its oid, and the SQL of
// ordered reads over one of its indexes (keyset seeks on the index fields and the row's
// identity). Used only inside the PostgreSQL backend.

#include "engine/Storage.h"
#include "engine/pg/PgConnection.h"

namespace lv26::engine::pg {

// The hidden column holding each row's identity; every table of ours has it.
inline constexpr char rowIdColumn[] = "rowid";

struct PgTable {
    QString tableName;  // as the caller named it ("Stock.DB")
    QString serverName; // the table on the server ("stock")
    quint32 oid = 0;
    bool writable = false; // the session may update the table
    TableDescription description;
    QList<QString> columnNames; // the server's names, in the order of the description
    QList<QString> columnSql;   // the same names quoted for statements
};

// `name` as a quoted SQL identifier: a name from the catalog is data, never SQL.
QString quotedIdentifier(const QString& name);

// The server's name for `tableName`: its base name, lower case ("Stock.DB" -> "stock"). Empty
// when that is not a plain identifier.
QString serverTableName(const QString& tableName);

// Reads the description of `tableName` from the server's catalog. Throws TableNotFound when
// there is no such table, NotATable when it has no row identity column.
PgTable describeTable(Connection& connection, const QString& tableName);

// A value of `column` in text form for a statement parameter, converted as a write converts
// it (text cut to its size, empty text blank); throws InvalidValue naming the field and value.
std::optional<QByteArray> parameterFor(const ColumnInfo& column, const QVariant& value);
// A value read from the server, as the column's family holds it.
QVariant valueFrom(const ColumnInfo& column, const Result& result, int row, int field);

// Ordered reads over one index of a table, restricted to a range of its first field.
class KeysetQuery {
public:
    // Requires `indexName` to be one of `table`'s index names (throws IndexNotFound otherwise).
    KeysetQuery(const PgTable& table, const QString& indexName);

    void setRange(const QVariant& low, const QVariant& high);
    void clearRange();

    // The statement reading up to `limit` rows after (forward) or before `from` (invalid: from
    // the start or the end) in index order, each as: rowid, then the columns.
    std::pair<QString, Params> seek(const storage::Bookmark& from, bool forward, int limit) const;
    // One row by identity, if within the range.
    std::pair<QString, Params> byRowId(qint64 rowId) const;
    // Rows within the range.
    std::pair<QString, Params> count() const;

    const QList<int>& keyColumns() const { return keyColumns_; }
    // The bookmark of a row read by one of these statements.
    storage::Bookmark bookmarkOf(const Row& row, qint64 rowId) const;
    QString selectList() const;

private:
    struct Builder;
    QString rangeCondition(Builder& b) const;

    const PgTable& table_;
    QList<int> keyColumns_; // positions in the description of the index fields
    bool hasRange_ = false;
    QVariant low_, high_;
};

} // namespace lv26::engine::pg
