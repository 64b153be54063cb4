#pragma once

#include <QPixmap>
#include <QPushButton>
#include <functional>

namespace lv26 {

// Modal results a button stores in its window when clicked.
enum ModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
};

// A push button with a glyph left of its caption and a kind that brings caption, glyph,
// default/cancel marks, modal result and click behaviour with it.
//
// Clicks (mouse, Space, Enter, Esc through the window, accelerators) end in the kind's rule:
// bkClose closes the button's window and never emits OnClick; bkHelp first looks for a help
// context up the parent chain; every other kind stores its modal result in the window and
// emits OnClick. Exceptions escaping an OnClick handler are shown by the application's error
// box (see ErrorBox.h) and go no further.
class TBitBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(Kind kind READ kind WRITE setKind)
    Q_PROPERTY(QPixmap glyph READ glyph WRITE setGlyph)
    Q_PROPERTY(QPixmap highDensityGlyph READ highDensityGlyph WRITE setHighDensityGlyph)
    Q_PROPERTY(int numGlyphs READ numGlyphs WRITE setNumGlyphs)
    Q_PROPERTY(bool cancel READ isCancel WRITE setCancel)
    Q_PROPERTY(bool defaultButton READ isDefaultButton WRITE setDefaultButton)
    Q_PROPERTY(int modalResult READ modalResult WRITE setModalResult)
    Q_PROPERTY(int spacing READ spacing WRITE setSpacing)

public:
    enum Kind { bkCustom, bkHelp, bkYes, bkClose };
    Q_ENUM(Kind)

    explicit TBitBtn(QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    // Applies the kind: its caption only when the caption is still empty; for every kind but
    // bkCustom its glyph, default and cancel marks and modal result.
    void setKind(Kind kind);

    // The glyph strip as loaded: numGlyphs() images side by side (normal, disabled, ...).
    // The colour of the bottom-left pixel becomes transparent. When the strip's width is a
    // whole multiple (1 to 4) of its height, numGlyphs follows from it.
    QPixmap glyph() const { return glyph_; }
    // Also drops the high-density strip, which belongs to the previous glyph.
    void setGlyph(const QPixmap& strip);
    // The same strip drawn at twice the size, for screens of a device pixel ratio above 1:
    // painted there instead of glyph(), in glyph()'s logical size. Its own bottom-left colour
    // becomes transparent. Used only while it is exactly twice glyph()'s size; set it after
    // the glyph.
    QPixmap highDensityGlyph() const { return glyph2x_; }
    void setHighDensityGlyph(const QPixmap& strip);
    int numGlyphs() const { return numGlyphs_; }
    void setNumGlyphs(int count);
    // The image drawn now: the disabled image while the button is disabled (an embossed
    // grey copy when the strip has only one image). Null without a glyph. Taken from the
    // high-density strip (device pixel ratio 2) when the button's ratio is above 1.
    QPixmap currentGlyph() const;

    bool isCancel() const { return cancel_; }
    void setCancel(bool cancel) { cancel_ = cancel; }
    bool isDefaultButton() const { return default_; }
    void setDefaultButton(bool isDefault);
    int modalResult() const { return modalResult_; }
    void setModalResult(int result) { modalResult_ = result; }
    // Pixels between glyph and caption (4 by default).
    int spacing() const { return spacing_; }
    void setSpacing(int pixels);

    // True when the button shows the default-button frame: it has the focus, or it is the
    // default button and the focus is on something that is not a button.
    bool showsDefaultFrame() const;

    // Where the glyph and the caption are drawn, centred together in the button. Either rect
    // is empty when the button has no glyph or no caption.
    struct ContentLayout {
        QRect glyph;
        QRect caption;
    };
    ContentLayout contentLayout() const;

    // The character after the first single '&' of the caption, or a null QChar.
    QChar accelerator() const;

    // Called by a bkHelp click when a help context is found (window, context). Set by the
    // application; without it the context is ignored.
    static void setHelpContextHandler(std::function<void(QWidget*, int)> handler);

    // The glyph strip of a kind (null for bkCustom), loaded from the program's resources; at
    // `scale` 2 the high-density strip, with device pixel ratio 2.
    static QPixmap kindGlyph(Kind kind, int scale = 1);

Q_SIGNALS:
    // The button's own click handler, run after the kind's rule allowed it.
    void OnClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void dispatchClick();
    int helpContextInParents() const;
    void updateButtonsOfWindow();
    bool usesHighDensityGlyph() const;

    Kind kind_ = bkCustom;
    QPixmap glyph_;
    QPixmap glyph2x_;
    int numGlyphs_ = 1;
    bool cancel_ = false;
    bool default_ = false;
    int modalResult_ = mrNone;
    int spacing_ = 4;
};

// Moves the focus from `from` to the next (or previous) control that shares its parent, in
// the window's tab order, wrapping around; tab stop or not, but it must be able to take the
// focus and be visible and enabled. Returns false when there is no other such control.
bool focusSibling(QWidget* from, bool next);

// The window's keyboard rules for buttons, for a key that no control took: Esc without
// modifiers clicks the visible, enabled cancel button; a character without Ctrl or Alt
// clicks the button whose accelerator matches it, ignoring case. Returns true when the key
// was used.
bool handleFormKey(QWidget* window, QKeyEvent* event);

} // namespace lv26
