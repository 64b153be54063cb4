#include "engine/SqliteStorage.h"

#include "engine/Sqlite.h"
#include "engine/TableEngine.h"

#include <QDir>

namespace lv26::engine {

namespace {

using detail::raise;

int columnNamed(const TableDescription& description, const QString& name) {
    for (int i = 0; i < description.columns.size(); ++i) {
        if (description.columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    raise(codes::InvalidValue, {msg(Message::EngineAtTable, {description.tableName})});
}

// The column of the first field of the cursor's index.
int keyColumnOf(const TableDescription& description, const QString& indexName) {
    for (const IndexInfo& index : description.indexes) {
        if (index.name.compare(indexName, Qt::CaseInsensitive) == 0)
            return columnNamed(description, index.fields.section(QLatin1Char(';'), 0, 0));
    }
    raise(codes::IndexNotFound, {msg(Message::EngineAtTable, {description.tableName})});
}

bool keyBefore(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && !b.isNull();
    return a.toString() < b.toString();
}

} // namespace

SqliteStorage::SqliteStorage(QString folder) : folder_(std::move(folder)) {}

QString SqliteStorage::location() const {
    return QDir::toNativeSeparators(folder_.isEmpty() ? QDir::currentPath() : folder_);
}

QString SqliteStorage::pathOf(const QString& tableName) const {
    return folder_.isEmpty() ? tableName : QDir(folder_).filePath(tableName);
}

TableDescription SqliteStorage::describe(const QString& tableName) {
    return engine::describe(pathOf(tableName));
}

std::unique_ptr<storage::TableCursor> SqliteStorage::open(const QString& tableName,
                                                          const QString& indexName, OpenMode mode) {
    return engine::open(pathOf(tableName), indexName, mode);
}

std::unique_ptr<storage::TableCursor>
SqliteStorage::open(const QString& tableName, const IndexChooser& chooseIndex, OpenMode mode) {
    return engine::open(pathOf(tableName), chooseIndex, mode);
}

void SqliteStorage::createTables(const QList<TableDescription>& tables) {
    engine::createTables(folder_.isEmpty() ? QDir::currentPath() : folder_, tables);
}

void SqliteStorage::appendRows(const QString& tableName, const std::function<bool(Row&)>& produce) {
    engine::appendRows(pathOf(tableName), produce);
}

storage::KeyTotals SqliteStorage::sumByKey(const QString& tableName, const QString& indexName,
                                           const QString& column) {
    const auto cursor = open(tableName, indexName, OpenMode::ReadOnly);
    const int keyColumn = keyColumnOf(cursor->description(), indexName);
    const int valueColumn = columnNamed(cursor->description(), column);
    std::vector<storage::KeyTotals::Entry> entries;
    Row row;
    while (cursor->next(row)) {
        QVariant key = row[keyColumn].isNull() ? QVariant() : QVariant(row[keyColumn].toString());
        if (entries.empty() || entries.back().first != key)
            entries.emplace_back(std::move(key), storage::KeyTotal{});
        storage::KeyTotal& total = entries.back().second;
        if (row[valueColumn].isNull())
            total.blank = true;
        else
            total.sum += row[valueColumn].toLongLong();
    }
    // The index's collation may order keys otherwise than their text's binary order.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return keyBefore(a.first, b.first); });
    std::vector<storage::KeyTotals::Entry> merged;
    for (auto& entry : entries) {
        if (!merged.empty() && merged.back().first == entry.first) {
            merged.back().second.blank |= entry.second.blank;
            merged.back().second.sum += entry.second.sum;
        } else {
            merged.push_back(std::move(entry));
        }
    }
    return storage::KeyTotals(std::move(merged));
}

storage::RunsEnd SqliteStorage::writeRuns(const QString& tableName, const QString& indexName,
                                          const storage::Bookmark& after, int rowsPerRun,
                                          const std::function<storage::RowVisit(Row&)>& visit) {
    const auto cursor = open(tableName, indexName, OpenMode::ReadWrite);
    if (after.isValid())
        cursor->gotoBookmark(after); // on the row or between its neighbours: next() follows it
    int inRun = 0;
    Row row;
    while (cursor->next(row)) {
        if (++inRun >= std::max(1, rowsPerRun)) {
            cursor->refresh();
            inRun = 0;
        }
        try {
            cursor->lockCurrent(row);
        } catch (const EEngineError& error) {
            if (error.code() != codes::RecordLocked)
                throw;
            return {storage::RunsEnd::How::Stopped, cursor->bookmark(), codes::RecordLocked};
        }
        switch (visit(row)) {
        case storage::RowVisit::Write:
            cursor->updateCurrent(row);
            break;
        case storage::RowVisit::Keep:
            cursor->releaseLock();
            break;
        case storage::RowVisit::Stop:
            cursor->releaseLock();
            return {storage::RunsEnd::How::Stopped, cursor->bookmark(), 0};
        }
    }
    return {};
}

} // namespace lv26::engine
