// The player: refusal of broken metafiles, the records other programs write (hand-made
// records and files written by Inkscape), mapping onto the target, and text that stays text
// in a PDF.

#include "EmfTestSupport.h"
#include "report/emf/EmfWriter.h"

#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace lv26;
using namespace emftest;

namespace {

const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

QByteArray goodPage() {
    EmfWriter w;
    w.beginPage(120, 80, 96, 96);
    w.fillRect({5, 5, 60, 40}, kRed);
    w.setFont({QStringLiteral("Arial"), 12});
    w.textOut(10, 50, QStringLiteral("Folha"));
    w.line(0, 70, 100, 70, Qt::black);
    return w.endPage();
}

void setU32(QByteArray& b, qsizetype off, quint32 v) {
    qToLittleEndian(v, b.data() + off);
}

// Offset of the first record of type in a well-formed metafile.
qsizetype offsetOf(const QByteArray& emf, quint32 type) {
    for (const RecordInfo& r : records(emf))
        if (r.type == type)
            return r.offset;
    return -1;
}

// Replaces the record at offset with raw, keeping the header's byte count true.
QByteArray withRecordAt(QByteArray emf, qsizetype offset, const QByteArray& raw) {
    const quint32 oldSize = u32At(emf, offset + 4);
    emf.replace(offset, oldSize, raw);
    setU32(emf, 48, quint32(emf.size()));
    return emf;
}

Rec solidBrush(quint32 handle, quint32 colorRef) {
    Rec r(39);
    r.u32(handle).u32(0).u32(colorRef).u32(0);
    return r;
}
Rec select(quint32 handle) {
    Rec r(37);
    r.u32(handle);
    return r;
}
Rec rectangle(int l, int t, int r, int b) {
    Rec rec(43);
    rec.rect(l, t, r, b);
    return rec;
}
Rec value(quint32 type, quint32 v) {
    Rec r(type);
    r.u32(v);
    return r;
}
Rec pointRecord(quint32 type, int x, int y) {
    Rec r(type);
    r.i32(x).i32(y);
    return r;
}
Rec transform(quint32 type, float m11, float m12, float m21, float m22, float dx, float dy) {
    Rec r(type);
    r.f32(m11).f32(m12).f32(m21).f32(m22).f32(dx).f32(dy);
    return r;
}

Rec intersectClip(int l, int t, int r, int b) {
    Rec rec(30);
    rec.rect(l, t, r, b);
    return rec;
}
Rec restore(int relative) {
    Rec r(34);
    r.i32(relative);
    return r;
}
Rec fillPath() {
    Rec r(62);
    r.rect(0, 0, 0, 0);
    return r;
}

// Red brush and no outline, as the start of most hand-made pictures.
std::vector<Rec> redFill(std::vector<Rec> then) {
    std::vector<Rec> body{solidBrush(1, 0x0000FF), select(1), select(0x80000008)};
    body.insert(body.end(), then.begin(), then.end());
    return body;
}

// A listing title: 27 px (20 pt on a 96 dpi page) bold italic navy text at (20, 30).
const QString kTitle = QStringLiteral("Folha de Pagamento");
const QPoint kTitleAt(20, 30);
EmfFont titleFont() {
    EmfFont f{QStringLiteral("Arial"), 27};
    f.bold = true;
    f.italic = true;
    return f;
}
QByteArray titlePage() {
    EmfWriter w;
    w.beginPage(400, 100, 96, 96);
    w.setFont(titleFont());
    w.setTextColor(QColor(0, 0, 128));
    w.textOut(kTitleAt.x(), kTitleAt.y(), kTitle);
    return w.endPage();
}

// The title filled as glyph outlines, each character at the advance stored in the page's
// text record, everything scaled by zoom: where the title's ink belongs.
QImage titleOutlines(const QByteArray& page, int zoom) {
    const qsizetype text = offsetOf(page, 84);
    const qsizetype advances = text + u32At(page, text + 72);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(titleFont().heightPx);
    font.setBold(true);
    font.setItalic(true);
    QPainterPath glyphs;
    double x = kTitleAt.x();
    const double baseline = kTitleAt.y() + QFontMetricsF(font).ascent();
    for (qsizetype i = 0; i < kTitle.size(); ++i) {
        glyphs.addText(QPointF(x, baseline), font, kTitle.mid(i, 1));
        x += i32At(page, advances + 4 * i);
    }
    QImage image(QSize(400, 100) * zoom, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(zoom, zoom);
    p.fillPath(glyphs, QColor(0, 0, 128));
    return image;
}

// Box of the pixels noticeably darker than the white paper.
QRect inkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                box |= QRect(x, y, 1, 1);
    return box;
}

bool sameBox(const QRect& a, const QRect& b, int tolerance) {
    return std::abs(a.left() - b.left()) <= tolerance && std::abs(a.top() - b.top()) <= tolerance &&
           std::abs(a.right() - b.right()) <= tolerance &&
           std::abs(a.bottom() - b.bottom()) <= tolerance;
}

// Plays page into a PDF of the page's own size at 1200 dpi, as printing stored pages does.
void writePdf(const QByteArray& page, const QString& fileName) {
    const EmfHeaderInfo header = *readEmfHeader(page);
    QPdfWriter pdf(fileName);
    pdf.setResolution(1200);
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setPageSize(
        QPageSize(QSizeF(header.frame.right, header.frame.bottom) / 100.0, QPageSize::Millimeter));
    QPainter painter(&pdf);
    playEmf(page, painter, QRectF(0, 0, pdf.width(), pdf.height()));
}

// Standard output of a poppler tool run on args, or a null array when it failed.
QByteArray runTool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

QByteArray emfFile(const char* name) {
    QFile f(QStringLiteral(LV26_TEST_DATA "/emf/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// `emf` played on a small white image, as the player's fuzzer plays its inputs; a page the
// player refuses part of keeps what was drawn before.
QImage playedOnSmallImage(const QByteArray& emf) {
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter painter(&img);
    try {
        playEmf(emf, painter, QRectF(0, 0, 64, 48));
    } catch (const Error&) {
    }
    painter.end();
    return img;
}

} // namespace

class TestEmfPlayer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { useLiberationFonts(); }

    // ---- refusal -------------------------------------------------------------------------
    void invalidStreamIsRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = goodPage();
        const qsizetype fill = offsetOf(good, 43);
        const qsizetype text = offsetOf(good, 84);
        QByteArray b;

        QTest::newRow("empty") << QByteArray();
        QTest::newRow("shorter than a header") << good.left(60);
        QTest::newRow("truncated inside a record") << good.left(good.size() - 30);
        QTest::newRow("garbage") << QByteArray(1000, '\x5a');
        b = good;
        setU32(b, 0, 2);
        QTest::newRow("first record not a header") << b;
        b = good;
        b[40] = 'X';
        QTest::newRow("wrong signature") << b;
        b = good;
        setU32(b, 48, quint32(good.size() + 4));
        QTest::newRow("byte count beyond the data") << b;
        b = good;
        setU32(b, 48, 0xFFFFFFF0u);
        QTest::newRow("huge byte count") << b;
        b = good;
        setU32(b, 4, 40);
        QTest::newRow("header smaller than its fixed part") << b;
        b = good;
        setU32(b, 4, quint32(good.size() + 8));
        QTest::newRow("header larger than the metafile") << b;
        b = good;
        setU32(b, 60, 4);
        setU32(b, 64, 104); // four characters from 104 end past the 108-byte header
        QTest::newRow("description outside the header") << b;
        b = good;
        setU32(b, 72, 0);
        QTest::newRow("no reference device") << b;
        b = good;
        setU32(b, fill + 4, 0);
        QTest::newRow("zero-size record") << b;
        b = good;
        setU32(b, fill + 4, 26);
        QTest::newRow("record size not a multiple of 4") << b;
        b = good;
        setU32(b, fill + 4, 0x7FFFFFF0u);
        QTest::newRow("record running past the end") << b;
        b = good;
        setU32(b, text + 44, 0x40000000u);
        QTest::newRow("text with a huge character count") << b;
        b = good;
        setU32(b, text + 48, 0x10000u);
        QTest::newRow("text string outside its record") << b;
        b = good;
        setU32(b, text + 72, 0xFFFFFFF0u);
        QTest::newRow("advances outside their record") << b;
        QTest::newRow("rectangle without its box") << withRecordAt(good, fill, Rec(43).bytes());

        Rec polygon(86); // POLYGON16 claiming a billion points
        polygon.rect(0, 0, 10, 10).u32(0x40000000u).i16(1).i16(2);
        QTest::newRow("polygon with a huge count") << withRecordAt(good, fill, polygon.bytes());
        Rec polyPolygon(8); // counts that add up to more than the points given
        polyPolygon.rect(0, 0, 10, 10).u32(2).u32(3).u32(3).u32(3);
        for (int i = 0; i < 3; ++i)
            polyPolygon.i32(i).i32(i);
        QTest::newRow("poly-polygon counts beyond its points")
            << withRecordAt(good, fill, polyPolygon.bytes());
        Rec region(75); // clip region data larger than the record
        region.u32(0x1000).u32(5).u32(32).u32(1).u32(1).u32(16);
        QTest::newRow("clip region beyond its record") << withRecordAt(good, fill, region.bytes());
    }
    void invalidStreamIsRefused() {
        QFETCH(QByteArray, bytes);
        QImage image(50, 50, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QImage before = image;
        QPainter p(&image);
        try {
            playEmf(bytes, p, QRectF(0, 0, 50, 50));
            QFAIL("the metafile was accepted");
        } catch (const EMetafileError& e) {
            QCOMPARE(e.message(), QStringLiteral("Metafile is not valid"));
        }
        p.end();
        QCOMPARE(image, before); // refused before anything was drawn
    }

    void byteCountIsReadFromHeaderAlone() {
        const QByteArray good = goodPage();
        QCOMPARE(emfByteCount(good.constData(), 88), std::optional<quint32>(quint32(good.size())));
        QCOMPARE(emfByteCount(good.constData(), 87), std::nullopt);
        QByteArray bad = good;
        bad[41] = 0;
        QCOMPARE(emfByteCount(bad.constData(), bad.size()), std::nullopt);
    }

    void unknownRecordsAreSkipped() {
        Rec unknown(200);
        unknown.u32(1).u32(2).u32(3);
        const QImage img =
            render(metafile(40, 40, redFill({unknown, rectangle(10, 10, 31, 31)})), QSize(40, 40));
        QCOMPARE(img.pixelColor(20, 20), kRed);
    }

    // ---- mapping -------------------------------------------------------------------------
    void anisotropicMapping() {
        // 1000 x 1000 logical units onto 100 x 100 device pixels, y upwards from the bottom.
        const QByteArray emf =
            metafile(100, 100,
                     redFill({value(17, 8), pointRecord(9, 1000, 1000), pointRecord(11, 100, -100),
                              pointRecord(12, 0, 100), rectangle(100, 100, 400, 300)}));
        const QImage img = render(emf, QSize(100, 100));
        QCOMPARE(img.pixelColor(25, 80), kRed);   // logical (250, 200)
        QCOMPARE(img.pixelColor(25, 20), kWhite); // the unflipped place stays empty
        QCOMPARE(img.pixelColor(5, 95), kWhite);
    }

    void isotropicMappingKeepsAspect() {
        const QByteArray emf =
            metafile(100, 100,
                     redFill({value(17, 7), pointRecord(9, 100, 100), pointRecord(11, 100, 50),
                              rectangle(0, 0, 100, 100)}));
        const QImage img = render(emf, QSize(100, 100));
        QCOMPARE(img.pixelColor(25, 25), kRed);
        QCOMPARE(img.pixelColor(75, 25), kWhite); // scale is 0.5 both ways, not 1 x 0.5
    }

    void worldTransformSetAndModified() {
        const QByteArray emf =
            metafile(100, 100,
                     redFill({transform(35, 2, 0, 0, 2, 10, 0), rectangle(0, 0, 10, 10),
                              transform(36, 1, 0, 0, 1, 0, 30).u32(2), rectangle(0, 0, 10, 10)}));
        const QImage img = render(emf, QSize(100, 100));
        QCOMPARE(img.pixelColor(20, 10), kRed); // (0..10) scaled by 2, moved by 10
        QCOMPARE(img.pixelColor(5, 5), kWhite);
        QCOMPARE(img.pixelColor(35, 10), kWhite);
        QCOMPARE(img.pixelColor(20, 70), kRed); // moved by 30 first, then as before
        QCOMPARE(img.pixelColor(20, 40), kWhite);
    }

    void saveRestoreAndClipping() {
        Rec reset(75);
        reset.u32(0).u32(5); // no region, RGN_COPY: clipping off
        const QByteArray emf =
            metafile(100, 100,
                     redFill({Rec(33), intersectClip(0, 0, 50, 100), rectangle(0, 0, 101, 20),
                              restore(-1), rectangle(0, 30, 101, 50), intersectClip(0, 0, 20, 100),
                              rectangle(0, 60, 101, 70), reset, rectangle(0, 80, 101, 90)}));
        const QImage img = render(emf, QSize(100, 100));
        QCOMPARE(img.pixelColor(10, 10), kRed);
        QCOMPARE(img.pixelColor(70, 10), kWhite); // clipped to x < 50
        QCOMPARE(img.pixelColor(70, 40), kRed);   // restored: clipping gone
        QCOMPARE(img.pixelColor(10, 65), kRed);
        QCOMPARE(img.pixelColor(30, 65), kWhite); // clipped to x < 20
        QCOMPARE(img.pixelColor(90, 85), kRed);   // region reset
    }

    // ---- shapes --------------------------------------------------------------------------
    void polygonsPathsAndEllipses() {
        Rec triangle(86); // POLYGON16
        triangle.rect(0, 0, 40, 40).u32(3).i16(0).i16(0).i16(40).i16(0).i16(0).i16(40);
        Rec ring(8); // POLYPOLYGON: outer square with a square hole, alternate filling
        ring.rect(50, 0, 100, 50).u32(2).u32(8).u32(4).u32(4);
        for (auto [x, y] : {std::pair{50, 0},
                            {100, 0},
                            {100, 50},
                            {50, 50},
                            {65, 15},
                            {85, 15},
                            {85, 35},
                            {65, 35}})
            ring.i32(x).i32(y);
        Rec ellipse(42);
        ellipse.rect(0, 60, 40, 100);
        const std::vector<Rec> body = redFill(
            {triangle, ring, ellipse, Rec(59), pointRecord(27, 60, 60), pointRecord(54, 100, 60),
             pointRecord(54, 100, 100), Rec(61), Rec(60), fillPath()});
        const QImage img = render(metafile(100, 100, body), QSize(100, 100));
        QCOMPARE(img.pixelColor(5, 5), kRed);
        QCOMPARE(img.pixelColor(35, 35), kWhite); // beyond the hypotenuse
        QCOMPARE(img.pixelColor(55, 5), kRed);
        QCOMPARE(img.pixelColor(75, 25), kWhite); // the hole
        QCOMPARE(img.pixelColor(20, 80), kRed);
        QCOMPARE(img.pixelColor(2, 62), kWhite); // ellipse corner
        QCOMPARE(img.pixelColor(95, 70), kRed);  // filled path triangle
        QCOMPARE(img.pixelColor(65, 95), kWhite);
    }

    void narrowTextRecord() {
        Rec text(83); // EXTTEXTOUTA, no advances
        text.rect(0, 0, -1, -1).u32(1).f32(1).f32(1).i32(5).i32(5).u32(4).u32(76).u32(0);
        text.rect(0, 0, -1, -1).u32(0);
        text.u32(0x48484848); // "HHHH"
        Rec font(82);
        font.u32(2).i32(-20).i32(0).i32(0).i32(0).i32(400).u32(0);
        font.u32(0);
        const QString face = QStringLiteral("Arial");
        for (int i = 0; i < 32; ++i)
            font.i16(i < face.size() ? face[i].unicode() : 0);
        const QImage img =
            render(metafile(100, 40, {font, select(2), value(18, 1), text}), QSize(100, 40));
        QVERIFY(inked(img, QRect(5, 5, 60, 25)) > 50);
        QCOMPARE(inked(img, QRect(70, 0, 30, 40)), 0);
    }

    // A page stretched 30 times wider than high still shows its glyphs.
    void distortedTargetStillShowsText() {
        EmfWriter w;
        w.beginPage(100, 100, 96, 96);
        w.setFont({QStringLiteral("Arial"), 40});
        w.textOut(0, 0, QStringLiteral("HH"));
        const QImage img = render(w.endPage(), QSize(3000, 100));
        QVERIFY(inked(img, QRect(0, 0, 1500, 50)) > 1000);
    }

    // Pages whose text the mapping flattens to a few millionths of a pixel across: the text is
    // left out, as the font engine cannot render such glyphs (the pages are a fuzzer's
    // mutations of ours).
    void textSqueezedFlatIsNotDrawn_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("device millions of pixels high") << QStringLiteral("squeezed-text.emf");
        QTest::newRow("sheared into a line") << QStringLiteral("sheared-text.emf");
    }

    void textSqueezedFlatIsNotDrawn() {
        QFETCH(QString, file);
        const QByteArray emf = emfFile(qPrintable(file));
        QVERIFY(!emf.isEmpty());
        const QImage img = playedOnSmallImage(emf);
        QCOMPARE(inked(img, img.rect()), 0);
    }

    // Pages the fuzzer made from ours that once crashed the player or hit undefined
    // arithmetic: they play.
    void fuzzedPagesPlay_data() {
        QTest::addColumn<QString>("file");
        // a glyph 8 times wider than its page and a few pixels high, once rendered as a bitmap
        QTest::newRow("text stretched long") << QStringLiteral("stretched-text.emf");
        // a font escapement of -2^31, once negated as an int
        QTest::newRow("most negative escapement") << QStringLiteral("extreme-font-values.emf");
    }

    void fuzzedPagesPlay() {
        QFETCH(QString, file);
        const QByteArray emf = emfFile(qPrintable(file));
        QVERIFY(!emf.isEmpty());
        playedOnSmallImage(emf);
    }

    // A large title played into a PDF stays text (at 1200 dpi its glyphs are hundreds of
    // pixels high), and its ink sits where the outlines of the named face, at the stored
    // advances, put it.
    void largeTextStaysTextInPdf() {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftotext.isEmpty() || pdftoppm.isEmpty())
            QSKIP("pdftotext or pdftoppm not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pdf = dir.filePath(QStringLiteral("title.pdf"));
        const QByteArray page = titlePage();
        writePdf(page, pdf);

        const QString text = QString::fromUtf8(runTool(pdftotext, {pdf, QStringLiteral("-")}));
        QVERIFY2(text.contains(kTitle), qPrintable(text));

        constexpr int zoom = 4; // 384 dpi: a tolerance of 2 pixels is half a page pixel
        const QString png = dir.filePath(QStringLiteral("title"));
        runTool(pdftoppm, {QStringLiteral("-r"), QString::number(96 * zoom), QStringLiteral("-png"),
                           QStringLiteral("-singlefile"), pdf, png});
        const QImage printed(png + QStringLiteral(".png"));
        QCOMPARE(printed.size(), QSize(400, 100) * zoom);
        const QRect expected = inkBox(titleOutlines(page, zoom));
        QVERIFY(expected.width() > 250 * zoom);
        QVERIFY2(sameBox(inkBox(printed), expected, 2),
                 "the title in the PDF is not where its outlines are");
        QVERIFY2(sameBox(inkBox(render(page, printed.size())), expected, 2),
                 "the title on an image is not where its outlines are");
        QVERIFY2(sameBox(inkBox(render(page, QSize(400, 100))), inkBox(titleOutlines(page, 1)), 1),
                 "the title at the page's own size is not where its outlines are");
    }

    // ---- files of an independent writer -------------------------------------------------
    void inkscapeShapes() {
        const QByteArray emf = emfFile("shapes.emf");
        QVERIFY(!emf.isEmpty());
        const QImage img = render(emf, QSize(200, 150));
        QVERIFY(countNear(img, QRect(40, 30, 1, 1), kRed) == 1);             // rectangle
        QVERIFY(countNear(img, QRect(150, 40, 1, 1), QColor(0, 0, 255)));    // circle
        QVERIFY(countNear(img, QRect(148, 8, 5, 4), Qt::black) >= 5);        // its outline
        QVERIFY(countNear(img, QRect(160, 125, 1, 1), QColor(255, 255, 0))); // triangle
        QVERIFY(countNear(img, QRect(125, 85, 70, 60), QColor(128, 0, 128)) > 20);
        QVERIFY(countNear(img, QRect(60, 80, 1, 1), QColor(0, 192, 192)));       // rotated rect
        QVERIFY(countNear(img, QRect(5, 95, 110, 45), QColor(0, 128, 0)) > 200); // curve
        QCOMPARE(inked(img, QRect(80, 5, 30, 30)), 0);
    }

    void inkscapeTexts() {
        const QByteArray emf = emfFile("text.emf");
        QVERIFY(!emf.isEmpty());
        const QImage img = render(emf, QSize(300, 200));
        QVERIFY(countNear(img, QRect(10, 12, 80, 30), QColor(192, 0, 0)) > 100);
        QVERIFY(countNear(img, QRect(190, 68, 100, 25), QColor(0, 0, 192)) > 100);
        QCOMPARE(inked(img, QRect(0, 68, 180, 25)), 0); // right-anchored: nothing far left
        QVERIFY(countNear(img, QRect(100, 122, 100, 25), QColor(0, 128, 0)) > 50);
        QVERIFY(countNear(img, QRect(35, 150, 70, 45), Qt::black) > 50);
        QCOMPARE(inked(img, QRect(0, 0, 300, 8)), 0);
    }

    void inkscapeClipImageAndDashes() {
        const QByteArray emf = emfFile("clipimg.emf");
        QVERIFY(!emf.isEmpty());
        const QImage img = render(emf, QSize(200, 120));
        QVERIFY(countNear(img, QRect(50, 60, 1, 1), QColor(255, 128, 0))); // inside the clip
        QCOMPARE(img.pixelColor(15, 25), kWhite);                          // outside it
        QVERIFY(countNear(img, QRect(150, 35, 1, 1), QColor(0, 0, 255)));  // bitmap, top
        QVERIFY(countNear(img, QRect(150, 85, 1, 1), QColor(0, 200, 0)));  // bitmap, bottom
        const int dashes = countNear(img, QRect(187, 15, 6, 90), Qt::black);
        QVERIFY(dashes > 60);
        QVERIFY(dashes < 6 * 90 / 2 + 60); // gaps between the dashes
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    TestEmfPlayer t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_emfplayer.moc"
