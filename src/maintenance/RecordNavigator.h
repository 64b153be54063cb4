#pragma once

// TRecordNavigator: a strip of ten flat buttons that issue the row operations of the dataset
// behind a TDataSource (first, prior, next, last, insert, delete, edit, post, cancel,
// refresh). Each button's enabled state follows the dataset's state and flags at every data
// event. Prior and Next repeat while held. The navigator is not a tab stop and a mouse click
// never gives it the focus; while it has the focus, Left and Right move the marked button and
// Space clicks it.
//
// Errors raised by the operations are shown in the application's error box and go no
// further; the dataset keeps its state.

#include "data/DataSource.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QAbstractButton;
class QStyle;

namespace lv26 {

// A focus policy for controls that take the focus only when code gives it to them (the arrow
// keys of the maintenance window): not a tab stop, not taken by a click, yet not NoFocus, so
// that focusSibling() may move the focus there.
inline constexpr Qt::FocusPolicy arrowKeyFocus = Qt::FocusPolicy(0x8);

class TRecordNavigator : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList hints READ hints WRITE setHints)
    Q_PROPERTY(bool confirmDelete READ confirmDelete WRITE setConfirmDelete)

public:
    enum NavigateBtn {
        nbFirst,
        nbPrior,
        nbNext,
        nbLast,
        nbInsert,
        nbDelete,
        nbEdit,
        nbPost,
        nbCancel,
        nbRefresh
    };
    Q_ENUM(NavigateBtn)
    static constexpr int buttonCount = 10;
    using EnabledSet = std::array<bool, buttonCount>;

    explicit TRecordNavigator(QWidget* parent = nullptr);
    ~TRecordNavigator() override;

    // The data source whose dataset the buttons act on (not owned; may be nullptr).
    TDataSource* DataSource() const;
    void setDataSource(TDataSource* source);

    // One hint per button, in button order; an empty or missing line keeps the built-in
    // English hint of that button.
    QStringList hints() const { return hints_; }
    void setHints(const QStringList& hints);
    // The hint button `btn` shows.
    QString hintOf(NavigateBtn btn) const;
    // Ask "Delete record?" before deleting (on by default).
    bool confirmDelete() const { return confirmDelete_; }
    void setConfirmDelete(bool on) { confirmDelete_ = on; }

    // The button widget of `btn` (owned by the navigator).
    QAbstractButton* button(NavigateBtn btn) const;
    // The button Space clicks while the navigator has the focus (initially nbFirst, then
    // the last one pressed with the mouse).
    NavigateBtn markedButton() const { return marked_; }

    // Issues `btn`'s operation on the dataset (delete after confirmation). Does nothing
    // without an open dataset. Errors go to the error box.
    void BtnClick(NavigateBtn btn);

    // The enabled buttons for a dataset in the given state (`dataSet` nullptr or closed: all
    // disabled).
    static EnabledSet enabledButtons(const TDataSet* dataSet);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Link;
    class Button;
    friend class Link;
    friend class Button;

    void operate(NavigateBtn btn);
    void updateButtons();
    void layoutButtons();
    void buttonPressed(NavigateBtn btn);
    void buttonReleased();
    void repeatClick();

    std::unique_ptr<Link> link_;
    std::array<Button*, buttonCount> buttons_{};
    QStringList hints_;
    NavigateBtn marked_ = nbFirst;
    bool confirmDelete_ = true;
    QTimer repeatTimer_;
    NavigateBtn repeating_ = nbFirst;
    QStyle* hintStyle_;
};

} // namespace lv26
