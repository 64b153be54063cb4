// Text records: EXTTEXTOUTW, EXTTEXTOUTA and SMALLTEXTOUT.

#include "report/emf/EmfPlayback.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace lv26::emf {

namespace {

constexpr double kMaxGlyphBitmap = 256; // pixels: longer glyphs are filled as outlines

// The count advances at offDx, one 32-bit value per character (every other value when pdy: the
// vertical advances are not used). None when offDx is 0.
std::vector<qint32> readAdvances(const RecordReader& r, quint32 offDx, quint32 count, bool pdy) {
    std::vector<qint32> dx;
    if (offDx != 0 && count > 0) {
        const quint64 step = 4 * (pdy ? 2 : 1);
        r.need(offDx, quint64(count) * step);
        dx.resize(count);
        for (quint64 i = 0; i < count; ++i)
            dx[i] = r.i32(offDx + i * step);
    }
    return dx;
}

// count characters at chars: UTF-16 units when wide, else one byte each (Latin-1).
QString decodeChars(const uchar* chars, quint32 count, bool wide) {
    QString s;
    s.reserve(count);
    for (quint32 i = 0; i < count; ++i)
        s.append(wide ? QChar(qFromLittleEndian<quint16>(chars + 2 * i)) : QChar(chars[i]));
    return s;
}

} // namespace

// Where a text's pieces go. Text coordinates have their origin at the reference point and their x
// axis along the baseline, in device pixels.
struct Playback::TextPlacement {
    QTransform textToPainter;
    double left = 0;     // x where the text starts
    double baseline = 0; // y of the baseline
    double width = 0;
    double ascent = 0;
    double descent = 0;
    double advanceScale = 1; // device pixels per logical unit of a stored advance
    QPointF origin;          // the reference point in device pixels
    double angle = 0;        // degrees of the baseline from the x axis
};

// A text record placed on the target: the font at its size there, and where its pieces go.
struct Playback::PlacedText {
    QTransform xf; // logical to device
    QFont font;
    double size = 0; // em size in device pixels
    TextPlacement at;
};

bool Playback::playTextRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW:
        text(r, type == EMR_EXTTEXTOUTW);
        return true;
    case EMR_SMALLTEXTOUT:
        smallText(r);
        return true;
    default:
        return false;
    }
}

void Playback::text(const RecordReader& r, bool wide) {
    const quint32 graphicsMode = r.u32(24);
    const QPointF ref = r.point32(36);
    const quint32 count = r.u32(44);
    const quint32 offString = r.u32(48);
    const quint32 options = r.u32(52);
    const QRectF rect = r.box(56);
    const quint32 offDx = r.u32(72);
    const uchar* chars = r.bytes(offString, quint64(count) * (wide ? 2 : 1));
    const std::vector<qint32> dx = readAdvances(r, offDx, count, options & ETO_PDY);
    drawText(ref, decodeChars(chars, count, wide), dx, options, rect, graphicsMode);
}

void Playback::smallText(const RecordReader& r) {
    const QPointF ref = r.point32(8);
    const quint32 count = r.u32(16);
    const quint32 options = r.u32(20);
    const quint32 graphicsMode = r.u32(24);
    quint64 off = 36;
    QRectF rect;
    if (!(options & ETO_NO_RECT)) {
        rect = r.box(off);
        off += 16;
    }
    const bool narrow = options & ETO_SMALL_CHARS;
    const uchar* chars = r.bytes(off, quint64(count) * (narrow ? 1 : 2));
    drawText(ref, decodeChars(chars, count, !narrow), {}, options & ~quint32(ETO_NO_RECT), rect,
             graphicsMode);
}

void Playback::drawText(QPointF ref, const QString& s, const std::vector<qint32>& dx,
                        quint32 options, const QRectF& rect, quint32 graphicsMode) {
    if (dc_.textAlign & TA_UPDATECP)
        ref = dc_.position;
    qint64 advance = 0;
    for (qint32 v : dx)
        advance += v;
    if (dc_.textAlign & TA_UPDATECP)
        moveAlongText(advance);
    if (options & ETO_GLYPH_INDEX)
        return;
    if (!texts_ && !painter_)
        return;
    const std::optional<PlacedText> placed = placeTextRecord(ref, s, dx, advance, graphicsMode);
    if (!placed)
        return;
    if (texts_)
        collectText(*placed, s, dx);
    if (!painter_)
        return;
    const auto& [xf, font, size, at] = *placed;
    // A vector target writes out every state change it is given, so there only what the text
    // needs is changed, and the clip is put back afterwards; a raster target keeps its state.
    if (raster_)
        painter_->save();
    const bool clipped = fillTextBox(xf, options, rect);
    if (dc_.bkMode == OPAQUE) {
        setPainterTransform(at.textToPainter);
        painter_->fillRect(
            QRectF(at.left, at.baseline - at.ascent, at.width, at.ascent + at.descent),
            dc_.bkColor);
    }
    painter_->setFont(font);
    painter_->setPen(dc_.textColor);
    drawTextPieces(s, dx, font, size, at);
    if (raster_)
        painter_->restore();
    else if (clipped)
        applyClip();
}

// With TA_UPDATECP the current position moves along the text in the direction of its alignment.
void Playback::moveAlongText(qint64 advance) {
    const quint32 h = dc_.textAlign & TA_CENTER;
    if (h == TA_RIGHT)
        dc_.position.rx() -= advance;
    else if (h != TA_CENTER)
        dc_.position.rx() += advance;
}

// The selected font under the current transform, and where the text's pieces go; nullopt when
// the text cannot show (its reference point or its size out of bounds).
std::optional<Playback::PlacedText> Playback::placeTextRecord(QPointF ref, const QString& s,
                                                              const std::vector<qint32>& dx,
                                                              qint64 advance,
                                                              quint32 graphicsMode) const {
    const QTransform xf = logicalToDevice();
    const QPointF origin = xf.map(ref);
    const std::optional<double> size = textPixelSize(xf);
    if (!sane(origin.x()) || !sane(origin.y()) || !size)
        return std::nullopt;
    QFont font = toQtFont(dc_.font, *size);
    TextPlacement at = placeText(font, s, dx, advance, xf, origin, graphicsMode);
    return PlacedText{xf, std::move(font), *size, std::move(at)};
}

void Playback::collectText(const PlacedText& placed, const QString& s,
                           const std::vector<qint32>& dx) {
    const TextPlacement& at = placed.at;
    // Cells in device pixels, whatever painter the playing has.
    const QTransform toDevice = at.textToPainter * toPainter_.inverted();
    const QFontMetricsF fm(placed.font);
    EmfTextRun run{s, {}};
    run.boxes.reserve(size_t(s.size()));
    double x = at.left;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const double step =
            dx.empty() ? fm.horizontalAdvance(s[i]) : dx[size_t(i)] * at.advanceScale;
        run.boxes.push_back(toDevice.mapRect(
            QRectF(x, at.baseline - at.ascent, step, at.ascent + at.descent).normalized()));
        x += step;
    }
    texts_->push_back(std::move(run));
}

// The em size in device pixels of the selected font under xf; nullopt when it is under half a pixel
// or beyond twice the frame's larger side.
std::optional<double> Playback::textPixelSize(const QTransform& xf) const {
    const double sy = std::hypot(xf.m21(), xf.m22());
    const double maxSize =
        2 * std::max({header_.framePx().width(), header_.framePx().height(), 100.0});
    double size = std::abs(double(dc_.font.height)) * sy;
    if (dc_.font.height > 0) { // cell height: convert to the em size
        QFontMetricsF fm(toQtFont(dc_.font, 1000));
        size = size * 1000 / std::max(1.0, fm.ascent() + fm.descent());
    } else if (dc_.font.height == 0) {
        size = 16 * sy;
    }
    if (!(size >= 0.5) || size > maxSize)
        return std::nullopt;
    return size;
}

// Places s, drawn in font at origin (device pixels), by the text alignment, the font's escapement
// and, in the advanced graphics mode, the world transform's rotation.
Playback::TextPlacement Playback::placeText(const QFont& font, const QString& s,
                                            const std::vector<qint32>& dx, qint64 advance,
                                            const QTransform& xf, QPointF origin,
                                            quint32 graphicsMode) const {
    const QFontMetricsF fm(font);
    TextPlacement at;
    at.advanceScale = std::hypot(xf.m11(), xf.m12());
    at.width = dx.empty() ? fm.horizontalAdvance(s) : advance * at.advanceScale;
    if ((dc_.textAlign & TA_CENTER) == TA_CENTER)
        at.left = -at.width / 2;
    else if (dc_.textAlign & TA_RIGHT)
        at.left = -at.width;
    at.ascent = fm.ascent();
    at.descent = fm.descent();
    at.baseline = at.ascent;
    if ((dc_.textAlign & TA_BASELINE) == TA_BASELINE)
        at.baseline = 0;
    else if (dc_.textAlign & TA_BOTTOM)
        at.baseline = -at.descent;
    double angle = -double(dc_.font.escapement) / 10.0;
    if (graphicsMode == GM_ADVANCED && dc_.hasWorld)
        angle += std::atan2(dc_.world.m12(), dc_.world.m11()) * 180 / M_PI;
    at.textToPainter = QTransform().translate(origin.x(), origin.y()).rotate(angle) * toPainter_;
    at.origin = origin;
    at.angle = angle;
    return at;
}

// The record's rectangle: filled with the background colour (ETO_OPAQUE) and clipping the text
// (ETO_CLIPPED). True when it clips.
bool Playback::fillTextBox(const QTransform& xf, quint32 options, const QRectF& rect) {
    if (!(options & (ETO_OPAQUE | ETO_CLIPPED)))
        return false;
    const QRectF deviceRect = xf.mapRect(rect);
    if (!sane(deviceRect))
        return false;
    setPainterTransform(toPainter_);
    if (options & ETO_OPAQUE)
        painter_->fillRect(deviceRect, dc_.bkColor);
    if (!(options & ETO_CLIPPED))
        return false;
    painter_->setClipRect(deviceRect, Qt::IntersectClip);
    return true;
}

// Draws s in one piece, or one piece per character at the advances dx stored in the record.
// Requires the painter's font and pen set.
void Playback::drawTextPieces(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                              double size, const TextPlacement& at) {
    // Text stays text on every target, so that a PDF keeps it searchable. Only absurd sizes are
    // dropped, and glyphs squeezed below half a pixel in some direction: they would not show, and
    // the font engine fails to render them.
    const auto [leastStretch, mostStretch] = stretchRange(at.textToPainter);
    if (size * mostStretch > 1e5 || !(size * leastStretch >= 0.5))
        return;
    if (drawTextOnPixels(s, dx, font, size, at) || drawGlyphRun(s, dx, font, at))
        return;
    setPainterTransform(at.textToPainter);
    // The raster engine renders glyphs as bitmaps unless their area is large, so a glyph stretched
    // long in one direction only still becomes a bitmap, which the font engine can fail to render.
    // Such glyphs are filled as outlines here.
    const bool asOutlines = painter_->paintEngine() &&
                            painter_->paintEngine()->type() == QPaintEngine::Raster &&
                            size * mostStretch > kMaxGlyphBitmap;
    const auto drawPiece = [&](QPointF pos, const QString& piece) {
        if (!asOutlines) {
            painter_->drawText(pos, piece);
            return;
        }
        QPainterPath outline;
        outline.addText(pos, font, piece);
        painter_->fillPath(outline, dc_.textColor);
    };
    if (dx.empty()) {
        drawPiece(QPointF(at.left, at.baseline), s);
        return;
    }
    double x = at.left;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const bool pair = s[i].isHighSurrogate() && i + 1 < s.size();
        drawPiece(QPointF(x, at.baseline), s.mid(i, pair ? 2 : 1));
        x += dx[size_t(i)] * at.advanceScale;
        if (pair)
            x += dx[size_t(++i)] * at.advanceScale;
    }
}

bool Playback::drawTextOnPixels(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                                double size, const TextPlacement& at) {
    if (!raster_)
        return false;
    const QTransform toPixels = at.textToPainter * deviceFromPainter_;
    const double sx = toPixels.m11(), sy = toPixels.m22();
    // Upright text scaled evenly (a page stretched over a box a few pixels off its own shape
    // included); anything else is drawn through the painter's transform.
    if (toPixels.type() > QTransform::TxScale || !(sx > 0) || !(sy > 0) ||
        std::abs(sx / sy - 1) > 0.01 || size * sy > kMaxGlyphBitmap)
        return false;
    // The font is sized for the target's pixels by its logical resolution, which the painter
    // uses to turn points into pixels; a point size keeps the fraction a pixel size would lose.
    QFont pixelFont = font;
    pixelFont.setPointSizeF(size * sy * 72.0 / painter_->device()->logicalDpiY());
    pixelFont.setHintingPreference(QFont::PreferNoHinting);
    pixelFont.setStyleStrategy(
        QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    painter_->setTransform(deviceFromPainter_.inverted());
    painter_->setRenderHint(QPainter::TextAntialiasing, true);
    painter_->setFont(pixelFont);
    if (dx.empty()) {
        painter_->drawText(toPixels.map(QPointF(at.left, at.baseline)), s);
        return true;
    }
    double x = at.left;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const bool pair = s[i].isHighSurrogate() && i + 1 < s.size();
        painter_->drawText(toPixels.map(QPointF(x, at.baseline)), s.mid(i, pair ? 2 : 1));
        x += dx[size_t(i)] * at.advanceScale;
        if (pair)
            x += dx[size_t(++i)] * at.advanceScale;
    }
    return true;
}

bool Playback::drawGlyphRun(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                            const TextPlacement& at) {
    if (raster_ || dx.empty())
        return false;
    const QRawFont& raw = rawFontOf(font);
    if (!raw.isValid())
        return false;
    QList<quint32> glyphs(s.size());
    int count = int(glyphs.size());
    if (!raw.glyphIndexesForChars(s.constData(), int(s.size()), glyphs.data(), &count) ||
        count != s.size())
        return false;
    // A character the font lacks is left to drawText, which finds it in another font.
    if (std::find(glyphs.cbegin(), glyphs.cend(), 0u) != glyphs.cend())
        return false;
    // Upright text is placed in the shapes' coordinates, so that the target's transform stays.
    QPointF shift;
    if (at.angle == 0) {
        setPainterTransform(toPainter_);
        shift = at.origin;
    } else {
        setPainterTransform(at.textToPainter);
    }
    QList<QPointF> positions;
    positions.reserve(s.size());
    double x = at.left;
    for (qint32 advance : dx) {
        positions.append(shift + QPointF(x, at.baseline));
        x += advance * at.advanceScale;
    }
    QGlyphRun run;
    run.setRawFont(raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    run.setUnderline(font.underline());
    run.setStrikeOut(font.strikeOut());
    painter_->drawGlyphRun(QPointF(0, 0), run);
    return true;
}

const QRawFont& Playback::rawFontOf(const QFont& font) {
    for (const auto& [known, raw] : rawFonts_) {
        if (known == font)
            return raw;
    }
    rawFonts_.emplace_back(font, QRawFont::fromFont(font));
    return rawFonts_.back().second;
}

} // namespace lv26::emf
