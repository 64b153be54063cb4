#pragma once

// The storage interface: what the data layer needs of a place that keeps the program's tables,
// whichever backend keeps them (SQLite files in a folder, a PostgreSQL server). Tables are
// opened by name ("Stock.DB"), described, read through ordered cursors with moves, seeks,
// ranges and opaque bookmarks, locked row by row against every other program using the same
// tables, and written in bulk. Every failure is an EEngineError with a code of
// engine::codes and the text of errorText(); messages name tables as the caller named
// them. Nothing here knows about fields, row states, business rules or widgets. Everything
// runs on the calling thread.

#include "base/Error.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lv26::engine {

// Column type families as declared in a table file. Other is any declared type the engine
// does not know (reported so that the table layer can refuse to bind to it).
enum class ColumnType { Text, Int16, Int32, AutoInc, Float, Money, Other };

struct ColumnInfo {
    QString name;
    ColumnType type = ColumnType::Text;
    int size = 0;         // characters for Text (0: no size declared), 0 for the others
    QString declaredType; // the type as written in the file, e.g. "CHAR(5)"
};

struct IndexInfo {
    QString name;
    QString fields; // field names joined by ";" in key order
    bool primary = false;
    bool unique = false;
    bool descending = false;
    bool caseInsensitive = false;
    bool expression = false; // an expression key part, or a partial (filtered) index
};

struct TableDescription {
    QString tableName; // as asked for, e.g. "Stock.DB"
    QList<ColumnInfo> columns;
    QList<IndexInfo> indexes;
};

// One row: a value per column, in the order of TableDescription::columns. A null QVariant is
// a blank value. Text columns hold QString, Int16/Int32/AutoInc hold int, Float/Money double.
using Row = QList<QVariant>;

// ReadWriteElseReadOnly opens read-write when the file can be written and read-only when it
// can only be read; the cursor's isReadOnly() tells which it got.
enum class OpenMode { ReadWrite, ReadOnly, ReadWriteElseReadOnly };

// Error codes every backend raises; the storage library's own failures are mapped onto these.
// errorText() gives the text of each.
namespace codes {
constexpr quint16 EngineNotFound = 0x2108;
constexpr quint16 OutOfMemory = 0x2501;
constexpr quint16 EngineLoadFailed = 0x2109;
constexpr quint16 EngineEntryMissing = 0x2A06;

constexpr quint16 TableNotFound = 0x3101;   // the file does not exist
constexpr quint16 NotATable = 0x3102;       // damaged, foreign or not a database at all
constexpr quint16 AccessDenied = 0x3103;    // the file cannot be read
constexpr quint16 ReadOnlyTable = 0x3104;   // read-write asked of a file that can only be read
constexpr quint16 IndexNotFound = 0x3105;   // no index of that name
constexpr quint16 IndexNotUsable = 0x3106;  // descending or expression index
constexpr quint16 TableExists = 0x3107;     // createTables() would overwrite a table
constexpr quint16 RecordLocked = 0x3201;    // another cursor or process holds the row lock
constexpr quint16 KeyViolation = 0x3202;    // duplicate value in a unique index
constexpr quint16 RecordDeleted = 0x3203;   // the current row no longer exists
constexpr quint16 NoCurrentRecord = 0x3204; // the cursor stands at an end
constexpr quint16 InvalidValue = 0x3205;    // a value that the column cannot hold
constexpr quint16 TableBusy = 0x3301;       // another process kept the file busy too long
constexpr quint16 DiskFull = 0x3302;
constexpr quint16 IoError = 0x3303;
constexpr quint16 GeneralError = 0x3304;      // any other failure of the storage library
constexpr quint16 ServerUnavailable = 0x3305; // the database server cannot be reached
} // namespace codes

// The engine's own text for `code` ("Key violation." ...); empty for an unknown code.
QString errorText(quint16 code);

// Names the index a cursor is to follow, given the table's description (an index name as the
// description reports it). May throw; the open then fails with that error.
using IndexChooser = std::function<QString(const TableDescription&)>;

// What the user sees while the storage keeps them waiting (the engine starting, a server
// being connected to): `begin` before, `end` after, always in pairs. The application installs
// it once (a wait cursor); by default there is none.
struct WaitHook {
    std::function<void()> begin;
    std::function<void()> end;
};
void setWaitHook(WaitHook hook);

// Calls the installed hook's begin() while it is made and its end() when it goes.
class WaitScope {
public:
    WaitScope();
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
};

namespace storage {

// A row's place in a cursor's order, meaningful only to the backend that made it: callers
// keep, copy, compare and hand it back. Stays meaningful after the row is changed or deleted
// (it then names the place the row had). A default bookmark names no row.
class Bookmark {
public:
    Bookmark() = default;
    bool isValid() const { return valid_; }
    bool operator==(const Bookmark&) const = default;

    // For backends only: the row's index key and its identity.
    static Bookmark make(QList<QVariant> key, qint64 rowId) {
        Bookmark b;
        b.key_ = std::move(key);
        b.rowId_ = rowId;
        b.valid_ = true;
        return b;
    }
    const QList<QVariant>& key() const { return key_; }
    qint64 rowId() const { return rowId_; }

private:
    QList<QVariant> key_;
    qint64 rowId_ = 0;
    bool valid_ = false;
};

// A cursor over one table in the order of one index, ties broken by the row's identity; blank
// key parts sort first. Rows are Row values (TableEngine.h): a value per described column.
class TableCursor {
public:
    virtual ~TableCursor() = default;

    virtual const TableDescription& description() const = 0;
    virtual bool isReadOnly() const = 0;

    // Positioning, in index order within the range in force; each move costs a few index
    // seeks whatever the table's size, and reads the row as stored now (another program's
    // change is seen by the next move).
    virtual void moveToBof() = 0;
    virtual void moveToEof() = 0;
    // Reads the row after (before) the position into `row` and stands on it; false, standing
    // after the last (before the first) row, when there is none.
    virtual bool next(Row& row) = 0;
    virtual bool prior(Row& row) = 0;
    // Re-reads the current row; false when it is gone or the cursor stands at an end.
    virtual bool current(Row& row) = 0;

    // The current row's bookmark; invalid at the ends.
    virtual Bookmark bookmark() const = 0;
    // Stands on the bookmarked row when it still exists within the range (true), else at the
    // place it would have, between its neighbours (false).
    virtual bool gotoBookmark(const Bookmark& bookmark) = 0;

    // Restricts the cursor to rows whose first index field lies in low..high, both inclusive
    // (a null value matches only blank keys; a null `low` with a non-null `high` starts at the
    // blank keys), and moves before the first row.
    virtual void setRange(const QVariant& low, const QVariant& high) = 0;
    virtual void clearRange() = 0;
    // Forgets anything cached so that rows written by others are seen.
    virtual void refresh() = 0;
    // Rows within the range, counted by the storage; the position is kept.
    virtual qint64 rowCount() = 0;

    // Locks the current row against every other cursor, of this or another program on any
    // computer, and re-reads it into `row`. Throws RecordLocked naming the table when another
    // holder has it, RecordDeleted when the row is gone, NoCurrentRecord at an end. The lock
    // dies with its holder (the cursor, the program, its connection).
    virtual void lockCurrent(Row& row) = 0;
    virtual void releaseLock() = 0;
    virtual bool hasLock() const = 0;
    // Writes `row` over the current row (taking its lock first when not held) and releases
    // the lock; the cursor stays on the row at its new place. Throws KeyViolation (the lock
    // and the stored values kept), InvalidValue naming the field and value, RecordLocked.
    // Text longer than its column is cut to the column's size; empty text is stored blank.
    virtual void updateCurrent(const Row& row) = 0;
    // Inserts `row` and stands on it. Throws as updateCurrent().
    virtual void insertRow(const Row& row) = 0;
    // Deletes the current row (one already gone is no error) and stands where it was.
    // Throws RecordLocked when another holder has its lock, NoCurrentRecord at an end.
    virtual void deleteCurrent() = 0;
};

// The total of one integer column over the rows sharing one key.
struct KeyTotal {
    bool blank = false; // some row holds a blank value
    qint64 sum = 0;     // otherwise the sum of the values
};

// Totals per key, in binary order of the key's text (blank key first); keys absent had no
// rows.
class KeyTotals {
public:
    using Entry = std::pair<QVariant, KeyTotal>;
    KeyTotals() = default;
    explicit KeyTotals(std::vector<Entry> entries) : entries_(std::move(entries)) {}
    const std::vector<Entry>& entries() const { return entries_; }
    // The total of `key`, or a zero total (not blank) when no row has that key. Requires
    // text keys (or blank), as the entries hold them.
    KeyTotal at(const QVariant& key) const {
        const auto before = [](const Entry& entry, const QVariant& k) {
            if (entry.first.isNull() || k.isNull())
                return entry.first.isNull() && !k.isNull();
            return entry.first.toString() < k.toString();
        };
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), key, before);
        if (it == entries_.end() || it->first.isNull() != key.isNull() ||
            (!key.isNull() && it->first.toString() != key.toString()))
            return {};
        return it->second;
    }

private:
    std::vector<Entry> entries_;
};

// What a bulk pass's visitor wants done with one row.
enum class RowVisit {
    Write, // the row (changed by the visitor) is written
    Keep,  // the row is left as stored
    Stop,  // the pass stops at this row, which is not written
};

// How a bulk pass ended. Finished: every row was visited. Stopped at `at`, not written, every
// row before it written and committed; `code` is 0 when the visitor stopped there,
// RecordLocked when another holder has that row locked.
struct RunsEnd {
    enum class How { Finished, Stopped };
    How how = How::Finished;
    Bookmark at;
    quint16 code = 0;
};

// Throws GeneralError naming the table and the field or index when `table` asks for what no
// backend makes: no columns, a column without a name, a name used twice or one of the row
// identity's names ("rowid", "_rowid_", "oid"), a column of type AutoInc or Other, a negative
// size, an index without a name or fields, on a field that is no column, descending,
// case-insensitive or on an expression, or two primary indexes.
void checkCreatable(const TableDescription& table);

// One place that keeps the tables. Cursors it opens may outlive it.
class Storage {
public:
    virtual ~Storage() = default;

    // Where the tables are, for messages ("the folder /x", "the server ...").
    virtual QString location() const = 0;

    // Describes the table `tableName` ("Stock.DB"). Throws TableNotFound, or the
    // backend's error when it cannot be reached or read.
    virtual TableDescription describe(const QString& tableName) = 0;
    // Opens a cursor ordered by the index `indexName` as describe() names it, standing before
    // the first row. Throws IndexNotFound, ReadOnlyTable (ReadWrite asked of a table that can
    // only be read), or describe()'s errors.
    virtual std::unique_ptr<TableCursor> open(const QString& tableName, const QString& indexName,
                                              OpenMode mode) = 0;
    // As open() above, describing the table once: the cursor follows the index `chooseIndex`
    // names from the description it is given (called once, before any index is checked), and
    // its description() is that one.
    virtual std::unique_ptr<TableCursor> open(const QString& tableName,
                                              const IndexChooser& chooseIndex, OpenMode mode) = 0;

    // Creates the empty tables `tables`, each named by its tableName, with its columns (name,
    // type family, size: each backend writes its own type for the family; declaredType is not
    // used) and its indexes (name, fields, primary, unique). All or none: throws TableExists
    // naming the first of `tables` that exists, making none, when any exists; GeneralError as
    // checkCreatable() does; or the backend's error when they cannot be made (none made then).
    virtual void createTables(const QList<TableDescription>& tables) = 0;
    // Appends the rows `produce` fills (until it returns false) in one transaction: all or,
    // on an error (thrown), none.
    virtual void appendRows(const QString& tableName, const std::function<bool(Row&)>& produce) = 0;

    // Sums the small integer column `column` of `tableName` per value of the first field of
    // its index `indexName`, in one pass over the table.
    virtual KeyTotals sumByKey(const QString& tableName, const QString& indexName,
                               const QString& column) = 0;
    // Visits the rows of `tableName` in the order of `indexName` (a unique index on one
    // field), from the row after `after` (invalid: from the first), and writes those the
    // visitor asks written, in runs of `rowsPerRun` rows. Each row is locked as an edit locks
    // it while it is written; the visitor may change any value but the key. Rows written by
    // others between runs are seen. Throws the backend's error when a write fails, every run
    // before the failing one kept. A backend says whether a run is one transaction (the failing
    // run undone) or each row is written as an edit posts it (the rows before it kept).
    virtual RunsEnd writeRuns(const QString& tableName, const QString& indexName,
                              const Bookmark& after, int rowsPerRun,
                              const std::function<RowVisit(Row&)>& visit) = 0;
};

} // namespace storage
} // namespace lv26::engine
