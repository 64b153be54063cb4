#include "maintenance/DataGrid.h"

#include "base/Messages.h"
#include "maintenance/DataGridLink.h"
#include "maintenance/Glyphs.h"
#include "widgets/ErrorBox.h"

#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <qdrawutil.h>

namespace lv26 {

namespace {

constexpr int kResizeMargin = 2;

} // namespace

bool confirmDelete() {
    QMessageBox box(QMessageBox::Question, msg(Message::ConfirmCaption),
                    msg(Message::DeleteRecordQuestion), QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Ok;
}

// ---- the grid -------------------------------------------------------------------------------

TDataGrid::TDataGrid(QWidget* parent)
    : QAbstractScrollArea(parent), link_(std::make_unique<Link>(this)),
      editor_(new TCellEditor(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setRange(0, 4);
    verticalScrollBar()->setPageStep(1);
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, &TDataGrid::scrollAction);
    connect(verticalScrollBar(), &QAbstractSlider::sliderReleased, this,
            &TDataGrid::scrollReleased);
    updateMetrics();
}

TDataGrid::~TDataGrid() {
    // The link must not call back into a half-destroyed grid; detaching re-reads the
    // dataset's window, whose errors have nowhere to go from here.
    destroying_ = true;
    try {
        link_->setDataSource(nullptr);
    } catch (...) {
    }
}

TDataSource* TDataGrid::DataSource() const {
    return link_->DataSource();
}

void TDataGrid::setDataSource(TDataSource* source) {
    link_->setDataSource(source);
    updateBufferCount();
}

QStringList TDataGrid::columnNames() const {
    QStringList names;
    for (const Column& column : columns_)
        names << column.fieldName;
    return names;
}

void TDataGrid::setColumnNames(const QStringList& names) {
    columns_.clear();
    for (const QString& name : names)
        columns_.push_back(Column{name, nullptr, 64, false});
    currentCol_ = 0;
    bindFields();
    viewport()->update();
}

QString TDataGrid::columnFieldName(int col) const {
    return col >= 0 && col < columnCount() ? columns_[size_t(col)].fieldName : QString();
}

int TDataGrid::columnWidth(int col) const {
    return col >= 0 && col < columnCount() ? columns_[size_t(col)].width : 0;
}

void TDataGrid::setColumnWidth(int col, int width) {
    if (col < 0 || col >= columnCount())
        return;
    columns_[size_t(col)].width = std::max(width, 1);
    columns_[size_t(col)].userWidth = true;
    updateScrollBars();
    updateEditorGeometry();
    viewport()->update();
}

void TDataGrid::moveColumn(int from, int to) {
    if (from < 0 || from >= columnCount() || to < 0 || to >= columnCount() || from == to)
        return;
    const bool wasCurrent = from == currentCol_;
    Column moved = columns_[size_t(from)];
    columns_.erase(columns_.begin() + from);
    columns_.insert(columns_.begin() + to, moved);
    if (wasCurrent)
        currentCol_ = to;
    else if (from < currentCol_ && to >= currentCol_)
        --currentCol_;
    else if (from > currentCol_ && to <= currentCol_)
        ++currentCol_;
    updateEditorGeometry();
    viewport()->update();
}

int TDataGrid::defaultColumnWidth(int col) const {
    const Column& column = columns_[size_t(col)];
    const QFontMetrics fm(font());
    const int chars = column.field ? column.field->DisplayWidth() : 10;
    const QString title = column.field ? column.field->FieldName() : column.fieldName;
    const int width = fm.horizontalAdvance(QLatin1Char('0')) * chars + 4;
    return std::max(width, fm.horizontalAdvance(title) + 4);
}

int TDataGrid::visibleRowCount() const {
    return std::max(1, (viewport()->height() - titleHeight_) / rowHeight_);
}

int TDataGrid::columnLeft(int col) const {
    int x = indicatorWidth - horizontalScrollBar()->value();
    for (int c = 0; c < col && c < columnCount(); ++c)
        x += columns_[size_t(c)].width;
    return x;
}

QRect TDataGrid::cellRect(int row, int col) const {
    const int top = row < 0 ? 0 : titleHeight_ + row * rowHeight_;
    const int height = row < 0 ? titleHeight_ : rowHeight_;
    if (col < 0)
        return QRect(0, top, indicatorWidth, height);
    return QRect(columnLeft(col), top, columnWidth(col), height);
}

int TDataGrid::columnAt(int x) const {
    if (x < indicatorWidth)
        return -1;
    for (int c = 0; c < columnCount(); ++c) {
        const int left = columnLeft(c);
        if (x >= left && x < left + columnWidth(c))
            return c;
    }
    return -2;
}

int TDataGrid::rowAt(int y) const {
    if (y < titleHeight_)
        return -1;
    return (y - titleHeight_) / rowHeight_;
}

// The column whose right edge lies under `pos` in the title row, or -1.
int TDataGrid::resizeEdgeAt(const QPoint& pos) const {
    if (pos.y() >= titleHeight_)
        return -1;
    for (int c = 0; c < columnCount(); ++c) {
        const int edge = columnLeft(c) + columnWidth(c) - 1;
        if (std::abs(pos.x() - edge) <= kResizeMargin)
            return c;
    }
    return -1;
}

TField* TDataGrid::currentField() const {
    if (currentCol_ < 0 || currentCol_ >= columnCount() || !link_->Active())
        return nullptr;
    return columns_[size_t(currentCol_)].field;
}

bool TDataGrid::isTabStop(int col) const {
    const TField* field = col >= 0 && col < columnCount() ? columns_[size_t(col)].field : nullptr;
    return field && !field->Calculated() && !field->ReadOnly();
}

int TDataGrid::tabStopFrom(int col, int step) const {
    for (int c = col; c >= 0 && c < columnCount(); c += step)
        if (isTabStop(c))
            return c;
    return -1;
}

bool TDataGrid::canEditCell() const {
    const TField* field = currentField();
    return !readOnly_ && !link_->ReadOnly() && field && field->CanModify();
}

int TDataGrid::rowCount() const {
    return link_->RecordCount();
}

int TDataGrid::activeRow() const {
    return link_->ActiveRecord();
}

QString TDataGrid::cellText(int row, int col) const {
    if (!link_->Active() || row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return {};
    TField* field = columns_[size_t(col)].field;
    if (!field)
        return {};
    const int saved = link_->ActiveRecord();
    link_->setActiveRecord(row);
    const QString text = field->DisplayText();
    link_->setActiveRecord(saved);
    return text;
}

int TDataGrid::scrollPosition() const {
    const TDataSet* dataSet = link_->DataSet();
    if (!link_->Active() || dataSet->Bof())
        return 0;
    return dataSet->Eof() ? 4 : 2;
}

// ---- layout -------------------------------------------------------------------------------

void TDataGrid::bindFields() {
    TDataSet* dataSet = link_->Active() ? link_->DataSet() : nullptr;
    for (Column& column : columns_) {
        column.field = dataSet ? dataSet->FindField(column.fieldName) : nullptr;
        if (!column.userWidth)
            column.width = 0;
    }
    for (int c = 0; c < columnCount(); ++c)
        if (!columns_[size_t(c)].userWidth)
            columns_[size_t(c)].width = defaultColumnWidth(c);
    const int firstTabStop = tabStopFrom(0, 1);
    if (!isTabStop(currentCol_) && firstTabStop >= 0)
        currentCol_ = firstTabStop;
    updateScrollBars();
}

void TDataGrid::updateMetrics() {
    const QFontMetrics fm(font());
    rowHeight_ = fm.boundingRect(QStringLiteral("Wg")).height() + 3 + 1;
    rowHeight_ = std::max(rowHeight_, fm.height() + 3 + 1);
    titleHeight_ = fm.height() + 4;
    editor_->setFont(font());
}

void TDataGrid::updateBufferCount() {
    link_->setBufferCount(visibleRowCount());
}

void TDataGrid::updateScrollBars() {
    int total = 0;
    for (const Column& column : columns_)
        total += column.width;
    const int room = std::max(0, viewport()->width() - indicatorWidth);
    horizontalScrollBar()->setRange(0, std::max(0, total - room));
    horizontalScrollBar()->setPageStep(std::max(1, room));
    horizontalScrollBar()->setSingleStep(8);
    verticalScrollBar()->setSliderPosition(scrollPosition());
}

void TDataGrid::scrollToCurrentColumn() {
    if (currentCol_ < 0 || currentCol_ >= columnCount())
        return;
    QScrollBar* bar = horizontalScrollBar();
    const int left = columnLeft(currentCol_) + bar->value() - indicatorWidth;
    const int room = std::max(0, viewport()->width() - indicatorWidth);
    if (left < bar->value())
        bar->setValue(left);
    else if (left + columnWidth(currentCol_) > bar->value() + room)
        bar->setValue(std::min(left, left + columnWidth(currentCol_) - room));
}

void TDataGrid::updateEditorGeometry() {
    if (!editorMode_ || !link_->Active()) {
        return;
    }
    const QRect cell = cellRect(activeRow(), currentCol_);
    editor_->setGeometry(cell.adjusted(1, 1, -1, -1));
    const TField* field = currentField();
    editor_->setAlignment((field ? field->Alignment() : Qt::AlignLeft) | Qt::AlignVCenter);
}

// ---- link hooks -----------------------------------------------------------------------------

void TDataGrid::linkActiveChanged() {
    bindFields();
    cellChanged_ = false;
    if (!link_->Active())
        hideEditor();
    viewport()->update();
}

void TDataGrid::linkDataChanged() {
    if (columnCount() > 0 && link_->Active() && !columns_.front().field &&
        !columns_.front().fieldName.isEmpty())
        bindFields();
    cellChanged_ = false;
    reloadShownEditor();
    updateScrollBars();
    updateEditorGeometry();
    viewport()->update();
}

// The buffered rows changed in number (the grid or another control of the same data source
// was resized), not in content: the cell being typed and its flag stay.
void TDataGrid::linkLayoutChanged() {
    if (columnCount() > 0 && !columns_.front().field && !columns_.front().fieldName.isEmpty())
        bindFields();
    updateScrollBars();
    updateEditorGeometry();
    viewport()->update();
}

void TDataGrid::linkScrolled() {
    cellChanged_ = false;
    hideEditor();
    updateScrollBars();
    viewport()->update();
    Q_EMIT currentCellChanged();
}

void TDataGrid::linkRecordChanged(TField* field) {
    if (field == nullptr || field == currentField()) {
        cellChanged_ = false;
        reloadShownEditor();
    }
    viewport()->update();
}

void TDataGrid::linkEditingChanged() {
    viewport()->update();
}

bool TDataGrid::linkFocusControl(TField* field) {
    int col = -1;
    for (int c = 0; c < columnCount(); ++c)
        if (columns_[size_t(c)].field == field)
            col = c;
    if (col < 0 || !isVisible())
        return false;
    if (col != currentCol_) {
        currentCol_ = col;
        scrollToCurrentColumn();
    }
    if (!hasGridFocus())
        setFocus(Qt::OtherFocusReason);
    showEditor();
    return true;
}

// ---- the editor ---------------------------------------------------------------------------

void TDataGrid::reloadEditor() {
    TField* field = currentField();
    if (!field)
        return;
    editor_->loadRaw(field->EditText());
}

// A hidden editor is loaded when it is shown, so the moves of a table whose grid shows no
// editor (a window not on screen, for one) do not format the current cell's text each time.
void TDataGrid::reloadShownEditor() {
    if (editorMode_)
        reloadEditor();
}

void TDataGrid::showEditor() {
    TField* field = currentField();
    if (!field)
        return;
    if (!field->EditMask().isEmpty())
        editor_->setLimits(TEditMask(field->EditMask()), 0);
    else
        editor_->setLimits(TEditMask(), field->Kind() == FieldKind::String && field->Size() > 0
                                            ? field->Size()
                                            : TCellEditor::unlimitedLength);
    // A change not yet applied survives hiding and showing the editor again.
    if (!cellChanged_)
        reloadEditor();
    editor_->setReadOnly(!canEditCell());
    editorMode_ = true;
    updateEditorGeometry();
    editor_->show();
    editor_->selectAll();
    if (hasGridFocus())
        editor_->setFocus(Qt::OtherFocusReason);
    viewport()->update();
    Q_EMIT currentCellChanged();
}

void TDataGrid::hideEditor() {
    if (!editorMode_)
        return;
    editorMode_ = false;
    if (editor_->hasFocus())
        setFocus(Qt::OtherFocusReason);
    editor_->hide();
    viewport()->update();
    Q_EMIT currentCellChanged();
}

void TDataGrid::applyCell() {
    if (!cellChanged_)
        return;
    TField* field = currentField();
    if (!field) {
        cellChanged_ = false;
        return;
    }
    field->setText(editor_->rawText());
    cellChanged_ = false;
}

bool TDataGrid::beginCellChange() {
    if (!canEditCell())
        return false;
    if (!link_->Edit())
        return false;
    cellChanged_ = true;
    return true;
}

void TDataGrid::setCurrentColumn(int col) {
    if (col < 0 || col >= columnCount())
        return;
    if (col != currentCol_) {
        applyCell();
        hideEditor();
        currentCol_ = col;
    }
    scrollToCurrentColumn();
    viewport()->update();
    Q_EMIT currentCellChanged();
}

// ---- row actions --------------------------------------------------------------------------

bool TDataGrid::priorRow() {
    return guarded([this] {
        if (!link_->Active())
            return;
        TDataSet* dataSet = link_->DataSet();
        if (dataSet->State() == DataSetState::Insert && !dataSet->Modified() && !cellChanged_ &&
            dataSet->Eof())
            dataSet->Cancel();
        else
            dataSet->MoveBy(-1);
    });
}

bool TDataGrid::nextRow() {
    return guarded([this] {
        if (!link_->Active())
            return;
        TDataSet* dataSet = link_->DataSet();
        if (dataSet->State() == DataSetState::Insert && !dataSet->Modified() && !cellChanged_) {
            if (dataSet->Eof())
                return;
            dataSet->Cancel();
        } else {
            dataSet->MoveBy(1);
        }
        if (dataSet->Eof() && dataSet->CanModify() && !readOnly_)
            dataSet->Append();
    });
}

void TDataGrid::moveBy(int distance) {
    guarded([&] {
        if (link_->Active())
            link_->DataSet()->MoveBy(distance);
    });
}

void TDataGrid::deleteWithConfirmation() {
    guarded([this] {
        if (!link_->Active())
            return;
        TDataSet* dataSet = link_->DataSet();
        if (!dataSet->CanModify() || readOnly_ || (dataSet->Bof() && dataSet->Eof()))
            return;
        if (confirmDelete())
            dataSet->Delete();
    });
}

// ---- painting -------------------------------------------------------------------------------

void TDataGrid::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().color(QPalette::Window));
    paintRows(p);
    paintTitles(p);
}

void TDataGrid::paintTitles(QPainter& p) {
    const QPalette& pal = palette();
    const QRect corner = cellRect(-1, -1);
    qDrawWinButton(&p, corner.adjusted(0, 0, 0, 0), pal, false, &pal.brush(QPalette::Button));
    p.save();
    p.setClipRect(QRect(indicatorWidth, 0, viewport()->width(), titleHeight_));
    for (int c = 0; c < columnCount(); ++c) {
        const QRect rect = titleRect(c);
        if (rect.right() < indicatorWidth || rect.left() > viewport()->width())
            continue;
        qDrawShadePanel(&p, rect, pal, false, 1, &pal.brush(QPalette::Button));
        const Column& column = columns_[size_t(c)];
        const QString title = column.field ? column.field->FieldName() : column.fieldName;
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
    p.restore();
}

void TDataGrid::paintRows(QPainter& p) {
    const QPalette& pal = palette();
    const int rows = rowCount();
    const bool focused = hasGridFocus();
    const QColor lineColour = pal.color(QPalette::Mid);
    int saved = link_->Active() ? link_->ActiveRecord() : 0;
    // Indicator cells for the rows shown only: the area below them stays empty.
    for (int row = 0; row < rows; ++row) {
        const QRect ind = cellRect(row, -1);
        qDrawShadePanel(&p, ind, pal, false, 1, &pal.brush(QPalette::Button));
        if (row == saved)
            paintIndicator(p, ind);
    }
    p.save();
    p.setClipRect(QRect(indicatorWidth, titleHeight_, viewport()->width(), viewport()->height()));
    for (int row = 0; row < rows; ++row) {
        link_->setActiveRecord(row);
        for (int c = 0; c < columnCount(); ++c) {
            const QRect rect = cellRect(row, c);
            if (rect.right() < indicatorWidth || rect.left() > viewport()->width())
                continue;
            const QRect inner = rect.adjusted(0, 0, -1, -1);
            const bool current = focused && row == saved && c == currentCol_;
            p.fillRect(inner, pal.color(current ? QPalette::Highlight : QPalette::Base));
            p.setPen(lineColour);
            p.drawLine(rect.topRight(), rect.bottomRight());
            p.drawLine(rect.bottomLeft(), rect.bottomRight());
            TField* field = columns_[size_t(c)].field;
            if (!field)
                continue;
            p.setPen(pal.color(current ? QPalette::HighlightedText : QPalette::Text));
            p.drawText(inner.adjusted(2, 0, -2, 0), field->Alignment() | Qt::AlignVCenter,
                       field->DisplayText());
            if (current && !editorMode_) {
                QPen dotted(pal.color(QPalette::HighlightedText), 1, Qt::DotLine);
                p.setPen(dotted);
                p.drawRect(inner.adjusted(0, 0, -1, -1));
            }
        }
    }
    if (rows > 0)
        link_->setActiveRecord(saved);
    p.restore();
}

void TDataGrid::paintIndicator(QPainter& p, const QRect& rect) {
    const DataSetState state = link_->Active() ? link_->DataSet()->State() : DataSetState::Browse;
    const QPixmap image = rowIndicatorImage(state == DataSetState::Edit     ? RowImage::Edit
                                            : state == DataSetState::Insert ? RowImage::Insert
                                                                            : RowImage::Arrow,
                                            devicePixelRatioF());
    const QSize size = image.deviceIndependentSize().toSize();
    const int x = rect.right() - size.width();
    const int y = rect.top() + (rect.height() - size.height()) / 2;
    p.drawPixmap(x, y, image);
}

} // namespace lv26
