// Printing through our printer path onto PDF printers: the whole listing, a page range and
// copies kept from the print choices, the printing of loaded pages, and the choices' rules.
// The PDFs are read back with pdftotext and pdfinfo.

#include "PreviewFixture.h"

#include "preview/ProgressForm.h"
#include "preview/ReportPreview.h"
#include "preview/ReportPrint.h"

#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

using namespace lv26;
using namespace lv26::test;

namespace {

QString runTool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString& pdf) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(runTool(QStringLiteral("pdfinfo"), {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text of page `page` of `pdf`.
QString pdfText(const QString& pdf, int page) {
    return runTool(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                    QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
}

QString paperName(TPaperSize paper) {
    switch (paper) {
    case TPaperSize::Letter:
        return QStringLiteral("Letter");
    case TPaperSize::A4:
        return QStringLiteral("A4");
    case TPaperSize::Custom:
        return QStringLiteral("Custom");
    case TPaperSize::Default:
        break;
    }
    return QStringLiteral("Default");
}

QStringList paperNames(const QList<TPaperSize>& papers) {
    QStringList names;
    for (TPaperSize paper : papers)
        names << paperName(paper);
    return names;
}

} // namespace

class TestPrint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installFontSubstitutions(); }

    // What a report printer object learns of a printer's papers: Letter only where the
    // printer offers it, else the printer's current paper stays and is what the listing is
    // laid out on, in the preview and in the print alike.
    void printerPapers_data() {
        QTest::addColumn<QList<QPageSize>>("offered");
        QTest::addColumn<QPageSize>("current");
        QTest::addColumn<QStringList>("papers");
        QTest::addColumn<QString>("currentPaper");
        QTest::addColumn<QSizeF>("currentSize");
        const QPageSize letter(QPageSize::Letter), a4(QPageSize::A4), legal(QPageSize::Legal);
        QTest::newRow("A4 only: no Letter to select")
            << QList<QPageSize>{a4} << a4 << QStringList{QStringLiteral("A4")}
            << QStringLiteral("A4") << QSizeF(2100, 2970);
        QTest::newRow("Letter and A4, A4 current")
            << QList<QPageSize>{a4, letter} << a4
            << QStringList{QStringLiteral("A4"), QStringLiteral("Letter")} << QStringLiteral("A4")
            << QSizeF(2100, 2970);
        // A paper with no name of ours is the printer's default paper, with its own size.
        QTest::newRow("Legal current, Letter offered")
            << QList<QPageSize>{legal, letter} << legal << QStringList{QStringLiteral("Letter")}
            << QStringLiteral("Default") << QSizeF(2159, 3556);
        QTest::newRow("a printer that tells nothing: A4, as without a printer")
            << QList<QPageSize>{} << QPageSize() << QStringList{} << QStringLiteral("A4")
            << QSizeF(2100, 2970);
    }

    void printerPapers() {
        QFETCH(QList<QPageSize>, offered);
        QFETCH(QPageSize, current);
        QFETCH(QStringList, papers);
        QFETCH(QString, currentPaper);
        QFETCH(QSizeF, currentSize);
        const PrinterInfo info = printerInfo(offered, current);
        QCOMPARE(paperNames(info.paperSizes), papers);
        QCOMPARE(paperName(info.currentPaper), currentPaper);
        QCOMPARE(info.currentPaperSize.toSize(), currentSize.toSize());
    }

    // A PDF QPrinter takes any paper: Letter and A4 are offered.
    void pdfPrintersOfferLetterAndA4() {
        QTemporaryDir dir;
        auto printer = pdfPrinter(dir.filePath(QStringLiteral("any.pdf")));
        printer->setPageSize(QPageSize(QPageSize::A4));
        const PrinterInfo info = printerInfo(*printer);
        QVERIFY(info.available);
        QCOMPARE(paperNames(info.paperSizes),
                 (QStringList{QStringLiteral("Letter"), QStringLiteral("A4")}));
        QCOMPARE(paperName(info.currentPaper), QStringLiteral("A4"));
    }

    void printsTheWholeListingOnePagePerSheet() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        const QString pdf = f.path(QStringLiteral("all.pdf"));
        f.dados().TotalHoras();
        printReportTo(f.report(), *pdfPrinter(pdf));
        QCOMPARE(pdfPages(pdf), 3);
        const QString first = pdfText(pdf, 1);
        QVERIFY(first.contains(QStringLiteral("Folha de Pagamento")));
        QVERIFY(first.contains(QStringLiteral("Página 1")));
        QVERIFY(pdfText(pdf, 3).contains(QStringLiteral("Página 3")));
        QVERIFY(!pdfText(pdf, 2).contains(QStringLiteral("Folha de Pagamento")));
        // For a person's look: LV26_SHOT_DIR=dir keeps page 1 rendered from the PDF.
        if (const QString shots = qEnvironmentVariable("LV26_SHOT_DIR"); !shots.isEmpty())
            runTool(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"),
                     QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                     QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
                     shots + QStringLiteral("/printed")});
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);
    }

    void printRangeAndCopiesAreKeptForLaterPrints() {
        PreviewFixture f(120); // four pages
        QVERIFY(f.ok());
        applyPrintChoices(f.report(), 2, QString(), QAbstractPrintDialog::PageRange, 2, 3);
        QCOMPARE(f.report().PrinterSettings.Copies, 2);
        for (const char* name : {"range1.pdf", "range2.pdf"}) {
            const QString pdf = f.path(QString::fromLatin1(name));
            auto printer = pdfPrinter(pdf);
            printReportTo(f.report(), *printer);
            QCOMPARE(printer->copyCount(), 2);
            QCOMPARE(pdfPages(pdf), 2);
            QVERIFY(pdfText(pdf, 1).contains(QStringLiteral("Página 2")));
            QVERIFY(pdfText(pdf, 2).contains(QStringLiteral("Página 3")));
        }
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::Selection, 2, 3);
        QCOMPARE(f.report().PrinterSettings.FirstPage, 0);
        QCOMPARE(f.report().PrinterSettings.LastPage, 0);
    }

    // The dialog's list of pages, "1,3": those two pages, not 1 to 3.
    void aListOfPagesPrintsOnlyThose() {
        PreviewFixture f(120); // four pages
        QVERIFY(f.ok());
        QPageRanges pages;
        pages.addPage(1);
        pages.addPage(3);
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::PageRange, 1, 3, pages);
        const QString pdf = f.path(QStringLiteral("list.pdf"));
        printReportTo(f.report(), *pdfPrinter(pdf));
        QCOMPARE(pdfPages(pdf), 2);
        QVERIFY(pdfText(pdf, 1).contains(QStringLiteral("Página 1")));
        QVERIFY(pdfText(pdf, 2).contains(QStringLiteral("Página 3")));
        // A later choice of all pages, or of one run of pages, drops the list.
        QPageRanges run;
        run.addRange(2, 4);
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::PageRange, 2, 4, run);
        QVERIFY(f.report().PrinterSettings.PrintPages.isEmpty());
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::PageRange, 1, 3, pages);
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::AllPages, 0, 0);
        QVERIFY(f.report().PrinterSettings.PrintPages.isEmpty());
    }

    void aRangeBeyondTheReportPrintsNothing() {
        PreviewFixture f(5);
        QVERIFY(f.ok());
        applyPrintChoices(f.report(), 1, QString(), QAbstractPrintDialog::PageRange, 3, 4);
        QString message;
        try {
            printReportTo(f.report(), *pdfPrinter(f.path(QStringLiteral("none.pdf"))));
        } catch (const Error& e) {
            message = e.message();
        }
        QCOMPARE(message, QStringLiteral("Printer is not currently printing"));
        QVERIFY(!f.report().busy());
    }

    // Cancel in the progress window, or the report's own cancel (what closing the main
    // window does): the run stops before its next employee and the pages produced print.
    void cancelledPrintKeepsThePagesProduced_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("progress window's Cancel") << true;
        QTest::newRow("report cancelled") << false;
    }

    void cancelledPrintKeepsThePagesProduced() {
        QFETCH(bool, byButton);
        PreviewFixture f(600);
        QVERIFY(f.ok());
        const QString pdf = f.path(QStringLiteral("cut.pdf"));
        onceWhen(
            [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* p = qobject_cast<TProgressForm*>(w); p && p->bar()->value() >= 30)
                        return true;
                return false;
            },
            [&] {
                if (!byButton) {
                    CancelReport(f.report());
                    return;
                }
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* p = qobject_cast<TProgressForm*>(w))
                        p->CancelButton()->click();
            });
        printReportTo(f.report(), *pdfPrinter(pdf));
        const int pages = pdfPages(pdf);
        QVERIFY2(pages >= 5 && pages < 20, qPrintable(QString::number(pages)));
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);
    }

    void loadedPagesPrintWithoutRegenerating() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        const QString saved = f.path(QStringLiteral("saved.QRP"));
        const QString pdf = f.path(QStringLiteral("loaded.pdf"));
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(saved);
            form->loadReportFile(saved);
            auto printer = pdfPrinter(pdf);
            printStoredPages(*form->printer(), *printer);
        });
        QCOMPARE(pdfPages(pdf), 3);
        QVERIFY(pdfText(pdf, 1).contains(QStringLiteral("SALÁRIO MENSAL")));
        QVERIFY(pdfText(pdf, 3).contains(QStringLiteral("Página 3")));
    }

    // A PDF file that cannot be created (its folder is a file): the generated print and the
    // print of loaded pages are errors, and nothing is left running.
    void aPrintThatCannotBeWrittenIsAnError() {
        PreviewFixture f(40);
        QVERIFY(f.ok());
        QFile notAFolder(f.path(QStringLiteral("file")));
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        notAFolder.close();
        const QString unwritable = f.path(QStringLiteral("file/out.pdf"));
        const QString invalid = QStringLiteral("Printer selected is not valid");
        QCOMPARE(errorOf([&] { printReportTo(f.report(), *pdfPrinter(unwritable)); }), invalid);
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);

        const QString saved = f.path(QStringLiteral("saved.QRP"));
        QString loaded;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(saved);
            form->loadReportFile(saved);
            loaded = errorOf([&] { printStoredPages(*form->printer(), *pdfPrinter(unwritable)); });
        });
        QCOMPARE(loaded, invalid);
        QVERIFY(!QFile::exists(unwritable));
    }

    void printWhileBusyDoesNothing() {
        PreviewFixture f(300);
        QVERIFY(f.ok());
        const QString pdf = f.path(QStringLiteral("busy.pdf"));
        onceWhen([] { return formBusyWithPages(1); },
                 [&] { printReportTo(ListForm->Report1, *pdfPrinter(pdf)); });
        previewAndThen(f.report(), [](TPreviewForm*) {});
        QVERIFY(!QFile::exists(pdf));
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
