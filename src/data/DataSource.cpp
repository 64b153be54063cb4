#include "data/DataSource.h"

#include "data/Field.h"

#include <algorithm>

namespace lv26 {

// ---- TDataSource ------------------------------------------------------------------------

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

TDataSource::~TDataSource() {
    setDataSet(nullptr);
    for (TDataLink* link : std::as_const(links_))
        link->dataSource_ = nullptr;
}

void TDataSource::setDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_)
        return;
    TDataSet* old = dataSet_;
    if (old)
        old->removeDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_)
        dataSet_->addDataSource(this);
    if (old)
        old->updateBufferCount();
    if (dataSet_)
        dataSet_->updateBufferCount();
    const QList<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->dataEvent(DataEvent::ActiveChange, 0);
}

void TDataSource::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    const QList<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->dataEvent(DataEvent::ActiveChange, 0);
}

DataSetState TDataSource::State() const {
    return dataSet_ ? dataSet_->State() : DataSetState::Inactive;
}

void TDataSource::Edit() {
    if (autoEdit_ && dataSet_ && dataSet_->State() == DataSetState::Browse)
        dataSet_->Edit();
}

bool TDataSource::notify(DataEvent event, qintptr info) {
    if (!enabled_ && event != DataEvent::ActiveChange)
        return false;
    const QList<TDataLink*> links = links_;
    for (TDataLink* link : links) {
        if (links_.contains(link) && link->dataEvent(event, info))
            return true;
    }
    return false;
}

// ---- TDataLink --------------------------------------------------------------------------

TDataLink::~TDataLink() {
    if (dataSource_) {
        dataSource_->links_.removeOne(this);
        if (TDataSet* dataSet = dataSource_->DataSet())
            dataSet->updateBufferCount();
    }
}

void TDataLink::setDataSource(TDataSource* source) {
    if (source == dataSource_)
        return;
    if (dataSource_) {
        dataSource_->links_.removeOne(this);
        if (TDataSet* dataSet = dataSource_->DataSet())
            dataSet->updateBufferCount();
    }
    dataSource_ = source;
    if (dataSource_) {
        dataSource_->links_.append(this);
        if (TDataSet* dataSet = dataSource_->DataSet())
            dataSet->updateBufferCount();
    }
    dataEvent(DataEvent::ActiveChange, 0);
}

TDataSet* TDataLink::DataSet() const {
    return dataSource_ ? dataSource_->DataSet() : nullptr;
}

bool TDataLink::Active() const {
    TDataSet* dataSet = DataSet();
    return dataSet && dataSource_->Enabled() && dataSet->Active();
}

void TDataLink::setBufferCount(int count) {
    count = std::max(count, 1);
    if (count == bufferCount_)
        return;
    bufferCount_ = count;
    if (TDataSet* dataSet = DataSet())
        dataSet->updateBufferCount();
    updateFirstRecord(0);
}

int TDataLink::ActiveRecord() const {
    TDataSet* dataSet = DataSet();
    return Active() ? dataSet->ActiveRecord() - firstRecord_ : 0;
}

void TDataLink::setActiveRecord(int index) {
    if (Active())
        DataSet()->setActiveRecord(firstRecord_ + index);
}

int TDataLink::RecordCount() const {
    if (!Active())
        return 0;
    return std::clamp(DataSet()->RecordCount() - firstRecord_, 0, bufferCount_);
}

bool TDataLink::Editing() const {
    return Active() && DataSet()->Editing();
}

bool TDataLink::Edit() {
    if (!readOnly_ && dataSource_ && Active())
        dataSource_->Edit();
    return Editing();
}

void TDataLink::UpdateRecord() {
    if (updating_)
        return;
    updating_ = true;
    try {
        UpdateData();
    } catch (...) {
        updating_ = false;
        throw;
    }
    updating_ = false;
}

void TDataLink::DataSetScrolled(int) {
    DataSetChanged();
}

void TDataLink::RecordChanged(TField*) {}

bool TDataLink::FocusControl(TField*) {
    return false;
}

// Keeps this link's rows a run of the dataset's window that contains the current row, after
// the window scrolled by `windowShift` rows; returns how far this link's rows scrolled.
int TDataLink::updateFirstRecord(int windowShift) {
    const int old = firstRecord_;
    if (!Active()) {
        firstRecord_ = 0;
        return 0;
    }
    const TDataSet* dataSet = DataSet();
    const int active = dataSet->ActiveRecord();
    firstRecord_ -= windowShift;
    if (active < firstRecord_)
        firstRecord_ = active;
    if (active >= firstRecord_ + bufferCount_)
        firstRecord_ = active - bufferCount_ + 1;
    if (firstRecord_ + bufferCount_ > dataSet->RecordCount())
        firstRecord_ = std::min(firstRecord_, std::max(0, dataSet->RecordCount() - bufferCount_));
    firstRecord_ = std::max(firstRecord_, 0);
    return windowShift + firstRecord_ - old;
}

bool TDataLink::dataEvent(DataEvent event, qintptr info) {
    switch (event) {
    case DataEvent::FieldChange:
    case DataEvent::RecordChange:
        if (Active())
            RecordChanged(reinterpret_cast<TField*>(info));
        break;
    case DataEvent::DataSetChange:
        updateFirstRecord(0);
        if (Active())
            DataSetChanged();
        break;
    case DataEvent::DataSetScroll: {
        const int distance = updateFirstRecord(int(info));
        if (Active())
            DataSetScrolled(distance);
        break;
    }
    case DataEvent::LayoutChange:
        updateFirstRecord(int(info));
        if (Active())
            LayoutChanged();
        break;
    case DataEvent::UpdateRecord:
        if (Active())
            UpdateRecord();
        break;
    case DataEvent::UpdateState:
        if (Editing() != wasEditing_) {
            wasEditing_ = Editing();
            EditingChanged();
        }
        break;
    case DataEvent::CheckBrowseMode:
        if (Active())
            CheckBrowseMode();
        break;
    case DataEvent::FocusControl:
        return Active() && FocusControl(reinterpret_cast<TField*>(info));
    case DataEvent::ActiveChange:
        firstRecord_ = 0;
        updateFirstRecord(0);
        wasEditing_ = Editing();
        ActiveChanged();
        break;
    }
    return false;
}

} // namespace lv26
