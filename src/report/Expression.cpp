#include "report/Expression.h"

#include "data/Field.h"
#include "report/ReportDataSet.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace lv26 {

ExprValue ExprValue::fromInteger(qint32 v) {
    ExprValue r;
    r.kind = Kind::Integer;
    r.integer = v;
    return r;
}

ExprValue ExprValue::fromFloat(double v) {
    ExprValue r;
    r.kind = Kind::Float;
    r.number = v;
    return r;
}

ExprValue ExprValue::fromString(QString v) {
    ExprValue r;
    r.kind = Kind::String;
    r.text = std::move(v);
    return r;
}

ExprValue ExprValue::fromBoolean(bool v) {
    ExprValue r;
    r.kind = Kind::Boolean;
    r.boolean = v;
    return r;
}

ExprValue ExprValue::error() {
    return {};
}

namespace {

using Kind = ExprValue::Kind;

enum class Op { Eq, Ne, Lt, Le, Gt, Ge, Add, Sub, Or, Mul, Div, And };

// ----- nodes -----

class ConstantNode : public ExprNode {
public:
    explicit ConstantNode(ExprValue value) : value_(std::move(value)) {}
    ExprValue evaluate() const override { return value_; }

private:
    ExprValue value_;
};

class FieldNode : public ExprNode {
public:
    FieldNode(ReportDataSet* dataSet, int index) : dataSet_(dataSet), index_(index) {}

    ExprValue evaluate() const override {
        try {
            if (!dataSet_->isOpen())
                return ExprValue::error();
            return convert(dataSet_->value(index_));
        } catch (...) {
            return ExprValue::error(); // an unreadable field is an error value, never a failure
        }
    }

private:
    ExprValue convert(const QVariant& v) const {
        switch (dataSet_->fieldKind(index_)) {
        case ReportFieldKind::Integer:
            return ExprValue::fromInteger(v.isNull() ? 0 : v.toInt());
        case ReportFieldKind::Float:
            return ExprValue::fromFloat(v.isNull() ? 0.0 : v.toDouble());
        case ReportFieldKind::String:
            return ExprValue::fromString(v.toString());
        case ReportFieldKind::Boolean:
            return ExprValue::fromBoolean(v.toBool());
        case ReportFieldKind::DateTime:
            return ExprValue::fromString(
                v.isNull() ? QString() : QLocale().toString(v.toDateTime(), QLocale::ShortFormat));
        case ReportFieldKind::Other:
            break;
        }
        return ExprValue::error();
    }

    ReportDataSet* dataSet_;
    int index_;
};

class NegateNode : public ExprNode {
public:
    explicit NegateNode(std::unique_ptr<ExprNode> operand) : operand_(std::move(operand)) {}

    ExprValue evaluate() const override {
        ExprValue v = operand_->evaluate();
        if (v.kind == Kind::Integer && v.integer != std::numeric_limits<qint32>::min())
            return ExprValue::fromInteger(-v.integer);
        if (v.isNumeric())
            return ExprValue::fromFloat(-v.toDouble());
        return ExprValue::error();
    }

private:
    std::unique_ptr<ExprNode> operand_;
};

// An integer result when it fits in 32 bits, else the exact value as a float.
ExprValue integerResult(qint64 v) {
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return ExprValue::fromFloat(static_cast<double>(v));
    return ExprValue::fromInteger(static_cast<qint32>(v));
}

ExprValue arithmetic(Op op, const ExprValue& a, const ExprValue& b) {
    if (op == Op::Add && a.kind == Kind::String && b.kind == Kind::String)
        return ExprValue::fromString(a.text + b.text);
    if (!a.isNumeric() || !b.isNumeric())
        return ExprValue::error();
    if (op == Op::Div) {
        if (b.toDouble() == 0.0)
            return ExprValue::error();
        return ExprValue::fromFloat(a.toDouble() / b.toDouble());
    }
    if (a.kind == Kind::Integer && b.kind == Kind::Integer) {
        const qint64 x = a.integer, y = b.integer;
        return integerResult(op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y);
    }
    const double x = a.toDouble(), y = b.toDouble();
    return ExprValue::fromFloat(op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y);
}

// Returns <0, 0, >0, or nullopt for values that cannot be compared.
std::optional<int> compareValues(const ExprValue& a, const ExprValue& b) {
    if (a.isNumeric() && b.isNumeric()) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (a.kind == Kind::String && b.kind == Kind::String)
        return QString::compare(a.text, b.text);
    if (a.kind == Kind::Boolean && b.kind == Kind::Boolean)
        return int(a.boolean) - int(b.boolean);
    return std::nullopt;
}

ExprValue comparison(Op op, const ExprValue& a, const ExprValue& b) {
    const std::optional<int> c = compareValues(a, b);
    if (!c)
        return ExprValue::error();
    switch (op) {
    case Op::Eq:
        return ExprValue::fromBoolean(*c == 0);
    case Op::Ne:
        return ExprValue::fromBoolean(*c != 0);
    case Op::Lt:
        return ExprValue::fromBoolean(*c < 0);
    case Op::Le:
        return ExprValue::fromBoolean(*c <= 0);
    case Op::Gt:
        return ExprValue::fromBoolean(*c > 0);
    default:
        return ExprValue::fromBoolean(*c >= 0);
    }
}

class BinaryNode : public ExprNode {
public:
    BinaryNode(Op op, std::unique_ptr<ExprNode> left, std::unique_ptr<ExprNode> right)
        : op_(op), left_(std::move(left)), right_(std::move(right)) {}

    ExprValue evaluate() const override {
        const ExprValue a = left_->evaluate();
        const ExprValue b = right_->evaluate();
        if (a.isError() || b.isError())
            return ExprValue::error();
        switch (op_) {
        case Op::Add:
        case Op::Sub:
        case Op::Mul:
        case Op::Div:
            return arithmetic(op_, a, b);
        case Op::Or:
        case Op::And:
            if (a.kind != Kind::Boolean || b.kind != Kind::Boolean)
                return ExprValue::error();
            return ExprValue::fromBoolean(op_ == Op::Or ? a.boolean || b.boolean
                                                        : a.boolean && b.boolean);
        default:
            return comparison(op_, a, b);
        }
    }

private:
    Op op_;
    std::unique_ptr<ExprNode> left_, right_;
};

// ----- parser -----

enum class Level { Comparison, Additive, Multiplicative };

struct Split {
    int pos = -1; // where the operator starts
    int len = 0;  // characters the operator takes
    Op op = Op::Add;
};

bool isOperatorChar(QChar c) {
    return QStringView(u"+-*/<>=(").contains(c);
}

// A '+' or '-' directly after another operator (spaces aside) is a sign, not an operator.
bool isSign(const QString& text, int pos) {
    for (int i = pos - 1; i >= 0; --i) {
        if (text[i] != u' ')
            return isOperatorChar(text[i]);
    }
    return true;
}

bool wordAt(const QString& text, int pos, QStringView word) {
    return QStringView(text).mid(pos, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

// Returns the operator of `level` starting at `i`, if one does.
std::optional<Split> operatorAt(const QString& text, int i, Level level) {
    const QChar c = text[i];
    const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
    switch (level) {
    case Level::Comparison:
        if (c == u'<')
            return next == u'='   ? Split{i, 2, Op::Le}
                   : next == u'>' ? Split{i, 2, Op::Ne}
                                  : Split{i, 1, Op::Lt};
        if (c == u'>')
            return next == u'=' ? Split{i, 2, Op::Ge} : Split{i, 1, Op::Gt};
        if (c == u'=' && (i == 0 || (text[i - 1] != u'<' && text[i - 1] != u'>')))
            return Split{i, 1, Op::Eq};
        break;
    case Level::Additive:
        if ((c == u'+' || c == u'-') && !isSign(text, i))
            return Split{i, 1, c == u'+' ? Op::Add : Op::Sub};
        if (c == u' ' && wordAt(text, i + 1, u"or "))
            return Split{i, 3, Op::Or};
        break;
    case Level::Multiplicative:
        if (c == u'*' || c == u'/')
            return Split{i, 1, c == u'*' ? Op::Mul : Op::Div};
        if (c == u' ' && wordAt(text, i + 1, u"and "))
            return Split{i, 4, Op::And};
        break;
    }
    return std::nullopt;
}

// Finds the operator of `level` at parenthesis depth 0 and outside quotes, from the second
// character on. Comparisons split at the first one; the additive and multiplicative levels
// split at the last one, so that "a - b - c" groups as "(a - b) - c".
std::optional<Split> findOperator(const QString& text, Level level) {
    std::optional<Split> found;
    int depth = 0;
    QChar quote;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            --depth;
        } else if (depth == 0 && i >= 1) {
            if (std::optional<Split> s = operatorAt(text, i, level)) {
                found = s;
                if (level == Level::Comparison)
                    return found;
                i += s->len - 1;
            }
        }
    }
    return found;
}

class Parser {
public:
    explicit Parser(const QList<ReportDataSet*>& dataSets) : dataSets_(dataSets) {}

    std::unique_ptr<ExprNode> parse(const QString& text, Level level) {
        if (depth_ >= kMaxDepth) // keeps absurdly nested input from exhausting the stack
            return error();
        ++depth_;
        std::unique_ptr<ExprNode> node = parseLevel(text, level);
        --depth_;
        return node;
    }

private:
    static constexpr int kMaxDepth = 200;

    static std::unique_ptr<ExprNode> error() {
        return std::make_unique<ConstantNode>(ExprValue::error());
    }

    std::unique_ptr<ExprNode> parseLevel(const QString& text, Level level) {
        const std::optional<Split> s = findOperator(text, level);
        if (!s)
            return level == Level::Multiplicative ? parseOperand(text)
                                                  : parse(text, Level(int(level) + 1));
        const QString left = text.left(s->pos);
        const QString right = text.mid(s->pos + s->len);
        if (level == Level::Comparison)
            return std::make_unique<BinaryNode>(s->op, parse(left, Level::Additive),
                                                parse(right, Level::Additive));
        if (level == Level::Additive)
            return std::make_unique<BinaryNode>(s->op, parse(left, level),
                                                parse(right, Level::Multiplicative));
        return std::make_unique<BinaryNode>(s->op, parse(left, level), parseOperand(right));
    }

    std::unique_ptr<ExprNode> parseOperand(const QString& raw) {
        const QString text = raw.trimmed();
        if (text.isEmpty())
            return error();
        const QChar first = text.front();
        if (first == u'(' && closingParenthesis(text) == text.size() - 1)
            return parse(text.mid(1, text.size() - 2), Level::Comparison);
        if ((first == u'\'' || first == u'"') && text.size() >= 2 && text.back() == first)
            return constant(ExprValue::fromString(unquote(text)));
        if (first == u'-' || first == u'+') {
            std::unique_ptr<ExprNode> operand = parse(text.mid(1), Level::Multiplicative);
            if (first == u'+')
                return operand;
            return std::make_unique<NegateNode>(std::move(operand));
        }
        if (first.isDigit() || first == u'.')
            return number(text);
        if (first.isLetter())
            return name(text);
        return error();
    }

    static std::unique_ptr<ExprNode> constant(ExprValue v) {
        return std::make_unique<ConstantNode>(std::move(v));
    }

    // Index of the parenthesis closing the one at 0, or -1.
    static int closingParenthesis(const QString& text) {
        int depth = 0;
        QChar quote;
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == u'\'' || c == u'"') {
                quote = c;
            } else if (c == u'(') {
                ++depth;
            } else if (c == u')' && --depth == 0) {
                return i;
            }
        }
        return -1;
    }

    static QString unquote(const QString& text) {
        const QString q = text.front();
        return text.mid(1, text.size() - 2).replace(q + q, q);
    }

    static std::unique_ptr<ExprNode> number(const QString& text) {
        const QLocale c = QLocale::c();
        bool ok = false;
        const qint32 i = c.toInt(text, &ok);
        if (ok)
            return constant(ExprValue::fromInteger(i));
        const double d = c.toDouble(text, &ok);
        if (ok && std::isfinite(d))
            return constant(ExprValue::fromFloat(d));
        return error();
    }

    std::unique_ptr<ExprNode> name(const QString& text) {
        if (text.contains(u'(') || text.contains(u')'))
            return error(); // functions are not provided
        if (text.compare(u"True", Qt::CaseInsensitive) == 0)
            return constant(ExprValue::fromBoolean(true));
        if (text.compare(u"False", Qt::CaseInsensitive) == 0)
            return constant(ExprValue::fromBoolean(false));
        const int dot = text.indexOf(u'.');
        if (dot < 0)
            return fieldInAnyDataSet(text);
        return qualifiedField(text.left(dot), text.mid(dot + 1));
    }

    std::unique_ptr<ExprNode> qualifiedField(const QString& dataSetName, const QString& field) {
        for (ReportDataSet* ds : dataSets_) {
            if (ds->name().compare(dataSetName, Qt::CaseInsensitive) != 0)
                continue;
            const int index = ds->fieldIndex(field);
            if (index < 0)
                return error();
            return std::make_unique<FieldNode>(ds, index);
        }
        return error();
    }

    std::unique_ptr<ExprNode> fieldInAnyDataSet(const QString& field) {
        for (ReportDataSet* ds : dataSets_) {
            const int index = ds->fieldIndex(field);
            if (index >= 0)
                return std::make_unique<FieldNode>(ds, index);
        }
        return error();
    }

    const QList<ReportDataSet*>& dataSets_;
    int depth_ = 0;
};

// ----- mask formatting -----

struct MaskSection {
    QString prefix, suffix; // literal text around the number
    int integerZeros = 0;   // '0' placeholders before the decimal point
    int decimalZeros = 0;   // '0' placeholders after it
    int decimalHashes = 0;  // '#' placeholders after it
    bool grouping = false;
    bool hasPoint = false;
};

bool isPlaceholder(QChar c) {
    return c == u'0' || c == u'#' || c == u'.' || c == u',';
}

QString literal(QStringView text) {
    QString out;
    QChar quote;
    for (QChar c : text) {
        if (!quote.isNull() && c == quote)
            quote = QChar();
        else if (quote.isNull() && (c == u'\'' || c == u'"'))
            quote = c;
        else
            out += c;
    }
    return out;
}

MaskSection analyse(const QString& mask) {
    MaskSection s;
    int first = -1, last = -1;
    for (int i = 0; i < mask.size(); ++i) {
        if (isPlaceholder(mask[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0) {
        s.prefix = literal(mask);
        return s;
    }
    s.prefix = literal(QStringView(mask).left(first));
    s.suffix = literal(QStringView(mask).mid(last + 1));
    for (int i = first; i <= last; ++i) {
        const QChar c = mask[i];
        if (c == u'.') {
            s.hasPoint = true;
        } else if (c == u',') {
            s.grouping = true;
        } else if (c == u'0') {
            (s.hasPoint ? s.decimalZeros : s.integerZeros) += 1;
        } else if (c == u'#' && s.hasPoint) {
            s.decimalHashes += 1;
        }
    }
    return s;
}

QStringList splitSections(const QString& mask) {
    QStringList sections;
    QString current;
    QChar quote;
    for (QChar c : mask) {
        if (!quote.isNull() && c == quote)
            quote = QChar();
        else if (quote.isNull() && (c == u'\'' || c == u'"'))
            quote = c;
        if (quote.isNull() && c == u';') {
            sections << current;
            current.clear();
        } else {
            current += c;
        }
    }
    sections << current;
    return sections;
}

QString groupThousands(const QString& digits, const QString& separator) {
    QString out;
    for (int i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += separator;
        out += digits[i];
    }
    return out;
}

QString formatSection(double value, const MaskSection& s, bool withSign, const QLocale& locale) {
    const regional::DecimalDigits d =
        regional::roundDecimal(value, s.decimalZeros + s.decimalHashes);
    QString integer = d.integer.rightJustified(s.integerZeros, u'0');
    if (s.grouping)
        integer = groupThousands(integer, locale.groupSeparator());
    QString fraction = d.fraction;
    while (fraction.size() > s.decimalZeros && fraction.back() == u'0')
        fraction.chop(1);
    QString number = integer;
    if (!fraction.isEmpty())
        number += locale.decimalPoint() + fraction;
    const bool negative = withSign && d.negative;
    return (negative ? QStringLiteral("-") : QString()) + s.prefix + number + s.suffix;
}

} // namespace

std::unique_ptr<ExprNode> parseExpression(const QString& text,
                                          const QList<ReportDataSet*>& dataSets) {
    Parser parser(dataSets);
    return parser.parse(text, Level::Comparison);
}

QString formatMask(double value, const QString& mask, const QLocale& locale) {
    if (!std::isfinite(value))
        return locale.toString(value);
    const QStringList sections = splitSections(mask);
    const MaskSection positive = analyse(sections[0]);
    if (sections.size() >= 3 && !sections[2].isEmpty()) {
        if (regional::roundDecimal(value, positive.decimalZeros + positive.decimalHashes).isZero())
            return formatSection(0, analyse(sections[2]), false, locale);
    }
    if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty())
        return formatSection(-value, analyse(sections[1]), false, locale);
    return formatSection(value, positive, true, locale);
}

QString formatExprValue(const ExprValue& value, const QString& mask, const QString& expressionText,
                        const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    switch (value.kind) {
    case Kind::Integer:
        return mask.isEmpty() ? QString::number(value.integer)
                              : formatMask(value.integer, mask, locale);
    case Kind::Float:
        return mask.isEmpty() ? plain.toString(value.number, 'g', 15)
                              : formatMask(value.number, mask, locale);
    case Kind::String:
        return value.text;
    case Kind::Boolean:
        return value.boolean ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Error:
        break;
    }
    return expressionText;
}

} // namespace lv26
