#include "report/emf/EmfPlayer.h"

#include "report/emf/EmfPlayback.h"
#include "report/emf/EmfReader.h"

#include <QPainter>

namespace lv26 {

using namespace emf;

namespace {

// The rectangle of the metafile's device pixels that is shown: its picture frame, or without a
// usable frame its bounds.
QRectF shownArea(const EmfHeaderInfo& header) {
    QRectF source = header.framePx();
    if (!(source.width() > 0 && source.height() > 0)) {
        const EmfRect& b = header.bounds;
        source = QRectF(b.left, b.top, double(b.right) - b.left + 1, double(b.bottom) - b.top + 1);
    }
    return source;
}

} // namespace

void validateEmf(const QByteArray& bytes) {
    const EmfHeaderInfo header = readFramedMetafile(bytes);
    try {
        Playback(header, nullptr, QTransform()).run(bytes);
    } catch (const MalformedRecord&) {
        throw EMetafileError();
    }
}

void playEmf(const QByteArray& bytes, QPainter& painter, const QRectF& target) {
    validateEmf(bytes);
    const EmfHeaderInfo header = *readEmfHeader(bytes);
    const QRectF source = shownArea(header);
    if (!(source.width() > 0 && source.height() > 0) || target.isEmpty() || !sane(source))
        return;
    const QTransform deviceToTarget =
        QTransform::fromTranslate(-source.left(), -source.top()) *
        QTransform::fromScale(target.width() / source.width(), target.height() / source.height()) *
        QTransform::fromTranslate(target.left(), target.top());
    painter.save();
    try {
        Playback(header, &painter, deviceToTarget * painter.transform()).run(bytes);
    } catch (const MalformedRecord&) {
        // Validated above; a record cannot become malformed between the two passes.
    }
    painter.restore();
}

} // namespace lv26
