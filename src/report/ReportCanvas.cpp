#include "report/ReportCanvas.h"

#include <QPaintDevice>
#include <QPainter>

namespace lv26 {

PainterCanvas::PainterCanvas(QPainter& painter)
    : painter_(painter), dpiX_(painter.device()->logicalDpiX()),
      dpiY_(painter.device()->logicalDpiY()) {}

void PainterCanvas::fillRect(const QRect& rect, const QColor& color) {
    painter_.fillRect(rect, color);
}

void PainterCanvas::setFont(const TReportFont& font) {
    const QFont f = report::toQFont(font, dpiY_);
    painter_.setFont(f);
    textColor_ = font.color;
    metrics_.emplace(f, painter_.device());
}

QSize PainterCanvas::textExtent(const QString& text) {
    if (!metrics_)
        setFont(TReportFont());
    return {metrics_->horizontalAdvance(text), metrics_->height()};
}

void PainterCanvas::drawText(int x, int y, const QString& text, TAlignment alignment) {
    if (!metrics_)
        setFont(TReportFont());
    const int width = metrics_->horizontalAdvance(text);
    int left = x;
    if (alignment == TAlignment::taRightJustify)
        left = x - width;
    else if (alignment == TAlignment::taCenter)
        left = x - width / 2;
    painter_.setPen(textColor_);
    painter_.drawText(QPoint(left, y + metrics_->ascent()), text);
}

void PainterCanvas::drawLine(QPoint from, QPoint to, const QColor& color, int width) {
    // The end point is not part of the line; step back one unit towards the start.
    const QPoint step((to.x() > from.x()) - (to.x() < from.x()),
                      (to.y() > from.y()) - (to.y() < from.y()));
    if (from == to)
        return;
    QPen pen(color);
    pen.setWidth(qMax(1, width));
    painter_.setPen(pen);
    painter_.drawLine(from, to - step);
}

} // namespace lv26
