#include "base/Messages.h"

#include "base/Error.h"

#include <QLocale>
#include <cstddef>
#include <iterator>

namespace lv26 {

namespace {

struct Entry {
    Message id;
    const char16_t* text;
};

// In the order of Message, checked below.
constexpr Entry entries[] = {
    {Message::FieldRequired, u"Field '%s' must have a value"},
    {Message::InvalidIntegerValue, u"'%s' is not a valid integer value for field '%s'"},
    {Message::InvalidFloatValue, u"'%s' is not a valid floating point value for field '%s'"},
    {Message::FieldRangeError,
     u"%g is not a valid value for field '%s'. The allowed range is %g to %g"},
    {Message::InvalidFieldValue, u"Invalid value for field '%s'"},
    {Message::DataSetReadOnly, u"Cannot modify a read-only dataset"},
    {Message::DataSetEmpty, u"Cannot perform this operation on an empty dataset"},
    {Message::DataSetClosed, u"Cannot perform this operation on a closed dataset"},
    {Message::NotEditing, u"Dataset not in edit or insert mode"},
    {Message::FieldReadOnly, u"Field '%s' cannot be modified"},
    {Message::NoIndexForFields, u"'%s' has no index for fields '%s'"},
    {Message::FieldNotFound, u"%s: Field '%s' not found"},
    {Message::FieldTypeMismatch, u"Field '%s' is not of the expected type"},
    {Message::VariantConversion, u"Could not convert variant of type (%s) into type (%s)"},
    {Message::DeleteRecordQuestion, u"Delete record?"},
    {Message::ConfirmCaption, u"Confirm"},
    {Message::PrintJobRefused, u"Printer %s did not accept the print job: %s"},
    {Message::EngineStartFailed, u"An error occurred while initializing the database engine: $%s"},
    {Message::EngineOutOfMemory, u"Insufficient memory for this operation."},
    {Message::EngineTableNotFound, u"Table does not exist."},
    {Message::EngineNotATable, u"The file is not a table or is damaged."},
    {Message::EngineAccessDenied, u"Permission denied: the table file cannot be opened."},
    {Message::EngineReadOnlyTable, u"Table is read only."},
    {Message::EngineIndexNotFound, u"Index does not exist."},
    {Message::EngineIndexNotUsable, u"Index cannot be used for ordered reading."},
    {Message::EngineTableExists, u"Table already exists."},
    {Message::EngineRecordLocked, u"Record locked by another user."},
    {Message::EngineKeyViolation, u"Key violation."},
    {Message::EngineRecordDeleted, u"Record was deleted by another user."},
    {Message::EngineNoCurrentRecord, u"No current record."},
    {Message::EngineInvalidValue, u"Value cannot be stored in its column."},
    {Message::EngineTableBusy, u"Table is busy."},
    {Message::EngineDiskFull, u"Disk is full."},
    {Message::EngineIoError, u"Input/output error on a table file."},
    {Message::EngineGeneralError, u"General table engine error."},
    {Message::EngineErrorCode, u"Table engine error $%s"},
    {Message::EngineAtTable, u"Table: %s"},
    {Message::EngineAtFile, u"File: %s"},
    {Message::EngineAtFolder, u"Folder: %s"},
    {Message::EngineAtIndex, u"Index: %s"},
    {Message::EngineAtField, u"Field: %s"},
    {Message::EngineAtValue, u"Value: %s"},
    {Message::EngineFolderMissing, u"The folder does not exist."},
    {Message::EngineNameIsFolder, u"The name is a folder."},
    {Message::EngineNotRegularFile, u"The name is not a regular file."},
    {Message::EngineNoTableInFile, u"The file holds no table."},
    {Message::EngineTablesInFile, u"The file holds %s tables; a table file holds one."},
    {Message::EngineVirtualTable, u"The table is a virtual table."},
    {Message::EngineColumnHidesRowId, u"Column '%s' hides the row identity."},
    {Message::EngineNoColumns, u"The table has no columns."},
    {Message::EngineNoRowId, u"The table has no row identity (WITHOUT ROWID)."},
    {Message::OperationAborted, u"Operation aborted"},
    {Message::UnknownError, u"Unknown error"},
    {Message::ApplicationErrorCaption, u"Application Error"},
    {Message::LastChanceText, u"Exception %s in module %s at %s.\n%s%s"},
    {Message::HelpCaption, u"Ajuda"},
    {Message::HelpCaptionForFile, u"Ajuda - %s"},
    {Message::HelpNotFound, u"<h2>Ajuda indisponível</h2><p>Não foi possível abrir o arquivo de "
                            u"ajuda <b>%s</b>.</p><p>Verifique se o documento de ajuda foi "
                            u"instalado junto com o programa e se pode ser lido.</p>"},
    {Message::HelpButtonCaption, u"&Help"},
    {Message::YesButtonCaption, u"&Yes"},
    {Message::CloseButtonCaption, u"&Close"},
    {Message::FirstRecordHint, u"First record"},
    {Message::PriorRecordHint, u"Prior record"},
    {Message::NextRecordHint, u"Next record"},
    {Message::LastRecordHint, u"Last record"},
    {Message::InsertRecordHint, u"Insert record"},
    {Message::DeleteRecordHint, u"Delete record"},
    {Message::EditRecordHint, u"Edit record"},
    {Message::PostEditHint, u"Post edit"},
    {Message::CancelEditHint, u"Cancel edit"},
    {Message::RefreshDataHint, u"Refresh data"},
    {Message::CannotShowModal, u"Cannot make a visible window modal"},
    {Message::MetafileNotValid, u"Metafile is not valid"},
    {Message::FileDoesNotExist, u"File does not exist"},
    {Message::CannotOpenFile, u"Cannot open file %s"},
    {Message::CannotCreateFile, u"Cannot create file %s"},
    {Message::NotAReportFile, u"File %s is not a valid report file"},
    {Message::ReportTooLarge, u"The report is too large to be stored"},
    {Message::DiskFull, u"Disk full"},
    {Message::FileAccessDenied, u"File access denied"},
    {Message::IoErrorNumber, u"I/O error %s"},
    {Message::PrinterNotValid, u"Printer selected is not valid"},
    {Message::NoDefaultPrinter, u"There is no default printer currently selected"},
    {Message::PrinterNotPrinting, u"Printer is not currently printing"},
    {Message::PageOfPages, u"Page %s of %s"},
    {Message::ReportFileFilter, u"Brevant file(*.QRP)"},
    {Message::TextFileFilter, u"Text file (*.TXT)"},
    {Message::TextFileName, u"Text file"},
    {Message::ProgressCompleted, u"%s%%  Completed"},
    {Message::LayoutNotValid, u"Report layout %s is not valid: %s"},
    {Message::LayoutFileTooLarge, u"Report layout %s is not valid: the file is too large"},
    {Message::LayoutAtOffset, u"offset %s"},
    {Message::LayoutMissing, u"missing"},
    {Message::LayoutExpectedNumber, u"expected a number"},
    {Message::LayoutExpectedWholeNumber, u"expected a whole number"},
    {Message::LayoutExpectedBoolean, u"expected true or false"},
    {Message::LayoutExpectedText, u"expected a text"},
    {Message::LayoutEmptyName, u"must not be empty"},
    {Message::LayoutExpectedList, u"expected a list"},
    {Message::LayoutExpectedObject, u"expected an object"},
    {Message::LayoutExpectedLengths, u"expected %s lengths"},
    {Message::LayoutUnknownValue, u"unknown value \"%s\""},
    {Message::LayoutUnknownKey, u"unknown key"},
    {Message::LayoutOutOfRange, u"%s is outside %s to %s"},
    {Message::LayoutUnknownColour, u"unknown colour \"%s\""},
    {Message::LayoutUnknownStyle, u"unknown style \"%s\""},
    {Message::LayoutUnknownSide, u"unknown side \"%s\""},
    {Message::LayoutUnknownElementKind, u"unknown element kind \"%s\""},
    {Message::LayoutNameUsedTwice, u"\"%s\" is used twice"},
    {Message::LayoutTooManyElements, u"too many elements"},
    {Message::LayoutTooManyBands, u"too many bands"},
    {Message::LayoutNoRoomOnLength, u"the margins leave no room on the page's length"},
    {Message::LayoutNoRoomOnWidth, u"the margins leave no room on the page's width"},
    {Message::LayoutUnknownOption, u"unknown option \"%s\""},
    {Message::LayoutNotALayout, u"not a report layout"},
    {Message::LayoutUnsupportedVersion, u"unsupported version"},
    {Message::PdfFileFilter, u"PDF file (*.pdf)"},
    {Message::CsvFileFilter, u"CSV file (*.csv)"},
    {Message::PdfDocumentTitle, u"Folha de Pagamento"},
    {Message::PdfDocumentCreator, u"Lv26"},
    {Message::CliUsage,
     u"Usage: %s [--totals] [--paper letter|a4] [--pdf FILE] [--text FILE] [--qrp FILE]\n"
     u"          [--csv FILE] [--png DIR [--dpi N]] [--from-qrp FILE] [--quiet] [FOLDER]\n"
     u"Writes the payroll listing of the tables Func.DB and Dados.DB in FOLDER (default: the\n"
     u"current folder) without a window.\n"
     u"  --totals          total the weekly hours into the month's hours first\n"
     u"  --paper P         letter (the report's own paper) or a4\n"
     u"  --pdf FILE        the listing as a PDF document\n"
     u"  --text FILE       the listing as a text file\n"
     u"  --qrp FILE        the listing as a report file\n"
     u"  --csv FILE        the month's employees as CSV\n"
     u"  --png DIR         one PNG image per page, DIR/page-0001.png ...\n"
     u"  --dpi N           resolution of the PNG images, 1 to 600 (default 96)\n"
     u"  --from-qrp FILE   take the pages from a report file (with --pdf and --png)\n"
     u"  --quiet           no progress on standard error\n"
     u"Exit status: 0 done, 1 error, 2 wrong usage."},
    {Message::CliUnknownOption, u"Unknown option %s"},
    {Message::CliMissingValue, u"Option %s needs a value"},
    {Message::CliInvalidValue, u"Invalid value %s for %s"},
    {Message::CliSecondFolder, u"Only one folder may be given; %s is a second one"},
    {Message::CliNoOutput,
     u"Nothing to write: give at least one of --pdf, --text, --qrp, --csv, --png"},
    {Message::CliFromQrpOutputs, u"--from-qrp works only with --pdf and --png"},
    {Message::CliDpiWithoutPng, u"--dpi needs --png"},
    {Message::CliCannotCreateFolder, u"Cannot create folder %s"},
    {Message::CliInterrupted, u"Interrupted"},
    {Message::CliProgress, u"%s pages, %s pages/s"},
    {Message::FindLabel, u"Find:"},
    {Message::FindFound, u"Page %s: %s found"},
    {Message::FindFoundSoFar, u"Page %s: %s found, in the %s pages finished so far"},
    {Message::FindNotFound, u"Not found"},
    {Message::FindNotFoundSoFar, u"Not found in the %s pages finished so far"},
    {Message::EngineServerUnavailable, u"The database server cannot be reached."},
    {Message::EngineAtServer, u"Server: %s"},
};

constexpr bool inMessageOrder() {
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        if (std::size_t(entries[i].id) != i)
            return false;
    }
    return std::size(entries) == std::size_t(Message::Count);
}
static_assert(inMessageOrder(), "one entry per message, in the order of Message");

} // namespace

QString messageText(Message id) {
    const auto index = std::size_t(id);
    return index < std::size(entries) ? QString::fromUtf16(entries[index].text) : QString();
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
