#include "report/emf/EmfObjects.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace lv26::emf {

QColor fromColorRef(quint32 c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
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

PenObj readPen(const RecordReader& r) {
    r.need(0, 28);
    PenObj p;
    p.style = r.u32(12);
    // As a double: the most negative int has no int magnitude.
    p.width = std::abs(double(r.i32(16)));
    p.color = fromColorRef(r.u32(24));
    p.cosmetic = p.width == 0;
    return p;
}

PenObj readExtPen(const RecordReader& r) {
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
    return p;
}

BrushObj readBrush(const RecordReader& r) {
    r.need(0, 24);
    BrushObj b;
    b.style = r.u32(12);
    b.color = fromColorRef(r.u32(16));
    b.hatch = r.u32(20);
    return b;
}

FontObj readFont(const RecordReader& r) {
    r.need(0, 12 + kLogFontSize);
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
    return f;
}

namespace {

// Caps and joins: thin lines keep the format's rule that the last point is not drawn; extended pens
// wider than a pixel take theirs from the style bits.
void setCapAndJoin(QPen& pen, const PenObj& p, double width) {
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
}

void setDashes(QPen& pen, const PenObj& p) {
    switch (p.style & PS_STYLE_MASK) {
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
}

} // namespace

QPen toQtPen(const PenObj& p, double width) {
    if ((p.style & PS_STYLE_MASK) == PS_NULL)
        return Qt::NoPen;
    QPen pen(p.color);
    pen.setWidthF(width);
    setCapAndJoin(pen, p, width);
    setDashes(pen, p);
    return pen;
}

QBrush toQtBrush(const BrushObj& b) {
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

QFont toQtFont(const FontObj& f, double pixelSize) {
    QFont font(f.face);
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    font.setWeight(QFont::Weight(std::clamp(f.weight == 0 ? int(FW_NORMAL) : f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setKerning(false);
    return font;
}

Object* ObjectTable::slot(quint32 index) {
    if (index == 0 || index >= kMaxObjects)
        return nullptr;
    if (index >= objects_.size())
        objects_.resize(index + 1);
    return &objects_[index];
}

void ObjectTable::store(quint32 index, const Object& value) {
    if (Object* o = slot(index))
        *o = value;
}

} // namespace lv26::emf
