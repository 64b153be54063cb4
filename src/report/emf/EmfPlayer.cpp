#include "report/emf/EmfPlayer.h"

#include "report/emf/EmfBitmap.h"
#include "report/emf/EmfFormat.h"
#include "report/emf/EmfReader.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <variant>
#include <vector>

namespace lv26 {

using namespace emf;

namespace {

QColor fromColorRef(quint32 c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

struct PenObj {
    quint32 style = PS_SOLID;
    double width = 0; // logical units
    QColor color = Qt::black;
    bool cosmetic = true;  // always one device pixel wide
    bool extended = false; // caps and joins come from the style bits
    std::vector<qreal> dashes;
};

struct BrushObj {
    quint32 style = BS_SOLID;
    QColor color = Qt::white;
    quint32 hatch = 0;
};

struct FontObj {
    qint32 height = -16;
    qint32 escapement = 0;
    qint32 weight = FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QString face = QStringLiteral("MS Sans Serif");
};

using Object = std::variant<std::monostate, PenObj, BrushObj, FontObj>;

struct DcState {
    PenObj pen;
    BrushObj brush;
    FontObj font;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    quint32 bkMode = OPAQUE;
    quint32 textAlign = 0;
    quint32 polyFill = ALTERNATE;
    quint32 mapMode = MM_TEXT;
    QPointF windowOrg;
    QPointF viewportOrg;
    QSizeF windowExt{1, 1};
    QSizeF viewportExt{1, 1};
    QTransform world;
    QPointF position;                 // logical
    std::optional<QPainterPath> clip; // device pixels; none: unclipped
    bool hasWorld = false;
};

constexpr int kMaxSaveDepth = 1024;
constexpr int kMaxObjects = 65536;
constexpr double kMaxCoordinate = 1e7;  // device pixels; anything beyond is not drawn
constexpr double kMaxGlyphBitmap = 256; // pixels: longer glyphs are filled as outlines

bool sane(double v) {
    return std::isfinite(v) && std::abs(v) < kMaxCoordinate;
}
bool sane(const QRectF& r) {
    return sane(r.left()) && sane(r.top()) && sane(r.right()) && sane(r.bottom());
}

// How much `t` stretches lengths at most and at least, in any direction (the singular values
// of its linear part): a shear can flatten a shape while stretching both axes.
std::pair<double, double> stretchRange(const QTransform& t) {
    const double sum = t.m11() * t.m11() + t.m12() * t.m12() + t.m21() * t.m21() +
                       t.m22() * t.m22(); // the sum of the two values squared
    const double product = std::abs(t.m11() * t.m22() - t.m12() * t.m21());
    const double spread = std::sqrt(std::max(0.0, sum * sum - 4 * product * product));
    return {std::sqrt(std::max(0.0, (sum - spread) / 2)), std::sqrt((sum + spread) / 2)};
}

PenObj stockPen(quint32 index) {
    PenObj p;
    if (index == NULL_PEN)
        p.style = PS_NULL;
    else if (index == WHITE_PEN)
        p.color = Qt::white;
    return p;
}

BrushObj stockBrush(quint32 index) {
    static const int grays[] = {255, 192, 128, 64, 0};
    BrushObj b;
    if (index == NULL_BRUSH)
        b.style = BS_NULL;
    else if (index <= BLACK_BRUSH)
        b.color = QColor(grays[index], grays[index], grays[index]);
    return b;
}

class Player {
public:
    Player(const QByteArray& bytes, const EmfHeaderInfo& header, QPainter* painter,
           const QTransform& deviceToPainter)
        : bytes_(bytes), header_(header), painter_(painter), toPainter_(deviceToPainter) {
        if (painter_) {
            callerTransform_ = painter_->transform();
            if (painter_->hasClipping())
                baseClip_ = painter_->clipPath();
        }
        const double umX = header.deviceUm.width() > 0 ? header.deviceUm.width()
                                                       : header.deviceMm.width() * 1000.0;
        const double umY = header.deviceUm.height() > 0 ? header.deviceUm.height()
                                                        : header.deviceMm.height() * 1000.0;
        pxPerMmX_ = header.devicePx.width() * 1000.0 / umX;
        pxPerMmY_ = header.devicePx.height() * 1000.0 / umY;
    }

    void run() {
        forEachRecord(bytes_, header_,
                      [this](quint32 type, const RecordReader& r) { play(type, r); });
    }

private:
    // ---- mapping -------------------------------------------------------------------------
    QTransform pageTransform() const {
        double sx = 1, sy = 1;
        const double mmPerUnit[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
        switch (dc_.mapMode) {
        case MM_LOMETRIC:
        case MM_HIMETRIC:
        case MM_LOENGLISH:
        case MM_HIENGLISH:
        case MM_TWIPS:
            sx = mmPerUnit[dc_.mapMode] * pxPerMmX_;
            sy = -mmPerUnit[dc_.mapMode] * pxPerMmY_;
            break;
        case MM_ISOTROPIC:
        case MM_ANISOTROPIC:
            sx = dc_.viewportExt.width() / dc_.windowExt.width();
            sy = dc_.viewportExt.height() / dc_.windowExt.height();
            if (dc_.mapMode == MM_ISOTROPIC) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default:
            break;
        }
        return QTransform(sx, 0, 0, sy, dc_.viewportOrg.x() - dc_.windowOrg.x() * sx,
                          dc_.viewportOrg.y() - dc_.windowOrg.y() * sy);
    }
    QTransform logicalToDevice() const { return dc_.world * pageTransform(); }
    static double scaleOf(const QTransform& t) { return std::sqrt(std::abs(t.determinant())); }

    // ---- objects -------------------------------------------------------------------------
    Object* slot(quint32 index) {
        if (index == 0 || index >= quint32(kMaxObjects))
            return nullptr;
        if (index >= objects_.size())
            objects_.resize(index + 1);
        return &objects_[index];
    }
    void selectObject(quint32 index) {
        if (index & kStockObject) {
            const quint32 stock = index & ~kStockObject;
            if (stock <= NULL_BRUSH || stock == DC_BRUSH)
                dc_.brush = stockBrush(stock == DC_BRUSH ? WHITE_BRUSH : stock);
            else if ((stock >= WHITE_PEN && stock <= NULL_PEN) || stock == DC_PEN)
                dc_.pen = stockPen(stock == DC_PEN ? BLACK_PEN : stock);
            else if (stock >= 10 && stock <= 17)
                dc_.font = FontObj{};
            return;
        }
        Object* o = slot(index);
        if (!o)
            return;
        if (auto* p = std::get_if<PenObj>(o))
            dc_.pen = *p;
        else if (auto* b = std::get_if<BrushObj>(o))
            dc_.brush = *b;
        else if (auto* f = std::get_if<FontObj>(o))
            dc_.font = *f;
    }
    void createPen(const RecordReader& r) {
        PenObj p;
        p.style = r.u32(12);
        // As a double: the most negative int has no int magnitude.
        p.width = std::abs(double(r.i32(16)));
        p.color = fromColorRef(r.u32(24));
        p.cosmetic = p.width == 0;
        store(r.u32(8), p);
    }
    void extCreatePen(const RecordReader& r) {
        PenObj p;
        p.style = r.u32(28);
        p.width = r.u32(32);
        const quint32 brushStyle = r.u32(36);
        p.color = fromColorRef(r.u32(40));
        const quint32 entries = r.u32(48);
        r.need(52, quint64(entries) * 4);
        p.cosmetic = !(p.style & PS_GEOMETRIC);
        p.extended = true;
        if (brushStyle == BS_NULL)
            p.style = (p.style & ~quint32(PS_STYLE_MASK)) | PS_NULL;
        if ((p.style & PS_STYLE_MASK) == PS_USERSTYLE) {
            for (quint32 i = 0; i < std::min<quint32>(entries, 64); ++i)
                p.dashes.push_back(r.u32(52 + 4 * quint64(i)));
        }
        store(r.u32(8), p);
    }
    void createBrush(const RecordReader& r) {
        BrushObj b;
        b.style = r.u32(12);
        b.color = fromColorRef(r.u32(16));
        b.hatch = r.u32(20);
        store(r.u32(8), b);
    }
    void createFont(const RecordReader& r) {
        FontObj f;
        f.height = r.i32(12);
        f.escapement = r.i32(20);
        f.weight = r.i32(28);
        f.italic = r.u8(32);
        f.underline = r.u8(33);
        f.strikeOut = r.u8(34);
        const uchar* face = r.bytes(40, 64);
        f.face.clear(); // the record's name replaces the default one
        for (int i = 0; i < 32; ++i) {
            const char16_t c = qFromLittleEndian<quint16>(face + 2 * i);
            if (c == 0)
                break;
            f.face.append(QChar(c));
        }
        if (f.face.isEmpty())
            f.face = QStringLiteral("Arial");
        store(r.u32(8), f);
    }
    template <typename T> void store(quint32 index, const T& value) {
        if (Object* o = slot(index))
            *o = value;
    }

    // ---- pens and brushes as Qt sees them (device units) ----------------------------------
    QPen qtPen() const {
        const PenObj& p = dc_.pen;
        const quint32 style = p.style & PS_STYLE_MASK;
        if (style == PS_NULL)
            return Qt::NoPen;
        QPen pen(p.color);
        const double maxWidth = 4 * std::max(header_.framePx().width(), 100.0);
        const double width =
            p.cosmetic ? 1.0 : std::clamp(p.width * scaleOf(logicalToDevice()), 1.0, maxWidth);
        pen.setWidthF(width);
        // Thin lines keep the format's rule that the last point is not drawn.
        Qt::PenCapStyle cap = width <= 1 ? Qt::FlatCap : Qt::RoundCap;
        Qt::PenJoinStyle join = width <= 1 ? Qt::MiterJoin : Qt::RoundJoin;
        if (p.extended && width > 1) {
            const quint32 capBits = p.style & PS_ENDCAP_MASK;
            cap = capBits == PS_ENDCAP_SQUARE ? Qt::SquareCap
                  : capBits == PS_ENDCAP_FLAT ? Qt::FlatCap
                                              : Qt::RoundCap;
            const quint32 joinBits = p.style & PS_JOIN_MASK;
            join = joinBits == PS_JOIN_BEVEL   ? Qt::BevelJoin
                   : joinBits == PS_JOIN_MITER ? Qt::MiterJoin
                                               : Qt::RoundJoin;
        }
        pen.setCapStyle(cap);
        pen.setJoinStyle(join);
        switch (style) {
        case PS_DASH:
            pen.setStyle(Qt::DashLine);
            break;
        case PS_DOT:
            pen.setStyle(Qt::DotLine);
            break;
        case PS_DASHDOT:
            pen.setStyle(Qt::DashDotLine);
            break;
        case PS_DASHDOTDOT:
            pen.setStyle(Qt::DashDotDotLine);
            break;
        case PS_USERSTYLE:
            if (!p.dashes.empty()) {
                QList<qreal> pattern;
                for (qreal v : p.dashes)
                    pattern.append(std::max<qreal>(v, 1) / std::max(p.width, 1.0));
                if (pattern.size() % 2)
                    pattern.append(pattern.back());
                pen.setDashPattern(pattern);
            }
            break;
        default:
            break;
        }
        return pen;
    }
    QBrush qtBrush() const {
        const BrushObj& b = dc_.brush;
        if (b.style == BS_NULL)
            return Qt::NoBrush;
        if (b.style == BS_HATCHED) {
            static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                     Qt::FDiagPattern, Qt::BDiagPattern,
                                                     Qt::CrossPattern, Qt::DiagCrossPattern};
            return QBrush(b.color, b.hatch < 6 ? hatches[b.hatch] : Qt::CrossPattern);
        }
        return QBrush(b.style == BS_SOLID ? b.color : QColor(Qt::gray));
    }

    // ---- painting ------------------------------------------------------------------------
    void applyClip() {
        if (!painter_)
            return;
        painter_->setTransform(callerTransform_);
        if (baseClip_)
            painter_->setClipPath(*baseClip_);
        else
            painter_->setClipping(false);
        if (dc_.clip) {
            painter_->setTransform(toPainter_);
            painter_->setClipPath(*dc_.clip, baseClip_ ? Qt::IntersectClip : Qt::ReplaceClip);
        }
    }
    // Fills and strokes a device-space path, or adds it to the open path bracket.
    void paint(const QPainterPath& device, bool fill, bool stroke) {
        if (inPath_) {
            path_.addPath(device);
            return;
        }
        if (!painter_ || !sane(device.boundingRect()))
            return;
        QPainterPath shape = device;
        shape.setFillRule(dc_.polyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
        if (fill && dc_.brush.style != BS_NULL) {
            painter_->setTransform(toPainter_);
            if (dc_.brush.style == BS_HATCHED && dc_.bkMode == OPAQUE)
                painter_->fillPath(shape, dc_.bkColor);
            painter_->fillPath(shape, qtBrush());
        }
        const QPen pen = qtPen();
        if (stroke && pen.style() != Qt::NoPen) {
            // Pixel centres lie half a pixel inside the pixel's square.
            painter_->setTransform(QTransform::fromTranslate(0.5, 0.5) * toPainter_);
            painter_->strokePath(shape, pen);
        }
    }
    QPainterPath toDevice(const QPainterPath& logical) const {
        return logicalToDevice().map(logical);
    }
    // The box of RECTANGLE, ELLIPSE and ROUNDRECT: without a world transform the right and
    // bottom edges are excluded, one device pixel.
    QPainterPath boxShape(const QRectF& box, int kind, QSizeF corner = {}) const {
        QPainterPath p;
        if (!dc_.hasWorld) {
            QRectF d = pageTransform().mapRect(box);
            d.setRight(d.right() - 1);
            d.setBottom(d.bottom() - 1);
            const QSizeF c(std::abs(corner.width() * pageTransform().m11()),
                           std::abs(corner.height() * pageTransform().m22()));
            addBox(p, d, kind, c);
            return p;
        }
        addBox(p, box, kind, corner);
        return toDevice(p);
    }
    static void addBox(QPainterPath& p, const QRectF& r, int kind, QSizeF corner) {
        if (kind == EMR_ELLIPSE)
            p.addEllipse(r);
        else if (kind == EMR_ROUNDRECT)
            p.addRoundedRect(r, corner.width() / 2, corner.height() / 2);
        else
            p.addRect(r);
    }

    // ---- records -------------------------------------------------------------------------
    std::vector<QPointF> points(const RecordReader& r, quint64 countOffset, bool small) const {
        const quint32 n = r.u32(countOffset);
        const quint64 step = small ? 4 : 8;
        r.need(countOffset + 4, n * step);
        std::vector<QPointF> pts;
        pts.reserve(n);
        for (quint64 i = 0; i < n; ++i) {
            const quint64 off = countOffset + 4 + i * step;
            pts.push_back(small ? r.point16(off) : r.point32(off));
        }
        return pts;
    }
    void poly(quint32 kind, const std::vector<QPointF>& pts) {
        if (pts.empty())
            return;
        QPainterPath p;
        const bool continues = kind == EMR_POLYLINETO || kind == EMR_POLYBEZIERTO;
        p.moveTo(continues ? dc_.position : pts.front());
        size_t first = continues ? 0 : 1;
        if (kind == EMR_POLYBEZIER || kind == EMR_POLYBEZIERTO) {
            for (size_t i = first; i + 2 < pts.size(); i += 3)
                p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        } else {
            for (size_t i = first; i < pts.size(); ++i)
                p.lineTo(pts[i]);
        }
        if (kind == EMR_POLYGON)
            p.closeSubpath();
        if (continues || kind == EMR_POLYLINE || kind == EMR_POLYBEZIER)
            dc_.position = p.currentPosition();
        if (continues && inPath_ && figureOpen_) {
            // Continue the open figure instead of starting a new one.
            QPainterPath dev = toDevice(p);
            for (int i = 1; i < dev.elementCount(); ++i) {
                const auto e = dev.elementAt(i);
                if (e.type == QPainterPath::CurveToElement && i + 2 < dev.elementCount()) {
                    path_.cubicTo(e, dev.elementAt(i + 1), dev.elementAt(i + 2));
                    i += 2;
                } else {
                    path_.lineTo(e);
                }
            }
            return;
        }
        figureOpen_ = kind != EMR_POLYGON;
        paint(toDevice(p), kind == EMR_POLYGON, true);
    }
    void polyPoly(const RecordReader& r, bool polygon, bool small) {
        const quint32 polys = r.u32(24);
        const quint32 total = r.u32(28);
        r.need(32, quint64(polys) * 4);
        const quint64 ptsOffset = 32 + quint64(polys) * 4;
        r.need(ptsOffset, quint64(total) * (small ? 4 : 8));
        QPainterPath p;
        quint64 next = 0;
        for (quint32 i = 0; i < polys; ++i) {
            const quint32 count = r.u32(32 + 4 * quint64(i));
            if (next + count > total)
                throw MalformedRecord{};
            for (quint32 k = 0; k < count; ++k) {
                const quint64 off = ptsOffset + (next + k) * (small ? 4 : 8);
                const QPointF pt = small ? r.point16(off) : r.point32(off);
                k == 0 ? p.moveTo(pt) : p.lineTo(pt);
            }
            if (polygon && count > 0)
                p.closeSubpath();
            next += count;
        }
        paint(toDevice(p), polygon, true);
    }
    void polyDraw(const RecordReader& r, bool small) {
        const quint32 n = r.u32(24);
        const quint64 step = small ? 4 : 8;
        r.need(28, quint64(n) * (step + 1));
        QPainterPath p;
        p.moveTo(dc_.position);
        for (quint64 i = 0; i < n; ++i) {
            const QPointF pt = small ? r.point16(28 + i * step) : r.point32(28 + i * step);
            const quint8 t = r.u8(28 + quint64(n) * step + i);
            if ((t & PT_MOVETO) == PT_MOVETO) {
                p.moveTo(pt);
            } else if ((t & PT_BEZIERTO) && i + 2 < n) {
                p.cubicTo(pt,
                          small ? r.point16(28 + (i + 1) * step) : r.point32(28 + (i + 1) * step),
                          small ? r.point16(28 + (i + 2) * step) : r.point32(28 + (i + 2) * step));
                i += 2;
            } else {
                p.lineTo(pt);
            }
            if (t & PT_CLOSEFIGURE)
                p.closeSubpath();
        }
        dc_.position = p.currentPosition();
        paint(toDevice(p), false, true);
    }
    void lineTo(QPointF to) {
        const QTransform xf = logicalToDevice();
        if (inPath_) {
            if (!figureOpen_)
                path_.moveTo(xf.map(dc_.position));
            path_.lineTo(xf.map(to));
            figureOpen_ = true;
        } else {
            QPainterPath p;
            p.moveTo(dc_.position);
            p.lineTo(to);
            paint(toDevice(p), false, true);
        }
        dc_.position = to;
    }
    void arc(const RecordReader& r, quint32 kind) {
        const QRectF box = r.box(8);
        const QPointF start = r.point32(24), end = r.point32(32);
        const QPointF c = box.center();
        // Angles counterclockwise in the logical y-down sense, as the format draws them.
        const double a0 = std::atan2(-(start.y() - c.y()), start.x() - c.x()) * 180 / M_PI;
        double a1 = std::atan2(-(end.y() - c.y()), end.x() - c.x()) * 180 / M_PI;
        double sweep = a1 - a0;
        if (sweep <= 0)
            sweep += 360;
        QPainterPath p;
        if (kind == EMR_PIE)
            p.moveTo(c);
        else
            p.arcMoveTo(box, a0);
        p.arcTo(box, a0, sweep);
        if (kind != EMR_ARC)
            p.closeSubpath();
        paint(toDevice(p), kind != EMR_ARC, true);
    }
    void text(const RecordReader& r, bool wide) {
        const quint32 graphicsMode = r.u32(24);
        const QPointF ref = r.point32(36);
        const quint32 count = r.u32(44);
        const quint32 offString = r.u32(48);
        const quint32 options = r.u32(52);
        const QRectF rect = r.box(56);
        const quint32 offDx = r.u32(72);
        const uchar* chars = r.bytes(offString, quint64(count) * (wide ? 2 : 1));
        const bool pdy = options & ETO_PDY;
        std::vector<qint32> dx;
        if (offDx != 0 && count > 0) {
            r.need(offDx, quint64(count) * 4 * (pdy ? 2 : 1));
            dx.resize(count);
            for (quint64 i = 0; i < count; ++i)
                dx[i] = r.i32(offDx + i * 4 * (pdy ? 2 : 1));
        }
        QString s;
        s.reserve(count);
        for (quint32 i = 0; i < count; ++i)
            s.append(wide ? QChar(qFromLittleEndian<quint16>(chars + 2 * i)) : QChar(chars[i]));
        drawText(ref, s, dx, options, rect, graphicsMode);
    }
    void smallText(const RecordReader& r) {
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
        QString s;
        for (quint32 i = 0; i < count; ++i)
            s.append(narrow ? QChar(chars[i]) : QChar(qFromLittleEndian<quint16>(chars + 2 * i)));
        drawText(ref, s, {}, options & ~quint32(ETO_NO_RECT), rect, graphicsMode);
    }
    QFont qtFont(double pixelSize) const {
        const FontObj& f = dc_.font;
        QFont font(f.face);
        font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
        font.setWeight(
            QFont::Weight(std::clamp(f.weight == 0 ? int(FW_NORMAL) : f.weight, 100, 900)));
        font.setItalic(f.italic);
        font.setUnderline(f.underline);
        font.setStrikeOut(f.strikeOut);
        font.setKerning(false);
        return font;
    }
    void drawText(QPointF ref, const QString& s, const std::vector<qint32>& dx, quint32 options,
                  const QRectF& rect, quint32 graphicsMode) {
        if (dc_.textAlign & TA_UPDATECP)
            ref = dc_.position;
        qint64 advance = 0;
        for (qint32 v : dx)
            advance += v;
        if (dc_.textAlign & TA_UPDATECP) {
            // The current position moves along the text in the direction of its alignment.
            const quint32 h = dc_.textAlign & TA_CENTER;
            if (h == TA_RIGHT)
                dc_.position.rx() -= advance;
            else if (h != TA_CENTER)
                dc_.position.rx() += advance;
        }
        if (!painter_ || (options & ETO_GLYPH_INDEX))
            return;
        const QTransform xf = logicalToDevice();
        const QPointF origin = xf.map(ref);
        const double sx = std::hypot(xf.m11(), xf.m12());
        const double sy = std::hypot(xf.m21(), xf.m22());
        const double maxSize =
            2 * std::max({header_.framePx().width(), header_.framePx().height(), 100.0});
        double size = std::abs(double(dc_.font.height)) * sy;
        if (dc_.font.height > 0) { // cell height: convert to the em size
            QFontMetricsF fm(qtFont(1000));
            size = size * 1000 / std::max(1.0, fm.ascent() + fm.descent());
        } else if (dc_.font.height == 0) {
            size = 16 * sy;
        }
        if (!sane(origin.x()) || !sane(origin.y()) || !(size >= 0.5) || size > maxSize)
            return;
        const QFont font = qtFont(size);
        const QFontMetricsF fm(font);
        double width = dx.empty() ? fm.horizontalAdvance(s) : advance * sx;
        double left = 0;
        if ((dc_.textAlign & TA_CENTER) == TA_CENTER)
            left = -width / 2;
        else if (dc_.textAlign & TA_RIGHT)
            left = -width;
        double baseline = fm.ascent();
        if ((dc_.textAlign & TA_BASELINE) == TA_BASELINE)
            baseline = 0;
        else if (dc_.textAlign & TA_BOTTOM)
            baseline = -fm.descent();
        double angle = -double(dc_.font.escapement) / 10.0;
        if (graphicsMode == GM_ADVANCED && dc_.hasWorld)
            angle += std::atan2(dc_.world.m12(), dc_.world.m11()) * 180 / M_PI;

        const QTransform textToPainter =
            QTransform().translate(origin.x(), origin.y()).rotate(angle) * toPainter_;
        painter_->save();
        painter_->setTransform(toPainter_);
        const QRectF deviceRect = xf.mapRect(rect);
        if ((options & ETO_OPAQUE) && sane(deviceRect))
            painter_->fillRect(deviceRect, dc_.bkColor);
        if ((options & ETO_CLIPPED) && sane(deviceRect))
            painter_->setClipRect(deviceRect, Qt::IntersectClip);
        painter_->setTransform(textToPainter);
        if (dc_.bkMode == OPAQUE)
            painter_->fillRect(
                QRectF(left, baseline - fm.ascent(), width, fm.ascent() + fm.descent()),
                dc_.bkColor);
        painter_->setFont(font);
        painter_->setPen(dc_.textColor);
        // Text stays text on every target, so that a PDF keeps it searchable. Only absurd
        // sizes are dropped, and glyphs squeezed below half a pixel in some direction: they
        // would not show, and the font engine fails to render them.
        const auto [leastStretch, mostStretch] = stretchRange(textToPainter);
        if (size * mostStretch > 1e5 || !(size * leastStretch >= 0.5)) {
            painter_->restore();
            return;
        }
        // The raster engine renders glyphs as bitmaps unless their area is large, so a glyph
        // stretched long in one direction only still becomes a bitmap, which the font engine
        // can fail to render. Such glyphs are filled as outlines here.
        const bool asOutlines = painter_->paintEngine() &&
                                painter_->paintEngine()->type() == QPaintEngine::Raster &&
                                size * mostStretch > kMaxGlyphBitmap;
        const auto drawPiece = [&](QPointF at, const QString& piece) {
            if (!asOutlines) {
                painter_->drawText(at, piece);
                return;
            }
            QPainterPath outline;
            outline.addText(at, font, piece);
            painter_->fillPath(outline, dc_.textColor);
        };
        if (dx.empty()) {
            drawPiece(QPointF(left, baseline), s);
        } else {
            // One piece per character, at the advances stored in the record.
            double x = left;
            for (qsizetype i = 0; i < s.size(); ++i) {
                const bool pair = s[i].isHighSurrogate() && i + 1 < s.size();
                drawPiece(QPointF(x, baseline), s.mid(i, pair ? 2 : 1));
                x += dx[size_t(i)] * sx;
                if (pair)
                    x += dx[size_t(++i)] * sx;
            }
        }
        painter_->restore();
    }
    void bitBlt(const RecordReader& r) {
        const QRectF dest(r.i32(24), r.i32(28), r.i32(32), r.i32(36));
        const quint32 rop = r.u32(40);
        const quint32 cbBmi = r.u32(88);
        if (cbBmi != 0)
            return; // bitmaps are not drawn
        QPainterPath p;
        p.addRect(dest);
        const BrushObj saved = dc_.brush;
        if (rop == 0x00000042)
            dc_.brush = stockBrush(BLACK_BRUSH);
        else if (rop == 0x00FF0062)
            dc_.brush = stockBrush(WHITE_BRUSH);
        else if (rop != 0x00F00021)
            return;
        const bool wasInPath = inPath_;
        inPath_ = false;
        paint(toDevice(p), true, false);
        inPath_ = wasInPath;
        dc_.brush = saved;
    }
    void stretchDiBits(const RecordReader& r);

    // Clipping only matters for drawing: the validating pass skips the path arithmetic.
    void combineClip(QPainterPath rgn, quint32 mode) {
        if (!painter_)
            return;
        QPainterPath current;
        if (dc_.clip) {
            current = *dc_.clip;
        } else {
            current.addRect(
                QRectF(-kMaxCoordinate, -kMaxCoordinate, 2 * kMaxCoordinate, 2 * kMaxCoordinate));
        }
        // Path arithmetic grows with the product of the sizes: keep pathological regions
        // to their bounding boxes.
        constexpr int kMaxElements = 4000;
        for (QPainterPath* p : {&current, &rgn}) {
            if (p->elementCount() > kMaxElements) {
                const QRectF box = p->boundingRect();
                *p = QPainterPath();
                p->addRect(box);
            }
        }
        switch (mode) {
        case RGN_AND:
            dc_.clip = current.intersected(rgn);
            break;
        case RGN_OR:
            dc_.clip = current.united(rgn);
            break;
        case RGN_XOR:
            dc_.clip = current.united(rgn).subtracted(current.intersected(rgn));
            break;
        case RGN_DIFF:
            dc_.clip = current.subtracted(rgn);
            break;
        case RGN_COPY:
            dc_.clip = rgn;
            break;
        default:
            return;
        }
        applyClip();
    }
    QPainterPath deviceRegion(const QRectF& logicalBox) const {
        const QRectF d = logicalToDevice().mapRect(logicalBox);
        QPainterPath p;
        if (sane(d)) // whole pixels, as the format's regions are
            p.addRect(QRectF(QPointF(std::round(d.left()), std::round(d.top())),
                             QPointF(std::round(d.right()), std::round(d.bottom()))));
        return p;
    }
    void extSelectClipRgn(const RecordReader& r) {
        const quint32 cb = r.u32(8);
        const quint32 mode = r.u32(12);
        if (cb == 0) {
            if (mode == RGN_COPY) {
                dc_.clip.reset();
                applyClip();
            }
            return;
        }
        r.need(16, cb);
        const quint32 count = r.u32(16 + 8);
        r.need(16 + 32, quint64(count) * 16);
        if (quint64(count) * 16 + 32 > cb)
            throw MalformedRecord{};
        QPainterPath rgn;
        rgn.setFillRule(Qt::WindingFill); // overlapping rectangles add up
        for (quint64 i = 0; i < count && painter_; ++i) {
            const quint64 off = 48 + i * 16;
            const qint64 l = r.i32(off), t = r.i32(off + 4), rr = r.i32(off + 8),
                         b = r.i32(off + 12);
            if (rr > l && b > t && sane(l) && sane(t) && sane(rr) && sane(b))
                rgn.addRect(QRectF(l, t, rr - l, b - t));
        }
        combineClip(rgn, mode);
    }

    bool setWorld(const RecordReader& r, quint64 off, QTransform& out) const {
        float v[6];
        for (int i = 0; i < 6; ++i) {
            v[i] = r.f32(off + 4 * quint64(i));
            if (!std::isfinite(v[i]) || std::abs(v[i]) > 1e9f)
                return false;
        }
        out = QTransform(v[0], v[1], v[2], v[3], v[4], v[5]);
        return std::isnormal(out.determinant());
    }
    static bool validExtent(double w, double h) {
        return w != 0 && h != 0 && std::isfinite(w) && std::isfinite(h);
    }

    void play(quint32 type, const RecordReader& r) {
        switch (type) {
        case EMR_POLYBEZIER:
        case EMR_POLYGON:
        case EMR_POLYLINE:
        case EMR_POLYBEZIERTO:
        case EMR_POLYLINETO:
            poly(type, points(r, 24, false));
            break;
        case EMR_POLYBEZIER16:
        case EMR_POLYGON16:
        case EMR_POLYLINE16:
        case EMR_POLYBEZIERTO16:
        case EMR_POLYLINETO16:
            poly(type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER), points(r, 24, true));
            break;
        case EMR_POLYPOLYLINE:
        case EMR_POLYPOLYGON:
            polyPoly(r, type == EMR_POLYPOLYGON, false);
            break;
        case EMR_POLYPOLYLINE16:
        case EMR_POLYPOLYGON16:
            polyPoly(r, type == EMR_POLYPOLYGON16, true);
            break;
        case EMR_POLYDRAW:
        case EMR_POLYDRAW16:
            polyDraw(r, type == EMR_POLYDRAW16);
            break;
        case EMR_SETWINDOWEXTEX:
        case EMR_SETVIEWPORTEXTEX: {
            const QSizeF ext(r.i32(8), r.i32(12));
            if (validExtent(ext.width(), ext.height()))
                (type == EMR_SETWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt) = ext;
            break;
        }
        case EMR_SCALEVIEWPORTEXTEX:
        case EMR_SCALEWINDOWEXTEX: {
            const double xn = r.i32(8), xd = r.i32(12), yn = r.i32(16), yd = r.i32(20);
            QSizeF& ext = type == EMR_SCALEWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt;
            if (xd != 0 && yd != 0) {
                const QSizeF scaled(ext.width() * xn / xd, ext.height() * yn / yd);
                if (validExtent(scaled.width(), scaled.height()))
                    ext = scaled;
            }
            break;
        }
        case EMR_SETWINDOWORGEX:
            dc_.windowOrg = r.point32(8);
            break;
        case EMR_SETVIEWPORTORGEX:
            dc_.viewportOrg = r.point32(8);
            break;
        case EMR_SETMAPMODE: {
            const quint32 mode = r.u32(8);
            if (mode >= MM_TEXT && mode <= MM_ANISOTROPIC)
                dc_.mapMode = mode;
            break;
        }
        case EMR_SETBKMODE:
            dc_.bkMode = r.u32(8);
            break;
        case EMR_SETPOLYFILLMODE:
            dc_.polyFill = r.u32(8);
            break;
        case EMR_SETTEXTALIGN:
            dc_.textAlign = r.u32(8);
            break;
        case EMR_SETTEXTCOLOR:
            dc_.textColor = fromColorRef(r.u32(8));
            break;
        case EMR_SETBKCOLOR:
            dc_.bkColor = fromColorRef(r.u32(8));
            break;
        case EMR_MOVETOEX:
            dc_.position = r.point32(8);
            if (inPath_)
                path_.moveTo(logicalToDevice().map(dc_.position));
            figureOpen_ = inPath_;
            break;
        case EMR_LINETO:
            lineTo(r.point32(8));
            break;
        case EMR_INTERSECTCLIPRECT:
            combineClip(deviceRegion(r.box(8)), RGN_AND);
            break;
        case EMR_EXCLUDECLIPRECT:
            combineClip(deviceRegion(r.box(8)), RGN_DIFF);
            break;
        case EMR_EXTSELECTCLIPRGN:
            extSelectClipRgn(r);
            break;
        case EMR_SAVEDC:
            if (saved_.size() < size_t(kMaxSaveDepth))
                saved_.push_back(dc_);
            break;
        case EMR_RESTOREDC: {
            const qint32 rel = r.i32(8);
            if (rel < 0 && quint64(-qint64(rel)) <= saved_.size()) {
                saved_.resize(saved_.size() - size_t(-qint64(rel)) + 1);
                dc_ = saved_.back();
                saved_.pop_back();
                applyClip();
            }
            break;
        }
        case EMR_SETWORLDTRANSFORM: {
            QTransform t;
            if (setWorld(r, 8, t)) {
                dc_.world = t;
                dc_.hasWorld = !t.isIdentity();
            }
            break;
        }
        case EMR_MODIFYWORLDTRANSFORM: {
            QTransform t;
            const bool ok = setWorld(r, 8, t);
            const quint32 mode = r.u32(32);
            if (mode == MWT_IDENTITY)
                dc_.world = QTransform();
            else if (ok && mode == MWT_LEFTMULTIPLY)
                dc_.world = t * dc_.world;
            else if (ok && mode == MWT_RIGHTMULTIPLY)
                dc_.world = dc_.world * t;
            else if (ok && mode == MWT_SET)
                dc_.world = t;
            if (!std::isnormal(dc_.world.determinant()))
                dc_.world = QTransform();
            dc_.hasWorld = !dc_.world.isIdentity();
            break;
        }
        case EMR_SELECTOBJECT:
            selectObject(r.u32(8));
            break;
        case EMR_DELETEOBJECT:
            if (Object* o = slot(r.u32(8)))
                *o = std::monostate{};
            break;
        case EMR_CREATEPEN:
            r.need(0, 28);
            createPen(r);
            break;
        case EMR_EXTCREATEPEN:
            extCreatePen(r);
            break;
        case EMR_CREATEBRUSHINDIRECT:
            r.need(0, 24);
            createBrush(r);
            break;
        case EMR_CREATEMONOBRUSH:
        case EMR_CREATEDIBPATTERNBRUSHPT: {
            BrushObj b;
            b.style = 3; // a pattern: drawn as a plain grey
            store(r.u32(8), b);
            break;
        }
        case EMR_EXTCREATEFONTINDIRECTW:
            r.need(0, 12 + kLogFontSize);
            createFont(r);
            break;
        case EMR_RECTANGLE:
        case EMR_ELLIPSE:
            paint(boxShape(r.box(8), int(type)), true, true);
            break;
        case EMR_ROUNDRECT:
            paint(boxShape(r.box(8), int(type), QSizeF(r.i32(24), r.i32(28))), true, true);
            break;
        case EMR_ARC:
        case EMR_CHORD:
        case EMR_PIE:
            arc(r, type);
            break;
        case EMR_BEGINPATH:
            inPath_ = true;
            figureOpen_ = false;
            path_ = QPainterPath();
            break;
        case EMR_ENDPATH:
            inPath_ = false;
            break;
        case EMR_ABORTPATH:
            inPath_ = false;
            path_ = QPainterPath();
            break;
        case EMR_CLOSEFIGURE:
            if (inPath_) {
                path_.closeSubpath();
                figureOpen_ = false;
            }
            break;
        case EMR_FILLPATH:
        case EMR_STROKEPATH:
        case EMR_STROKEANDFILLPATH: {
            inPath_ = false;
            const QPainterPath p = path_;
            path_ = QPainterPath();
            paint(p, type != EMR_STROKEPATH, type != EMR_FILLPATH);
            break;
        }
        case EMR_SELECTCLIPPATH: {
            const quint32 mode = r.u32(8);
            inPath_ = false;
            QPainterPath rgn;
            if (sane(path_.boundingRect())) {
                rgn = path_;
                rgn.setFillRule(dc_.polyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
            }
            path_ = QPainterPath();
            combineClip(rgn, mode);
            break;
        }
        case EMR_BITBLT:
            r.need(0, 100);
            bitBlt(r);
            break;
        case EMR_STRETCHDIBITS:
            stretchDiBits(r);
            break;
        case EMR_EXTTEXTOUTA:
        case EMR_EXTTEXTOUTW:
            text(r, type == EMR_EXTTEXTOUTW);
            break;
        case EMR_SMALLTEXTOUT:
            smallText(r);
            break;
        default:
            break; // not drawn
        }
    }

    const QByteArray& bytes_;
    const EmfHeaderInfo& header_;
    QPainter* painter_;
    QTransform toPainter_;
    QTransform callerTransform_;
    std::optional<QPainterPath> baseClip_;
    double pxPerMmX_ = 1;
    double pxPerMmY_ = 1;
    DcState dc_;
    std::vector<DcState> saved_;
    std::vector<Object> objects_;
    QPainterPath path_; // device space
    bool inPath_ = false;
    bool figureOpen_ = false;
};

void Player::stretchDiBits(const RecordReader& r) {
    r.need(0, 80);
    const QRectF dest(r.i32(24), r.i32(28), r.i32(72), r.i32(76));
    const QRectF source(r.i32(32), r.i32(36), r.i32(40), r.i32(44));
    const QImage image = decodeDib(r, {r.u32(48), r.u32(52), r.u32(56), r.u32(60)});
    if (image.isNull() || !painter_ || inPath_)
        return;
    const QTransform xf = logicalToDevice();
    const QRectF device = xf.mapRect(dest);
    if (!sane(device))
        return;
    // A negative destination size mirrors the picture.
    const QImage shown = image.mirrored(dest.width() < 0, dest.height() < 0);
    painter_->save();
    painter_->setTransform(xf * toPainter_);
    painter_->drawImage(dest.normalized(), shown, source.isValid() ? source : QRectF(shown.rect()));
    painter_->restore();
}

} // namespace

void validateEmf(const QByteArray& bytes) {
    const EmfHeaderInfo header = readFramedMetafile(bytes);
    try {
        Player(bytes, header, nullptr, QTransform()).run();
    } catch (const MalformedRecord&) {
        throw EMetafileError();
    }
}

void playEmf(const QByteArray& bytes, QPainter& painter, const QRectF& target) {
    validateEmf(bytes);
    const EmfHeaderInfo header = *readEmfHeader(bytes);
    QRectF source = header.framePx();
    if (!(source.width() > 0 && source.height() > 0)) {
        const EmfRect& b = header.bounds;
        source = QRectF(b.left, b.top, double(b.right) - b.left + 1, double(b.bottom) - b.top + 1);
    }
    if (!(source.width() > 0 && source.height() > 0) || target.isEmpty() || !sane(source))
        return;
    const QTransform deviceToTarget =
        QTransform::fromTranslate(-source.left(), -source.top()) *
        QTransform::fromScale(target.width() / source.width(), target.height() / source.height()) *
        QTransform::fromTranslate(target.left(), target.top());
    painter.save();
    try {
        Player(bytes, header, &painter, deviceToTarget * painter.transform()).run();
    } catch (const MalformedRecord&) {
        // Validated above; a record cannot become malformed between the two passes.
    }
    painter.restore();
}

} // namespace lv26
