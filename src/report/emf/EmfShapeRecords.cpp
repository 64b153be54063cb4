// Shapes and paths: polygons, polylines and Béziers, lines, boxes, arcs and the path bracket.

#include "report/emf/EmfPlayback.h"

#include <cmath>

namespace lv26::emf {

namespace {

void addBox(QPainterPath& p, const QRectF& r, quint32 kind, QSizeF corner) {
    if (kind == EMR_ELLIPSE)
        p.addEllipse(r);
    else if (kind == EMR_ROUNDRECT)
        p.addRoundedRect(r, corner.width() / 2, corner.height() / 2);
    else
        p.addRect(r);
}

} // namespace

bool Playback::playShapeRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
        poly(type, points(r, 24, false));
        return true;
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
        poly(type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER), points(r, 24, true));
        return true;
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
        polyPoly(r, type == EMR_POLYPOLYGON, false);
        return true;
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16:
        polyPoly(r, type == EMR_POLYPOLYGON16, true);
        return true;
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16:
        polyDraw(r, type == EMR_POLYDRAW16);
        return true;
    case EMR_MOVETOEX:
        moveTo(r.point32(8));
        return true;
    case EMR_LINETO:
        lineTo(r.point32(8));
        return true;
    case EMR_RECTANGLE:
    case EMR_ELLIPSE:
        paint(boxShape(r.box(8), type), true, true);
        return true;
    case EMR_ROUNDRECT:
        paint(boxShape(r.box(8), type, QSizeF(r.i32(24), r.i32(28))), true, true);
        return true;
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE:
        arc(r, type);
        return true;
    default:
        return false;
    }
}

bool Playback::playPathRecord(quint32 type, const RecordReader&) {
    switch (type) {
    case EMR_BEGINPATH:
        inPath_ = true;
        figureOpen_ = false;
        path_ = QPainterPath();
        return true;
    case EMR_ENDPATH:
        inPath_ = false;
        return true;
    case EMR_ABORTPATH:
        inPath_ = false;
        path_ = QPainterPath();
        return true;
    case EMR_CLOSEFIGURE:
        if (inPath_) {
            path_.closeSubpath();
            figureOpen_ = false;
        }
        return true;
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH:
        endPath(type);
        return true;
    default:
        return false;
    }
}

// Fills and/or strokes the path bracket, which ends it.
void Playback::endPath(quint32 type) {
    inPath_ = false;
    const QPainterPath p = path_;
    path_ = QPainterPath();
    paint(p, type != EMR_STROKEPATH, type != EMR_FILLPATH);
}

std::vector<QPointF> Playback::points(const RecordReader& r, quint64 countOffset,
                                      bool small) const {
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

void Playback::poly(quint32 kind, const std::vector<QPointF>& pts) {
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
        continueFigure(p);
        return;
    }
    figureOpen_ = kind != EMR_POLYGON;
    paint(toDevice(p), kind == EMR_POLYGON, true);
}

// Adds the segments of logical, which starts at the current position, to the open figure of the
// path bracket instead of starting a new one.
void Playback::continueFigure(const QPainterPath& logical) {
    QPainterPath dev = toDevice(logical);
    for (int i = 1; i < dev.elementCount(); ++i) {
        const auto e = dev.elementAt(i);
        if (e.type == QPainterPath::CurveToElement && i + 2 < dev.elementCount()) {
            path_.cubicTo(e, dev.elementAt(i + 1), dev.elementAt(i + 2));
            i += 2;
        } else {
            path_.lineTo(e);
        }
    }
}

void Playback::polyPoly(const RecordReader& r, bool polygon, bool small) {
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

void Playback::polyDraw(const RecordReader& r, bool small) {
    const quint32 n = r.u32(24);
    const quint64 step = small ? 4 : 8;
    r.need(28, quint64(n) * (step + 1));
    const auto pointAt = [&](quint64 i) {
        return small ? r.point16(28 + i * step) : r.point32(28 + i * step);
    };
    QPainterPath p;
    p.moveTo(dc_.position);
    for (quint64 i = 0; i < n; ++i) {
        const QPointF pt = pointAt(i);
        const quint8 t = r.u8(28 + quint64(n) * step + i);
        if ((t & PT_MOVETO) == PT_MOVETO) {
            p.moveTo(pt);
        } else if ((t & PT_BEZIERTO) && i + 2 < n) {
            p.cubicTo(pt, pointAt(i + 1), pointAt(i + 2));
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

void Playback::moveTo(QPointF to) {
    dc_.position = to;
    if (inPath_)
        path_.moveTo(logicalToDevice().map(dc_.position));
    figureOpen_ = inPath_;
}

void Playback::lineTo(QPointF to) {
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

void Playback::arc(const RecordReader& r, quint32 kind) {
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

// The box of RECTANGLE, ELLIPSE and ROUNDRECT: without a world transform the right and bottom edges
// are excluded, one device pixel.
QPainterPath Playback::boxShape(const QRectF& box, quint32 kind, QSizeF corner) const {
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

} // namespace lv26::emf
