#include "data/GeneralValue.h"

#include "base/Messages.h"
#include "data/Field.h"

#include <limits>

namespace lv26 {

bool isIntegerValue(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

namespace {

double asNumber(const QVariant& v) {
    if (v.typeId() == QMetaType::QString) {
        double d = 0.0;
        if (!regional::parseFloat(v.toString(), &d))
            databaseError(Message::VariantConversion,
                          {QStringLiteral("String"), QStringLiteral("Double")});
        return d;
    }
    return v.toDouble();
}

} // namespace

QVariant addValues(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return QVariant();
    if (isIntegerValue(a) && isIntegerValue(b)) {
        qint64 sum = 0;
        if (__builtin_add_overflow(a.toLongLong(), b.toLongLong(), &sum))
            return a.toDouble() + b.toDouble();
        if (sum >= std::numeric_limits<qint32>::min() && sum <= std::numeric_limits<qint32>::max())
            return int(sum);
        return sum;
    }
    return asNumber(a) + asNumber(b);
}

} // namespace lv26
