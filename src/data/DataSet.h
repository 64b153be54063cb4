#pragma once

// TDataSet: the row state machine and record buffer window over one engine cursor.
//
// Buffer window. The dataset keeps BufferCount() row buffers (the largest BufferCount any
// attached data link asks for, at least 1). RecordCount() of them hold rows, in table order;
// ActiveRecord() is the one the fields read and write (the current row). Moving the current
// row inside the window reads nothing; moving past an edge reads one row through the cursor
// and scrolls the window by one. First, Last and every re-read (after post, cancel, delete,
// refresh, a range change) fill at most BufferCount rows. The whole table is never read.
//
// States: Inactive (closed), Browse, Edit, Insert; the Bof/Eof flags: Bof is set by First and
// by a backward move that found no earlier row, Eof by Last and by a forward move that found
// no later row, both on an empty table; any move clears the flag it moves away from.
//
// Data events: every operation tells the data links of every TDataSource bound to the
// dataset (see DataSource.h). Errors are thrown as EDatabaseError/EEngineError; a failed
// operation leaves the state, the values being edited and the current row as they were.
//
// Single-threaded: use from the thread that created the dataset.

#include "engine/TableEngine.h"

#include <QList>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lv26 {

class TField;
class TDataSource;
class TDataLink;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// What a data link is told; `info` is a TField* (or nullptr) for FieldChange, RecordChange
// and FocusControl, the rows the window scrolled for DataSetScroll and LayoutChange,
// otherwise 0. TDataLink turns these into its hooks.
enum class DataEvent {
    FieldChange,     // one field of the current row changed value
    RecordChange,    // the current row's values changed (entered edit, new row initialised)
    DataSetChange,   // the window was refilled (first, last, post, cancel, delete, refresh)
    DataSetScroll,   // the current row moved; info = rows the window scrolled (+ down)
    LayoutChange,    // the buffer count or the fields changed
    UpdateRecord,    // controls must copy pending values into the fields now
    UpdateState,     // the state changed
    CheckBrowseMode, // the dataset is about to move or change state: settle dependants
    FocusControl,    // a control showing info (TField*) should take the focus
    ActiveChange,    // opened or closed
};

class TDataSet : public QObject {
public:
    using CalcFieldsEvent = std::function<void(TDataSet*)>;

    explicit TDataSet(QObject* parent = nullptr);
    // Closes the dataset (a pending change is discarded) and deletes its fields.
    ~TDataSet() override;

    // ---- opening and state ------------------------------------------------------------
    // Opens and stands on the first row; throws on failure (the dataset stays closed).
    void Open();
    // Closes; a pending change is discarded, not posted; a row lock is released.
    void Close();
    bool Active() const { return state_ != DataSetState::Inactive; }
    void setActive(bool active) { active ? Open() : Close(); }
    DataSetState State() const { return state_; }
    bool Editing() const { return state_ == DataSetState::Edit || state_ == DataSetState::Insert; }
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    // True when the current range holds no row (nothing buffered and not inserting).
    bool IsEmpty() const { return recordCount_ == 0; }
    // Whether a field value changed since the row entered edit or insert state.
    bool Modified() const { return modified_; }
    // Open and not read-only.
    bool CanModify() const { return Active() && !readOnly_; }
    // Whether the dataset numbers its rows (row count, row number, move to a number). Tables
    // over this engine do not: grids use the five-position scroll bar.
    bool IsSequenced() const { return false; }

    // Recompute calculated fields whenever a stored field changes while editing.
    bool AutoCalcFields() const { return autoCalcFields_; }
    void setAutoCalcFields(bool on) { autoCalcFields_ = on; }
    // Handler that fills the calculated fields of the current row (called with this).
    void setOnCalcFields(CalcFieldsEvent handler) { onCalcFields_ = std::move(handler); }

    // ---- fields -----------------------------------------------------------------------
    // Fields in creation order (record order). The dataset owns them.
    const QList<TField*>& Fields() const { return fields_; }
    // The field named `name` (case ignored), or nullptr.
    TField* FindField(const QString& name) const;
    // As FindField(); throws "%s: Field '%s' not found" (component name, field name).
    TField* FieldByName(const QString& name) const;

    // ---- navigation (each first settles a pending change: CheckBrowseMode) -------------
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    // Moves by `distance` rows (negative: backward); returns the rows actually moved. Sets
    // Eof (Bof) when a forward (backward) move found no further row.
    int MoveBy(int distance);
    // Stands on the bookmarked row, read afresh with the rows around it; when it is gone, on
    // the row that now holds its place in index order.
    void GotoBookmark(const engine::Bookmark& bookmark);

    // ---- editing ----------------------------------------------------------------------
    // Inserts a blank row before the current one (Insert state).
    void Insert();
    // Adds a blank row after the last row (Insert state, Eof set).
    void Append();
    // Locks and re-reads the current row (Edit state); on an empty dataset inserts instead.
    // Nothing happens when already editing. "Cannot modify a read-only dataset".
    void Edit();
    // Copies control values (UpdateRecord), checks required fields in record order (the
    // first blank one gets FocusControl and "Field '%s' must have a value"), writes the row
    // and re-reads the rows around it. Requires Edit or Insert state ("Dataset not in edit
    // or insert mode").
    void Post();
    // Drops a new row or restores an edited one and releases its lock; re-reads the rows
    // around the current one. Does nothing in Browse state.
    void Cancel();
    // Removes the current row (the next becomes current, or the previous after the last);
    // in Insert state cancels instead. "Cannot perform this operation on an empty dataset".
    void Delete();
    // Settles a pending change, then re-reads the rows around the current one from the file.
    void Refresh();
    // Settles a pending change: control values copied, posted if modified, else cancelled.
    // Also tells the links first, so that detail tables settle theirs. Throws when closed.
    void CheckBrowseMode();
    // Asks every link to copy its pending value into the fields (requires editing).
    void UpdateRecord();

    // ---- buffer window ----------------------------------------------------------------
    int BufferCount() const { return int(buffers_.size()); }
    // Index of the current row in the window, 0 <= ActiveRecord < max(RecordCount, 1).
    int ActiveRecord() const { return activeRecord_; }
    // Makes buffer `index` the one fields read, without moving or telling anyone. For
    // painting rows of a window: restore the previous value afterwards. Requires
    // 0 <= index < RecordCount().
    void setActiveRecord(int index);
    // Rows buffered (including a new row being inserted).
    int RecordCount() const { return recordCount_; }
    // Rows stored within the range in force (the whole table when there is none), counted by
    // the storage: no row is read, and the current row and the buffered rows stay as they
    // are. A new row not yet posted is not counted. Throws when closed.
    qint64 StoredRowCount() const;

    // Rows read through the cursor since the dataset was created (for tests and benchmarks).
    qint64 RowsRead() const { return rowsRead_; }

protected:
    // ---- what a concrete dataset provides ----------------------------------------------
    // Opens the cursor and binds the fields (setFieldColumn / creates fields). Throws.
    virtual std::unique_ptr<engine::Cursor> openCursor() = 0;
    // Called after the cursor opened and before the first row is read (set a range here).
    virtual void afterOpenCursor() {}
    // Called on a fresh new row, after it is blank and before it counts as changed.
    virtual void initNewRecord() {}
    // Name used in messages ("Table1").
    QString componentName() const;

    // Binds `field` to column `column` of the cursor's rows.
    static void setFieldColumn(TField* field, int column);
    engine::Cursor* cursor() const { return cursor_.get(); }
    bool readOnlyFlag() const { return readOnly_; }
    void setReadOnlyFlag(bool readOnly) { readOnly_ = readOnly; }

    // Refills the window from the first row of the cursor's current range (Bof set) and
    // tells the links (DataSetChange). Does not settle anything.
    void reloadFromFirst();
    // Sends `event` to every link of every data source bound to this dataset.
    void dataEvent(DataEvent event, qintptr info = 0);

private:
    friend class TField;
    friend class TDataSource;
    friend class TDataLink;

    struct Buffer {
        engine::Row row;      // stored values, one per cursor column
        QList<QVariant> calc; // calculated values, one per calculated field
        engine::Bookmark bookmark;
    };

    // Field access to the active buffer.
    QVariant fieldValue(const TField* field) const;
    void setFieldValue(TField* field, const QVariant& value);
    bool calculating() const { return calculating_; }

    // Window maintenance.
    Buffer blankBuffer() const;
    bool readRow(bool forward, Buffer& buffer);
    bool positionOn(const engine::Bookmark& bookmark);
    void calculateFields(int index);
    void clearWindow();
    void fillForward();
    void fillBackward(int limit);
    void resyncAround(engine::Bookmark bookmark, int preferredActive);
    void resyncCurrent();
    int scrollForward();
    int scrollBackward();
    void updateBufferCount();
    void setBufferCount(int count);
    void setState(DataSetState state);
    void checkActive() const;
    void checkCanModify() const;
    void checkRequiredFields();
    void beginInsert(int index);

    void addDataSource(TDataSource* source);
    void removeDataSource(TDataSource* source);

    std::unique_ptr<engine::Cursor> cursor_;
    QList<TField*> fields_;
    QList<TDataSource*> dataSources_;
    std::vector<Buffer> buffers_;
    Buffer saved_;                  // the row as it was when editing started
    engine::Bookmark insertAnchor_; // the row a new row was inserted before (invalid: appended)
    int recordCount_ = 0;
    int activeRecord_ = 0;
    std::optional<qint64> cursorRowId_; // row the cursor stands on (none: unknown or at an end)
    qint64 rowsRead_ = 0;
    int lastScroll_ = 0;
    DataSetState state_ = DataSetState::Inactive;
    bool bof_ = true;
    bool eof_ = true;
    bool modified_ = false;
    bool readOnly_ = false;
    bool autoCalcFields_ = true;
    bool calculating_ = false;
    bool locked_ = false;
    CalcFieldsEvent onCalcFields_;
};

} // namespace lv26
