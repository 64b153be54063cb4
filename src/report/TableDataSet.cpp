#include "report/TableDataSet.h"

#include "data/Field.h"
#include "data/Table.h"
#include "engine/TableEngine.h"

#include <algorithm>
#include <limits>

namespace lv26 {

QString TableDataSet::name() const {
    return dataSet_->objectName();
}

bool TableDataSet::isOpen() const {
    return dataSet_->Active();
}

void TableDataSet::first() {
    dataSet_->First();
}

void TableDataSet::next() {
    dataSet_->Next();
}

bool TableDataSet::eof() const {
    return dataSet_->Eof();
}

int TableDataSet::recordCount() const {
    if (!dataSet_->Active())
        return 0;
    auto* table = dynamic_cast<TTable*>(dataSet_);
    if (!table || table->MasterSource())
        return dataSet_->RecordCount();
    const std::unique_ptr<engine::Cursor> cursor =
        engine::open(table->TableName(), table->IndexName(), engine::OpenMode::ReadOnly);
    return int(std::min<qint64>(cursor->rowCount(), std::numeric_limits<int>::max()));
}

int TableDataSet::fieldIndex(const QString& fieldName) const {
    TField* field = dataSet_->FindField(fieldName);
    return field ? int(dataSet_->Fields().indexOf(field)) : -1;
}

ReportFieldKind TableDataSet::fieldKind(int index) const {
    switch (dataSet_->Fields().at(index)->Kind()) {
    case FieldKind::String:
        return ReportFieldKind::String;
    case FieldKind::Smallint:
    case FieldKind::Integer:
        return ReportFieldKind::Integer;
    case FieldKind::Currency:
        return ReportFieldKind::Float;
    }
    return ReportFieldKind::Other;
}

QVariant TableDataSet::value(int index) const {
    return dataSet_->Fields().at(index)->Value();
}

QString TableDataSet::displayText(int index) const {
    return dataSet_->Fields().at(index)->DisplayText();
}

} // namespace lv26
