#include "preview/ReportPrint.h"

#include "base/Messages.h"
#include "preview/ProgressForm.h"
#include "report/Report.h"
#include "report/TextExport.h"
#include "report/emf/EmfPlayer.h"

#include <QCoreApplication>
#include <QHash>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <cups/cups.h>

namespace lv26 {

namespace {

QHash<const TReport*, TReportPrinter*>& currentObjects() {
    static QHash<const TReport*, TReportPrinter*> objects;
    return objects;
}

// Makes `printer` the report's current object and puts the earlier one back when it ends.
class CurrentObjectScope {
public:
    CurrentObjectScope(const TReport& report, TReportPrinter* printer)
        : report_(report), previous_(currentReportPrinter(report)) {
        setCurrentReportPrinter(report, printer);
    }
    ~CurrentObjectScope() { setCurrentReportPrinter(report_, previous_); }
    CurrentObjectScope(const CurrentObjectScope&) = delete;
    CurrentObjectScope& operator=(const CurrentObjectScope&) = delete;

private:
    const TReport& report_;
    TReportPrinter* previous_;
};

QSizeF tenthsOfMm(const QPageSize& size) {
    return size.size(QPageSize::Millimeter) * 10.0;
}

void addPaper(PrinterInfo& info, const QPageSize& size) {
    if (size.id() == QPageSize::Letter && !info.paperSizes.contains(TPaperSize::Letter))
        info.paperSizes << TPaperSize::Letter;
    if (size.id() == QPageSize::A4 && !info.paperSizes.contains(TPaperSize::A4))
        info.paperSizes << TPaperSize::A4;
}

void setCurrentPaper(PrinterInfo& info, const QPageSize& size) {
    if (!size.isValid())
        return;
    info.currentPaper = size.id() == QPageSize::Letter ? TPaperSize::Letter
                        : size.id() == QPageSize::A4   ? TPaperSize::A4
                                                       : TPaperSize::Default;
    info.currentPaperSize = tenthsOfMm(size);
}

// The report's selected system printer: the one the print dialog chose, else the default.
QPrinterInfo selectedPrinter(const TReport& report) {
    const QList<QPrinterInfo> printers = QPrinterInfo::availablePrinters();
    const int index = report.PrinterSettings.PrinterIndex;
    if (index >= 0 && index < printers.size())
        return printers[index];
    return QPrinterInfo::defaultPrinter();
}

[[noreturn]] void invalidPrinter() {
    throw EReportError(msg(Message::PrinterNotValid));
}

// Called right after the painter on `device` ended: raises an error naming the printer when
// the print system did not take the job. Qt hands a system printer's job to CUPS as the
// painter ends and drops the answer; CUPS keeps the outcome of this thread's last request,
// which is that one. PDF output never reaches CUPS: its failures show when the file is opened.
void checkJobTaken(const QPrinter& device) {
    if (device.outputFormat() != QPrinter::NativeFormat || !device.outputFileName().isEmpty())
        return;
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING)
        throw EReportError(msg(Message::PrintJobRefused,
                               {device.printerName(), QString::fromUtf8(cupsLastErrorString())}));
}

bool rangeHoldsNoPage(const TReportPrinter& printer) {
    const int first = printer.FirstPage, last = printer.LastPage, count = printer.PageCount();
    return (first > 0 && first > count) || (first > 0 && last > 0 && last < first);
}

} // namespace

PrinterInfo printerInfo(const QList<QPageSize>& offered, const QPageSize& current) {
    PrinterInfo p;
    for (const QPageSize& size : offered)
        addPaper(p, size);
    setCurrentPaper(p, current);
    return p;
}

PrinterInfo printerInfo(const QPrinterInfo& info) {
    if (info.isNull())
        return {};
    PrinterInfo p = printerInfo(info.supportedPageSizes(), info.defaultPageSize());
    p.available = true;
    return p;
}

PrinterInfo printerInfo(const QPrinter& printer) {
    const QPageSize current = printer.pageLayout().pageSize();
    PrinterInfo p;
    if (printer.outputFormat() == QPrinter::NativeFormat) {
        // The paper the print lays out on must be the one the preview chose for this printer.
        const QPrinterInfo info = QPrinterInfo::printerInfo(printer.printerName());
        p = printerInfo(info.supportedPageSizes(), current);
        p.available = printer.isValid() && !info.isNull();
    } else {
        p = printerInfo({QPageSize(QPageSize::Letter), QPageSize(QPageSize::A4)}, current);
        p.available = printer.isValid();
    }
    return p;
}

bool printersInstalled() {
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

void installPrinterQuery() {
    TReportPrinter::setDefaultPrinterQuery([] {
        if (!printersInstalled())
            return PrinterInfo{};
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull())
            throw EReportError(msg(Message::NoDefaultPrinter));
        return printerInfo(info);
    });
}

TReportPrinter* currentReportPrinter(const TReport& report) {
    return currentObjects().value(&report, nullptr);
}

void setCurrentReportPrinter(const TReport& report, TReportPrinter* printer) {
    if (printer)
        currentObjects().insert(&report, printer);
    else
        currentObjects().remove(&report);
}

// ----- print -----

void PrintAction(TReport& report) {
    if (report.busy() || !printersInstalled())
        return;
    QPrinter device(selectedPrinter(report), QPrinter::HighResolution);
    printReportTo(report, device);
}

void printReportTo(TReport& report, QPrinter& device) {
    if (report.busy())
        return;
    TReportPrinter printer(printerInfo(device));
    CurrentObjectScope current(report, &printer);
    if (!printer.printer().available)
        return;
    printer.setDestination(TReportDestination::Printer);
    printer.setPrinterDevice(&device);
    device.setCopyCount(report.PrinterSettings.Copies);
    device.setDocName(report.ReportTitle);
    // Declared after the object, so released before it: no notification outlives its window.
    TProgressForm progress(printer);
    progress.show();
    printer.setProgressReceiver(&progress);
    report.Generate(printer);
    // A cancelled run leaves its job open: the pages made so far are printed now.
    if (!printer.EndPrintJob())
        invalidPrinter();
    if (printer.DevicePages() > 0)
        checkJobTaken(device);
    if (printer.Status() == TPrinterStatus::Finished && rangeHoldsNoPage(printer))
        throw EReportError(msg(Message::PrinterNotPrinting));
}

void printStoredPages(TReportPrinter& printer) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return;
    QPrinter device(info, QPrinter::HighResolution);
    printStoredPages(printer, device);
}

void printStoredPages(TReportPrinter& printer, const TReport& report) {
    const QPrinterInfo info = selectedPrinter(report);
    if (info.isNull())
        return;
    QPrinter device(info, QPrinter::HighResolution);
    printStoredPages(printer, device);
}

void printStoredPages(TReportPrinter& printer, QPrinter& device) {
    if (printer.Status() != TPrinterStatus::Finished || printer.PageCount() < 1)
        return;
    device.setDocName(printer.Title);
    // The sheets take the pictures' own paper, so that a page is never stretched out of shape.
    if (const std::optional<QByteArray> first = printer.fetchPage(1)) {
        if (const std::optional<EmfHeaderInfo> header = readEmfHeader(*first)) {
            const QSizeF mm(header->frame.right - header->frame.left,
                            header->frame.bottom - header->frame.top);
            if (mm.width() > 0 && mm.height() > 0)
                device.setPageSize(QPageSize(mm / 100.0, QPageSize::Millimeter));
        }
    }
    // Ended by its destructor when a page fails: the job is closed in every case.
    QPainter painter;
    if (!painter.begin(&device))
        invalidPrinter();
    const int dpi = device.resolution();
    const QPageLayout layout = device.pageLayout();
    // The painter's origin is the printable area's corner; the picture covers the whole sheet.
    const QRect paint = layout.paintRectPixels(dpi);
    const QRectF sheet(layout.fullRectPixels(dpi).translated(-paint.topLeft()));
    for (int i = 1; i <= printer.PageCount(); ++i) {
        QCoreApplication::processEvents();
        const std::optional<QByteArray> page = printer.fetchPage(i);
        if (page)
            playEmf(*page, painter, sheet);
        if (i < printer.PageCount() && !device.newPage())
            invalidPrinter();
    }
    if (!painter.end())
        invalidPrinter();
    checkJobTaken(device);
}

// ----- printer setup -----

void applyPrintChoices(TReport& report, int copies, const QString& printerName,
                       QAbstractPrintDialog::PrintRange range, int fromPage, int toPage,
                       const QPageRanges& pages) {
    TReportPrinterSettings& s = report.PrinterSettings;
    s.Copies = copies;
    s.PrinterIndex = printerName.isEmpty()
                         ? -1
                         : int(QPrinterInfo::availablePrinterNames().indexOf(printerName));
    s.PrintPages = {};
    if (range == QAbstractPrintDialog::PageRange) {
        s.FirstPage = fromPage;
        s.LastPage = toPage;
        if (pages.toRangeList().size() > 1) // "1,3": pages 1 and 3, not 1 to 3
            s.PrintPages = pages;
    } else {
        s.FirstPage = 0;
        s.LastPage = 0;
    }
}

void PrinterSetupAction(TReport& report) {
    const TReportPrinter* current = currentReportPrinter(report);
    if (!current || !current->printer().available || !printersInstalled())
        return;
    QPrinter device(selectedPrinter(report), QPrinter::HighResolution);
    device.setCopyCount(report.PrinterSettings.Copies);
    QPrintDialog dialog(&device);
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintSelection;
    if (current->Status() == TPrinterStatus::Finished) {
        options |= QAbstractPrintDialog::PrintPageRange;
        dialog.setMinMax(1, current->PageCount());
        dialog.setFromTo(1, current->PageCount());
    }
    dialog.setOptions(options);
    if (dialog.exec() != QDialog::Accepted)
        return;
    applyPrintChoices(report, device.copyCount(), device.printerName(), dialog.printRange(),
                      dialog.fromPage(), dialog.toPage(), device.pageRanges());
}

// ----- text export -----

void ExportAction(TReport& report, TTextExportFilter& filter) {
    TReportPrinter printer;
    CurrentObjectScope current(report, &printer);
    TProgressForm progress(printer);
    progress.show();
    printer.setProgressReceiver(&progress);
    report.ExportText(filter, printer);
}

} // namespace lv26
