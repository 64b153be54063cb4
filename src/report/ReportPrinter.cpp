#include "report/ReportPrinter.h"

#include "base/Messages.h"
#include "report/PageStore.h"
#include "report/Report.h"
#include "report/emf/EmfWriter.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>

namespace lv26 {

using report::roundHalfEven;

namespace {

TReportPrinter::PrinterQuery& defaultPrinterQuery() {
    static TReportPrinter::PrinterQuery query;
    return query;
}

PrinterInfo queryDefaultPrinter() {
    const TReportPrinter::PrinterQuery& query = defaultPrinterQuery();
    return query ? query() : PrinterInfo{};
}

EmfRect toEmfRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

[[noreturn]] void invalidPrinter() {
    throw EReportError(msg(Message::PrinterNotValid));
}

// Draws on the page and repeats every drawing call to an observer.
class TeeCanvas : public ReportCanvas {
public:
    TeeCanvas(std::unique_ptr<ReportCanvas> page, ReportCanvas& observer)
        : page_(std::move(page)), observer_(observer) {}

    double pixelsPerInchX() const override { return page_->pixelsPerInchX(); }
    double pixelsPerInchY() const override { return page_->pixelsPerInchY(); }
    void fillRect(const QRect& rect, const QColor& color) override {
        page_->fillRect(rect, color);
        observer_.fillRect(rect, color);
    }
    void setFont(const TReportFont& font) override {
        page_->setFont(font);
        observer_.setFont(font);
    }
    QSize textExtent(const QString& text) override { return page_->textExtent(text); }
    void drawText(int x, int y, const QString& text, TAlignment alignment) override {
        page_->drawText(x, y, text, alignment);
        observer_.drawText(x, y, text, alignment);
    }
    void drawLine(QPoint from, QPoint to, const QColor& color, int width) override {
        page_->drawLine(from, to, color, width);
        observer_.drawLine(from, to, color, width);
    }

private:
    std::unique_ptr<ReportCanvas> page_;
    ReportCanvas& observer_;
};

} // namespace

// ----- EmfCanvas -----

EmfCanvas::EmfCanvas(EmfWriter& writer, double dpiX, double dpiY)
    : writer_(writer), dpiX_(dpiX), dpiY_(dpiY) {}

void EmfCanvas::fillRect(const QRect& rect, const QColor& color) {
    writer_.fillRect(toEmfRect(rect), color);
}

void EmfCanvas::setFont(const TReportFont& font) {
    EmfFont f;
    f.face = font.name;
    f.heightPx = report::fontPixelHeight(font.size, dpiY_);
    f.bold = font.bold;
    f.italic = font.italic;
    f.underline = font.underline;
    f.strikeOut = font.strikeOut;
    writer_.setFont(f);
    writer_.setTextColor(font.color);
}

QSize EmfCanvas::textExtent(const QString& text) {
    return {writer_.textWidth(text), writer_.textHeight()};
}

void EmfCanvas::drawText(int x, int y, const QString& text, TAlignment alignment) {
    Qt::Alignment align = Qt::AlignLeft;
    if (alignment == TAlignment::taRightJustify)
        align = Qt::AlignRight;
    else if (alignment == TAlignment::taCenter)
        align = Qt::AlignHCenter;
    writer_.textOut(x, y, text, align | Qt::AlignTop);
}

void EmfCanvas::drawLine(QPoint from, QPoint to, const QColor& color, int width) {
    writer_.line(from.x(), from.y(), to.x(), to.y(), color, width);
}

// ----- TReportPrinter -----

void TReportPrinter::setDefaultPrinterQuery(PrinterQuery query) {
    defaultPrinterQuery() = std::move(query);
}

TReportPrinter::TReportPrinter() : TReportPrinter(queryDefaultPrinter()) {}

TReportPrinter::TReportPrinter(const PrinterInfo& printer)
    : printer_(printer), paper_(printer.currentPaper), paperSize_(printer.currentPaperSize) {
    if (!printer_.available) {
        paper_ = TPaperSize::A4;
        paperSize_ = report::paperTableSize(TPaperSize::A4);
    }
}

TReportPrinter::~TReportPrinter() {
    canvas_.reset();
    EndPrintJob();
}

void TReportPrinter::applySettings(const TReportPage& page,
                                   const TReportPrinterSettings& settings) {
    const TPaperSize wanted = page.PaperSize();
    orientation_ = page.Orientation();
    if (wanted == TPaperSize::Custom) {
        paper_ = wanted;
        // A custom page's Width and Length are already those of its orientation.
        const bool landscape = orientation_ == TOrientation::poLandscape;
        const double w = page.native(TReportPage::WidthV), l = page.native(TReportPage::LengthV);
        paperSize_ = landscape ? QSizeF(l, w) : QSizeF(w, l);
    } else if (wanted != TPaperSize::Default && printer_.available &&
               printer_.paperSizes.contains(wanted)) {
        paper_ = wanted;
        paperSize_ = report::paperTableSize(wanted);
    }
    FirstPage = settings.FirstPage;
    LastPage = settings.LastPage;
    PrintPages = settings.PrintPages;
}

double TReportPrinter::paperWidth() const {
    return orientation_ == TOrientation::poLandscape ? paperSize_.height() : paperSize_.width();
}

double TReportPrinter::paperLength() const {
    return orientation_ == TOrientation::poLandscape ? paperSize_.width() : paperSize_.height();
}

void TReportPrinter::BeginDoc() {
    cancelled_ = false;
    pageCount_ = 0;
    pagesCompleted_ = 0;
    progress_ = 0;
    canvas_.reset();
    picture_ = std::make_unique<EmfWriter>();
    if (destination_ == TReportDestination::Preview) {
        mapping_ = report::DeviceMapping{};
        pages_ = std::make_unique<TPageList>();
    } else {
        setPrinterMapping();
    }
    status_ = TPrinterStatus::Busy;
}

void TReportPrinter::setPrinterMapping() {
    if (!device_)
        invalidPrinter();
    const QSizeF mm(paperWidth() / 10.0, paperLength() / 10.0);
    const QSizeF portraitMm = orientation_ == TOrientation::poLandscape ? mm.transposed() : mm;
    device_->setPageSize(QPageSize(portraitMm, QPageSize::Millimeter));
    device_->setPageOrientation(orientation_ == TOrientation::poLandscape ? QPageLayout::Landscape
                                                                          : QPageLayout::Portrait);
    const int dpiX = device_->logicalDpiX(), dpiY = device_->logicalDpiY();
    if (dpiX <= 0 || dpiY <= 0)
        invalidPrinter();
    const QPageLayout layout = device_->pageLayout();
    const QRect full = layout.fullRectPixels(dpiX);
    const QRect paint = layout.paintRectPixels(dpiX);
    mapping_.factorX = dpiX / report::kNativePerInch;
    mapping_.factorY = dpiY / report::kNativePerInch;
    mapping_.offsetX = roundHalfEven((paint.left() - full.left()) * report::kNativePerInch / dpiX);
    mapping_.offsetY = roundHalfEven((paint.top() - full.top()) * report::kNativePerInch / dpiX);
}

void TReportPrinter::NewPage() {
    if (canvas_)
        finishPage();
    ++pageCount_;
    beginPicture();
}

bool TReportPrinter::pageInPrintRange(int page) const {
    return (FirstPage <= 0 || page >= FirstPage) && (LastPage <= 0 || page <= LastPage) &&
           (PrintPages.isEmpty() || PrintPages.contains(page));
}

void TReportPrinter::beginPicture() {
    const int width = mapping_.width(paperWidth());
    const int height = mapping_.height(paperLength());
    const double dpiX = mapping_.pixelsPerInchX(), dpiY = mapping_.pixelsPerInchY();
    if (destination_ == TReportDestination::Printer && pageInPrintRange(pageCount_)) {
        if (!painter_) {
            painter_ = std::make_unique<QPainter>();
            if (!painter_->begin(device_))
                invalidPrinter();
            deviceFonts_ = PainterCanvas::makeFontCache();
        } else if (!device_->newPage()) {
            invalidPrinter();
        }
        ++devicePages_;
        setCanvas(std::make_unique<PainterCanvas>(*painter_, deviceFonts_));
        return;
    }
    // Preview pages, and printer pages outside the range (drawn, then thrown away).
    picture_->beginPage(width, height, dpiX, dpiY);
    setCanvas(std::make_unique<EmfCanvas>(*picture_, dpiX, dpiY));
}

void TReportPrinter::setCanvas(std::unique_ptr<ReportCanvas> page) {
    if (observer_)
        canvas_ = std::make_unique<TeeCanvas>(std::move(page), *observer_);
    else
        canvas_ = std::move(page);
}

void TReportPrinter::finishPage() {
    canvas_.reset();
    if (picture_ && picture_->isRecording()) {
        const QByteArray bytes = picture_->endPage();
        if (destination_ == TReportDestination::Preview && pages_)
            pages_->appendPage(bytes);
    }
    ++pagesCompleted_;
    post(PagesCompletedEventType, pagesCompleted_);
}

void TReportPrinter::EndDoc() {
    if (canvas_)
        finishPage();
    if (destination_ == TReportDestination::Preview && pages_ && pages_->pageCount() > 0)
        pages_->writeHeader();
    const bool ended = EndPrintJob();
    status_ = TPrinterStatus::Finished;
    if (!ended)
        invalidPrinter();
}

void TReportPrinter::AbandonDoc() {
    canvas_.reset();
    if (picture_ && picture_->isRecording())
        picture_->endPage();
    const bool ended = EndPrintJob();
    status_ = TPrinterStatus::Finished;
    if (!ended)
        invalidPrinter();
}

bool TReportPrinter::EndPrintJob() {
    canvas_.reset();
    if (painter_ && painter_->isActive() && !painter_->end())
        jobFailed_ = true;
    return !jobFailed_;
}

void TReportPrinter::postProgress(int percent) {
    progress_ = percent;
    post(ProgressEventType, percent);
}

void TReportPrinter::post(QEvent::Type type, int value) {
    if (receiver_)
        QCoreApplication::postEvent(receiver_, new ReportNotifyEvent(type, value));
}

std::optional<QByteArray> TReportPrinter::fetchPage(int n) const {
    if (status_ == TPrinterStatus::Ready || !pages_ || n < 1 || n > pageCount_)
        return std::nullopt;
    return pages_->fetchPage(n);
}

void TReportPrinter::Save(const QString& fileName) {
    if (status_ == TPrinterStatus::Finished && pages_)
        pages_->copyToFile(fileName);
}

void TReportPrinter::Load(const QString& fileName) {
    if (status_ != TPrinterStatus::Ready) {
        if (status_ == TPrinterStatus::Busy)
            cancelled_ = true;
        canvas_.reset();
        pages_.reset();
        pageCount_ = 0;
        status_ = TPrinterStatus::Ready;
    }
    pages_ = TPageList::openFile(fileName);
    pageCount_ = pages_->pageCount();
    pagesCompleted_ = pageCount_;
    status_ = TPrinterStatus::Finished;
}

} // namespace lv26
