#include "data/DataSet.h"

#include "base/Messages.h"
#include "data/DataSource.h"
#include "data/Field.h"

#include <algorithm>

namespace lv26 {

TDataSet::TDataSet(QObject* parent) : QObject(parent) {
    buffers_.resize(1);
}

TDataSet::~TDataSet() {
    Close();
    for (TDataSource* source : std::as_const(dataSources_))
        source->dataSet_ = nullptr;
    const QList<TField*> fields = fields_;
    for (TField* field : fields) {
        field->dataSet_ = nullptr;
        delete field;
    }
}

QString TDataSet::componentName() const {
    return objectName();
}

// ---- opening ----------------------------------------------------------------------------

void TDataSet::Open() {
    if (Active())
        return;
    int calcSlot = 0;
    for (TField* field : std::as_const(fields_))
        field->calcSlot_ = field->Calculated() ? calcSlot++ : -1;
    cursor_ = openCursor();
    try {
        state_ = DataSetState::Browse;
        modified_ = false;
        locked_ = false;
        afterOpenCursor();
        int wanted = 1;
        for (TDataSource* source : std::as_const(dataSources_))
            for (TDataLink* link : std::as_const(source->links_))
                wanted = std::max(wanted, link->bufferCount_);
        buffers_.assign(size_t(wanted), Buffer());
        clearWindow();
        cursor_->moveToBof();
        cursorRowId_.reset();
        fillForward();
        bof_ = true;
        eof_ = recordCount_ == 0;
    } catch (...) {
        cursor_.reset();
        state_ = DataSetState::Inactive;
        clearWindow();
        throw;
    }
    dataEvent(DataEvent::ActiveChange);
}

void TDataSet::Close() {
    if (!Active())
        return;
    if (locked_) {
        try {
            cursor_->releaseLock();
        } catch (const Error&) {
            // the lock dies with the cursor anyway
        }
    }
    cursor_.reset();
    state_ = DataSetState::Inactive;
    locked_ = false;
    modified_ = false;
    bof_ = eof_ = true;
    clearWindow();
    dataEvent(DataEvent::ActiveChange);
}

// ---- fields -----------------------------------------------------------------------------

TField* TDataSet::FindField(const QString& name) const {
    for (TField* field : fields_) {
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field;
    }
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const {
    TField* field = FindField(name);
    if (!field)
        databaseError(Message::FieldNotFound, {componentName(), name});
    return field;
}

void TDataSet::setFieldColumn(TField* field, int column) {
    field->column_ = column;
}

QVariant TDataSet::fieldValue(const TField* field) const {
    if (!Active() || activeRecord_ >= recordCount_)
        return QVariant();
    const Buffer& buffer = buffers_[size_t(activeRecord_)];
    if (field->calcSlot_ >= 0)
        return field->calcSlot_ < buffer.calc.size() ? buffer.calc.at(field->calcSlot_)
                                                     : QVariant();
    return field->column_ >= 0 && field->column_ < buffer.row.size() ? buffer.row.at(field->column_)
                                                                     : QVariant();
}

void TDataSet::setFieldValue(TField* field, const QVariant& value) {
    if (!Active() || activeRecord_ >= recordCount_)
        databaseError(Message::NotEditing);
    Buffer& buffer = buffers_[size_t(activeRecord_)];
    if (field->Calculated()) {
        if (field->calcSlot_ >= 0 && field->calcSlot_ < buffer.calc.size())
            buffer.calc[field->calcSlot_] = value;
        return;
    }
    if (field->column_ < 0 || field->column_ >= buffer.row.size())
        databaseError(Message::FieldNotFound, {componentName(), field->FieldName()});
    buffer.row[field->column_] = value;
    modified_ = true;
    if (autoCalcFields_)
        calculateFields(activeRecord_);
    dataEvent(DataEvent::FieldChange, reinterpret_cast<qintptr>(field));
}

// ---- navigation -------------------------------------------------------------------------

void TDataSet::First() {
    checkActive();
    CheckBrowseMode();
    reloadFromFirst();
}

void TDataSet::reloadFromFirst() {
    clearWindow();
    cursor_->moveToBof();
    cursorRowId_.reset();
    fillForward();
    bof_ = true;
    eof_ = recordCount_ == 0;
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::Last() {
    checkActive();
    CheckBrowseMode();
    clearWindow();
    cursor_->moveToEof();
    cursorRowId_.reset();
    fillBackward(BufferCount());
    activeRecord_ = std::max(recordCount_ - 1, 0);
    bof_ = recordCount_ == 0;
    eof_ = true;
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::GotoBookmark(const engine::Bookmark& bookmark) {
    checkActive();
    CheckBrowseMode();
    cursorRowId_.reset(); // the row may have been written elsewhere: read it again
    bof_ = eof_ = false;
    resyncAround(bookmark, activeRecord_);
    dataEvent(DataEvent::DataSetChange);
}

int TDataSet::MoveBy(int distance) {
    checkActive();
    CheckBrowseMode();
    if (distance == 0 || recordCount_ == 0)
        return 0;
    bof_ = eof_ = false;
    int moved = 0;
    int shift = 0;
    const int steps = std::abs(distance);
    const bool forward = distance > 0;
    while (moved < steps) {
        if (forward && activeRecord_ < recordCount_ - 1) {
            ++activeRecord_;
        } else if (!forward && activeRecord_ > 0) {
            --activeRecord_;
        } else {
            const int scrolled = forward ? scrollForward() : scrollBackward();
            if (scrolled < 0) {
                (forward ? eof_ : bof_) = true;
                break;
            }
            shift += forward ? scrolled : -scrolled;
        }
        ++moved;
    }
    dataEvent(DataEvent::DataSetScroll, shift);
    return forward ? moved : -moved;
}

// Reads the row after the window and makes it current: 1 when the window scrolled, 0 when it
// grew, -1 when there is no further row.
int TDataSet::scrollForward() {
    positionOn(buffers_[size_t(recordCount_ - 1)].bookmark);
    Buffer buffer;
    if (!readRow(true, buffer))
        return -1;
    int scrolled = 0;
    if (recordCount_ == BufferCount()) {
        std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + recordCount_);
        --recordCount_;
        scrolled = 1;
    }
    buffers_[size_t(recordCount_)] = std::move(buffer);
    activeRecord_ = recordCount_++;
    calculateFields(activeRecord_);
    return scrolled;
}

int TDataSet::scrollBackward() {
    positionOn(buffers_[0].bookmark);
    Buffer buffer;
    if (!readRow(false, buffer))
        return -1;
    int scrolled = 0;
    if (recordCount_ == BufferCount()) {
        --recordCount_;
        scrolled = 1;
    }
    std::rotate(buffers_.begin(), buffers_.begin() + recordCount_,
                buffers_.begin() + recordCount_ + 1);
    buffers_[0] = std::move(buffer);
    ++recordCount_;
    activeRecord_ = 0;
    calculateFields(0);
    return scrolled;
}

// ---- editing ----------------------------------------------------------------------------

void TDataSet::CheckBrowseMode() {
    checkActive();
    dataEvent(DataEvent::CheckBrowseMode);
    if (!Editing())
        return;
    UpdateRecord();
    if (modified_)
        Post();
    else
        Cancel();
}

void TDataSet::UpdateRecord() {
    if (!Editing())
        databaseError(Message::NotEditing);
    dataEvent(DataEvent::UpdateRecord);
}

void TDataSet::Edit() {
    if (Editing())
        return;
    checkActive();
    if (recordCount_ == 0) {
        Insert();
        return;
    }
    checkCanModify();
    dataEvent(DataEvent::CheckBrowseMode);
    Buffer& buffer = buffers_[size_t(activeRecord_)];
    positionOn(buffer.bookmark);
    engine::Row row;
    cursor_->lockCurrent(row);
    ++rowsRead_;
    locked_ = true;
    buffer.row = row;
    state_ = DataSetState::Edit;
    modified_ = false;
    calculateFields(activeRecord_);
    saved_ = buffers_[size_t(activeRecord_)];
    setState(DataSetState::Edit);
    dataEvent(DataEvent::RecordChange);
}

void TDataSet::Insert() {
    checkActive();
    CheckBrowseMode();
    checkCanModify();
    beginInsert(recordCount_ == 0 ? 0 : activeRecord_);
}

void TDataSet::Append() {
    checkActive();
    CheckBrowseMode();
    checkCanModify();
    clearWindow();
    cursor_->moveToEof();
    cursorRowId_.reset();
    fillBackward(BufferCount() - 1);
    bof_ = false;
    eof_ = true;
    beginInsert(recordCount_);
}

// Puts a blank row at window index `index` (the rows from there move down, the last one
// drops out of a full window) and enters Insert state.
void TDataSet::beginInsert(int index) {
    insertAnchor_ = index < recordCount_ ? buffers_[size_t(index)].bookmark : engine::Bookmark();
    if (recordCount_ == BufferCount())
        --recordCount_;
    index = std::min(index, recordCount_);
    std::rotate(buffers_.begin() + index, buffers_.begin() + recordCount_,
                buffers_.begin() + recordCount_ + 1);
    buffers_[size_t(index)] = blankBuffer();
    ++recordCount_;
    activeRecord_ = index;
    state_ = DataSetState::Insert;
    calculateFields(index);
    try {
        initNewRecord();
    } catch (...) {
        state_ = DataSetState::Browse;
        resyncCurrent();
        throw;
    }
    modified_ = false;
    setState(DataSetState::Insert);
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::Post() {
    checkActive();
    UpdateRecord();
    dataEvent(DataEvent::CheckBrowseMode);
    checkRequiredFields();
    const Buffer& buffer = buffers_[size_t(activeRecord_)];
    if (state_ == DataSetState::Edit) {
        positionOn(buffer.bookmark);
        cursor_->updateCurrent(buffer.row);
        locked_ = false;
    } else {
        cursorRowId_.reset();
        cursor_->insertRow(buffer.row);
    }
    const engine::Bookmark written = cursor_->bookmark();
    if (written.isValid())
        cursorRowId_ = written.rowId();
    modified_ = false;
    setState(DataSetState::Browse);
    resyncAround(written, activeRecord_);
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::Cancel() {
    checkActive();
    if (!Editing())
        return;
    dataEvent(DataEvent::CheckBrowseMode);
    if (state_ == DataSetState::Edit) {
        if (locked_)
            cursor_->releaseLock();
        locked_ = false;
        buffers_[size_t(activeRecord_)] = saved_;
        modified_ = false;
        setState(DataSetState::Browse);
        resyncAround(saved_.bookmark, activeRecord_);
    } else {
        std::rotate(buffers_.begin() + activeRecord_, buffers_.begin() + activeRecord_ + 1,
                    buffers_.begin() + recordCount_);
        --recordCount_;
        modified_ = false;
        setState(DataSetState::Browse);
        if (insertAnchor_.isValid()) {
            resyncAround(insertAnchor_, activeRecord_);
        } else if (eof_) { // appended: back to the last row
            cursor_->moveToEof();
            cursorRowId_.reset();
            fillBackward(BufferCount());
            activeRecord_ = std::max(recordCount_ - 1, 0);
        } else {
            cursor_->moveToBof();
            cursorRowId_.reset();
            fillForward();
        }
        if (recordCount_ == 0)
            bof_ = eof_ = true;
    }
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::Delete() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        Cancel();
        return;
    }
    if (recordCount_ == 0)
        databaseError(Message::DataSetEmpty);
    checkCanModify();
    dataEvent(DataEvent::CheckBrowseMode);
    const engine::Bookmark removed = buffers_[size_t(activeRecord_)].bookmark;
    if (positionOn(removed))
        cursor_->deleteCurrent();
    cursorRowId_.reset();
    if (locked_) {
        cursor_->releaseLock();
        locked_ = false;
    }
    modified_ = false;
    setState(DataSetState::Browse);
    resyncAround(removed, activeRecord_);
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::Refresh() {
    checkActive();
    CheckBrowseMode();
    cursor_->refresh();
    cursorRowId_.reset();
    resyncCurrent();
    dataEvent(DataEvent::DataSetChange);
}

void TDataSet::checkRequiredFields() {
    for (TField* field : std::as_const(fields_)) {
        if (field->Required() && !field->Calculated() && field->IsNull()) {
            dataEvent(DataEvent::FocusControl, reinterpret_cast<qintptr>(field));
            databaseError(Message::FieldRequired, {field->FieldName()});
        }
    }
}

// ---- the window -------------------------------------------------------------------------

qint64 TDataSet::StoredRowCount() const {
    checkActive();
    return cursor_->rowCount();
}

void TDataSet::setActiveRecord(int index) {
    if (index >= 0 && index < recordCount_)
        activeRecord_ = index;
}

TDataSet::Buffer TDataSet::blankBuffer() const {
    Buffer buffer;
    const int columns = cursor_ ? int(cursor_->description().columns.size()) : 0;
    buffer.row = engine::Row(columns);
    return buffer;
}

bool TDataSet::readRow(bool forward, Buffer& buffer) {
    engine::Row row;
    ++rowsRead_;
    if (!(forward ? cursor_->next(row) : cursor_->prior(row))) {
        cursorRowId_.reset();
        return false;
    }
    buffer.row = std::move(row);
    buffer.calc.clear();
    buffer.bookmark = cursor_->bookmark();
    cursorRowId_ = buffer.bookmark.rowId();
    return true;
}

// Stands the cursor on `bookmark`'s row (no seek when it is already there). False when the
// row is gone: the cursor then stands between its neighbours.
bool TDataSet::positionOn(const engine::Bookmark& bookmark) {
    if (bookmark.isValid() && cursorRowId_ == bookmark.rowId())
        return true;
    const bool found = bookmark.isValid() && cursor_->gotoBookmark(bookmark);
    if (found)
        cursorRowId_ = bookmark.rowId();
    else
        cursorRowId_.reset();
    return found;
}

void TDataSet::calculateFields(int index) {
    Buffer& buffer = buffers_[size_t(index)];
    int slots = 0;
    for (TField* field : std::as_const(fields_))
        slots += field->calcSlot_ >= 0 ? 1 : 0;
    buffer.calc = QList<QVariant>(slots);
    if (slots == 0 || !onCalcFields_)
        return;
    const int previous = activeRecord_;
    const bool wasCalculating = calculating_;
    activeRecord_ = index;
    calculating_ = true;
    try {
        onCalcFields_(this);
    } catch (...) {
        activeRecord_ = previous;
        calculating_ = wasCalculating;
        throw;
    }
    activeRecord_ = previous;
    calculating_ = wasCalculating;
}

void TDataSet::clearWindow() {
    for (Buffer& buffer : buffers_)
        buffer = Buffer();
    recordCount_ = 0;
    activeRecord_ = 0;
}

// Appends rows after the window's last row until the window is full or the range ends.
void TDataSet::fillForward() {
    if (recordCount_ > 0)
        positionOn(buffers_[size_t(recordCount_ - 1)].bookmark);
    while (recordCount_ < BufferCount()) {
        Buffer buffer;
        if (!readRow(true, buffer))
            break;
        buffers_[size_t(recordCount_)] = std::move(buffer);
        ++recordCount_;
        calculateFields(recordCount_ - 1);
    }
}

// Prepends rows before the window's first row until it holds `limit` rows or the range
// starts; the current row stays the same row.
void TDataSet::fillBackward(int limit) {
    limit = std::min(limit, BufferCount());
    if (recordCount_ > 0)
        positionOn(buffers_[0].bookmark);
    while (recordCount_ < limit) {
        Buffer buffer;
        if (!readRow(false, buffer))
            break;
        std::rotate(buffers_.begin(), buffers_.begin() + recordCount_,
                    buffers_.begin() + recordCount_ + 1);
        buffers_[0] = std::move(buffer);
        if (recordCount_ > 0)
            ++activeRecord_;
        ++recordCount_;
        calculateFields(0);
    }
}

// Refills the window around the row of `bookmark` (or, when it is gone, the row that
// followed it, else the one before), keeping it at window index `preferredActive` where the
// rows before it allow. The bookmark is a copy: it may live in the window being refilled.
void TDataSet::resyncAround(engine::Bookmark bookmark, int preferredActive) {
    clearWindow();
    Buffer center;
    bool found = false;
    if (positionOn(bookmark)) {
        engine::Row row;
        ++rowsRead_;
        if (cursor_->current(row)) {
            center.row = std::move(row);
            center.bookmark = cursor_->bookmark();
            cursorRowId_ = center.bookmark.rowId();
            found = true;
        }
    }
    if (!found)
        found = readRow(true, center) || readRow(false, center);
    if (!found) {
        bof_ = eof_ = true;
        return;
    }
    if (bof_ && eof_)
        bof_ = eof_ = false; // no longer empty (a first row was posted)
    buffers_[0] = std::move(center);
    recordCount_ = 1;
    calculateFields(0);
    preferredActive = std::clamp(preferredActive, 0, BufferCount() - 1);
    fillBackward(preferredActive + 1);
    fillForward();
    fillBackward(BufferCount());
}

void TDataSet::resyncCurrent() {
    if (recordCount_ > 0 && buffers_[size_t(activeRecord_)].bookmark.isValid()) {
        resyncAround(buffers_[size_t(activeRecord_)].bookmark, activeRecord_);
        return;
    }
    clearWindow();
    cursor_->moveToBof();
    cursorRowId_.reset();
    fillForward();
    if (recordCount_ == 0)
        bof_ = eof_ = true;
}

void TDataSet::updateBufferCount() {
    int wanted = 1;
    for (TDataSource* source : std::as_const(dataSources_))
        for (TDataLink* link : std::as_const(source->links_))
            wanted = std::max(wanted, link->bufferCount_);
    if (wanted != BufferCount())
        setBufferCount(wanted);
}

void TDataSet::setBufferCount(int count) {
    int shift = 0;
    if (count < BufferCount()) {
        // Keep the current row: drop rows above it only as far as needed.
        shift = std::max(0, activeRecord_ - (count - 1));
        std::rotate(buffers_.begin(), buffers_.begin() + shift, buffers_.end());
        recordCount_ = std::min(recordCount_ - shift, count);
        activeRecord_ -= shift;
        buffers_.resize(size_t(count));
        recordCount_ = std::max(recordCount_, 0);
    } else {
        buffers_.resize(size_t(count));
        if (Active() && !Editing() && recordCount_ > 0) {
            fillForward();
            const int before = activeRecord_;
            fillBackward(count);
            shift = before - activeRecord_;
        }
    }
    if (Active())
        dataEvent(DataEvent::LayoutChange, shift);
}

void TDataSet::setState(DataSetState state) {
    state_ = state;
    dataEvent(DataEvent::UpdateState);
}

void TDataSet::checkActive() const {
    if (!Active())
        databaseError(Message::DataSetClosed);
}

void TDataSet::checkCanModify() const {
    if (!CanModify())
        databaseError(Message::DataSetReadOnly);
}

// ---- data sources -----------------------------------------------------------------------

void TDataSet::dataEvent(DataEvent event, qintptr info) {
    const QList<TDataSource*> sources = dataSources_;
    for (TDataSource* source : sources) {
        if (dataSources_.contains(source) && source->notify(event, info))
            return;
    }
}

void TDataSet::addDataSource(TDataSource* source) {
    if (!dataSources_.contains(source))
        dataSources_.append(source);
}

void TDataSet::removeDataSource(TDataSource* source) {
    dataSources_.removeOne(source);
}

} // namespace lv26
