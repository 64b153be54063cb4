// Clipping records: clip rectangles, regions and the clip path.

#include "report/emf/EmfPlayback.h"

#include <cmath>

namespace lv26::emf {

namespace {

// Path arithmetic grows with the product of the sizes: pathological regions are kept to their
// bounding boxes.
constexpr int kMaxRegionElements = 4000;

void limitComplexity(QPainterPath& region) {
    if (region.elementCount() > kMaxRegionElements) {
        const QRectF box = region.boundingRect();
        region = QPainterPath();
        region.addRect(box);
    }
}

} // namespace

bool Playback::playClipRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_INTERSECTCLIPRECT:
        combineClip(deviceRegion(r.box(8)), RGN_AND);
        return true;
    case EMR_EXCLUDECLIPRECT:
        combineClip(deviceRegion(r.box(8)), RGN_DIFF);
        return true;
    case EMR_EXTSELECTCLIPRGN:
        extSelectClipRgn(r);
        return true;
    case EMR_SELECTCLIPPATH:
        selectClipPath(r.u32(8));
        return true;
    default:
        return false;
    }
}

// Clipping only matters for drawing: the validating pass skips the path arithmetic.
void Playback::combineClip(QPainterPath rgn, quint32 mode) {
    if (!painter_)
        return;
    QPainterPath current;
    if (dc_.clip) {
        current = *dc_.clip;
    } else {
        current.addRect(
            QRectF(-kMaxCoordinate, -kMaxCoordinate, 2 * kMaxCoordinate, 2 * kMaxCoordinate));
    }
    limitComplexity(current);
    limitComplexity(rgn);
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

QPainterPath Playback::deviceRegion(const QRectF& logicalBox) const {
    const QRectF d = logicalToDevice().mapRect(logicalBox);
    QPainterPath p;
    if (sane(d)) // whole pixels, as the format's regions are
        p.addRect(QRectF(QPointF(std::round(d.left()), std::round(d.top())),
                         QPointF(std::round(d.right()), std::round(d.bottom()))));
    return p;
}

void Playback::extSelectClipRgn(const RecordReader& r) {
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
        const qint64 l = r.i32(off), t = r.i32(off + 4), rr = r.i32(off + 8), b = r.i32(off + 12);
        if (rr > l && b > t && sane(l) && sane(t) && sane(rr) && sane(b))
            rgn.addRect(QRectF(l, t, rr - l, b - t));
    }
    combineClip(rgn, mode);
}

// Ends the path bracket and combines its path, filled by the current fill mode, with the clip.
void Playback::selectClipPath(quint32 mode) {
    inPath_ = false;
    QPainterPath rgn;
    if (sane(path_.boundingRect())) {
        rgn = path_;
        rgn.setFillRule(fillRule(dc_));
    }
    path_ = QPainterPath();
    combineClip(rgn, mode);
}

} // namespace lv26::emf
