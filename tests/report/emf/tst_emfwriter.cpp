// The writer's records, checked field by field against the format (docs/emf.md), and the
// written pages played back onto images.

#include "EmfTestSupport.h"
#include "report/emf/EmfWriter.h"

#include <QGuiApplication>
#include <QTest>

using namespace lv26;
using namespace emftest;

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <=
           6;
}

// A Letter page at 96 dpi, as the preview records it.
QByteArray letterPage(void (*draw)(EmfWriter&)) {
    EmfWriter w;
    w.beginPage(816, 1056, 96, 96);
    draw(w);
    return w.endPage();
}

std::vector<quint32> types(const QByteArray& emf) {
    std::vector<quint32> t;
    for (const RecordInfo& r : records(emf))
        t.push_back(r.type);
    return t;
}

const RecordInfo* firstOf(const std::vector<RecordInfo>& rs, quint32 type) {
    for (const RecordInfo& r : rs)
        if (r.type == type)
            return &r;
    return nullptr;
}

} // namespace

class TestEmfWriter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { useLiberationFonts(); }

    void headerDescribesPage() {
        const QByteArray emf = letterPage([](EmfWriter& w) {
            w.fillRect({100, 100, 200, 150}, kRed);
        });
        QCOMPARE(u32At(emf, 0), 1u);           // EMR_HEADER
        QCOMPARE(u32At(emf, 4), 108u);         // header with both extensions
        QCOMPARE(u32At(emf, 40), 0x464D4520u); // " EMF"
        QCOMPARE(u32At(emf, 44), 0x10000u);
        QCOMPARE(u32At(emf, 48), quint32(emf.size())); // byte count
        QCOMPARE(u32At(emf, 52), quint32(records(emf).size()));
        // bounds: inclusive box of the one fill
        QCOMPARE(i32At(emf, 8), 100);
        QCOMPARE(i32At(emf, 12), 100);
        QCOMPARE(i32At(emf, 16), 199);
        QCOMPARE(i32At(emf, 20), 149);
        // frame: 8.5 x 11 in in 0.01 mm
        QCOMPARE(i32At(emf, 32), 21590);
        QCOMPARE(i32At(emf, 36), 27940);
        QCOMPARE(i32At(emf, 72), 816);
        QCOMPARE(i32At(emf, 76), 1056);
        QCOMPARE(i32At(emf, 80), 216); // millimetres, rounded
        QCOMPARE(i32At(emf, 84), 279);
        QCOMPARE(i32At(emf, 100), 215900); // micrometres
        QCOMPARE(i32At(emf, 104), 279400);

        const std::optional<EmfHeaderInfo> h = readEmfHeader(emf);
        QVERIFY(h);
        QCOMPARE(h->framePx(), QRectF(0, 0, 816, 1056));
        QCOMPARE(emfByteCount(emf.constData(), 88), std::optional<quint32>(quint32(emf.size())));
    }

    void emptyPageHasEmptyBounds() {
        const QByteArray emf = letterPage([](EmfWriter&) {});
        QCOMPARE(types(emf), (std::vector<quint32>{1, 18, 14}));
        QCOMPARE(i32At(emf, 16), -1);
        QCOMPARE(i32At(emf, 20), -1);
        QCOMPARE(qFromLittleEndian<quint16>(emf.constData() + 56), quint16(1));
        QCOMPARE(u32At(emf, emf.size() - 4), 20u); // the end record's own size
    }

    void descriptionIsStoredInHeader() {
        EmfWriter w;
        w.beginPage(10, 10, 96, 96, QStringLiteral("Lv26"));
        const QByteArray emf = w.endPage();
        QCOMPARE(u32At(emf, 60), 5u);   // "Lv26" and its terminator
        QCOMPARE(u32At(emf, 64), 108u); // right after the fixed header
        QCOMPARE(u32At(emf, 4), 108u + 12u);
        QCOMPARE(readEmfHeader(emf)->description, QStringLiteral("Lv26") + QChar(0));
    }

    // A solid fill: brush, null pen, rectangle one pixel larger than the filled area;
    // the objects are given back and deleted at the end of the page.
    void fillRecordsAreExact() {
        const QByteArray emf = letterPage([](EmfWriter& w) {
            w.fillRect({10, 20, 30, 40}, kBlue);
        });
        QCOMPARE(types(emf), (std::vector<quint32>{1, 18, 39, 37, 37, 43, 37, 37, 40, 14}));
        const auto rs = records(emf);
        const QByteArray brush = emf.mid(rs[2].offset, rs[2].size);
        QCOMPARE(brush.toHex(), QByteArray("270000001800000001000000000000000000ff0000000000"));
        QCOMPARE(u32At(emf, rs[3].offset + 8), 1u);          // select brush 1
        QCOMPARE(u32At(emf, rs[4].offset + 8), 0x80000008u); // select NULL_PEN
        QCOMPARE(emf.mid(rs[5].offset, 24).toHex(),
                 QByteArray("2b000000180000000a000000140000001f00000029000000"));
        QCOMPARE(u32At(emf, rs[6].offset + 8), 0x80000007u); // BLACK_PEN back
        QCOMPARE(u32At(emf, rs[7].offset + 8), 0x80000000u); // WHITE_BRUSH back
        QCOMPARE(u32At(emf, rs[8].offset + 8), 1u);          // delete brush 1
        QCOMPARE(qFromLittleEndian<quint16>(emf.constData() + 56), quint16(2));
    }

    void sameColourReusesBrushAndPen() {
        const QByteArray emf = letterPage([](EmfWriter& w) {
            w.fillRect({0, 0, 10, 10}, kRed);
            w.fillRect({20, 0, 30, 10}, kRed);
            w.line(0, 50, 100, 50, Qt::black);
            w.line(0, 60, 100, 60, Qt::black);
            w.fillRect({40, 0, 50, 10}, kRed);
        });
        int brushes = 0, pens = 0;
        for (quint32 t : types(emf)) {
            brushes += t == 39;
            pens += t == 38;
        }
        QCOMPARE(brushes, 1);
        QCOMPARE(pens, 1);
    }

    void fontRecordCarriesLogFont() {
        const QByteArray emf = letterPage([](EmfWriter& w) {
            w.setFont({QStringLiteral("Arial"), 21, true, true, true, false, 0});
            w.textOut(10, 10, QStringLiteral("x"));
        });
        const auto rs = records(emf);
        const RecordInfo* font = firstOf(rs, 82); // EMR_EXTCREATEFONTINDIRECTW
        QVERIFY(font);
        QCOMPARE(font->size, 332u); // the LOGFONT with its panose part
        const qsizetype lf = font->offset + 12;
        QCOMPARE(i32At(emf, lf), -21); // character height
        QCOMPARE(i32At(emf, lf + 16), 700);
        QCOMPARE(emf.at(lf + 20), char(1)); // italic
        QCOMPARE(emf.at(lf + 21), char(1)); // underline
        QCOMPARE(emf.at(lf + 22), char(0));
        QCOMPARE(emf.at(lf + 23), char(0)); // ANSI charset
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(emf.constData() + lf + 28)),
                 QStringLiteral("Arial"));
    }

    void textRecordHoldsStringAndAdvances() {
        EmfWriter w;
        w.beginPage(400, 100, 96, 96);
        w.setFont({QStringLiteral("Arial"), 16});
        w.setTextColor(kRed);
        const QString text = QStringLiteral("Página 7");
        const int expected = w.textWidth(text);
        QVERIFY(expected > 40);
        const int width =
            w.textOut(300, 50, text, Qt::AlignRight | Qt::AlignBaseline, EmfRect{0, 0, 400, 100});
        QCOMPARE(width, expected);
        const QByteArray emf = w.endPage();
        const auto rs = records(emf);
        QCOMPARE(u32At(emf, firstOf(rs, 24)->offset + 8), 0x0000FFu); // red as COLORREF
        QCOMPARE(u32At(emf, firstOf(rs, 22)->offset + 8), 2u | 24u);  // right, baseline
        const RecordInfo* t = firstOf(rs, 84);
        QVERIFY(t);
        const qsizetype o = t->offset;
        QCOMPARE(i32At(emf, o + 36), 300);
        QCOMPARE(i32At(emf, o + 40), 50);
        QCOMPARE(u32At(emf, o + 44), quint32(text.size()));
        QCOMPARE(u32At(emf, o + 48), 76u);
        QCOMPARE(u32At(emf, o + 52), 4u); // ETO_CLIPPED
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(emf.constData() + o + 76),
                                    text.size()),
                 text);
        const quint32 offDx = u32At(emf, o + 72);
        QCOMPARE(offDx, 76u + 16u);
        int sum = 0;
        for (int i = 0; i < text.size(); ++i)
            sum += i32At(emf, o + offDx + 4 * i);
        QCOMPARE(sum, expected);
        QCOMPARE(t->size, 76u + 16u + 4u * quint32(text.size()));
        // text bounds end at the reference point
        QCOMPARE(i32At(emf, 16), 299);
        QCOMPARE(i32At(emf, 8), 300 - expected);
    }

    void everyRecordIsAlignedAndCounted() {
        const QByteArray emf = letterPage([](EmfWriter& w) {
            w.setFont({QStringLiteral("Arial"), 13});
            w.textOut(5, 5, QStringLiteral("abc")); // odd length: padded string
            w.setFont({QStringLiteral("Arial"), 11, true});
            w.textOut(5, 30, QStringLiteral("Folha de Pagamento"), Qt::AlignHCenter);
            w.line(0, 100, 800, 100, Qt::black, 2);
            w.frameRect({10, 200, 110, 230}, Qt::BottomEdge | Qt::TopEdge, Qt::black, 1, 1);
        });
        quint64 total = 0;
        const auto rs = records(emf);
        for (const RecordInfo& r : rs) {
            QCOMPARE(r.size % 4, 0u);
            total += r.size;
        }
        QCOMPARE(total, quint64(emf.size()));
        QCOMPARE(rs.back().type, 14u);
        QCOMPARE(u32At(emf, 52), quint32(rs.size()));
        validateEmf(emf); // throws if anything is off
    }

    void drawingOutsidePageIsIgnored() {
        EmfWriter w;
        w.fillRect({0, 0, 10, 10}, kRed);
        QVERIFY(w.endPage().isEmpty());
    }

    // ---- played back ---------------------------------------------------------------------
    void fillsLinesAndBarsLandOnTheirPixels() {
        EmfWriter w;
        w.beginPage(200, 100, 96, 96);
        w.fillRect({10, 10, 50, 30}, kRed);
        w.line(10, 60, 100, 60, kBlue);
        w.frameRect({120, 10, 180, 40}, Qt::BottomEdge, Qt::black, 1, 2);
        const QImage img = render(w.endPage(), QSize(200, 100));
        QCOMPARE(img.pixelColor(10, 10), kRed);
        QCOMPARE(img.pixelColor(49, 29), kRed);
        QCOMPARE(img.pixelColor(50, 29), QColor(Qt::white)); // right edge excluded
        QCOMPARE(img.pixelColor(49, 30), QColor(Qt::white));
        QVERIFY(near(img.pixelColor(10, 60), kBlue));
        QVERIFY(near(img.pixelColor(99, 60), kBlue));
        QCOMPARE(img.pixelColor(100, 60), QColor(Qt::white)); // end point not drawn
        QCOMPARE(img.pixelColor(55, 59), QColor(Qt::white));
        QCOMPARE(img.pixelColor(55, 61), QColor(Qt::white));
        QCOMPARE(img.pixelColor(150, 38), QColor(Qt::black));
        QCOMPARE(img.pixelColor(150, 39), QColor(Qt::black));
        QCOMPARE(img.pixelColor(150, 37), QColor(Qt::white));
    }

    void textIsDrawnWhereAligned() {
        EmfWriter w;
        w.beginPage(300, 100, 96, 96);
        w.setFont({QStringLiteral("Arial"), 20});
        w.setTextColor(kBlue);
        const int width = w.textOut(280, 10, QStringLiteral("HHHH"), Qt::AlignRight | Qt::AlignTop);
        const int height = w.textHeight();
        const QImage img = render(w.endPage(), QSize(300, 100));
        QVERIFY(countNear(img, QRect(280 - width, 10, width, height), kBlue) > 50);
        QCOMPARE(inked(img, QRect(0, 0, 280 - width - 1, 100)), 0);
        QCOMPARE(inked(img, QRect(281, 0, 19, 100)), 0);
        QCOMPARE(inked(img, QRect(0, 0, 300, 10)), 0);
        QCOMPARE(inked(img, QRect(0, 10 + height, 300, 100)), 0);
    }

    void clippedTextStaysInsideClip() {
        EmfWriter w;
        w.beginPage(300, 100, 96, 96);
        w.setFont({QStringLiteral("Arial"), 30});
        w.textOut(10, 10, QStringLiteral("WWWWWWWW"), Qt::AlignLeft | Qt::AlignTop,
                  EmfRect{10, 10, 60, 90});
        const QImage img = render(w.endPage(), QSize(300, 100));
        QVERIFY(inked(img, QRect(10, 10, 50, 80)) > 100);
        QCOMPARE(inked(img, QRect(60, 0, 240, 100)), 0);
    }

    void pageScalesToTarget() {
        EmfWriter w;
        w.beginPage(100, 50, 96, 96);
        w.fillRect({10, 10, 20, 20}, kRed);
        const QByteArray emf = w.endPage();
        const QImage img = render(emf, QSize(200, 100));
        QCOMPARE(img.pixelColor(20, 20), kRed);
        QCOMPARE(img.pixelColor(39, 39), kRed);
        QCOMPARE(img.pixelColor(40, 40), QColor(Qt::white));
        QCOMPARE(img.pixelColor(19, 19), QColor(Qt::white));

        // An offset target: the frame's origin lands on the target's corner.
        QImage shifted(300, 200, QImage::Format_RGB32);
        shifted.fill(Qt::white);
        QPainter p(&shifted);
        playEmf(emf, p, QRectF(100, 100, 100, 50));
        p.end();
        QCOMPARE(shifted.pixelColor(110, 110), kRed);
        QCOMPARE(shifted.pixelColor(109, 109), QColor(Qt::white));
    }

    void writerIsReusableForPages() {
        EmfWriter w;
        w.beginPage(50, 50, 96, 96);
        w.setFont({QStringLiteral("Arial"), 10});
        w.textOut(1, 1, QStringLiteral("1"));
        const QByteArray first = w.endPage();
        w.beginPage(50, 50, 96, 96);
        w.textOut(1, 1, QStringLiteral("1"));
        const QByteArray second = w.endPage();
        // the second page selects its own font again: every page stands alone
        QVERIFY(firstOf(records(second), 82));
        QCOMPARE(first.size(), second.size());
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    TestEmfWriter t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_emfwriter.moc"
