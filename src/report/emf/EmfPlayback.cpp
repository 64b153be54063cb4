#include "report/emf/EmfPlayback.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace lv26::emf {

namespace {

// The rectangle path is, when it is one closed axis-aligned rectangle.
std::optional<QRectF> uprightRect(const QPainterPath& path) {
    if (path.elementCount() != 5 || !path.elementAt(0).isMoveTo())
        return std::nullopt;
    QRectF box = path.boundingRect();
    for (int i = 0; i < 5; ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if ((i > 0 && !e.isLineTo()) || (e.x != box.left() && e.x != box.right()) ||
            (e.y != box.top() && e.y != box.bottom()))
            return std::nullopt;
    }
    return box;
}

// One side [from, from + length) of a rectangle on the pixel grid after scale and offset: a
// rule's thickness is rounded once from its length, any other side has both edges rounded.
std::pair<double, double> snapSide(double from, double length, double scale, double offset) {
    const double start = std::round(from * scale + offset);
    if (length <= kRuleWidth)
        return {start, std::max(1.0, std::round(length * scale))};
    return {start, std::round((from + length) * scale + offset) - start};
}

} // namespace

Playback::Playback(const EmfHeaderInfo& header, QPainter* painter,
                   const QTransform& deviceToPainter)
    : header_(header), painter_(painter), toPainter_(deviceToPainter) {
    if (painter_) {
        callerTransform_ = painter_->transform();
        deviceFromPainter_ = callerTransform_.inverted() * painter_->deviceTransform();
        raster_ =
            painter_->paintEngine() && painter_->paintEngine()->type() == QPaintEngine::Raster;
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
        const std::optional<QRectF> box = uprightRect(shape);
        if (!box || dc_.brush.style == BS_HATCHED || !fillOnPixels(*box, toQtBrush(dc_.brush))) {
            setPainterTransform(toPainter_);
            if (dc_.brush.style == BS_HATCHED && dc_.bkMode == OPAQUE)
                painter_->fillPath(shape, dc_.bkColor);
            painter_->fillPath(shape, toQtBrush(dc_.brush));
        }
    }
    const QPen pen = currentPen();
    if (stroke && pen.style() != Qt::NoPen && !strokeOnPixels(shape, pen)) {
        // Pixel centres lie half a pixel inside the pixel's square.
        setPainterTransform(QTransform::fromTranslate(0.5, 0.5) * toPainter_);
        painter_->strokePath(shape, pen);
    }
}

std::optional<QTransform> Playback::pixelGrid() const {
    if (!painter_ || !raster_)
        return std::nullopt;
    const QTransform t = toPainter_ * deviceFromPainter_;
    if (t.type() > QTransform::TxScale || !(t.m11() > 0) || !(t.m22() > 0))
        return std::nullopt;
    return t;
}

bool Playback::fillOnPixels(const QRectF& device, const QBrush& brush) {
    const std::optional<QTransform> grid = pixelGrid();
    if (!grid)
        return false;
    const auto [left, width] = snapSide(device.left(), device.width(), grid->m11(), grid->dx());
    const auto [top, height] = snapSide(device.top(), device.height(), grid->m22(), grid->dy());
    const QRectF pixels(left, top, width, height);
    if (!sane(pixels))
        return true;
    setPainterTransform(deviceFromPainter_.inverted());
    painter_->setRenderHint(QPainter::Antialiasing, false);
    painter_->fillRect(pixels, brush);
    return true;
}

bool Playback::strokeOnPixels(const QPainterPath& device, const QPen& pen) {
    if (device.elementCount() != 2 || pen.style() != Qt::SolidLine ||
        pen.capStyle() == Qt::RoundCap || !pixelGrid())
        return false;
    const QPointF a = device.elementAt(0), b = device.elementAt(1);
    const double w = pen.widthF();
    const double capOut = pen.capStyle() == Qt::SquareCap ? w / 2 : 0;
    // The stroke is drawn through pixel centres, half a pixel inside the given points.
    QRectF area;
    if (a.y() == b.y())
        area = QRectF(std::min(a.x(), b.x()) + 0.5 - capOut, a.y() + 0.5 - w / 2,
                      std::abs(b.x() - a.x()) + 2 * capOut, w);
    else if (a.x() == b.x())
        area = QRectF(a.x() + 0.5 - w / 2, std::min(a.y(), b.y()) + 0.5 - capOut, w,
                      std::abs(b.y() - a.y()) + 2 * capOut);
    else
        return false;
    if (area.isEmpty())
        return true;
    return fillOnPixels(area, pen.brush());
}

void Playback::setPainterTransform(const QTransform& t) {
    if (painter_->transform() != t)
        painter_->setTransform(t);
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
