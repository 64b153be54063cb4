#include "report/LISTUnit.h"

#include "report/ReportLayout.h"

namespace lv26 {

TListForm* ListForm = nullptr;

TListForm::TListForm(TDataSet* table1, QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("ListForm"));
    loadReportLayoutFile(Report1, layoutResource());
    setDataSet(table1);
}

TListForm::~TListForm() {
    if (ListForm == this)
        ListForm = nullptr;
}

void TListForm::setDataSet(TDataSet* table1) {
    Report1.setDataSet(nullptr);
    table1_.reset(table1 ? new TableDataSet(table1) : nullptr);
    Report1.setDataSet(table1_.get());
}

} // namespace lv26
