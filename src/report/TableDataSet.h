#pragma once

// Adapts a dataset of the table layer (TTable and its fields) to the view the report reads.

#include "report/ReportDataSet.h"

#include <QHash>

namespace lv26 {

class TDataSet;

class TableDataSet : public ReportDataSet {
public:
    // Reads `dataSet`, which is not owned and must outlive the adapter. Its component name
    // is its objectName().
    explicit TableDataSet(TDataSet* dataSet) : dataSet_(dataSet) {}

    TDataSet* dataSet() const { return dataSet_; }

    QString name() const override;
    bool isOpen() const override;
    void first() override;
    void next() override;
    bool eof() const override;
    // For a TTable without a master, the rows of its table file as the storage counts them
    // (no row is read, the current row is not moved); for other datasets, the rows the
    // dataset holds.
    int recordCount() const override;
    int fieldIndex(const QString& fieldName) const override;
    ReportFieldKind fieldKind(int index) const override;
    QVariant value(int index) const override;
    // For a currency field, the texts of the values met are kept for the rest of the run (a
    // listing repeats its wages over and over); first() starts a run afresh.
    QString displayText(int index) const override;

private:
    TDataSet* dataSet_;
    mutable QHash<quint64, QString> currencyTexts_; // by the bits of the value
};

} // namespace lv26
