#include "maintenance/Unit2.h"

#include "base/Error.h"
#include "base/Messages.h"
#include "data/Fonts.h"
#include "data/Unit3.h"
#include "maintenance/DataGrid.h"
#include "maintenance/RecordNavigator.h"
#include "ui_Unit2.h"
#include "widgets/BitBtn.h"
#include "widgets/Panel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace lv26 {

TForm2* Form2 = nullptr;

namespace {

// Window frame of the design: outer 727 x 293 around a client area of 719 x 266.
constexpr int kFrameWidth = 727 - 719;
constexpr int kFrameHeight = 293 - 266;

bool isArrowKey(int key) {
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm2>()) {
    installFontSubstitutions();
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    Panel1 = ui_->Panel1;
    DBNavigator = ui_->DBNavigator;
    BitBtn1 = ui_->BitBtn1;
    Panel2 = ui_->Panel2;
    DBGrid1 = ui_->DBGrid1;
    Panel3 = ui_->Panel3;
    DBGrid2 = ui_->DBGrid2;

    // The panels take the focus only from code and the arrow keys, never from Tab or a click.
    for (TPanel* panel : {Panel1, Panel2, Panel3})
        panel->setFocusPolicy(arrowKeyFocus);
    // The tab stops, cyclic: the close button, the employee grid, the weeks grid.
    setTabOrder(BitBtn1, DBGrid1);
    setTabOrder(DBGrid1, DBGrid2);

    if (Dados) {
        DBNavigator->setDataSource(Dados->DataSource1);
        DBGrid1->setDataSource(Dados->DataSource1);
        DBGrid2->setDataSource(Dados->DataSource2);
    }
    Panel1->setFocus(Qt::OtherFocusReason);
}

TForm2::~TForm2() = default;

int TForm2::exec() {
    if (isVisible())
        throw Error(msg(Message::CannotShowModal));
    setWindowModality(Qt::ApplicationModal);
    QDialog::exec();
    return mrCancel;
}

void TForm2::setVisible(bool visible) {
    if (visible && !placed_)
        placeFirstTime();
    QDialog::setVisible(visible);
}

// Centred on the screen, clamped at its top-left corner; later showings keep the place.
void TForm2::placeFirstTime() {
    placed_ = true;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const int left = std::max(0, (area.width() - (width() + kFrameWidth)) / 2);
    const int top = std::max(0, (area.height() - (height() + kFrameHeight)) / 2);
    move(area.left() + left, area.top() + top);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    QWidget* focused = focusWidget();
    const bool alt = event->modifiers() & Qt::AltModifier;
    if (isArrowKey(event->key()) && !alt && qobject_cast<TPanel*>(focused)) {
        const bool next = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
        focusSibling(focused, next);
        return;
    }
    if (handleFormKey(this, event))
        return;
    // No cancel button: Esc never closes this window. Enter clicks nothing of its own.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Every way of closing ends the modal loop with mrCancel; the window is only hidden, and
// the tables keep whatever state they are in.
void TForm2::closeEvent(QCloseEvent* event) {
    event->accept();
    if (isVisible())
        done(mrCancel);
}

} // namespace lv26
