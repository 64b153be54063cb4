#pragma once

// The tables on a PostgreSQL server, each under its name's base in lower case ("Stock.DB" is
// `stock`, so that plain SQL reaches it unquoted), each with a hidden `rowid` identity column;
// messages name them as the caller does ("Stock.DB"). See docs/storage.md.

#include "engine/Storage.h"

#include <memory>

namespace lv26::engine::pg {

class Connection;

class PgStorage final : public storage::Storage {
public:
    // Connects to the server `conninfo` names (a libpq connection string or URI, such as
    // LV26_DATABASE holds). Throws ServerUnavailable with libpq's message when it cannot.
    explicit PgStorage(const QString& conninfo);
    ~PgStorage() override;

    QString location() const override;
    TableDescription describe(const QString& tableName) override;
    std::unique_ptr<storage::TableCursor> open(const QString& tableName, const QString& indexName,
                                               OpenMode mode) override;
    std::unique_ptr<storage::TableCursor>
    open(const QString& tableName, const IndexChooser& chooseIndex, OpenMode mode) override;
    // Each table under its server name with the row identity first, names in lower case, text
    // as varchar(n) in the collation "C", money as the domain `currency` (made when missing),
    // each index as "<table>_<index>" with blank key parts first (a non-unique one ending with
    // the row identity); all in one transaction.
    void createTables(const QList<TableDescription>& tables) override;
    void appendRows(const QString& tableName, const std::function<bool(Row&)>& produce) override;
    // The rows of one table for appendTables().
    struct TableRows {
        QString tableName;
        std::function<bool(Row&)> produce;
    };
    // Appends the rows of every table, in order, in one transaction: all or, on an error
    // (thrown), none of any table.
    void appendTables(const QList<TableRows>& tables);
    storage::KeyTotals sumByKey(const QString& tableName, const QString& indexName,
                                const QString& column) override;
    // Each run is one transaction: a failure undoes the run it happens in.
    storage::RunsEnd writeRuns(const QString& tableName, const QString& indexName,
                               const storage::Bookmark& after, int rowsPerRun,
                               const std::function<storage::RowVisit(Row&)>& visit) override;

private:
    static void copyRows(Connection& c, const QString& tableName,
                         const std::function<bool(Row&)>& produce);

    std::shared_ptr<Connection> connection_;
};

} // namespace lv26::engine::pg
