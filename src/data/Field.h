#pragma once

// Field components: one per column of a table (or one computed value). A field reads and
// writes the current row of its dataset, i.e. the row buffer at the dataset's ActiveRecord.
// A field is owned by its dataset (QObject child) and lives as long as it.
//
// Values: the general value is a QVariant; a null QVariant is the blank value, distinct from
// zero. String fields hold QString, small integer and integer fields int, currency fields
// double. Number and currency texts follow the default QLocale.

#include <QObject>
#include <QString>
#include <QVariant>
#include <Qt>

namespace lv26 {

class TDataSet;

enum class FieldKind { String, Smallint, Integer, Currency };

class TField : public QObject {
public:
    ~TField() override;

    TDataSet* DataSet() const { return dataSet_; }
    FieldKind Kind() const { return kind_; }
    // Position among the dataset's fields (creation order), 0-based.
    int Index() const;

    // Name of the column (or computed value); the name every message quotes.
    const QString& FieldName() const { return fieldName_; }
    void setFieldName(const QString& name) { fieldName_ = name; }
    // Characters for string fields; 0 for the others.
    int Size() const { return size_; }
    void setSize(int size) { size_ = size; }
    bool Required() const { return required_; }
    void setRequired(bool required) { required_ = required; }
    // Width of a grid column in characters; by default the size for text, 10 for numbers.
    int DisplayWidth() const;
    void setDisplayWidth(int width) { displayWidth_ = width; }
    // Mask text such as "000.000.000-00;0;-" (see TEditMask); empty when none.
    const QString& EditMask() const { return editMask_; }
    void setEditMask(const QString& mask) { editMask_ = mask; }
    // Left for text, right for numbers.
    Qt::Alignment Alignment() const;
    // A calculated field is filled by the dataset's OnCalcFields and never stored.
    bool Calculated() const { return calculated_; }
    void setCalculated(bool calculated) { calculated_ = calculated; }
    bool ReadOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // Whether a control may change the value: not read-only, not calculated, and the dataset
    // is open and can be modified.
    bool CanModify() const;
    // Whether a cell editor may take `c`. Every printable character is taken (the value is
    // checked when the text is assigned; a mask checks its own positions).
    bool IsValidChar(QChar c) const;

    // Reading the current row. On a closed or empty dataset every value is blank.
    QVariant Value() const; // null when blank
    bool IsNull() const { return Value().isNull(); }
    // Column of the dataset's rows this field is bound to; -1 when calculated or unbound.
    int Column() const { return column_; }
    int AsInteger() const;    // blank reads 0; a number is rounded; text is parsed (0 if not)
    double AsFloat() const;   // blank reads 0
    QString AsString() const; // blank reads ""
    // What a grid cell or the report shows (see each kind).
    virtual QString DisplayText() const;
    // What a cell editor starts with (see each kind).
    virtual QString EditText() const;

    // Writing the current row. Requires the dataset in edit or insert state ("Dataset not
    // in edit or insert mode"), a field that is not read-only ("Field '%s' cannot be
    // modified"); a calculated field may be written only from OnCalcFields. A successful
    // write marks the row modified (not for calculated fields), recomputes the calculated
    // fields when the dataset's AutoCalcFields is on, and tells the data links. A refused
    // value throws EDatabaseError and leaves the field as it was.
    //
    // setValue: null clears; otherwise converts, refusing what cannot convert with "Invalid
    // value for field '%s'" and numbers out of range with the range message.
    void setValue(const QVariant& value);
    void setAsInteger(int value);
    void setAsFloat(double value);
    // Entry text with the kind's rules and messages; an empty text gives blank.
    void setAsString(const QString& text);
    void setText(const QString& text) { setAsString(text); }
    void Clear() { setValue(QVariant()); }

protected:
    // Creates a field of `dataSet` (appended to its fields, which own it).
    TField(TDataSet* dataSet, FieldKind kind);
    // The stored form of `value` for this kind (throws the kind's message when refused).
    virtual QVariant convert(const QVariant& value) const = 0;
    virtual QVariant parseText(const QString& text) const = 0;
    virtual QString textOf(const QVariant& value) const;
    // Throws the range message when `value` lies outside [low, high].
    void checkRange(double value, double low, double high) const;

private:
    friend class TDataSet;
    void store(const QVariant& converted);

    TDataSet* dataSet_;
    FieldKind kind_;
    QString fieldName_;
    int size_ = 0;
    bool required_ = false;
    int displayWidth_ = 0;
    QString editMask_;
    bool calculated_ = false;
    bool readOnly_ = false;
    int column_ = -1; // column of the engine row this field is bound to; -1 when calculated
    int calcSlot_ = -1;
};

// Text of at most Size characters. With an edit mask the display text is the value laid into
// the mask with spaces for missing positions; the edit text is the raw value. An empty text
// assigned gives blank. Longer texts are cut to Size.
class TStringField : public TField {
public:
    explicit TStringField(TDataSet* dataSet) : TField(dataSet, FieldKind::String) {}
    QString DisplayText() const override;

protected:
    QVariant convert(const QVariant& value) const override;
    QVariant parseText(const QString& text) const override;
};

// Integers. Text: optional leading blanks, optional sign, decimal digits or "$" and hex
// digits; "'%s' is not a valid integer value for field '%s'" otherwise, the range message
// outside [MinValue, MaxValue]. Display and edit text: decimal, leading '-', no grouping.
class TIntegerField : public TField {
public:
    explicit TIntegerField(TDataSet* dataSet);
    qint64 MinValue() const { return min_; }
    qint64 MaxValue() const { return max_; }

protected:
    TIntegerField(TDataSet* dataSet, FieldKind kind, qint64 min, qint64 max);
    QVariant convert(const QVariant& value) const override;
    QVariant parseText(const QString& text) const override;

private:
    qint64 min_, max_;
};

// 16-bit integers: -32768 to 32767.
class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TDataSet* dataSet);
};

// Money as a 64-bit float. Display: regional currency format (symbol, negative format,
// grouping, currency decimals), at most 15 significant digits. Edit text: fixed point with
// the currency decimals and the regional decimal separator, no symbol, no grouping. Text:
// optional blanks around, optional sign, digits with the regional decimal separator,
// optional exponent; "'%s' is not a valid floating point value for field '%s'" otherwise.
class TCurrencyField : public TField {
public:
    explicit TCurrencyField(TDataSet* dataSet) : TField(dataSet, FieldKind::Currency) {}
    QString DisplayText() const override;
    QString EditText() const override;

protected:
    QVariant convert(const QVariant& value) const override;
    QVariant parseText(const QString& text) const override;
    QString textOf(const QVariant& value) const override;
};

// Regional helpers shared by the fields and the report (default QLocale).
namespace regional {
// Number of decimals of the regional currency format (2 for pt_BR and en_US).
int currencyDecimals();
// `value` in the regional currency format, at most 15 significant digits, rounded to the
// currency decimals as roundDecimal() rounds.
QString currencyText(double value);
// `value` as a currency amount: rounded to `decimals` places (the currency decimals) as
// roundDecimal() rounds (from 10^15 on, where a double holds no cents, the value itself).
double currencyAmount(double value, int decimals);

// The decimal digits of a finite `value` rounded to `decimals` places, halves away from zero,
// taken from its 15 significant digits: 2.675, held as 2.67499999..., rounds to 2.68 as
// written.
struct DecimalDigits {
    bool negative = false; // below zero and not rounded to zero
    QString integer;       // without leading zeros; empty for zero
    QString fraction;      // exactly `decimals` digits
    bool isZero() const;
};
DecimalDigits roundDecimal(double value, int decimals);
// Parses an integer entry text (see TIntegerField); false when it is not one. Values beyond
// 32 bits are not integers.
bool parseInteger(const QString& text, qint64* value);
// Parses a float entry text (see TCurrencyField); false when it is not one.
bool parseFloat(const QString& text, double* value);
} // namespace regional

} // namespace lv26
