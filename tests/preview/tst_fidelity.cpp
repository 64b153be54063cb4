// How faithfully a page of the payroll listing is drawn on screen: the gaps between the letters
// of its words and the widths of its rules, measured on the pixels at the preview's zooms
// against the page drawn at 1,200 dpi, and the preview at a device pixel ratio of 2.
//
// Set LV26_SHOT_DIR to keep pictures of the preview (page width, 100 %, and the ratio the
// program runs at) as PNG files there.

#include "PreviewFixture.h"

#include "../report/emf/EmfTestSupport.h"
#include "maintenance/Glyphs.h"
#include "maintenance/RecordNavigator.h"
#include "preview/PreviewControl.h"
#include "report/emf/EmfPlayer.h"

#include <QAbstractButton>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTemporaryDir>
#include <cmath>
#include <map>

using namespace lv26;
using namespace lv26::test;
using emftest::i32At;
using emftest::u32At;

namespace {

constexpr double kReferenceScale = 1200.0 / 96; // pages are recorded at 96 pixels per inch

// One text record of a page: its bounding box (device pixels, edges inclusive), its text and
// the advance of each character.
struct TextRecord {
    QRect box;
    QString text;
    std::vector<int> dx;
    QPoint reference;
    quint32 align = 0;
    QFont font; // its pixel size that of the picture
};

// The font of an EXTCREATEFONTINDIRECTW record at `o`.
QFont fontOfRecord(const QByteArray& page, qsizetype o) {
    QString face;
    for (int i = 0; i < 32; ++i) {
        const quint16 c = quint16(u32At(page, o + 40 + 2 * i) & 0xffff);
        if (c == 0)
            break;
        face += QChar(c);
    }
    QFont font(face);
    font.setPixelSize(std::abs(i32At(page, o + 12)));
    font.setBold(i32At(page, o + 28) >= 600);
    font.setItalic(u32At(page, o + 32) & 0xff);
    font.setKerning(false);
    return font;
}

std::vector<TextRecord> textRecords(const QByteArray& page) {
    std::vector<TextRecord> out;
    std::map<quint32, QFont> fonts;
    QFont font;
    quint32 align = 0;
    for (const emftest::RecordInfo& r : emftest::records(page)) {
        const qsizetype o = r.offset;
        if (r.type == 82) // EXTCREATEFONTINDIRECTW
            fonts[u32At(page, o + 8)] = fontOfRecord(page, o);
        else if (r.type == 38 || r.type == 39 || r.type == 40) // other objects, deletion
            fonts.erase(u32At(page, o + 8));
        else if (r.type == 37 && fonts.count(u32At(page, o + 8))) // SELECTOBJECT
            font = fonts[u32At(page, o + 8)];
        else if (r.type == 22) // SETTEXTALIGN
            align = u32At(page, o + 8);
        if (r.type != 84) // EXTTEXTOUTW
            continue;
        TextRecord t;
        t.font = font;
        t.align = align;
        t.reference = QPoint(i32At(page, o + 36), i32At(page, o + 40));
        t.box = QRect(QPoint(i32At(page, o + 8), i32At(page, o + 12)),
                      QPoint(i32At(page, o + 16), i32At(page, o + 20)));
        const quint32 count = u32At(page, o + 44);
        const quint32 chars = u32At(page, o + 48);
        const quint32 advances = u32At(page, o + 72);
        for (quint32 i = 0; i < count; ++i) {
            t.text += QChar(quint16(u32At(page, o + chars + 2 * i) & 0xffff));
            t.dx.push_back(i32At(page, o + advances + 4 * i));
        }
        out.push_back(t);
    }
    return out;
}

// A horizontal or vertical rule of a page: the rectangle it covers in device pixels.
struct Rule {
    QRectF area;
    bool horizontal;
};

// The page's filled rectangles and straight pen lines that are at most 4 pixels thick and at
// least 20 long.
std::vector<Rule> rules(const QByteArray& page) {
    std::vector<Rule> out;
    std::map<quint32, int> penWidths;
    int pen = 1;
    bool nullPen = false;
    QPoint position;
    const auto add = [&](QRectF area) {
        const double thin = std::min(area.width(), area.height());
        const double length = std::max(area.width(), area.height());
        if (thin >= 1 && thin <= 4 && length >= 20)
            out.push_back({area, area.width() > area.height()});
    };
    for (const emftest::RecordInfo& r : emftest::records(page)) {
        const qsizetype o = r.offset;
        if (r.type == 38) { // CREATEPEN
            penWidths[u32At(page, o + 8)] = std::max(1, i32At(page, o + 16));
        } else if (r.type == 37) { // SELECTOBJECT
            const quint32 h = u32At(page, o + 8);
            if (h == 0x80000008) // NULL_PEN
                nullPen = true;
            else if (penWidths.count(h)) {
                pen = penWidths[h];
                nullPen = false;
            } else if (h == 0x80000007) { // BLACK_PEN
                pen = 1;
                nullPen = false;
            }
        } else if (r.type == 27) { // MOVETOEX
            position = QPoint(i32At(page, o + 8), i32At(page, o + 12));
        } else if (r.type == 54) { // LINETO
            const QPoint to(i32At(page, o + 8), i32At(page, o + 12));
            const int before = (pen - 1) / 2;
            if (to.y() == position.y())
                add(QRectF(std::min(position.x(), to.x()), position.y() - before,
                           std::abs(to.x() - position.x()), pen));
            else if (to.x() == position.x())
                add(QRectF(position.x() - before, std::min(position.y(), to.y()), pen,
                           std::abs(to.y() - position.y())));
            position = to;
        } else if (r.type == 43 && nullPen) { // RECTANGLE without an outline
            add(QRectF(QPointF(i32At(page, o + 8), i32At(page, o + 12)),
                       QPointF(i32At(page, o + 16) - 1, i32At(page, o + 20) - 1)));
        }
    }
    return out;
}

// The part `area` (device pixels of the page) of the page played at `scale` device pixels per
// page pixel, on white.
QImage played(const QByteArray& page, double scale, const QRectF& area) {
    const QRectF frame = readEmfHeader(page)->framePx();
    const QRect pixels = QRectF(area.topLeft() * scale, area.size() * scale).toAlignedRect();
    QImage image(pixels.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(-pixels.topLeft());
    playEmf(page, painter, QRectF(0, 0, frame.width() * scale, frame.height() * scale));
    return image;
}

// The text's glyph outlines, each character at its stored advance, filled at 1,200 dpi over
// `area` (page pixels): where its ink belongs. The outlines are taken from the font at a
// hundred times the size, so no hinting bends them.
QImage outlines(const TextRecord& t, const QRectF& area) {
    constexpr double kLarge = 100;
    QFont large = t.font;
    large.setPixelSize(t.font.pixelSize() * int(kLarge));
    const QFontMetricsF fm(large);
    double width = 0;
    for (int v : t.dx)
        width += v;
    double x = t.reference.x();
    if ((t.align & 6) == 6) // TA_CENTER
        x -= width / 2;
    else if (t.align & 2) // TA_RIGHT
        x -= width;
    double baseline = t.reference.y() + fm.ascent() / kLarge;
    if ((t.align & 24) == 24) // TA_BASELINE
        baseline = t.reference.y();
    else if (t.align & 8) // TA_BOTTOM
        baseline = t.reference.y() - fm.descent() / kLarge;
    QPainterPath glyphs;
    for (qsizetype i = 0; i < t.text.size(); ++i) {
        glyphs.addText(QPointF(x, baseline) * kLarge, large, t.text.mid(i, 1));
        x += t.dx[size_t(i)];
    }
    const QRect pixels =
        QRectF(area.topLeft() * kReferenceScale, area.size() * kReferenceScale).toAlignedRect();
    QImage image(pixels.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-pixels.topLeft());
    p.scale(kReferenceScale / kLarge, kReferenceScale / kLarge);
    p.fillPath(glyphs, Qt::black);
    return image;
}

// How dark each column of `image` is at its darkest, as a part of the darkest column: 0
// white, 1 as dark as the darkest stroke (small letters have no column fully black).
std::vector<double> columnInk(const QImage& image) {
    std::vector<double> ink(size_t(image.width()), 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink[size_t(x)] = std::max(ink[size_t(x)], (255 - qGray(image.pixel(x, y))) / 255.0);
    }
    const double darkest = *std::max_element(ink.begin(), ink.end());
    for (double& v : ink)
        v = darkest > 0 ? v / darkest : 0;
    return ink;
}

// The runs of columns that hold ink (at least half dark), as [first, last + 1).
std::vector<std::pair<int, int>> inkRuns(const std::vector<double>& ink) {
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < int(ink.size()); ++x) {
        if (ink[size_t(x)] < 0.5)
            continue;
        if (!runs.empty() && runs.back().second == x)
            runs.back().second = x + 1;
        else
            runs.emplace_back(x, x + 1);
    }
    return runs;
}

// Where the ink ends going from column `from` in direction `step` (-1 or +1) and the first
// column at least half dark: the edge between that column and the paler one beyond it, placed
// within the pixel where the darkness crosses one half. nullopt without ink that way.
std::optional<double> inkEdge(const std::vector<double>& ink, int from, int step) {
    int x = from;
    while (x >= 0 && x < int(ink.size()) && ink[size_t(x)] < 0.5)
        x += step;
    if (x < 0 || x >= int(ink.size()))
        return std::nullopt;
    const double dark = ink[size_t(x)];
    const int beyond = x - step; // the paler neighbour, between the ink and `from`
    const double pale = beyond >= 0 && beyond < int(ink.size()) ? ink[size_t(beyond)] : 0;
    const double crossing = dark > pale ? (dark - 0.5) / (dark - pale) : 0.5;
    return x + 0.5 - step * crossing;
}

// Letter gaps of one text at one zoom: for each pair of neighbouring letters of a word whose
// ink is apart at 1,200 dpi, the gap between their ink edges in pixels, and the gap at
// 1,200 dpi scaled to the zoom.
struct GapMeasure {
    QString pair;
    double gap;
    double expected;
};

std::vector<GapMeasure> letterGaps(const QByteArray& page, const TextRecord& t, double scale) {
    const QRectF area(t.box.left() - 2, t.box.top(), t.box.width() + 4, t.box.height());
    const std::vector<double> reference = columnInk(outlines(t, area));
    // Each letter's cell from the stored advances, in reference pixels.
    std::vector<double> cellStart{2 * kReferenceScale};
    for (int v : t.dx)
        cellStart.push_back(cellStart.back() + v * kReferenceScale);
    // Ink of each letter at 1,200 dpi: the runs whose centre lies in its cell.
    std::vector<std::pair<int, int>> letterInk(size_t(t.text.size()), {-1, -1});
    for (const auto& [first, end] : inkRuns(reference)) {
        const double centre = (first + end) / 2.0;
        for (qsizetype i = 0; i < t.text.size(); ++i) {
            auto& ink = letterInk[size_t(i)];
            if (centre >= cellStart[size_t(i)] && centre < cellStart[size_t(i) + 1])
                ink = ink.first < 0
                          ? std::pair(first, end)
                          : std::pair(std::min(ink.first, first), std::max(ink.second, end));
        }
    }
    const std::vector<double> shown = columnInk(played(page, scale, area));
    const double down = scale / kReferenceScale;
    std::vector<GapMeasure> out;
    for (qsizetype i = 0; i + 1 < t.text.size(); ++i) {
        const auto a = letterInk[size_t(i)], b = letterInk[size_t(i + 1)];
        if (!t.text[i].isLetter() || !t.text[i + 1].isLetter() || a.first < 0 || b.first < 0 ||
            b.first <= a.second)
            continue;
        // The letters are told apart at the middle of their gap at 1,200 dpi.
        const int referenceSplit = (a.second + b.first) / 2;
        const std::optional<double> refRight = inkEdge(reference, referenceSplit, -1);
        const std::optional<double> refLeft = inkEdge(reference, referenceSplit, +1);
        // At the zoom, from the palest column next to that middle.
        int split = int(std::floor((a.second + b.first) / 2.0 * down));
        for (int x : {split - 1, split + 1}) {
            if (x >= 0 && x < int(shown.size()) && shown[size_t(x)] < shown[size_t(split)])
                split = x;
        }
        const std::optional<double> right = inkEdge(shown, split, -1);
        const std::optional<double> left = inkEdge(shown, split, +1);
        if (!refRight || !refLeft || !right || !left)
            continue;
        out.push_back(
            {t.text.mid(i, 2), std::max(0.0, *left - *right), (*refLeft - *refRight) * down});
    }
    return out;
}

// The thickness in pixels of `rule` played at `scale`: the number of rows (or columns) of ink
// across it, the most frequent count over nine places along it.
int ruleThickness(const QByteArray& page, const Rule& rule, double scale) {
    const QRectF area = rule.area.adjusted(-4, -4, 4, 4);
    const QImage image = played(page, scale, area);
    QMap<int, int> counts;
    for (int k = 1; k <= 9; ++k) {
        int n = 0;
        if (rule.horizontal) {
            const int x = int(image.width() * k / 10.0);
            for (int y = 0; y < image.height(); ++y)
                n += qGray(image.pixel(x, y)) < 128;
        } else {
            const int y = int(image.height() * k / 10.0);
            for (int x = 0; x < image.width(); ++x)
                n += qGray(image.pixel(x, y)) < 128;
        }
        ++counts[n];
    }
    int best = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(best))
            best = it.key();
    }
    return best;
}

void saveShot(const QImage& image, const QString& name) {
    const QString dir = qEnvironmentVariable("LV26_SHOT_DIR");
    if (!dir.isEmpty())
        image.save(QDir(dir).filePath(name));
}

// The page image's pixels, at the device's own resolution.
QImage pagePixels(TPreviewControl* preview) {
    return preview->image()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The left and right ink edges of the page pixels within `area` (page pixels) of a page
// shown in an image of `shown` logical pixels at `ratio` device pixels per logical one, in
// device pixels.
std::pair<double, double> inkSpan(const QImage& pixels, const QRectF& frame, QSize shown,
                                  double ratio, const QRectF& area) {
    const double sx = shown.width() / frame.width() * ratio;
    const double sy = shown.height() / frame.height() * ratio;
    const QRect part =
        QRectF(area.left() * sx, area.top() * sy, area.width() * sx, area.height() * sy)
            .toAlignedRect();
    const std::vector<double> ink = columnInk(pixels.copy(part));
    const double left = inkEdge(ink, 0, +1).value_or(-1) + part.left();
    const double right = inkEdge(ink, int(ink.size()) - 1, -1).value_or(-1) + part.left();
    return {left, right};
}

} // namespace

class FidelityTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PreviewFixture> fixture_;
    std::vector<QByteArray> pages_;

    // The texts measured: the listing's headings and the first employees' names.
    std::vector<TextRecord> measuredTexts() const {
        std::vector<TextRecord> out;
        for (const TextRecord& t : textRecords(pages_.front())) {
            bool letters = false;
            for (QChar c : t.text)
                letters = letters || c.isLetter();
            if (letters && t.text.size() >= 4 && out.size() < 24)
                out.push_back(t);
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        installFontSubstitutions();
        fixture_ = std::make_unique<PreviewFixture>(60);
        QVERIFY(fixture_->ok());
        previewAndThen(fixture_->report(), [this](TPreviewForm* form) {
            for (int n = 1; n <= form->printer()->PageCount(); ++n)
                pages_.push_back(*form->printer()->fetchPage(n));
        });
        QVERIFY(!pages_.empty());
    }
    void cleanupTestCase() { fixture_.reset(); }

    // Within each word, the gap between the ink of neighbouring letters is the gap at
    // 1,200 dpi scaled to the zoom, within one pixel.
    void letterGapsFollowTheOutlines_data() {
        QTest::addColumn<int>("zoom");
        for (int zoom : {50, 100, 140, 200, 400})
            QTest::addRow("%d%%", zoom) << zoom;
    }
    void letterGapsFollowTheOutlines() {
        QFETCH(int, zoom);
        const std::vector<TextRecord> texts = measuredTexts();
        QVERIFY(texts.size() >= 8);
        int pairs = 0, off = 0;
        double worst = 0;
        QStringList offPairs;
        for (const TextRecord& t : texts) {
            for (const GapMeasure& g : letterGaps(pages_.front(), t, zoom / 100.0)) {
                ++pairs;
                const double miss = std::abs(g.gap - g.expected);
                worst = std::max(worst, miss);
                // One pixel, and a twentieth for the edge estimate's own rounding.
                if (miss > 1.05) {
                    ++off;
                    offPairs << QStringLiteral("%1 %2/%3")
                                    .arg(g.pair)
                                    .arg(g.gap, 0, 'f', 1)
                                    .arg(g.expected, 0, 'f', 1);
                }
            }
        }
        qInfo("letter gaps at %d%%: %d pairs, %d off by more than a pixel, worst %.2f px%s%s", zoom,
              pairs, off, worst, offPairs.isEmpty() ? "" : ": ",
              qPrintable(offPairs.mid(0, 12).join(QStringLiteral(", "))));
        QVERIFY(pairs >= 40);
        QCOMPARE(off, 0);
    }

    // Text on screen is antialiased in greys: the edges of black letters have shades between
    // black and white, and no pixel takes a colour (as a screen's sub-pixel rendering would).
    void textIsAntialiasedInGreys() {
        int shades = 0, coloured = 0;
        for (const TextRecord& t : measuredTexts()) {
            if (t.font.pixelSize() > 13) // the title is coloured
                continue;
            const QImage image = played(pages_.front(), 1.4, QRectF(t.box));
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb c = image.pixel(x, y);
                    shades += qGray(c) > 40 && qGray(c) < 215;
                    coloured += std::max({qRed(c), qGreen(c), qBlue(c)}) -
                                    std::min({qRed(c), qGreen(c), qBlue(c)}) >
                                2;
                }
            }
        }
        QVERIFY(shades > 100);
        QCOMPARE(coloured, 0);
    }

    // Every rule of one width in the picture comes out as the same number of pixels.
    void rulesOfOneWidthKeepIt_data() { letterGapsFollowTheOutlines_data(); }
    void rulesOfOneWidthKeepIt() {
        QFETCH(int, zoom);
        std::map<std::pair<bool, double>, std::map<int, int>> thickness; // picture width: pixels
        for (const Rule& rule : rules(pages_.front())) {
            const double width = rule.horizontal ? rule.area.height() : rule.area.width();
            ++thickness[{rule.horizontal, width}]
                       [ruleThickness(pages_.front(), rule, zoom / 100.0)];
        }
        QVERIFY(!thickness.empty());
        bool even = true;
        QStringList figures;
        for (const auto& [kind, counts] : thickness) {
            QStringList seen;
            for (const auto& [pixels, rulesSeen] : counts)
                seen << QStringLiteral("%1 px x%2").arg(pixels).arg(rulesSeen);
            figures << QStringLiteral("%1 %2 px: %3")
                           .arg(kind.first ? QStringLiteral("horizontal")
                                           : QStringLiteral("vertical"))
                           .arg(kind.second)
                           .arg(seen.join(QStringLiteral(", ")));
            even = even && counts.size() == 1;
        }
        qInfo("rules at %d%%: %s", zoom, qPrintable(figures.join(QStringLiteral("; "))));
        QVERIFY(even);
    }

    // The preview draws at the device's own pixels: the page image has the ratio's pixels
    // over the same logical size, its text lies where the ratio-1 picture's text lies
    // scaled, and a rule is as many whole device pixels as its width at that scale. Run with
    // QT_SCALE_FACTOR=2 for a ratio of 2.
    void previewDrawsAtTheDevicesPixels() {
        previewAndThen(fixture_->report(), [this](TPreviewForm* form) {
            auto* preview = form->findChild<TPreviewControl*>();
            QVERIFY(preview && preview->image()->hasPage());
            const double ratio = preview->devicePixelRatioF();
            const QSize shown = preview->image()->size();
            const QImage pixels = pagePixels(preview);
            QCOMPARE(pixels.size(), shown * ratio);
            saveShot(pixels, QStringLiteral("preview-page-width-ratio-%1.png").arg(ratio));
            saveShot(form->grab().toImage(),
                     QStringLiteral("preview-window-ratio-%1.png").arg(ratio));

            // The same page played at ratio 1, as the page image paints it.
            QImage single(shown, QImage::Format_RGB32);
            single.fill(Qt::white);
            {
                QPainter p(&single);
                playEmf(pages_.front(), p, QRectF(QPointF(0, 0), shown));
            }
            const QRectF frame = readEmfHeader(pages_.front())->framePx();
            int words = 0;
            for (const TextRecord& t : measuredTexts()) {
                const QRectF area(t.box.left() - 2, t.box.top(), t.box.width() + 4, t.box.height());
                const auto [left, right] = inkSpan(pixels, frame, shown, ratio, area);
                const auto [left1, right1] = inkSpan(single, frame, shown, 1, area);
                QVERIFY2(std::abs(left - left1 * ratio) <= ratio &&
                             std::abs(right - right1 * ratio) <= ratio,
                         qPrintable(QStringLiteral("%1: %2..%3 against %4..%5 at ratio 1")
                                        .arg(t.text)
                                        .arg(left)
                                        .arg(right)
                                        .arg(left1)
                                        .arg(right1)));
                ++words;
            }
            QVERIFY(words >= 8);
            const double scale = shown.width() / frame.width();
            for (const Rule& rule : rules(pages_.front())) {
                const QRectF r = rule.area;
                const int at = int(std::round((rule.horizontal ? r.center().x() : r.center().y()) *
                                              scale * ratio));
                const int from = int(((rule.horizontal ? r.top() : r.left()) - 3) * scale * ratio);
                const int to =
                    int(((rule.horizontal ? r.bottom() : r.right()) + 3) * scale * ratio);
                int thick = 0;
                for (int k = from; k <= to; ++k) {
                    const QPoint p = rule.horizontal ? QPoint(at, k) : QPoint(k, at);
                    thick += qGray(pixels.pixel(p)) < 128;
                }
                // Snapped to the device's own pixels, not to the logical ones.
                const double expected = std::max(
                    1.0, std::round((rule.horizontal ? r.height() : r.width()) * scale * ratio));
                QCOMPARE(thick, int(expected));
            }
            preview->setZoom(100);
            QCoreApplication::processEvents();
            saveShot(pagePixels(preview), QStringLiteral("preview-100-ratio-%1.png").arg(ratio));
        });
    }

    // The navigator's glyphs and the grids' row images are drawn at the device's pixels, not
    // doubled from a drawing at ratio 1: at ratio 2 some square of 2 x 2 device pixels holds
    // two shades. Run with QT_SCALE_FACTOR=2 for a ratio of 2.
    void glyphsDrawAtTheDevicesPixels() {
        for (int button = 0; button <= 9; ++button) {
            for (qreal ratio : {1.0, 2.0}) {
                const QPixmap glyph = navigatorGlyph(button, true, ratio);
                QCOMPARE(glyph.deviceIndependentSize(), QSizeF(16, 16));
                QCOMPARE(glyph.size(), QSize(16, 16) * ratio);
            }
        }
        QCOMPARE(rowIndicatorImage(RowImage::Arrow, 2).size(), QSize(16, 22));

        TRecordNavigator navigator;
        navigator.resize(240, 25);
        navigator.show();
        QVERIFY(QTest::qWaitForWindowExposed(&navigator));
        const QImage pixels = navigator.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const double ratio = navigator.devicePixelRatioF();
        QCOMPARE(pixels.size(), navigator.size() * ratio);
        saveShot(pixels, QStringLiteral("navigator-ratio-%1.png").arg(ratio));
        if (ratio != 2)
            return;
        // Within each button's glyph, at the button's centre.
        int mixed = 0;
        for (QAbstractButton* button : navigator.findChildren<QAbstractButton*>()) {
            const QRect glyph(button->mapTo(&navigator, QPoint((button->width() - 16) / 2,
                                                               (button->height() - 16) / 2)),
                              QSize(16, 16));
            for (int y = glyph.top() * 2; y < glyph.bottom() * 2; y += 2) {
                for (int x = glyph.left() * 2; x < glyph.right() * 2; x += 2) {
                    const QRgb c = pixels.pixel(x, y);
                    mixed += pixels.pixel(x + 1, y) != c || pixels.pixel(x, y + 1) != c ||
                             pixels.pixel(x + 1, y + 1) != c;
                }
            }
        }
        QVERIFY2(mixed > 20, qPrintable(QString::number(mixed)));
    }
};

// Fonts are hinted fully here, as many desktops set them: the page must not depend on it.
int main(int argc, char** argv) {
    QTemporaryDir fontConfig;
    const QString system = QStringLiteral("/etc/fonts/fonts.conf");
    if (fontConfig.isValid() && QFile::exists(system)) {
        QFile file(fontConfig.filePath(QStringLiteral("fonts.conf")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(
                QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">"
                               "<fontconfig><include ignore_missing=\"yes\">%1</include>"
                               "<match target=\"font\"><edit name=\"hintstyle\" mode=\"assign\">"
                               "<const>hintfull</const></edit></match></fontconfig>")
                    .arg(system)
                    .toUtf8());
            file.close();
            qputenv("FONTCONFIG_FILE", file.fileName().toLocal8Bit());
        }
    }
    QApplication app(argc, argv);
    FidelityTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fidelity.moc"
