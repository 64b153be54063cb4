#include "engine/TableEngine.h"

#include "base/Messages.h"
#include "engine/Sqlite.h"
#include "engine/SqliteCursor.h"

#include <QDir>
#include <QFileInfo>
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

namespace {

struct TableSchema {
    const char* fileName;
    const char* sql;
};

const TableSchema tableSchemas[] = {
    {"Func.DB", "CREATE TABLE Func (Matricula CHAR(5) PRIMARY KEY, Nome CHAR(40), CPF CHAR(11), "
                "Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes INTEGER);"},
    {"Dados.DB", "CREATE TABLE Dados (Matricula CHAR(5), Semana SMALLINT, HorasNaSemana SMALLINT);"
                 "CREATE INDEX Matricula ON Dados (Matricula, Semana);"},
};

void createTableFile(const QString& path, const char* sql) {
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
        db.exec(sql);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace

void createTables(const QString& dir) {
    start();
    const QFileInfo folder(dir);
    if (!folder.isDir())
        raise(codes::TableNotFound,
              {msg(Message::EngineAtFolder, {dir}), msg(Message::EngineFolderMissing)});
    for (const TableSchema& table : tableSchemas) {
        const QString path = QDir(dir).absoluteFilePath(QString::fromLatin1(table.fileName));
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            raise(codes::TableExists, {msg(Message::EngineAtFile, {path})});
    }
    QStringList made;
    try {
        for (const TableSchema& table : tableSchemas) {
            const QString path = QDir(dir).absoluteFilePath(QString::fromLatin1(table.fileName));
            createTableFile(path, table.sql);
            made << path;
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
