#include "data/Fonts.h"

#include <QFont>
#include <QStringList>

namespace lv26 {

void installFontSubstitutions() {
    const QString target = QStringLiteral("Liberation Sans");
    for (const char* family : {"MS Sans Serif", "Arial"}) {
        const QString name = QString::fromLatin1(family);
        if (!QFont::substitutes(name).contains(target))
            QFont::insertSubstitution(name, target);
    }
}

} // namespace lv26
