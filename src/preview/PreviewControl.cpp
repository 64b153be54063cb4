#include "preview/PreviewControl.h"

#include "report/ReportPrinter.h"
#include "report/ReportTypes.h"
#include "report/emf/EmfPlayer.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace lv26 {

using report::roundHalfEven;

namespace {

// The lengths a page can have, tenths of a millimetre: 1 mm up to 10 m, the longest paper a
// report layout may ask for. Frames outside come from damaged or hostile files.
constexpr double kMinPageLength = 10;
constexpr double kMaxPageLength = 100000;

// The page's size from its picture frame (0.01 mm), or none when the frame cannot be a page's.
std::optional<QSizeF> pageSizeOfFrame(const QByteArray& picture) {
    const std::optional<EmfHeaderInfo> header = readEmfHeader(picture);
    if (!header)
        return std::nullopt;
    const EmfRect& frame = header->frame;
    const QSizeF size((double(frame.right) - frame.left) / 10,
                      (double(frame.bottom) - frame.top) / 10);
    auto possible = [](double length) {
        return length >= kMinPageLength && length <= kMaxPageLength;
    };
    if (!possible(size.width()) || !possible(size.height()))
        return std::nullopt;
    return size;
}

} // namespace

// ----- TPreviewImage -----

TPreviewImage::TPreviewImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPreviewImage::clear() {
    picture_.reset();
    pictureSize_.reset();
    highlights_.clear();
    update();
}

void TPreviewImage::setHighlights(std::vector<QRectF> boxes) {
    highlights_ = std::move(boxes);
    update();
}

void TPreviewImage::fetch(TReportPrinter* printer, int n) {
    clear();
    pageNumber_ = n;
    if (!printer)
        return;
    std::optional<QByteArray> page = printer->fetchPage(n);
    if (page) {
        validateEmf(*page); // a damaged page is refused before it is held
        pictureSize_ = pageSizeOfFrame(*page);
    }
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
    paintHighlights(p);
}

std::optional<QRectF> TPreviewImage::imageArea(const QRectF& pictureBox) const {
    const std::optional<EmfHeaderInfo> header = picture_ ? readEmfHeader(*picture_) : std::nullopt;
    if (!header)
        return std::nullopt;
    // The page picture fills the whole image, its frame stretched over it.
    const QRectF frame = header->framePx();
    if (!(frame.width() > 0 && frame.height() > 0))
        return std::nullopt;
    const double sx = width() / frame.width(), sy = height() / frame.height();
    return QRectF((pictureBox.left() - frame.left()) * sx, (pictureBox.top() - frame.top()) * sy,
                  pictureBox.width() * sx, pictureBox.height() * sy);
}

void TPreviewImage::paintHighlights(QPainter& p) const {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(230, 120, 0), 2));
    for (const QRectF& box : highlights_) {
        if (const std::optional<QRectF> area = imageArea(box))
            p.drawRect(area->adjusted(-2, -1, 2, 1));
    }
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
    followPageSize();
}

void TPreviewControl::refetchPage() {
    image_->fetch(printer_, pageNumber_);
    followPageSize();
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

QSizeF TPreviewControl::pageSize() const {
    const QSizeF paper(paperWidth(), paperLength());
    const std::optional<QSizeF> own = image_->pictureSize();
    if (!own || (qAbs(own->width() - paper.width()) * factorX() <= 1 &&
                 qAbs(own->height() - paper.height()) * factorY() <= 1))
        return paper;
    return *own;
}

QSize TPreviewControl::pageSizeAt100() const {
    const QSizeF page = pageSize();
    return {roundHalfEven(page.width() * factorX()), roundHalfEven(page.height() * factorY())};
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
    if (!page.isEmpty()) {
        const int a = roundHalfEven(double(client.width()) / page.width() * 95);
        const int b = roundHalfEven(double(client.height()) / page.height() * 95);
        setZoom(qMin(a, b));
    }
    mode_ = ZoomMode::Fit;
}

void TPreviewControl::zoomToWidth() {
    const QSize page = pageSizeAt100();
    if (page.width() > 0)
        setZoom(roundHalfEven(double(viewport()->width()) / page.width() * 90));
    mode_ = ZoomMode::PageWidth;
}

void TPreviewControl::layoutImage() {
    const QSizeF page = pageSize();
    const int w = roundHalfEven(page.width() * zoom_ / 100.0 * factorX()) + 4;
    const int h = roundHalfEven(page.height() * zoom_ / 100.0 * factorY()) + 4;
    laidOutSize_ = page;
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

void TPreviewControl::scrollToHighlight() {
    const std::optional<QRectF> area = image_->highlights().empty()
                                           ? std::nullopt
                                           : image_->imageArea(image_->highlights().front());
    if (!area)
        return;
    const QSize client = viewport()->size();
    const QRect box = area->toAlignedRect().adjusted(-8, -8, 8, 8);
    auto follow = [](QScrollBar* bar, int from, int to, int visible) {
        if (from < bar->value())
            bar->setValue(from);
        else if (to > bar->value() + visible)
            bar->setValue(to - visible);
    };
    follow(horizontalScrollBar(), box.left(), box.right(), client.width());
    follow(verticalScrollBar(), box.top(), box.bottom(), client.height());
}

void TPreviewControl::followPageSize() {
    if (!image_->hasPage() || pageSize() == laidOutSize_)
        return;
    if (mode_ == ZoomMode::Fit)
        zoomToFit();
    else if (mode_ == ZoomMode::PageWidth)
        zoomToWidth();
    layoutImage();
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
        followPageSize();
    }
    Q_EMIT OnPageAvailable(this, count);
}

} // namespace lv26
