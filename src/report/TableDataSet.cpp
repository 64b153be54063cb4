#include "report/TableDataSet.h"

#include "data/Field.h"
#include "data/Table.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace lv26 {

QString TableDataSet::name() const {
    return dataSet_->objectName();
}

bool TableDataSet::isOpen() const {
    return dataSet_->Active();
}

void TableDataSet::first() {
    currencyTexts_.clear(); // the regional settings may have changed since the last run
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
    return int(std::min<qint64>(table->StoredRowCount(), std::numeric_limits<int>::max()));
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
    const TField* field = dataSet_->Fields().at(index);
    if (!dynamic_cast<const TCurrencyField*>(field))
        return field->DisplayText();
    const QVariant value = field->Value();
    if (value.isNull())
        return {};
    // The bits tell -0 from 0, whose texts may differ.
    const quint64 number = std::bit_cast<quint64>(value.toDouble());
    const auto it = currencyTexts_.constFind(number);
    if (it != currencyTexts_.constEnd())
        return *it;
    if (currencyTexts_.size() >= 65536)
        currencyTexts_.clear();
    const QString text = field->DisplayText();
    currencyTexts_.insert(number, text);
    return text;
}

} // namespace lv26
