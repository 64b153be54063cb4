#pragma once

// Payroll tables for the report benchmarks: `count` employees with keys in order, every
// seventh without hours, in new table files of the existing folder `dir`.

#include "data/PayrollSchema.h"
#include "engine/TableEngine.h"

#include <QDir>
#include <QString>

namespace lv26::bench {

// `namePattern` gives each employee's name from its number ("%1").
inline void fillEmployees(const QString& dir, int count, const QString& namePattern) {
    createPayrollTables(dir);
    int next = 0;
    engine::appendRows(QDir(dir).filePath(QStringLiteral("Func.DB")), [&](engine::Row& row) {
        if (next == count)
            return false;
        ++next;
        row = {QStringLiteral("%1").arg(next, 5, 36, QLatin1Char('0')).toUpper(),
               namePattern.arg(next),
               QStringLiteral("12345678909"),
               QStringLiteral("M"),
               10.0 + next % 50 * 0.25,
               next % 7 == 0 ? QVariant() : QVariant(100 + next % 80)};
        return true;
    });
}

} // namespace lv26::bench
