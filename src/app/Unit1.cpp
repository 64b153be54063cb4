#include "app/Unit1.h"

#include "app/Application.h"
#include "app/Help.h"
#include "data/Unit3.h"
#include "ui_Unit1.h"
#include "widgets/BitBtn.h"
#include "widgets/ErrorBox.h"

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QShortcut>

namespace lv26 {

TForm1* Form1 = nullptr;
QDialog* maintenanceWindow = nullptr;
void (*previewPayroll)() = nullptr;
bool (*payrollReportBusy)() = nullptr;
void (*cancelPayrollReport)() = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TForm1>()) {
    ui_->setupUi(this);
    move(200, 108);
    Label1 = ui_->Label1;
    BitBtn4 = ui_->BitBtn4;
    BitBtn1 = ui_->BitBtn1;
    BitBtn3 = ui_->BitBtn3;
    BitBtn2 = ui_->BitBtn2;
    scaleFormToScreen(this);
    BitBtn4->setFocus();

    connect(BitBtn1, &TBitBtn::OnClick, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &TBitBtn::OnClick, this, &TForm1::BitBtn1Click);
    connect(BitBtn3, &TBitBtn::OnClick, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &TBitBtn::OnClick, this, &TForm1::BitBtn4Click);

    // Window managers usually take Alt+F4 themselves; this covers sessions without one.
    auto* altF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(altF4, &QShortcut::activated, this, &QWidget::close);
}

TForm1::~TForm1() = default;

void TForm1::BitBtn1Click() {
    if (maintenanceWindow)
        execModal(*maintenanceWindow);
}

void TForm1::BitBtn3Click() {
    // TotalHoras would move Table1 under a generation that is still reading it, and the
    // preview would open nothing anyway.
    if (payrollReportBusy && payrollReportBusy())
        return;
    Dados->TotalHoras();
    if (previewPayroll)
        previewPayroll();
}

void TForm1::BitBtn4Click() {
    auto* app = TApplication::instance();
    app->setHelpFile(QStringLiteral("Lv26.hlp"));
    app->helpCommand(HELP_CONTENTS, 0);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (!handleFormKey(this, event))
        QWidget::keyPressEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    if (auto* app = TApplication::instance(); app && app->mainForm() == this) {
        // The close may arrive from inside a generation's own dispatch, long before the
        // preview's wait could notice the end of the loop: stop the generation itself.
        if (cancelPayrollReport)
            cancelPayrollReport();
        QCoreApplication::exit(0);
    }
}

} // namespace lv26
