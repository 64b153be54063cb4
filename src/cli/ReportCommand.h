#pragma once

// The command line of lv26-report, parsed: which outputs to write and from what. Parsing
// never touches a file.

#include <QString>
#include <QStringList>
#include <optional>

namespace lv26::cli {

enum class Paper { Letter, A4 };

struct ReportCommand {
    bool totals = false;
    Paper paper = Paper::Letter;
    QString pdf, text, qrp, csv, pngDir, fromQrp;
    int dpi = 96;
    bool quiet = false;
    QString folder = QStringLiteral(".");

    // True when pages have to be generated or loaded (PDF, report file or PNG).
    bool needsPages() const { return !pdf.isEmpty() || !qrp.isEmpty() || !pngDir.isEmpty(); }
};

// The command given by `arguments` (without the program's name), or nullopt with
// `*error` set to the message of the first mistake (an unknown option, a missing or
// invalid value, a second folder, no output at all, --from-qrp with other outputs than
// --pdf and --png, --dpi without --png).
std::optional<ReportCommand> parseCommand(const QStringList& arguments, QString* error);

} // namespace lv26::cli
