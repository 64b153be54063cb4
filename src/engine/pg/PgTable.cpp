#include "engine/pg/PgTable.h"

#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace lv26::engine::pg {

QString serverTableName(const QString& tableName) {
    const QString name = QFileInfo(tableName).completeBaseName().toLower();
    static const QRegularExpression identifier(QStringLiteral("^[a-z_][a-z0-9_]*$"));
    return identifier.match(name).hasMatch() ? name : QString();
}

QString quotedIdentifier(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

namespace {

// Column families from the server's type names (format_type), as docs/storage.md lists them.
ColumnInfo columnInfo(const QString& name, const QString& type) {
    ColumnInfo info;
    info.name = name;
    info.declaredType = type;
    static const QRegularExpression sized(
        QStringLiteral("^(character varying|character)\\((\\d+)\\)$"));
    const auto match = sized.match(type);
    if (match.hasMatch()) {
        info.type = ColumnType::Text;
        info.size = match.captured(2).toInt();
    } else if (type == u"character varying" || type == u"text") {
        info.type = ColumnType::Text;
    } else if (type == u"smallint") {
        info.type = ColumnType::Int16;
    } else if (type == u"integer") {
        info.type = ColumnType::Int32;
    } else if (type == u"double precision" || type == u"real") {
        info.type = ColumnType::Float;
    } else if (type == u"currency") {
        info.type = ColumnType::Money;
    } else {
        info.type = ColumnType::Other;
    }
    return info;
}

void readColumns(Connection& c, PgTable& table) {
    const Result r = c.exec(
        QStringLiteral("SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute "
                       "WHERE attrelid = $1 AND attnum > 0 AND NOT attisdropped ORDER BY attnum"),
        {QByteArray::number(table.oid)}, table.tableName);
    bool hasRowId = false;
    for (int i = 0; i < r.rows(); ++i) {
        const QString name = r.text(i, 0);
        if (name == QLatin1String(rowIdColumn)) {
            hasRowId = true;
            continue;
        }
        table.columnNames << name;
        table.columnSql << quotedIdentifier(name);
        table.description.columns << columnInfo(name, r.text(i, 1));
    }
    if (!hasRowId)
        raise(codes::NotATable,
              {msg(Message::EngineAtTable, {table.tableName}), msg(Message::EngineNoRowId)});
}

// An index's fields by the server's column numbers ("2 5"), the row identity left out.
IndexInfo indexInfo(const PgTable& table, const QMap<int, QString>& names, const Result& r,
                    int row) {
    IndexInfo info;
    info.name = r.text(row, 0);
    const QString prefix = table.serverName + QLatin1Char('_');
    if (info.name.startsWith(prefix))
        info.name = info.name.mid(prefix.size());
    info.unique = r.boolean(row, 1);
    info.primary = info.unique;
    info.expression = r.boolean(row, 3);
    const QStringList numbers = r.text(row, 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QStringList options = r.text(row, 4).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList fields;
    for (int i = 0; i < numbers.size(); ++i) {
        const QString name = names.value(numbers.at(i).toInt());
        if (name == QLatin1String(rowIdColumn) && i == numbers.size() - 1)
            break;
        if (name.isEmpty())
            info.expression = true;
        if (i < options.size() && (options.at(i).toInt() & 1))
            info.descending = true;
        fields << name;
    }
    info.fields = fields.join(QLatin1Char(';'));
    return info;
}

void readIndexes(Connection& c, PgTable& table) {
    const Result cols =
        c.exec(QStringLiteral("SELECT attnum, attname FROM pg_attribute WHERE attrelid = $1 AND "
                              "attnum > 0 AND NOT attisdropped"),
               {QByteArray::number(table.oid)}, table.tableName);
    QMap<int, QString> names;
    for (int i = 0; i < cols.rows(); ++i)
        names.insert(int(cols.integer(i, 0)), cols.text(i, 1));
    const Result r =
        c.exec(QStringLiteral("SELECT ci.relname, i.indisunique, i.indkey::text, "
                              "i.indexprs IS NOT NULL OR i.indpred IS NOT NULL, i.indoption::text "
                              "FROM pg_index i JOIN pg_class ci ON ci.oid = i.indexrelid "
                              "WHERE i.indrelid = $1 ORDER BY ci.relname"),
               {QByteArray::number(table.oid)}, table.tableName);
    for (int i = 0; i < r.rows(); ++i) {
        IndexInfo info = indexInfo(table, names, r, i);
        if (!info.fields.isEmpty() || info.expression) // else the row identity's own key
            table.description.indexes << info;
    }
}

} // namespace

PgTable describeTable(Connection& c, const QString& tableName) {
    PgTable table;
    table.tableName = tableName;
    table.description.tableName = tableName;
    table.serverName = serverTableName(tableName);
    const Result r =
        // Writable only when every write is allowed: privileges listed in one call would
        // make it true when any one of them is held.
        c.exec(QStringLiteral("SELECT c.oid, has_table_privilege(c.oid, 'INSERT') AND "
                              "has_table_privilege(c.oid, 'UPDATE') AND "
                              "has_table_privilege(c.oid, 'DELETE') "
                              "FROM pg_class c WHERE c.relname = $1 AND c.relkind IN ('r', 'p') "
                              "AND c.relnamespace = current_schema()::regnamespace"),
               {table.serverName.toUtf8()}, tableName);
    if (table.serverName.isEmpty() || r.rows() == 0)
        raise(codes::TableNotFound, {msg(Message::EngineAtTable, {tableName})});
    table.oid = quint32(r.integer(0, 0));
    table.writable = r.boolean(0, 1);
    readColumns(c, table);
    readIndexes(c, table);
    return table;
}

namespace {

[[noreturn]] void invalidValue(const ColumnInfo& column, const QVariant& value) {
    raise(codes::InvalidValue, {msg(Message::EngineAtField, {column.name}),
                                msg(Message::EngineAtValue, {value.toString()})});
}

std::optional<QByteArray> integerParameter(const ColumnInfo& column, const QVariant& value) {
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    const qint64 limit =
        column.type == ColumnType::Int16 ? 32767 : std::numeric_limits<qint32>::max();
    const bool exact = ok && (value.typeId() != QMetaType::Double || double(n) == value.toDouble());
    if (!exact || n > limit || n < -limit - 1)
        invalidValue(column, value);
    return QByteArray::number(n);
}

} // namespace

std::optional<QByteArray> parameterFor(const ColumnInfo& column, const QVariant& value) {
    if (value.isNull() || !value.isValid())
        return std::nullopt;
    switch (column.type) {
    case ColumnType::Int16:
    case ColumnType::Int32:
    case ColumnType::AutoInc:
        return integerParameter(column, value);
    case ColumnType::Float:
    case ColumnType::Money: {
        bool ok = false;
        const double d = value.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            invalidValue(column, value);
        return QByteArray::number(d, 'g', 17);
    }
    default: {
        QString text = value.toString();
        if (column.size > 0)
            text.truncate(column.size);
        if (text.isEmpty())
            return std::nullopt;
        return text.toUtf8();
    }
    }
}

QVariant valueFrom(const ColumnInfo& column, const Result& result, int row, int field) {
    if (result.isNull(row, field))
        return {};
    const QByteArray bytes = result.bytes(row, field);
    switch (column.type) {
    case ColumnType::Int16:
    case ColumnType::Int32:
    case ColumnType::AutoInc:
        return bytes.toInt();
    case ColumnType::Float:
    case ColumnType::Money:
        return bytes.toDouble();
    case ColumnType::Text: {
        QString text = QString::fromUtf8(bytes);
        if (column.size > 0)
            text.truncate(column.size);
        return text;
    }
    default:
        return QString::fromUtf8(bytes);
    }
}

// ---- Keyset reads ------------------------------------------------------------------------

// Collects parameters as $n placeholders.
struct KeysetQuery::Builder {
    Params params;
    QString add(std::optional<QByteArray> value) {
        params.push_back(std::move(value));
        return QLatin1Char('$') + QString::number(params.size());
    }
};

KeysetQuery::KeysetQuery(const PgTable& table, const QString& indexName) : table_(table) {
    const IndexInfo* index = nullptr;
    for (const IndexInfo& info : table.description.indexes) {
        if (info.name.compare(indexName, Qt::CaseInsensitive) == 0)
            index = &info;
    }
    if (!index)
        raise(codes::IndexNotFound, {msg(Message::EngineAtTable, {table.tableName}),
                                     msg(Message::EngineAtIndex, {indexName})});
    if (index->descending || index->expression)
        raise(codes::IndexNotUsable, {msg(Message::EngineAtTable, {table.tableName}),
                                      msg(Message::EngineAtIndex, {indexName})});
    for (const QString& field : index->fields.split(QLatin1Char(';'))) {
        const int column = int(table.columnNames.indexOf(field));
        // A key part that is no column of the row (the identity itself) cannot be sought.
        if (column < 0)
            raise(codes::IndexNotUsable, {msg(Message::EngineAtTable, {table.tableName}),
                                          msg(Message::EngineAtIndex, {indexName})});
        keyColumns_ << column;
    }
}

void KeysetQuery::setRange(const QVariant& low, const QVariant& high) {
    hasRange_ = true;
    low_ = low;
    high_ = high;
}

void KeysetQuery::clearRange() {
    hasRange_ = false;
    low_ = high_ = QVariant();
}

QString KeysetQuery::selectList() const {
    QStringList names{QLatin1String(rowIdColumn)};
    names << table_.columnSql;
    return names.join(QStringLiteral(", "));
}

QString KeysetQuery::rangeCondition(Builder& b) const {
    if (!hasRange_)
        return QStringLiteral("TRUE");
    const ColumnInfo& column = table_.description.columns.at(keyColumns_.first());
    const QString field = table_.columnSql.at(keyColumns_.first());
    const auto low = parameterFor(column, low_);
    const auto high = parameterFor(column, high_);
    if (!low && !high)
        return field + QStringLiteral(" IS NULL");
    if (!low)
        return QStringLiteral("(%1 IS NULL OR %1 <= %2)").arg(field, b.add(high));
    if (!high)
        return field + QStringLiteral(" >= ") + b.add(low) + QStringLiteral(" AND FALSE");
    return QStringLiteral("%1 >= %2 AND %1 <= %3").arg(field, b.add(low), b.add(high));
}

storage::Bookmark KeysetQuery::bookmarkOf(const Row& row, qint64 rowId) const {
    QList<QVariant> key;
    for (int column : keyColumns_)
        key << row.value(column);
    return storage::Bookmark::make(key, rowId);
}

namespace {

// ORDER BY of the key fields from `first` on, then the identity.
QString orderFrom(const QStringList& fields, int first, bool forward) {
    QStringList parts;
    for (int i = first; i < fields.size(); ++i)
        parts << fields.at(i) + (forward ? QStringLiteral(" ASC NULLS FIRST")
                                         : QStringLiteral(" DESC NULLS LAST"));
    parts << QLatin1String(rowIdColumn) +
                 (forward ? QStringLiteral(" ASC") : QStringLiteral(" DESC"));
    return parts.join(QStringLiteral(", "));
}

} // namespace

std::pair<QString, Params> KeysetQuery::seek(const storage::Bookmark& from, bool forward,
                                             int limit) const {
    Builder b;
    const QString range = rangeCondition(b);
    QStringList fields;
    for (int column : keyColumns_)
        fields << table_.columnSql.at(column);
    const QString head = QStringLiteral("(SELECT ") + selectList() + QStringLiteral(" FROM ") +
                         table_.serverName + QStringLiteral(" WHERE ") + range;
    const QString tail = QStringLiteral(" LIMIT %1)").arg(limit);
    auto branch = [&](const QString& condition, int orderFrom_) -> QString {
        return head + QStringLiteral(" AND ") + condition + QStringLiteral(" ORDER BY ") +
               orderFrom(fields, orderFrom_, forward) + tail;
    };
    if (!from.isValid())
        return {QStringLiteral("SELECT * FROM ") + branch(QStringLiteral("TRUE"), 0) +
                    QStringLiteral(" s"),
                b.params};

    // Rows sharing the first i key parts with `from` and beyond it on part i, deepest first:
    // each branch is one index range, and their concatenation is the index order.
    QList<std::optional<QByteArray>> key;
    for (int i = 0; i < keyColumns_.size(); ++i)
        key << parameterFor(table_.description.columns.at(keyColumns_.at(i)), from.key().value(i));
    auto prefixEqual = [&](int parts) {
        QStringList conditions{QStringLiteral("TRUE")};
        for (int i = 0; i < parts; ++i)
            conditions << (key.at(i)
                               ? QString(fields.at(i) + QStringLiteral(" = ") + b.add(key.at(i)))
                               : QString(fields.at(i) + QStringLiteral(" IS NULL")));
        return conditions.join(QStringLiteral(" AND "));
    };
    QStringList branches;
    const QString idParam = b.add(QByteArray::number(from.rowId()));
    branches << branch(prefixEqual(int(fields.size())) + QStringLiteral(" AND ") +
                           QLatin1String(rowIdColumn) +
                           (forward ? QStringLiteral(" > ") : QStringLiteral(" < ")) + idParam,
                       int(fields.size()));
    for (int i = int(fields.size()) - 1; i >= 0; --i) {
        if (!forward && !key.at(i))
            continue; // nothing sorts before a blank part
        const QString prefix = prefixEqual(i) + QStringLiteral(" AND ");
        if (forward) {
            branches << branch(
                prefix + (key.at(i)
                              ? QString(fields.at(i) + QStringLiteral(" > ") + b.add(key.at(i)))
                              : QString(fields.at(i) + QStringLiteral(" IS NOT NULL"))),
                i);
        } else {
            branches << branch(prefix + fields.at(i) + QStringLiteral(" < ") + b.add(key.at(i)), i);
            branches << branch(prefix + fields.at(i) + QStringLiteral(" IS NULL"), i + 1);
        }
    }
    return {QStringLiteral("SELECT * FROM (") + branches.join(QStringLiteral(" UNION ALL ")) +
                QStringLiteral(") s LIMIT %1").arg(limit),
            b.params};
}

std::pair<QString, Params> KeysetQuery::byRowId(qint64 rowId) const {
    Builder b;
    const QString range = rangeCondition(b);
    const QString id = b.add(QByteArray::number(rowId));
    return {QStringLiteral("SELECT ") + selectList() + QStringLiteral(" FROM ") +
                table_.serverName + QStringLiteral(" WHERE ") + range + QStringLiteral(" AND ") +
                QLatin1String(rowIdColumn) + QStringLiteral(" = ") + id,
            b.params};
}

std::pair<QString, Params> KeysetQuery::count() const {
    Builder b;
    const QString range = rangeCondition(b);
    return {QStringLiteral("SELECT count(*) FROM ") + table_.serverName +
                QStringLiteral(" WHERE ") + range,
            b.params};
}

} // namespace lv26::engine::pg
