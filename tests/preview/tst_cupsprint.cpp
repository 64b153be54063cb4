// Printing through real CUPS queues of a private scheduler whose backend writes each job into
// a file: the whole listing, a page range, loaded pages, and the print action on the queue
// chosen in the print choices.
//
// Each print is made twice through the same entry point: onto Qt's PDF output, whose pages and
// texts are checked with pdfinfo and pdftotext, and through the queue. The queue's file is
// PostScript, turned back into PDF by ps2pdf, which keeps the look of the glyphs but not their
// text, so it is checked for its page count and paper and against the look of the first file,
// page by page. The scheduler (cups-test-server.sh) runs in a temporary folder and only this
// process talks to it: the system's printers are neither used nor changed. Where CUPS cannot
// run here, only the first print and its checks run; LV26_CUPS=off forces that, and
// LV26_REQUIRE_CUPS=1 makes a missing CUPS a failure.

#include "PreviewFixture.h"

#include "base/Messages.h"
#include "preview/ReportPrint.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QToolButton>

using namespace lv26;
using namespace lv26::test;

namespace {

constexpr int kJobTimeoutMs = 60000;
// Pages are compared rendered at 100 pixels per inch, in blocks of 2 mm.
constexpr int kBlock = 8;
constexpr int kGreyStep = 32;
const QString kQueue = QStringLiteral("Lv26-Letter");
const QString kA4Queue = QStringLiteral("Lv26-A4");               // offers A4 only
const QString kRejectingQueue = QStringLiteral("Lv26-Rejecting"); // takes no job

QString runTool(const QString& tool, const QStringList& args, int* exitCode = nullptr,
                QString* errors = nullptr,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(tool, args);
    const bool done = p.waitForFinished(60000);
    if (exitCode)
        *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (errors)
        *errors = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return done ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

struct PdfInfo {
    int pages = -1;
    QSizeF pageSize; // points, of the first page
};

PdfInfo pdfInfo(const QString& pdf) {
    const QString text = runTool(QStringLiteral("pdfinfo"), {pdf});
    PdfInfo info;
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(text);
    if (pages.hasMatch())
        info.pages = pages.captured(1).toInt();
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(text);
    if (size.hasMatch())
        info.pageSize = QSizeF(size.captured(1).toDouble(), size.captured(2).toDouble());
    return info;
}

bool isLetter(const QSizeF& points) {
    return qAbs(points.width() - 612) < 1.5 && qAbs(points.height() - 792) < 1.5;
}
bool isA4(const QSizeF& points) {
    return qAbs(points.width() - 595) < 1.5 && qAbs(points.height() - 842) < 1.5;
}

// The text of each page of `pdf`, first page first.
QStringList pdfPageTexts(const QString& pdf, int pages) {
    QStringList texts;
    for (int page = 1; page <= pages; ++page)
        texts << runTool(QStringLiteral("pdftotext"),
                         {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                          QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    return texts;
}

// Page `page` of `pdf` rendered in grey at 100 pixels per inch (null when it cannot be).
QImage renderPage(const QString& pdf, int page) {
    const QString prefix = pdf + QStringLiteral(".page%1").arg(page);
    const QString p = QString::number(page);
    runTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("100"),
             QStringLiteral("-f"), p, QStringLiteral("-l"), p, QStringLiteral("-singlefile"), pdf,
             prefix});
    QImage image(prefix + QStringLiteral(".pgm"));
    QFile::remove(prefix + QStringLiteral(".pgm"));
    return image.convertToFormat(QImage::Format_Grayscale8);
}

// How many blocks of `block` x `block` pixels differ in their mean grey by more than `step`
// between two pictures of equal size; -1 when the sizes differ. Blocks absorb the small
// differences of two renderings of the same glyphs, and keep those of different words.
int differingBlocks(const QImage& a, const QImage& b, int block, int step) {
    if (a.isNull() || a.size() != b.size())
        return -1;
    int differing = 0;
    for (int by = 0; by + block <= a.height(); by += block) {
        for (int bx = 0; bx + block <= a.width(); bx += block) {
            int sum = 0;
            for (int y = by; y < by + block; ++y) {
                const uchar* la = a.constScanLine(y);
                const uchar* lb = b.constScanLine(y);
                for (int x = bx; x < bx + block; ++x)
                    sum += int(la[x]) - int(lb[x]);
            }
            if (qAbs(sum) > step * block * block)
                ++differing;
        }
    }
    return differing;
}

// The employees' first names in the order the listing prints them (Table1's order). The name
// column shows what fits of each name, always its first word.
QStringList employeeFirstNames(TDados& dados) {
    QStringList names;
    for (dados.Table1->First(); !dados.Table1->Eof(); dados.Table1->Next())
        names << dados.Table1Nome->AsString().section(QLatin1Char(' '), 0, 0,
                                                      QString::SectionSkipEmpty);
    dados.Table1->First();
    return names;
}

// The listing holds 29 rows on its first page and 31 on each later one (Letter paper).
int firstRowOfPage(int page) {
    return page == 1 ? 0 : 29 + 31 * (page - 2);
}
QStringList namesOnPage(const QStringList& names, int page) {
    return names.mid(firstRowOfPage(page), firstRowOfPage(page + 1) - firstRowOfPage(page));
}

// The names of `names` missing from `text` in that order, each looked for after the previous
// one.
QStringList missingInOrder(const QString& text, const QStringList& names) {
    QStringList missing;
    qsizetype from = 0;
    for (const QString& name : names) {
        const QRegularExpression word(
            QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(name)),
            QRegularExpression::UseUnicodePropertiesOption);
        const QRegularExpressionMatch m = word.match(text, from);
        if (m.hasMatch())
            from = m.capturedEnd();
        else
            missing << name;
    }
    return missing;
}

// A CUPS scheduler of this test's own (cups-test-server.sh) in a temporary folder, reached
// through CUPS_SERVER by this process alone, with its queues and the folder their jobs go to.
// Stopped, and its folder removed, with the object.
class PrivateCups {
public:
    ~PrivateCups() { stop(); }

    // Starts the scheduler. Returns an error text when CUPS could run but its start failed;
    // otherwise available() tells whether prints can go through it.
    QString start() {
        if (qEnvironmentVariable("LV26_CUPS") == QStringLiteral("off"))
            return unavailable(QStringLiteral("LV26_CUPS=off"));
        if (!folder_.isValid())
            return QStringLiteral("no temporary folder for the scheduler");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        server_.setProcessEnvironment(env);
        server_.start(QStringLiteral("bash"), {QStringLiteral(LV26_CUPS_SERVER), folder_.path()});
        if (!server_.waitForStarted())
            return unavailable(QStringLiteral("no shell to run the scheduler"));
        const QString socket = folder_.filePath(QStringLiteral("cups.sock"));
        if (!waitUntil([&] { return QFile::exists(socket) || !running(); }) || !running())
            return failedToStart();
        // Only now, before the first printer query of this process: libcups keeps the server.
        qputenv("CUPS_SERVER", socket.toLocal8Bit());
        if (!waitUntil([] { return !QPrinterInfo::printerInfo(kQueue).isNull(); }))
            return QStringLiteral("the scheduler runs but Qt does not list %1").arg(kQueue);
        return {};
    }

    bool available() const { return running(); }
    QString description() const {
        return available() ? QStringLiteral("a private CUPS scheduler at %1").arg(folder_.path())
                           : QStringLiteral("Qt's PDF output only (%1)").arg(unavailableReason_);
    }
    QString unavailableReason() const { return unavailableReason_; }

    std::unique_ptr<QPrinter> printer(const QString& queue = kQueue) const {
        return std::make_unique<QPrinter>(QPrinterInfo::printerInfo(queue),
                                          QPrinter::HighResolution);
    }

    // A job title unique to this run and `name`; the backend names its file after it.
    static QString jobTitle(const QString& name) {
        return QStringLiteral("lv26-cups-%1-%2").arg(QCoreApplication::applicationPid()).arg(name);
    }

    // The job titled `job` as a PDF in `folder`, waiting for it up to a minute; empty if none
    // came. The backend writes each job whole, as PostScript, which ps2pdf turns back.
    QString waitForOutput(const QString& job, const QString& folder) const {
        const QRegularExpression name(
            QStringLiteral("^%1-job_\\d+\\.ps$").arg(QRegularExpression::escape(job)));
        QString ps;
        waitUntil(
            [&] {
                for (const QString& file : QDir(outputFolder()).entryList(QDir::Files))
                    if (name.match(file).hasMatch())
                        ps = QDir(outputFolder()).filePath(file);
                return !ps.isEmpty();
            },
            kJobTimeoutMs);
        if (ps.isEmpty())
            return {};
        const QString pdf = QDir(folder).filePath(job + QStringLiteral("-queue.pdf"));
        int status = -1;
        runTool(QStringLiteral("ps2pdf"), {ps, pdf}, &status);
        return status == 0 ? pdf : QString();
    }

private:
    QString outputFolder() const { return folder_.filePath(QStringLiteral("out")); }
    bool running() const { return server_.state() == QProcess::Running; }

    QString unavailable(const QString& reason) {
        unavailableReason_ = reason;
        return {};
    }

    // The scheduler ended before it listened: status 3 means CUPS cannot run here.
    QString failedToStart() {
        server_.waitForFinished(5000);
        const QString errors = QString::fromUtf8(server_.readAllStandardError()).trimmed();
        if (server_.exitStatus() == QProcess::NormalExit && server_.exitCode() == 3)
            return unavailable(errors);
        stop();
        return errors.isEmpty() ? QStringLiteral("the scheduler did not start") : errors;
    }

    void stop() {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.terminate();
        if (!server_.waitForFinished(10000)) {
            server_.kill();
            server_.waitForFinished();
        }
    }

    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(50);
        }
        return true;
    }

    QTemporaryDir folder_;
    QProcess server_;
    QString unavailableReason_;
};

} // namespace

class TestCupsPrint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        installFontSubstitutions();
        QVERIFY(files_.isValid());
        const QString error = cups_.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        if (!cups_.available() && qEnvironmentVariableIntValue("LV26_REQUIRE_CUPS"))
            QFAIL(qPrintable(cups_.unavailableReason()));
        qInfo("Printing to %s", qPrintable(cups_.description()));
    }

    void printsTheWholeListing() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        f.dados().TotalHoras();
        const QStringList names = employeeFirstNames(f.dados());
        printBothWays(f.report(), QStringLiteral("all"),
                      [&](QPrinter& printer) { printReportTo(f.report(), printer); });
        checkListing(reference_, names, 1, 3);
        QVERIFY(!f.report().busy());
    }

    void printsOnlyThePagesOfTheRange() {
        PreviewFixture f(120); // four pages
        QVERIFY(f.ok());
        const QStringList names = employeeFirstNames(f.dados());
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::PageRange, 2, 3);
        printBothWays(f.report(), QStringLiteral("range"),
                      [&](QPrinter& printer) { printReportTo(f.report(), printer); });
        checkListing(reference_, names, 2, 3);
    }

    void printsLoadedPages() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        const QStringList names = employeeFirstNames(f.dados());
        const QString saved = f.path(QStringLiteral("saved.QRP"));
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(saved);
            form->loadReportFile(saved);
            printBothWays(f.report(), QStringLiteral("loaded"), [&](QPrinter& printer) {
                // The job's name is the object's title: ours, so that its file can be found.
                form->printer()->Title = printer.docName();
                printStoredPages(*form->printer(), printer);
            });
        });
        checkListing(reference_, names, 1, 3);
    }

    // The print button's path: the queue chosen in the print choices, by its place in the
    // system's list of printers.
    void printActionUsesTheChosenQueue() {
        if (!cups_.available())
            QSKIP("needs CUPS");
        PreviewFixture f(40);
        QVERIFY(f.ok());
        const QStringList names = employeeFirstNames(f.dados());
        applyPrintChoices(f.report(), 1, kQueue, QAbstractPrintDialog::AllPages, 0, 0);
        QVERIFY(f.report().PrinterSettings.PrinterIndex >= 0);
        const QString job = PrivateCups::jobTitle(QStringLiteral("action"));
        reference_ = files_.filePath(job + QStringLiteral(".pdf"));
        f.report().ReportTitle = job;
        printReportTo(f.report(), *pdfPrinter(reference_));
        PrintAction(f.report());
        checkListing(reference_, names, 1, 2);
        checkPrintedLikeReference(cups_.waitForOutput(job, files_.path()));
    }

    // Loaded pages printed with the Print button go to the printer the print choices
    // selected, not to the system's default one.
    void loadedPagesGoToTheChosenQueue() {
        if (!cups_.available())
            QSKIP("needs CUPS");
        PreviewFixture f(40);
        QVERIFY(f.ok());
        applyPrintChoices(f.report(), 1, kQueue, QAbstractPrintDialog::AllPages, 0, 0);
        const QString job = PrivateCups::jobTitle(QStringLiteral("loaded-button"));
        const QString saved = f.path(QStringLiteral("button.QRP"));
        int pages = 0;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(saved);
            form->loadReportFile(saved);
            pages = form->printer()->PageCount();
            form->printer()->Title = job;
            form->findChild<QToolButton*>(QStringLiteral("Print"))->click();
        });
        QCOMPARE(pages, 2);
        const QString pdf = cups_.waitForOutput(job, files_.path());
        QVERIFY2(!pdf.isEmpty(), "the loaded pages did not reach the chosen queue");
        QCOMPARE(pdfInfo(pdf).pages, pages);
    }

    // A queue that does not offer Letter: the preview and the print both lay the listing out
    // on the queue's current paper, A4, so that the print has the preview's pages.
    void printAndPreviewShareThePaperOfAQueueWithoutLetter() {
        if (!cups_.available())
            QSKIP("needs CUPS");
        PreviewFixture f(61); // three pages on Letter (29 + 31 + 1); A4 holds more rows a page
        QVERIFY(f.ok());
        // What the preview sees when that queue is the default printer.
        TReportPrinter::setDefaultPrinterQuery(
            [] { return printerInfo(QPrinterInfo::printerInfo(kA4Queue)); });
        int previewPages = 0;
        QSizeF previewPaper;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            previewPages = form->printer()->PageCount();
            previewPaper = QSizeF(form->printer()->paperWidth(), form->printer()->paperLength());
        });
        QCOMPARE(previewPaper, QSizeF(2100, 2970));
        QCOMPARE(previewPages, 2);

        const QString job = PrivateCups::jobTitle(QStringLiteral("a4"));
        f.report().ReportTitle = job;
        printReportTo(f.report(), *cups_.printer(kA4Queue));
        const QString pdf = cups_.waitForOutput(job, files_.path());
        QVERIFY2(!pdf.isEmpty(), "no job came out of the A4 queue within a minute");
        const PdfInfo printed = pdfInfo(pdf);
        QVERIFY2(isA4(printed.pageSize), qPrintable(QStringLiteral("%1 x %2 pt")
                                                        .arg(printed.pageSize.width())
                                                        .arg(printed.pageSize.height())));
        QCOMPARE(printed.pages, previewPages);
    }

    // A queue that refuses the job: the print is an error that names the printer, never a
    // silent success, for the generated listing and for loaded pages alike; the report and
    // the preview stay usable.
    void aRefusedJobIsAnError() {
        if (!cups_.available())
            QSKIP("needs CUPS");
        PreviewFixture f(40);
        QVERIFY(f.ok());
        applyPrintChoices(f.report(), 1, kRejectingQueue, QAbstractPrintDialog::AllPages, 0, 0);
        // The print system's reason follows.
        const QString refused = msg(Message::PrintJobRefused, {kRejectingQueue, QString()});
        const QString generated = errorOf([&] { PrintAction(f.report()); });
        QVERIFY2(generated.startsWith(refused) && generated.size() > refused.size(),
                 qPrintable(generated));
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);

        const QString saved = f.path(QStringLiteral("refused.QRP"));
        QString loaded;
        int pagesAfter = 0;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(saved);
            form->loadReportFile(saved);
            loaded = errorOf([&] { printStoredPages(*form->printer(), f.report()); });
            pagesAfter = form->printer()->PageCount();
        });
        QVERIFY2(loaded.startsWith(refused) && loaded.size() > refused.size(), qPrintable(loaded));
        QCOMPARE(pagesAfter, 2);
        // The same report then prints where the queue takes jobs.
        applyPrintChoices(f.report(), 1, kQueue, QAbstractPrintDialog::AllPages, 0, 0);
        const QString job = PrivateCups::jobTitle(QStringLiteral("after-refusal"));
        f.report().ReportTitle = job;
        QCOMPARE(errorOf([&] { PrintAction(f.report()); }), QString());
        QCOMPARE(pdfInfo(cups_.waitForOutput(job, files_.path())).pages, 2);
    }

private:
    // Runs `print` onto Qt's PDF output (kept in reference_) and, where CUPS runs, onto the
    // queue, whose file is then checked against the first one. The job is titled after `name`.
    void printBothWays(TReport& report, const QString& name,
                       const std::function<void(QPrinter&)>& print) {
        const QString job = PrivateCups::jobTitle(name);
        report.ReportTitle = job;
        reference_ = files_.filePath(job + QStringLiteral(".pdf"));
        if (cups_.available()) {
            auto printer = cups_.printer();
            printer->setDocName(job);
            print(*printer);
        }
        auto printer = pdfPrinter(reference_);
        printer->setDocName(job);
        print(*printer);
        if (cups_.available())
            checkPrintedLikeReference(cups_.waitForOutput(job, files_.path()));
    }

    // The queue's file `pdf` has the pages and the paper of the reference, each page looking
    // like the reference's page of the same number.
    void checkPrintedLikeReference(const QString& pdf) const {
        QVERIFY2(!pdf.isEmpty(), "no PDF came out of the queue within a minute");
        const PdfInfo printed = pdfInfo(pdf);
        const PdfInfo expected = pdfInfo(reference_);
        QCOMPARE(printed.pages, expected.pages);
        QVERIFY2(isLetter(printed.pageSize), qPrintable(QStringLiteral("%1 x %2 pt")
                                                            .arg(printed.pageSize.width())
                                                            .arg(printed.pageSize.height())));
        for (int page = 1; page <= expected.pages; ++page) {
            // Two renderings of the same page differ in at most a block or two (different
            // rows on a page make dozens differ).
            const int differing = differingBlocks(renderPage(pdf, page),
                                                  renderPage(reference_, page), kBlock, kGreyStep);
            QVERIFY2(
                differing >= 0 && differing <= 5,
                qPrintable(QStringLiteral("page %1: %2 blocks differ").arg(page).arg(differing)));
        }
    }

    // `pdf` holds pages `firstPage` to `lastPage` of the listing of `names`, one per Letter
    // sheet: the column headers and page number on each, the title on the first page only,
    // and the employees of those pages in order.
    static void checkListing(const QString& pdf, const QStringList& names, int firstPage,
                             int lastPage) {
        const PdfInfo info = pdfInfo(pdf);
        const int pages = lastPage - firstPage + 1;
        QCOMPARE(info.pages, pages);
        QVERIFY(isLetter(info.pageSize));
        const QStringList texts = pdfPageTexts(pdf, pages);
        for (int i = 0; i < pages; ++i) {
            const int page = firstPage + i;
            const QString& text = texts.at(i);
            for (const char* header :
                 {"NOME", "HORAS TRABALHADAS", "SALÁRIO HORA", "SALÁRIO MENSAL"})
                QVERIFY2(text.contains(QString::fromUtf8(header)),
                         qPrintable(QStringLiteral("page %1 lacks %2\n%3")
                                        .arg(page)
                                        .arg(QString::fromUtf8(header), text)));
            QVERIFY2(text.contains(QStringLiteral("Página %1").arg(page)), qPrintable(text));
            QCOMPARE(text.contains(QStringLiteral("Folha de Pagamento")), page == 1);
            const QStringList missing = missingInOrder(text, namesOnPage(names, page));
            QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("page %1 lacks %2\n%3")
                                                       .arg(page)
                                                       .arg(missing.join(u", "), text)));
        }
    }

    QTemporaryDir files_;
    PrivateCups cups_;
    QString reference_; // Qt's PDF output of the last print
};

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
