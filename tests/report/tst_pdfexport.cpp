// The listing as a PDF, read back with the poppler tools: real text, embedded subset fonts,
// the document's title and creator, the pages' paper; and the file errors, which never leave a
// short file behind.

#include "report/PdfExport.h"

#include "PayrollFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace lv26;
using namespace lv26::test;

namespace {

// Runs a poppler tool on `file`; its standard output.
QString poppler(const QString& tool, const QStringList& arguments) {
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)")
            .arg(tool, QString::fromLocal8Bit(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The value of `key` in pdfinfo's output.
QString infoField(const QString& info, const QString& key) {
    for (const QString& line : info.split(u'\n')) {
        if (line.startsWith(key + u':'))
            return line.mid(key.size() + 1).trimmed();
    }
    return {};
}

// The text objects (BT ... ET) in all the content streams of the PDF `file`.
int textObjects(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray pdf = f.readAll();
    static const QRegularExpression textBegin(QStringLiteral("(^|\\s)BT\\s"));
    int count = 0;
    for (qsizetype at = pdf.indexOf("stream\n"); at >= 0; at = pdf.indexOf("stream\n", at)) {
        at += 7;
        const qsizetype end = pdf.indexOf("endstream", at);
        if (end < 0)
            break;
        if (pdf.at(at) != '\x78') // not a zlib stream
            continue;
        // qUncompress wants the expected size in front; it grows the buffer as needed.
        const QByteArray zlib = QByteArray::fromHex("00100000") + pdf.mid(at, end - at);
        count += int(QString::fromLatin1(qUncompress(zlib)).count(textBegin));
        at = end + 9;
    }
    return count;
}

// A finished preview generation of `report` on Letter paper.
struct Pages {
    explicit Pages(TReport& report) : printer(letterPrinter()) {
        printer.setDestination(TReportDestination::Preview);
        report.Generate(printer);
    }
    TReportPrinter printer;
};

// Limits the size of the files this process writes, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

} // namespace

class tst_PdfExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        installFontSubstitutions();
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("pdfinfo, pdftotext and pdffonts (poppler-utils) are not installed");
    }

    void pdfHoldsEveryPageAsRealTextWithEmbeddedFonts() {
        QList<Employee> rows = employees(61); // three pages
        rows[0].nome = QStringLiteral("Conceição");
        PayrollFixture f(rows);
        Pages pages(f.report());
        QCOMPARE(pages.printer.PageCount(), 3);
        const QString file = f.path(QStringLiteral("listing.pdf"));
        QVERIFY(writePdf(pages.printer, file));

        const QString info = poppler(QStringLiteral("pdfinfo"), {file});
        QCOMPARE(infoField(info, QStringLiteral("Pages")), QStringLiteral("3"));
        QCOMPARE(infoField(info, QStringLiteral("Title")), QStringLiteral("Folha de Pagamento"));
        QCOMPARE(infoField(info, QStringLiteral("Creator")), QStringLiteral("Lv26"));
        // Letter: 612 x 792 points.
        QVERIFY2(infoField(info, QStringLiteral("Page size")).startsWith(u"612 x 792"),
                 qPrintable(info));

        const QString text = poppler(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
        QVERIFY2(text.contains(u"Conceição"), qPrintable(text));
        for (const QString& expected : {QStringLiteral("Func2"), QStringLiteral("Func61"),
                                        QStringLiteral("400,00"), QStringLiteral("Página 3")})
            QVERIFY2(text.contains(expected), qPrintable(expected));
        QCOMPARE(text.count(u'\f'), 3); // one form feed per page
        // Each text of the listing is one text object, not one per character: never more
        // text objects than words.
        const int words =
            int(text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size());
        const int objects = textObjects(file);
        QVERIFY2(objects > 0 && objects <= words,
                 qPrintable(QStringLiteral("%1 text objects, %2 words").arg(objects).arg(words)));

        const QStringList fonts =
            poppler(QStringLiteral("pdffonts"), {file}).split(u'\n', Qt::SkipEmptyParts).mid(2);
        QVERIFY(!fonts.isEmpty());
        for (const QString& font : fonts) {
            // name type encoding emb sub uni object ID: every font embedded.
            const QStringList cols = font.simplified().split(u' ');
            QVERIFY2(cols.size() >= 7 && cols[cols.size() - 5] == u"yes", qPrintable(font));
        }
        // Only the glyphs used: the document is smaller than one whole font file.
        const qint64 wholeFont =
            QFileInfo(
                QStringLiteral("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"))
                .size();
        if (wholeFont > 0)
            QVERIFY2(QFileInfo(file).size() < wholeFont,
                     qPrintable(QString::number(QFileInfo(file).size())));
    }

    void loadedReportFileGivesItsPages() {
        PayrollFixture f(employees(40)); // two pages
        Pages pages(f.report());
        const QString qrp = f.path(QStringLiteral("listing.qrp"));
        pages.printer.Save(qrp);
        TReportPrinter loaded(letterPrinter());
        loaded.Load(qrp);
        const QString file = f.path(QStringLiteral("loaded.pdf"));
        QVERIFY(writePdf(loaded, file));
        const QString info = poppler(QStringLiteral("pdfinfo"), {file});
        QCOMPARE(infoField(info, QStringLiteral("Pages")), QStringLiteral("2"));
        QVERIFY(
            poppler(QStringLiteral("pdftotext"), {file, QStringLiteral("-")}).contains(u"Func40"));
    }

    void a4PagesGiveA4Sheets() {
        PayrollFixture f(employees(3));
        f.report().Page.setPaperSize(TPaperSize::A4);
        Pages pages(f.report());
        const QString file = f.path(QStringLiteral("a4.pdf"));
        QVERIFY(writePdf(pages.printer, file));
        const QString size =
            infoField(poppler(QStringLiteral("pdfinfo"), {file}), QStringLiteral("Page size"));
        QVERIFY2(size.contains(u"(A4)"), qPrintable(size));
    }

    void cancelledExportLeavesNoFileAndKeepsAnOldOne() {
        PayrollFixture f(employees(61));
        Pages pages(f.report());
        const QString fresh = f.path(QStringLiteral("fresh.pdf"));
        int asked = 0;
        QVERIFY(!writePdf(pages.printer, fresh, [&] { return ++asked == 2; }));
        QVERIFY(!QFile::exists(fresh));

        const QString old = f.path(QStringLiteral("old.pdf"));
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old");
        file.close();
        QVERIFY(!writePdf(pages.printer, old, [] { return true; }));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("old"));
        QCOMPARE(QDir(f.path(QString())).entryList({QStringLiteral("*.pdf*")}, QDir::Files),
                 QStringList{QStringLiteral("old.pdf")});
    }

    void fileErrors() {
        PayrollFixture f(employees(61));
        Pages pages(f.report());
        const auto errorOf = [&](const QString& file) {
            try {
                writePdf(pages.printer, file);
            } catch (const EReportError& e) {
                return e.message();
            }
            return QStringLiteral("no error");
        };
        const QString noFolder = f.path(QStringLiteral("missing/listing.pdf"));
        QCOMPARE(errorOf(noFolder), QStringLiteral("Cannot create file ") + noFolder);

        const QString full = f.path(QStringLiteral("full.pdf"));
        {
            FileSizeLimit limit(4096);
            QCOMPARE(errorOf(full), QStringLiteral("Disk full"));
        }
        QVERIFY(!QFile::exists(full));
        QCOMPARE(QDir(f.path(QString())).entryList({QStringLiteral("*.pdf*")}, QDir::Files),
                 QStringList());
    }

    void unfinishedPagesWriteNothing() {
        TReportPrinter printer(letterPrinter());
        QTemporaryDir dir;
        QVERIFY(!writePdf(printer, dir.filePath(QStringLiteral("none.pdf"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none.pdf"))));
    }
};

QTEST_MAIN(tst_PdfExport)
#include "tst_pdfexport.moc"
