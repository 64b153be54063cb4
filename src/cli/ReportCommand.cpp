#include "cli/ReportCommand.h"

#include "base/Messages.h"

namespace lv26::cli {

namespace {

// Where each option that takes a file or folder name keeps it.
QString* fileOption(ReportCommand& c, const QString& option) {
    if (option == u"--pdf")
        return &c.pdf;
    if (option == u"--text")
        return &c.text;
    if (option == u"--qrp")
        return &c.qrp;
    if (option == u"--csv")
        return &c.csv;
    if (option == u"--png")
        return &c.pngDir;
    if (option == u"--from-qrp")
        return &c.fromQrp;
    return nullptr;
}

} // namespace

std::optional<ReportCommand> parseCommand(const QStringList& arguments, QString* error) {
    ReportCommand c;
    bool folderGiven = false, dpiGiven = false;
    const auto fail = [error](const QString& text) {
        *error = text;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const bool takesValue = fileOption(c, a) || a == u"--paper" || a == u"--dpi";
        QString value;
        if (takesValue) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                return fail(msg(Message::CliMissingValue, {a}));
            value = arguments[++i];
        }
        if (QString* file = fileOption(c, a)) {
            *file = value;
        } else if (a == u"--paper") {
            if (value.compare(u"letter", Qt::CaseInsensitive) == 0)
                c.paper = Paper::Letter;
            else if (value.compare(u"a4", Qt::CaseInsensitive) == 0)
                c.paper = Paper::A4;
            else
                return fail(msg(Message::CliInvalidValue, {value, a}));
        } else if (a == u"--dpi") {
            bool ok = false;
            c.dpi = value.toInt(&ok);
            if (!ok || c.dpi < 1 || c.dpi > 600)
                return fail(msg(Message::CliInvalidValue, {value, a}));
            dpiGiven = true;
        } else if (a == u"--totals") {
            c.totals = true;
        } else if (a == u"--quiet") {
            c.quiet = true;
        } else if (a.startsWith(u'-') && a != u"-") {
            return fail(msg(Message::CliUnknownOption, {a}));
        } else if (folderGiven) {
            return fail(msg(Message::CliSecondFolder, {a}));
        } else {
            c.folder = a;
            folderGiven = true;
        }
    }
    if (c.pdf.isEmpty() && c.text.isEmpty() && c.qrp.isEmpty() && c.csv.isEmpty() &&
        c.pngDir.isEmpty())
        return fail(msg(Message::CliNoOutput));
    if (!c.fromQrp.isEmpty() && (!c.text.isEmpty() || !c.qrp.isEmpty() || !c.csv.isEmpty()))
        return fail(msg(Message::CliFromQrpOutputs));
    if (dpiGiven && c.pngDir.isEmpty())
        return fail(msg(Message::CliDpiWithoutPng));
    return c;
}

} // namespace lv26::cli
