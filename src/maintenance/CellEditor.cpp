#include "maintenance/CellEditor.h"

#include "maintenance/DataGrid.h"
#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScopedValueRollback>

namespace lv26 {

namespace {

// Whether `text` is an editor text of `mask`: one character per position, each literal in
// its place and every other position blank or holding a character it accepts.
bool fitsMask(const TEditMask& mask, const QString& text) {
    if (text.size() != mask.length())
        return false;
    const QString blank = mask.editorText(QString());
    for (int pos = 0; pos < mask.length(); ++pos) {
        const bool fits = mask.isLiteral(pos)
                              ? text[pos] == blank[pos]
                              : text[pos] == mask.blankChar() || mask.accepts(pos, text[pos]);
        if (!fits)
            return false;
    }
    return true;
}

// Lays a change that the line edit made to the masked text `before` back into the mask.
// `edited` is the text afterwards and `cursor` its cursor, which stands after whatever went
// in: the characters removed are cleared (literals stay), the characters inserted are typed
// over the positions from where they went in, and any the mask refuses are dropped.
TEditMask::Typed layIntoMask(const TEditMask& mask, const QString& before, const QString& edited,
                             int cursor) {
    const int oldSize = int(before.size());
    const int newSize = int(edited.size());
    // What follows the cursor is the old text's tail; what precedes the change, its head.
    const int maxTail = std::min(oldSize, std::max(0, newSize - cursor));
    int tail = 0;
    while (tail < maxTail && before[oldSize - 1 - tail] == edited[newSize - 1 - tail])
        ++tail;
    const int maxHead = std::min(oldSize, newSize) - tail;
    int head = 0;
    while (head < maxHead && before[head] == edited[head])
        ++head;
    TEditMask::Typed result{true, before, head};
    for (int pos = head; pos < oldSize - tail; ++pos)
        result.text = mask.clearAt(result.text, pos);
    for (const QChar c : edited.mid(head, newSize - tail - head)) {
        const TEditMask::Typed typed = mask.type(result.text, result.cursor, c);
        if (typed.accepted)
            result = typed;
    }
    return result;
}

} // namespace

Qt::KeyboardModifiers modifiersOf(const QKeyEvent* event) {
    return event->modifiers() & ~Qt::KeypadModifier;
}

TCellEditor::TCellEditor(TDataGrid* grid) : QLineEdit(grid->viewport()), grid_(grid) {
    setFrame(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setDragEnabled(false);
    connect(this, &QLineEdit::textChanged, this, &TCellEditor::textWasChanged);
    hide();
}

void TCellEditor::setLimits(const TEditMask& mask, int maxLength) {
    const QScopedValueRollback quiet(quiet_, true);
    mask_ = mask;
    // A masked text keeps its length; what the line edit inserts into it by its own paths
    // must reach textWasChanged() whole, to be typed over the mask's positions there.
    setMaxLength(mask_.isEmpty() ? maxLength : unlimitedLength);
    accepted_ = text();
}

void TCellEditor::loadRaw(const QString& raw) {
    const QString text = mask_.isEmpty() ? raw : mask_.editorText(raw);
    if (text != this->text())
        setTextQuietly(text, int(text.size()));
    accepted_ = text;
}

void TCellEditor::setTextQuietly(const QString& text, int cursor) {
    const QScopedValueRollback quiet(quiet_, true);
    setText(text);
    setCursorPosition(cursor);
}

// Every change of the text not made by the editor itself: the first one of a cell puts the
// table into editing (or is undone when it cannot), and a masked text gets its literals back.
void TCellEditor::textWasChanged() {
    if (quiet_)
        return;
    QString edited = text();
    int cursor = cursorPosition();
    if (!mask_.isEmpty() && !fitsMask(mask_, edited)) {
        const TEditMask::Typed laid = layIntoMask(mask_, accepted_, edited, cursor);
        edited = laid.text;
        cursor = laid.cursor;
    }
    if (!grid_->cellChanged()) {
        // Back to the field's text while the table is asked to edit, which may reload it.
        setTextQuietly(accepted_, cursor);
        if (!grid_->canEditCell()) {
            grid_->refuseKey();
            return;
        }
        bool editing = false;
        guarded([&] { editing = grid_->beginCellChange(); });
        if (!editing)
            return;
    }
    if (edited != text())
        setTextQuietly(edited, cursor);
    accepted_ = edited;
}

QString TCellEditor::rawText() const {
    return mask_.isEmpty() ? text() : mask_.rawText(text());
}

bool TCellEditor::replaceWith(QChar c) {
    if (mask_.isEmpty()) {
        if (!grid_->currentField() || !grid_->currentField()->IsValidChar(c)) {
            grid_->refuseKey();
            return false;
        }
        if (!grid_->beginCellChange())
            return false;
        setText(QString(c).left(maxLength()));
        return true;
    }
    const QString empty = mask_.editorText(QString());
    if (!mask_.type(empty, 0, c).accepted) {
        grid_->refuseKey();
        return false;
    }
    if (!grid_->beginCellChange())
        return false;
    const TEditMask::Typed typed = mask_.type(empty, 0, c);
    setText(typed.text);
    setCursorPosition(typed.cursor);
    return true;
}

bool TCellEditor::isGridKey(const QKeyEvent* event) const {
    const Qt::KeyboardModifiers mods = modifiersOf(event);
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    case Qt::Key_Insert:
        return !(mods & Qt::ShiftModifier);
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return !(mods & Qt::AltModifier);
    default:
        return false;
    }
}

// Keys that would change the text: characters, Backspace, Del, cut and paste.
bool TCellEditor::isChange(const QKeyEvent* event) const {
    const Qt::KeyboardModifiers mods = modifiersOf(event);
    const int key = event->key();
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete)
        return true;
    if (key == Qt::Key_Insert && mods == Qt::ShiftModifier)
        return true;
    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut))
        return true;
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return !text.isEmpty() && text[0].isPrint();
}

bool TCellEditor::event(QEvent* event) {
    // Tab and Shift+Tab move between the grid's cells: they never move the focus on.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && isGridKey(key)) {
            grid_->handleKey(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void TCellEditor::keyPressEvent(QKeyEvent* event) {
    if (isGridKey(event)) {
        grid_->handleKey(event);
        return;
    }
    const Qt::KeyboardModifiers mods = modifiersOf(event);
    if (event->key() == Qt::Key_F2 && mods == Qt::NoModifier) {
        deselect();
        end(false);
        return;
    }
    // No undo history of the line edit's own: Esc is the way back to the field's value.
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
        return;
    if (!isChange(event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (!grid_->canEditCell()) {
        if (event->matches(QKeySequence::Cut))
            copy();
        grid_->refuseKey();
        return;
    }
    const QString typed = event->text();
    const bool isCharacter =
        !(mods & (Qt::ControlModifier | Qt::AltModifier)) && !typed.isEmpty() && typed[0].isPrint();
    if (isCharacter) {
        guarded([&] { typeCharacter(typed[0]); });
        return;
    }
    guarded([&] {
        if (!grid_->beginCellChange())
            return;
        if (mask_.isEmpty() || !maskedKey(event))
            QLineEdit::keyPressEvent(event);
    });
}

// One typed character: refused (with a beep) when the field or the mask does not take it.
bool TCellEditor::typeCharacter(QChar c) {
    TField* field = grid_->currentField();
    if (mask_.isEmpty()) {
        if (!field || !field->IsValidChar(c)) {
            grid_->refuseKey();
            return false;
        }
        if (!grid_->beginCellChange())
            return false;
        insert(QString(c));
        return true;
    }
    QString text = this->text();
    int cursor = cursorPosition();
    if (hasSelectedText()) {
        cursor = selectionStart();
        for (int pos = cursor; pos < selectionEnd(); ++pos)
            text = mask_.clearAt(text, pos);
    }
    if (!mask_.type(text, cursor, c).accepted) {
        grid_->refuseKey();
        return false;
    }
    if (!grid_->beginCellChange())
        return false;
    const TEditMask::Typed result = mask_.type(text, cursor, c);
    setText(result.text);
    setCursorPosition(result.cursor);
    return true;
}

// Backspace, Del, cut and paste within a mask: positions are cleared, never removed, and
// literals stay. Returns false for keys the line edit handles itself.
bool TCellEditor::maskedKey(QKeyEvent* event) {
    QString text = this->text();
    const bool selection = hasSelectedText();
    const int start = selection ? selectionStart() : cursorPosition();
    const int end = selection ? selectionEnd() : start;
    auto clearSelection = [&] {
        for (int pos = start; pos < end; ++pos)
            text = mask_.clearAt(text, pos);
    };
    int cursor = start;
    if (event->matches(QKeySequence::Paste) || event->key() == Qt::Key_Insert) {
        clearSelection();
        for (const QChar c : QApplication::clipboard()->text()) {
            const TEditMask::Typed typed = mask_.type(text, cursor, c);
            if (typed.accepted) {
                text = typed.text;
                cursor = typed.cursor;
            }
        }
    } else if (event->matches(QKeySequence::Cut)) {
        copy();
        clearSelection();
    } else if (event->key() == Qt::Key_Backspace) {
        if (selection) {
            clearSelection();
        } else {
            cursor = mask_.priorEditable(start);
            if (cursor < 0)
                return true;
            text = mask_.clearAt(text, cursor);
        }
    } else if (event->key() == Qt::Key_Delete) {
        if (selection)
            clearSelection();
        else
            text = mask_.clearAt(text, mask_.nextEditable(start));
    } else {
        return false;
    }
    setText(text);
    setCursorPosition(cursor);
    return true;
}

void TCellEditor::inputMethodEvent(QInputMethodEvent* event) {
    // Composed text arrives as characters, under the same rules as typed ones.
    const QString commit = event->commitString();
    event->accept();
    if (commit.isEmpty())
        return;
    if (!grid_->canEditCell()) {
        grid_->refuseKey();
        return;
    }
    guarded([&] {
        for (const QChar c : commit)
            if (!typeCharacter(c))
                break;
    });
}

// Tab never reaches the editor from another control, but a dialog shown again hands its
// focus widget a Tab focus event, on which a line edit selects its whole text: the next key
// would replace the typing that waited in the editor. The text and caret stay as they were.
void TCellEditor::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
        QFocusEvent kept(event->type(), Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&kept);
        return;
    }
    QLineEdit::focusInEvent(event);
}

void TCellEditor::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (grid_->destroying_)
        return;
    grid_->leaveGrid();
    grid_->viewport()->update();
}

} // namespace lv26
