#include "report/PreviewControl.h"

#include "report/ReportPrinter.h"
#include "report/ReportTypes.h"
#include "report/emf/EmfPlayer.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace lv26 {

using report::roundHalfEven;

// ----- TPreviewImage -----

TPreviewImage::TPreviewImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPreviewImage::clear() {
    picture_.reset();
    update();
}

void TPreviewImage::fetch(TReportPrinter* printer, int n) {
    clear();
    pageNumber_ = n;
    if (!printer)
        return;
    std::optional<QByteArray> page = printer->fetchPage(n);
    if (page)
        validateEmf(*page); // a damaged page is refused before it is held
    picture_ = std::move(page);
    update();
}

void TPreviewImage::paintEvent(QPaintEvent*) {
    if (!picture_)
        return;
    const int w = width(), h = height();
    QPainter p(this);
    // Rectangles below are (left, top, right, bottom) with right and bottom excluded.
    p.fillRect(QRect(QPoint(1, 1), QPoint(w - 4, h - 4)), Qt::white);
    try {
        playEmf(*picture_, p, QRectF(0, 0, w, h));
    } catch (const Error&) {
        // Checked when fetched; a picture that plays badly leaves the page blank.
    }
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::NoBrush);
    const QPoint outline[] = {{0, 0}, {0, h - 3}, {w - 3, h - 3}, {w - 3, 0}, {0, 0}};
    p.drawPolyline(outline, 5);
    p.fillRect(QRect(w - 2, 2, 2, h - 2), Qt::black);
    p.fillRect(QRect(2, h - 2, w - 2, 2), Qt::black);
}

// ----- TPreviewControl -----

TPreviewControl::TPreviewControl(QWidget* parent)
    : QAbstractScrollArea(parent), image_(new TPreviewImage(viewport())) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    horizontalScrollBar()->setTracking(true);
    verticalScrollBar()->setTracking(true);
    image_->hide();
}

TPreviewControl::~TPreviewControl() {
    detach();
}

void TPreviewControl::attach(TReportPrinter* printer) {
    printer_ = printer;
    printer_->ShowingPreview = true;
    printer_->setProgressReceiver(this);
    image_->show();
    setPageNumber(1);
}

void TPreviewControl::detach() {
    if (!printer_)
        return;
    if (printer_->Status() == TPrinterStatus::Busy)
        printer_->Cancel();
    printer_->ShowingPreview = false;
    if (printer_->ProgressReceiver() == this)
        printer_->setProgressReceiver(nullptr);
    printer_ = nullptr;
    image_->clear();
}

void TPreviewControl::setPageNumber(int n) {
    if ((n == pageNumber_ && image_->hasPage()) || n < 1 || !printer_ || n > printer_->PageCount())
        return;
    pageNumber_ = n;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    image_->fetch(printer_, n);
}

void TPreviewControl::refetchPage() {
    image_->fetch(printer_, pageNumber_);
}

double TPreviewControl::paperWidth() const {
    return printer_ ? printer_->paperWidth() : 2100;
}
double TPreviewControl::paperLength() const {
    return printer_ ? printer_->paperLength() : 2970;
}
double TPreviewControl::factorX() const {
    return printer_ ? printer_->mapping().factorX : report::DeviceMapping{}.factorX;
}
double TPreviewControl::factorY() const {
    return printer_ ? printer_->mapping().factorY : report::DeviceMapping{}.factorY;
}

QSize TPreviewControl::pageSizeAt100() const {
    return {roundHalfEven(paperWidth() * factorX()), roundHalfEven(paperLength() * factorY())};
}

void TPreviewControl::setZoom(int percent) {
    if (percent < kMinZoom || percent > kMaxZoom)
        return;
    zoom_ = percent;
    mode_ = ZoomMode::Fixed;
    layoutImage();
}

void TPreviewControl::zoomToFit() {
    const QSize page = pageSizeAt100();
    const QSize client = viewport()->size();
    const int a = roundHalfEven(double(client.width()) / page.width() * 95);
    const int b = roundHalfEven(double(client.height()) / page.height() * 95);
    setZoom(qMin(a, b));
    mode_ = ZoomMode::Fit;
}

void TPreviewControl::zoomToWidth() {
    const QSize page = pageSizeAt100();
    setZoom(roundHalfEven(double(viewport()->width()) / page.width() * 90));
    mode_ = ZoomMode::PageWidth;
}

void TPreviewControl::layoutImage() {
    const int w = roundHalfEven(paperWidth() * zoom_ / 100.0 * factorX()) + 4;
    const int h = roundHalfEven(paperLength() * zoom_ / 100.0 * factorY()) + 4;
    image_->resize(w, h);
    // The scroll bars' ranges decide the client area, so they are settled before centring.
    for (int pass = 0; pass < 2; ++pass) {
        const QSize client = viewport()->size();
        horizontalScrollBar()->setRange(0, qMax(0, w - client.width()));
        horizontalScrollBar()->setPageStep(client.width());
        verticalScrollBar()->setRange(0, qMax(0, h - client.height()));
        verticalScrollBar()->setPageStep(client.height());
    }
    const QSize client = viewport()->size();
    imagePos_ = QPoint(w < client.width() ? (client.width() - w) / 2 : 0,
                       h < client.height() ? (client.height() - h) / 2 : 0);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    image_->zoom_ = zoom_;
    placeImage();
}

void TPreviewControl::placeImage() {
    image_->move(imagePos_ - QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()));
}

void TPreviewControl::scrollContentsBy(int, int) {
    placeImage();
}

void TPreviewControl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (mode_ == ZoomMode::Fit)
        zoomToFit();
    else if (mode_ == ZoomMode::PageWidth)
        zoomToWidth();
    layoutImage();
}

void TPreviewControl::keyPressEvent(QKeyEvent* event) {
    // The window pages with the keys; the box itself does not scroll with them.
    event->ignore();
}

bool TPreviewControl::event(QEvent* e) {
    if (e->type() == PagesCompletedEventType) {
        pagesCompleted(static_cast<ReportNotifyEvent*>(e)->value());
        return true;
    }
    if (e->type() == ProgressEventType) {
        Q_EMIT OnProgressUpdate(this, static_cast<ReportNotifyEvent*>(e)->value() & 0xffff);
        return true;
    }
    return QAbstractScrollArea::event(e);
}

void TPreviewControl::pagesCompleted(int count) {
    if (printer_ && count == pageNumber_ && !image_->hasPage() &&
        printer_->PagesCompleted() >= image_->pageNumber()) {
        zoomToWidth();
        image_->fetch(printer_, pageNumber_);
    }
    Q_EMIT OnPageAvailable(this, count);
}

} // namespace lv26
