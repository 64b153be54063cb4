// The listing of 100,000 employees (3,226 pages on Letter paper):
//  1. from the payroll press to page 1 on screen: TotalHoras, then the preview operation until
//     the page image holds page 1 (goal: under 300 ms), with the totals out of date, then again
//     with them current;
//  2. the preview of all pages to the end, with the resident memory sampled as pages arrive;
//  3. printing the listing to a PDF through our printer path, against a ReportLab script
//     writing the same listing as PDF in the same run (goal: ours at least 3x faster).
// Usage: bench_Preview [EMPLOYEES [--first-page-only | --print-only]]   (run under xvfb-run or
// QT_QPA_PLATFORM=offscreen); --print-only runs TotalHoras untimed, then step 3 alone. The hidden
// maintenance window is created as the program creates it, unless LV26_BENCH_NO_FORM2 is set.

#include "data/Fonts.h"
#include "data/Unit3.h"
#include "maintenance/Unit2.h"
#include "preview/PreviewControl.h"
#include "preview/PreviewForm.h"
#include "preview/ReportPreview.h"
#include "preview/ReportPrint.h"
#include "report/LISTUnit.h"
#include "report/ReportDataSet.h"
#include "report/ReportPrinter.h"

#include "ResidentMemory.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>

using namespace lv26;

using lv26::bench::residentKiB;

namespace {

// CPU time of this process, and of its finished children, in milliseconds: on a shared machine
// they compare the two printers better than the elapsed times do.
qint64 ownCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

qint64 childrenCpuMs() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (qint64(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

bool runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitCode() == 0;
}

void onceWhen(std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, condition, action] {
        if (!condition())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

PrinterInfo letterPrinter() {
    PrinterInfo p;
    p.available = true;
    p.paperSizes = {TPaperSize::Letter, TPaperSize::A4};
    return p;
}

// One press of the payroll button: TotalHoras, then the preview until page 1 is on screen.
void pressToFirstPage(TReport& report, const char* what) {
    QElapsedTimer clock;
    clock.start();
    Dados->TotalHoras();
    const qint64 totals = clock.elapsed();
    qint64 firstPage = -1;
    onceWhen(
        [] {
            TPreviewForm* f = lastPreviewForm();
            return f && f->preview()->image()->hasPage();
        },
        [&] {
            firstPage = clock.elapsed();
            lastPreviewForm()->close();
        });
    PreviewReport(report);
    std::printf("press to page 1 on screen, %s: %lld ms (TotalHoras %lld ms, preview %lld ms; "
                "goal < 300 ms)\n",
                what, firstPage, totals, firstPage - totals);
}

// The first press stores every employee's total; a second one finds them current and only
// reads them.
void pressesToFirstPage(TReport& report) {
    pressToFirstPage(report, "totals out of date");
    pressToFirstPage(report, "totals already current");
    // The two data-layer steps a generation takes before its first row, for comparison.
    QElapsedTimer clock;
    clock.start();
    report.DataSet()->recordCount();
    const qint64 countMs = clock.elapsed();
    clock.restart();
    report.DataSet()->first();
    std::printf("  a generation's start alone: row count %lld ms, first row %lld ms\n", countMs,
                qint64(clock.elapsed()));
}

void previewAllPages(TReport& report) {
    QElapsedTimer clock;
    clock.start();
    long rssAt100 = -1, rssMax = 0;
    int pages = 0, sampledAt = 0;
    onceWhen(
        [&] {
            TPreviewForm* f = lastPreviewForm();
            if (!f)
                return false;
            // Sampled once per finished page: reading /proc on every pass of the event loop
            // would cost the generation more than it measures.
            const int done = f->printer()->PagesCompleted();
            if (done != sampledAt) {
                sampledAt = done;
                const long rss = residentKiB();
                if (done >= 100 && rssAt100 < 0)
                    rssAt100 = rss;
                rssMax = qMax(rssMax, rss);
            }
            return f->printer()->Status() == TPrinterStatus::Finished;
        },
        [&] {
            pages = lastPreviewForm()->printer()->PageCount();
            lastPreviewForm()->LastPageClick();
            lastPreviewForm()->close();
        });
    PreviewReport(report);
    std::printf("preview of all %d pages: %lld ms; resident memory at page 100: %ld KiB, "
                "highest later: %ld KiB (growth %ld KiB)\n",
                pages, clock.elapsed(), rssAt100, rssMax, rssMax - rssAt100);
}

void printVersusReportLab(TReport& report, const QString& dir) {
    const QString ours = dir + QStringLiteral("/ours.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(ours);
    QElapsedTimer clock;
    clock.start();
    const qint64 oursCpuStart = ownCpuMs();
    printReportTo(report, printer);
    const qint64 oursMs = clock.elapsed();
    const qint64 oursCpu = ownCpuMs() - oursCpuStart;

    const QString script = QStringLiteral(LV26_SOURCE_DIR "/bench/report/reportlab_listing.py");
    clock.restart();
    const qint64 theirsCpuStart = childrenCpuMs();
    const bool ok =
        runTool(QStringLiteral("/usr/bin/python3"),
                {script, dir + QStringLiteral("/Func.DB"), dir + QStringLiteral("/rl.pdf")});
    const qint64 theirsMs = clock.elapsed();
    const qint64 theirsCpu = childrenCpuMs() - theirsCpuStart;
    std::printf("print to PDF: ours %lld ms (%lld KiB), ReportLab %s %lld ms (%lld KiB); "
                "ratio %.2fx (goal >= 3x)\n",
                oursMs, QFileInfo(ours).size() / 1024, ok ? "" : "(FAILED)", theirsMs,
                QFileInfo(dir + QStringLiteral("/rl.pdf")).size() / 1024,
                oursMs > 0 ? double(theirsMs) / oursMs : 0.0);
    std::printf("  CPU time: ours %lld ms, ReportLab %lld ms; ratio %.2fx\n", oursCpu, theirsCpu,
                oursCpu > 0 ? double(theirsCpu) / oursCpu : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    installFontSubstitutions();
    const int employees = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString tool = QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables");
    if (!runTool(tool, {QStringLiteral("create"), dir.path()}) ||
        !runTool(tool, {QStringLiteral("fill"), dir.path(), QString::number(employees)})) {
        std::fprintf(stderr, "lv26-tables failed\n");
        return 1;
    }
    QDir::setCurrent(dir.path());
    TReportPrinter::setDefaultPrinterQuery(letterPrinter);
    Dados = new TDados;
    // As in the program: the hidden maintenance window's grids stay linked to both tables.
    const QByteArray option = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const bool withForm2 = !qEnvironmentVariableIsSet("LV26_BENCH_NO_FORM2");
    if (withForm2)
        Form2 = new TForm2;
    ListForm = new TListForm(Dados->Table1);
    std::printf("%d employees%s\n", employees,
                withForm2 ? ", maintenance window created (hidden)" : "");
    if (option == "--print-only") {
        Dados->TotalHoras();
    } else {
        pressesToFirstPage(ListForm->Report1);
        if (option == "--first-page-only")
            return 0;
        previewAllPages(ListForm->Report1);
    }
    printVersusReportLab(ListForm->Report1, dir.path());
    delete ListForm;
    ListForm = nullptr;
    delete Form2;
    Form2 = nullptr;
    delete Dados;
    Dados = nullptr;
    return 0;
}
