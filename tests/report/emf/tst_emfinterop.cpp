// Pages written by our writer, read by an independent program: emf2svg-conv turns the page
// into SVG, whose texts must say what we wrote at the places we wrote them; rsvg-convert
// renders that SVG so that the fills can be checked too. Skipped when the tools are absent.

#include "EmfTestSupport.h"
#include "report/emf/EmfWriter.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace lv26;
using namespace emftest;

namespace {

struct SvgText {
    QString text;
    double x = 0;
    double y = 0;
    QString anchor;
    QString fill;
    double size = 0;
};

// Texts of the SVG with their positions in the coordinates of the group around them, which
// are the page's pixels (the group's translation moves the drawing's bounds to the corner).
std::vector<SvgText> svgTexts(const QByteArray& svg) {
    std::vector<SvgText> out;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("text")) {
            SvgText t;
            const auto a = xml.attributes();
            t.x = a.value("x").toDouble();
            t.y = a.value("y").toDouble();
            t.anchor = a.value("text-anchor").toString();
            t.fill = a.value("fill").toString().toUpper();
            t.size = a.value("font-size").toDouble();
            t.text = xml.readElementText();
            out.push_back(t);
        }
    }
    return out;
}

const SvgText* find(const std::vector<SvgText>& texts, const QString& text) {
    for (const SvgText& t : texts)
        if (t.text == text)
            return &t;
    return nullptr;
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestEmfInterop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        useLiberationFonts();
        if (QStandardPaths::findExecutable(QStringLiteral("emf2svg-conv")).isEmpty())
            QSKIP("emf2svg-conv is not installed");
        QVERIFY(dir_.isValid());

        // A payroll-like page: a banded title, a right-aligned page number, a heading bar.
        EmfWriter w;
        w.beginPage(816, 1056, 96, 96);
        w.fillRect({38, 38, 779, 78}, QColor(255, 0, 0));
        w.setFont({QStringLiteral("Arial"), 21, true});
        w.setTextColor(QColor(0, 0, 255));
        w.textOut(277, 45, QStringLiteral("Folha de Pagamento"));
        w.setFont({QStringLiteral("Arial"), 11});
        w.setTextColor(Qt::black);
        w.textOut(779, 1000, QStringLiteral("Página 1"), Qt::AlignRight | Qt::AlignTop);
        w.textOut(408, 500, QStringLiteral("Centro"), Qt::AlignHCenter | Qt::AlignBaseline);
        w.frameRect({38, 80, 200, 100}, Qt::BottomEdge, Qt::black, 1, 1);
        page_ = w.endPage();

        emfPath_ = dir_.filePath(QStringLiteral("page.emf"));
        svgPath_ = dir_.filePath(QStringLiteral("page.svg"));
        QFile f(emfPath_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(page_);
        f.close();
        QVERIFY(run(QStringLiteral("emf2svg-conv"), {"-i", emfPath_, "-o", svgPath_}));
        QFile svg(svgPath_);
        QVERIFY(svg.open(QIODevice::ReadOnly));
        svg_ = svg.readAll();
    }

    void textsAreReadWhereWritten() {
        const std::vector<SvgText> texts = svgTexts(svg_);
        QCOMPARE(texts.size(), size_t(3));

        const SvgText* title = find(texts, QStringLiteral("Folha de Pagamento"));
        QVERIFY(title);
        QCOMPARE(title->x, 277.0);
        QVERIFY2(title->y > 45 && title->y < 45 + 21, qPrintable(QString::number(title->y)));
        QCOMPARE(title->fill, QStringLiteral("#0000FF"));
        QCOMPARE(title->size, 21.0);

        const SvgText* number = find(texts, QStringLiteral("Página 1"));
        QVERIFY(number); // UTF-16 text survives
        QCOMPARE(number->anchor, QStringLiteral("end"));
        QCOMPARE(number->x, 779.0);
        QVERIFY(number->y > 1000 && number->y < 1011);

        const SvgText* centred = find(texts, QStringLiteral("Centro"));
        QVERIFY(centred);
        QCOMPARE(centred->anchor, QStringLiteral("middle"));
        QCOMPARE(centred->x, 408.0);
        QCOMPARE(centred->y, 500.0); // baseline alignment: y is the baseline
    }

    void renderedSvgShowsFillsAndText() {
        if (QStandardPaths::findExecutable(QStringLiteral("rsvg-convert")).isEmpty())
            QSKIP("rsvg-convert is not installed");
        const QString png = dir_.filePath(QStringLiteral("page.png"));
        QVERIFY(run(QStringLiteral("rsvg-convert"), {"-b", "white", "-o", png, svgPath_}));
        QImage img(png);
        QVERIFY(!img.isNull());
        img = img.convertToFormat(QImage::Format_RGB32);
        // The SVG starts at the drawing's bounds, (38, 38) on the page.
        const QPoint origin(38, 38);
        QVERIFY(countNear(img, QRect(QPoint(40, 40) - origin, QSize(20, 20)), QColor(255, 0, 0)) ==
                400);
        QVERIFY(countNear(img, QRect(QPoint(277, 45) - origin, QSize(200, 25)), QColor(0, 0, 255)) >
                100);
        QVERIFY(inked(img, QRect(QPoint(720, 1000) - origin, QSize(60, 14))) > 20);
        QVERIFY(countNear(img, QRect(QPoint(40, 99) - origin, QSize(150, 1)), Qt::black) > 140);
    }

private:
    QTemporaryDir dir_;
    QByteArray page_;
    QByteArray svg_;
    QString emfPath_;
    QString svgPath_;
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    TestEmfInterop t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_emfinterop.moc"
