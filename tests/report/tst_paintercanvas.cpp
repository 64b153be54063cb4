// The painter canvas that prints pages: its text measures agree with the page pictures',
// alignment puts the ink where the measure says, fonts stay apart in its font cache, and the
// text of a PDF it draws reads back, characters outside the plain Latin range included.

#include "report/ReportCanvas.h"
#include "report/ReportPrinter.h"
#include "report/emf/EmfWriter.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace lv26;

namespace {

TReportFont arial(double size) {
    TReportFont f;
    f.name = QStringLiteral("Liberation Sans");
    f.size = size;
    return f;
}

// The columns of `image` holding any dark pixel: first and last, or (-1, -1).
QPair<int, int> inkColumns(const QImage& image) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 128) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

QImage whitePage() {
    QImage image(600, 120, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setDotsPerMeterX(3780); // 96 pixels per inch
    image.setDotsPerMeterY(3780);
    return image;
}

} // namespace

class TestPainterCanvas : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void measuresLikeThePagePictures_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("kerning pairs") << QStringLiteral("AVATAR WAVE To Yo");
        QTest::newRow("accents") << QStringLiteral("SALÁRIO MENSAL Página 12");
        QTest::newRow("money") << QStringLiteral("R$ 1.234,56 11111");
        QTest::newRow("beyond Latin") << QStringLiteral("Ωμέγα 東京");
    }

    // Right-aligned and centred text is placed by its measure; a measure other than the
    // picture's would put printed columns where the preview does not.
    void measuresLikeThePagePictures() {
        QFETCH(QString, text);
        QImage image = whitePage();
        QPainter painter(&image);
        PainterCanvas canvas(painter);
        EmfWriter writer;
        writer.beginPage(816, 1056, 96, 96);
        EmfCanvas picture(writer, 96, 96);
        for (double size : {8.0, 10.0, 20.0}) {
            canvas.setFont(arial(size));
            picture.setFont(arial(size));
            const QSize printed = canvas.textExtent(text);
            const QSize pictured = picture.textExtent(text);
            QVERIFY2(qAbs(printed.width() - pictured.width()) <= 1,
                     qPrintable(QStringLiteral("%1 pt: %2 against %3")
                                    .arg(size)
                                    .arg(printed.width())
                                    .arg(pictured.width())));
            QVERIFY(printed.height() > 0);
        }
        writer.endPage();
    }

    void alignmentPutsTheInkAtTheAnchor() {
        const QString text = QStringLiteral("Página 100");
        for (TAlignment alignment :
             {TAlignment::taLeftJustify, TAlignment::taRightJustify, TAlignment::taCenter}) {
            QImage image = whitePage();
            int width = 0;
            {
                QPainter painter(&image);
                PainterCanvas canvas(painter);
                canvas.setFont(arial(20));
                width = canvas.textExtent(text).width();
                canvas.drawText(300, 20, text, alignment);
            }
            const auto [first, last] = inkColumns(image);
            const int left = alignment == TAlignment::taLeftJustify    ? 300
                             : alignment == TAlignment::taRightJustify ? 300 - width
                                                                       : 300 - width / 2;
            // Glyphs' ink sits a little inside their advance boxes.
            QVERIFY2(first >= left - 1 && first <= left + 4, qPrintable(QString::number(first)));
            QVERIFY2(last <= left + width + 1 && last >= left + width - 6,
                     qPrintable(QString::number(last)));
        }
    }

    // The fonts of a run are kept together; each keeps its own size and style.
    void fontsKeepApartInTheCache() {
        QImage image = whitePage();
        QPainter painter(&image);
        const std::shared_ptr<PainterFontCache> fonts = PainterCanvas::makeFontCache();
        PainterCanvas first(painter, fonts);
        first.setFont(arial(8));
        const QSize small = first.textExtent(QStringLiteral("Folha"));
        TReportFont bold = arial(8);
        bold.bold = true;
        first.setFont(bold);
        const QSize boldSize = first.textExtent(QStringLiteral("Folha"));
        first.setFont(arial(20));
        const QSize large = first.textExtent(QStringLiteral("Folha"));
        PainterCanvas next(painter, fonts); // the next page's canvas
        next.setFont(arial(8));
        QCOMPARE(next.textExtent(QStringLiteral("Folha")), small);
        QVERIFY(large.width() > 2 * small.width() && large.height() > 2 * small.height());
        QVERIFY(boldSize.width() > small.width());
    }

    void pdfTextReadsBack() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("canvas.pdf"));
        {
            QPdfWriter writer(pdf);
            writer.setResolution(600);
            QPainter painter(&writer);
            PainterCanvas canvas(painter);
            TReportFont underlined = arial(10);
            underlined.underline = true;
            canvas.setFont(underlined);
            canvas.drawText(100, 100, QStringLiteral("SALÁRIO HORA"), TAlignment::taLeftJustify);
            canvas.setFont(arial(10));
            canvas.drawText(3000, 300, QStringLiteral("R$ 1.234,56"), TAlignment::taRightJustify);
            canvas.drawText(100, 500, QStringLiteral("Łukasz Ωμέγα"), TAlignment::taLeftJustify);
            canvas.drawText(100, 700, QStringLiteral("tab\there"), TAlignment::taLeftJustify);
        }
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000));
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(text.contains(QStringLiteral("SALÁRIO HORA")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("R$ 1.234,56")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Łukasz")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Ωμέγα")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("here")), qPrintable(text));
    }
};

QTEST_MAIN(TestPainterCanvas)
#include "tst_paintercanvas.moc"
