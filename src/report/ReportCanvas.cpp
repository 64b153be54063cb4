#include "report/ReportCanvas.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QRawFont>
#include <QVarLengthArray>

#include <cmath>
#include <vector>

namespace lv26 {

namespace {

// A character that needs no shaping: printable, from the Latin blocks before the combining
// marks. Others (controls, marks, other scripts, surrogates) go through the full text layout.
bool isPlainCharacter(QChar c) {
    const char16_t u = c.unicode();
    return u >= 0x20 && u < 0x0300 && !(u >= 0x7F && u < 0xA0);
}

} // namespace

void ReportCanvas::drawTextLine(const report::DeviceMapping& mapping, double x, double y,
                                const QString& text, TAlignment alignment) {
    if (!text.isEmpty())
        drawText(mapping.column(x), mapping.row(y), text, alignment);
}

struct PainterCanvas::DeviceFont {
    struct Glyph {
        quint32 index = 0;
        qreal advance = 0;
    };

    DeviceFont(const TReportFont& reportFont, double dpiY, QPaintDevice* device)
        : key(reportFont), font(deviceFont(reportFont, dpiY)), metrics(font, device),
          metricsF(font, device), raw(QRawFont::fromFont(font)) {}

    static QFont deviceFont(const TReportFont& reportFont, double dpiY) {
        QFont f = report::toQFont(reportFont, dpiY);
        // Pages are laid out from the characters' own advances, never kerned.
        f.setKerning(false);
        return f;
    }

    // The glyph of `c` and its advance; a zero index when the font has no glyph for it.
    Glyph glyph(QChar c) {
        const auto it = glyphs.constFind(c.unicode());
        if (it != glyphs.constEnd())
            return *it;
        Glyph g;
        quint32 index = 0;
        int count = 1;
        if (raw.isValid() && raw.glyphIndexesForChars(&c, 1, &index, &count) && count == 1)
            g.index = index;
        g.advance = metricsF.horizontalAdvance(c);
        glyphs.insert(c.unicode(), g);
        return g;
    }

    TReportFont key;
    QFont font;
    QFontMetrics metrics;
    QFontMetricsF metricsF;
    QRawFont raw;
    QHash<char16_t, Glyph> glyphs;
};

class PainterFontCache {
public:
    PainterCanvas::DeviceFont& font(const TReportFont& reportFont, double dpiY,
                                    QPaintDevice* device) {
        if (dpiY != dpiY_ || device != device_) {
            fonts_.clear();
            dpiY_ = dpiY;
            device_ = device;
        }
        for (const auto& f : fonts_) {
            if (f->key == reportFont)
                return *f;
        }
        // A run uses a handful of fonts; a flood of them only means a layout with many.
        if (fonts_.size() >= 64)
            fonts_.clear();
        fonts_.push_back(std::make_unique<PainterCanvas::DeviceFont>(reportFont, dpiY, device));
        return *fonts_.back();
    }

private:
    double dpiY_ = 0;
    QPaintDevice* device_ = nullptr;
    std::vector<std::unique_ptr<PainterCanvas::DeviceFont>> fonts_;
};

namespace {

// A line laid out from its characters' advances: glyphs, their positions from the line's
// left end on the baseline, and the line's width.
struct PlainLine {
    QVarLengthArray<quint32, 64> glyphs;
    QVarLengthArray<QPointF, 64> positions;
    qreal width = 0;
};

} // namespace

PainterCanvas::PainterCanvas(QPainter& painter, std::shared_ptr<PainterFontCache> fonts)
    : painter_(painter), dpiX_(painter.device()->logicalDpiX()),
      dpiY_(painter.device()->logicalDpiY()), fonts_(fonts ? std::move(fonts) : makeFontCache()) {}

PainterCanvas::~PainterCanvas() = default;

std::shared_ptr<PainterFontCache> PainterCanvas::makeFontCache() {
    return std::make_shared<PainterFontCache>();
}

void PainterCanvas::fillRect(const QRect& rect, const QColor& color) {
    painter_.fillRect(rect, color);
}

void PainterCanvas::setFont(const TReportFont& font) {
    font_ = &fonts_->font(font, dpiY_, painter_.device());
}

PainterCanvas::DeviceFont& PainterCanvas::font() {
    if (!font_)
        setFont(TReportFont());
    return *font_;
}

namespace {

// Lays out `text` in `font` when every character is plain and has a glyph of its own;
// returns false otherwise (nothing usable in `line` then).
bool layOutPlain(PainterCanvas::DeviceFont& font, const QString& text, PlainLine& line) {
    line.glyphs.clear();
    line.positions.clear();
    qreal x = 0;
    for (const QChar c : text) {
        if (!isPlainCharacter(c))
            return false;
        const PainterCanvas::DeviceFont::Glyph g = font.glyph(c);
        if (g.index == 0)
            return false;
        line.glyphs.append(g.index);
        line.positions.append(QPointF(x, 0));
        x += g.advance;
    }
    line.width = x;
    return true;
}

} // namespace

QSize PainterCanvas::textExtent(const QString& text) {
    DeviceFont& f = font();
    PlainLine line;
    const int width = layOutPlain(f, text, line) ? int(std::lround(line.width))
                                                 : f.metrics.horizontalAdvance(text);
    return {width, f.metrics.height()};
}

void PainterCanvas::drawText(int x, int y, const QString& text, TAlignment alignment) {
    DeviceFont& f = font();
    PlainLine line;
    const bool plain = layOutPlain(f, text, line);
    const int width = plain ? int(std::lround(line.width)) : f.metrics.horizontalAdvance(text);
    int left = x;
    if (alignment == TAlignment::taRightJustify)
        left = x - width;
    else if (alignment == TAlignment::taCenter)
        left = x - width / 2;
    const QPoint baseline(left, y + f.metrics.ascent());
    painter_.setPen(f.key.color); // no state change when it is the pen already
    if (!plain) {
        if (painter_.font() != f.font)
            painter_.setFont(f.font);
        painter_.drawText(baseline, text);
        return;
    }
    QGlyphRun run;
    run.setRawFont(f.raw);
    run.setRawData(line.glyphs.constData(), line.positions.constData(), int(line.glyphs.size()));
    run.setUnderline(f.font.underline());
    run.setStrikeOut(f.font.strikeOut());
    painter_.drawGlyphRun(baseline, run);
}

void PainterCanvas::drawLine(QPoint from, QPoint to, const QColor& color, int width) {
    // The end point is not part of the line; step back one unit towards the start.
    const QPoint step((to.x() > from.x()) - (to.x() < from.x()),
                      (to.y() > from.y()) - (to.y() < from.y()));
    if (from == to)
        return;
    QPen pen(color);
    pen.setWidth(qMax(1, width));
    painter_.setPen(pen);
    painter_.drawLine(from, to - step);
}

} // namespace lv26
