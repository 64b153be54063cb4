#include "engine/pg/PgCursor.h"

#include <algorithm>
#include <iterator>

namespace lv26::engine::pg {

PgCursor::PgCursor(std::shared_ptr<Connection> connection, PgTable table, const QString& indexName,
                   bool readOnly)
    : connection_(std::move(connection)), table_(std::move(table)), query_(table_, indexName),
      readOnly_(readOnly) {}

PgCursor::~PgCursor() {
    releaseLock();
}

namespace {

// Rows one statement reads as moves keep going one way: a single move after a jump reads
// one row, so a window's few moves do not read far past what they show.
constexpr int aheadSizes[] = {1, 16, 256};
constexpr int lastLevel = int(std::size(aheadSizes)) - 1;

} // namespace

void PgCursor::moveToBof() {
    place_ = Place::Bof;
    at_ = {};
    dropAhead();
}

void PgCursor::moveToEof() {
    place_ = Place::Eof;
    at_ = {};
    dropAhead();
}

void PgCursor::dropAhead() {
    ahead_ = {};
    run_.reset();
    runLevel_ = 0;
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
    if (run_ != forward) {
        dropAhead();
        return readAnew(row, forward, aheadSizes[0]);
    }
    if (aheadLeft()) {
        if (aheadStillCurrent())
            return serveAhead(row, forward);
        // Others are writing: read less ahead while they do.
        runLevel_ = std::max(0, runLevel_ - 1);
    } else {
        runLevel_ = std::min(lastLevel, runLevel_ + 1);
    }
    return readAnew(row, forward, aheadSizes[runLevel_]);
}

bool PgCursor::readAnew(Row& row, bool forward, int limit) {
    const bool fromEnd = place_ == Place::Bof || place_ == Place::Eof;
    auto [sql, params] = query_.seek(fromEnd ? storage::Bookmark() : at_, forward, limit);
    const bool keep = limit > 1;
    if (keep)
        sql = QStringLiteral("SELECT q.*, (SELECT ") + connection_->snapshotExpression() +
              QStringLiteral(") FROM (") + sql + QStringLiteral(") q");
    const Result r = connection_->execPrepared(sql, params, table_.tableName);
    ahead_ = {};
    if (r.rows() == 0) {
        forward ? moveToEof() : moveToBof();
        return false;
    }
    row = rowFrom(r, 0);
    standOn(row, r.integer(0, 0));
    run_ = forward;
    // Inside a transaction block the session's own writes would not show in the snapshot.
    if (keep && !connection_->inTransaction()) {
        ahead_.rows.reserve(std::size_t(r.rows() - 1));
        for (int i = 1; i < r.rows(); ++i)
            ahead_.rows.emplace_back(rowFrom(r, i), r.integer(i, 0));
        ahead_.ends = r.rows() < limit;
        ahead_.snapshot = r.bytes(0, int(table_.description.columns.size()) + 1);
        ahead_.generation = connection_->generation();
    }
    return true;
}

bool PgCursor::aheadStillCurrent() {
    return ahead_.generation == connection_->generation() && !connection_->inTransaction() &&
           connection_->currentSnapshot(table_.tableName) == ahead_.snapshot;
}

bool PgCursor::serveAhead(Row& row, bool forward) {
    if (ahead_.next == ahead_.rows.size()) {
        forward ? moveToEof() : moveToBof();
        return false;
    }
    auto& [aheadRow, rowId] = ahead_.rows[ahead_.next++];
    row = std::move(aheadRow);
    standOn(row, rowId);
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
    const Result r = connection_->execPrepared(sql, params, table_.tableName);
    if (r.rows() == 0)
        return false;
    row = rowFrom(r, 0);
    return true;
}

bool PgCursor::current(Row& row) {
    if (place_ != Place::On || !readCurrent(row))
        return false;
    const storage::Bookmark was = at_;
    standOn(row, at_.rowId());
    if (!(at_ == was))
        dropAhead(); // the row moved: the rows ahead were read from its old place
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
    dropAhead();
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
    return connection_->execPrepared(sql, params, table_.tableName).integer(0, 0);
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
    dropAhead();
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
    dropAhead();
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
    requireWritable();
    if (place_ == Place::Between)
        return; // the row of this place is gone already
    requireRow();
    if (!tryLock())
        raiseLocked();
    dropAhead();
    connection_->exec(QStringLiteral("DELETE FROM ") + table_.serverName +
                          QStringLiteral(" WHERE ") + QLatin1String(rowIdColumn) +
                          QStringLiteral(" = $1"),
                      {QByteArray::number(at_.rowId())}, table_.tableName);
    releaseLock();
    place_ = Place::Between;
}

} // namespace lv26::engine::pg
