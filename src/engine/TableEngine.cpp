#include "engine/TableEngine.h"

#include "base/Messages.h"
#include "engine/Sqlite.h"
#include "engine/SqliteCursor.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lv26::engine {

using namespace detail;

QString errorText(quint16 code) {
    switch (code) {
    case codes::EngineNotFound:
    case codes::EngineLoadFailed:
    case codes::EngineEntryMissing:
        return msg(Message::EngineStartFailed, {hexCode(code)});
    case codes::OutOfMemory:
        return msg(Message::EngineOutOfMemory);
    case codes::TableNotFound:
        return msg(Message::EngineTableNotFound);
    case codes::NotATable:
        return msg(Message::EngineNotATable);
    case codes::AccessDenied:
        return msg(Message::EngineAccessDenied);
    case codes::ReadOnlyTable:
        return msg(Message::EngineReadOnlyTable);
    case codes::IndexNotFound:
        return msg(Message::EngineIndexNotFound);
    case codes::IndexNotUsable:
        return msg(Message::EngineIndexNotUsable);
    case codes::TableExists:
        return msg(Message::EngineTableExists);
    case codes::RecordLocked:
        return msg(Message::EngineRecordLocked);
    case codes::KeyViolation:
        return msg(Message::EngineKeyViolation);
    case codes::RecordDeleted:
        return msg(Message::EngineRecordDeleted);
    case codes::NoCurrentRecord:
        return msg(Message::EngineNoCurrentRecord);
    case codes::InvalidValue:
        return msg(Message::EngineInvalidValue);
    case codes::TableBusy:
        return msg(Message::EngineTableBusy);
    case codes::DiskFull:
        return msg(Message::EngineDiskFull);
    case codes::IoError:
        return msg(Message::EngineIoError);
    case codes::GeneralError:
        return msg(Message::EngineGeneralError);
    case codes::ServerUnavailable:
        return msg(Message::EngineServerUnavailable);
    default:
        return {};
    }
}

quint16 readOnlyCode() {
    return codes::ReadOnlyTable;
}

namespace {

bool started = false;

WaitHook& waitHook() {
    static WaitHook hook;
    return hook;
}

} // namespace

void setWaitHook(WaitHook hook) {
    waitHook() = std::move(hook);
}

WaitScope::WaitScope() {
    if (waitHook().begin)
        waitHook().begin();
}

WaitScope::~WaitScope() {
    if (waitHook().end)
        waitHook().end();
}

namespace detail {

bool writable(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return false;
    return (st.st_mode & 0222) != 0 && ::access(native.constData(), W_OK) == 0;
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

std::unique_ptr<Database> openDatabase(const QString& path, const QString& tableName,
                                       bool readOnly) {
    auto db = std::make_unique<Database>();
    const bool immutable =
        readOnly && !writable(folderOf(path)) && !QFileInfo::exists(path + QStringLiteral("-wal"));
    db->open(path, tableName, readOnly, false, immutable);
    return db;
}

// Crash safety with one fsync per checkpoint rather than per row: a write-ahead log, synced
// at checkpoints. A killed process loses nothing committed and never leaves half a row.
void prepareForWriting(Database& db) {
    sqlite3_exec(db.handle(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    db.exec("PRAGMA synchronous=NORMAL");
    db.exec("PRAGMA journal_size_limit=8388608");
}

void requireWritableFile(const QString& path, const QString& tableName) {
    if (!writable(path) || !writable(folderOf(path)))
        raise(codes::ReadOnlyTable,
              {msg(Message::EngineAtTable, {tableName}), msg(Message::EngineAtFile, {path})});
}

const IndexDetail& findIndex(const SchemaDetail& schema, const QString& indexName,
                             const QString& tableName) {
    for (const IndexDetail& index : schema.indexes) {
        if (index.info.name.compare(indexName, Qt::CaseInsensitive) != 0)
            continue;
        if (index.info.descending || index.info.expression)
            raise(codes::IndexNotUsable, {msg(Message::EngineAtTable, {tableName}),
                                          msg(Message::EngineAtIndex, {indexName})});
        return index;
    }
    raise(codes::IndexNotFound,
          {msg(Message::EngineAtTable, {tableName}), msg(Message::EngineAtIndex, {indexName})});
}

} // namespace detail

void start() {
    if (started)
        return;
    WaitScope wait;
    const int rc = sqlite3_initialize();
    if (rc == SQLITE_NOMEM)
        raise(codes::OutOfMemory);
    if (rc != SQLITE_OK)
        raise(codes::EngineLoadFailed);
    if (sqlite3_libversion_number() < 3031000) // generated columns, defensive mode, xinfo
        raise(codes::EngineEntryMissing);
    started = true;
}

QString tablePath(const QString& tableName) {
    return QDir::current().absoluteFilePath(tableName);
}

TableDescription describe(const QString& tableName) {
    start();
    const QString path = tablePath(tableName);
    checkTableFile(path);
    auto db = openDatabase(path, tableName, true);
    return readSchema(*db, tableName, path).description;
}

namespace {

struct OpenedFile {
    std::unique_ptr<Database> db;
    bool readOnly = true;
};

// Opens the database of the table file at `path` as `mode` asks. A file that cannot be
// written fails a ReadWrite open (ReadOnlyTable) and is opened read-only for
// ReadWriteElseReadOnly.
OpenedFile openTableFile(const QString& path, const QString& tableName, OpenMode mode) {
    if (mode == OpenMode::ReadWrite)
        requireWritableFile(path, tableName);
    else if (mode == OpenMode::ReadOnly || !writable(path) || !writable(folderOf(path)))
        return {openDatabase(path, tableName, true), true};
    auto db = openDatabase(path, tableName, false);
    if (sqlite3_db_readonly(db->handle(), "main") != 1)
        return {std::move(db), false};
    if (mode == OpenMode::ReadWrite)
        raise(codes::ReadOnlyTable,
              {msg(Message::EngineAtTable, {tableName}), msg(Message::EngineAtFile, {path})});
    db.reset(); // the storage refuses writing though the file's rights allow it: read it
    return {openDatabase(path, tableName, true), true};
}

} // namespace

std::unique_ptr<Cursor> open(const QString& tableName, const QString& indexName, OpenMode mode) {
    return open(
        tableName, [&indexName](const TableDescription&) { return indexName; }, mode);
}

std::unique_ptr<Cursor> open(const QString& tableName, const IndexChooser& chooseIndex,
                             OpenMode mode) {
    start();
    const QString path = tablePath(tableName);
    checkTableFile(path);
    OpenedFile file = openTableFile(path, tableName, mode);
    SchemaDetail schema = readSchema(*file.db, tableName, path);
    IndexDetail index = findIndex(schema, chooseIndex(schema.description), tableName);
    if (!file.readOnly)
        prepareForWriting(*file.db);
    return std::make_unique<SqliteCursor>(std::move(file.db), std::move(schema), std::move(index),
                                          file.readOnly, path);
}

// --- Creating and filling ---------------------------------------------------------------

namespace storage {

namespace {

[[noreturn]] void notCreatable(const TableDescription& table, Message at, const QString& name) {
    raise(codes::GeneralError, {msg(Message::EngineAtTable, {table.tableName}), msg(at, {name})});
}

} // namespace

void checkCreatable(const TableDescription& table) {
    if (table.columns.isEmpty())
        raise(codes::GeneralError, {msg(Message::EngineAtTable, {table.tableName})});
    static const QStringList rowIdNames{QStringLiteral("rowid"), QStringLiteral("_rowid_"),
                                        QStringLiteral("oid")};
    QStringList names;
    for (const ColumnInfo& column : table.columns) {
        const QString name = column.name.toLower();
        const bool made = column.type != ColumnType::AutoInc && column.type != ColumnType::Other;
        if (name.isEmpty() || names.contains(name) || rowIdNames.contains(name) || !made ||
            column.size < 0)
            notCreatable(table, Message::EngineAtField, column.name);
        names << name;
    }
    int primaries = 0;
    for (const IndexInfo& index : table.indexes) {
        bool onColumns = !index.fields.isEmpty();
        for (const QString& field : index.fields.split(QLatin1Char(';')))
            onColumns = onColumns && names.contains(field.toLower());
        if (index.name.isEmpty() || !onColumns || index.descending || index.caseInsensitive ||
            index.expression || (index.primary && ++primaries > 1))
            notCreatable(table, Message::EngineAtIndex, index.name);
    }
}

} // namespace storage

namespace {

// A plain identifier as written, any other name quoted.
QString sqlName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain.match(name).hasMatch() ? name : quoted(name);
}

// The type a column of `column`'s family is declared with. A one-field integer primary key is
// declared INT: INTEGER PRIMARY KEY would make it the row identity itself.
QString declaredTypeOf(const ColumnInfo& column, bool primaryKey) {
    switch (column.type) {
    case ColumnType::Text:
        return column.size > 0 ? QStringLiteral("CHAR(%1)").arg(column.size)
                               : QStringLiteral("TEXT");
    case ColumnType::Int16:
        return QStringLiteral("SMALLINT");
    case ColumnType::Int32:
        return primaryKey ? QStringLiteral("INT") : QStringLiteral("INTEGER");
    case ColumnType::Float:
        return QStringLiteral("FLOAT");
    case ColumnType::Money:
        return QStringLiteral("MONEY");
    default:
        return {}; // refused by checkCreatable()
    }
}

QString fieldList(const IndexInfo& index) {
    QStringList names;
    for (const QString& field : index.fields.split(QLatin1Char(';')))
        names << sqlName(field);
    return names.join(QStringLiteral(", "));
}

// The statements that make `table` in a file of its own, each ended by ";". The stored schema
// keeps each statement's text as written here.
QString tableSql(const TableDescription& table) {
    const QString name = sqlName(QFileInfo(table.tableName).completeBaseName());
    const auto primary = std::find_if(table.indexes.begin(), table.indexes.end(),
                                      [](const IndexInfo& index) { return index.primary; });
    const bool hasPrimary = primary != table.indexes.end();
    const bool inlinePrimary = hasPrimary && !primary->fields.contains(QLatin1Char(';'));
    QStringList columns;
    for (const ColumnInfo& column : table.columns) {
        const bool key =
            inlinePrimary && column.name.compare(primary->fields, Qt::CaseInsensitive) == 0;
        columns << sqlName(column.name) + QLatin1Char(' ') + declaredTypeOf(column, key) +
                       (key ? QStringLiteral(" PRIMARY KEY") : QString());
    }
    if (hasPrimary && !inlinePrimary)
        columns << QStringLiteral("PRIMARY KEY (") + fieldList(*primary) + QLatin1Char(')');
    QString sql = QStringLiteral("CREATE TABLE ") + name + QStringLiteral(" (") +
                  columns.join(QStringLiteral(", ")) + QStringLiteral(");");
    for (const IndexInfo& index : table.indexes) {
        if (index.primary)
            continue;
        sql += QStringLiteral("CREATE %1INDEX %2 ON %3 (%4);")
                   .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(), sqlName(index.name),
                        name, fieldList(index));
    }
    return sql;
}

// The file of `table` in `dir`; its name must be a bare file name with a base name.
QString tableFile(const QString& dir, const TableDescription& table) {
    const QFileInfo name(table.tableName);
    if (name.fileName() != table.tableName || name.completeBaseName().isEmpty())
        raise(codes::GeneralError, {msg(Message::EngineAtTable, {table.tableName})});
    return QDir(dir).absoluteFilePath(table.tableName);
}

void createTableFile(const QString& path, const QString& sql) {
    const QByteArray native = QFile::encodeName(path);
    // Exclusive creation: never overwrite a file that appeared meanwhile.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        raise(errno == EEXIST ? codes::TableExists : codes::AccessDenied,
              {msg(Message::EngineAtFile, {path}), QString::fromLocal8Bit(std::strerror(errno))});
    }
    ::close(fd);
    try {
        Database db;
        db.open(path, QFileInfo(path).fileName(), false);
        db.exec("PRAGMA journal_mode=WAL");
        db.exec(sql.toUtf8().constData());
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace

void createTables(const QString& dir, const QList<TableDescription>& tables) {
    start();
    const QFileInfo folder(dir);
    if (!folder.isDir())
        raise(codes::TableNotFound,
              {msg(Message::EngineAtFolder, {dir}), msg(Message::EngineFolderMissing)});
    QStringList paths, statements;
    for (const TableDescription& table : tables) {
        storage::checkCreatable(table);
        paths << tableFile(dir, table);
        statements << tableSql(table);
    }
    for (const QString& path : paths) {
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            raise(codes::TableExists, {msg(Message::EngineAtFile, {path})});
    }
    QStringList made;
    try {
        for (qsizetype i = 0; i < paths.size(); ++i) {
            createTableFile(paths.at(i), statements.at(i));
            made << paths.at(i);
        }
    } catch (...) {
        for (const QString& path : made)
            QFile::remove(path);
        throw;
    }
}

void appendRows(const QString& tableName, const std::function<bool(Row&)>& produce) {
    start();
    const QString path = tablePath(tableName);
    checkTableFile(path);
    requireWritableFile(path, tableName);
    Database db;
    db.open(path, tableName, false);
    const SchemaDetail schema = readSchema(db, tableName, path);
    prepareForWriting(db);
    db.exec("PRAGMA cache_size=-131072"); // 128 MiB: index pages of big loads stay in memory
    const auto& columns = schema.description.columns;
    QStringList names, params;
    for (int i = 0; i < columns.size(); ++i) {
        names << quoted(columns[i].name);
        params << QStringLiteral("?%1").arg(i + 1);
    }
    Statement insert(db, QStringLiteral("INSERT INTO ") + quoted(schema.sqlTable) +
                             QLatin1Char('(') + names.join(QLatin1Char(',')) +
                             QStringLiteral(") VALUES (") + params.join(QLatin1Char(',')) +
                             QLatin1Char(')'));
    db.exec("BEGIN IMMEDIATE");
    try {
        Row row;
        while (produce(row)) {
            if (row.size() != columns.size())
                raise(codes::InvalidValue, {msg(Message::EngineAtTable, {tableName})});
            for (int i = 0; i < columns.size(); ++i)
                insert.bind(i + 1, valueToStore(row[i], columns[i]));
            insert.step();
            insert.reset();
        }
        db.exec("COMMIT");
    } catch (...) {
        insert.reset();
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace lv26::engine
