// The glyphs of the bitmap buttons and of the preview window's tool buttons, drawn at the
// screen's device pixel ratio: at ratio 1 exactly the 1x images, at ratio 2 the @2x images
// with their finer detail. Run once as is and once with QT_SCALE_FACTOR=2.
//
// Set LV26_SHOT_DIR to keep pictures of the main window and the preview toolbar.

#include "app/Unit1.h"
#include "preview/PreviewForm.h"
#include "report/ReportPrinter.h"
#include "widgets/BitBtn.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>
#include <QToolButton>
#include <optional>

using namespace lv26;

namespace {

const QRgb olive = qRgb(0x80, 0x80, 0x00);

QImage deviceImage(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Image `index` of a resource strip of square images, at the ratio's size (the @2x file at
// ratio 2).
QImage stripImage(const QString& resource, int index, qreal ratio) {
    QString path = resource;
    if (ratio > 1)
        path.insert(path.lastIndexOf(u'.'), QStringLiteral("@2x"));
    const QImage strip(path);
    if (strip.isNull())
        return {};
    const int side = strip.height();
    return strip.copy(index * side, 0, side, side).convertToFormat(QImage::Format_RGB32);
}

// Where `glyph` lies in `shot` (its top left corner, possibly outside when the button clips
// it): the offset at which `shot` equals `blank` (the same widget drawn without the glyph)
// with every non-olive pixel of `glyph` painted over it, and no other pixel changed. None
// when no such offset exists or the glyph drew nothing.
std::optional<QPoint> glyphOffset(const QImage& shot, const QImage& blank, const QImage& glyph) {
    if (shot.size() != blank.size() || glyph.isNull())
        return std::nullopt;
    QRect changed;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixel(x, y) != blank.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
    if (changed.isEmpty())
        return std::nullopt;
    // The glyph covers every changed pixel.
    for (int oy = changed.bottom() - glyph.height() + 1; oy <= changed.top(); ++oy) {
        for (int ox = changed.right() - glyph.width() + 1; ox <= changed.left(); ++ox) {
            bool same = true;
            for (int y = 0; same && y < glyph.height(); ++y) {
                for (int x = 0; same && x < glyph.width(); ++x) {
                    const QPoint at(ox + x, oy + y);
                    if (!shot.rect().contains(at))
                        continue;
                    const QRgb want =
                        glyph.pixel(x, y) == olive ? blank.pixel(at) : glyph.pixel(x, y);
                    same = shot.pixel(at) == want;
                }
            }
            if (same)
                return QPoint(ox, oy);
        }
    }
    return std::nullopt;
}

// The 2x2 device pixel blocks of the rect (aligned to even coordinates) whose four pixels
// are not all of one colour: a pixel-doubled image has none.
int mixedBlocks(const QImage& image, const QRect& rect) {
    const QRect inside = rect & image.rect();
    int mixed = 0;
    for (int y = inside.top() & ~1; y + 1 <= inside.bottom(); y += 2) {
        for (int x = inside.left() & ~1; x + 1 <= inside.right(); x += 2) {
            const QRgb c = image.pixel(x, y);
            mixed += image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c ||
                     image.pixel(x + 1, y + 1) != c;
        }
    }
    return mixed;
}

// True when `pixmap` is `image` with its olive pixels transparent and the others opaque.
bool isWithoutOlive(const QPixmap& pixmap, const QImage& image) {
    const QImage pixels = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    if (pixels.size() != image.size())
        return false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb want = image.pixel(x, y);
            const QRgb got = pixels.pixel(x, y);
            const bool same = want == olive ? qAlpha(got) == 0
                                            : qAlpha(got) == 255 &&
                                                  qRgb(qRed(got), qGreen(got), qBlue(got)) == want;
            if (!same)
                return false;
        }
    }
    return true;
}

QPixmap transparentPixmap(QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void saveShot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("LV26_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget->grab().save(QDir(dir).filePath(
        QStringLiteral("%1-ratio-%2.png").arg(name).arg(widget->devicePixelRatioF())));
}

// The glyph of the button must be exactly the resource's image for its ratio (normal, or
// disabled when `disabledImage`), and at ratio 2 show detail finer than a design pixel.
void checkBitBtnGlyph(TBitBtn* button, const QString& resource) {
    const qreal ratio = button->devicePixelRatioF();
    for (bool enabled : {true, false}) {
        button->setEnabled(enabled);
        const QImage shot = deviceImage(button);
        // the same layout with nothing drawn: an all-olive strip of the glyph's size
        const QPixmap glyph = button->glyph();
        const int count = button->numGlyphs();
        const QVariant highDensity = button->property("highDensityGlyph");
        QPixmap olives(glyph.size());
        olives.fill(QColor(olive));
        button->setGlyph(olives);
        button->setNumGlyphs(count);
        const QImage blank = deviceImage(button);
        button->setGlyph(glyph);
        button->setNumGlyphs(count);
        button->setProperty("highDensityGlyph", highDensity);
        const QImage expected = stripImage(resource, enabled ? 0 : 1, ratio);
        const std::optional<QPoint> at = glyphOffset(shot, blank, expected);
        if (!at) {
            shot.save("/tmp/gly/shot.png");
            blank.save("/tmp/gly/blank.png");
            expected.save("/tmp/gly/exp.png");
        }
        QVERIFY2(at.has_value(), qPrintable(QStringLiteral("%1 (%2) at ratio %3")
                                                .arg(button->objectName(), resource)
                                                .arg(ratio)));
        // where the 1x glyph goes, in device pixels
        QCOMPARE(*at, button->contentLayout().glyph.topLeft() * ratio);
        if (ratio == 2)
            QVERIFY(mixedBlocks(shot, QRect(*at, expected.size())) > 4);
    }
    button->setEnabled(true);
}

} // namespace

class GlyphsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bitmapButtonsDrawTheirGlyphAtTheDevicesPixels() {
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        saveShot(&form, QStringLiteral("main-window"));
        const QList<TBitBtn*> buttons = form.findChildren<TBitBtn*>();
        QVERIFY(buttons.size() >= 4);
        for (TBitBtn* button : buttons) {
            QString resource;
            switch (button->kind()) {
            case TBitBtn::bkHelp:
                resource = QStringLiteral(":/glyphs/btn_help.xpm");
                break;
            case TBitBtn::bkYes:
                resource = QStringLiteral(":/glyphs/btn_yes.xpm");
                break;
            case TBitBtn::bkClose:
                resource = QStringLiteral(":/glyphs/btn_close.xpm");
                break;
            case TBitBtn::bkCustom:
                resource = QStringLiteral(":/glyphs/bitbtn1_cross.xpm");
                break;
            }
            checkBitBtnGlyph(button, resource);
        }
    }

    // A strip of one image: disabled, its embossed copy keeps the logical size and the
    // strip's detail.
    void aSingleImageIsEmbossedAtTheButtonsRatio() {
        const QImage cross1x = stripImage(QStringLiteral(":/glyphs/bitbtn1_cross.xpm"), 0, 1);
        const QImage cross2x = stripImage(QStringLiteral(":/glyphs/bitbtn1_cross.xpm"), 0, 2);
        TBitBtn button;
        button.resize(100, 25);
        button.setText(QStringLiteral("Cruz"));
        button.setGlyph(QPixmap::fromImage(cross1x));
        button.setHighDensityGlyph(QPixmap::fromImage(cross2x));
        QCOMPARE(button.numGlyphs(), 1);
        button.setEnabled(false);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        const qreal ratio = button.devicePixelRatioF();
        const QPixmap glyph = button.currentGlyph();
        QCOMPARE(glyph.deviceIndependentSize(), QSizeF(18, 18));
        QCOMPARE(glyph.size(), QSize(18, 18) * ratio);
        QCOMPARE(button.contentLayout().glyph.size(), QSize(18, 18));
        if (ratio == 2)
            QVERIFY(mixedBlocks(glyph.toImage().convertToFormat(QImage::Format_RGB32),
                                QRect(0, 0, 36, 36)) > 4);
    }

    void previewToolButtonsDrawTheirGlyphAtTheDevicesPixels() {
        TPreviewForm form(std::make_shared<TReportPrinter>(), TReportActions{});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const std::pair<const char*, const char*> glyphs[] = {
            {"ZoomToFit", "pv_zoomtofit"},
            {"ZoomTo100", "pv_zoomto100"},
            {"ZoomToWidth", "pv_zoomtowidth"},
            {"FirstPage", "pv_firstpage"},
            {"PrevPage", "pv_prevpage"},
            {"NextPage", "pv_nextpage"},
            {"LastPage", "pv_lastpage"},
            {"PrintSetup", "pv_printsetup"},
            {"Print", "pv_print"},
            {"Save", "pv_save"},
            {"Load", "pv_open"},
        };
        auto* first = form.findChild<QToolButton*>(QStringLiteral("ZoomToFit"));
        QVERIFY(first);
        saveShot(first->parentWidget(), QStringLiteral("preview-toolbar"));
        for (const auto& [name, file] : glyphs) {
            auto* button = form.findChild<QToolButton*>(QLatin1String(name));
            QVERIFY(button);
            button->setEnabled(true);
            const qreal ratio = button->devicePixelRatioF();
            const QString resource = QStringLiteral(":/preview/%1.xpm").arg(QLatin1String(file));
            const QImage shot = deviceImage(button);
            const QIcon icon = button->icon();
            button->setIcon(QIcon(transparentPixmap(button->iconSize(), ratio)));
            const QImage blank = deviceImage(button);
            button->setIcon(icon);
            // Both sizes are there whatever the ratio the window started at.
            for (qreal size : {1.0, 2.0})
                QVERIFY2(isWithoutOlive(icon.pixmap(button->iconSize(), size),
                                        stripImage(resource, 0, size)),
                         name);
            const QImage expected = stripImage(resource, 0, ratio);
            const std::optional<QPoint> at = glyphOffset(shot, blank, expected);
            QVERIFY2(at.has_value(),
                     qPrintable(QStringLiteral("%1 at ratio %2").arg(resource).arg(ratio)));
            if (ratio == 2)
                QVERIFY2(mixedBlocks(shot, QRect(*at, expected.size())) > 4, name);
            if (ratio == 1) {
                // Disabled, the style's greyed image is made from the 1x image alone.
                button->setEnabled(false);
                const QImage greyed = deviceImage(button);
                button->setIcon(QIcon(icon.pixmap(button->iconSize(), 1.0)));
                QCOMPARE(deviceImage(button), greyed);
                button->setIcon(icon);
                button->setEnabled(true);
            }
        }
        auto* exit = form.findChild<TBitBtn*>(QStringLiteral("Exit"));
        QVERIFY(exit);
        checkBitBtnGlyph(exit, QStringLiteral(":/preview/pv_exit.xpm"));
    }
};

QTEST_MAIN(GlyphsTest)
#include "tst_glyphs.moc"
