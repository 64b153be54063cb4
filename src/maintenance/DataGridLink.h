#pragma once

// The data grid's link to its data source: each notice of the dataset goes to the grid's
// hook for it, and none once the grid is being destroyed. For the grid's own files only.

#include "maintenance/DataGrid.h"

namespace lv26 {

class TDataGrid::Link : public TDataLink {
public:
    explicit Link(TDataGrid* grid) : grid_(grid) {}

protected:
    void ActiveChanged() override {
        if (!grid_->destroying_)
            grid_->linkActiveChanged();
    }
    void DataSetChanged() override {
        if (!grid_->destroying_)
            grid_->linkDataChanged();
    }
    void DataSetScrolled(int) override {
        if (!grid_->destroying_)
            grid_->linkScrolled();
    }
    void RecordChanged(TField* field) override {
        if (!grid_->destroying_)
            grid_->linkRecordChanged(field);
    }
    void EditingChanged() override {
        if (!grid_->destroying_)
            grid_->linkEditingChanged();
    }
    void LayoutChanged() override {
        if (!grid_->destroying_)
            grid_->linkLayoutChanged();
    }
    void UpdateData() override {
        if (!grid_->destroying_)
            grid_->applyCell();
    }
    bool FocusControl(TField* field) override {
        return !grid_->destroying_ && grid_->linkFocusControl(field);
    }

private:
    TDataGrid* grid_;
};

} // namespace lv26
