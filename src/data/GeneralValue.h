#pragma once

// Arithmetic on general values (QVariant: null, an integer, a floating-point number or text),
// as the payroll calculations use them.

#include <QVariant>

namespace lv26 {

// a + b: null on either side gives null; integer plus integer gives an integer (a qint64
// when the sum leaves the 32-bit range, so that storing it can refuse it instead of
// wrapping); otherwise both are read as floating point. Text is read as a number (regional
// rules); text that is not a number throws EDatabaseError.
QVariant addValues(const QVariant& a, const QVariant& b);

// Whether `v` holds an integer type (int, qint64, ...).
bool isIntegerValue(const QVariant& v);

} // namespace lv26
