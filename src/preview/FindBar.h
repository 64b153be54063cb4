#pragma once

// The preview window's find bar: a line at the bottom of the window where the user types a
// text; Enter or F3 goes to the next page whose picture holds it (from the current page on,
// wrapping once), Shift+F3 to the previous one, and the matches on the page shown are
// outlined. Case and accents are ignored. While the generation is still running only the
// finished pages are searched, and the status says so. Esc closes the bar and gives the focus
// back to where it was.

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace lv26 {

class TPreviewControl;

class TFindBar : public QWidget {
    Q_OBJECT
public:
    // A hidden bar searching the pages of `preview`'s report printer object (not owned; must
    // outlive the bar). Ctrl+F, F3 and Shift+F3 act on it anywhere in `parent`'s window.
    TFindBar(TPreviewControl* preview, QWidget* parent = nullptr);

    // Shows the bar with its text selected and the focus in it, remembering where the focus
    // was.
    void open();
    // Hides the bar, removes the outlines and gives the focus back.
    void close();
    // Goes to the next (forward) or previous page holding the text, from the current page:
    // the current page itself is searched first unless it is the page the last search with
    // the same text showed. Pages that cannot be read are passed over. With no text nothing
    // happens.
    void findNext(bool forward = true);

    QLineEdit* field() const { return field_; }
    // The status of the last search: the page and matches found, or that nothing was.
    QString statusText() const;

Q_SIGNALS:
    // A search has shown page `page` of the preview (it may have been shown already).
    void pageShown(int page);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The pages a search may look at: all of them once the object is finished, else those
    // finished so far.
    int searchablePages() const;
    void showStatus(bool found, int page, int matches, int searched);

    TPreviewControl* preview_;
    QLineEdit* field_;
    QLabel* status_;
    QPointer<QWidget> focusBack_;
    QString lastText_;
    int lastPage_ = 0;
};

} // namespace lv26
