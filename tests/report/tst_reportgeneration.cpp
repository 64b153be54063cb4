// Generation of the payroll report over real tables: pagination, band positions, footer
// texts, field and expression columns, notifications, cancelling, errors, the text export
// and the printer destination.

#include "PayrollFixture.h"

#include "report/PageStore.h"
#include "report/ReportElements.h"
#include "report/TextExport.h"
#include "report/emf/EmfPlayer.h"
#include "report/emf/EmfWriter.h"

#include <QCryptographicHash>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <functional>

using namespace lv26;
using namespace lv26::test;

namespace {

// Collects the two notifications and runs an optional action on each.
class Receiver : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == ProgressEventType)
            progress << static_cast<ReportNotifyEvent*>(e)->value();
        else if (e->type() == PagesCompletedEventType)
            pagesCompleted << static_cast<ReportNotifyEvent*>(e)->value();
        else
            return QObject::event(e);
        if (onEvent)
            onEvent(e->type());
        return true;
    }
    QList<int> progress;
    QList<int> pagesCompleted;
    std::function<void(QEvent::Type)> onEvent;
};

// One preview generation of ListForm's report with a recorder attached.
struct Run {
    explicit Run(TReport& report) : printer(letterPrinter()), recorder(printer) {
        printer.setDrawingObserver(&recorder);
        printer.setProgressReceiver(&receiver);
        this->report = &report;
    }
    void generate() {
        report->Generate(printer);
        QCoreApplication::sendPostedEvents(&receiver);
    }
    // Tops of the band fills (full band width) on `page`, in drawing order.
    QList<int> bandTops(int page) const {
        QList<int> tops;
        const int bandWidth = previewUnits(100 + 1961.2240) - previewUnits(100);
        for (const FilledRect& r : recorder.rects) {
            if (r.page == page && r.rect.width() == bandWidth)
                tops << r.rect.top();
        }
        return tops;
    }
    TReport* report;
    TReportPrinter printer;
    DrawingRecorder recorder;
    Receiver receiver;
};

QList<int> expectedTops(QList<double> tenths) {
    QList<int> out;
    for (double t : tenths)
        out << previewUnits(t);
    return out;
}

QString today() {
    return QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
}

} // namespace

class tst_ReportGeneration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        installFontSubstitutions();
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    }

    void emptyTableGivesOnlyTheFooter() {
        PayrollFixture f({});
        Run run(f.report());
        run.generate();
        QCOMPARE(run.printer.Status(), TPrinterStatus::Finished);
        QCOMPARE(run.printer.PageCount(), 1);
        QCOMPARE(run.printer.pageList()->pageCount(), 1);
        // Only the page footer band, 262.8 mm from the top of the paper.
        QCOMPARE(run.bandTops(1), expectedTops({2628}));
        const QList<DrawnText> texts = run.recorder.textsOn(1);
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0].text, QStringLiteral("Impresso em ") + today());
        QCOMPARE(texts[1].text, QStringLiteral("Página 1"));
        QCOMPARE(run.receiver.pagesCompleted, QList<int>{1});
        QVERIFY(run.receiver.progress.isEmpty());
    }

    void pagination_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("rowsPerPage");
        // Page 1 holds 29 rows under the title and headings, later pages 31.
        QTest::newRow("29 rows fill page 1") << 29 << QList<int>{29};
        QTest::newRow("30th row opens page 2") << 30 << QList<int>{29, 1};
        QTest::newRow("60 rows fill page 2") << 60 << QList<int>{29, 31};
        QTest::newRow("61st row opens page 3") << 61 << QList<int>{29, 31, 1};
    }

    void pagination() {
        QFETCH(int, rows);
        QFETCH(QList<int>, rowsPerPage);
        PayrollFixture f(employees(rows));
        Run run(f.report());
        run.generate();
        const int pages = int(rowsPerPage.size());
        QCOMPARE(run.printer.PageCount(), pages);
        QCOMPARE(run.printer.pageList()->pageCount(), pages);
        int printed = 0;
        for (int page = 1; page <= pages; ++page) {
            const QList<DrawnText> names = run.recorder.find(page, QStringLiteral("Func"));
            QCOMPARE(names.size(), rowsPerPage[page - 1]);
            QCOMPARE(names.front().text, QStringLiteral("Func%1").arg(printed + 1));
            printed += int(names.size());
            // The title on page 1 only; the headings and the footer on every page.
            QCOMPARE(run.recorder.find(page, QStringLiteral("Folha de Pagamento")).size(),
                     page == 1 ? 1 : 0);
            QCOMPARE(run.recorder.find(page, QStringLiteral("NOME")).size(), 1);
            QCOMPARE(run.recorder.find(page, QStringLiteral("Página %1").arg(page)).size(), 1);
        }
        QCOMPARE(run.receiver.progress.size(), rows);
        QCOMPARE(run.receiver.progress.back(), 100);
        QList<int> completed;
        for (int i = 1; i <= pages; ++i)
            completed << i;
        QCOMPARE(run.receiver.pagesCompleted, completed);
        // The scan ends on the last employee.
        QCOMPARE(f.dados().Table1Matricula->AsString(), employees(rows).back().matricula);
    }

    void bandPositions() {
        PayrollFixture f(employees(31));
        Run run(f.report());
        run.generate();
        // Page 1: title 100-206, headings 206-269, rows from 269 every 79, footer at 2628.
        QList<double> page1 = {100, 206};
        for (int i = 0; i < 29; ++i)
            page1 << 269 + 79 * i;
        page1 << 2628;
        QCOMPARE(run.bandTops(1), expectedTops(page1));
        // Page 2: headings at the top margin, rows from 163.
        QCOMPARE(run.bandTops(2), expectedTops({100, 163, 242, 2628}));
        // The title keeps its left edge 63.17 mm from the band's left edge.
        const DrawnText title = run.recorder.find(1, QStringLiteral("Folha")).front();
        QCOMPARE(title.at.x(), previewUnits(100 + 631.6927));
        QCOMPARE(title.font.size, 20.0);
        QVERIFY(title.font.bold && title.font.italic);
        // Each heading is underlined by a 1-pixel bar as wide as its box.
        const int headingTop = previewUnits(206 + 9.9219);
        const int headingBottom = previewUnits(206 + 9.9219 + 46.3021);
        int bars = 0;
        for (const FilledRect& r : run.recorder.rects) {
            if (r.page == 1 && r.color == QColor(Qt::black) && r.rect.height() == 1) {
                QCOMPARE(r.rect.bottom() + 1, headingBottom);
                QVERIFY(r.rect.top() > headingTop);
                ++bars;
            }
        }
        QCOMPARE(bars, 4);
        // The separator line crosses the band 6.12 mm below each row's top.
        const DrawnLine line = run.recorder.lines.front();
        QCOMPARE(line.from.y(), previewUnits(269 + 56.2240 + 9.9219 / 2));
        QCOMPARE(line.from.x(), previewUnits(100));
        QCOMPARE(line.to.x(), previewUnits(100 + 1961.2240));
    }

    void footerTexts() {
        PayrollFixture f(employees(29 + 31 * 9)); // ten pages
        Run run(f.report());
        run.generate();
        QCOMPARE(run.printer.PageCount(), 10);
        QVERIFY(
            QRegularExpression(QStringLiteral("^\\d{2}/\\d{2}/\\d{4}$")).match(today()).hasMatch());
        const int rightEdge = previewUnits(100 + 1961.2240);
        for (int page : {1, 9, 10}) {
            const QList<DrawnText> date = run.recorder.find(page, QStringLiteral("Impresso em "));
            QCOMPARE(date.size(), 1);
            QCOMPARE(date[0].text, QStringLiteral("Impresso em ") + today());
            QCOMPARE(date[0].at.x(), previewUnits(100 + 9.9219));
            // The page number ends at the band's right edge whatever its digits.
            const QList<DrawnText> number = run.recorder.find(page, QStringLiteral("Página "));
            QCOMPARE(number.size(), 1);
            QCOMPARE(number[0].text, QStringLiteral("Página %1").arg(page));
            QCOMPARE(number[0].alignment, TAlignment::taRightJustify);
            QCOMPARE(number[0].at.x(), rightEdge);
        }
    }

    void nameColumnShowsItsFirstLineOnly() {
        const QString longName = QStringLiteral("Maria Aparecida dos Santos Oliveira");
        const QString oneWord = QStringLiteral("Anticonstitucionalissimamente");
        PayrollFixture f({{QStringLiteral("00001"), longName, 10.0, 40},
                          {QStringLiteral("00002"), oneWord, 10.0, 40}});
        Run run(f.report());
        run.generate();
        auto* name = static_cast<TReportCustomText*>(
            f.report().bandOfType(TBandType::btDetail)->findElement(QStringLiteral("RepDBText1")));
        const int column = previewUnits(100 + 19.8438);
        QStringList drawn;
        for (const DrawnText& t : run.recorder.textsOn(1)) {
            if (t.at.x() == column && t.font.size == 8)
                drawn << t.text;
        }
        QCOMPARE(drawn.size(), 2);
        // The words that fit 16.87 mm at 8 pt, and not one more.
        QVERIFY(longName.startsWith(drawn[0] + u' '));
        const QString nextWord = longName.mid(drawn[0].size() + 1).section(u' ', 0, 0);
        QVERIFY(name->measureWidth(drawn[0] + u' ' + nextWord) > name->widthInZoomPixels());
        // A single word wider than the box is printed whole.
        QVERIFY(name->measureWidth(oneWord) > name->widthInZoomPixels());
        QCOMPARE(drawn[1], oneWord);
    }

    // A box that holds a few lines shows the first lines of the whole wrapped text.
    void tallerNameBoxShowsTheFirstLinesOfTheWrap() {
        const QString longName = QStringLiteral("Maria Aparecida dos Santos Oliveira da Costa");
        PayrollFixture f({{QStringLiteral("00001"), longName, 10.0, 40}});
        auto* name = static_cast<TReportCustomText*>(
            f.report().bandOfType(TBandType::btDetail)->findElement(QStringLiteral("RepDBText1")));
        name->setHeight(name->Height() * 2.6);
        Run run(f.report());
        run.generate();
        const int column = previewUnits(100 + 19.8438);
        QStringList drawn;
        for (const DrawnText& t : run.recorder.textsOn(1)) {
            if (t.at.x() == column && t.font.size == 8)
                drawn << t.text;
        }
        name->setText(longName);
        const QStringList whole = name->lines();
        QVERIFY2(whole.size() > 3, qPrintable(whole.join(u'|')));
        QCOMPARE(drawn, whole.mid(0, 3)); // 2.6 times the one-line height holds three lines
    }

    void fieldAndExpressionColumns() {
        PayrollFixture f({{QStringLiteral("00001"), QStringLiteral("Ana"), 12.5, 40},
                          {QStringLiteral("00002"), QStringLiteral("Bia"), 12.5, QVariant()},
                          {QStringLiteral("00003"), QStringLiteral("Cid"), 98.76, 12}});
        Run run(f.report());
        run.generate();
        const int hours = previewUnits(100 + 1074.8698);
        const int monthly = previewUnits(100 + 1607.3438);
        QStringList hourTexts, monthlyTexts;
        for (const DrawnText& t : run.recorder.textsOn(1)) {
            if (t.at.x() == hours)
                hourTexts << t.text;
            if (t.at.x() == monthly && t.font.size == 8)
                monthlyTexts << t.text;
        }
        // A blank HorasNoMes draws nothing in its column (empty lines are not drawn).
        QCOMPARE(hourTexts, (QStringList{QStringLiteral("40"), QStringLiteral("12")}));
        QCOMPARE(monthlyTexts, (QStringList{QStringLiteral("500,00"), QStringLiteral("0,00"),
                                            QStringLiteral("1185,12")}));
        // The wage column shows the regional currency text.
        const QList<DrawnText> wage = run.recorder.find(1, QStringLiteral("R$"));
        QCOMPARE(wage.size(), 3);
        QVERIFY(wage[0].text.contains(QStringLiteral("12,50")));
    }

    // The product column follows the regional settings and the mask of each run, also when
    // the same values were printed by an earlier run.
    void expressionTextsFollowLocaleAndMaskBetweenRuns() {
        PayrollFixture f({{QStringLiteral("00001"), QStringLiteral("Ana"), 12.5, 40}});
        const int monthly = previewUnits(100 + 1607.3438);
        auto monthlyText = [&] {
            Run run(f.report());
            run.generate();
            QStringList texts;
            for (const DrawnText& t : run.recorder.textsOn(1)) {
                if (t.at.x() == monthly && t.font.size == 8)
                    texts << t.text;
            }
            return texts;
        };
        QCOMPARE(monthlyText(), QStringList{QStringLiteral("500,00")});
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const QStringList english = monthlyText();
        QLocale::setDefault(saved);
        QCOMPARE(english, QStringList{QStringLiteral("500.00")});
        auto* product = static_cast<TReportExpr*>(
            f.report().bandOfType(TBandType::btDetail)->findElement(QStringLiteral("RepExpr1")));
        product->Mask = QStringLiteral("0.0");
        QCOMPARE(monthlyText(), QStringList{QStringLiteral("500,0")});
    }

    void notificationsAndBusyFlag() {
        PayrollFixture f(employees(3));
        Run run(f.report());
        TReportPrinter second(letterPrinter());
        TUnits unitsDuringRun = TUnits::MM;
        bool busyDuringRun = false;
        run.receiver.onEvent = [&](QEvent::Type) {
            busyDuringRun = f.report().busy();
            unitsDuringRun = f.report().Units();
            f.report().Generate(second); // refused: a run is in progress
        };
        f.report().Generate(run.printer);
        QVERIFY(busyDuringRun);
        QCOMPARE(unitsDuringRun, TUnits::Native);
        QCOMPARE(second.Status(), TPrinterStatus::Ready);
        QVERIFY(!f.report().busy());
        QCOMPARE(f.report().Units(), TUnits::MM);
        QCoreApplication::sendPostedEvents(&run.receiver);
        QCOMPARE(run.receiver.progress, (QList<int>{33, 66, 100}));
    }

    void cancelStopsBeforeTheNextRow() {
        PayrollFixture f(employees(61));
        Run run(f.report());
        // The first progress notification is handled before row 2: the run stops there.
        run.receiver.onEvent = [&](QEvent::Type) { run.printer.Cancel(); };
        f.report().Generate(run.printer);
        QCOMPARE(run.printer.Status(), TPrinterStatus::Busy);
        QCOMPARE(run.printer.pageList()->pageCount(), 0);
        QCOMPARE(run.recorder.find(1, QStringLiteral("Func")).size(), 1);
        QCOMPARE(run.recorder.find(1, QStringLiteral("Página")).size(), 0);
        QVERIFY(!f.report().busy());
        // A later run works and produces every page.
        TReportPrinter again(letterPrinter());
        f.report().Generate(again);
        QCOMPARE(again.Status(), TPrinterStatus::Finished);
        QCOMPARE(again.PageCount(), 3);
    }

    void errorEndsTheDocument() {
        PayrollFixture f(employees(40));
        Run run(f.report());
        run.receiver.onEvent = [&](QEvent::Type) { f.dados().Table1->Close(); };
        QVERIFY_THROWS_EXCEPTION(Error, f.report().Generate(run.printer));
        // The page in progress is stored as it stood, and the report is available again.
        QCOMPARE(run.printer.Status(), TPrinterStatus::Finished);
        QCOMPARE(run.printer.pageList()->pageCount(), 1);
        QVERIFY(!f.report().busy());
        QCOMPARE(f.report().Units(), TUnits::MM);
        run.receiver.onEvent = nullptr;
        f.dados().Table1->Open();
        TReportPrinter again(letterPrinter());
        f.report().Generate(again);
        QCOMPARE(again.PageCount(), 2);
    }

    void pagesAreValidPictures() {
        PayrollFixture f(employees(30));
        TReportPrinter printer(letterPrinter());
        f.report().Generate(printer);
        QCOMPARE(printer.PageCount(), 2);
        for (int page = 1; page <= 2; ++page) {
            const std::optional<QByteArray> bytes = printer.fetchPage(page);
            QVERIFY(bytes);
            validateEmf(*bytes);
            const std::optional<EmfHeaderInfo> header = readEmfHeader(*bytes);
            QVERIFY(header);
            QCOMPARE(header->framePx().size().toSize(), QSize(816, 1056));
        }
        // The title is drawn in navy in the title band of page 1.
        QImage image(816, 1056, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        playEmf(*printer.fetchPage(1), painter, QRectF(0, 0, 816, 1056));
        painter.end();
        int navy = 0;
        for (int y = previewUnits(100); y < previewUnits(206); ++y) {
            for (int x = 0; x < 816; ++x) {
                const QColor c = image.pixelColor(x, y);
                navy += c.blue() > 100 && c.red() < 60 && c.green() < 60;
            }
        }
        QVERIFY(navy > 50);
    }

    // The pages of a listing with blank, long and wrapped values and amounts with cents,
    // byte for byte as a known good run wrote them (today's date in the footer aside).
    void pagesAreByteForByteAsBefore() {
        QList<Employee> rows;
        for (int i = 1; i <= 64; ++i) {
            const QString name = i % 9 == 0 ? QStringLiteral("Maria Aparecida dos Santos Oliveira")
                                 : i % 5 == 0 ? QString()
                                              : QStringLiteral("Funcionario %1 da Silva").arg(i);
            const QVariant wage = i % 11 == 0 ? QVariant() : QVariant(7.5 + i * 13.37);
            const QVariant hours = i % 7 == 0 ? QVariant() : QVariant(i * 37 % 220);
            rows << Employee{QStringLiteral("%1").arg(i * 3, 5, 10, QLatin1Char('0')), name, wage,
                             hours};
        }
        PayrollFixture f(rows);
        TReportPrinter printer(letterPrinter());
        f.report().Generate(printer);
        QCOMPARE(printer.PageCount(), 3);
        const QByteArray date =
            QByteArray(reinterpret_cast<const char*>(today().utf16()), today().size() * 2);
        const QString fixed = QStringLiteral("01/01/2000");
        const QByteArray fixedDate =
            QByteArray(reinterpret_cast<const char*>(fixed.utf16()), fixed.size() * 2);
        const QStringList known{
            QStringLiteral("3fbd1e09322bce21b12dea40d2e353310f04c65b28e8c0f34dd9f779de20087c"),
            QStringLiteral("4f714e2d86bb83682fe4950c372a6f77022724626974f9f71b62a916ef1d6d1e"),
            QStringLiteral("10e9bb100b17a89323a9db6126b8f00fb8905aa7e446ce2a4347798c29a8f46c"),
        };
        for (int page = 1; page <= 3; ++page) {
            QByteArray bytes = printer.fetchPage(page).value();
            QCOMPARE(bytes.count(date), 1);
            bytes.replace(date, fixedDate);
            const QString hash = QString::fromLatin1(
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
            QCOMPARE(hash, known[page - 1]);
        }
    }

    void withoutLetterPaperTheFooterFollowsThePaper() {
        PayrollFixture f(employees(5));
        TReportPrinter printer; // no printer installed: A4
        DrawingRecorder recorder(printer);
        printer.setDrawingObserver(&recorder);
        f.report().Generate(printer);
        QCOMPARE(printer.selectedPaper(), TPaperSize::A4);
        const QList<DrawnText> number = recorder.find(1, QStringLiteral("Página"));
        QCOMPARE(number.size(), 1);
        QCOMPARE(number[0].at.y(), previewUnits(2970 - 100 - 66.1458 + 19.8438));
    }

    void textExportOfOnePage() {
        PayrollFixture f({{QStringLiteral("00001"), QStringLiteral("Ana Lima"), 12.5, 40},
                          {QStringLiteral("00002"), QStringLiteral("Bia Reis"), 10.0, 20},
                          {QStringLiteral("00003"), QStringLiteral("Cid Melo"), 8.0, QVariant()}});
        const QString file = f.path(QStringLiteral("folha.txt"));
        {
            TTextExportFilter filter(file);
            TReportPrinter printer(letterPrinter());
            DrawingRecorder recorder(printer);
            printer.setDrawingObserver(&recorder);
            f.report().ExportText(filter, printer);
            // Nothing is drawn or stored; only page 1 was begun on the printer object.
            QVERIFY(recorder.texts.isEmpty() && recorder.rects.isEmpty() &&
                    recorder.lines.isEmpty());
            QCOMPARE(printer.Status(), TPrinterStatus::Finished);
            QCOMPARE(printer.PageCount(), 1);
            QCOMPARE(printer.pageList()->pageCount(), 0);
            QCOMPARE(filter.linesPerPage(), 79);
            QVERIFY(!f.report().exporting());
        }
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(in.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QString(34, u' ') + QStringLiteral("Folha de Pagamento"));
        const QStringList headings = {QStringLiteral("NOME"), QStringLiteral("HORAS TRABALHADAS"),
                                      QStringLiteral("SALÁRIO HORA"),
                                      QStringLiteral("SALÁRIO MENSAL")};
        qsizetype at = 0;
        for (const QString& h : headings) {
            at = lines[1].indexOf(h, at);
            QVERIFY2(at >= 0, qPrintable(h));
        }
        QVERIFY(lines[2].contains(QStringLiteral("Ana Lima")) &&
                lines[2].contains(QStringLiteral("500,00")));
        QVERIFY(lines[3].contains(QStringLiteral("Bia Reis")) &&
                lines[3].contains(QStringLiteral("200,00")));
        QVERIFY(lines[4].contains(QStringLiteral("Cid Melo")) &&
                lines[4].contains(QStringLiteral("0,00")));
        QVERIFY(lines[5].startsWith(QStringLiteral("    Impresso em ") + today()));
        QVERIFY(lines[5].endsWith(QStringLiteral("Página 1")));

        // A preview after the export draws full pages again.
        Run run(f.report());
        run.generate();
        QCOMPARE(run.printer.pageList()->pageCount(), 1);
        QVERIFY(!run.recorder.lines.isEmpty());
        QCOMPARE(run.recorder.find(1, QStringLiteral("Folha de Pagamento")).size(), 1);
    }

    void textExportToAnUnwritablePlace() {
        PayrollFixture f(employees(2));
        TTextExportFilter filter(f.path(QStringLiteral("no/such/dir/out.txt")));
        TReportPrinter printer(letterPrinter());
        QVERIFY_THROWS_EXCEPTION(EReportError, f.report().ExportText(filter, printer));
        QVERIFY(!f.report().busy());
        QVERIFY(!f.report().exporting());
        TReportPrinter again(letterPrinter());
        f.report().Generate(again);
        QCOMPARE(again.pageList()->pageCount(), 1);
    }

    // The text export's drawing surface puts each line on the character grid by its report
    // position, measures as the page it stands for, and takes no other mark.
    void textExportCanvasPlacesLinesByReportPosition() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.txt"));
        EmfWriter picture;
        picture.beginPage(816, 1056, 96, 96);
        EmfCanvas page(picture, 96, 96);
        {
            TTextExportFilter filter(file);
            filter.Start(2794, 10);
            const double cell = filter.characterWidth(); // also the line height
            TextExportCanvas canvas(filter, page);
            const report::DeviceMapping preview;

            TReportFont font;
            font.size = 12;
            canvas.setFont(font);
            QCOMPARE(canvas.textExtent(QStringLiteral("Wage")),
                     page.textExtent(QStringLiteral("Wage")));
            // 11.42 mm is grid position 5.503, so the line starts at character 6; through the
            // preview's pixels it would be 5.482, character 5.
            canvas.drawTextLine(preview, 114.2, 0, QStringLiteral("Folha"),
                                TAlignment::taLeftJustify);
            // A right-aligned line ends at its anchor's position.
            canvas.drawTextLine(preview, 20 * cell / 1.7, 2 * cell, QStringLiteral("Total"),
                                TAlignment::taRightJustify);
            // An empty line leaves no ink on a drawn page, but on the grid it pads its row.
            canvas.drawTextLine(preview, 10 * cell / 1.7, 4 * cell, QString(),
                                TAlignment::taLeftJustify);
            canvas.fillRect(QRect(0, 0, 816, 1056), Qt::black);
            canvas.drawLine(QPoint(0, 30), QPoint(800, 30), Qt::black, 1);
            canvas.drawText(0, 60, QStringLiteral("device"), TAlignment::taLeftJustify);
            filter.EndPage();
        }
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(in.readAll()),
                 QString(5, u' ') + QStringLiteral("Folha\n") + QString(14, u' ') +
                     QStringLiteral("Total\n") + QString(10, u' ') + u'\n');
    }

    void printerDestinationDrawsOnTheDevice() {
        PayrollFixture f(employees(30));
        const QString pdf = f.path(QStringLiteral("folha.pdf"));
        QPdfWriter writer(pdf);
        writer.setResolution(600);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        TReportPrinter printer(letterPrinter());
        printer.setDestination(TReportDestination::Printer);
        printer.setPrinterDevice(&writer);
        DrawingRecorder recorder(printer);
        printer.setDrawingObserver(&recorder);
        f.report().Generate(printer);
        QCOMPARE(printer.Status(), TPrinterStatus::Finished);
        QCOMPARE(printer.PageCount(), 2);
        QVERIFY(printer.pageList() == nullptr);
        // 1-point heading bars are 8 dots at 600 dots per inch.
        int bars = 0;
        for (const FilledRect& r : recorder.rects)
            bars += r.page == 1 && r.color == QColor(Qt::black) && r.rect.height() == 8;
        QCOMPARE(bars, 4);
        QFile in(pdf);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QVERIFY(in.readAll().contains("/Count 2"));
    }
};

QTEST_MAIN(tst_ReportGeneration)
#include "tst_reportgeneration.moc"
