#include "report/emf/EmfPlayback.h"

#include <QPainter>

#include <algorithm>

namespace lv26::emf {

Playback::Playback(const EmfHeaderInfo& header, QPainter* painter,
                   const QTransform& deviceToPainter)
    : header_(header), painter_(painter), toPainter_(deviceToPainter) {
    if (painter_) {
        callerTransform_ = painter_->transform();
        if (painter_->hasClipping())
            baseClip_ = painter_->clipPath();
    }
    const double umX =
        header.deviceUm.width() > 0 ? header.deviceUm.width() : header.deviceMm.width() * 1000.0;
    const double umY =
        header.deviceUm.height() > 0 ? header.deviceUm.height() : header.deviceMm.height() * 1000.0;
    pxPerMm_ =
        QSizeF(header.devicePx.width() * 1000.0 / umX, header.devicePx.height() * 1000.0 / umY);
}

void Playback::run(const QByteArray& bytes) {
    forEachRecord(bytes, header_, [this](quint32 type, const RecordReader& r) { play(type, r); });
}

void Playback::play(quint32 type, const RecordReader& r) {
    using Family = bool (Playback::*)(quint32, const RecordReader&);
    // The most frequent families of a page first; records of no family are not drawn.
    static constexpr Family kFamilies[] = {
        &Playback::playTextRecord,   &Playback::playShapeRecord,  &Playback::playAttributeRecord,
        &Playback::playObjectRecord, &Playback::playPathRecord,   &Playback::playMappingRecord,
        &Playback::playClipRecord,   &Playback::playBitmapRecord,
    };
    for (Family family : kFamilies) {
        if ((this->*family)(type, r))
            return;
    }
}

QTransform Playback::pageTransform() const {
    return emf::pageTransform(dc_, pxPerMm_);
}

QPainterPath Playback::toDevice(const QPainterPath& logical) const {
    return logicalToDevice().map(logical);
}

QPen Playback::currentPen() const {
    const PenObj& p = dc_.pen;
    if ((p.style & PS_STYLE_MASK) == PS_NULL)
        return Qt::NoPen;
    const double maxWidth = 4 * std::max(header_.framePx().width(), 100.0);
    const double width =
        p.cosmetic ? 1.0 : std::clamp(p.width * scaleOf(logicalToDevice()), 1.0, maxWidth);
    return toQtPen(p, width);
}

void Playback::paint(const QPainterPath& device, bool fill, bool stroke) {
    if (inPath_) {
        path_.addPath(device);
        return;
    }
    if (!painter_ || !sane(device.boundingRect()))
        return;
    QPainterPath shape = device;
    shape.setFillRule(fillRule(dc_));
    if (fill && dc_.brush.style != BS_NULL) {
        painter_->setTransform(toPainter_);
        if (dc_.brush.style == BS_HATCHED && dc_.bkMode == OPAQUE)
            painter_->fillPath(shape, dc_.bkColor);
        painter_->fillPath(shape, toQtBrush(dc_.brush));
    }
    const QPen pen = currentPen();
    if (stroke && pen.style() != Qt::NoPen) {
        // Pixel centres lie half a pixel inside the pixel's square.
        painter_->setTransform(QTransform::fromTranslate(0.5, 0.5) * toPainter_);
        painter_->strokePath(shape, pen);
    }
}

void Playback::applyClip() {
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

} // namespace lv26::emf
