#pragma once

// Expressions of TReportExpr: parsed once per generation against the run's datasets into a
// tree of operators and operands, evaluated afresh for every print, and formatted with the
// element's mask. Nothing here raises: failures become error values.

#include <QList>
#include <QLocale>
#include <QString>
#include <memory>

namespace lv26 {

class ReportDataSet;

// A value of an expression: one of five kinds.
struct ExprValue {
    enum class Kind { Integer, Float, String, Boolean, Error };

    Kind kind = Kind::Error;
    qint32 integer = 0;
    double number = 0;
    QString text;
    bool boolean = false;

    static ExprValue fromInteger(qint32 v);
    static ExprValue fromFloat(double v);
    static ExprValue fromString(QString v);
    static ExprValue fromBoolean(bool v);
    static ExprValue error();

    bool isError() const { return kind == Kind::Error; }
    bool isNumeric() const { return kind == Kind::Integer || kind == Kind::Float; }
    // The value as a double; requires isNumeric().
    double toDouble() const { return kind == Kind::Integer ? integer : number; }
};

class ExprNode {
public:
    virtual ~ExprNode() = default;
    // Evaluates the subtree against the datasets' current rows. Never raises: unreadable
    // fields and unfit operations give an error value.
    virtual ExprValue evaluate() const = 0;
};

// Parses `text` against `dataSets` (searched in order for field references). The datasets
// must outlive the returned tree. Never fails: unknown names, unbalanced parentheses and
// other malformed parts become nodes that evaluate to an error value.
std::unique_ptr<ExprNode> parseExpression(const QString& text,
                                          const QList<ReportDataSet*>& dataSets);

// Formats `value` with `mask` under `locale`. Integers and floats use formatMask(), or plain
// decimal / general format when `mask` is empty; strings are shown as they are; booleans as
// "True" or "False"; an error value shows `expressionText`.
QString formatExprValue(const ExprValue& value, const QString& mask, const QString& expressionText,
                        const QLocale& locale);

// Formats `value` with a numeric mask of '0' (digit always shown), '#' (digit shown when
// significant), one '.' (decimal separator, shown as the locale's) and ',' (thousands
// grouping with the locale's separator); other characters are copied. Up to three sections
// separated by ';' give the formats of positive, negative and zero values. Rounds to the
// mask's decimals with halves away from zero, working on the value's 15 significant digits;
// a value that rounds to zero carries no minus sign. Example: "0.00" formats 1234.5 as
// "1234,50" under pt_BR and -0.005 as "-0,01".
QString formatMask(double value, const QString& mask, const QLocale& locale);

} // namespace lv26
