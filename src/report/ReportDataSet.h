#pragma once

// The view of a dataset that the report needs: its component name, moving through its rows,
// and reading its fields by position. The table layer's tables are adapted to it by
// TableDataSet; the report core itself knows nothing of the table layer's classes.

#include <QString>
#include <QVariant>

namespace lv26 {

// How a field's value enters an expression.
enum class ReportFieldKind { Integer, Float, String, Boolean, DateTime, Other };

class ReportDataSet {
public:
    virtual ~ReportDataSet() = default;

    // The component name the layout and expressions use ("Table1").
    virtual QString name() const = 0;
    virtual bool isOpen() const = 0;

    // Row movement; may raise the table layer's errors.
    virtual void first() = 0;
    virtual void next() = 0;
    virtual bool eof() const = 0;
    virtual int recordCount() const = 0;

    // Position of the field named `fieldName` (case ignored) among the dataset's fields, or
    // -1 when there is none.
    virtual int fieldIndex(const QString& fieldName) const = 0;
    // Requires 0 <= index < field count (an index fieldIndex() returned).
    virtual ReportFieldKind fieldKind(int index) const = 0;
    // The field's value in the current row: a null QVariant for a blank value, else an int,
    // double, QString, bool or QDateTime matching fieldKind(). May raise.
    virtual QVariant value(int index) const = 0;
    // The field's display text in the current row (empty for a blank value). May raise.
    virtual QString displayText(int index) const = 0;
};

} // namespace lv26
