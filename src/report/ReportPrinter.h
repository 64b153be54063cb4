#pragma once

// The report printer object (TReportPrinter): what one preview, one print or one text export
// owns while it runs: destination, status, page counts, cancel flag, progress receiver, the
// page being drawn and the page store. Generation drives it through BeginDoc, NewPage,
// EndDoc and AbandonDoc; the preview window reads pages and counts from it.
//
// Core part only: the printer destination draws on any QPagedPaintDevice (a QPrinter, a
// QPdfWriter) handed in by the print layer, and the printer's capabilities come from a
// query the print layer installs (setDefaultPrinterQuery); without one there is no printer.

#include "report/ReportCanvas.h"
#include "report/ReportTypes.h"

#include <QByteArray>
#include <QEvent>
#include <QList>
#include <QPageRanges>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QPagedPaintDevice;
class QPainter;

namespace lv26 {

class EmfWriter;
class TPageList;
class TReportPage;
struct TReportPrinterSettings;

// The two notifications posted to the progress receiver: the message numbers 1024 and 1025
// are kept as offsets from QEvent::User.
inline constexpr int kProgressMessage = 1024;       // value: percentage done
inline constexpr int kPagesCompletedMessage = 1025; // value: pages finished so far
inline constexpr QEvent::Type ProgressEventType = QEvent::Type(QEvent::User + kProgressMessage);
inline constexpr QEvent::Type PagesCompletedEventType =
    QEvent::Type(QEvent::User + kPagesCompletedMessage);

class ReportNotifyEvent : public QEvent {
public:
    ReportNotifyEvent(QEvent::Type type, int value) : QEvent(type), value_(value) {}
    // The percentage (ProgressEventType) or the number of finished pages.
    int value() const { return value_; }

private:
    int value_;
};

// The printer as a report printer object sees it when it is created.
struct PrinterInfo {
    bool available = false;       // at least one printer is installed
    QList<TPaperSize> paperSizes; // named sizes the driver offers
    TPaperSize currentPaper = TPaperSize::A4;
    QSizeF currentPaperSize{2100, 2970}; // tenths of a millimetre, portrait
};

enum class TReportDestination { Preview, Printer };
enum class TPrinterStatus { Ready, Busy, Finished };

class TReportPrinter {
public:
    using PrinterQuery = std::function<PrinterInfo()>;

    // Installs the query that tells new report printer objects about the default printer.
    // Without one, objects see no printer (A4 paper).
    static void setDefaultPrinterQuery(PrinterQuery query);

    // A ready object over the default printer (see setDefaultPrinterQuery), preview
    // destination, empty page store.
    TReportPrinter();
    // A ready object over `printer`.
    explicit TReportPrinter(const PrinterInfo& printer);
    ~TReportPrinter();
    TReportPrinter(const TReportPrinter&) = delete;
    TReportPrinter& operator=(const TReportPrinter&) = delete;

    TReportDestination Destination() const { return destination_; }
    void setDestination(TReportDestination destination) { destination_ = destination; }
    // The device the printer destination draws on; not owned, must outlive the run.
    void setPrinterDevice(QPagedPaintDevice* device) { device_ = device; }

    TPrinterStatus Status() const { return status_; }
    // Pages begun by the running or last generation (or held by a loaded file).
    int PageCount() const { return pageCount_; }
    int PagesCompleted() const { return pagesCompleted_; }
    // Sets the cancel flag; a running generation stops before its next row.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    // The object notifications are posted to; not owned, may be null or go away.
    QObject* ProgressReceiver() const { return receiver_; }
    void setProgressReceiver(QObject* receiver) { receiver_ = receiver; }
    // The last percentage posted.
    int Progress() const { return progress_; }
    bool ShowingPreview = false;
    QString Title;
    bool Compression = false;
    // Print range, 1-based, 0 meaning open at that end.
    int FirstPage = 0;
    int LastPage = 0;
    // When not empty, only these pages of the range are printed.
    QPageRanges PrintPages;

    const PrinterInfo& printer() const { return printer_; }
    // Takes the report's paper and printer settings: the report's paper is selected when the
    // printer offers it (or is custom), else the printer's current paper stays (A4 without
    // a printer).
    void applySettings(const TReportPage& page, const TReportPrinterSettings& settings);
    TPaperSize selectedPaper() const { return paper_; }
    // Paper width and length for the current orientation, tenths of a millimetre.
    double paperWidth() const;
    double paperLength() const;

    // ---- generation side ----
    // Clears the cancel flag, sets the device mapping, creates a fresh page store (preview)
    // or begins painting on the device (printer); status busy, counts 0.
    void BeginDoc();
    // Finishes the page being drawn, if any (appended to the page store or ended on the
    // device; the pages-completed notification is posted), and begins a blank page.
    void NewPage();
    // Finishes the last page, rewrites the page store's header, ends the print job on the
    // device (EndPrintJob), status finished. Raises "Printer selected is not valid" when the
    // device could not finish the job (the status is finished all the same).
    void EndDoc();
    // Throws the page being drawn away (nothing appended, nothing posted), ends the print job
    // on the device, status finished. Raises as EndDoc.
    void AbandonDoc();
    // Pages begun on the printer device by the running or last generation: those inside the
    // print range. 0 means that no print job was opened.
    int DevicePages() const { return devicePages_; }
    // Ends the print job still open on the device, if any: a cancelled generation leaves it
    // open, EndDoc and AbandonDoc end it. Returns false when the device could not finish the
    // job, now or when it was ended before.
    bool EndPrintJob();
    // The page being drawn; null before the first NewPage and after the end.
    ReportCanvas* canvas() const { return canvas_.get(); }
    const report::DeviceMapping& mapping() const { return mapping_; }
    // Also sends every drawing call made on the pages to `observer` (not owned; null for
    // none), e.g. to follow what is drawn without decoding pictures. Measures come from the
    // page itself. Takes effect from the next page begun.
    void setDrawingObserver(ReportCanvas* observer) { observer_ = observer; }
    // Posts the progress notification with `percent` (nothing without a receiver).
    void postProgress(int percent);

    // ---- preview side ----
    // The page store; null until a preview generation begins or a file is loaded.
    TPageList* pageList() const { return pages_.get(); }
    // Page `n`'s picture, or nullopt unless busy or finished and 1 <= n <= pages stored.
    // Raises "Metafile is not valid" for a damaged page.
    std::optional<QByteArray> fetchPage(int n) const;
    // Writes the page store to `fileName` when finished; otherwise does nothing.
    void Save(const QString& fileName);
    // Replaces the pages with those of the report file `fileName` (a running generation is
    // cancelled first); status finished. Raises the page store's errors; the old pages are
    // already gone then.
    void Load(const QString& fileName);

private:
    void finishPage();
    void beginPicture();
    void setCanvas(std::unique_ptr<ReportCanvas> page);
    bool pageInPrintRange(int page) const;
    void post(QEvent::Type type, int value);
    void setPrinterMapping();

    PrinterInfo printer_;
    TPaperSize paper_ = TPaperSize::A4;
    QSizeF paperSize_{2100, 2970}; // portrait
    TOrientation orientation_ = TOrientation::poPortrait;

    TReportDestination destination_ = TReportDestination::Preview;
    TPrinterStatus status_ = TPrinterStatus::Ready;
    int pageCount_ = 0;
    int pagesCompleted_ = 0;
    bool cancelled_ = false;
    int progress_ = 0;
    QPointer<QObject> receiver_;

    report::DeviceMapping mapping_;
    std::unique_ptr<TPageList> pages_;
    std::unique_ptr<EmfWriter> picture_; // the page being drawn as a picture
    QPagedPaintDevice* device_ = nullptr;
    std::unique_ptr<QPainter> painter_;
    std::shared_ptr<PainterFontCache> deviceFonts_; // kept across the device's pages
    int devicePages_ = 0;                           // pages begun on the device
    bool jobFailed_ = false;                        // the device could not finish the job
    std::unique_ptr<ReportCanvas> canvas_;
    ReportCanvas* observer_ = nullptr;
};

// Records a page through an EmfWriter that is recording (beginPage called). Not owning it.
class EmfCanvas : public ReportCanvas {
public:
    EmfCanvas(EmfWriter& writer, double dpiX, double dpiY);

    double pixelsPerInchX() const override { return dpiX_; }
    double pixelsPerInchY() const override { return dpiY_; }
    void fillRect(const QRect& rect, const QColor& color) override;
    void setFont(const TReportFont& font) override;
    QSize textExtent(const QString& text) override;
    void drawText(int x, int y, const QString& text, TAlignment alignment) override;
    void drawLine(QPoint from, QPoint to, const QColor& color, int width) override;

private:
    EmfWriter& writer_;
    double dpiX_;
    double dpiY_;
};

} // namespace lv26
