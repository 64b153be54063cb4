#include "widgets/Panel.h"

#include <QPainter>

namespace lv26 {

namespace {

// Draws `width` nested rectangle outlines inward from `rect`: light top-left and dark
// bottom-right for a raised cut, the reverse for a lowered one. Returns the rect inside.
QRect drawBevel(QPainter& p, QRect rect, TPanel::BevelCut cut, int width, const QPalette& pal) {
    if (cut == TPanel::bvNone)
        return rect;
    const QColor light = pal.color(QPalette::Light);
    const QColor dark = pal.color(QPalette::Dark);
    const QColor topLeft = cut == TPanel::bvRaised ? light : dark;
    const QColor bottomRight = cut == TPanel::bvRaised ? dark : light;
    for (int i = 0; i < width; ++i) {
        p.setPen(topLeft);
        p.drawLine(rect.topLeft(), rect.topRight());
        p.drawLine(rect.topLeft(), rect.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(rect.bottomLeft(), rect.bottomRight());
        p.drawLine(rect.topRight(), rect.bottomRight());
        rect.adjust(1, 1, -1, -1);
    }
    return rect;
}

} // namespace

TPanel::TPanel(QWidget* parent) : QWidget(parent) {
    frameChanged();
}

void TPanel::setBevelOuter(BevelCut cut) {
    outer_ = cut;
    frameChanged();
}

void TPanel::setBevelInner(BevelCut cut) {
    inner_ = cut;
    frameChanged();
}

void TPanel::setBevelWidth(int pixels) {
    bevelWidth_ = qMax(1, pixels);
    frameChanged();
}

void TPanel::setBorderWidth(int pixels) {
    borderWidth_ = qMax(0, pixels);
    frameChanged();
}

void TPanel::setCaption(const QString& text) {
    caption_ = text;
    update();
}

int TPanel::frameWidth() const {
    return (outer_ != bvNone ? bevelWidth_ : 0) + borderWidth_ +
           (inner_ != bvNone ? bevelWidth_ : 0);
}

void TPanel::frameChanged() {
    const int w = frameWidth();
    setContentsMargins(w, w, w, w);
    update();
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect rect = drawBevel(p, this->rect(), outer_, bevelWidth_, palette());
    rect.adjust(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
    rect = drawBevel(p, rect, inner_, bevelWidth_, palette());
    if (!caption_.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect, Qt::AlignCenter, caption_);
    }
}

} // namespace lv26
