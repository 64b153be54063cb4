#pragma once

// The table engine: each table is one SQLite database file holding one table. The engine
// describes tables, opens ordered cursors over an index, restricts them to a key range,
// locks rows across processes while they are edited, and reports every failure as an
// EEngineError with a 16-bit code and the engine's text. Everything runs on the calling
// thread; nothing here knows about fields, row states or widgets.

#include "base/Error.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

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
    QString tableName; // as asked for, e.g. "Func.DB"
    QList<ColumnInfo> columns;
    QList<IndexInfo> indexes;
};

// One row: a value per column, in the order of TableDescription::columns. A null QVariant is
// a blank value. Text columns hold QString, Int16/Int32/AutoInc hold int, Float/Money double.
using Row = QList<QVariant>;

// Position of a row in a cursor's order: its index key plus the row's identity. Stays
// meaningful after the row is changed or deleted (it then names the place the row had). Any
// identity is a row's, 0 and negative ones included: a default bookmark names no row.
class Bookmark {
public:
    Bookmark() = default;
    Bookmark(QList<QVariant> key, qint64 rowId) : key(std::move(key)), rowId(rowId), valid_(true) {}

    QList<QVariant> key;
    qint64 rowId = 0;
    bool isValid() const { return valid_; }

private:
    bool valid_ = false;
};

// ReadWriteElseReadOnly opens read-write when the file can be written and read-only when it
// can only be read; the cursor's isReadOnly() tells which it got.
enum class OpenMode { ReadWrite, ReadOnly, ReadWriteElseReadOnly };

// Error codes the engine raises; SQLite's own result codes are mapped onto these.
// errorText() gives the engine's text for each.
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
constexpr quint16 TableExists = 0x3107;     // createTables() would overwrite a file
constexpr quint16 RecordLocked = 0x3201;    // another cursor or process holds the row lock
constexpr quint16 KeyViolation = 0x3202;    // duplicate value in a unique index
constexpr quint16 RecordDeleted = 0x3203;   // the current row no longer exists
constexpr quint16 NoCurrentRecord = 0x3204; // the cursor stands at an end
constexpr quint16 InvalidValue = 0x3205;    // a value that the column cannot hold
constexpr quint16 TableBusy = 0x3301;       // another process kept the file busy too long
constexpr quint16 DiskFull = 0x3302;
constexpr quint16 IoError = 0x3303;
constexpr quint16 GeneralError = 0x3304; // any other failure of the storage library
} // namespace codes

// The engine's own text for `code` ("Key violation." ...); empty for an unknown code.
QString errorText(quint16 code);

class Cursor;

// Starts the engine once; later calls return at once. Shows the wait cursor meanwhile when a
// GUI application exists. Throws EEngineError ("An error occurred while initializing the
// database engine" style text with the code as "$XXXX") when the engine cannot start.
void start();

// Resolves a bare table name against the process's working directory.
QString tablePath(const QString& tableName);

// Describes the table in the file `tableName` (bare names are looked up in the working
// directory). Throws EEngineError when the file is missing, unreadable or not a table file.
TableDescription describe(const QString& tableName);

// Opens a cursor over `tableName` ordered by the index named `indexName` (as describe()
// reports it), shared with other cursors and processes. ReadWrite on a file that cannot be
// written throws EEngineError with code readOnlyCode(); ReadWriteElseReadOnly opens it
// read-only instead.
// The cursor starts before the first row. Never reads the whole table.
std::unique_ptr<Cursor> open(const QString& tableName, const QString& indexName, OpenMode mode);

// Names the index a cursor is to follow, given the table's description (an index name as the
// description reports it). May throw; the open then fails with that error.
using IndexChooser = std::function<QString(const TableDescription&)>;

// As open() above, reading the file once: the table is described from the opening that the
// cursor keeps, and the cursor follows the index `chooseIndex` names from that description
// (called once, before any index is checked). The cursor's description() is the one the
// chooser was given.
std::unique_ptr<Cursor> open(const QString& tableName, const IndexChooser& chooseIndex,
                             OpenMode mode);

// Code of the error open() raises when a table can only be read.
quint16 readOnlyCode();

// Creates the empty tables "Func.DB" and "Dados.DB" in the existing folder `dir`, with the
// columns and indexes of docs/tables.md. Throws EEngineError (TableExists) without touching
// anything when either file already exists, or the engine's error when a file cannot be made.
void createTables(const QString& dir);

// Appends rows to `tableName` in one transaction: calls `produce` until it returns false,
// inserting each row it filled (a value per column, as for Cursor::insertRow). Either every
// row is stored or, on any error (thrown as EEngineError), none.
void appendRows(const QString& tableName, const std::function<bool(Row&)>& produce);

// ---- Writing every row of a table from totals of its detail rows -------------------------

// The total of one integer column over the detail rows of one master row.
struct DetailTotal {
    bool blank = false; // a detail row holds a blank value (or one its column cannot hold)
    qint64 sum = 0;     // otherwise the sum of the values (0 without detail rows)
};

struct DetailTotalsPass {
    QString masterTable; // read-write; ordered by masterIndex, a unique index on one field
    QString masterIndex;
    QString detailTable;  // its rows belong to the master row whose key equals the first
    QString detailIndex;  // field of detailIndex
    QString detailColumn; // a small integer column of the detail table
    Bookmark after;       // start after this master row (a text key); invalid: at the first
    int rowsPerCommit = 512;
};

// How a pass ended. Finished: every row was written. Stopped: at the row `at` (a bookmark
// of the master's index), which is not written; every row before it is written and
// committed. Unsupported: the tables cannot be passed this way (a master index that is not
// unique on one field, an index key not in binary order, a detail column that is not a small
// integer, a start after a row whose key is not text); nothing was read or written.
struct DetailTotalsEnd {
    enum class How { Finished, Stopped, Unsupported };
    How how = How::Unsupported;
    Bookmark at;
};

// Visits every master row in index order with the total of its detail rows, as a cursor
// would read both (values coerced as for Cursor::next(); the detail rows those a range on
// the master's key would show). `visit` may change the row's values except its key and
// returns true to have it written, false to stop at it. Each written row is locked as an
// edit locks it; a row locked by another holder, one whose key is blank or not the plain text
// a cursor reads back, or one whose detail values are stored in a form only a cursor's
// reading coerces, stops the pass at that row. Rows are written in runs, each read and
// written in one transaction and committed: other processes can write between runs and a
// pass cut short keeps every committed run. A failure within a run undoes that run and
// stops the pass at the run's first row; a failure to start a run, or one with no row left
// to stop at, is thrown (EEngineError), the earlier runs kept.
DetailTotalsEnd writeDetailTotals(const DetailTotalsPass& pass,
                                  const std::function<bool(Row&, const DetailTotal&)>& visit);

namespace detail {
class DetailTotalsRun;
}

// writeDetailTotals() kept open between passes, so that going on after a row a pass stopped
// at costs no more than not having stopped: both files stay open and the detail totals are
// summed again only when another connection has changed the detail table since.
class DetailTotalsWriter {
public:
    // Opens both tables of `pass` (its `after` is not used). Throws EEngineError as
    // writeDetailTotals() does when a table cannot be opened.
    explicit DetailTotalsWriter(const DetailTotalsPass& pass);
    ~DetailTotalsWriter();
    DetailTotalsWriter(const DetailTotalsWriter&) = delete;
    DetailTotalsWriter& operator=(const DetailTotalsWriter&) = delete;

    // True when this writer was made for `pass` (its `after` and rowsPerCommit aside) and
    // its table names still lead to the very files it has open.
    bool isFor(const DetailTotalsPass& pass) const;

    // One pass as writeDetailTotals() makes it, starting after the master row `after`
    // (invalid: at the first row). Rows another connection wrote since the last pass are
    // read as they are now. A pass from the first row when the last pass of this writer
    // also started there and finished without a stop, no other connection has changed
    // either table since (their data versions tell) and no other holder has a master row
    // locked, finds every row already as that pass wrote it: it reads and writes nothing and
    // returns Finished. `visit` must therefore decide from the row and the total alone.
    DetailTotalsEnd write(const Bookmark& after,
                          const std::function<bool(Row&, const DetailTotal&)>& visit);

private:
    // A table file as this writer opened it.
    struct OpenedFile {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const OpenedFile&) const = default;
    };
    static OpenedFile openedFile(const QString& tableName);

    DetailTotalsPass pass_;
    OpenedFile master_, detail_;
    std::unique_ptr<detail::DetailTotalsRun> run_;
};

// Scans of a whole detail table made by totals passes in this process so far (for tests and
// benchmarks).
qint64 detailTableScans();

class Cursor {
public:
    virtual ~Cursor() = default;

    virtual const TableDescription& description() const = 0;
    virtual bool isReadOnly() const = 0;

    // Positioning, in index order within the range in force. Each move costs one or a few
    // index seeks, independent of the table's size.
    virtual void moveToBof() = 0; // before the first row
    virtual void moveToEof() = 0; // after the last row
    // Reads the row after (before) the current position into `row` and stands on it;
    // returns false and stands after the last (before the first) row when there is none.
    virtual bool next(Row& row) = 0;
    virtual bool prior(Row& row) = 0;
    // Re-reads the row the cursor stands on; false when it is gone or the cursor is at an end.
    virtual bool current(Row& row) = 0;

    // The current row's bookmark; invalid at the ends.
    virtual Bookmark bookmark() const = 0;
    // Stands on the bookmarked row when it still exists (true), else at the place it would
    // have in index order, between its neighbours (false).
    virtual bool gotoBookmark(const Bookmark& bookmark) = 0;

    // Restricts the cursor to rows whose first index field lies between `low` and `high`,
    // both inclusive (a null value matches only blank keys), and moves before the first row.
    virtual void setRange(const QVariant& low, const QVariant& high) = 0;
    virtual void clearRange() = 0;
    // Forgets anything cached so that rows written by others are seen.
    virtual void refresh() = 0;
    // Number of rows within the range in force, counted by the storage (no row is read into
    // memory and the position is kept).
    virtual qint64 rowCount() = 0;

    // Locks the current row against every other cursor, in this or another process, and
    // re-reads it into `row`. Throws EEngineError when another holder has the lock (the
    // message names the table) or the row is gone. A lock dies with its process.
    virtual void lockCurrent(Row& row) = 0;
    // Releases the lock taken by lockCurrent(), if any.
    virtual void releaseLock() = 0;
    // True while this cursor holds a row lock.
    virtual bool hasLock() const = 0;
    // Writes `row` over the locked current row and releases the lock; the cursor stays on
    // the row at its new place in index order. Throws on a key violation (the row keeps
    // its lock and stored values). Without a lock held, takes one first (RecordLocked when
    // another holder has it). Text longer than its column is cut to the column's size, an
    // empty text is stored blank; a number outside its column's range throws InvalidValue.
    virtual void updateCurrent(const Row& row) = 0;
    // Inserts `row`; the cursor stands on it. Throws on a key violation.
    virtual void insertRow(const Row& row) = 0;
    // Deletes the current row (one already gone is no error); the cursor stays at the
    // place it had, so next()/prior() read its neighbours. Throws RecordLocked when another
    // holder has the row's lock, NoCurrentRecord at an end.
    virtual void deleteCurrent() = 0;
};

} // namespace lv26::engine
