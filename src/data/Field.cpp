#include "data/Field.h"

#include "base/Messages.h"
#include "data/DataSet.h"
#include "data/EditMask.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace lv26 {

// ---- regional ---------------------------------------------------------------------------

namespace regional {

int currencyDecimals() {
    const QLocale locale;
    const QString sample = locale.toCurrencyString(1.0, QStringLiteral("X"));
    const qsizetype one = sample.indexOf(QLatin1Char('1'));
    const QString point = locale.decimalPoint();
    if (one < 0 || sample.mid(one + 1, point.size()) != point)
        return 0;
    int decimals = 0;
    for (qsizetype i = one + 1 + point.size(); i < sample.size() && sample.at(i).isDigit(); ++i)
        ++decimals;
    return decimals;
}

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

void incrementDigits(QString& digits) {
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'9') {
            digits[i] = QChar(digits[i].unicode() + 1);
            return;
        }
        digits[i] = u'0';
    }
    digits.prepend(u'1');
}

// |value| as d.dddddddddddddde±x: 15 significant digits, a half in the 16th digit rounded up.
QString fifteenDigits(double value) {
    const double magnitude = std::fabs(value);
    // The standard conversion rounds a half to even; a half shows as a 5 in a 16th digit
    // that is exact, so only then is the slower conversion asked.
    char sixteen[40];
    const auto wide = std::to_chars(sixteen, sixteen + sizeof sixteen, magnitude,
                                    std::chars_format::scientific, 15);
    const char* e = std::find(sixteen, wide.ptr, 'e');
    if (wide.ec != std::errc() || e == wide.ptr || e[-1] == '5')
        return QString::number(magnitude, 'e', 14);
    char fifteen[40];
    const auto written = std::to_chars(fifteen, fifteen + sizeof fifteen, magnitude,
                                       std::chars_format::scientific, 14);
    return QString::fromLatin1(fifteen, written.ptr - fifteen);
}

} // namespace

DecimalDigits roundDecimal(double value, int decimals) {
    // d.dddddddddddddde±x: the 15 significant digits and where the point goes.
    const QString written = fifteenDigits(value);
    const qsizetype e = written.indexOf(u'e');
    const QString mantissa = written.left(e).remove(u'.');
    const int point = written.mid(e + 1).toInt() + 1; // digits before the decimal point
    QString whole, fraction;
    if (point <= 0) {
        fraction = QString(-point, u'0') + mantissa;
    } else if (point >= mantissa.size()) {
        whole = mantissa + QString(point - mantissa.size(), u'0');
    } else {
        whole = mantissa.left(point);
        fraction = mantissa.mid(point);
    }
    fraction = fraction.leftJustified(decimals + 1, u'0');
    QString kept = whole + fraction.left(decimals);
    if (fraction[decimals] >= u'5')
        incrementDigits(kept);
    DecimalDigits d;
    d.fraction = kept.right(decimals);
    d.integer = kept.left(kept.size() - decimals);
    while (!d.integer.isEmpty() && d.integer.front() == u'0')
        d.integer.remove(0, 1);
    d.negative = value < 0 && !d.isZero();
    return d;
}

bool DecimalDigits::isZero() const {
    return integer.isEmpty() &&
           std::all_of(fraction.cbegin(), fraction.cend(), [](QChar c) { return c == u'0'; });
}

double currencyAmount(double value, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15)
        return value;
    const DecimalDigits d = roundDecimal(value, decimals);
    const double amount = QString(d.integer + u'.' + d.fraction).toDouble();
    return d.negative ? -amount : amount;
}

QString currencyText(double value) {
    const QLocale locale;
    const int decimals = currencyDecimals();
    QString text =
        locale.toCurrencyString(currencyAmount(value, decimals), locale.currencySymbol(), decimals);
    if (!std::isfinite(value) || std::fabs(value) < 1e13)
        return text;
    // Past 15 significant digits show the rounded digits and zeros, not the binary expansion
    // of the double.
    const DecimalDigits d = roundDecimal(value, decimals);
    const QString digits = d.integer + d.fraction;
    qsizetype next = 0;
    for (QChar& c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || (next == 0 && c == QLatin1Char('0')))
            continue;
        c = next < digits.size() ? digits.at(next) : QLatin1Char('0');
        ++next;
    }
    return text;
}

bool parseInteger(const QString& text, qint64* value) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        negative = text.at(i++) == QLatin1Char('-');
    const bool hex = i < text.size() && text.at(i) == QLatin1Char('$');
    if (hex)
        ++i;
    if (i >= text.size())
        return false;
    qint64 result = 0;
    const qint64 limit = hex ? 0xFFFFFFFFLL : (negative ? 2147483648LL : 2147483647LL);
    for (; i < text.size(); ++i) {
        const int digit =
            hex ? hexDigit(text.at(i))
                : (text.at(i).isDigit() && text.at(i) < QChar(128) ? text.at(i).unicode() - '0'
                                                                   : -1);
        if (digit < 0)
            return false;
        result = result * (hex ? 16 : 10) + digit;
        if (result > limit)
            return false;
    }
    if (hex && result > 0x7FFFFFFFLL)
        result -= 0x100000000LL; // eight hex digits carry the sign bit
    *value = negative ? -result : result;
    return true;
}

bool parseFloat(const QString& text, double* value) {
    const QString point = QLocale().decimalPoint();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text.at(i)))
            ++i;
    };
    auto isAsciiDigit = [&](qsizetype k) {
        return k < text.size() && text.at(k) >= QLatin1Char('0') && text.at(k) <= QLatin1Char('9');
    };
    QByteArray c; // the number in C notation
    skipBlanks();
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        c += char(text.at(i++).unicode());
    int digits = 0;
    for (; isAsciiDigit(i); ++i, ++digits)
        c += char(text.at(i).unicode());
    if (QStringView(text).mid(i).startsWith(point)) {
        i += point.size();
        c += '.';
        for (; isAsciiDigit(i); ++i, ++digits)
            c += char(text.at(i).unicode());
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        c += 'e';
        ++i;
        if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            c += char(text.at(i++).unicode());
        if (!isAsciiDigit(i))
            return false;
        for (; isAsciiDigit(i); ++i)
            c += char(text.at(i).unicode());
    }
    skipBlanks();
    if (i != text.size())
        return false;
    bool ok = false;
    const double result = c.toDouble(&ok);
    if (!ok || !std::isfinite(result))
        return false;
    *value = result;
    return true;
}

} // namespace regional

// ---- TField -----------------------------------------------------------------------------

TField::TField(TDataSet* dataSet, FieldKind kind)
    : QObject(dataSet), dataSet_(dataSet), kind_(kind) {
    dataSet_->fields_.append(this);
}

TField::~TField() {
    if (dataSet_)
        dataSet_->fields_.removeOne(this);
}

int TField::Index() const {
    return int(dataSet_->fields_.indexOf(const_cast<TField*>(this)));
}

int TField::DisplayWidth() const {
    if (displayWidth_ > 0)
        return displayWidth_;
    return kind_ == FieldKind::String ? size_ : 10;
}

Qt::Alignment TField::Alignment() const {
    return kind_ == FieldKind::String ? Qt::AlignLeft : Qt::AlignRight;
}

bool TField::CanModify() const {
    return !readOnly_ && !calculated_ && dataSet_->CanModify();
}

bool TField::IsValidChar(QChar c) const {
    return c.isPrint();
}

QVariant TField::Value() const {
    return dataSet_->fieldValue(this);
}

int TField::AsInteger() const {
    const QVariant v = Value();
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        qint64 n = 0;
        return regional::parseInteger(v.toString(), &n) ? int(n) : 0;
    }
    if (v.typeId() == QMetaType::Double)
        return int(qBound(-2147483648.0, std::round(v.toDouble()), 2147483647.0));
    return v.toInt();
}

double TField::AsFloat() const {
    const QVariant v = Value();
    if (v.isNull())
        return 0.0;
    if (v.typeId() == QMetaType::QString) {
        double d = 0.0;
        return regional::parseFloat(v.toString(), &d) ? d : 0.0;
    }
    return v.toDouble();
}

QString TField::AsString() const {
    return textOf(Value());
}

QString TField::DisplayText() const {
    return textOf(Value());
}

QString TField::EditText() const {
    return textOf(Value());
}

QString TField::textOf(const QVariant& value) const {
    if (value.isNull())
        return QString();
    if (value.typeId() == QMetaType::Double)
        return formatG(value.toDouble());
    return value.toString();
}

void TField::setValue(const QVariant& value) {
    if (calculated_) {
        if (!dataSet_->calculating())
            databaseError(Message::FieldReadOnly, {fieldName_});
    } else {
        if (!dataSet_->Editing())
            databaseError(Message::NotEditing);
        if (readOnly_)
            databaseError(Message::FieldReadOnly, {fieldName_});
    }
    store(value.isNull() ? QVariant() : convert(value));
}

void TField::setAsInteger(int value) {
    setValue(value);
}

void TField::setAsFloat(double value) {
    setValue(value);
}

void TField::setAsString(const QString& text) {
    if (calculated_ ? !dataSet_->calculating() : !dataSet_->Editing()) {
        setValue(QVariant()); // raises the state's message
        return;
    }
    if (readOnly_ && !calculated_)
        databaseError(Message::FieldReadOnly, {fieldName_});
    store(text.isEmpty() ? QVariant() : parseText(text));
}

void TField::checkRange(double value, double low, double high) const {
    if (value < low || value > high)
        databaseError(Message::FieldRangeError, {value, fieldName_, low, high});
}

void TField::store(const QVariant& converted) {
    dataSet_->setFieldValue(this, converted);
}

// ---- TStringField -----------------------------------------------------------------------

QString TStringField::DisplayText() const {
    if (EditMask().isEmpty())
        return AsString();
    return TEditMask(EditMask()).displayText(AsString());
}

QVariant TStringField::convert(const QVariant& value) const {
    QString text;
    switch (value.typeId()) {
    case QMetaType::QString:
        text = value.toString();
        break;
    case QMetaType::Double:
        text = formatG(value.toDouble());
        break;
    default:
        if (!value.canConvert<QString>())
            databaseError(Message::InvalidFieldValue, {FieldName()});
        text = value.toString();
    }
    return parseText(text);
}

QVariant TStringField::parseText(const QString& text) const {
    if (text.isEmpty())
        return QVariant();
    return Size() > 0 ? text.left(Size()) : text;
}

// ---- integers ---------------------------------------------------------------------------

TIntegerField::TIntegerField(TDataSet* dataSet)
    : TIntegerField(dataSet, FieldKind::Integer, std::numeric_limits<qint32>::min(),
                    std::numeric_limits<qint32>::max()) {}

TIntegerField::TIntegerField(TDataSet* dataSet, FieldKind kind, qint64 min, qint64 max)
    : TField(dataSet, kind), min_(min), max_(max) {}

TSmallintField::TSmallintField(TDataSet* dataSet)
    : TIntegerField(dataSet, FieldKind::Smallint, -32768, 32767) {}

QVariant TIntegerField::convert(const QVariant& value) const {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            databaseError(Message::InvalidFieldValue, {FieldName()});
        checkRange(std::round(d), double(min_), double(max_));
        return int(std::round(d));
    }
    case QMetaType::QString: {
        qint64 n = 0;
        if (value.toString().isEmpty())
            return QVariant();
        if (!regional::parseInteger(value.toString(), &n))
            databaseError(Message::InvalidFieldValue, {FieldName()});
        checkRange(double(n), double(min_), double(max_));
        return int(n);
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt: {
        const qint64 n = value.toLongLong();
        checkRange(double(n), double(min_), double(max_));
        return int(n);
    }
    case QMetaType::ULongLong: {
        const quint64 n = value.toULongLong();
        checkRange(double(n), double(min_), double(max_));
        return int(n);
    }
    default:
        databaseError(Message::InvalidFieldValue, {FieldName()});
    }
}

QVariant TIntegerField::parseText(const QString& text) const {
    qint64 n = 0;
    if (!regional::parseInteger(text, &n))
        databaseError(Message::InvalidIntegerValue, {text, FieldName()});
    checkRange(double(n), double(min_), double(max_));
    return int(n);
}

// ---- TCurrencyField ---------------------------------------------------------------------

QString TCurrencyField::DisplayText() const {
    const QVariant v = Value();
    return v.isNull() ? QString() : regional::currencyText(v.toDouble());
}

QString TCurrencyField::EditText() const {
    const QVariant v = Value();
    if (v.isNull())
        return QString();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const int decimals = regional::currencyDecimals();
    const double value = regional::currencyAmount(v.toDouble(), decimals);
    return locale.toString(value == 0.0 ? 0.0 : value, 'f', decimals);
}

QString TCurrencyField::textOf(const QVariant& value) const {
    return value.isNull() ? QString() : formatG(value.toDouble());
}

QVariant TCurrencyField::convert(const QVariant& value) const {
    if (value.typeId() == QMetaType::QString) {
        double d = 0.0;
        if (value.toString().isEmpty())
            return QVariant();
        if (!regional::parseFloat(value.toString(), &d))
            databaseError(Message::InvalidFieldValue, {FieldName()});
        return d;
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        databaseError(Message::InvalidFieldValue, {FieldName()});
    return d;
}

QVariant TCurrencyField::parseText(const QString& text) const {
    double d = 0.0;
    if (!regional::parseFloat(text, &d))
        databaseError(Message::InvalidFloatValue, {text, FieldName()});
    return d;
}

} // namespace lv26
