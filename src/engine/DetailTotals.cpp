// writeDetailTotals(): one index-ordered read of the master table, each row with the total
// of its detail rows (summed up front from one scan of the detail table), written back in
// runs of rows, each run one write transaction.

#include "base/Messages.h"
#include "engine/RowLock.h"
#include "engine/Sqlite.h"
#include "engine/TableEngine.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace lv26::engine {

using namespace detail;

namespace {

using Visitor = std::function<bool(Row&, const DetailTotal&)>;

qint64 detailScans = 0;

bool isBinary(const IndexKeyPart& part) {
    return part.collation.isEmpty() ||
           part.collation.compare(QLatin1String("BINARY"), Qt::CaseInsensitive) == 0;
}

// A key a cursor reads back unchanged: text of at most the column's size. The join compares
// stored keys while a range compares the keys a cursor read, so only such keys agree.
bool isPlainKey(const RawValue& raw, const ColumnInfo& column) {
    if (raw.type != SQLITE_TEXT || raw.bytes.isEmpty())
        return false;
    const bool shortAscii =
        raw.bytes.size() <= column.size &&
        std::all_of(raw.bytes.begin(), raw.bytes.end(), [](char c) { return uchar(c) < 0x80; });
    return shortAscii || valueToStore(valueForColumn(raw, column), column) == raw;
}

// The totals of the detail rows of every key, from one scan of the detail table: cheaper
// than seeking each master row's detail rows in the index. A key's rows are those whose key
// is stored as the very same text (a range compares keys in binary order, and a text key
// never equals a key stored in another form).
class DetailSums {
public:
    // Sums the detail table as the open transaction sees it, unless it is unchanged since the
    // last time (`version`: the detail file's data version in that transaction).
    void load(const Database& db, const QString& sql, qint64 version);
    // The total of the detail rows of a master row with key `key`; false when the values
    // themselves are needed: one the column cannot hold as stored (coerced on reading), or
    // more rows than 65,536 (below that, no partial sum of small integers leaves the 32-bit
    // range before a blank ends it). Fastest when asked in ascending key order.
    bool total(const RawValue& key, DetailTotal* total) const;

private:
    struct Sum {
        qint64 sum = 0;
        qint64 rows = 0;
        bool blank = false;
        bool other = false; // a value not a small integer as stored
    };
    struct Entry {
        std::string key;
        Sum sum;
    };
    static void add(Sum& into, const Sum& from);
    void sortAndMerge();
    const Entry* find(std::string_view key) const;

    // Keys in binary order, each once: master rows are read in that order, so each lookup
    // mostly steps to the entry after the last one found.
    std::vector<Entry> sums_;
    mutable size_t next_ = 0;
    qint64 version_ = -1;
};

void DetailSums::load(const Database& db, const QString& sql, qint64 version) {
    if (version == version_ && version_ >= 0)
        return;
    sums_.clear();
    next_ = 0;
    version_ = -1;
    ++detailScans;
    Statement scan(db, sql);
    // A master row's detail rows are mostly stored one after another and in key order: a run
    // of rows with the same key adds to one entry, and the entries need sorting only when
    // the keys came out of order.
    bool ordered = true;
    while (scan.step()) {
        sqlite3_stmt* h = scan.handle();
        if (sqlite3_column_type(h, 0) != SQLITE_TEXT)
            continue;
        const std::string_view text(static_cast<const char*>(sqlite3_column_blob(h, 0)),
                                    size_t(sqlite3_column_bytes(h, 0)));
        if (sums_.empty() || text != sums_.back().key) {
            if (!sums_.empty() && text < sums_.back().key)
                ordered = false;
            sums_.push_back(Entry{std::string(text), {}});
        }
        Sum& sum = sums_.back().sum;
        ++sum.rows;
        switch (sqlite3_column_type(h, 1)) {
        case SQLITE_NULL:
            sum.blank = true;
            break;
        case SQLITE_INTEGER: {
            const qint64 value = sqlite3_column_int64(h, 1);
            if (value < -32768 || value > 32767)
                sum.other = true;
            else
                sum.sum += value;
            break;
        }
        default:
            sum.other = true;
        }
    }
    if (!ordered)
        sortAndMerge();
    version_ = version;
}

void DetailSums::add(Sum& into, const Sum& from) {
    into.sum += from.sum;
    into.rows += from.rows;
    into.blank = into.blank || from.blank;
    into.other = into.other || from.other;
}

void DetailSums::sortAndMerge() {
    std::stable_sort(sums_.begin(), sums_.end(),
                     [](const Entry& a, const Entry& b) { return a.key < b.key; });
    size_t kept = 0;
    for (size_t i = 0; i < sums_.size(); ++i) {
        if (kept > 0 && sums_[kept - 1].key == sums_[i].key)
            add(sums_[kept - 1].sum, sums_[i].sum);
        else if (kept++ != i)
            sums_[kept - 1] = std::move(sums_[i]);
    }
    sums_.resize(kept);
}

const DetailSums::Entry* DetailSums::find(std::string_view key) const {
    const auto before = [](const Entry& entry, std::string_view k) { return entry.key < k; };
    size_t from = 0;
    if (next_ > 0 && next_ <= sums_.size() && std::string_view(sums_[next_ - 1].key) < key) {
        from = next_; // ascending: a few steps from the last place, else a search from there
        for (int step = 0; step < 4 && from < sums_.size() && sums_[from].key < key; ++step)
            ++from;
    }
    const auto it = std::lower_bound(sums_.begin() + qsizetype(from), sums_.end(), key, before);
    next_ = size_t(it - sums_.begin());
    if (it == sums_.end() || it->key != key)
        return nullptr;
    ++next_;
    return &*it;
}

bool DetailSums::total(const RawValue& key, DetailTotal* total) const {
    *total = {};
    if (key.type != SQLITE_TEXT)
        return false;
    const Entry* found = find(std::string_view(key.bytes.constData(), size_t(key.bytes.size())));
    if (!found)
        return true;
    const Sum& sum = found->sum;
    if (sum.rows > 65536)
        return false;
    total->blank = sum.blank; // a blank makes the total blank whatever the others hold
    total->sum = sum.blank ? 0 : sum.sum;
    return sum.blank || !sum.other;
}

// One master row as read, with the total of its detail rows.
struct MasterRow {
    qint64 rowId = 0;
    RawValue key;
    Row row;
    DetailTotal total;
};

} // namespace

namespace detail {

class DetailTotalsRun {
public:
    explicit DetailTotalsRun(const DetailTotalsPass& pass) : pass_(pass) {}

    // Opens both tables; false when they do not allow the pass (nothing read).
    bool prepare();
    // One pass after the master row `after` (invalid: from the first row); Unsupported when
    // its key is not text.
    DetailTotalsEnd run(const Bookmark& after, const Visitor& visit);

private:
    enum class RunEnd { Full, Finished, Stopped };
    struct Pending {
        qint64 rowId;
        quint64 changed; // bit i: column i
        Row row;
    };

    QString selectSql(bool afterKey) const;
    qint64 loadDetailSums();
    qint64 versionOf(Statement& pragma);
    bool unchangedSinceLastPass();
    Statement& updateFor(quint64 changed, int rows);
    void writeRows(quint64 changed, const QList<const Pending*>& rows);
    void beginRun();
    RunEnd readRun(const Visitor& visit);
    bool take(MasterRow& master, const Visitor& visit);
    bool lockRun();
    bool tryLockSpans();
    bool stopAtRunStart();
    void writeRun();
    void stopAt(const MasterRow& master);

    const DetailTotalsPass pass_;
    std::unique_ptr<Database> db_;
    SchemaDetail master_;
    int keyColumn_ = -1;
    QString detailScanSql_; // every detail row's key and value, in stored order
    RowLockFile locks_;
    Statement first_, after_, begin_, claim_, commit_, masterVersion_, detailVersion_;
    DetailSums sums_;
    // The last pass started at the first row and finished without a stop, every run of it
    // seeing both tables at these data versions.
    bool passCurrent_ = false;
    std::pair<qint64, qint64> passVersions_{-1, -1};

    std::map<std::pair<quint64, int>, std::unique_ptr<Statement>> updates_;
    QList<Pending> run_;
    RawValue lastKey_; // the pass goes on after this key; none: from the first row
    DetailTotalsEnd end_;
};

bool DetailTotalsRun::prepare() {
    const QString masterPath = tablePath(pass_.masterTable);
    const QString detailPath = tablePath(pass_.detailTable);
    checkTableFile(masterPath);
    checkTableFile(detailPath);
    requireWritableFile(masterPath, pass_.masterTable);
    db_ = openDatabase(masterPath, pass_.masterTable, false);
    master_ = readSchema(*db_, pass_.masterTable, masterPath);
    const IndexDetail& masterIndex = findIndex(master_, pass_.masterIndex, pass_.masterTable);
    {
        auto detailDb = openDatabase(detailPath, pass_.detailTable, true);
        const SchemaDetail detail = readSchema(*detailDb, pass_.detailTable, detailPath);
        const IndexDetail& detailIndex = findIndex(detail, pass_.detailIndex, pass_.detailTable);
        const auto& columns = detail.description.columns;
        const auto column = std::find_if(columns.begin(), columns.end(), [&](const auto& c) {
            return c.name.compare(pass_.detailColumn, Qt::CaseInsensitive) == 0;
        });
        if (masterIndex.parts.size() != 1 || !masterIndex.info.unique ||
            master_.description.columns.size() > 64 || !isBinary(masterIndex.parts[0]) ||
            !isBinary(detailIndex.parts[0]) || column == columns.end() ||
            column->type != ColumnType::Int16 ||
            master_.description.columns[masterIndex.parts[0].column].type != ColumnType::Text ||
            columns[detailIndex.parts[0].column].type != ColumnType::Text)
            return false;
        keyColumn_ = masterIndex.parts[0].column;
        detailScanSql_ = QStringLiteral("SELECT ") +
                         quoted(columns[detailIndex.parts[0].column].name) + QLatin1Char(',') +
                         quoted(column->name) + QStringLiteral(" FROM detail.") +
                         quoted(detail.sqlTable);
    }
    prepareForWriting(*db_);
    Statement attach(*db_, QStringLiteral("ATTACH DATABASE ?1 AS detail"));
    RawValue path;
    path.type = SQLITE_TEXT;
    path.bytes = detailPath.toUtf8();
    attach.bind(1, path);
    attach.step();
    locks_.open(masterPath, pass_.masterTable);
    first_ = Statement(*db_, selectSql(false));
    after_ = Statement(*db_, selectSql(true));
    begin_ = Statement(*db_, QStringLiteral("BEGIN"));
    const QString key = quoted(master_.description.columns[keyColumn_].name);
    claim_ = Statement(*db_, QStringLiteral("UPDATE main.") + quoted(master_.sqlTable) +
                                 QStringLiteral(" SET ") + key + QStringLiteral(" = ") + key +
                                 QStringLiteral(" WHERE 0"));
    commit_ = Statement(*db_, QStringLiteral("COMMIT"));
    masterVersion_ = Statement(*db_, QStringLiteral("PRAGMA main.data_version"));
    detailVersion_ = Statement(*db_, QStringLiteral("PRAGMA detail.data_version"));
    return true;
}

// Master rows in key order (ties by rowid).
QString DetailTotalsRun::selectSql(bool afterKey) const {
    const QString key = QStringLiteral("m.") + quoted(master_.description.columns[keyColumn_].name);
    QStringList columns{QStringLiteral("m.rowid")};
    for (const ColumnInfo& column : master_.description.columns)
        columns << QStringLiteral("m.") + quoted(column.name);
    return QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) +
           QStringLiteral(" FROM main.") + quoted(master_.sqlTable) + QStringLiteral(" AS m") +
           (afterKey ? QStringLiteral(" WHERE ") + key + QStringLiteral(" > ?1") : QString()) +
           QStringLiteral(" ORDER BY ") + key + QStringLiteral(", m.rowid");
}

// Brings the detail totals up to the run's view of the detail table: summed again only when
// another connection has changed it since they were summed. Returns that view's data version.
qint64 DetailTotalsRun::loadDetailSums() {
    const qint64 version = versionOf(detailVersion_);
    sums_.load(*db_, detailScanSql_, version);
    return version;
}

qint64 DetailTotalsRun::versionOf(Statement& pragma) {
    ResetGuard reset(pragma);
    return pragma.step() ? sqlite3_column_int64(pragma.handle(), 0) : -1;
}

// Outside any transaction: the versions move when another connection commits to a table.
bool DetailTotalsRun::unchangedSinceLastPass() {
    if (!passCurrent_ || passVersions_.first < 0 || passVersions_.second < 0)
        return false;
    const std::pair<qint64, qint64> now{versionOf(masterVersion_), versionOf(detailVersion_)};
    return now == passVersions_ && !locks_.anyLockedElsewhere();
}

// Writes the columns in `changed` (bit i: column i) of `rows` rows at once: parameters
// are, row after row, the rowid and then the changed values in column order. Prepared once
// per set of columns and number of rows.
Statement& DetailTotalsRun::updateFor(quint64 changed, int rows) {
    const auto found = updates_.find({changed, rows});
    if (found != updates_.end())
        return *found->second;
    const auto& columns = master_.description.columns;
    QStringList sets;
    int values = 1;
    for (int i = 0; i < columns.size(); ++i) {
        if (changed & (quint64(1) << i))
            sets << quoted(columns[i].name) + QStringLiteral(" = v.column") +
                        QString::number(++values);
    }
    QStringList tuples;
    for (int row = 0, parameter = 1; row < rows; ++row) {
        QStringList parameters;
        for (int v = 0; v < values; ++v)
            parameters << QStringLiteral("?") + QString::number(parameter++);
        tuples << QLatin1Char('(') + parameters.join(QLatin1Char(',')) + QLatin1Char(')');
    }
    const QString sql = QStringLiteral("UPDATE main.") + quoted(master_.sqlTable) +
                        QStringLiteral(" AS m SET ") + sets.join(QLatin1Char(',')) +
                        QStringLiteral(" FROM (VALUES ") + tuples.join(QLatin1Char(',')) +
                        QStringLiteral(") AS v WHERE m.rowid = v.column1");
    return *updates_.emplace(std::pair{changed, rows}, std::make_unique<Statement>(*db_, sql))
                .first->second;
}

// Opens a run's transaction holding the master's write lock from the start, so no other
// writer comes between a row's read and its write. (BEGIN IMMEDIATE would also take the
// attached detail file's write lock.)
void DetailTotalsRun::beginRun() {
    begin_.step();
    begin_.reset();
    try {
        claim_.step();
        claim_.reset();
    } catch (...) {
        claim_.reset();
        sqlite3_exec(db_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

DetailTotalsEnd DetailTotalsRun::run(const Bookmark& after, const Visitor& visit) {
    lastKey_ = after.isValid() ? RawValue::fromVariant(after.key().value(0)) : RawValue();
    if (after.isValid() && lastKey_.type != SQLITE_TEXT)
        return {};
    end_ = {};
    const bool fromFirst = !after.isValid();
    if (fromFirst && unchangedSinceLastPass())
        return {DetailTotalsEnd::How::Finished, {}};
    passCurrent_ = false;
    // Each run reads both tables as they are inside its transaction, the master's write lock
    // held; the pass is current only when no other connection wrote between its runs.
    std::optional<std::pair<qint64, qint64>> versions;
    bool steady = true;
    for (;;) {
        beginRun();
        RunEnd ended = RunEnd::Finished;
        try {
            const qint64 detailVersion = loadDetailSums();
            const std::pair<qint64, qint64> seen{versionOf(masterVersion_), detailVersion};
            steady = steady && (!versions || *versions == seen);
            versions = seen;
            ended = readRun(visit);
            if (!lockRun())
                ended = RunEnd::Stopped;
            writeRun();
        } catch (const EEngineError&) {
            if (!stopAtRunStart())
                throw;
            return end_;
        }
        if (ended == RunEnd::Full)
            continue;
        if (fromFirst && steady && end_.how == DetailTotalsEnd::How::Finished) {
            passCurrent_ = true;
            passVersions_ = *versions;
        }
        return end_;
    }
}

// Reads master rows after the last one written until the run is full, the table ends or a
// row stops the pass.
DetailTotalsRun::RunEnd DetailTotalsRun::readRun(const Visitor& visit) {
    Statement& select = lastKey_.isNull() ? first_ : after_;
    ResetGuard reset(select);
    if (!lastKey_.isNull())
        select.bind(1, lastKey_);
    const auto& columns = master_.description.columns;
    while (run_.size() < pass_.rowsPerCommit) {
        if (!select.step()) {
            end_ = {DetailTotalsEnd::How::Finished, {}};
            return RunEnd::Finished;
        }
        sqlite3_stmt* stmt = select.handle();
        MasterRow master{sqlite3_column_int64(stmt, 0),
                         RawValue::fromColumn(stmt, keyColumn_ + 1),
                         Row(columns.size()),
                         {}};
        for (int i = 0; i < columns.size(); ++i)
            master.row[i] = valueForColumn(RawValue::fromColumn(stmt, i + 1), columns[i]);
        if (!sums_.total(master.key, &master.total) || !take(master, visit)) {
            stopAt(master);
            return RunEnd::Stopped;
        }
    }
    return RunEnd::Full;
}

// Lets the visitor decide and adds the row to the run; false when the pass stops here.
bool DetailTotalsRun::take(MasterRow& master, const Visitor& visit) {
    const ColumnInfo& keyColumn = master_.description.columns[keyColumn_];
    if (!isPlainKey(master.key, keyColumn))
        return false;
    const Row read = master.row;
    if (!visit(master.row, master.total))
        return false;
    quint64 changed = 0;
    for (int i = 0; i < read.size(); ++i) {
        if (master.row[i] != read[i])
            changed |= quint64(1) << i;
    }
    if (changed & (quint64(1) << keyColumn_))
        raise(codes::InvalidValue, {msg(Message::EngineAtTable, {pass_.masterTable}),
                                    msg(Message::EngineAtField, {keyColumn.name})});
    run_ << Pending{master.rowId, changed, std::move(master.row)};
    return true;
}

// Locks the run's rows as edits would; a row another holder has locked cuts the run there
// and stops the pass at it (false).
bool DetailTotalsRun::lockRun() {
    if (tryLockSpans())
        return true;
    locks_.unlockAll();
    for (qsizetype i = 0; i < run_.size(); ++i) {
        if (!locks_.tryLock(run_[i].rowId)) {
            end_ = {DetailTotalsEnd::How::Stopped,
                    Bookmark::make({run_[i].row[keyColumn_]}, run_[i].rowId)};
            run_.resize(i);
            return false;
        }
    }
    return true;
}

// One lock call per span of consecutive row identities: rows written in key order mostly
// have them. Identities below 0 and the largest one are locked one by one (their lock bytes
// are not consecutive).
bool DetailTotalsRun::tryLockSpans() {
    QList<qint64> ids;
    ids.reserve(run_.size());
    for (const Pending& pending : std::as_const(run_))
        ids << pending.rowId;
    std::sort(ids.begin(), ids.end());
    for (qsizetype first = 0; first < ids.size();) {
        qsizetype last = first;
        const auto spans = [](qint64 id) {
            return id >= 0 && id < std::numeric_limits<qint64>::max();
        };
        while (last + 1 < ids.size() && spans(ids[last]) && ids[last + 1] == ids[last] + 1 &&
               spans(ids[last + 1]))
            ++last;
        if (!locks_.tryLockSpan(ids[first], last - first + 1))
            return false;
        first = last + 1;
    }
    return true;
}

void DetailTotalsRun::stopAt(const MasterRow& master) {
    end_ = {DetailTotalsEnd::How::Stopped, Bookmark::make({master.key.toVariant()}, master.rowId)};
}

// Writes the changed values of the run's rows (a row read back unchanged needs no write:
// its lock was still taken), one statement for the rows that changed the same columns, and
// commits.
void DetailTotalsRun::writeRun() {
    std::map<quint64, QList<const Pending*>> byChange;
    for (const Pending& pending : std::as_const(run_)) {
        if (pending.changed != 0)
            byChange[pending.changed] << &pending;
    }
    for (const auto& [changed, rows] : byChange)
        writeRows(changed, rows);
    commit_.step();
    commit_.reset();
    if (!run_.isEmpty())
        lastKey_ = RawValue::fromVariant(run_.last().row[keyColumn_]);
    run_.clear();
    locks_.unlockAll();
}

void DetailTotalsRun::writeRows(quint64 changed, const QList<const Pending*>& rows) {
    const auto& columns = master_.description.columns;
    Statement& update = updateFor(changed, int(rows.size()));
    ResetGuard reset(update);
    int parameter = 1;
    for (const Pending* pending : rows) {
        RawValue rowId;
        rowId.type = SQLITE_INTEGER;
        rowId.integer = pending->rowId;
        update.bind(parameter++, rowId);
        for (int i = 0; i < columns.size(); ++i) {
            if (changed & (quint64(1) << i))
                update.bind(parameter++, valueToStore(pending->row[i], columns[i]));
        }
    }
    update.step();
}

// Rolls the open run back and stops the pass at the run's first row, unwritten; false when
// there is no such row to stop at.
bool DetailTotalsRun::stopAtRunStart() {
    sqlite3_exec(db_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    locks_.unlockAll();
    if (!run_.isEmpty()) {
        const Pending& first = run_.first();
        end_ = {DetailTotalsEnd::How::Stopped,
                Bookmark::make({first.row[keyColumn_]}, first.rowId)};
        run_.clear();
        return true;
    }
    // The failure came before the run took a row: find the row it was reading.
    const QString key = quoted(master_.description.columns[keyColumn_].name);
    Statement next(
        *db_, QStringLiteral("SELECT rowid, ") + key + QStringLiteral(" FROM main.") +
                  quoted(master_.sqlTable) +
                  (lastKey_.isNull() ? QString()
                                     : QStringLiteral(" WHERE ") + key + QStringLiteral(" > ?1")) +
                  QStringLiteral(" ORDER BY ") + key + QStringLiteral(", rowid LIMIT 1"));
    if (!lastKey_.isNull())
        next.bind(1, lastKey_);
    if (!next.step())
        return false;
    end_ = {DetailTotalsEnd::How::Stopped,
            Bookmark::make({RawValue::fromColumn(next.handle(), 1).toVariant()},
                           sqlite3_column_int64(next.handle(), 0))};
    return true;
}

} // namespace detail

qint64 detailTableScans() {
    return detailScans;
}

DetailTotalsEnd writeDetailTotals(const DetailTotalsPass& pass, const Visitor& visit) {
    DetailTotalsWriter writer(pass);
    return writer.write(pass.after, visit);
}

DetailTotalsWriter::DetailTotalsWriter(const DetailTotalsPass& pass)
    : pass_(pass), master_(openedFile(pass.masterTable)), detail_(openedFile(pass.detailTable)) {
    start();
    auto run = std::make_unique<DetailTotalsRun>(pass);
    if (run->prepare())
        run_ = std::move(run);
}

DetailTotalsWriter::OpenedFile DetailTotalsWriter::openedFile(const QString& tableName) {
    OpenedFile file;
    file.path = tablePath(tableName);
    struct stat st {};
    if (::stat(QFile::encodeName(file.path).constData(), &st) == 0) {
        file.device = quint64(st.st_dev);
        file.inode = quint64(st.st_ino);
    }
    return file;
}

bool DetailTotalsWriter::isFor(const DetailTotalsPass& pass) const {
    const auto same = [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) == 0;
    };
    return pass.masterTable == pass_.masterTable && same(pass.masterIndex, pass_.masterIndex) &&
           pass.detailTable == pass_.detailTable && same(pass.detailIndex, pass_.detailIndex) &&
           same(pass.detailColumn, pass_.detailColumn) && openedFile(pass.masterTable) == master_ &&
           openedFile(pass.detailTable) == detail_;
}

DetailTotalsWriter::~DetailTotalsWriter() = default;

DetailTotalsEnd DetailTotalsWriter::write(const Bookmark& after, const Visitor& visit) {
    return run_ ? run_->run(after, visit) : DetailTotalsEnd{};
}

} // namespace lv26::engine
