#pragma once

// TDataGrid: a data-aware grid that shows the rows of a TDataSource, one column per field
// name, with a title row, a row indicator and an in-place cell editor (TCellEditor).
//
// Rows come from the dataset's buffer window through the grid's data link: the grid asks for
// as many buffered rows as it can show fully and paints only those. Moving, editing and
// settling rows is the dataset's work; the grid turns keys, clicks and scroll-bar actions
// into those operations and into text assignments to the current field.
//
// Errors raised by the data operations inside the grid's event handlers are shown in the
// application's error box (widgets/ErrorBox.h) and go no further.

#include "data/DataSource.h"
#include "data/Field.h"
#include "maintenance/CellEditor.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QStringList>
#include <memory>

namespace lv26 {

class TDataGrid : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(QStringList columnNames READ columnNames WRITE setColumnNames)
    Q_PROPERTY(bool readOnly READ isReadOnly WRITE setReadOnly)

public:
    explicit TDataGrid(QWidget* parent = nullptr);
    ~TDataGrid() override;

    // The data source shown (not owned; may be nullptr).
    TDataSource* DataSource() const;
    void setDataSource(TDataSource* source);

    // Field names of the columns, in their initial order. Titles and widths follow the
    // fields once the dataset is open; a name without a field gives an empty column.
    QStringList columnNames() const;
    void setColumnNames(const QStringList& names);
    bool isReadOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }

    // ---- layout, in pixels ------------------------------------------------------------
    int columnCount() const { return int(columns_.size()); }
    // Field name of column `col` (current order).
    QString columnFieldName(int col) const;
    int columnWidth(int col) const;
    // Sets column `col`'s width (at least 1 pixel); lasts until changed again.
    void setColumnWidth(int col, int width);
    // Moves column `from` to position `to` (both in the current order).
    void moveColumn(int from, int to);
    // The default width of column `col`: ("0" width) x display width + 4, at least the
    // title's width + 4.
    int defaultColumnWidth(int col) const;
    int rowHeight() const { return rowHeight_; }
    int titleHeight() const { return titleHeight_; }
    static constexpr int indicatorWidth = 11;
    // Rows that fit fully below the title row (at least 1).
    int visibleRowCount() const;
    // Viewport rectangle of data row `row` (0 = first shown), column `col`; -1 for the
    // indicator column.
    QRect cellRect(int row, int col) const;
    // Viewport rectangle of column `col`'s title (`row` -1 of cellRect).
    QRect titleRect(int col) const { return cellRect(-1, col); }

    // ---- current cell and editor ------------------------------------------------------
    int currentColumn() const { return currentCol_; }
    // Makes `col` current after applying the cell; hides the editor.
    void setCurrentColumn(int col);
    // The field of the current column, or nullptr.
    TField* currentField() const;
    TCellEditor* cellEditor() const { return editor_; }
    bool editorMode() const { return editorMode_; }
    // Whether the editor's text differs from the field and has not been applied.
    bool cellChanged() const { return cellChanged_; }
    // Shows the editor on the current cell (loading it from the field unless it holds a
    // change not yet applied) and gives it the focus when the grid has it.
    void showEditor();
    void hideEditor();
    // Assigns the editor's text to the field when the cell changed. Throws what the field's
    // setText throws; the editor then keeps its text and the flag stays set.
    void applyCell();
    // Whether the current cell may be changed: grid and column writable, field present and
    // modifiable.
    bool canEditCell() const;
    // For the editor's first accepted change: puts the dataset into editing (automatic
    // edit) and sets the cell-changed flag. False when editing could not start. Throws what
    // the dataset's Edit throws.
    bool beginCellChange();

    // ---- actions (also reached by keys; each shows its own error) ----------------------
    // Up and Down: the prior or next row (Down appends past the last). False when the
    // move failed (its error was shown) and the grid stays on its row.
    bool priorRow();
    bool nextRow();
    // Moves the current row by `distance` rows (settling the row first).
    void moveBy(int distance);
    // Asks "Delete record?" and deletes the current row on OK.
    void deleteWithConfirmation();

    // Rows the grid's link sees and where the current row is among them.
    int rowCount() const;
    int activeRow() const;
    // Display text of row `row` (0 = first shown), column `col`; empty when none.
    QString cellText(int row, int col) const;

    // The five-position scroll bar's value for the dataset's flags (0 begin, 4 end, else 2).
    int scrollPosition() const;

Q_SIGNALS:
    // The cell editor was shown or hidden, or the current cell moved.
    void currentCellChanged();
    // A key was refused, with a beep: the cell may not be changed, or its field or mask does
    // not take the character.
    void keyRefused();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;

private:
    class Link;
    friend class Link;
    friend class TCellEditor;

    struct Column {
        QString fieldName;
        QPointer<TField> field;
        int width = 64;
        bool userWidth = false;
    };

    // Data link hooks.
    void linkActiveChanged();
    void linkDataChanged();
    void linkScrolled();
    void linkLayoutChanged();
    void linkRecordChanged(TField* field);
    void linkEditingChanged();
    bool linkFocusControl(TField* field);

    void handleKey(QKeyEvent* event);
    // The keys that move the current row or column (Ctrl held: to the first or last). False
    // for any other key.
    bool moveKey(int key, bool ctrl);
    void tabKey(bool forward);
    void escapeKey();
    void enterKey();
    void typeKey(QKeyEvent* event);
    // Every refused key ends here: a beep, and keyRefused().
    void refuseKey();
    void leaveGrid();
    bool hasGridFocus() const;
    bool takeFocus();

    void bindFields();
    void updateMetrics();
    void updateBufferCount();
    void updateScrollBars();
    void updateEditorGeometry();
    void reloadEditor();
    void reloadShownEditor();
    void scrollToCurrentColumn();
    bool isTabStop(int col) const;
    // The first tab stop from column `col` on, going by `step` (1 right, -1 left); -1 when
    // there is none.
    int tabStopFrom(int col, int step) const;
    int columnLeft(int col) const;
    int columnAt(int x) const;
    int rowAt(int y) const;
    int resizeEdgeAt(const QPoint& pos) const;
    void scrollAction(int action);
    void scrollReleased();
    void wheelTurned(int angleDelta);

    void paintTitles(QPainter& p);
    void paintRows(QPainter& p);
    void paintIndicator(QPainter& p, const QRect& rect);

    std::unique_ptr<Link> link_;
    std::vector<Column> columns_;
    TCellEditor* editor_;
    int currentCol_ = 0;
    int rowHeight_ = 17;
    int titleHeight_ = 17;
    bool readOnly_ = false;
    bool editorMode_ = false;
    bool cellChanged_ = false;
    bool destroying_ = false;
    // Wheel turn not yet amounting to a whole notch, in eighths of a degree.
    int wheelDelta_ = 0;

    // Mouse on titles.
    enum class Drag { None, Resize, Move };
    Drag drag_ = Drag::None;
    int dragCol_ = -1;
    int dragStartX_ = 0;
    int dragStartWidth_ = 0;
};

// The confirmation box before a delete: "Delete record?", caption "Confirm", question icon,
// OK (default) and Cancel (Esc), application-modal and centred on the screen. True on OK.
bool confirmDelete();

} // namespace lv26
