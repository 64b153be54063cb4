#include "maintenance/MaskedTyping.h"

#include <algorithm>

namespace lv26 {

bool fitsMask(const TEditMask& mask, const QString& text) {
    if (text.size() != mask.length())
        return false;
    const QString blank = mask.editorText(QString());
    for (int pos = 0; pos < mask.length(); ++pos) {
        const bool fits = mask.isLiteral(pos)
                              ? text[pos] == blank[pos]
                              : text[pos] == mask.blankChar() || mask.accepts(pos, text[pos]);
        if (!fits)
            return false;
    }
    return true;
}

TEditMask::Typed typeOver(const TEditMask& mask, const QString& text, int from, int to,
                          QStringView typed) {
    TEditMask::Typed result{false, text, from};
    for (int pos = from; pos < to; ++pos)
        result.text = mask.clearAt(result.text, pos);
    for (const QChar c : typed) {
        const TEditMask::Typed next = mask.type(result.text, result.cursor, c);
        if (next.accepted)
            result = next;
    }
    return result;
}

TEditMask::Typed layIntoMask(const TEditMask& mask, const QString& before, const QString& edited,
                             int cursor) {
    const int oldSize = int(before.size());
    const int newSize = int(edited.size());
    // What follows the cursor is the old text's tail; what precedes the change, its head.
    const int maxTail = std::min(oldSize, std::max(0, newSize - cursor));
    int tail = 0;
    while (tail < maxTail && before[oldSize - 1 - tail] == edited[newSize - 1 - tail])
        ++tail;
    const int maxHead = std::min(oldSize, newSize) - tail;
    int head = 0;
    while (head < maxHead && before[head] == edited[head])
        ++head;
    return typeOver(mask, before, head, oldSize - tail,
                    QStringView(edited).mid(head, newSize - tail - head));
}

} // namespace lv26
