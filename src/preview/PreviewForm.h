#pragma once

// The preview window (TPreviewForm): toolbar, preview control and status line over one report
// printer object. It opens maximized, shows pages as the generation finishes them, zooms,
// pages, prints, saves and loads. Closing it frees it (deleteLater), except while one of its
// own actions is still running: it is then hidden and freed when that action returns.

#include "base/Messages.h"

#include <QProgressBar>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TPreviewForm;
}

namespace lv26 {

class TFindBar;
class TPreviewControl;
class TProgressForm;
class TReportPrinter;
class TTextExportFilter;

// The report's actions a preview window calls through its report printer object. Empty
// functions mean the window's object has no such action (after a report file was loaded, or
// never given). printStored prints a loaded file's pages on the report's own printer and is
// the one action a load keeps; without it they go to the system's default printer.
struct TReportActions {
    std::function<void()> print;
    std::function<void()> printerSetup;
    std::function<void(TTextExportFilter&)> exportText;
    std::function<void(TReportPrinter&)> printStored;
};

class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    // The filter entries of the Save dialog; the first is the report file.
    static QString reportFileFilter() { return msg(Message::ReportFileFilter); }
    static QString textFileFilter() { return msg(Message::TextFileFilter); }
    static QString pdfFileFilter() { return msg(Message::PdfFileFilter); }
    static QString csvFileFilter() { return msg(Message::CsvFileFilter); }

    // A window (top-level, owned by the application) over `printer`, which it keeps alive
    // while it holds it; attaches it to the preview control. `actions` are the report's.
    // Set to open maximized; not shown yet.
    TPreviewForm(std::shared_ptr<TReportPrinter> printer, TReportActions actions,
                 QWidget* parent = nullptr);
    ~TPreviewForm() override;

    TReportPrinter* printer() const { return printer_.get(); }
    TPreviewControl* preview() const;
    TFindBar* findBar() const { return findBar_; }
    QProgressBar* gauge() const { return gauge_; }
    const TReportActions& actions() const { return actions_; }
    // The status line's text ("Working..." or "Page n of m").
    QString statusText() const;
    // False once the window has been closed (it may still exist until freed).
    bool isOpen() const { return open_; }

    // Button handlers.
    void ZoomToFitClick();
    void ZoomTo100Click();
    void ZoomToWidthClick();
    void FirstPageClick();
    void PrevPageClick();
    void NextPageClick();
    void LastPageClick();
    void PrintSetupClick();
    void PrintClick();
    // Show their dialogs, then call the functions below.
    void SaveClick();
    void LoadClick();
    void ExitClick();

    // What Save does with a chosen name: the page store byte for byte when the object is
    // finished (else nothing), or a text export run through the report's export action (when
    // the object has it). Raises the page store's or the export's file errors.
    void saveReportFile(const QString& fileName);
    void saveTextFile(const QString& fileName);
    // The pages as a PDF. With every page stored it is written at once; while the generation
    // is still producing pages the export waits for the rest under a progress window whose
    // Cancel drops it (then no file is written), and writes the file when the last page is
    // stored. A generation that ends early (an error, the window closed) writes nothing: a
    // partial listing is never presented as complete. Raises writePdf()'s errors.
    void savePdfFile(const QString& fileName);
    // The month of the employee table as CSV (writeMonthCsv over the working directory's
    // Func.DB). Raises its errors.
    void saveCsvFile(const QString& fileName);
    // The progress window of a PDF export waiting for its pages, or null; for tests.
    QWidget* pdfWaitWindow() const;
    // What Load does with a chosen name: "File does not exist" is raised for a missing file;
    // otherwise the object loads it (a running generation is cancelled), loses its actions,
    // and page 1 is shown. Raises "Cannot open file %s" and the file's validity errors; the
    // window then shows no page.
    void loadReportFile(const QString& fileName);

Q_SIGNALS:
    // Emitted once, when the window is closed and has detached its object.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Runs one of the window's own actions: errors go to the application's error box, and the
    // window is freed afterwards when it was closed meanwhile.
    void runAction(const std::function<void()>& action);
    void FormKeyDown(QKeyEvent* event);
    // The widget of this window that a key typed now reaches first: the keyboard grabber, the
    // focused widget, or the window itself.
    QWidget* keyReceiver();
    void PreviewPageAvailable(int pageNum);
    void PreviewProgressUpdate(int progress);
    void updateStatus();
    void releaseIfClosed();
    void finishPendingPdf();
    void dropPendingPdf();

    std::unique_ptr<Ui::TPreviewForm> ui_;
    std::shared_ptr<TReportPrinter> printer_;
    TReportActions actions_;
    QProgressBar* gauge_ = nullptr;
    TFindBar* findBar_ = nullptr;
    int runningActions_ = 0;
    // A PDF export waiting for the generation: its file, and the progress window (with the
    // object that window reports on, whose cancel flag is the export's own).
    QString pendingPdf_;
    std::unique_ptr<TReportPrinter> pdfWaitProgress_;
    std::unique_ptr<TProgressForm> pdfWait_;
    bool open_ = true;
};

} // namespace lv26
