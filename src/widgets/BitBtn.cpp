#include "widgets/BitBtn.h"

#include "base/Messages.h"
#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QBitmap>
#include <QDialog>
#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVariant>

static void initGlyphResources() {
    Q_INIT_RESOURCE(glyphs);
}

namespace lv26 {

namespace {

std::function<void(QWidget*, int)>& helpContextHandler() {
    static std::function<void(QWidget*, int)> handler;
    return handler;
}

QString kindCaption(TBitBtn::Kind kind) {
    switch (kind) {
    case TBitBtn::bkHelp:
        return msg(Message::HelpButtonCaption);
    case TBitBtn::bkYes:
        return msg(Message::YesButtonCaption);
    case TBitBtn::bkClose:
        return msg(Message::CloseButtonCaption);
    case TBitBtn::bkCustom:
        break;
    }
    return {};
}

// The caption's accelerator: the character after the first single '&' ("&&" stands for a
// literal ampersand and marks nothing); none when there is no such character.
QChar acceleratorOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            return caption[i + 1];
        ++i;
    }
    return {};
}

// The greyed, embossed copy of an image drawn when there is no disabled image of its own:
// a white copy one pixel down and right under a dark grey copy.
QPixmap embossed(const QPixmap& normal) {
    QImage shape = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    auto silhouette = [&shape](QRgb colour) {
        QImage out(shape.size(), QImage::Format_ARGB32);
        for (int y = 0; y < shape.height(); ++y)
            for (int x = 0; x < shape.width(); ++x)
                out.setPixel(x, y, qAlpha(shape.pixel(x, y)) > 127 ? colour : 0);
        return out;
    };
    QImage result(shape.size(), QImage::Format_ARGB32);
    result.fill(Qt::transparent);
    QPainter p(&result);
    p.drawImage(1, 1, silhouette(qRgb(255, 255, 255)));
    p.drawImage(0, 0, silhouette(qRgb(128, 128, 128)));
    p.end();
    // Painted in device pixels: the shadow is one device pixel away at every ratio.
    result.setDevicePixelRatio(normal.devicePixelRatio());
    return QPixmap::fromImage(result);
}

// The strip with the colour of its bottom-left pixel made transparent.
QPixmap withTransparentBackground(const QPixmap& strip) {
    QPixmap masked = strip;
    const QImage image = strip.toImage();
    const QRgb transparent = image.pixel(0, image.height() - 1);
    masked.setMask(QBitmap::fromImage(image.createMaskFromColor(transparent)));
    return masked;
}

void storeModalResult(QWidget* window, int result) {
    window->setProperty("modalResult", result);
    auto* dialog = qobject_cast<QDialog*>(window);
    if (result != mrNone && dialog && dialog->isModal() && dialog->isVisible())
        dialog->done(result);
}

} // namespace

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    initGlyphResources();
    setAutoDefault(false);
    connect(this, &QAbstractButton::clicked, this, &TBitBtn::dispatchClick);
}

void TBitBtn::setKind(Kind kind) {
    kind_ = kind;
    if (text().isEmpty())
        setText(kindCaption(kind));
    if (kind == bkCustom)
        return;
    setGlyph(kindGlyph(kind));
    setHighDensityGlyph(kindGlyph(kind, 2));
    setDefaultButton(kind == bkYes);
    cancel_ = false;
    modalResult_ = kind == bkYes ? mrYes : mrNone;
}

QPixmap TBitBtn::kindGlyph(Kind kind, int scale) {
    QString name;
    switch (kind) {
    case bkHelp:
        name = QStringLiteral("btn_help");
        break;
    case bkYes:
        name = QStringLiteral("btn_yes");
        break;
    case bkClose:
        name = QStringLiteral("btn_close");
        break;
    case bkCustom:
        return {};
    }
    if (scale == 2) {
        QPixmap strip(QStringLiteral(":/glyphs/%1@2x.xpm").arg(name));
        strip.setDevicePixelRatio(2);
        return strip;
    }
    return QPixmap(QStringLiteral(":/glyphs/%1.xpm").arg(name));
}

void TBitBtn::setGlyph(const QPixmap& strip) {
    glyph_ = strip;
    glyph2x_ = QPixmap();
    if (!strip.isNull()) {
        glyph_ = withTransparentBackground(strip);
        const int images = strip.width() / strip.height();
        if (strip.width() % strip.height() == 0 && images >= 1 && images <= 4)
            numGlyphs_ = images;
    }
    updateGeometry();
    update();
}

void TBitBtn::setHighDensityGlyph(const QPixmap& strip) {
    glyph2x_ = strip.isNull() ? strip : withTransparentBackground(strip);
    glyph2x_.setDevicePixelRatio(2);
    update();
}

bool TBitBtn::usesHighDensityGlyph() const {
    return devicePixelRatioF() > 1 && !glyph_.isNull() && glyph2x_.size() == glyph_.size() * 2;
}

void TBitBtn::setNumGlyphs(int count) {
    numGlyphs_ = qBound(1, count, 4);
    update();
}

QPixmap TBitBtn::currentGlyph() const {
    if (glyph_.isNull())
        return {};
    const QPixmap& strip = usesHighDensityGlyph() ? glyph2x_ : glyph_;
    const int width = strip.width() / numGlyphs_;
    auto image = [&strip, width](int index) {
        QPixmap one = strip.copy(index * width, 0, width, strip.height());
        one.setDevicePixelRatio(strip.devicePixelRatio());
        return one;
    };
    if (isEnabled())
        return image(0);
    if (numGlyphs_ >= 2)
        return image(1);
    return embossed(image(0));
}

void TBitBtn::setDefaultButton(bool isDefault) {
    default_ = isDefault;
    update();
}

void TBitBtn::setSpacing(int pixels) {
    spacing_ = pixels;
    update();
}

bool TBitBtn::showsDefaultFrame() const {
    if (hasFocus())
        return true;
    const QWidget* focus = window()->focusWidget();
    return default_ && !qobject_cast<const QAbstractButton*>(focus);
}

QChar TBitBtn::accelerator() const {
    return acceleratorOf(text());
}

TBitBtn::ContentLayout TBitBtn::contentLayout() const {
    // The whole face inside a 2-pixel frame, so that long captions keep their centring.
    const QRect area = rect().adjusted(2, 2, -2, -2);
    const QSize glyphSize =
        glyph_.isNull() ? QSize() : QSize(glyph_.width() / numGlyphs_, glyph_.height());
    const QSize textSize =
        text().isEmpty() ? QSize()
                         : fontMetrics().size(Qt::TextShowMnemonic | Qt::TextSingleLine, text());
    const int gap = glyphSize.isValid() && textSize.isValid() ? spacing_ : 0;
    const int total = glyphSize.width() + gap + textSize.width();
    const int left = area.left() + (area.width() - total) / 2;
    ContentLayout layout;
    if (glyphSize.isValid())
        layout.glyph =
            QRect(QPoint(left, area.top() + (area.height() - glyphSize.height()) / 2), glyphSize);
    if (textSize.isValid())
        layout.caption = QRect(QPoint(left + glyphSize.width() + gap,
                                      area.top() + (area.height() - textSize.height()) / 2),
                               textSize);
    return layout;
}

void TBitBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    option.features &= ~(QStyleOptionButton::DefaultButton | QStyleOptionButton::AutoDefaultButton);
    if (showsDefaultFrame())
        option.features |= QStyleOptionButton::DefaultButton;
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    ContentLayout layout = contentLayout();
    if (isDown() || isChecked()) {
        const QPoint shift(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                           style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
        layout.glyph.translate(shift);
        layout.caption.translate(shift);
    }
    if (!layout.glyph.isEmpty())
        painter.drawPixmap(layout.glyph.topLeft(), currentGlyph());
    if (!layout.caption.isEmpty())
        style()->drawItemText(&painter, layout.caption, Qt::AlignCenter | Qt::TextShowMnemonic,
                              palette(), isEnabled(), text(), QPalette::ButtonText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void TBitBtn::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods == Qt::NoModifier) {
            click();
            return;
        }
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Up:
        if (!(mods & Qt::AltModifier)) {
            const bool next = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
            focusSibling(this, next);
            return;
        }
        event->ignore();
        return;
    default:
        break;
    }
    QPushButton::keyPressEvent(event);
}

void TBitBtn::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    updateButtonsOfWindow();
}

void TBitBtn::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    updateButtonsOfWindow();
}

// The default frame of one button depends on where the focus is in the whole window.
void TBitBtn::updateButtonsOfWindow() {
    for (TBitBtn* button : window()->findChildren<TBitBtn*>())
        button->update();
}

void TBitBtn::setHelpContextHandler(std::function<void(QWidget*, int)> handler) {
    helpContextHandler() = std::move(handler);
}

int TBitBtn::helpContextInParents() const {
    for (const QWidget* w = this; w; w = w->parentWidget()) {
        const int context = w->property("helpContext").toInt();
        if (context != 0)
            return context;
    }
    return 0;
}

void TBitBtn::dispatchClick() {
    guarded([this] {
        if (kind_ == bkClose) {
            window()->close();
            return;
        }
        if (kind_ == bkHelp) {
            if (const int context = helpContextInParents()) {
                if (helpContextHandler())
                    helpContextHandler()(window(), context);
                return;
            }
        }
        storeModalResult(window(), modalResult_);
        Q_EMIT OnClick();
    });
}

bool focusSibling(QWidget* from, bool next) {
    QWidget* parent = from->parentWidget();
    QWidget* w = from;
    while (true) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == from)
            return false;
        if (w->parentWidget() == parent && w->focusPolicy() != Qt::NoFocus && w->isVisible() &&
            w->isEnabled())
            break;
    }
    w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool handleFormKey(QWidget* window, QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const auto buttons = window->findChildren<TBitBtn*>();
    auto usable = [](const TBitBtn* b) { return b->isVisible() && b->isEnabled(); };
    if (event->key() == Qt::Key_Escape) {
        if (mods != Qt::NoModifier)
            return false;
        for (TBitBtn* b : buttons) {
            if (b->isCancel() && usable(b)) {
                b->click();
                return true;
            }
        }
        return false;
    }
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString typed = event->text();
    if (typed.size() != 1 || !typed[0].isPrint())
        return false;
    for (TBitBtn* b : buttons) {
        const QChar accel = b->accelerator();
        if (!accel.isNull() && accel.toUpper() == typed[0].toUpper() && usable(b)) {
            b->click();
            return true;
        }
    }
    return false;
}

} // namespace lv26
