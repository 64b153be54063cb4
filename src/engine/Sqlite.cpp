#include "engine/Sqlite.h"

#include "base/Messages.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <cmath>
#include <limits>
#include <unistd.h>

namespace lv26::engine::detail {

void raise(quint16 code, const QStringList& stack) {
    QString text = engine::errorText(code);
    if (text.isEmpty())
        text = msg(Message::EngineErrorCode, {hexCode(code)});
    QStringList lines{text};
    for (const QString& entry : stack) {
        if (!entry.isEmpty() && !lines.contains(entry))
            lines << entry;
    }
    throw EEngineError(code, lines.join(QLatin1Char('\n')));
}

QString hexCode(quint16 code) {
    return QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

quint16 codeForSqlite(int rc) {
    switch (rc) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
        return codes::KeyViolation;
    case SQLITE_IOERR_NOMEM:
        return codes::OutOfMemory;
    default:
        break;
    }
    switch (rc & 0xff) {
    case SQLITE_NOMEM:
        return codes::OutOfMemory;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return codes::TableBusy;
    case SQLITE_READONLY:
        return codes::ReadOnlyTable;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
        return codes::NotATable;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return codes::AccessDenied;
    case SQLITE_FULL:
        return codes::DiskFull;
    case SQLITE_IOERR:
        return codes::IoError;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        return codes::InvalidValue;
    default:
        return codes::GeneralError;
    }
}

// --- RawValue ---------------------------------------------------------------------------

RawValue RawValue::fromColumn(sqlite3_stmt* stmt, int column) {
    RawValue v;
    v.type = sqlite3_column_type(stmt, column);
    switch (v.type) {
    case SQLITE_INTEGER:
        v.integer = sqlite3_column_int64(stmt, column);
        break;
    case SQLITE_FLOAT:
        v.real = sqlite3_column_double(stmt, column);
        break;
    case SQLITE_TEXT: {
        auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        v.bytes = QByteArray(text ? text : "", sqlite3_column_bytes(stmt, column));
        break;
    }
    case SQLITE_BLOB: {
        auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt, column));
        v.bytes = QByteArray(blob ? blob : "", sqlite3_column_bytes(stmt, column));
        break;
    }
    default:
        v.type = SQLITE_NULL;
    }
    return v;
}

RawValue RawValue::fromVariant(const QVariant& value) {
    RawValue v;
    if (value.isNull() || !value.isValid())
        return v;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        v.type = SQLITE_INTEGER;
        v.integer = value.toLongLong();
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        v.type = SQLITE_FLOAT;
        v.real = value.toDouble();
        break;
    case QMetaType::QByteArray:
        v.type = SQLITE_BLOB;
        v.bytes = value.toByteArray();
        break;
    default:
        v.type = SQLITE_TEXT;
        v.bytes = value.toString().toUtf8();
    }
    return v;
}

QVariant RawValue::toVariant() const {
    switch (type) {
    case SQLITE_INTEGER:
        return QVariant(integer);
    case SQLITE_FLOAT:
        return QVariant(real);
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(bytes));
    case SQLITE_BLOB:
        return QVariant(bytes);
    default:
        return QVariant();
    }
}

// --- Database ---------------------------------------------------------------------------

Database::~Database() {
    if (db_)
        sqlite3_close_v2(db_);
}

void Database::open(const QString& path, const QString& tableName, bool readOnly, bool create,
                    bool immutable) {
    tableName_ = tableName;
    QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/");
    if (immutable)
        uri += "?immutable=1";
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_URI |
                SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
    if (create)
        flags |= SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(uri.constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString message = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
        sqlite3_close_v2(db_);
        db_ = nullptr;
        raise(codeForSqlite(rc), {msg(Message::EngineAtFile, {path}), message});
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
    // The file is untrusted: no schema tricks, no functions with side effects from triggers.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_exec(db_, "PRAGMA cell_size_check=ON", nullptr, nullptr, nullptr);
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (message)
        sqlite3_free(message);
    if (rc != SQLITE_OK)
        fail(rc);
}

void Database::fail(int rc, const QString& context) const {
    QString sqliteMessage;
    if (db_) {
        const char* text = sqlite3_errmsg(db_);
        sqliteMessage = QString::fromUtf8(text ? text : "");
    }
    if ((rc & 0xff) == SQLITE_CONSTRAINT || rc == SQLITE_NOMEM)
        sqliteMessage.clear(); // the engine's own text says it all
    raise(codeForSqlite(rc), {msg(Message::EngineAtTable, {tableName_}), context, sqliteMessage});
}

// --- Statement --------------------------------------------------------------------------

Statement::Statement(const Database& db, const QString& sql) : db_(&db) {
    QByteArray utf8 = sql.toUtf8();
    int rc = sqlite3_prepare_v3(db.handle(), utf8.constData(), int(utf8.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        db.fail(rc);
    }
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = other.db_;
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

void Statement::bind(int index, const RawValue& value) {
    int rc = SQLITE_OK;
    switch (value.type) {
    case SQLITE_INTEGER:
        rc = sqlite3_bind_int64(stmt_, index, value.integer);
        break;
    case SQLITE_FLOAT:
        rc = sqlite3_bind_double(stmt_, index, value.real);
        break;
    case SQLITE_TEXT:
        rc = sqlite3_bind_text64(stmt_, index, value.bytes.constData(), value.bytes.size(),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    case SQLITE_BLOB:
        rc = sqlite3_bind_blob64(stmt_, index, value.bytes.constData(), value.bytes.size(),
                                 SQLITE_TRANSIENT);
        break;
    default:
        rc = sqlite3_bind_null(stmt_, index);
    }
    if (rc != SQLITE_OK)
        db_->fail(rc);
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    rc = sqlite3_extended_errcode(db_->handle());
    sqlite3_reset(stmt_);
    db_->fail(rc);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

QString quoted(const QString& identifier) {
    QString q = identifier;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// --- Schema -----------------------------------------------------------------------------

ColumnInfo parseDeclaredType(const QString& name, const QString& declared) {
    ColumnInfo column{name, ColumnType::Other, 0, declared};
    const QString type = declared.simplified().toUpper();
    static const QRegularExpression sizedText(QStringLiteral(
        "^(?:NATIONAL )?(?:VARCHAR|CHAR|CHARACTER|NCHAR|NVARCHAR|TEXT) ?\\( ?(\\d{1,9}) ?\\)$"));
    if (auto m = sizedText.match(type); m.hasMatch()) {
        column.type = ColumnType::Text;
        column.size = m.captured(1).toInt();
    } else if (type == QLatin1String("TEXT") || type == QLatin1String("VARCHAR") ||
               type == QLatin1String("CHAR")) {
        column.type = ColumnType::Text; // text without a declared size: size 0
    } else if (type == QLatin1String("SMALLINT")) {
        column.type = ColumnType::Int16;
    } else if (type == QLatin1String("INTEGER") || type == QLatin1String("INT")) {
        column.type = ColumnType::Int32;
    } else if (type == QLatin1String("AUTOINC")) {
        column.type = ColumnType::AutoInc;
    } else if (type == QLatin1String("FLOAT") || type == QLatin1String("DOUBLE") ||
               type == QLatin1String("DOUBLE PRECISION") || type == QLatin1String("REAL")) {
        column.type = ColumnType::Float;
    } else if (type == QLatin1String("MONEY") || type == QLatin1String("CURRENCY")) {
        column.type = ColumnType::Money;
    }
    return column;
}

namespace {

[[noreturn]] void notATable(const QString& path, const QString& reason) {
    raise(codes::NotATable, {msg(Message::EngineAtFile, {path}), reason});
}

// Runs a query that the schema reading needs; a failure means the file is not usable.
Statement schemaQuery(const Database& db, const QString& sql, const QString& path) {
    try {
        return Statement(db, sql);
    } catch (const EEngineError& e) {
        if (e.code() == codes::OutOfMemory || e.code() == codes::TableBusy)
            throw;
        notATable(path, QString::fromUtf8(sqlite3_errmsg(db.handle())));
    }
}

bool stepSchema(Statement& stmt, const Database& db, const QString& path) {
    try {
        return stmt.step();
    } catch (const EEngineError& e) {
        if (e.code() == codes::OutOfMemory || e.code() == codes::TableBusy)
            throw;
        notATable(path, QString::fromUtf8(sqlite3_errmsg(db.handle())));
    }
}

QString columnText(sqlite3_stmt* stmt, int column) {
    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return QString::fromUtf8(text ? text : "");
}

QString findSingleTable(const Database& db, const QString& path) {
    Statement list = schemaQuery(
        db,
        QStringLiteral("SELECT name, sql FROM sqlite_schema WHERE type='table' AND name NOT LIKE "
                       "'sqlite\\_%' ESCAPE '\\' ORDER BY name"),
        path);
    QStringList names;
    QString sql;
    while (stepSchema(list, db, path)) {
        names << columnText(list.handle(), 0);
        sql = columnText(list.handle(), 1);
    }
    if (names.isEmpty())
        notATable(path, msg(Message::EngineNoTableInFile));
    if (names.size() > 1)
        notATable(path, msg(Message::EngineTablesInFile, {names.size()}));
    if (sql.simplified().startsWith(QLatin1String("CREATE VIRTUAL"), Qt::CaseInsensitive))
        notATable(path, msg(Message::EngineVirtualTable));
    return names.first();
}

void readColumns(const Database& db, SchemaDetail& schema, const QString& path,
                 QString* rowIdAlias) {
    Statement info =
        schemaQuery(db, QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?1)"), path);
    info.bind(1, RawValue::fromVariant(schema.sqlTable));
    int pkColumns = 0;
    QString pkName, pkType;
    while (stepSchema(info, db, path)) {
        QString name = columnText(info.handle(), 0);
        QString type = columnText(info.handle(), 1);
        static const QStringList reserved{"rowid", "_rowid_", "oid"};
        if (reserved.contains(name.toLower()))
            notATable(path, msg(Message::EngineColumnHidesRowId, {name}));
        schema.description.columns << parseDeclaredType(name, type);
        if (sqlite3_column_int(info.handle(), 2) > 0) {
            ++pkColumns;
            pkName = name;
            pkType = type;
        }
    }
    if (schema.description.columns.isEmpty())
        notATable(path, msg(Message::EngineNoColumns));
    // A single INTEGER PRIMARY KEY column is the row identity itself: an auto-increment key.
    if (pkColumns == 1 && pkType.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0) {
        *rowIdAlias = pkName;
        for (ColumnInfo& c : schema.description.columns) {
            if (c.name == pkName)
                c.type = ColumnType::AutoInc;
        }
    }
}

void checkRowIdentity(const Database& db, const SchemaDetail& schema, const QString& path) {
    sqlite3_stmt* stmt = nullptr;
    QByteArray sql = ("SELECT _rowid_ FROM " + quoted(schema.sqlTable) + " LIMIT 0").toUtf8();
    int rc = sqlite3_prepare_v2(db.handle(), sql.constData(), -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK)
        notATable(path, msg(Message::EngineNoRowId));
}

int columnIndex(const SchemaDetail& schema, const QString& name) {
    for (int i = 0; i < schema.description.columns.size(); ++i) {
        if (schema.description.columns[i].name == name)
            return i;
    }
    return -1;
}

IndexDetail readIndex(const Database& db, const SchemaDetail& schema, const QString& sqlName,
                      const QString& origin, bool unique, bool partial, const QString& path) {
    IndexDetail index;
    index.info.primary = origin == QLatin1String("pk");
    index.info.unique = unique;
    index.info.expression = partial;
    Statement parts = schemaQuery(
        db,
        QStringLiteral("SELECT cid, name, desc, coll FROM pragma_index_xinfo(?1) WHERE key=1 "
                       "ORDER BY seqno"),
        path);
    parts.bind(1, RawValue::fromVariant(sqlName));
    QStringList fields;
    while (stepSchema(parts, db, path)) {
        int cid = sqlite3_column_int(parts.handle(), 0);
        QString name = columnText(parts.handle(), 1);
        QString collation = columnText(parts.handle(), 3);
        if (sqlite3_column_int(parts.handle(), 2))
            index.info.descending = true;
        if (collation.compare(QLatin1String("NOCASE"), Qt::CaseInsensitive) == 0)
            index.info.caseInsensitive = true;
        int column = cid >= 0 ? columnIndex(schema, name) : -1;
        if (column < 0)
            index.info.expression = true;
        index.parts << IndexKeyPart{column, collation};
        fields << (column >= 0 ? name : QString());
    }
    index.info.fields = fields.join(QLatin1Char(';'));
    // Automatic indexes of keys carry SQLite's internal names; they are known by their fields.
    index.info.name = origin == QLatin1String("c") ? sqlName : index.info.fields;
    return index;
}

void readIndexes(const Database& db, SchemaDetail& schema, const QString& path,
                 const QString& rowIdAlias) {
    if (!rowIdAlias.isEmpty()) {
        IndexDetail key;
        key.info = IndexInfo{rowIdAlias, rowIdAlias, true, true, false, false, false};
        key.parts << IndexKeyPart{columnIndex(schema, rowIdAlias), QStringLiteral("BINARY")};
        schema.indexes << key;
    }
    Statement list = schemaQuery(
        db,
        QStringLiteral("SELECT name, \"unique\", origin, partial FROM pragma_index_list(?1) "
                       "ORDER BY seq DESC"),
        path);
    list.bind(1, RawValue::fromVariant(schema.sqlTable));
    struct Entry {
        QString name, origin;
        bool unique, partial;
    };
    QList<Entry> entries;
    while (stepSchema(list, db, path)) {
        entries << Entry{columnText(list.handle(), 0), columnText(list.handle(), 2),
                         sqlite3_column_int(list.handle(), 1) != 0,
                         sqlite3_column_int(list.handle(), 3) != 0};
    }
    list.reset();
    for (const Entry& e : entries) {
        IndexDetail index = readIndex(db, schema, e.name, e.origin, e.unique, e.partial, path);
        if (index.parts.isEmpty())
            continue;
        for (const IndexDetail& other : schema.indexes) {
            if (other.info.name.compare(index.info.name, Qt::CaseInsensitive) == 0)
                index.info.name = e.name; // keep names distinct
        }
        schema.indexes << index;
    }
    for (const IndexDetail& index : schema.indexes)
        schema.description.indexes << index.info;
}

} // namespace

SchemaDetail readSchema(const Database& db, const QString& tableName, const QString& path) {
    SchemaDetail schema;
    schema.description.tableName = tableName;
    schema.sqlTable = findSingleTable(db, path);
    QString rowIdAlias;
    readColumns(db, schema, path, &rowIdAlias);
    checkRowIdentity(db, schema, path);
    readIndexes(db, schema, path, rowIdAlias);
    return schema;
}

void checkTableFile(const QString& path) {
    QFileInfo info(path);
    const QString file = msg(Message::EngineAtFile, {path});
    if (!info.exists())
        raise(codes::TableNotFound, {file});
    if (info.isDir())
        raise(codes::NotATable, {file, msg(Message::EngineNameIsFolder)});
    if (!info.isFile())
        raise(codes::NotATable, {file, msg(Message::EngineNotRegularFile)});
    // Permission bits count even for a user whom access() lets read anything.
    if (::access(QFile::encodeName(path).constData(), R_OK) != 0 ||
        !(info.permissions() & (QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther)))
        raise(codes::AccessDenied, {file});
}

// --- Value conversions --------------------------------------------------------------------

namespace {

// The integer a stored value stands for, when it stands for exactly one.
bool exactInteger(const RawValue& raw, qint64* out) {
    switch (raw.type) {
    case SQLITE_INTEGER:
        *out = raw.integer;
        return true;
    case SQLITE_FLOAT:
        if (std::isfinite(raw.real) && std::trunc(raw.real) == raw.real &&
            std::fabs(raw.real) < 9.2e18) {
            *out = qint64(raw.real);
            return true;
        }
        return false;
    case SQLITE_TEXT: {
        bool ok = false;
        qint64 v = QString::fromUtf8(raw.bytes).trimmed().toLongLong(&ok);
        if (ok)
            *out = v;
        return ok;
    }
    default:
        return false;
    }
}

QVariant integerInRange(const RawValue& raw, qint64 low, qint64 high) {
    qint64 v = 0;
    if (!exactInteger(raw, &v) || v < low || v > high)
        return QVariant();
    return QVariant(int(v));
}

QVariant realValue(const RawValue& raw) {
    switch (raw.type) {
    case SQLITE_INTEGER:
        return QVariant(double(raw.integer));
    case SQLITE_FLOAT:
        return QVariant(raw.real);
    case SQLITE_TEXT: {
        bool ok = false;
        double v = QString::fromUtf8(raw.bytes).trimmed().toDouble(&ok);
        return ok ? QVariant(v) : QVariant();
    }
    default:
        return QVariant();
    }
}

QVariant textValue(const RawValue& raw, int size) {
    QString text;
    switch (raw.type) {
    case SQLITE_INTEGER:
        text = QString::number(raw.integer);
        break;
    case SQLITE_FLOAT:
        text = QString::number(raw.real, 'g', 15);
        break;
    case SQLITE_TEXT:
    case SQLITE_BLOB:
        text = QString::fromUtf8(raw.bytes);
        break;
    default:
        return QVariant();
    }
    if (size > 0 && text.size() > size)
        text.truncate(size);
    if (text.isEmpty())
        return QVariant();
    return QVariant(text);
}

[[noreturn]] void invalidValue(const ColumnInfo& column, const QVariant& value) {
    raise(codes::InvalidValue, {msg(Message::EngineAtField, {column.name}),
                                msg(Message::EngineAtValue, {value.toString()})});
}

} // namespace

QVariant valueForColumn(const RawValue& raw, const ColumnInfo& column) {
    switch (column.type) {
    case ColumnType::Text:
        return textValue(raw, column.size);
    case ColumnType::Int16:
        return integerInRange(raw, -32768, 32767);
    case ColumnType::Int32:
    case ColumnType::AutoInc:
        return integerInRange(raw, std::numeric_limits<qint32>::min(),
                              std::numeric_limits<qint32>::max());
    case ColumnType::Float:
    case ColumnType::Money:
        return realValue(raw);
    case ColumnType::Other:
        break;
    }
    return raw.toVariant();
}

RawValue valueToStore(const QVariant& value, const ColumnInfo& column) {
    if (value.isNull() || !value.isValid())
        return RawValue();
    RawValue raw;
    switch (column.type) {
    case ColumnType::Text: {
        QString text = value.toString();
        if (column.size > 0 && text.size() > column.size)
            text.truncate(column.size);
        if (text.isEmpty())
            return RawValue(); // an empty text is stored blank
        raw.type = SQLITE_TEXT;
        raw.bytes = text.toUtf8();
        return raw;
    }
    case ColumnType::Int16:
    case ColumnType::Int32:
    case ColumnType::AutoInc: {
        const qint64 low =
            column.type == ColumnType::Int16 ? -32768 : std::numeric_limits<qint32>::min();
        const qint64 high =
            column.type == ColumnType::Int16 ? 32767 : std::numeric_limits<qint32>::max();
        qint64 v = 0;
        if (!exactInteger(RawValue::fromVariant(value), &v) || v < low || v > high)
            invalidValue(column, value);
        raw.type = SQLITE_INTEGER;
        raw.integer = v;
        return raw;
    }
    case ColumnType::Float:
    case ColumnType::Money: {
        bool ok = false;
        double v = value.toDouble(&ok);
        if (!ok || std::isnan(v))
            invalidValue(column, value);
        raw.type = SQLITE_FLOAT;
        raw.real = v;
        return raw;
    }
    case ColumnType::Other:
        break;
    }
    return RawValue::fromVariant(value);
}

} // namespace lv26::engine::detail
