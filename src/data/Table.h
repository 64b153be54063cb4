#pragma once

// TTable: a dataset over one table file of the engine, ordered by the index chosen for
// IndexFieldNames, optionally following a master dataset (master-detail link).
//
// Opening (Open/setActive): describes TableName in tableStorage() (bare names live in the
// working directory, or on the server LV26_DATABASE names), chooses the index: among indexes
// neither descending nor expression based, the first whose field list is exactly IndexFieldNames
// (case ignored), else the first that begins with it followed by ";", else "'%s' has no index for
// fields '%s'". Opens read-write, or read-only when the file can only be read (every change then
// fails with "Cannot modify a read-only dataset"). Binds each stored field to the column of the
// same name ("%s: Field '%s' not found", "Field '%s' is not of the expected type"); a table without
// field components gets one per column. With a master, restricts to the master's key before
// reading, then stands on the first row.
//
// Master-detail (MasterSource + MasterFields, one field): the table shows the rows whose
// first index field equals the master's current MasterFields value. Before the master moves,
// enters edit or insert state, posts, cancels or deletes, this table's pending change is
// settled (posted if modified, cancelled if not; a failure stops the master's operation).
// After every master row event and every change of the master's key field, the pending
// change is settled and, only when the key differs from the range in force, the range is
// replaced and the table stands on its first row. New rows take the master's key without
// counting as a change.

#include "data/DataSet.h"
#include "engine/Storage.h"

#include <QString>
#include <QVariant>
#include <memory>

namespace lv26 {

class TDataSource;

// The value of LV26_DATABASE: a PostgreSQL connection string or URI naming the server that
// keeps the tables; empty for the SQLite files of the working directory.
QString databaseSetting();
// True when databaseSetting() names a server.
bool tablesOnServer();
// Where tables are opened: the server databaseSetting() names, else the working directory's
// files. Made on first use and kept for the process; throws the backend's error
// (ServerUnavailable with the client library's message) when the server cannot be reached,
// and tries again on the next use.
engine::storage::Storage& tableStorage();
// Forgets the storage tableStorage() made, so that its next use reads LV26_DATABASE anew.
// Cursors already open keep their connection.
void resetTableStorage();

class TTable : public TDataSet {
public:
    explicit TTable(QObject* parent = nullptr);
    ~TTable() override;

    QString TableName() const { return tableName_; }
    void setTableName(const QString& name) { tableName_ = name; }
    // Field names joined by ";" (only the first takes part in ranges).
    QString IndexFieldNames() const { return indexFieldNames_; }
    void setIndexFieldNames(const QString& names) { indexFieldNames_ = names; }
    // The engine's name of the index in use (empty while closed).
    QString IndexName() const { return indexName_; }
    // Open read-only even when the file could be written.
    bool ReadOnly() const { return requestReadOnly_; }
    void setReadOnly(bool readOnly) { requestReadOnly_ = readOnly; }

    // The master's data source (not owned; may be nullptr) and its key field name.
    TDataSource* MasterSource() const;
    void setMasterSource(TDataSource* source);
    QString MasterFields() const { return masterFields_; }
    void setMasterFields(const QString& fields) { masterFields_ = fields; }

protected:
    std::unique_ptr<engine::Cursor> openCursor() override;
    void afterOpenCursor() override;
    void initNewRecord() override;

private:
    class MasterLink;
    friend class MasterLink;

    QString chooseIndex(const engine::TableDescription& description) const;
    void bindFields(const engine::TableDescription& description);
    QVariant masterKey() const;
    void masterChanged();

    QString tableName_;
    QString indexFieldNames_;
    QString indexName_;
    QString masterFields_;
    bool requestReadOnly_ = false;
    std::unique_ptr<MasterLink> masterLink_;
    QVariant rangeKey_;
    bool rangeSet_ = false;
};

} // namespace lv26
