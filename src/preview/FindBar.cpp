#include "preview/FindBar.h"

#include "base/Messages.h"
#include "preview/PreviewControl.h"
#include "report/ReportPrinter.h"
#include "report/emf/EmfPlayer.h"
#include "report/emf/EmfTextSearch.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>

namespace lv26 {

TFindBar::TFindBar(TPreviewControl* preview, QWidget* parent)
    : QWidget(parent), preview_(preview), field_(new QLineEdit(this)), status_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(msg(Message::FindLabel), this));
    field_->setMaximumWidth(240);
    layout->addWidget(field_);
    layout->addWidget(status_, 1);
    hide();
    // Window-wide keys, so that F3 also searches again when the focus has left the bar.
    QWidget* window = parent ? parent : this;
    connect(new QShortcut(QKeySequence::Find, window), &QShortcut::activated, this,
            &TFindBar::open);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), window), &QShortcut::activated, this, [this] {
        if (!isVisible())
            open();
        findNext(true);
    });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), window), &QShortcut::activated,
            this, [this] {
                if (!isVisible())
                    open();
                findNext(false);
            });
}

void TFindBar::open() {
    QWidget* focused = window()->focusWidget();
    if (!focused || !isAncestorOf(focused))
        focusBack_ = focused;
    show();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

void TFindBar::close() {
    const bool hadFocus = isAncestorOf(window()->focusWidget());
    hide();
    preview_->image()->setHighlights({});
    status_->clear();
    lastPage_ = 0;
    if (!hadFocus)
        return;
    if (focusBack_)
        focusBack_->setFocus(Qt::OtherFocusReason);
    else
        window()->setFocus(Qt::OtherFocusReason);
}

QString TFindBar::statusText() const {
    return status_->text();
}

int TFindBar::searchablePages() const {
    const TReportPrinter* printer = preview_->printer();
    if (!printer)
        return 0;
    if (printer->Status() == TPrinterStatus::Finished)
        return printer->PageCount();
    return printer->PagesCompleted();
}

void TFindBar::findNext(bool forward) {
    const QString text = field_->text();
    TReportPrinter* printer = preview_->printer();
    if (!printer || foldedForSearch(text.trimmed()).isEmpty())
        return;
    const int pages = searchablePages();
    const bool finished = printer->Status() == TPrinterStatus::Finished;
    const int step = forward ? 1 : -1;
    int page = preview_->PageNumber();
    if (text == lastText_ && page == lastPage_)
        page += step;
    for (int searched = 0; searched < pages; ++searched, page += step) {
        page = (page - 1 + pages) % pages + 1; // wraps round once over the searchable pages
        const std::optional<QByteArray> picture = printer->fetchPage(page);
        std::vector<QRectF> matches;
        try {
            if (picture)
                matches = findInEmf(*picture, text);
        } catch (const EMetafileError&) {
            continue; // a damaged page holds nothing to find
        }
        if (matches.empty())
            continue;
        preview_->setPageNumber(page);
        const int count = int(matches.size());
        preview_->image()->setHighlights(std::move(matches));
        preview_->scrollToHighlight();
        lastText_ = text;
        lastPage_ = page;
        showStatus(true, page, count, finished ? 0 : pages);
        Q_EMIT pageShown(page);
        return;
    }
    preview_->image()->setHighlights({});
    lastPage_ = 0;
    showStatus(false, 0, 0, finished ? 0 : pages);
}

void TFindBar::showStatus(bool found, int page, int matches, int searched) {
    if (found && searched == 0)
        status_->setText(msg(Message::FindFound, {page, matches}));
    else if (found)
        status_->setText(msg(Message::FindFoundSoFar, {page, matches, searched}));
    else if (searched == 0)
        status_->setText(msg(Message::FindNotFound));
    else
        status_->setText(msg(Message::FindNotFoundSoFar, {searched}));
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        findNext(!(mods & Qt::ShiftModifier));
        break;
    case Qt::Key_Escape:
        close();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace lv26
