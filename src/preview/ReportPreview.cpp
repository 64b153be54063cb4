#include "preview/ReportPreview.h"

#include "preview/PreviewForm.h"
#include "preview/ReportPrint.h"
#include "report/Report.h"
#include "report/ReportPrinter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace lv26 {

namespace {

QPointer<TPreviewForm> lastForm;

TReportActions reportActions(TReport& report) {
    return {[&report] { PrintAction(report); }, [&report] { PrinterSetupAction(report); },
            [&report](TTextExportFilter& filter) { ExportAction(report, filter); },
            [&report](TReportPrinter& printer) { printStoredPages(printer, report); }};
}

// Waits until `form` has been closed or the application is ending; returns true in the
// second case. Messages are dispatched at least once before the first test.
bool waitUntilClosed(const QPointer<TPreviewForm>& watched, const TReportPrinter& printer) {
    QCoreApplication::processEvents();
    if (!watched || !watched->isOpen() || !printer.ShowingPreview)
        return false;
    QEventLoop loop;
    QObject::connect(watched, &TPreviewForm::closed, &loop, &QEventLoop::quit);
    QObject::connect(watched, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    // QCoreApplication::exit() ends every running loop: the window is then still open.
    return watched && watched->isOpen();
}

} // namespace

void CancelReport(const TReport& report) {
    if (TReportPrinter* printer = currentReportPrinter(report))
        printer->Cancel();
}

TPreviewForm* lastPreviewForm() {
    return lastForm;
}

void PreviewReport(TReport& report) {
    if (report.busy())
        return;
    auto printer = std::make_shared<TReportPrinter>();
    setCurrentReportPrinter(report, printer.get());
    struct ClearCurrent {
        TReport& report;
        ~ClearCurrent() { setCurrentReportPrinter(report, nullptr); }
    } clearCurrent{report};
    printer->setDestination(TReportDestination::Preview);

    QPointer<TPreviewForm> form = new TPreviewForm(printer, reportActions(report));
    form->setAttribute(Qt::WA_QuitOnClose, false);
    const QPointer<TPreviewForm> outerForm = lastForm;
    lastForm = form;
    struct RestoreLast {
        QPointer<TPreviewForm> previous;
        ~RestoreLast() { lastForm = previous; }
    } restoreLast{outerForm};
    form->show();
    QCoreApplication::processEvents();

    // An error leaves the window open with its pages; it owns the object from here on. A
    // window closed or a run cancelled already has no use for the generation.
    if (form && form->isOpen() && !printer->Cancelled())
        report.Generate(*printer);

    if (waitUntilClosed(form, *printer) && form) {
        form->close();
        delete form.data();
    }
}

} // namespace lv26
