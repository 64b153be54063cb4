#include "data/EditMask.h"

namespace lv26 {

namespace {

// Splits "picture;save;blank" at the first ';' that is not escaped by '\'.
int unescapedSemicolon(const QString& mask, int from) {
    for (int i = from; i < mask.size(); ++i) {
        if (mask.at(i) == QLatin1Char('\\'))
            ++i;
        else if (mask.at(i) == QLatin1Char(';'))
            return i;
    }
    return -1;
}

} // namespace

TEditMask::TEditMask(const QString& mask) {
    const int end1 = unescapedSemicolon(mask, 0);
    const QString picture = end1 < 0 ? mask : mask.left(end1);
    if (end1 >= 0) {
        const int end2 = mask.indexOf(QLatin1Char(';'), end1 + 1);
        const QString save = mask.mid(end1 + 1, end2 < 0 ? -1 : end2 - end1 - 1);
        saveLiterals_ = !save.startsWith(QLatin1Char('0'));
        if (end2 >= 0 && end2 + 1 < mask.size())
            blank_ = mask.at(end2 + 1);
    }
    for (int i = 0; i < picture.size(); ++i) {
        const QChar c = picture.at(i);
        switch (c.unicode()) {
        case '\\':
            if (i + 1 < picture.size())
                positions_.append({Kind::Literal, picture.at(++i)});
            break;
        case '>':
        case '<':
        case '!':
            break;
        case '0':
        case '9':
            positions_.append({Kind::Digit, QChar()});
            break;
        case '#':
            positions_.append({Kind::DigitOrSign, QChar()});
            break;
        case 'L':
        case 'l':
            positions_.append({Kind::Letter, QChar()});
            break;
        case 'A':
        case 'a':
            positions_.append({Kind::AlphaNum, QChar()});
            break;
        case 'C':
        case 'c':
            positions_.append({Kind::Any, QChar()});
            break;
        default:
            positions_.append({Kind::Literal, c});
        }
    }
}

bool TEditMask::isLiteral(int pos) const {
    return pos >= 0 && pos < length() && positions_.at(pos).kind == Kind::Literal;
}

bool TEditMask::accepts(int pos, QChar c) const {
    if (pos < 0 || pos >= length())
        return false;
    switch (positions_.at(pos).kind) {
    case Kind::Literal:
        return false;
    case Kind::Digit:
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    case Kind::DigitOrSign:
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
               c == QLatin1Char('-');
    case Kind::Letter:
        return c.isLetter();
    case Kind::AlphaNum:
        return c.isLetterOrNumber();
    case Kind::Any:
        return c.isPrint();
    }
    return false;
}

QString TEditMask::format(const QString& raw, QChar fill) const {
    QString out;
    out.reserve(length());
    int next = 0; // next character of raw to lay in
    for (int pos = 0; pos < length(); ++pos) {
        const Position& p = positions_.at(pos);
        if (saveLiterals_) {
            const QChar c = pos < raw.size() ? raw.at(pos) : QChar(' ');
            if (p.kind == Kind::Literal)
                out += p.literal;
            else
                out += c == QLatin1Char(' ') ? fill : c;
            continue;
        }
        if (p.kind == Kind::Literal) {
            out += p.literal;
            continue;
        }
        const QChar c = next < raw.size() ? raw.at(next) : QChar(' ');
        ++next;
        out += c == QLatin1Char(' ') ? fill : c;
    }
    return out;
}

QString TEditMask::rawText(const QString& editorText) const {
    QString out;
    int lastFilled = -1;
    for (int pos = 0; pos < length(); ++pos) {
        const bool literal = isLiteral(pos);
        if (literal && !saveLiterals_)
            continue;
        const QChar c = pos < editorText.size() ? editorText.at(pos) : blank_;
        if (literal) {
            out += positions_.at(pos).literal;
            continue;
        }
        const bool unfilled = c == blank_ || c == QLatin1Char(' ');
        out += unfilled ? QChar(' ') : c;
        if (!unfilled)
            lastFilled = int(out.size());
    }
    return lastFilled < 0 ? QString() : out.left(lastFilled);
}

int TEditMask::nextEditable(int pos) const {
    for (int p = qMax(pos, 0); p < length(); ++p) {
        if (!isLiteral(p))
            return p;
    }
    return length();
}

int TEditMask::priorEditable(int pos) const {
    for (int p = qMin(pos, length()) - 1; p >= 0; --p) {
        if (!isLiteral(p))
            return p;
    }
    return -1;
}

TEditMask::Typed TEditMask::type(const QString& text, int cursor, QChar c) const {
    Typed result;
    result.text = text.size() == length() ? text : editorText(rawText(text));
    result.cursor = qBound(0, cursor, length());
    const int target = nextEditable(result.cursor);
    if (target < length() && accepts(target, c)) {
        result.text[target] = c;
        result.cursor = target + 1;
        while (isLiteral(result.cursor))
            ++result.cursor;
        result.accepted = true;
        return result;
    }
    int literal = result.cursor;
    while (literal < length() && !isLiteral(literal))
        ++literal;
    if (literal < length() && positions_.at(literal).literal == c) {
        result.cursor = literal + 1;
        result.accepted = true;
    }
    return result;
}

QString TEditMask::clearAt(const QString& text, int pos) const {
    QString out = text.size() == length() ? text : editorText(rawText(text));
    if (pos >= 0 && pos < length() && !isLiteral(pos))
        out[pos] = blank_;
    return out;
}

} // namespace lv26
