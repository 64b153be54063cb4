#pragma once

// The one table of the program's user-visible texts, filled by position: each "%s" takes the
// next argument as text, each "%g" the next argument as a number in general format (up to 15
// significant digits, regional decimal separator, no grouping).

#include <QString>
#include <QVariantList>

namespace lv26 {

// Each entry's text is given above it, with what its placeholders take. New entries go at
// the end, before Count.
enum class Message {
    // ---- The table layer
    // "Field '%s' must have a value" (field name)
    FieldRequired,
    // "'%s' is not a valid integer value for field '%s'" (text, field name)
    InvalidIntegerValue,
    // "'%s' is not a valid floating point value for field '%s'" (text, field name)
    InvalidFloatValue,
    // "%g is not a valid value for field '%s'. The allowed range is %g to %g" (value, field name,
    // minimum, maximum)
    FieldRangeError,
    // "Invalid value for field '%s'" (field name)
    InvalidFieldValue,
    // "Cannot modify a read-only dataset"
    DataSetReadOnly,
    // "Cannot perform this operation on an empty dataset"
    DataSetEmpty,
    // "Cannot perform this operation on a closed dataset"
    DataSetClosed,
    // "Dataset not in edit or insert mode"
    NotEditing,
    // "Field '%s' cannot be modified" (field name)
    FieldReadOnly,
    // "'%s' has no index for fields '%s'" (table component, field list)
    NoIndexForFields,
    // "%s: Field '%s' not found" (table component, field name)
    FieldNotFound,
    // "Field '%s' is not of the expected type" (field name)
    FieldTypeMismatch,
    // "Could not convert variant of type (%s) into type (%s)" (type names)
    VariantConversion,
    // "Delete record?" (navigator and grid confirmation text)
    DeleteRecordQuestion,
    // "Confirm" (caption of that confirmation box)
    ConfirmCaption,
    // "Printer %s did not accept the print job: %s" (printer, reason)
    PrintJobRefused,

    // ---- The table engine (the "...At" entries are lines under an engine error's first)
    // "An error occurred while initializing the database engine: $%s" (code, four hexadecimal
    // digits)
    EngineStartFailed,
    // "Insufficient memory for this operation."
    EngineOutOfMemory,
    // "Table does not exist."
    EngineTableNotFound,
    // "The file is not a table or is damaged."
    EngineNotATable,
    // "Permission denied: the table file cannot be opened."
    EngineAccessDenied,
    // "Table is read only."
    EngineReadOnlyTable,
    // "Index does not exist."
    EngineIndexNotFound,
    // "Index cannot be used for ordered reading."
    EngineIndexNotUsable,
    // "Table already exists."
    EngineTableExists,
    // "Record locked by another user."
    EngineRecordLocked,
    // "Key violation."
    EngineKeyViolation,
    // "Record was deleted by another user."
    EngineRecordDeleted,
    // "No current record."
    EngineNoCurrentRecord,
    // "Value cannot be stored in its column."
    EngineInvalidValue,
    // "Table is busy."
    EngineTableBusy,
    // "Disk is full."
    EngineDiskFull,
    // "Input/output error on a table file."
    EngineIoError,
    // "General table engine error."
    EngineGeneralError,
    // "Table engine error $%s" (code, four hexadecimal digits)
    EngineErrorCode,
    // "Table: %s" (table name; a line of an engine error)
    EngineAtTable,
    // "File: %s" (file path)
    EngineAtFile,
    // "Folder: %s" (folder path)
    EngineAtFolder,
    // "Index: %s" (index name)
    EngineAtIndex,
    // "Field: %s" (column name)
    EngineAtField,
    // "Value: %s" (value)
    EngineAtValue,
    // "The folder does not exist."
    EngineFolderMissing,
    // "The name is a folder."
    EngineNameIsFolder,
    // "The name is not a regular file."
    EngineNotRegularFile,
    // "The file holds no table."
    EngineNoTableInFile,
    // "The file holds %s tables; a table file holds one." (number of tables)
    EngineTablesInFile,
    // "The table is a virtual table."
    EngineVirtualTable,
    // "Column '%s' hides the row identity." (column name)
    EngineColumnHidesRowId,
    // "The table has no columns."
    EngineNoColumns,
    // "The table has no row identity (WITHOUT ROWID)."
    EngineNoRowId,

    // ---- The application, its windows and controls
    // "Operation aborted" (message of a silent abort, never shown)
    OperationAborted,
    // "Unknown error" (an error that carries no message)
    UnknownError,
    // "Application Error" (caption of the last-chance box)
    ApplicationErrorCaption,
    // "Exception %s in module %s at %s.\n%s%s" (class name, program file, address, message, "." or
    // nothing)
    LastChanceText,
    // "Ajuda" (help window)
    HelpCaption,
    // "Ajuda - %s" (help file name)
    HelpCaptionForFile,
    // The help window's page when the help file cannot be opened (help file name, HTML-escaped)
    HelpNotFound,
    // "&Help" (bitmap button kinds' captions)
    HelpButtonCaption,
    // "&Yes"
    YesButtonCaption,
    // "&Close"
    CloseButtonCaption,
    // "First record" (the navigator's built-in hints, in button order)
    FirstRecordHint,
    // "Prior record"
    PriorRecordHint,
    // "Next record"
    NextRecordHint,
    // "Last record"
    LastRecordHint,
    // "Insert record"
    InsertRecordHint,
    // "Delete record"
    DeleteRecordHint,
    // "Edit record"
    EditRecordHint,
    // "Post edit"
    PostEditHint,
    // "Cancel edit"
    CancelEditHint,
    // "Refresh data"
    RefreshDataHint,
    // "Cannot make a visible window modal"
    CannotShowModal,

    // ---- The report: page store, report file, printing, preview, text export, layout
    // "Metafile is not valid"
    MetafileNotValid,
    // "File does not exist"
    FileDoesNotExist,
    // "Cannot open file %s" (file name)
    CannotOpenFile,
    // "Cannot create file %s" (file name)
    CannotCreateFile,
    // "File %s is not a valid report file" (file name)
    NotAReportFile,
    // "The report is too large to be stored"
    ReportTooLarge,
    // "Disk full" (a transfer of the page store or the text export)
    DiskFull,
    // "File access denied"
    FileAccessDenied,
    // "I/O error %s" (the system's error number)
    IoErrorNumber,
    // "Printer selected is not valid"
    PrinterNotValid,
    // "There is no default printer currently selected"
    NoDefaultPrinter,
    // "Printer is not currently printing"
    PrinterNotPrinting,
    // "Page %s of %s" (preview status: page number, page count)
    PageOfPages,
    // "Brevant file(*.QRP)" (Save and Open dialogs)
    ReportFileFilter,
    // "Text file (*.TXT)" (Save dialog)
    TextFileFilter,
    // "Text file" (the text export's name)
    TextFileName,
    // "%s%%  Completed" (percentage; the progress window's text)
    ProgressCompleted,
    // "Report layout %s is not valid: %s" (layout source, where and what)
    LayoutNotValid,
    // "Report layout %s is not valid: the file is too large" (file name)
    LayoutFileTooLarge,
    // "offset %s" (where in a layout text that is no JSON)
    LayoutAtOffset,
    // "missing" (what is wrong at a place of a layout)
    LayoutMissing,
    // "expected a number"
    LayoutExpectedNumber,
    // "expected a whole number"
    LayoutExpectedWholeNumber,
    // "expected true or false"
    LayoutExpectedBoolean,
    // "expected a text"
    LayoutExpectedText,
    // "must not be empty"
    LayoutEmptyName,
    // "expected a list"
    LayoutExpectedList,
    // "expected an object"
    LayoutExpectedObject,
    // "expected %s lengths" (count)
    LayoutExpectedLengths,
    // "unknown value \"%s\"" (value)
    LayoutUnknownValue,
    // "unknown key"
    LayoutUnknownKey,
    // "%s is outside %s to %s" (value, minimum, maximum)
    LayoutOutOfRange,
    // "unknown colour \"%s\"" (value)
    LayoutUnknownColour,
    // "unknown style \"%s\"" (value)
    LayoutUnknownStyle,
    // "unknown side \"%s\"" (value)
    LayoutUnknownSide,
    // "unknown element kind \"%s\"" (value)
    LayoutUnknownElementKind,
    // "\"%s\" is used twice" (name)
    LayoutNameUsedTwice,
    // "too many elements"
    LayoutTooManyElements,
    // "too many bands"
    LayoutTooManyBands,
    // "the margins leave no room on the page's length"
    LayoutNoRoomOnLength,
    // "the margins leave no room on the page's width"
    LayoutNoRoomOnWidth,
    // "unknown option \"%s\"" (value)
    LayoutUnknownOption,
    // "not a report layout"
    LayoutNotALayout,
    // "unsupported version"
    LayoutUnsupportedVersion,

    // ---- Exports: PDF and CSV, and the command-line listing
    // "PDF file (*.pdf)" (Save dialog)
    PdfFileFilter,
    // "CSV file (*.csv)" (Save dialog)
    CsvFileFilter,
    // "Folha de Pagamento" (the PDF document's title)
    PdfDocumentTitle,
    // "Lv26" (the PDF document's creator)
    PdfDocumentCreator,
    // The command-line tool's usage text (program name)
    CliUsage,
    // "Unknown option %s" (option)
    CliUnknownOption,
    // "Option %s needs a value" (option)
    CliMissingValue,
    // "Invalid value %s for %s" (value, option)
    CliInvalidValue,
    // "Only one folder may be given; %s is a second one" (argument)
    CliSecondFolder,
    // "Nothing to write: give at least one of --pdf, --text, --qrp, --csv, --png"
    CliNoOutput,
    // "--from-qrp works only with --pdf and --png"
    CliFromQrpOutputs,
    // "--dpi needs --png"
    CliDpiWithoutPng,
    // "Cannot create folder %s" (folder)
    CliCannotCreateFolder,
    // "Interrupted"
    CliInterrupted,
    // "%s pages, %s pages/s" (pages done, pages per second; the progress line)
    CliProgress,
    // "Find:" (the preview's find bar)
    FindLabel,
    // "Page %s: %s found" (page number, matches on it)
    FindFound,
    // "Page %s: %s found, in the %s pages finished so far" (page, matches, pages searched)
    FindFoundSoFar,
    // "Not found"
    FindNotFound,
    // "Not found in the %s pages finished so far" (pages searched)
    FindNotFoundSoFar,

    // ---- The database server
    // "The database server cannot be reached."
    EngineServerUnavailable,
    // "Server: %s" (the connection string without its password; a line of an engine error)
    EngineAtServer,

    Count // the number of entries; not a message
};

// The raw text of `id`, with its placeholders; empty for Count.
QString messageText(Message id);

// `format` with its "%s" and "%g" placeholders replaced in order by `args`; a placeholder
// without an argument is left as is, surplus arguments are ignored; "%%" gives "%".
QString formatMessage(const QString& format, const QVariantList& args);

// The text of `id` filled with `args` (see formatMessage()).
QString msg(Message id, const QVariantList& args = {});

// Formats `value` as "%g" does in messages: 40000 -> "40000", -2147483648 -> "-2147483648",
// 12.5 -> "12,5" under a comma-separator locale. Uses the default QLocale.
QString formatG(double value);

// Throws EDatabaseError carrying msg(id, args).
[[noreturn]] void databaseError(Message id, const QVariantList& args = {});

} // namespace lv26
