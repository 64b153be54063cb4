#include "base/Messages.h"

#include "base/Error.h"

#include <QLocale>

namespace lv26 {

QString messageText(Message id) {
    switch (id) {
    case Message::FieldRequired:
        return QStringLiteral("Field '%s' must have a value");
    case Message::InvalidIntegerValue:
        return QStringLiteral("'%s' is not a valid integer value for field '%s'");
    case Message::InvalidFloatValue:
        return QStringLiteral("'%s' is not a valid floating point value for field '%s'");
    case Message::FieldRangeError:
        return QStringLiteral(
            "%g is not a valid value for field '%s'. The allowed range is %g to %g");
    case Message::InvalidFieldValue:
        return QStringLiteral("Invalid value for field '%s'");
    case Message::DataSetReadOnly:
        return QStringLiteral("Cannot modify a read-only dataset");
    case Message::DataSetEmpty:
        return QStringLiteral("Cannot perform this operation on an empty dataset");
    case Message::DataSetClosed:
        return QStringLiteral("Cannot perform this operation on a closed dataset");
    case Message::NotEditing:
        return QStringLiteral("Dataset not in edit or insert mode");
    case Message::FieldReadOnly:
        return QStringLiteral("Field '%s' cannot be modified");
    case Message::NoIndexForFields:
        return QStringLiteral("'%s' has no index for fields '%s'");
    case Message::FieldNotFound:
        return QStringLiteral("%s: Field '%s' not found");
    case Message::FieldTypeMismatch:
        return QStringLiteral("Field '%s' is not of the expected type");
    case Message::VariantConversion:
        return QStringLiteral("Could not convert variant of type (%s) into type (%s)");
    case Message::DeleteRecordQuestion:
        return QStringLiteral("Delete record?");
    case Message::ConfirmCaption:
        return QStringLiteral("Confirm");
    case Message::PrintJobRefused:
        return QStringLiteral("Printer %s did not accept the print job: %s");
    }
    return QString();
}

QString formatG(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QString formatMessage(const QString& format, const QVariantList& args) {
    QString out;
    out.reserve(format.size() + 32);
    int next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const QChar conversion = format.at(i + 1);
        if (conversion == QLatin1Char('%')) {
            out += c;
            ++i;
        } else if ((conversion == QLatin1Char('s') || conversion == QLatin1Char('g')) &&
                   next < args.size()) {
            const QVariant& arg = args.at(next++);
            out += conversion == QLatin1Char('s') ? arg.toString() : formatG(arg.toDouble());
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString msg(Message id, const QVariantList& args) {
    return formatMessage(messageText(id), args);
}

void databaseError(Message id, const QVariantList& args) {
    throw EDatabaseError(msg(id, args));
}

} // namespace lv26
