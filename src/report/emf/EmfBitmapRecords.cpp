// Bitmap records: STRETCHDIBITS, and BITBLT without a bitmap (pattern, black and white fills).

#include "report/emf/EmfBitmap.h"
#include "report/emf/EmfPlayback.h"

#include <QPainter>

namespace lv26::emf {

namespace {

// Raster operations of a BITBLT without a source bitmap that are drawn.
constexpr quint32 kRopBlackness = 0x00000042;
constexpr quint32 kRopWhiteness = 0x00FF0062;
constexpr quint32 kRopPatCopy = 0x00F00021;

} // namespace

bool Playback::playBitmapRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_BITBLT:
        r.need(0, 100);
        bitBlt(r);
        return true;
    case EMR_STRETCHDIBITS:
        stretchDiBits(r);
        return true;
    default:
        return false;
    }
}

void Playback::bitBlt(const RecordReader& r) {
    const QRectF dest(r.i32(24), r.i32(28), r.i32(32), r.i32(36));
    const quint32 rop = r.u32(40);
    const quint32 cbBmi = r.u32(88);
    if (cbBmi != 0)
        return; // bitmaps are not drawn
    QPainterPath p;
    p.addRect(dest);
    const BrushObj saved = dc_.brush;
    if (rop == kRopBlackness)
        dc_.brush = stockBrush(BLACK_BRUSH);
    else if (rop == kRopWhiteness)
        dc_.brush = stockBrush(WHITE_BRUSH);
    else if (rop != kRopPatCopy)
        return;
    const bool wasInPath = inPath_;
    inPath_ = false; // a fill, never part of a path
    paint(toDevice(p), true, false);
    inPath_ = wasInPath;
    dc_.brush = saved;
}

void Playback::stretchDiBits(const RecordReader& r) {
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

} // namespace lv26::emf
