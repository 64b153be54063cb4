// lv26-report as a real child process: its usage errors (exit 2), its errors (exit 1, the
// program's own message), each output compared with what the preview's Save and the print give
// for the same pages, and Ctrl+C (a real SIGINT) removing the files it had not finished.

#include "report/PayrollFixture.h"
#include "report/PdfExport.h"
#include "report/TextExport.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::test;

namespace {

struct Result {
    int exitCode = -1;
    QString err;
};

// Runs lv26-report with `args` in `dir`; `env` replaces the environment when not empty.
Result runReport(const QStringList& args, const QString& dir,
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LV26_REPORT_EXE), args);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError())};
}

QByteArray contents(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString pdfInfo(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {file});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A report file without its header's date and time (bytes 12..19), which differ between runs.
QByteArray withoutDate(QByteArray qrp) {
    if (qrp.size() >= 20)
        qrp.replace(12, 8, QByteArray(8, '\0'));
    return qrp;
}

// Runs lv26-report in `dir` with its standard error on a terminal (a pseudo-terminal this test
// holds); what it wrote there.
QString runOnTerminal(const QStringList& args, const QString& dir) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return QStringLiteral("(no pseudo-terminal)");
    fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setStandardErrorFile(QString::fromLocal8Bit(ptsname(master)));
    p.start(QStringLiteral(LV26_REPORT_EXE), args);
    QByteArray seen;
    const auto drain = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            seen.append(buffer, n);
    };
    while (!p.waitForFinished(20))
        drain();
    drain();
    ::close(master);
    return QString::fromUtf8(seen);
}

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        installFontSubstitutions();
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        TReportPrinter::setDefaultPrinterQuery(letterPrinter);
    }

    void usageErrorsExitWithTwoAndTheUsage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing to write") << QStringList{} << "Nothing to write";
        QTest::newRow("unknown option")
            << QStringList{"--pdf", "a.pdf", "--colour"} << "Unknown option --colour";
        QTest::newRow("value missing") << QStringList{"--pdf"} << "Option --pdf needs a value";
        QTest::newRow("bad paper") << QStringList{"--paper", "legal", "--pdf", "a.pdf"}
                                   << "Invalid value legal for --paper";
        QTest::newRow("bad dpi") << QStringList{"--png", "d", "--dpi", "0"}
                                 << "Invalid value 0 for --dpi";
        // A page at 1200 pixels per inch would take half a gigabyte of memory.
        QTest::newRow("dpi too high")
            << QStringList{"--png", "d", "--dpi", "1200"} << "Invalid value 1200 for --dpi";
        QTest::newRow("dpi without png")
            << QStringList{"--pdf", "a.pdf", "--dpi", "300"} << "--dpi needs --png";
        QTest::newRow("from-qrp with csv") << QStringList{"--from-qrp", "a.qrp", "--csv", "a.csv"}
                                           << "--from-qrp works only with --pdf and --png";
        QTest::newRow("two folders") << QStringList{"--pdf", "a.pdf", "one", "two"}
                                     << "Only one folder may be given; two is a second one";
    }
    void usageErrorsExitWithTwoAndTheUsage() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const Result r = runReport(args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
        QVERIFY2(r.err.contains(u"Usage: lv26-report [--totals]"), qPrintable(r.err));
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void errorsExitWithOneAndTheProgramsMessage() {
        QTemporaryDir dir;
        // No tables in the folder: the table engine's own message, nothing written.
        Result r = runReport({QStringLiteral("--pdf"), QStringLiteral("a.pdf")}, dir.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"Func.DB"), qPrintable(r.err));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("a.pdf"))));

        r = runReport({QStringLiteral("--from-qrp"),
                       QStringLiteral(LV26_TEST_DATA "/reportfiles/missing.qrp"),
                       QStringLiteral("--pdf"), QStringLiteral("a.pdf")},
                      dir.path());
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QStringLiteral("File does not exist\n"));

        PayrollFixture f(employees(3));
        const QString noFolder = f.path(QStringLiteral("missing/listing.pdf"));
        r = runReport({QStringLiteral("--pdf"), noFolder}, f.path(QString()));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QStringLiteral("Cannot create file ") + noFolder + u'\n');
    }

    void everyOutputIsWhatThePreviewSavesAndPrints() {
        PayrollFixture f(employees(61)); // three pages
        const Result r =
            runReport({QStringLiteral("--pdf"), QStringLiteral("out.pdf"), QStringLiteral("--text"),
                       QStringLiteral("out.txt"), QStringLiteral("--qrp"),
                       QStringLiteral("out.qrp"), QStringLiteral("--csv"),
                       QStringLiteral("out.csv"), QStringLiteral("--png"), QStringLiteral("png"),
                       QStringLiteral("--dpi"), QStringLiteral("192"), f.path(QString())},
                      QDir::tempPath());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString()); // standard error is no terminal: no progress

        // The text file byte for byte as Save as text writes it.
        const QString text = f.path(QStringLiteral("preview.txt"));
        {
            TTextExportFilter filter(text);
            TReportPrinter printer;
            f.report().ExportText(filter, printer);
        }
        QCOMPARE(contents(QDir::temp().filePath(QStringLiteral("out.txt"))), contents(text));
        QFile::remove(QDir::temp().filePath(QStringLiteral("out.txt")));

        // The report file as Save writes the preview's pages.
        TReportPrinter pages(letterPrinter());
        f.report().Generate(pages);
        const QString qrp = f.path(QStringLiteral("preview.qrp"));
        pages.Save(qrp);
        const QString outQrp = QDir::temp().filePath(QStringLiteral("out.qrp"));
        QCOMPARE(withoutDate(contents(outQrp)), withoutDate(contents(qrp)));
        QFile::remove(outQrp);

        const QString outPdf = QDir::temp().filePath(QStringLiteral("out.pdf"));
        if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) {
            const QString info = pdfInfo(outPdf);
            QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages: +3\n"))),
                     qPrintable(info));
            QVERIFY2(info.contains(u"612 x 792"), qPrintable(info));
        }
        QFile::remove(outPdf);

        const QString outCsv = QDir::temp().filePath(QStringLiteral("out.csv"));
        const QList<QByteArray> csv = contents(outCsv).split('\n');
        QCOMPARE(csv.size(), 1 + 61 + 1); // header, employees, the empty rest after the last \n
        QCOMPARE(csv[1], QByteArray("00001,Func1,12345678909,F,10,40,400.00"));
        QFile::remove(outCsv);

        // One image per page at 192 pixels per inch: Letter is 1632 x 2112.
        QDir png(QDir::temp().filePath(QStringLiteral("png")));
        QCOMPARE(png.entryList(QDir::Files),
                 (QStringList{"page-0001.png", "page-0002.png", "page-0003.png"}));
        QCOMPARE(QImage(png.filePath(QStringLiteral("page-0003.png"))).size(), QSize(1632, 2112));
        png.removeRecursively();
    }

    void a4PaperAndPagesFromAReportFile() {
        PayrollFixture f(employees(3));
        Result r =
            runReport({QStringLiteral("--paper"), QStringLiteral("a4"), QStringLiteral("--pdf"),
                       QStringLiteral("a4.pdf"), QStringLiteral("--png"), QStringLiteral("png")},
                      f.path(QString()));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QImage(f.path(QStringLiteral("png/page-0001.png"))).size(), QSize(794, 1123));
        if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QVERIFY(pdfInfo(f.path(QStringLiteral("a4.pdf"))).contains(u"(A4)"));

        // Pages from a saved report file, no tables needed.
        r = runReport({QStringLiteral("--qrp"), QStringLiteral("a4.qrp")}, f.path(QString()));
        QCOMPARE(r.exitCode, 0);
        QTemporaryDir empty;
        r = runReport({QStringLiteral("--from-qrp"), f.path(QStringLiteral("a4.qrp")),
                       QStringLiteral("--png"), QStringLiteral("png")},
                      empty.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(empty.filePath(QStringLiteral("png"))).entryList(QDir::Files).size(), 1);

        // A report file whose pages are no page pictures: its message, no image left.
        r = runReport({QStringLiteral("--from-qrp"),
                       QStringLiteral(LV26_TEST_DATA "/reportfiles/three-pages.qrp"),
                       QStringLiteral("--png"), QStringLiteral("bad")},
                      empty.path());
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QStringLiteral("Metafile is not valid\n"));
        QVERIFY(QDir(empty.filePath(QStringLiteral("bad"))).isEmpty());
    }

    void progressShowsOnATerminalOnly() {
        PayrollFixture f(employees(200));
        const QString shown =
            runOnTerminal({QStringLiteral("--pdf"), QStringLiteral("a.pdf")}, f.path(QString()));
        QVERIFY2(shown.contains(u'\r') && shown.contains(u"100% ") &&
                     shown.contains(QRegularExpression(
                         QStringLiteral("\\] +100% [0-9]+ pages, [0-9.]+ pages/s"))),
                 qPrintable(shown));
        QVERIFY(shown.endsWith(u'\n'));
        QCOMPARE(runOnTerminal(
                     {QStringLiteral("--quiet"), QStringLiteral("--pdf"), QStringLiteral("b.pdf")},
                     f.path(QString())),
                 QString());
    }

    void totalsRunFirstAndStopOnTheirFirstError() {
        PayrollFixture f(employees(2));
        qsizetype next = 0;
        const QList<engine::Row> weeks = {{"00001", 1, 10}, {"00001", 2, 12}, {"00002", 1, 7}};
        engine::appendRows(QStringLiteral("Dados.DB"), [&](engine::Row& row) {
            if (next == weeks.size())
                return false;
            row = weeks[next++];
            return true;
        });
        Result r = runReport(
            {QStringLiteral("--totals"), QStringLiteral("--csv"), QStringLiteral("month.csv")},
            f.path(QString()));
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = contents(f.path(QStringLiteral("month.csv"))).split('\n');
        QCOMPARE(lines[1], QByteArray("00001,Func1,12345678909,F,10,22,220.00"));
        QCOMPARE(lines[2], QByteArray("00002,Func2,12345678909,F,10,7,70.00"));

        // An employee whose Sexo is blank stops the totals: their message, nothing written.
        engine::appendRows(QStringLiteral("Func.DB"), [done = false](engine::Row& row) mutable {
            row = {QStringLiteral("00000"),
                   QStringLiteral("Sem sexo"),
                   QVariant(),
                   QVariant(),
                   10.0,
                   QVariant()};
            return !std::exchange(done, true);
        });
        r = runReport({QStringLiteral("--totals"), QStringLiteral("--pdf"), QStringLiteral("a.pdf"),
                       QStringLiteral("--csv"), QStringLiteral("again.csv")},
                      f.path(QString()));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QStringLiteral("Field 'Sexo' must have a value\n"));
        QVERIFY(!QFile::exists(f.path(QStringLiteral("a.pdf"))));
        QVERIFY(!QFile::exists(f.path(QStringLiteral("again.csv"))));
    }

    void runsWithoutAnyDisplay() {
        PayrollFixture f(employees(3));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        const Result r =
            runReport({QStringLiteral("--pdf"), QStringLiteral("a.pdf")}, f.path(QString()), env);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QFile::exists(f.path(QStringLiteral("a.pdf"))));
    }

    void pdfOfTheRunEqualsThePdfOfItsReportFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        PayrollFixture f(employees(2000)); // 65 pages
        QCOMPARE(runReport({QStringLiteral("--quiet"), QStringLiteral("--qrp"),
                            QStringLiteral("made.qrp"), QStringLiteral("--pdf"),
                            QStringLiteral("made.pdf")},
                           f.path(QString()))
                     .exitCode,
                 0);
        QCOMPARE(runReport({QStringLiteral("--quiet"), QStringLiteral("--from-qrp"),
                            QStringLiteral("made.qrp"), QStringLiteral("--pdf"),
                            QStringLiteral("loaded.pdf")},
                           f.path(QString()))
                     .exitCode,
                 0);
        const auto text = [&f](const char* name) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"),
                    {f.path(QLatin1String(name)), QStringLiteral("-")});
            p.waitForFinished(60000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        const QString made = text("made.pdf");
        QCOMPARE(made.count(u'\f'), 65);
        QVERIFY(made.contains(u"Func2000") && made.contains(u"Página 65"));
        QCOMPARE(made, text("loaded.pdf"));
        QCOMPARE(QDir(f.path(QString())).entryList({QStringLiteral("*.pdf*")}, QDir::Files),
                 (QStringList{QStringLiteral("loaded.pdf"), QStringLiteral("made.pdf")}));
    }

    void ctrlCRemovesTheFilesNotFinished_data() {
        QTest::addColumn<QStringList>("outputs");
        QTest::newRow("pages") << QStringList{"--qrp", "out.qrp", "--pdf", "out.pdf"};
        QTest::newRow("text") << QStringList{"--text", "out.txt"};
    }
    void ctrlCRemovesTheFilesNotFinished() {
        QFETCH(QStringList, outputs);
        PayrollFixture f(employees(20000));
        // A file of an output's name from an earlier run stays as it was.
        const QString older = f.path(outputs[1]);
        QFile file(older);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("older");
        file.close();
        QProcess p;
        p.setWorkingDirectory(f.path(QString()));
        p.start(QStringLiteral(LV26_REPORT_EXE),
                QStringList{QStringLiteral("--csv"), QStringLiteral("month.csv")} + outputs);
        QVERIFY(p.waitForStarted());
        // The CSV comes first and quickly; the other outputs take much longer.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.path(QStringLiteral("month.csv"))), 60000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()), QStringLiteral("Interrupted\n"));
        QVERIFY(QFile::exists(f.path(QStringLiteral("month.csv"))));
        QCOMPARE(QDir(f.path(QString())).entryList({QStringLiteral("out*")}, QDir::Files),
                 QStringList{outputs[1]});
        QCOMPARE(contents(older), QByteArray("older"));
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
