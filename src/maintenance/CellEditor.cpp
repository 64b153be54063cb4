#include "maintenance/CellEditor.h"

#include "maintenance/DataGrid.h"
#include "maintenance/MaskedTyping.h"
#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScopedValueRollback>

namespace lv26 {

Qt::KeyboardModifiers modifiersOf(const QKeyEvent* event) {
    return event->modifiers() & ~Qt::KeypadModifier;
}

bool isTypedCharacter(const QKeyEvent* event) {
    if (modifiersOf(event) & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return !text.isEmpty() && text[0].isPrint();
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
    return typeCharacter(c, Over::WholeText);
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
    return isTypedCharacter(event);
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
    if (isTypedCharacter(event)) {
        guarded([&] { typeCharacter(event->text().at(0), Over::Selection); });
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
bool TCellEditor::typeCharacter(QChar c, Over over) {
    const bool wholeText = over == Over::WholeText;
    if (mask_.isEmpty()) {
        TField* field = grid_->currentField();
        if (!field || !field->IsValidChar(c)) {
            grid_->refuseKey();
            return false;
        }
        if (!grid_->beginCellChange())
            return false;
        wholeText ? setText(QString(c).left(maxLength())) : insert(QString(c));
        return true;
    }
    const QString typed(c);
    const TEditMask::Typed result = wholeText
                                        ? typeOver(mask_, mask_.editorText(QString()), 0, 0, typed)
                                        : typeOverSelection(typed);
    if (!result.accepted) {
        grid_->refuseKey();
        return false;
    }
    if (!grid_->beginCellChange())
        return false;
    showTyped(result);
    return true;
}

TEditMask::Typed TCellEditor::typeOverSelection(QStringView typed) const {
    const bool selection = hasSelectedText();
    const int from = selection ? selectionStart() : cursorPosition();
    const int to = selection ? selectionEnd() : from;
    return typeOver(mask_, text(), from, to, typed);
}

void TCellEditor::showTyped(const TEditMask::Typed& typed) {
    setText(typed.text);
    setCursorPosition(typed.cursor);
}

// Backspace, Del, cut and paste within a mask: positions are cleared, never removed, and
// literals stay. Returns false for keys the line edit handles itself.
bool TCellEditor::maskedKey(QKeyEvent* event) {
    const int key = event->key();
    const bool erase = key == Qt::Key_Backspace || key == Qt::Key_Delete;
    if (event->matches(QKeySequence::Paste) || key == Qt::Key_Insert) {
        showTyped(typeOverSelection(QApplication::clipboard()->text()));
    } else if (event->matches(QKeySequence::Cut)) {
        copy();
        showTyped(typeOverSelection({}));
    } else if (erase && hasSelectedText()) {
        showTyped(typeOverSelection({}));
    } else if (key == Qt::Key_Backspace) {
        const int prior = mask_.priorEditable(cursorPosition());
        if (prior >= 0)
            showTyped({true, mask_.clearAt(text(), prior), prior});
    } else if (key == Qt::Key_Delete) {
        const int cursor = cursorPosition();
        showTyped({true, mask_.clearAt(text(), mask_.nextEditable(cursor)), cursor});
    } else {
        return false;
    }
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
            if (!typeCharacter(c, Over::Selection))
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
