#include "engine/SqliteCursor.h"

#include "base/Messages.h"

#include <atomic>
#include <cstring>
#include <optional>

namespace lv26::engine::detail {

// Parameters of every cursor query: ?1 and ?2 the range bounds, ?3.. the current key parts,
// then the current row identity. Each query uses those it needs.
namespace {
constexpr int LowParam = 1;
constexpr int HighParam = 2;
constexpr int FirstKeyParam = 3;
// Most rows a move query yields: the row moved to plus the read-ahead batch.
constexpr int MaxAhead = 64;
} // namespace

SqliteCursor::SqliteCursor(std::unique_ptr<Database> db, SchemaDetail schema, IndexDetail index,
                           bool readOnly, const QString& tablePath)
    : db_(std::move(db)), schema_(std::move(schema)), index_(std::move(index)),
      readOnly_(readOnly) {
    if (!readOnly_)
        locks_.open(tablePath, schema_.description.tableName);
}

void SqliteCursor::raiseHere(quint16 code) const {
    raise(code, {msg(Message::EngineAtTable, {schema_.description.tableName})});
}

// --- SQL --------------------------------------------------------------------------------

QString SqliteCursor::keyExpr(int part) const {
    const IndexKeyPart& p = index_.parts[part];
    QString expr = quoted(schema_.description.columns[p.column].name);
    if (!p.collation.isEmpty() && p.collation.compare(QLatin1String("BINARY"), Qt::CaseInsensitive))
        expr += QStringLiteral(" COLLATE ") + quoted(p.collation);
    return expr;
}

QString SqliteCursor::rangeTerm() const {
    const QString k = keyExpr(0);
    switch (range_) {
    case RangeKind::None:
        return {};
    case RangeKind::Blank:
        return k + QStringLiteral(" IS NULL");
    case RangeKind::Between:
        return k + QStringLiteral(" >= ?1 AND ") + k + QStringLiteral(" <= ?2");
    case RangeKind::UpTo:
        return QStringLiteral("(") + k + QStringLiteral(" IS NULL OR ") + k +
               QStringLiteral(" <= ?2)");
    case RangeKind::Empty:
        return QStringLiteral("0");
    }
    return {};
}

QString SqliteCursor::sqlFor(Query query, int level, bool currentIsNull) const {
    const int parts = int(index_.parts.size());
    const QString rowIdParam = QStringLiteral("?%1").arg(FirstKeyParam + parts);
    QStringList select;
    for (const ColumnInfo& c : schema_.description.columns)
        select << quoted(c.name);
    QStringList terms;
    if (query != Query::ByRowId && !rangeTerm().isEmpty())
        terms << rangeTerm();
    const int tiedParts = query == Query::TieNext || query == Query::TiePrior ? parts : level;
    if (query != Query::First && query != Query::Last && query != Query::ByRowId &&
        query != Query::ByRowIdInRange) {
        for (int i = 0; i < tiedParts; ++i)
            terms << keyExpr(i) + QStringLiteral(" IS ?%1").arg(FirstKeyParam + i);
    }
    const QString levelParam = QStringLiteral("?%1").arg(FirstKeyParam + level);
    bool descending = false;
    switch (query) {
    case Query::First:
    case Query::ByRowId:
    case Query::ByRowIdInRange:
        break;
    case Query::Last:
        descending = true;
        break;
    case Query::TieNext:
        terms << QStringLiteral("_rowid_ > ") + rowIdParam;
        break;
    case Query::TiePrior:
        terms << QStringLiteral("_rowid_ < ") + rowIdParam;
        descending = true;
        break;
    case Query::Greater:
        // NULL sorts first and compares with nothing: after a blank key part comes any
        // non-blank one.
        terms << keyExpr(level) + (currentIsNull ? QStringLiteral(" IS NOT NULL")
                                                 : QStringLiteral(" > ") + levelParam);
        break;
    case Query::Less:
        terms << keyExpr(level) + QStringLiteral(" < ") + levelParam;
        descending = true;
        break;
    case Query::NullAt:
        terms << keyExpr(level) + QStringLiteral(" IS NULL");
        descending = true;
        break;
    }
    if (query == Query::ByRowId || query == Query::ByRowIdInRange)
        terms << QStringLiteral("_rowid_ = ") + rowIdParam;
    QString sql = QStringLiteral("SELECT _rowid_, ") + select.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM ") + quoted(schema_.sqlTable);
    if (!terms.isEmpty())
        sql += QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    if (query != Query::ByRowId && query != Query::ByRowIdInRange) {
        QStringList order;
        const QString dir = descending ? QStringLiteral(" DESC") : QString();
        for (int i = 0; i < parts; ++i)
            order << keyExpr(i) + dir;
        order << QStringLiteral("_rowid_") + dir;
        sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", ")) +
               QStringLiteral(" LIMIT %1").arg(MaxAhead + 1);
    }
    return sql;
}

Statement& SqliteCursor::statement(Query query, int level, bool currentIsNull) {
    const int signature = ((level * 16 + int(query)) * 2 + int(currentIsNull)) * 8 + int(range_);
    auto it = statements_.find(signature);
    if (it == statements_.end()) {
        const QString sql = sqlFor(query, level, currentIsNull);
        it = statements_.emplace(signature, std::make_unique<Statement>(*db_, sql)).first;
    }
    return *it->second;
}

void SqliteCursor::bindParameters(Statement& stmt) const {
    const int count = sqlite3_bind_parameter_count(stmt.handle());
    auto bindIf = [&](int index, const RawValue& value) {
        if (index <= count && sqlite3_bind_parameter_name(stmt.handle(), index))
            stmt.bind(index, value);
    };
    bindIf(LowParam, low_);
    bindIf(HighParam, high_);
    for (int i = 0; i < key_.size(); ++i)
        bindIf(FirstKeyParam + i, key_[i]);
    RawValue rowId;
    rowId.type = SQLITE_INTEGER;
    rowId.integer = rowId_;
    bindIf(FirstKeyParam + int(index_.parts.size()), rowId);
}

bool SqliteCursor::run(Query query, int level, bool currentIsNull, Found* found) {
    Statement& stmt = statement(query, level, currentIsNull);
    ResetGuard guard(stmt);
    bindParameters(stmt);
    if (!stmt.step())
        return false;
    readFound(stmt, found);
    return true;
}

// Each query of a move yields a contiguous run of the rows that follow the current one in
// the move's direction (the queries tried before it found none), so the rows after the
// first are exactly the next moves' rows, as long as nobody writes.
bool SqliteCursor::runMove(Query query, int level, bool currentIsNull, Found* found, bool forward) {
    Statement& stmt = statement(query, level, currentIsNull);
    ResetGuard guard(stmt);
    bindParameters(stmt);
    if (!stmt.step())
        return false;
    readFound(stmt, found);
    batch_.clear();
    batchNext_ = 0;
    batchEnds_ = false;
    const int ahead = aheadFor(forward);
    if (ahead == 0)
        return true;
    bool exhausted = false;
    while (batch_.size() < ahead) {
        if (!stmt.step()) {
            exhausted = true;
            break;
        }
        Found next;
        readFound(stmt, &next);
        batch_.append(std::move(next));
    }
    // The last query a move would try, run dry: nothing lies beyond the batch.
    batchEnds_ = exhausted && isLastQuery(query, level);
    // Read inside the move's read transaction: the version of exactly what was read.
    batchVersion_ = dataVersion();
    batchHeader_ = transactionHeader_;
    return true;
}

// True when a move tries no query after this one.
bool SqliteCursor::isLastQuery(Query query, int level) const {
    switch (query) {
    case Query::First:
    case Query::Last:
        return true;
    case Query::TieNext:
    case Query::TiePrior:
        return firstSeekLevel() == int(index_.parts.size());
    case Query::Greater:
    case Query::NullAt:
        return level == firstSeekLevel();
    default:
        return false;
    }
}

// A range on a single first-field value holds no row beyond it in that field, so moves
// need not look there (a master's detail rows, for one).
int SqliteCursor::firstSeekLevel() const {
    return range_ == RangeKind::Between && low_ == high_ ? 1 : 0;
}

// Sequential reading earns a growing batch, so that a window's fill reads few rows it does
// not use; a single move after a jump reads one row.
int SqliteCursor::aheadFor(bool forward) const {
    if (forward != batchForward_ || streak_ < 2)
        return 0;
    return std::min(MaxAhead, streak_); // at most as many as the run has read so far
}

qint64 SqliteCursor::dataVersion() {
    if (!dataVersion_)
        dataVersion_ = std::make_unique<Statement>(*db_, QStringLiteral("PRAGMA data_version"));
    ResetGuard guard(*dataVersion_);
    if (!dataVersion_->step())
        return -1;
    return sqlite3_column_int64(dataVersion_->handle(), 0);
}

bool SqliteCursor::LogHeader::operator==(const LogHeader& other) const {
    return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

// The log index of this connection's main file, mapped by SQLite itself while the file is in
// write-ahead-log mode (no file of ours is opened: closing one would drop the process's locks
// on it). Looked up once, after a query has opened the log; its first 48 bytes are the header
// a commit rewrites last.
std::optional<SqliteCursor::LogHeader> SqliteCursor::logHeader() {
    if (!logIndexLooked_) {
        logIndexLooked_ = true;
        sqlite3* h = db_->handle();
        sqlite3_file* file = nullptr;
        const auto pragma = [this](const char* sql) {
            Statement stmt(*db_, QString::fromLatin1(sql));
            return stmt.step() ? QByteArray(reinterpret_cast<const char*>(
                                     sqlite3_column_text(stmt.handle(), 0)))
                               : QByteArray();
        };
        utf8_ = pragma("PRAGMA main.encoding") == "UTF-8";
        const bool wal = pragma("PRAGMA main.journal_mode") == "wal";
        if (wal && sqlite3_file_control(h, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK &&
            file && file->pMethods && file->pMethods->iVersion >= 2 && file->pMethods->xShmMap) {
            volatile void* region = nullptr;
            if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) == SQLITE_OK && region)
                logIndex_ = static_cast<const volatile unsigned char*>(region);
        }
    }
    if (!logIndex_)
        return std::nullopt;
    LogHeader header;
    for (size_t i = 0; i < sizeof header.bytes; ++i)
        header.bytes[i] = logIndex_[i];
    std::atomic_thread_fence(std::memory_order_acquire);
    return header;
}

// The batch holds while nobody else has committed since it was read: the log header is as it
// was before the batch's transaction began, or else the data version as it was inside it.
bool SqliteCursor::batchStillCurrent() {
    if (batchHeader_) {
        const std::optional<LogHeader> now = logHeader();
        if (now && *now == *batchHeader_)
            return true;
    }
    return dataVersion() == batchVersion_;
}

// A range on one text value of a first key part in binary order, in a UTF-8 file whose log
// header can be watched.
bool SqliteCursor::rangeRowsUsable() const {
    if (range_ != RangeKind::Between || !(low_ == high_) || low_.type != SQLITE_TEXT || !utf8_ ||
        !logIndex_)
        return false;
    const QString& collation = index_.parts.first().collation;
    return collation.isEmpty() ||
           collation.compare(QLatin1String("BINARY"), Qt::CaseInsensitive) == 0;
}

namespace {

// Binary order of a text `key` against a first key part read at or after a text: text
// compares bytewise, a blob sorts after every text.
int compareKey(const QByteArray& key, const RawValue& part) {
    if (part.type != SQLITE_TEXT)
        return -1;
    const size_t common = size_t(std::min(key.size(), part.bytes.size()));
    const int c = common == 0 ? 0 : std::memcmp(key.constData(), part.bytes.constData(), common);
    if (c != 0)
        return c;
    return key.size() < part.bytes.size() ? -1 : key.size() > part.bytes.size() ? 1 : 0;
}

} // namespace

// Every row whose first key part is `key` is among the rows read: they start at or before it
// and go on past it (or to the end of the table).
bool SqliteCursor::rangeRowsCover(const QByteArray& key) const {
    if (!rangeRows_)
        return false;
    RawValue from;
    from.type = SQLITE_TEXT;
    from.bytes = rangeRows_->from;
    if (compareKey(key, from) < 0)
        return false;
    if (rangeRows_->toTheEnd)
        return true;
    return !rangeRows_->rows.isEmpty() && compareKey(key, rangeRows_->rows.last().key.first()) < 0;
}

// Reads the rows from the range's key on in one transaction, with the log header taken
// before it began; leaves no rows when that header cannot be had.
void SqliteCursor::readRangeRows() {
    constexpr int Rows = 256;
    rangeRows_.reset();
    if (!rangeRead_) {
        QStringList select, order;
        for (const ColumnInfo& c : schema_.description.columns)
            select << quoted(c.name);
        for (int i = 0; i < index_.parts.size(); ++i)
            order << keyExpr(i);
        order << QStringLiteral("_rowid_");
        rangeRead_ = std::make_unique<Statement>(
            *db_, QStringLiteral("SELECT _rowid_, ") + select.join(QStringLiteral(", ")) +
                      QStringLiteral(" FROM ") + quoted(schema_.sqlTable) +
                      QStringLiteral(" WHERE ") + keyExpr(0) + QStringLiteral(" >= ?1 ORDER BY ") +
                      order.join(QStringLiteral(", ")) + QStringLiteral(" LIMIT %1").arg(Rows));
    }
    ReadTransaction transaction(*this);
    if (!transaction.began() || !transactionHeader_)
        return;
    RangeRows read;
    read.from = low_.bytes;
    read.header = *transactionHeader_;
    {
        ResetGuard guard(*rangeRead_);
        rangeRead_->bind(1, low_);
        while (read.rows.size() < Rows && rangeRead_->step()) {
            Found found;
            readFound(*rangeRead_, &found);
            read.rows.append(std::move(found));
        }
    }
    read.toTheEnd = read.rows.size() < Rows;
    read.version = dataVersion();
    rangeRows_ = std::move(read);
}

// The first move into a range on one text key, from rows already read when they cover it:
// stands on its first row with the range's other rows as the read-ahead batch (End when the
// range is empty), or Miss to seek as usual.
SqliteCursor::FromBatch SqliteCursor::firstOfRangeFromRows(Found* found) {
    if (!logIndexLooked_)
        logHeader();
    if (!rangeRowsUsable())
        return FromBatch::Miss;
    const std::optional<LogHeader> now = logHeader();
    if (!now)
        return FromBatch::Miss;
    if (rangeRows_ && !(rangeRows_->header == *now))
        rangeRows_.reset(); // somebody committed: read afresh
    if (!rangeRowsCover(low_.bytes)) {
        readRangeRows();
        if (!rangeRowsCover(low_.bytes))
            return FromBatch::Miss;
    }
    RangeRows& read = *rangeRows_;
    const QList<Found>& rows = read.rows;
    // Ranges mostly come in key order: start where the last one ended when that is not past.
    qsizetype first = 0;
    if (read.hint > 0 && read.hint <= rows.size() &&
        compareKey(low_.bytes, rows[read.hint - 1].key.first()) > 0)
        first = read.hint;
    while (first < rows.size() && compareKey(low_.bytes, rows[first].key.first()) > 0)
        ++first;
    qsizetype end = first;
    while (end < rows.size() && compareKey(low_.bytes, rows[end].key.first()) == 0)
        ++end;
    read.hint = end;
    if (first == end)
        return FromBatch::End;
    *found = rows[first];
    batch_ = rows.mid(first + 1, end - first - 1);
    batchNext_ = 0;
    batchEnds_ = true; // the rows read go on past the range, or to the end of the table
    batchVersion_ = read.version;
    batchHeader_ = read.header;
    return FromBatch::Row;
}

void SqliteCursor::dropBatch() {
    batch_.clear();
    batchNext_ = 0;
    batchEnds_ = false;
    streak_ = 0;
}

SqliteCursor::FromBatch SqliteCursor::takeFromBatch(bool forward, Row& row) {
    const bool rowsLeft = batchNext_ < batch_.size();
    if (forward != batchForward_ || place_ != Place::At || !(rowsLeft || batchEnds_))
        return FromBatch::Miss;
    if (!batchStillCurrent() || (rowsLeft && batch_[batchNext_].rowId == rowId_)) {
        batch_.clear(); // stale, or a file whose order loops: seek afresh
        batchNext_ = 0;
        batchEnds_ = false;
        return FromBatch::Miss;
    }
    if (!rowsLeft)
        return FromBatch::End;
    Found& found = batch_[batchNext_++];
    place_ = Place::At;
    onRow_ = true;
    key_ = std::move(found.key);
    rowId_ = found.rowId;
    row = std::move(found.row);
    ++streak_;
    return FromBatch::Row;
}

// Counts just the index entries within the range (or the smallest b-tree without one).
qint64 SqliteCursor::rowCount() {
    if (range_ == RangeKind::Empty)
        return 0;
    QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + quoted(schema_.sqlTable);
    const QString term = rangeTerm();
    if (!term.isEmpty())
        sql += QStringLiteral(" WHERE ") + term;
    Statement stmt(*db_, sql);
    bindParameters(stmt);
    return stmt.step() ? sqlite3_column_int64(stmt.handle(), 0) : 0;
}

void SqliteCursor::readFound(Statement& stmt, Found* found) const {
    sqlite3_stmt* h = stmt.handle();
    found->rowId = sqlite3_column_int64(h, 0);
    found->row.clear();
    QList<RawValue> raw;
    const auto& columns = schema_.description.columns;
    for (int i = 0; i < columns.size(); ++i) {
        raw << RawValue::fromColumn(h, i + 1);
        found->row << valueForColumn(raw.last(), columns[i]);
    }
    found->key.clear();
    for (const IndexKeyPart& part : index_.parts)
        found->key << raw[part.column];
}

// --- Moving -----------------------------------------------------------------------------

// From the current key (c0..cn-1, rowid): first a row tied on every key part with a larger
// identity, then, from the last key part to the first, a row tied on the parts before it
// and larger in that part (blank sorts first and compares with nothing, so after a blank
// part comes any non-blank one). Each query is one index range seek; together they run in
// one read transaction, since taking the file's read lock costs more than a seek.
bool SqliteCursor::seekForward(Found* found) {
    ReadTransaction transaction(*this);
    if (tiesPossible() && runMove(Query::TieNext, 0, false, found, true))
        return true;
    for (int level = int(index_.parts.size()) - 1; level >= firstSeekLevel(); --level) {
        if (runMove(Query::Greater, level, key_[level].isNull(), found, true))
            return true;
    }
    return false;
}

// The mirror image: a smaller part, or else a blank one, which sorts before every value.
bool SqliteCursor::seekBackward(Found* found) {
    ReadTransaction transaction(*this);
    if (tiesPossible() && runMove(Query::TiePrior, 0, false, found, false))
        return true;
    for (int level = int(index_.parts.size()) - 1; level >= firstSeekLevel(); --level) {
        if (key_[level].isNull())
            continue;
        if (runMove(Query::Less, level, false, found, false) ||
            runMove(Query::NullAt, level, false, found, false))
            return true;
    }
    return false;
}

// A unique index has no two rows with the same complete, non-blank key.
bool SqliteCursor::tiesPossible() const {
    if (!index_.info.unique)
        return true;
    for (const RawValue& part : key_) {
        if (part.isNull())
            return true;
    }
    return false;
}

SqliteCursor::ReadTransaction::ReadTransaction(SqliteCursor& cursor) : cursor_(cursor) {
    if (!sqlite3_get_autocommit(cursor.db_->handle()))
        return; // already inside one
    // Before the transaction sees the file: a commit after this changes the header.
    cursor.transactionHeader_ = cursor.logIndexLooked_ ? cursor.logHeader() : std::nullopt;
    if (!cursor.begin_)
        cursor.begin_ = std::make_unique<Statement>(*cursor.db_, QStringLiteral("BEGIN"));
    if (!cursor.commit_)
        cursor.commit_ = std::make_unique<Statement>(*cursor.db_, QStringLiteral("COMMIT"));
    ResetGuard guard(*cursor.begin_);
    cursor.begin_->step();
    active_ = true;
}

SqliteCursor::ReadTransaction::~ReadTransaction() {
    if (!active_)
        return;
    // The log is open now: look for its index once, outside any transaction.
    const bool lookUp = !cursor_.logIndexLooked_;
    // Ending a read-only transaction cannot fail in a way that leaves anything behind.
    if (sqlite3_step(cursor_.commit_->handle()) != SQLITE_DONE)
        sqlite3_exec(cursor_.db_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_reset(cursor_.commit_->handle());
    if (lookUp) {
        try {
            cursor_.logHeader();
        } catch (const Error&) {
            // without the header every check runs the statement, as before
        }
    }
}

void SqliteCursor::standOn(const Found& found, Row& row) {
    place_ = Place::At;
    onRow_ = true;
    key_ = found.key;
    rowId_ = found.rowId;
    row = found.row;
}

void SqliteCursor::moveToBof() {
    dropBatch();
    place_ = Place::Bof;
    onRow_ = false;
}

void SqliteCursor::moveToEof() {
    dropBatch();
    place_ = Place::Eof;
    onRow_ = false;
}

void SqliteCursor::noteMove(bool forward) {
    if (forward != batchForward_) {
        batchForward_ = forward;
        streak_ = 0;
    }
    ++streak_;
}

bool SqliteCursor::next(Row& row) {
    return step(true, row);
}

bool SqliteCursor::prior(Row& row) {
    return step(false, row);
}

// One move in either direction: from the read-ahead batch when it still holds, else by
// seeking; an end found leaves the cursor at that end.
bool SqliteCursor::step(bool forward, Row& row) {
    const auto standAtEnd = [&] { forward ? moveToEof() : moveToBof(); };
    switch (takeFromBatch(forward, row)) {
    case FromBatch::Row:
        return true;
    case FromBatch::End:
        standAtEnd();
        return false;
    case FromBatch::Miss:
        break;
    }
    noteMove(forward);
    Found found;
    bool ok = false;
    const Place startEnd = forward ? Place::Bof : Place::Eof;
    const Place farEnd = forward ? Place::Eof : Place::Bof;
    if (range_ == RangeKind::Empty || place_ == farEnd)
        ok = false;
    else if (place_ == startEnd) {
        if (forward) {
            switch (firstOfRangeFromRows(&found)) {
            case FromBatch::Row:
                standOn(found, row);
                return true;
            case FromBatch::End:
                standAtEnd();
                return false;
            case FromBatch::Miss:
                break;
            }
        }
        std::optional<ReadTransaction> transaction;
        if (aheadFor(forward) > 0)
            transaction.emplace(*this);
        ok = runMove(forward ? Query::First : Query::Last, 0, false, &found, forward);
    } else {
        // A file whose order loops ends here.
        ok = (forward ? seekForward(&found) : seekBackward(&found)) && found.rowId != rowId_;
    }
    if (!ok) {
        standAtEnd();
        return false;
    }
    standOn(found, row);
    return true;
}

bool SqliteCursor::readByRowId(qint64 rowId, Found* found, bool withinRange) {
    const qint64 saved = rowId_;
    rowId_ = rowId;
    bool ok = run(withinRange ? Query::ByRowIdInRange : Query::ByRowId, 0, false, found);
    rowId_ = saved;
    return ok;
}

bool SqliteCursor::current(Row& row) {
    Found found;
    if (place_ != Place::At || !onRow_ || !readByRowId(rowId_, &found)) {
        onRow_ = false;
        return false;
    }
    standOn(found, row);
    return true;
}

Bookmark SqliteCursor::bookmark() const {
    if (place_ != Place::At)
        return {};
    QList<QVariant> key;
    for (const RawValue& v : key_)
        key << v.toVariant();
    return Bookmark::make(std::move(key), rowId_);
}

bool SqliteCursor::gotoBookmark(const Bookmark& bookmark) {
    if (place_ != Place::At || bookmark.rowId() != rowId_)
        dropBatch(); // standing still keeps the rows that follow
    if (!bookmark.isValid() || bookmark.key().size() != index_.parts.size()) {
        moveToBof();
        return false;
    }
    Found found;
    if (readByRowId(bookmark.rowId(), &found, true)) {
        Row row;
        standOn(found, row); // the row still exists: where it stands now
        return true;
    }
    place_ = Place::At;
    onRow_ = false;
    key_.clear();
    for (const QVariant& v : bookmark.key())
        key_ << RawValue::fromVariant(v);
    rowId_ = bookmark.rowId();
    return false;
}

void SqliteCursor::setRange(const QVariant& low, const QVariant& high) {
    // An empty text is stored blank, so it looks for blank keys.
    auto bound = [](const QVariant& v) {
        RawValue raw = RawValue::fromVariant(v);
        return raw.type == SQLITE_TEXT && raw.bytes.isEmpty() ? RawValue() : raw;
    };
    low_ = bound(low);
    high_ = bound(high);
    if (low_.isNull() && high_.isNull())
        range_ = RangeKind::Blank;
    else if (low_.isNull())
        range_ = RangeKind::UpTo;
    else if (high_.isNull())
        range_ = RangeKind::Empty; // from a key up to blank, which sorts before every key
    else
        range_ = RangeKind::Between;
    moveToBof();
}

void SqliteCursor::clearRange() {
    range_ = RangeKind::None;
    low_ = high_ = RawValue();
    moveToBof();
}

void SqliteCursor::refresh() {
    dropBatch();
    rangeRows_.reset();
    // Every query runs in its own read transaction and the read-ahead batch is checked
    // against the data version, so rows written by others are always seen; only a current
    // row that vanished needs noticing.
    if (place_ == Place::At && onRow_) {
        Found found;
        onRow_ = readByRowId(rowId_, &found);
    }
}

// --- Writing ----------------------------------------------------------------------------

void SqliteCursor::requireWritable() const {
    if (readOnly_)
        raiseHere(codes::ReadOnlyTable);
}

void SqliteCursor::requireRow() const {
    if (place_ != Place::At)
        raiseHere(codes::NoCurrentRecord);
}

bool SqliteCursor::takeLock(qint64 rowId) {
    if (lockedRowId_ == rowId)
        return false;
    releaseLock();
    if (!locks_.tryLock(rowId)) {
        raise(codes::RecordLocked, {msg(Message::EngineAtTable, {schema_.description.tableName})});
    }
    lockedRowId_ = rowId;
    return true;
}

void SqliteCursor::releaseLock() {
    if (lockedRowId_) {
        locks_.unlock(*lockedRowId_);
        lockedRowId_.reset();
    }
}

void SqliteCursor::lockCurrent(Row& row) {
    requireWritable();
    requireRow();
    takeLock(rowId_);
    Found found;
    if (!readByRowId(rowId_, &found)) {
        releaseLock();
        onRow_ = false;
        raiseHere(codes::RecordDeleted);
    }
    standOn(found, row);
}

QList<RawValue> SqliteCursor::bindRow(Statement& stmt, const Row& row) const {
    const auto& columns = schema_.description.columns;
    if (row.size() != columns.size())
        raiseHere(codes::InvalidValue);
    QList<RawValue> stored;
    for (int i = 0; i < columns.size(); ++i) {
        stored << valueToStore(row[i], columns[i]);
        stmt.bind(i + 1, stored.last());
    }
    return stored;
}

void SqliteCursor::updateCurrent(const Row& row) {
    dropBatch(); // this connection's writes leave the data version as it was
    rangeRows_.reset();
    requireWritable();
    requireRow();
    takeLock(rowId_);
    if (!update_) {
        QStringList sets;
        const auto& columns = schema_.description.columns;
        for (int i = 0; i < columns.size(); ++i)
            sets << quoted(columns[i].name) + QStringLiteral(" = ?%1").arg(i + 1);
        update_ = std::make_unique<Statement>(
            *db_, QStringLiteral("UPDATE ") + quoted(schema_.sqlTable) + QStringLiteral(" SET ") +
                      sets.join(QStringLiteral(", ")) +
                      QStringLiteral(" WHERE _rowid_ = ?%1").arg(columns.size() + 1));
    }
    QList<RawValue> stored;
    {
        ResetGuard guard(*update_);
        stored = bindRow(*update_, row);
        RawValue id;
        id.type = SQLITE_INTEGER;
        id.integer = rowId_;
        update_->bind(int(schema_.description.columns.size()) + 1, id);
        update_->step(); // a key violation throws here, the lock kept
    }
    if (sqlite3_changes64(db_->handle()) == 0) {
        releaseLock();
        onRow_ = false;
        raiseHere(codes::RecordDeleted);
    }
    releaseLock();
    // The row's new place: its key as written (values of its own storage class, which the
    // file keeps as given), saving a read.
    key_.clear();
    for (const IndexKeyPart& part : index_.parts)
        key_ << stored[part.column];
    onRow_ = true;
}

void SqliteCursor::insertRow(const Row& row) {
    dropBatch(); // this connection's writes leave the data version as it was
    rangeRows_.reset();
    requireWritable();
    if (!insert_) {
        QStringList names, params;
        const auto& columns = schema_.description.columns;
        for (int i = 0; i < columns.size(); ++i) {
            names << quoted(columns[i].name);
            params << QStringLiteral("?%1").arg(i + 1);
        }
        insert_ = std::make_unique<Statement>(
            *db_, QStringLiteral("INSERT INTO ") + quoted(schema_.sqlTable) + QStringLiteral(" (") +
                      names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
                      params.join(QStringLiteral(", ")) + QStringLiteral(")"));
    }
    {
        ResetGuard guard(*insert_);
        bindRow(*insert_, row);
        insert_->step();
    }
    Found found;
    Row ignored;
    if (readByRowId(sqlite3_last_insert_rowid(db_->handle()), &found))
        standOn(found, ignored);
}

void SqliteCursor::deleteCurrent() {
    dropBatch(); // this connection's writes leave the data version as it was
    rangeRows_.reset();
    requireWritable();
    requireRow();
    if (!onRow_)
        return; // already gone
    takeLock(rowId_);
    if (!delete_) {
        delete_ = std::make_unique<Statement>(*db_, QStringLiteral("DELETE FROM ") +
                                                        quoted(schema_.sqlTable) +
                                                        QStringLiteral(" WHERE _rowid_ = ?1"));
    }
    {
        ResetGuard guard(*delete_);
        RawValue id;
        id.type = SQLITE_INTEGER;
        id.integer = rowId_;
        delete_->bind(1, id);
        delete_->step();
    }
    releaseLock();
    onRow_ = false;
}

} // namespace lv26::engine::detail
