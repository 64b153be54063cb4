#pragma once

// The table engine: each table is one SQLite database file holding one table. The engine
// describes tables, opens ordered cursors over an index, restricts them to a key range,
// locks rows across processes while they are edited, and reports every failure as an
// EEngineError with a 16-bit code and the engine's text. Everything runs on the calling
// thread; nothing here knows about fields, row states or widgets.

#include "engine/Storage.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace lv26::engine {

using Bookmark = storage::Bookmark;
using Cursor = storage::TableCursor;

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

// As open() above, reading the file once: the table is described from the opening that the
// cursor keeps, and the cursor follows the index `chooseIndex` names from that description
// (called once, before any index is checked). The cursor's description() is the one the
// chooser was given.
std::unique_ptr<Cursor> open(const QString& tableName, const IndexChooser& chooseIndex,
                             OpenMode mode);

// Code of the error open() raises when a table can only be read.
quint16 readOnlyCode();

// Creates the empty tables `tables` in the existing folder `dir`, each as the file its
// tableName names (a bare file name) holding one table named after the file's base name, as
// Storage::createTables() describes. A one-field primary index is its column's PRIMARY KEY
// (known by its field, whatever its name), several fields a table constraint; other indexes
// keep their names. All or none: throws EEngineError TableExists naming the first file that
// exists, without touching anything; GeneralError as checkCreatable() does, or for a name
// that is not a bare file name; or the engine's error when a file cannot be made (the files
// made so far removed).
void createTables(const QString& dir, const QList<TableDescription>& tables);

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

} // namespace lv26::engine
