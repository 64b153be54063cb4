#pragma once

// An edit mask such as "000.000.000-00;0;-": a picture of character positions, a flag that
// says whether the literals belong to the stored value, and the character that shows an
// unfilled position while editing. The mask only shapes typing: nothing here checks that a
// value is complete.
//
// Picture characters: '0' and '9' a digit, '#' a digit or sign, 'L'/'l' a letter, 'A'/'a' a
// letter or digit, 'C'/'c' any character; '\' makes the next character a literal; '>', '<'
// and '!' are case and direction markers that take no position; every other character is a
// literal. Positions are indexes into the editor text (0-based, one per character).

#include <QChar>
#include <QString>
#include <QVector>

namespace lv26 {

class TEditMask {
public:
    // An empty mask: isEmpty() true, every other call degenerates to plain text.
    TEditMask() = default;
    // Parses `mask` ("picture;saveLiterals;blank"). The second part "0" leaves the literals
    // out of the stored value (default: kept); the third gives the blank character
    // (default '_'). Never throws; unknown characters become literals.
    explicit TEditMask(const QString& mask);

    bool isEmpty() const { return positions_.isEmpty(); }
    // Number of positions of the editor text (14 for the CPF mask).
    int length() const { return int(positions_.size()); }
    bool savesLiterals() const { return saveLiterals_; }
    QChar blankChar() const { return blank_; }

    bool isLiteral(int pos) const;
    // Whether position `pos` (not a literal) accepts `c`.
    bool accepts(int pos, QChar c) const;

    // The stored value `raw` laid into the picture, each missing position shown as `fill`:
    // displayText() uses ' ', editorText() the blank character. A null/empty raw value gives
    // the literals with `fill` in every other position.
    QString format(const QString& raw, QChar fill) const;
    QString displayText(const QString& raw) const { return format(raw, QChar(' ')); }
    QString editorText(const QString& raw) const { return format(raw, blank_); }

    // The value an editor text hands over: the literals removed (unless saved), unfilled
    // positions after the last filled one dropped, unfilled ones before it given as spaces.
    // An editor with nothing filled gives an empty text.
    QString rawText(const QString& editorText) const;

    // First position >= pos that is not a literal, or length() when none.
    int nextEditable(int pos) const;
    // Last position < pos that is not a literal, or -1 when none.
    int priorEditable(int pos) const;

    // Result of typing one character into an editor text.
    struct Typed {
        bool accepted = false; // false: refuse the key (beep); text and cursor unchanged
        QString text;          // the editor text afterwards
        int cursor = 0;        // the cursor position afterwards
    };
    // Types `c` at `cursor` into `text` (an editorText()). A character accepted by the next
    // editable position overwrites it and the cursor moves past it and past any literals that
    // follow; the character of the next literal itself moves the cursor past that literal;
    // anything else is refused.
    Typed type(const QString& text, int cursor, QChar c) const;
    // `text` with position `pos` cleared to the blank character (literals stay).
    QString clearAt(const QString& text, int pos) const;

private:
    enum class Kind { Literal, Digit, DigitOrSign, Letter, AlphaNum, Any };
    struct Position {
        Kind kind;
        QChar literal;
    };
    QVector<Position> positions_;
    bool saveLiterals_ = true;
    QChar blank_ = QChar('_');
};

} // namespace lv26
