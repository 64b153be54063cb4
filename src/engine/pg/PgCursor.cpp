#include "engine/pg/PgCursor.h"

namespace lv26::engine::pg {

PgCursor::PgCursor(std::shared_ptr<Connection> connection, PgTable table, const QString& indexName,
                   bool readOnly)
    : connection_(std::move(connection)), table_(std::move(table)), query_(table_, indexName),
      readOnly_(readOnly) {}

PgCursor::~PgCursor() {
    releaseLock();
}

void PgCursor::moveToBof() {
    place_ = Place::Bof;
    at_ = {};
}

void PgCursor::moveToEof() {
    place_ = Place::Eof;
    at_ = {};
}

Row PgCursor::rowFrom(const Result& result, int index) const {
    Row row;
    const auto& columns = table_.description.columns;
    row.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        row << valueFrom(columns.at(i), result, index, i + 1);
    return row;
}

void PgCursor::standOn(const Row& row, qint64 rowId) {
    place_ = Place::On;
    at_ = query_.bookmarkOf(row, rowId);
}

bool PgCursor::step(Row& row, bool forward) {
    if ((forward && place_ == Place::Eof) || (!forward && place_ == Place::Bof))
        return false;
    const bool fromEnd = place_ == Place::Bof || place_ == Place::Eof;
    const auto [sql, params] = query_.seek(fromEnd ? storage::Bookmark() : at_, forward, 1);
    const Result r = connection_->exec(sql, params, table_.tableName);
    if (r.rows() == 0) {
        forward ? moveToEof() : moveToBof();
        return false;
    }
    row = rowFrom(r, 0);
    standOn(row, r.integer(0, 0));
    return true;
}

bool PgCursor::next(Row& row) {
    return step(row, true);
}

bool PgCursor::prior(Row& row) {
    return step(row, false);
}

bool PgCursor::readCurrent(Row& row) {
    const auto [sql, params] = query_.byRowId(at_.rowId());
    const Result r = connection_->exec(sql, params, table_.tableName);
    if (r.rows() == 0)
        return false;
    row = rowFrom(r, 0);
    return true;
}

bool PgCursor::current(Row& row) {
    if (place_ != Place::On || !readCurrent(row))
        return false;
    standOn(row, at_.rowId());
    return true;
}

storage::Bookmark PgCursor::bookmark() const {
    return place_ == Place::On ? at_ : storage::Bookmark();
}

bool PgCursor::gotoBookmark(const storage::Bookmark& bookmark) {
    if (!bookmark.isValid()) {
        moveToBof();
        return false;
    }
    at_ = bookmark;
    Row row;
    if (readCurrent(row)) {
        standOn(row, bookmark.rowId());
        return true;
    }
    place_ = Place::Between;
    return false;
}

void PgCursor::setRange(const QVariant& low, const QVariant& high) {
    query_.setRange(low, high);
    moveToBof();
}

void PgCursor::clearRange() {
    query_.clearRange();
    moveToBof();
}

qint64 PgCursor::rowCount() {
    const auto [sql, params] = query_.count();
    return connection_->exec(sql, params, table_.tableName).integer(0, 0);
}

// ---- Row locks and writes ----------------------------------------------------------------

void PgCursor::raiseLocked() const {
    raise(codes::RecordLocked, {msg(Message::EngineAtTable, {table_.tableName})});
}

void PgCursor::requireRow() const {
    if (place_ != Place::On)
        raise(codes::NoCurrentRecord, {msg(Message::EngineAtTable, {table_.tableName})});
}

void PgCursor::requireWritable() const {
    if (readOnly_)
        raise(codes::ReadOnlyTable, {msg(Message::EngineAtTable, {table_.tableName})});
}

bool PgCursor::hasLock() const {
    return locked_ && lockGeneration_ == connection_->generation();
}

bool PgCursor::tryLock() {
    // A session found lost took its locks with it: the lock must be taken anew, never
    // assumed, before a write on the new session.
    connection_->reconnectIfLost();
    const LockKey key = lockKey();
    if (hasLock() && lockedKey_ == key)
        return true;
    releaseLock();
    if (connection_->claimedByOther(key, this))
        return false;
    const Result r = connection_->exec(
        QStringLiteral("SELECT pg_try_advisory_lock($1::int4, $2::bigint::bit(32)::int4)"),
        {QByteArray::number(qint32(key.first)), QByteArray::number(key.second)}, table_.tableName);
    if (!r.boolean(0, 0))
        return false;
    connection_->claim(key, this);
    locked_ = true;
    lockedKey_ = key;
    lockGeneration_ = connection_->generation();
    return true;
}

void PgCursor::lockCurrent(Row& row) {
    requireRow();
    requireWritable();
    if (!tryLock())
        raiseLocked();
    if (!readCurrent(row)) {
        releaseLock();
        raise(codes::RecordDeleted, {msg(Message::EngineAtTable, {table_.tableName})});
    }
}

void PgCursor::releaseLock() {
    if (!locked_)
        return;
    locked_ = false;
    if (lockGeneration_ != connection_->generation())
        return; // the session that held it is gone, and the lock with it
    const LockKey key = lockedKey_;
    connection_->unclaim(key);
    try {
        connection_->exec(
            QStringLiteral("SELECT pg_advisory_unlock($1::int4, $2::bigint::bit(32)::int4)"),
            {QByteArray::number(qint32(key.first)), QByteArray::number(key.second)});
    } catch (const EEngineError&) {
        // A connection lost here has dropped the lock already.
    }
}

Params PgCursor::rowParams(const Row& row) const {
    Params params;
    const auto& columns = table_.description.columns;
    for (int i = 0; i < columns.size(); ++i)
        params.push_back(parameterFor(columns.at(i), row.value(i)));
    return params;
}

void PgCursor::updateCurrent(const Row& row) {
    requireRow();
    requireWritable();
    if (!tryLock())
        raiseLocked();
    Params params = rowParams(row);
    QStringList sets;
    for (int i = 0; i < table_.columnSql.size(); ++i)
        sets << table_.columnSql.at(i) + QStringLiteral(" = $") + QString::number(i + 1);
    params.push_back(QByteArray::number(at_.rowId()));
    const Result r = connection_->exec(
        QStringLiteral("UPDATE ") + table_.serverName + QStringLiteral(" SET ") +
            sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE ") +
            QLatin1String(rowIdColumn) + QStringLiteral(" = $") + QString::number(params.size()),
        params, table_.tableName);
    if (r.affected() == 0) {
        releaseLock();
        raise(codes::RecordDeleted, {msg(Message::EngineAtTable, {table_.tableName})});
    }
    releaseLock();
    Row stored;
    if (readCurrent(stored))
        standOn(stored, at_.rowId());
}

void PgCursor::insertRow(const Row& row) {
    requireWritable();
    const Params params = rowParams(row);
    QStringList placeholders;
    for (std::size_t i = 0; i < params.size(); ++i)
        placeholders << QStringLiteral("$") + QString::number(i + 1);
    const Result r = connection_->exec(
        QStringLiteral("INSERT INTO ") + table_.serverName + QStringLiteral(" (") +
            table_.columnSql.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
            placeholders.join(QStringLiteral(", ")) + QStringLiteral(") RETURNING ") +
            query_.selectList(),
        params, table_.tableName);
    releaseLock();
    const Row stored = rowFrom(r, 0);
    standOn(stored, r.integer(0, 0));
}

void PgCursor::deleteCurrent() {
    requireRow();
    requireWritable();
    if (!tryLock())
        raiseLocked();
    connection_->exec(QStringLiteral("DELETE FROM ") + table_.serverName +
                          QStringLiteral(" WHERE ") + QLatin1String(rowIdColumn) +
                          QStringLiteral(" = $1"),
                      {QByteArray::number(at_.rowId())}, table_.tableName);
    releaseLock();
    place_ = Place::Between;
}

} // namespace lv26::engine::pg
