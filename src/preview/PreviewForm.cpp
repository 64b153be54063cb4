#include "preview/PreviewForm.h"

#include "base/Messages.h"
#include "data/CsvExport.h"
#include "preview/FindBar.h"
#include "preview/PreviewControl.h"
#include "preview/ProgressForm.h"
#include "preview/ReportPrint.h"
#include "report/PdfExport.h"
#include "report/ReportPrinter.h"
#include "report/ReportTypes.h"
#include "report/TextExport.h"
#include "ui_PreviewForm.h"
#include "widgets/BitBtn.h"
#include "widgets/ErrorBox.h"
#include "widgets/Panel.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

// The glyphs live in a static library: their resource has to be registered by hand.
static void initPreviewResources() {
    Q_INIT_RESOURCE(preview);
}

namespace lv26 {

namespace {

// The pixmap with its bottom-left pixel's colour made transparent, as bitmap buttons do.
QPixmap transparentGlyph(const QString& resource) {
    QPixmap pixmap(resource);
    if (pixmap.isNull())
        return pixmap;
    const QImage image = pixmap.toImage();
    pixmap.setMask(QBitmap::fromImage(
        image.createMaskFromColor(image.pixel(0, image.height() - 1), Qt::MaskInColor)));
    return pixmap;
}

// A toolbar glyph from the resources: the 18 x 18 image, and its @2x drawing for screens of
// a device pixel ratio above 1, both with a transparent background.
QIcon toolbarGlyph(const QString& name) {
    QIcon icon;
    icon.addPixmap(transparentGlyph(QStringLiteral(":/preview/%1.xpm").arg(name)));
    QPixmap large = transparentGlyph(QStringLiteral(":/preview/%1@2x.xpm").arg(name));
    large.setDevicePixelRatio(2);
    icon.addPixmap(large);
    return icon;
}

} // namespace

TPreviewForm::TPreviewForm(std::shared_ptr<TReportPrinter> printer, TReportActions actions,
                           QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TPreviewForm>()),
      printer_(std::move(printer)), actions_(std::move(actions)) {
    initPreviewResources();
    ui_->setupUi(this);
    // Restored: 571 x 472 centred on the screen; it opens maximized.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    setWindowState(Qt::WindowMaximized);
    setWindowTitle(printer_->Title);

    gauge_ = new QProgressBar(ui_->StatusPanel);
    gauge_->setRange(0, 100);
    gauge_->setValue(0);
    gauge_->setTextVisible(false);
    gauge_->setGeometry(2, 2, 100, ui_->StatusPanel->maximumHeight() - 3);

    const std::pair<QToolButton*, void (TPreviewForm::*)()> buttons[] = {
        {ui_->ZoomToFit, &TPreviewForm::ZoomToFitClick},
        {ui_->ZoomTo100, &TPreviewForm::ZoomTo100Click},
        {ui_->ZoomToWidth, &TPreviewForm::ZoomToWidthClick},
        {ui_->FirstPage, &TPreviewForm::FirstPageClick},
        {ui_->PrevPage, &TPreviewForm::PrevPageClick},
        {ui_->NextPage, &TPreviewForm::NextPageClick},
        {ui_->LastPage, &TPreviewForm::LastPageClick},
        {ui_->PrintSetup, &TPreviewForm::PrintSetupClick},
        {ui_->Print, &TPreviewForm::PrintClick},
        {ui_->Save, &TPreviewForm::SaveClick},
        {ui_->Load, &TPreviewForm::LoadClick},
    };
    const std::pair<QToolButton*, const char*> glyphs[] = {
        {ui_->ZoomToFit, "pv_zoomtofit"},
        {ui_->ZoomTo100, "pv_zoomto100"},
        {ui_->ZoomToWidth, "pv_zoomtowidth"},
        {ui_->FirstPage, "pv_firstpage"},
        {ui_->PrevPage, "pv_prevpage"},
        {ui_->NextPage, "pv_nextpage"},
        {ui_->LastPage, "pv_lastpage"},
        {ui_->PrintSetup, "pv_printsetup"},
        {ui_->Print, "pv_print"},
        {ui_->Save, "pv_save"},
        {ui_->Load, "pv_open"},
    };
    for (const auto& [button, name] : glyphs)
        button->setIcon(toolbarGlyph(QLatin1String(name)));
    ui_->Exit->setHighDensityGlyph(QPixmap(QStringLiteral(":/preview/pv_exit@2x.xpm")));
    for (const auto& [button, handler] : buttons)
        connect(button, &QToolButton::clicked, this,
                [this, handler = handler] { runAction([&] { (this->*handler)(); }); });
    connect(ui_->Exit, &TBitBtn::OnClick, this, &TPreviewForm::ExitClick);
    connect(ui_->Preview, &TPreviewControl::OnPageAvailable, this,
            [this](TPreviewControl*, int page) { PreviewPageAvailable(page); });
    connect(ui_->Preview, &TPreviewControl::OnProgressUpdate, this,
            [this](TPreviewControl*, int progress) { PreviewProgressUpdate(progress); });

    // Ctrl+F opens the find bar, between the page and the status line.
    findBar_ = new TFindBar(ui_->Preview, this);
    ui_->formLayout->insertWidget(ui_->formLayout->indexOf(ui_->StatusPanel), findBar_);
    connect(findBar_, &TFindBar::pageShown, this, &TPreviewForm::updateStatus);

    // Key preview: the window sees every key before the control that has the focus.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    ui_->Preview->attach(printer_.get());
    ui_->ZoomToWidth->setChecked(true);
}

TPreviewForm::~TPreviewForm() {
    dropPendingPdf();
    ui_->Preview->detach();
}

TPreviewControl* TPreviewForm::preview() const {
    return ui_->Preview;
}

QString TPreviewForm::statusText() const {
    return ui_->Status->text();
}

void TPreviewForm::runAction(const std::function<void()>& action) {
    // The object and the window stay alive until the action has returned, even when the
    // window is closed from a message dispatched inside it.
    const std::shared_ptr<TReportPrinter> keep = printer_;
    ++runningActions_;
    guarded(action);
    --runningActions_;
    releaseIfClosed();
}

void TPreviewForm::releaseIfClosed() {
    if (open_ || runningActions_ > 0)
        return;
    printer_.reset();
    deleteLater();
}

// ----- zoom -----

void TPreviewForm::ZoomToFitClick() {
    QCoreApplication::processEvents();
    ui_->Preview->zoomToFit();
}

void TPreviewForm::ZoomTo100Click() {
    QCoreApplication::processEvents();
    ui_->Preview->setZoom(100);
}

void TPreviewForm::ZoomToWidthClick() {
    QCoreApplication::processEvents();
    ui_->Preview->zoomToWidth();
}

void TPreviewForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ui_->Preview->layoutImage(); // FormResize
}

// ----- pages -----

void TPreviewForm::FirstPageClick() {
    ui_->Preview->setPageNumber(1);
    updateStatus();
}

void TPreviewForm::PrevPageClick() {
    ui_->Preview->setPageNumber(ui_->Preview->PageNumber() - 1);
    updateStatus();
}

void TPreviewForm::NextPageClick() {
    ui_->Preview->setPageNumber(ui_->Preview->PageNumber() + 1);
    updateStatus();
}

void TPreviewForm::LastPageClick() {
    if (TReportPrinter* p = ui_->Preview->printer())
        ui_->Preview->setPageNumber(p->PageCount());
    updateStatus();
}

void TPreviewForm::updateStatus() {
    const TReportPrinter* p = ui_->Preview->printer();
    if (!p)
        return;
    ui_->Status->setText(msg(Message::PageOfPages, {ui_->Preview->PageNumber(), p->PageCount()}));
}

void TPreviewForm::PreviewPageAvailable(int) {
    updateStatus();
    if (pdfWait_)
        runAction([this] { finishPendingPdf(); });
}

void TPreviewForm::PreviewProgressUpdate(int progress) {
    gauge_->setValue(progress);
    gauge_->setVisible(progress > 0 && progress < 100);
    if (pdfWaitProgress_)
        pdfWaitProgress_->postProgress(progress);
}

QWidget* TPreviewForm::keyReceiver() {
    if (QWidget* grabber = QWidget::keyboardGrabber(); grabber && grabber->window() == this)
        return grabber;
    QWidget* focused = focusWidget();
    return focused ? focused : this;
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
    if (pdfWait_ && watched == pdfWait_.get() && event->type() == QEvent::Close) {
        QMetaObject::invokeMethod(this, &TPreviewForm::dropPendingPdf, Qt::QueuedConnection);
        return false;
    }
    // A key nobody takes travels up from the focused widget through its parents, all of them
    // filtered here: it is acted on only where it arrives first.
    if (event->type() == QEvent::KeyPress && isVisible() && watched == keyReceiver())
        runAction([&] { FormKeyDown(static_cast<QKeyEvent*>(event)); });
    return QWidget::eventFilter(watched, event); // the key goes on to its control
}

void TPreviewForm::keyPressEvent(QKeyEvent* event) {
    // Esc presses Close, the window's cancel button; accelerators reach their buttons.
    if (!handleFormKey(this, event))
        QWidget::keyPressEvent(event);
}

void TPreviewForm::FormKeyDown(QKeyEvent* event) {
    const bool ctrlOnly = (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_PageUp:
        ctrlOnly ? FirstPageClick() : PrevPageClick();
        break;
    case Qt::Key_PageDown:
        ctrlOnly ? LastPageClick() : NextPageClick();
        break;
    case Qt::Key_Home:
        FirstPageClick();
        break;
    case Qt::Key_End:
        LastPageClick();
        break;
    default:
        break;
    }
}

// ----- print -----

void TPreviewForm::PrintClick() {
    if (!printer_)
        return;
    if (actions_.print)
        actions_.print();
    else if (actions_.printStored)
        actions_.printStored(*printer_);
    else
        printStoredPages(*printer_);
}

void TPreviewForm::PrintSetupClick() {
    if (actions_.printerSetup)
        actions_.printerSetup();
}

// ----- save and load -----

namespace {

QString suffixOf(const QString& filter) {
    if (filter == TPreviewForm::textFileFilter())
        return QStringLiteral("TXT");
    if (filter == TPreviewForm::pdfFileFilter())
        return QStringLiteral("pdf");
    if (filter == TPreviewForm::csvFileFilter())
        return QStringLiteral("csv");
    return QStringLiteral("QRP");
}

// Every page generated and stored: a generation that stopped on an error keeps the page it
// was drawing out of the store, and a cancelled one never finishes.
bool allPagesStored(const TReportPrinter& printer) {
    return printer.Status() == TPrinterStatus::Finished && printer.PageCount() > 0 &&
           printer.PagesCompleted() == printer.PageCount();
}

} // namespace

void TPreviewForm::SaveClick() {
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({reportFileFilter(), textFileFilter(), pdfFileFilter(), csvFileFilter()});
    dialog.selectNameFilter(reportFileFilter());
    dialog.setDefaultSuffix(suffixOf(reportFileFilter()));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    const QString filter = dialog.selectedNameFilter();
    if (filter == textFileFilter())
        saveTextFile(fileName);
    else if (filter == pdfFileFilter())
        savePdfFile(fileName);
    else if (filter == csvFileFilter())
        saveCsvFile(fileName);
    else
        saveReportFile(fileName);
}

void TPreviewForm::saveReportFile(const QString& fileName) {
    if (printer_)
        printer_->Save(fileName);
}

void TPreviewForm::saveTextFile(const QString& fileName) {
    if (!actions_.exportText)
        return;
    TTextExportFilter filter(fileName);
    const TReportActions actions = actions_; // the window may lose them while the export runs
    actions.exportText(filter);
}

void TPreviewForm::savePdfFile(const QString& fileName) {
    if (!printer_ || pdfWait_)
        return;
    if (printer_->Status() != TPrinterStatus::Busy) {
        if (allPagesStored(*printer_))
            writePdf(*printer_, fileName);
        return;
    }
    pendingPdf_ = fileName;
    pdfWaitProgress_ = std::make_unique<TReportPrinter>(PrinterInfo{});
    pdfWait_ = std::make_unique<TProgressForm>(*pdfWaitProgress_);
    pdfWaitProgress_->setProgressReceiver(pdfWait_.get());
    pdfWaitProgress_->postProgress(printer_->Progress());
    // The window's Cancel and its close box set the cancel flag of the object it reports on.
    connect(pdfWait_->CancelButton(), &QPushButton::clicked, this, &TPreviewForm::dropPendingPdf,
            Qt::QueuedConnection);
    pdfWait_->installEventFilter(this);
    // A generation that stops on an error posts nothing more: look at its state now and then.
    auto* poll = new QTimer(pdfWait_.get());
    connect(poll, &QTimer::timeout, this, [this] { runAction([this] { finishPendingPdf(); }); });
    poll->start(200);
    pdfWait_->show();
}

void TPreviewForm::finishPendingPdf() {
    if (!pdfWait_ || !printer_ || printer_->Status() == TPrinterStatus::Busy)
        return;
    const QString fileName = pendingPdf_;
    const bool complete = allPagesStored(*printer_);
    dropPendingPdf();
    if (complete)
        writePdf(*printer_, fileName);
}

void TPreviewForm::dropPendingPdf() {
    pendingPdf_.clear();
    if (pdfWait_)
        pdfWait_->removeEventFilter(this);
    pdfWait_.reset();
    pdfWaitProgress_.reset();
}

QWidget* TPreviewForm::pdfWaitWindow() const {
    return pdfWait_.get();
}

void TPreviewForm::saveCsvFile(const QString& fileName) {
    writeMonthCsv(fileName);
}

void TPreviewForm::LoadClick() {
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(reportFileFilter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    if (!QFileInfo::exists(fileName)) {
        QMessageBox::information(this, windowTitle(), msg(Message::FileDoesNotExist));
        return;
    }
    loadReportFile(fileName);
}

void TPreviewForm::loadReportFile(const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        throw EReportError(msg(Message::FileDoesNotExist));
    if (!printer_)
        return;
    TPreviewControl* preview = ui_->Preview;
    preview->image()->clear(); // the old pages go with the object's page store
    try {
        printer_->Load(fileName);
    } catch (...) {
        updateStatus();
        throw;
    }
    TReportActions kept;
    kept.printStored = std::move(actions_.printStored);
    actions_ = std::move(kept);
    try {
        preview->setPageNumber(1);
        preview->refetchPage();
    } catch (...) {
        updateStatus();
        throw;
    }
    updateStatus();
}

// ----- closing -----

void TPreviewForm::ExitClick() {
    close();
}

void TPreviewForm::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!open_)
        return;
    open_ = false;
    dropPendingPdf();
    ui_->Preview->detach();
    hide();
    Q_EMIT closed();
    releaseIfClosed();
}

} // namespace lv26
