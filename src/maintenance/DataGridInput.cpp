// The data grid's input: keys, focus, mouse, scroll bars and wheel.

#include "maintenance/DataGrid.h"

#include "maintenance/DataGridLink.h"
#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <exception>

namespace lv26 {

namespace {

// The wheel's angle delta of one notch of a mouse wheel: one row.
constexpr int kWheelNotch = 120;

// Eats the next mouse press on a widget that was about to take the focus from a grid that
// refused to let it go, so that the press does not go on to click it. The press goes to
// the widget under the pointer, which may be a child of the one that took the focus (a
// grid's viewport), so the whole application is watched until the press has passed.
class PressEater : public QObject {
public:
    explicit PressEater(QWidget* target) : target_(target) {
        qApp->installEventFilter(this);
        // A focus change that came from the keyboard brings no press.
        QTimer::singleShot(0, this, &QObject::deleteLater);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress &&
            event->type() != QEvent::MouseButtonDblClick)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !target_ || (widget != target_ && !target_->isAncestorOf(widget)))
            return false;
        target_ = nullptr;
        deleteLater();
        return true;
    }

private:
    QPointer<QWidget> target_;
};

} // namespace

// ---- keys -----------------------------------------------------------------------------------

bool TDataGrid::event(QEvent* event) {
    // Tab and Shift+Tab move between cells: they never leave the grid.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TDataGrid::keyPressEvent(QKeyEvent* event) {
    handleKey(event);
}

void TDataGrid::handleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = modifiersOf(event);
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    event->accept();
    if (moveKey(event->key(), ctrl))
        return;
    switch (event->key()) {
    case Qt::Key_Tab:
        if (!(mods & Qt::AltModifier))
            tabKey(!shift);
        return;
    case Qt::Key_Backtab:
        if (!(mods & Qt::AltModifier))
            tabKey(false);
        return;
    case Qt::Key_Insert:
        if (!shift)
            guarded([this] {
                if (link_->Active() && link_->DataSet()->CanModify() && !readOnly_)
                    link_->DataSet()->Insert();
            });
        return;
    case Qt::Key_Escape:
        escapeKey();
        return;
    case Qt::Key_F2:
        showEditor();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        enterKey();
        return;
    case Qt::Key_Delete:
        if (ctrl && !editorMode_)
            deleteWithConfirmation();
        return;
    default:
        break;
    }
    if (isTypedCharacter(event)) {
        typeKey(event);
        return;
    }
    event->ignore();
}

bool TDataGrid::moveKey(int key, bool ctrl) {
    const int last = columnCount() - 1;
    switch (key) {
    case Qt::Key_Up:
        if (ctrl)
            moveBy(-activeRow());
        else
            priorRow();
        return true;
    case Qt::Key_Down:
        if (ctrl)
            moveBy(rowCount() - 1 - activeRow());
        else
            nextRow();
        return true;
    case Qt::Key_PageUp:
        moveBy(ctrl ? -activeRow() : -visibleRowCount());
        return true;
    case Qt::Key_PageDown:
        moveBy(ctrl ? rowCount() - 1 - activeRow() : visibleRowCount());
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
        guarded([&] {
            if (!ctrl)
                setCurrentColumn(key == Qt::Key_Home ? 0 : last);
            else if (link_->Active())
                key == Qt::Key_Home ? link_->DataSet()->First() : link_->DataSet()->Last();
        });
        return true;
    case Qt::Key_Left:
        guarded([&] { setCurrentColumn(ctrl ? 0 : std::max(currentCol_ - 1, 0)); });
        return true;
    case Qt::Key_Right:
        guarded([&] { setCurrentColumn(ctrl ? last : std::min(currentCol_ + 1, last)); });
        return true;
    default:
        return false;
    }
}

void TDataGrid::tabKey(bool forward) {
    const int step = forward ? 1 : -1;
    const int next = tabStopFrom(currentCol_ + step, step);
    if (next >= 0) {
        guarded([&] { setCurrentColumn(next); });
        return;
    }
    // Past the last (before the first) tab stop: the next (prior) row, then the first (last)
    // tab stop.
    const int target = tabStopFrom(forward ? 0 : columnCount() - 1, step);
    if (!guarded([this] { applyCell(); }))
        return;
    // A row that could not be left (a required field, say) has made its own column
    // current; the first or last column is for a row actually reached.
    if (!(forward ? nextRow() : priorRow()))
        return;
    if (target >= 0 && target != currentCol_ && !cellChanged_)
        guarded([&] { setCurrentColumn(target); });
}

void TDataGrid::escapeKey() {
    guarded([this] {
        if (cellChanged_) {
            cellChanged_ = false;
            reloadEditor();
        } else if (link_->Active() && link_->DataSet()->Editing()) {
            link_->DataSet()->Cancel();
        }
    });
    hideEditor();
}

void TDataGrid::enterKey() {
    if (!guarded([this] { applyCell(); }))
        return;
    editorMode_ ? hideEditor() : showEditor();
}

void TDataGrid::typeKey(QKeyEvent* event) {
    if (!link_->Active() || !canEditCell()) {
        refuseKey();
        return;
    }
    const QChar c = event->text().at(0);
    showEditor();
    guarded([&] { editor_->replaceWith(c); });
}

void TDataGrid::refuseKey() {
    QApplication::beep();
    Q_EMIT keyRefused();
}

// ---- focus ----------------------------------------------------------------------------------

bool TDataGrid::hasGridFocus() const {
    return hasFocus() || editor_->hasFocus();
}

bool TDataGrid::takeFocus() {
    if (!hasGridFocus())
        setFocus(Qt::MouseFocusReason);
    return hasGridFocus();
}

void TDataGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    if (editorMode_ && !editor_->hasFocus())
        editor_->setFocus(Qt::OtherFocusReason);
    viewport()->update();
}

void TDataGrid::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    leaveGrid();
    viewport()->update();
}

// The focus moved on to another control of the window: an untouched new row is dropped,
// else the cell is applied. On failure the grid keeps the focus, the control that was to
// get it is not clicked, and the error is shown once the focus change is over.
void TDataGrid::leaveGrid() {
    QWidget* next = QApplication::focusWidget();
    if (!next || next == this || next == editor_ || next->window() != window())
        return;
    if (!link_->Active())
        return;
    try {
        TDataSet* dataSet = link_->DataSet();
        if (dataSet->State() == DataSetState::Insert && !dataSet->Modified() && !cellChanged_)
            dataSet->Cancel();
        else
            applyCell();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (editorMode_)
            editor_->setFocus(Qt::OtherFocusReason);
        else
            setFocus(Qt::OtherFocusReason);
        new PressEater(next);
        QTimer::singleShot(0, this, [error] {
            try {
                std::rethrow_exception(error);
            } catch (...) {
                handleCurrentException();
            }
        });
    }
}

// ---- mouse ----------------------------------------------------------------------------------

void TDataGrid::mousePressEvent(QMouseEvent* event) {
    if (!takeFocus())
        return;
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && pos.y() < titleHeight_) {
        if (!guarded([this] { applyCell(); }))
            return;
        const int edge = resizeEdgeAt(pos);
        const int col = edge >= 0 ? edge : columnAt(pos.x());
        if (col < 0)
            return;
        drag_ = edge >= 0 ? Drag::Resize : Drag::Move;
        dragCol_ = col;
        dragStartX_ = pos.x();
        dragStartWidth_ = columnWidth(col);
        return;
    }
    const int row = rowAt(pos.y());
    if (row < 0 || !link_->Active())
        return;
    const int col = columnAt(pos.x());
    const bool wasCurrent = row == activeRow() && col == currentCol_;
    hideEditor();
    if (row < rowCount() && row != activeRow() &&
        !guarded([&] { link_->DataSet()->MoveBy(row - activeRow()); }))
        return;
    if (col >= 0) {
        guarded([&] { setCurrentColumn(col); });
        if (wasCurrent && event->button() == Qt::LeftButton)
            showEditor();
    }
}

void TDataGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (drag_ == Drag::Resize) {
        setColumnWidth(dragCol_, dragStartWidth_ + pos.x() - dragStartX_);
        return;
    }
    if (drag_ == Drag::None)
        viewport()->setCursor(resizeEdgeAt(pos) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::Move) {
        int target = columnAt(event->position().toPoint().x());
        if (target == -2)
            target = columnCount() - 1;
        if (target >= 0)
            moveColumn(dragCol_, target);
    }
    drag_ = Drag::None;
    dragCol_ = -1;
}

// The second press of a double-click does nothing further.
void TDataGrid::mouseDoubleClickEvent(QMouseEvent*) {}

// ---- scrolling ------------------------------------------------------------------------------

void TDataGrid::scrollAction(int action) {
    QScrollBar* bar = verticalScrollBar();
    if (action == QAbstractSlider::SliderMove || action == QAbstractSlider::SliderNoAction)
        return;
    if (!takeFocus()) {
        bar->setSliderPosition(scrollPosition());
        return;
    }
    guarded([&] {
        if (!link_->Active())
            return;
        TDataSet* dataSet = link_->DataSet();
        switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            dataSet->MoveBy(-(activeRow() + 1));
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            dataSet->MoveBy(rowCount() - activeRow());
            break;
        case QAbstractSlider::SliderPageStepSub:
            dataSet->MoveBy(-visibleRowCount());
            break;
        case QAbstractSlider::SliderPageStepAdd:
            dataSet->MoveBy(visibleRowCount());
            break;
        case QAbstractSlider::SliderToMinimum:
            dataSet->First();
            break;
        case QAbstractSlider::SliderToMaximum:
            dataSet->Last();
            break;
        default:
            break;
        }
    });
    bar->setSliderPosition(scrollPosition());
}

// The thumb was dropped: 0 first row, 1 a page up, 3 a page down, 4 last row, 2 nothing.
void TDataGrid::scrollReleased() {
    QScrollBar* bar = verticalScrollBar();
    const int position = bar->sliderPosition();
    if (takeFocus()) {
        guarded([&] {
            if (!link_->Active())
                return;
            TDataSet* dataSet = link_->DataSet();
            if (position <= 0)
                dataSet->First();
            else if (position == 1)
                dataSet->MoveBy(-visibleRowCount());
            else if (position == 3)
                dataSet->MoveBy(visibleRowCount());
            else if (position >= 4)
                dataSet->Last();
        });
    }
    bar->setSliderPosition(scrollPosition());
}

void TDataGrid::scrollContentsBy(int, int) {
    updateEditorGeometry();
    viewport()->update();
}

bool TDataGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        wheelTurned(static_cast<QWheelEvent*>(event)->angleDelta().y());
        return true;
    }
    if (event->type() == QEvent::FontChange)
        updateMetrics();
    return QAbstractScrollArea::viewportEvent(event);
}

// Touchpads turn the wheel in small steps: they add up to whole notches of 120, one row
// each; a turn the other way starts afresh.
void TDataGrid::wheelTurned(int angleDelta) {
    if (angleDelta == 0 || !takeFocus())
        return;
    if ((angleDelta > 0) != (wheelDelta_ > 0))
        wheelDelta_ = 0;
    wheelDelta_ += angleDelta;
    const int notches = wheelDelta_ / kWheelNotch;
    wheelDelta_ -= notches * kWheelNotch;
    if (notches != 0)
        moveBy(-notches);
}

void TDataGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    guarded([this] { updateBufferCount(); });
    updateScrollBars();
    updateEditorGeometry();
}

} // namespace lv26
