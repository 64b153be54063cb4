#include "maintenance/Glyphs.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <algorithm>

namespace lv26 {

namespace {

// An empty image of width x height logical pixels at `ratio` (0: the screens' highest).
QPixmap transparentPixmap(int width, int height, qreal ratio) {
    if (!(ratio > 0))
        ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    ratio = std::clamp(ratio, 1.0, 8.0);
    QPixmap pixmap(QSize(width, height) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Draws the shape of one glyph in `colour` on a 16 x 16 canvas.
void drawGlyphShape(QPainter& p, int button, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    auto triangle = [&](int tipX, int baseX) {
        p.drawPolygon(QPolygon({QPoint(tipX, 8), QPoint(baseX, 3), QPoint(baseX, 13)}));
    };
    switch (button) {
    case 0: // First: bar and left triangle
        p.drawRect(3, 3, 2, 11);
        triangle(6, 11);
        break;
    case 1: // Prior
        triangle(5, 10);
        break;
    case 2: // Next
        triangle(11, 6);
        break;
    case 3: // Last: right triangle and bar
        triangle(10, 5);
        p.drawRect(11, 3, 2, 11);
        break;
    case 4: // Insert: a plus
        p.drawRect(7, 3, 3, 11);
        p.drawRect(3, 7, 11, 3);
        break;
    case 5: // Delete: a minus
        p.drawRect(3, 7, 11, 3);
        break;
    case 6: // Edit: an upward triangle
        p.drawPolygon(QPolygon({QPoint(8, 3), QPoint(3, 12), QPoint(13, 12)}));
        break;
    case 7: { // Post: a check mark
        QPen pen(colour, 2.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    }
    case 8: { // Cancel: a cross
        QPen pen(colour, 2.5, Qt::SolidLine, Qt::SquareCap);
        p.setPen(pen);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
    case 9: { // Refresh: a circular arrow
        QPen pen(colour, 2, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawPolygon(QPolygon({QPoint(8, 0), QPoint(12, 4), QPoint(8, 7)}));
        break;
    }
    default:
        break;
    }
}

QColor glyphColour(int button) {
    switch (button) {
    case 4:
    case 5:
    case 8:
        return QColor(128, 0, 0);
    case 7:
        return QColor(0, 128, 0);
    default:
        return QColor(0, 0, 128);
    }
}

} // namespace

QPixmap rowIndicatorImage(RowImage image, qreal ratio) {
    QPixmap pixmap = transparentPixmap(8, 11, ratio);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    switch (image) {
    case RowImage::Arrow:
        p.drawPolygon(QPolygon({QPoint(2, 1), QPoint(6, 5), QPoint(2, 9)}));
        break;
    case RowImage::Edit: // an I-beam
        p.drawRect(3, 1, 1, 9);
        p.drawRect(1, 1, 5, 1);
        p.drawRect(1, 9, 5, 1);
        break;
    case RowImage::Insert: // an asterisk
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(4, 2, 4, 8);
        p.drawLine(1, 5, 7, 5);
        p.drawLine(2, 3, 6, 7);
        p.drawLine(6, 3, 2, 7);
        break;
    }
    return pixmap;
}

QPixmap navigatorGlyph(int button, bool enabled, qreal ratio) {
    if (button < 0 || button > 9)
        return {};
    QPixmap pixmap = transparentPixmap(16, 16, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, button >= 7);
    if (enabled) {
        drawGlyphShape(p, button, glyphColour(button));
    } else {
        // Embossed: a white copy one pixel down and right under a grey one.
        p.translate(1, 1);
        drawGlyphShape(p, button, Qt::white);
        p.translate(-1, -1);
        drawGlyphShape(p, button, QColor(128, 128, 128));
    }
    return pixmap;
}

} // namespace lv26
