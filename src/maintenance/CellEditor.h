#pragma once

// TCellEditor: the data grid's in-place editor of the current cell (see DataGrid.h).

#include "data/EditMask.h"

#include <QLineEdit>

class QKeyEvent;

namespace lv26 {

class TDataGrid;

// The grid's in-place editor. It owns no data: the grid decides what it may take, loads it
// from the field and applies it to the field.
//
// Every change of its text that does not come from loading it is a change of the cell,
// however it was made (typing, the line edit's own editing keys, a middle-click paste):
// the first one puts the table into editing and sets the grid's cell-changed flag, and
// with a mask the change is laid back into the mask, literals in place.
class TCellEditor : public QLineEdit {
    Q_OBJECT
public:
    // The line edit's own limit on a text's length: the `maxLength` of no limit.
    static constexpr int unlimitedLength = 32767;

    // A child of `grid`'s viewport, hidden until the grid shows it. `grid` outlives it.
    explicit TCellEditor(TDataGrid* grid);

    // The mask the editor follows, or an empty one for plain text of at most `maxLength`
    // characters (with a mask, the mask's length is the limit). Not a change of the cell.
    void setLimits(const TEditMask& mask, int maxLength);
    const TEditMask& mask() const { return mask_; }
    // Puts `raw` (a field's edit text) into the editor, laid into the mask when there is one.
    // Not a change of the cell.
    void loadRaw(const QString& raw);
    // The text the editor hands to its field: without the literals when masked.
    QString rawText() const;
    // Replaces the whole text with the typed character `c` (the editor was just opened by
    // typing it). Returns false when the character was refused.
    bool replaceWith(QChar c);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // What a typed character replaces.
    enum class Over { Selection, WholeText };
    bool typeCharacter(QChar c, Over over);
    // Masked: `typed` typed over the selection, or at the cursor when nothing is selected.
    TEditMask::Typed typeOverSelection(QStringView typed) const;
    void showTyped(const TEditMask::Typed& typed);
    bool maskedKey(QKeyEvent* event);
    bool isChange(const QKeyEvent* event) const;
    bool isGridKey(const QKeyEvent* event) const;
    void textWasChanged();
    void setTextQuietly(const QString& text, int cursor);

    TDataGrid* grid_;
    TEditMask mask_;
    // The text as last loaded or accepted as a change of the cell.
    QString accepted_;
    // Set while the editor changes its own text (loading, undoing a refused change).
    bool quiet_ = false;
};

// The modifiers of a key event, without the keypad's flag: a key of the keypad acts as the
// same key of the main block.
Qt::KeyboardModifiers modifiersOf(const QKeyEvent* event);
// Whether the key types a character: printable text, with neither Ctrl, Alt nor Meta held.
bool isTypedCharacter(const QKeyEvent* event);

} // namespace lv26
