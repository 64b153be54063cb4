#include "preview/ProgressForm.h"

#include "base/Messages.h"
#include "report/ReportPrinter.h"
#include "ui_ProgressForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressBar>
#include <QScreen>

namespace lv26 {

TProgressForm::TProgressForm(TReportPrinter& printer, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::TProgressForm>()), printer_(printer) {
    ui_->setupUi(this);
    setFixedSize(147, 84);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setGeometry(10, 10, width() - 20, 15);
    connect(ui_->CancelButton, &QPushButton::clicked, this, &TProgressForm::CancelButtonClick);
}

TProgressForm::~TProgressForm() = default;

QLabel* TProgressForm::Info() const {
    return ui_->Info;
}
QPushButton* TProgressForm::CancelButton() const {
    return ui_->CancelButton;
}

void TProgressForm::CancelButtonClick() {
    printer_.Cancel();
}

void TProgressForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void TProgressForm::closeEvent(QCloseEvent* event) {
    // The window lives as long as its run; its close box cancels the run.
    event->ignore();
    CancelButtonClick();
}

bool TProgressForm::event(QEvent* e) {
    if (e->type() == ProgressEventType) {
        progressChanged();
        return true;
    }
    if (e->type() == PagesCompletedEventType)
        return true;
    return QWidget::event(e);
}

void TProgressForm::progressChanged() {
    const int p = printer_.Progress();
    if (p % 5 != 0)
        return;
    bar_->setValue(p);
    ui_->Info->setText(msg(Message::ProgressCompleted, {p}));
    QCoreApplication::processEvents();
}

} // namespace lv26
