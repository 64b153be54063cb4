#pragma once

// The tables as SQLite files in one folder, one table a file: the storage every installation
// has without a server. Table names are file names in that folder ("Stock.DB").

#include "engine/Storage.h"

namespace lv26::engine {

class SqliteStorage final : public storage::Storage {
public:
    // The files of the folder `folder`; empty: the process's working directory at each call,
    // with table names passed on unchanged (so messages name them as the caller did).
    explicit SqliteStorage(QString folder = {});

    QString location() const override;
    TableDescription describe(const QString& tableName) override;
    std::unique_ptr<storage::TableCursor> open(const QString& tableName, const QString& indexName,
                                               OpenMode mode) override;
    std::unique_ptr<storage::TableCursor>
    open(const QString& tableName, const IndexChooser& chooseIndex, OpenMode mode) override;
    // The files of the folder, as engine::createTables() makes them.
    void createTables(const QList<TableDescription>& tables) override;
    void appendRows(const QString& tableName, const std::function<bool(Row&)>& produce) override;
    // One scan of the index in order; keys are text (or blank).
    storage::KeyTotals sumByKey(const QString& tableName, const QString& indexName,
                                const QString& column) override;
    // Each row is locked, written and released as an edit posts it, so a failure keeps the
    // rows written before it; a run is the unit after which others' writes are seen.
    storage::RunsEnd writeRuns(const QString& tableName, const QString& indexName,
                               const storage::Bookmark& after, int rowsPerRun,
                               const std::function<storage::RowVisit(Row&)>& visit) override;

private:
    QString pathOf(const QString& tableName) const;

    QString folder_;
};

} // namespace lv26::engine
