#pragma once

// Printing through Qt Print Support: the report's print and printer-setup actions, the
// printing of stored (loaded) pages, and the query that tells report printer objects about
// the system's default printer. The dialogs are thin layers over functions that take a
// QPrinter, so that a run can go to any printer, a PDF QPrinter included.

#include "report/ReportPrinter.h"

#include <QAbstractPrintDialog>
#include <QList>
#include <QPageSize>

class QPrinter;
class QPrinterInfo;

namespace lv26 {

class TReport;
class TTextExportFilter;

// What a report printer object needs to know of a printer that offers the papers `offered`
// and has `current` as its current paper: of the named sizes, Letter and A4 where offered;
// the current paper (Default when it is neither) with its size in tenths of a millimetre,
// portrait (A4 when `current` is not valid). Not marked available.
PrinterInfo printerInfo(const QList<QPageSize>& offered, const QPageSize& current);
// The same for `info` (a system printer), asked for its papers and its default one: null
// gives "no printer".
PrinterInfo printerInfo(const QPrinterInfo& info);
// The same for `printer`: a system printer's papers as the system lists them, with the
// QPrinter's current paper; other QPrinters (PDF output) offer Letter and A4.
PrinterInfo printerInfo(const QPrinter& printer);

// True when the system lists at least one printer.
bool printersInstalled();

// Makes new report printer objects see the system's default printer (call once at start-up;
// safe to repeat). Raises "There is no default printer currently selected" at object creation
// when printers exist but none is the default.
void installPrinterQuery();

// The report's current report printer object: the one of the running preview, print or
// export (null when none). Not owned.
TReportPrinter* currentReportPrinter(const TReport& report);
void setCurrentReportPrinter(const TReport& report, TReportPrinter* printer);

// The print action: does nothing when the report is busy or no printer is installed;
// otherwise prints to the report's selected printer (the default one unless the print
// dialog chose another) with printReportTo.
void PrintAction(TReport& report);

// Generates the report onto `device` (a QPrinter, PDF ones included) under a "Printing
// progress" window: the report's copies and print range apply, the paper is set to the
// report's when offered, and pages go one per sheet. Does nothing when the report is busy.
// The current report printer object is restored afterwards in every case. Raises the errors
// of the run ("Printer selected is not valid", the table layer's).
void printReportTo(TReport& report, QPrinter& device);

// Prints the pages stored in `printer` (a loaded report file), one per sheet, onto `device`
// at the device's own resolution: each picture is played over the paper's size in device
// pixels. Requires nothing when the object is not finished (nothing happens then). Dispatches
// pending messages before each page. Raises "Metafile is not valid" for a damaged page.
void printStoredPages(TReportPrinter& printer, QPrinter& device);
// The same onto the system's default printer; nothing without a printer.
void printStoredPages(TReportPrinter& printer);
// The same onto `report`'s own printer: the one its print choices selected, else the default.
void printStoredPages(TReportPrinter& printer, const TReport& report);

// The printer-setup action: shows the print dialog when the report's current report printer
// object exists and has a printer; its choices are kept with applyPrintChoices.
void PrinterSetupAction(TReport& report);

// What the print dialog's OK keeps in the report's settings: copies, the chosen printer
// (`printerName`, empty for the default), and the page range (all pages for AllPages and
// Selection, else `fromPage` to `toPage`, and of those only `pages` when the dialog was given
// a list of separate pages).
void applyPrintChoices(TReport& report, int copies, const QString& printerName,
                       QAbstractPrintDialog::PrintRange range, int fromPage, int toPage,
                       const QPageRanges& pages = {});

// The export action: runs a text export of the report into `filter`'s file under a progress
// window with Cancel, with a fresh report printer object that is current while it runs.
// Does nothing (besides showing and closing the progress window) when the report is busy.
// Raises the export's file errors.
void ExportAction(TReport& report, TTextExportFilter& filter);

} // namespace lv26
