#include "maintenance/RecordNavigator.h"

#include "base/Messages.h"
#include "maintenance/DataGrid.h"
#include "maintenance/Glyphs.h"
#include "widgets/ErrorBox.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

namespace lv26 {

namespace {

constexpr int kRepeatDelay = 400;    // ms before the first repeated click
constexpr int kRepeatInterval = 100; // ms between repeated clicks
constexpr int kHintDelay = 500;      // ms the mouse rests before a hint shows
constexpr int kHintDuration = 2500;  // ms a hint stays up

constexpr Message builtInHints[TRecordNavigator::buttonCount] = {
    Message::FirstRecordHint, Message::PriorRecordHint,  Message::NextRecordHint,
    Message::LastRecordHint,  Message::InsertRecordHint, Message::DeleteRecordHint,
    Message::EditRecordHint,  Message::PostEditHint,     Message::CancelEditHint,
    Message::RefreshDataHint};

// Hint timing of the navigator's buttons.
class HintStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay)
            return kHintDelay;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

} // namespace

// ---- the data link --------------------------------------------------------------------------

class TRecordNavigator::Link : public TDataLink {
public:
    explicit Link(TRecordNavigator* navigator) : navigator_(navigator) {}

protected:
    void ActiveChanged() override { navigator_->updateButtons(); }
    void DataSetChanged() override { navigator_->updateButtons(); }
    void EditingChanged() override { navigator_->updateButtons(); }

private:
    TRecordNavigator* navigator_;
};

// ---- one button -------------------------------------------------------------------------------

class TRecordNavigator::Button : public QAbstractButton {
public:
    Button(TRecordNavigator* navigator, NavigateBtn kind)
        : QAbstractButton(navigator), navigator_(navigator), kind_(kind) {
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
        setToolTipDuration(kHintDuration);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QPalette& pal = palette();
        const QRect r = rect();
        p.fillRect(r, pal.color(QPalette::Button));
        const bool down = isDown();
        if (down)
            qDrawShadePanel(&p, r, pal, true, 1);
        else if (isEnabled() && underMouse())
            qDrawShadePanel(&p, r, pal, false, 1);
        const QPixmap glyph = navigatorGlyph(kind_, isEnabled(), devicePixelRatioF());
        const QSize size = glyph.deviceIndependentSize().toSize();
        const int shift = down ? 1 : 0;
        p.drawPixmap((r.width() - size.width()) / 2 + shift,
                     (r.height() - size.height()) / 2 + shift, glyph);
        if (navigator_->hasFocus() && navigator_->markedButton() == kind_) {
            QRect focus = r.adjusted(3, 3, -4, -4).translated(shift, shift);
            p.setPen(QPen(pal.color(QPalette::WindowText), 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(focus);
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        QAbstractButton::mousePressEvent(event);
        if (event->button() == Qt::LeftButton && isDown())
            navigator_->buttonPressed(kind_);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        navigator_->buttonReleased();
        QAbstractButton::mouseReleaseEvent(event);
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave)
            update();
        return QAbstractButton::event(event);
    }

private:
    TRecordNavigator* navigator_;
    NavigateBtn kind_;
};

// ---- the navigator ----------------------------------------------------------------------------

TRecordNavigator::TRecordNavigator(QWidget* parent)
    : QWidget(parent), link_(std::make_unique<Link>(this)), hintStyle_(new HintStyle) {
    hintStyle_->setParent(this);
    setFocusPolicy(arrowKeyFocus);
    for (int i = 0; i < buttonCount; ++i) {
        auto* button = new Button(this, NavigateBtn(i));
        button->setStyle(hintStyle_);
        connect(button, &QAbstractButton::clicked, this, [this, i] { BtnClick(NavigateBtn(i)); });
        buttons_[size_t(i)] = button;
    }
    repeatTimer_.setSingleShot(false);
    connect(&repeatTimer_, &QTimer::timeout, this, &TRecordNavigator::repeatClick);
    setHints({});
    updateButtons();
    resize(240, 25);
}

TRecordNavigator::~TRecordNavigator() {
    link_->setDataSource(nullptr);
}

TDataSource* TRecordNavigator::DataSource() const {
    return link_->DataSource();
}

void TRecordNavigator::setDataSource(TDataSource* source) {
    link_->setDataSource(source);
    updateButtons();
}

void TRecordNavigator::setHints(const QStringList& hints) {
    hints_ = hints;
    for (int i = 0; i < buttonCount; ++i)
        buttons_[size_t(i)]->setToolTip(hintOf(NavigateBtn(i)));
}

QString TRecordNavigator::hintOf(NavigateBtn btn) const {
    const QString own = hints_.value(btn);
    return own.isEmpty() ? msg(builtInHints[btn]) : own;
}

QAbstractButton* TRecordNavigator::button(NavigateBtn btn) const {
    return buttons_[size_t(btn)];
}

TRecordNavigator::EnabledSet TRecordNavigator::enabledButtons(const TDataSet* dataSet) {
    EnabledSet on{};
    if (!dataSet || !dataSet->Active())
        return on;
    const bool canModify = dataSet->CanModify();
    const bool editing = dataSet->Editing();
    const bool empty = dataSet->Bof() && dataSet->Eof();
    on[nbFirst] = on[nbPrior] = !dataSet->Bof();
    on[nbNext] = on[nbLast] = !dataSet->Eof();
    on[nbInsert] = canModify;
    on[nbDelete] = canModify && !empty;
    on[nbEdit] = canModify && !editing;
    on[nbPost] = on[nbCancel] = canModify && editing;
    on[nbRefresh] = canModify;
    return on;
}

void TRecordNavigator::updateButtons() {
    const bool usable = isEnabled() && link_->Active();
    const EnabledSet on = enabledButtons(usable ? link_->DataSet() : nullptr);
    for (int i = 0; i < buttonCount; ++i)
        buttons_[size_t(i)]->setEnabled(on[size_t(i)]);
    if (!buttons_[size_t(repeating_)]->isEnabled())
        repeatTimer_.stop();
}

void TRecordNavigator::BtnClick(NavigateBtn btn) {
    guarded([&] { operate(btn); });
}

void TRecordNavigator::operate(NavigateBtn btn) {
    if (!link_->Active())
        return;
    TDataSet* dataSet = link_->DataSet();
    switch (btn) {
    case nbFirst:
        dataSet->First();
        break;
    case nbPrior:
        dataSet->Prior();
        break;
    case nbNext:
        dataSet->Next();
        break;
    case nbLast:
        dataSet->Last();
        break;
    case nbInsert:
        dataSet->Insert();
        break;
    case nbDelete:
        if (!confirmDelete_ || lv26::confirmDelete())
            dataSet->Delete();
        break;
    case nbEdit:
        dataSet->Edit();
        break;
    case nbPost:
        dataSet->Post();
        break;
    case nbCancel:
        dataSet->Cancel();
        break;
    case nbRefresh:
        dataSet->Refresh();
        break;
    }
}

// ---- auto-repeat ------------------------------------------------------------------------------

void TRecordNavigator::buttonPressed(NavigateBtn btn) {
    marked_ = btn;
    for (Button* button : buttons_)
        button->update();
    if (btn == nbPrior || btn == nbNext) {
        repeating_ = btn;
        repeatTimer_.start(kRepeatDelay);
    }
}

void TRecordNavigator::buttonReleased() {
    repeatTimer_.stop();
}

void TRecordNavigator::repeatClick() {
    repeatTimer_.setInterval(kRepeatInterval);
    Button* button = buttons_[size_t(repeating_)];
    if (!button->isDown() || !button->isEnabled())
        return;
    try {
        operate(repeating_);
    } catch (...) {
        repeatTimer_.stop();
        handleCurrentException();
    }
}

// ---- keyboard and layout ----------------------------------------------------------------------

void TRecordNavigator::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int step = event->key() == Qt::Key_Right ? 1 : -1;
        marked_ = NavigateBtn(std::clamp(int(marked_) + step, 0, buttonCount - 1));
        for (Button* button : buttons_)
            button->update();
        return;
    }
    case Qt::Key_Up:
    case Qt::Key_Down:
        return; // the navigator keeps every arrow key
    case Qt::Key_Space:
        if (event->modifiers() == Qt::NoModifier && buttons_[size_t(marked_)]->isEnabled())
            BtnClick(marked_);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TRecordNavigator::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    buttons_[size_t(marked_)]->update();
}

void TRecordNavigator::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    buttons_[size_t(marked_)]->update();
}

void TRecordNavigator::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        updateButtons();
}

QSize TRecordNavigator::sizeHint() const {
    return QSize(240, 25);
}

QSize TRecordNavigator::minimumSizeHint() const {
    return QSize(20 * buttonCount, 18);
}

void TRecordNavigator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutButtons();
}

// Each button takes width / 10 pixels; what is left over pads the strip's ends equally.
void TRecordNavigator::layoutButtons() {
    const int w = std::max(width(), 20 * buttonCount) / buttonCount;
    const int h = std::max(height(), 18);
    const int left = (width() - w * buttonCount) / 2;
    for (int i = 0; i < buttonCount; ++i)
        buttons_[size_t(i)]->setGeometry(std::max(left, 0) + i * w, 0, w, h);
}

} // namespace lv26
