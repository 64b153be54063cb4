#pragma once

// TDataSource connects data-aware controls to a dataset; TDataLink is a control's end of
// that connection. A control derives from TDataLink (or owns one), sets its DataSource and
// BufferCount, and overrides the hooks it needs. The dataset calls the hooks after (or, for
// CheckBrowseMode/UpdateData, before) each row operation, on the GUI thread; a hook may
// throw, which stops the dataset's operation when it has not yet changed anything
// (UpdateData, CheckBrowseMode) and otherwise reaches the caller of the operation.
//
// Lifetime: deleting any of dataset, data source or link detaches it from the others.

#include "data/DataSet.h"

#include <QList>
#include <QObject>

namespace lv26 {

class TDataSource : public QObject {
public:
    explicit TDataSource(QObject* parent = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return dataSet_; }
    // Binds to `dataSet` (not owned; may be nullptr). Links see ActiveChanged.
    void setDataSet(TDataSet* dataSet);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // With AutoEdit on (the default), a control that starts changing a value puts the
    // dataset into Edit state through Edit().
    bool AutoEdit() const { return autoEdit_; }
    void setAutoEdit(bool autoEdit) { autoEdit_ = autoEdit; }
    // The dataset's state; Inactive without a dataset.
    DataSetState State() const;
    // With AutoEdit on and the dataset in Browse state: DataSet()->Edit() (which inserts on
    // an empty dataset). Throws what Edit() throws.
    void Edit();

    const QList<TDataLink*>& Links() const { return links_; }

private:
    friend class TDataSet;
    friend class TDataLink;
    // Tells every link; true when a link consumed the event (FocusControl).
    bool notify(DataEvent event, qintptr info);

    TDataSet* dataSet_ = nullptr;
    QList<TDataLink*> links_;
    bool enabled_ = true;
    bool autoEdit_ = true;
};

class TDataLink {
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    // Attaches to `source` (not owned; may be nullptr); calls ActiveChanged when that
    // changes whether the link is active.
    void setDataSource(TDataSource* source);
    // The source's dataset, or nullptr.
    TDataSet* DataSet() const;
    // Attached to an enabled source whose dataset is open.
    bool Active() const;

    // Rows this link wants to see at once (at least 1); the dataset buffers the largest
    // count any link asks for. Changing it re-reads the window (LayoutChanged follows).
    int BufferCount() const { return bufferCount_; }
    void setBufferCount(int count);
    // The current row's index within this link's rows, 0 <= ActiveRecord < BufferCount.
    int ActiveRecord() const;
    // Makes row `index` of this link's rows the one fields read (see
    // TDataSet::setActiveRecord: for painting; restore afterwards). 0 <= index < RecordCount.
    void setActiveRecord(int index);
    // This link's rows actually buffered, 0..BufferCount.
    int RecordCount() const;
    // Active and the dataset in Edit or Insert state.
    bool Editing() const;
    // A read-only link never puts the dataset into editing.
    bool ReadOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // For a control that starts changing a value: unless read-only, asks the source to
    // Edit() (automatic edit); returns Editing() afterwards. Throws what Edit() throws.
    bool Edit();
    // Calls this link's UpdateData(), unless it is already running.
    void UpdateRecord();

protected:
    // Hooks; the defaults chain DataSetScrolled -> DataSetChanged -> RecordChanged(nullptr)
    // and LayoutChanged -> DataSetChanged.
    virtual void ActiveChanged() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    // The current row moved; `distance`: rows this link's window scrolled (+ toward the end).
    virtual void DataSetScrolled(int distance);
    // `field` changed value in the current row; nullptr: the whole row may have changed.
    virtual void RecordChanged(TField* field);
    virtual void EditingChanged() {}
    // Copy the control's pending value into its field (before a post or any settling).
    virtual void UpdateData() {}
    // The dataset is about to move or change state (detail tables settle here).
    virtual void CheckBrowseMode() {}
    // Take the focus to `field`'s control if this link shows it; return true when done (no
    // further link is asked).
    virtual bool FocusControl(TField* field);
    virtual void LayoutChanged() { DataSetChanged(); }

private:
    friend class TDataSource;
    friend class TDataSet;
    bool dataEvent(DataEvent event, qintptr info);
    int updateFirstRecord(int windowShift);

    TDataSource* dataSource_ = nullptr;
    int bufferCount_ = 1;
    int firstRecord_ = 0; // index of this link's first row in the dataset's window
    bool readOnly_ = false;
    bool updating_ = false;
    bool wasEditing_ = false;
};

} // namespace lv26
