// Generation: turns the report's bands and the rows of its dataset into pages on a report
// printer object, or into a text export's file. Positions between bands are whole tenths of
// a millimetre, so rounding never accumulates down a page; the run keeps no page of its own.

#include "report/Report.h"
#include "report/ReportDataSet.h"
#include "report/ReportElements.h"
#include "report/ReportPrinter.h"
#include "report/TextExport.h"

#include <QCoreApplication>

#include <memory>
#include <optional>

namespace lv26 {

using report::roundHalfEven;

namespace {

// Where a run's pages go. Pages are begun, drawn and closed in order, between the report
// printer object's BeginDoc and the end of the document.
class PageTarget {
public:
    virtual ~PageTarget() = default;
    // Once, after the report printer object's document has begun.
    virtual void beginDocument() {}
    // Begins page `number` (1 for the first) and returns its canvas, valid until the next
    // page begins or the document ends.
    virtual ReportCanvas* beginPage(int number) = 0;
    // Once per page, after its page footer.
    virtual void closePage() {}
    // Ends the document of a run that was not cancelled, also after an error.
    virtual void endDocument() = 0;
};

// The report printer object's own pages: page pictures for the preview, or the printer's.
class PrinterPages : public PageTarget {
public:
    explicit PrinterPages(TReportPrinter& printer) : printer_(printer) {}

    ReportCanvas* beginPage(int) override {
        printer_.NewPage();
        return printer_.canvas();
    }
    void endDocument() override { printer_.EndDoc(); }

private:
    TReportPrinter& printer_;
};

// The pages of a text export's file. Only page 1 is begun on the report printer object: its
// canvas measures text for every page. The object's document is abandoned at the end, so
// nothing is drawn, stored or counted as finished.
class TextExportPages : public PageTarget {
public:
    TextExportPages(TReportPrinter& printer, TTextExportFilter& filter, double reportFontSize)
        : printer_(printer), filter_(filter), reportFontSize_(reportFontSize) {}

    void beginDocument() override { filter_.Start(printer_.paperLength(), reportFontSize_); }
    ReportCanvas* beginPage(int number) override {
        if (number == 1) {
            printer_.NewPage();
            canvas_.emplace(filter_, *printer_.canvas());
        }
        filter_.NewPage();
        return &*canvas_;
    }
    void closePage() override { filter_.EndPage(); }
    void endDocument() override {
        canvas_.reset(); // it measures with a page that abandoning the document ends
        filter_.Finish();
        printer_.AbandonDoc();
    }

private:
    TReportPrinter& printer_;
    TTextExportFilter& filter_;
    double reportFontSize_;
    std::optional<TextExportCanvas> canvas_;
};

std::unique_ptr<PageTarget> pageTarget(const TReport& report, TReportPrinter& printer) {
    if (TTextExportFilter* filter = report.exportFilter())
        return std::make_unique<TextExportPages>(printer, *filter, report.Font.size);
    return std::make_unique<PrinterPages>(printer);
}

} // namespace

class ReportGenerator {
public:
    ReportGenerator(TReport& report, TReportPrinter& printer)
        : report_(report), printer_(printer), pages_(pageTarget(report, printer)) {}

    void run();

private:
    double page(TReportPage::Value v) const { return report_.Page.native(v); }
    void beginDocument();
    void endDocument();
    void buildDataSetList();
    void prepareElements();
    void unprepareElements();
    void startPage();
    void closePage();
    void nextColumn();
    int availableSpace() const;
    bool fits(const TReportBand& band) const;
    // Prints `band` at (current x, current y) when it exists and is enabled.
    void printBand(TReportBand* band);
    TReportBand* enabledBand(TBandType type) const;
    void detailLoop();
    void printEmptyReport();
    // Lets the message queue run; returns true when the run has been cancelled meanwhile.
    bool dispatchAndCheckCancel();

    TReport& report_;
    TReportPrinter& printer_;
    std::unique_ptr<PageTarget> pages_;
    PrintContext context_;
    double paperLength_ = 0;
    double footerHeight_ = 0;
    int pageCount_ = 0;
    int currentX_ = 0;
    int currentY_ = 0;
    int columnTop_ = 0;
    int currentColumn_ = 1;
    bool finalPage_ = false;
    bool cancelled_ = false;
    bool documentBegun_ = false;
    bool prepared_ = false;
};

void ReportGenerator::run() {
    const TUnits oldUnits = report_.Units();
    report_.setUnits(TUnits::Native);
    try {
        beginDocument();
        currentX_ = roundHalfEven(page(TReportPage::LeftMarginV));
        footerHeight_ = report_.pageFooterHeight();
        buildDataSetList();
        prepareElements();
        startPage();
        detailLoop();
        finalPage_ = true;
        if (!cancelled_)
            closePage();
        report_.setUnits(oldUnits);
        unprepareElements();
        endDocument();
    } catch (...) {
        // The document is ended (unless cancelled) so that the pages made so far stay usable
        // and later runs work; the original error goes on.
        report_.setUnits(oldUnits);
        try {
            unprepareElements();
            endDocument();
        } catch (...) {
        }
        throw;
    }
}

void ReportGenerator::beginDocument() {
    printer_.applySettings(report_.Page, report_.PrinterSettings);
    printer_.Title = report_.ReportTitle;
    printer_.Compression = report_.Options.Compression;
    printer_.BeginDoc();
    documentBegun_ = true;
    context_.mapping = printer_.mapping();
    context_.reportTitle = report_.ReportTitle;
    // The footer's place and the fit test both follow the selected paper, so that a paper
    // other than the layout's never puts rows under the footer.
    paperLength_ = printer_.paperLength();
    pages_->beginDocument();
}

void ReportGenerator::endDocument() {
    if (!documentBegun_ || cancelled_ || printer_.Cancelled())
        return;
    documentBegun_ = false;
    pages_->endDocument();
}

void ReportGenerator::buildDataSetList() {
    ReportDataSet* ds = report_.DataSet();
    if (ds && ds->isOpen())
        context_.dataSets << ds;
}

void ReportGenerator::prepareElements() {
    prepared_ = true;
    for (const auto& band : report_.bands()) {
        for (const auto& element : band->elements())
            element->Prepare(context_);
    }
}

void ReportGenerator::unprepareElements() {
    if (!prepared_)
        return;
    prepared_ = false;
    for (const auto& band : report_.bands()) {
        for (const auto& element : band->elements())
            element->Unprepare();
    }
}

TReportBand* ReportGenerator::enabledBand(TBandType type) const {
    TReportBand* band = report_.bandOfType(type);
    return band && band->Enabled ? band : nullptr;
}

void ReportGenerator::startPage() {
    closePage();
    ++pageCount_;
    context_.pageNumber = pageCount_;
    context_.canvas = pages_->beginPage(pageCount_);
    currentY_ = roundHalfEven(page(TReportPage::TopMarginV));
    if (pageCount_ > 1 || report_.Options.FirstPageHeader)
        printBand(enabledBand(TBandType::btPageHeader));
    columnTop_ = currentY_;
}

void ReportGenerator::closePage() {
    if (pageCount_ == 0)
        return;
    currentY_ = roundHalfEven(paperLength_ - page(TReportPage::BottomMarginV) - footerHeight_);
    if (!finalPage_ || report_.Options.LastPageFooter)
        printBand(enabledBand(TBandType::btPageFooter));
    pages_->closePage();
}

void ReportGenerator::nextColumn() {
    const int columns = report_.Page.Columns();
    if (currentColumn_ < columns) {
        const double usable = page(TReportPage::WidthV) - page(TReportPage::LeftMarginV) -
                              page(TReportPage::RightMarginV) -
                              (columns - 1) * page(TReportPage::ColumnSpaceV);
        const double columnStep = usable / columns + page(TReportPage::ColumnSpaceV);
        ++currentColumn_;
        currentX_ =
            roundHalfEven(page(TReportPage::LeftMarginV) + (currentColumn_ - 1) * columnStep);
        currentY_ = columnTop_;
    } else {
        currentColumn_ = 1;
        currentX_ = roundHalfEven(page(TReportPage::LeftMarginV));
        startPage();
    }
    printBand(enabledBand(TBandType::btColumnHeader));
}

int ReportGenerator::availableSpace() const {
    return roundHalfEven(paperLength_ - page(TReportPage::BottomMarginV) - footerHeight_ -
                         currentY_);
}

bool ReportGenerator::fits(const TReportBand& band) const {
    return roundHalfEven(band.heightNative()) < availableSpace();
}

void ReportGenerator::printBand(TReportBand* band) {
    if (!band)
        return;
    const report::DeviceMapping& m = context_.mapping;
    const double x = currentX_, y = currentY_;
    const int left = m.column(x), top = m.row(y);
    const QRect rect(QPoint(left, top), QSize(m.column(x + band->widthNative()) - left,
                                              m.row(y + band->heightNative()) - top));
    context_.canvas->fillRect(rect, band->Color);
    for (const auto& element : band->elements()) {
        if (element->Enabled)
            element->Print(context_, x, y);
    }
    drawFrame(*context_.canvas, m, band->Frame, rect);
    currentY_ += roundHalfEven(band->heightNative());
}

bool ReportGenerator::dispatchAndCheckCancel() {
    QCoreApplication::processEvents();
    cancelled_ = printer_.Cancelled();
    return cancelled_;
}

void ReportGenerator::printEmptyReport() {
    printBand(enabledBand(TBandType::btTitle));
    printBand(enabledBand(TBandType::btDetail));
    printBand(enabledBand(TBandType::btSummary));
}

void ReportGenerator::detailLoop() {
    ReportDataSet* ds = context_.dataSets.isEmpty() ? nullptr : context_.dataSets.front();
    bool moreData = false;
    if (ds) {
        ds->first();
        moreData = !ds->eof();
        context_.recordCount = ds->recordCount();
    }
    context_.detailNumber = 0;
    if (!moreData) {
        if (report_.PrintIfEmpty)
            printEmptyReport();
        return;
    }
    if (dispatchAndCheckCancel())
        return;
    printBand(enabledBand(TBandType::btTitle));
    printBand(enabledBand(TBandType::btColumnHeader));
    columnTop_ = currentY_;

    TReportBand* detail = enabledBand(TBandType::btDetail);
    while (moreData) {
        if (dispatchAndCheckCancel())
            return;
        ++context_.detailNumber;
        if (detail && !fits(*detail))
            nextColumn();
        printBand(detail);
        ds->next();
        moreData = !ds->eof();
        const int count = context_.recordCount;
        printer_.postProgress(
            count > 0 ? int(qMin<qint64>(100, qint64(context_.detailNumber) * 100 / count)) : 0);
    }
    printBand(enabledBand(TBandType::btSummary));
}

// ----- TReport entry points -----

void TReport::Generate(TReportPrinter& printer) {
    if (busy_)
        return;
    busy_ = true;
    struct BusyGuard {
        bool& busy;
        ~BusyGuard() { busy = false; }
    } guard{busy_};
    ReportGenerator(*this, printer).run();
}

void TReport::ExportText(TTextExportFilter& filter, TReportPrinter& printer) {
    if (busy_)
        return;
    exportFilter_ = &filter;
    struct ExportGuard {
        TTextExportFilter*& filter;
        ~ExportGuard() { filter = nullptr; }
    } guard{exportFilter_};
    printer.setDestination(TReportDestination::Preview);
    Generate(printer);
    filter.Finish();
}

} // namespace lv26
