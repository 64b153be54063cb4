#include "app/Help.h"

#include "base/Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace lv26 {

namespace {

QStringList& searchPathOverride() {
    static QStringList folders;
    return folders;
}

QPointer<HelpWindow>& theWindow() {
    static QPointer<HelpWindow> window;
    return window;
}

QString notFoundText(const QString& helpFile) {
    return msg(Message::HelpNotFound, {helpFile.toHtmlEscaped()});
}

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser) {
    setWindowTitle(msg(Message::HelpCaption));
    setAttribute(Qt::WA_QuitOnClose, false);
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(560, 480);
}

bool HelpWindow::openHelpFile(const QString& helpFile) {
    helpFile_ = helpFile;
    documentPath_ = helpDocumentFor(helpFile);
    if (documentPath_.isEmpty()) {
        browser_->setHtml(notFoundText(helpFile));
        setWindowTitle(msg(Message::HelpCaptionForFile, {helpFile}));
        return false;
    }
    browser_->setSource(QUrl::fromLocalFile(documentPath_));
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? msg(Message::HelpCaption) : title);
    return true;
}

void HelpWindow::showContents() {
    browser_->scrollToAnchor(QString());
    browser_->moveCursor(QTextCursor::Start);
}

void HelpWindow::showContext(quintptr context) {
    showContents();
    browser_->scrollToAnchor(QStringLiteral("contexto-%1").arg(context));
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QStringList helpSearchPathFor(const QString& programFolder) {
    // The build tree keeps the document beside the program; an installed program is in
    // <prefix>/bin and its document in <prefix>/share/lv26 (the install rules put it there).
    const QDir program(programFolder);
    return {program.absolutePath(),
            QDir::cleanPath(program.absoluteFilePath(QStringLiteral("../share/lv26"))),
            QDir::currentPath()};
}

QStringList helpSearchPath() {
    if (!searchPathOverride().isEmpty())
        return searchPathOverride();
    return helpSearchPathFor(QCoreApplication::applicationDirPath());
}

void setHelpSearchPath(const QStringList& folders) {
    searchPathOverride() = folders;
}

QString helpDocumentFor(const QString& helpFile) {
    const QFileInfo named(helpFile);
    const QString document = named.completeBaseName() + QStringLiteral(".html");
    const QStringList folders =
        helpFile.contains(u'/') ? QStringList{named.absolutePath()} : helpSearchPath();
    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder), document);
        if (candidate.isFile() && candidate.isReadable())
            return candidate.absoluteFilePath();
    }
    return {};
}

bool winHelp(QWidget* window, const QString& helpFile, unsigned command, quintptr data) {
    Q_UNUSED(window);
    if (command == HELP_QUIT) {
        closeHelpWindow();
        return true;
    }
    if (command != HELP_CONTENTS && command != HELP_CONTEXT)
        return false;
    HelpWindow* help = theWindow();
    if (!help) {
        help = new HelpWindow;
        help->setAttribute(Qt::WA_DeleteOnClose);
        theWindow() = help;
    }
    if (help->helpFile() != helpFile || help->documentPath().isEmpty())
        help->openHelpFile(helpFile);
    if (command == HELP_CONTEXT)
        help->showContext(data);
    else
        help->showContents();
    help->show();
    help->setWindowState(help->windowState() & ~Qt::WindowMinimized);
    help->raise();
    help->activateWindow();
    return true;
}

HelpWindow* helpWindow() {
    return theWindow();
}

void closeHelpWindow() {
    delete theWindow().data();
}

} // namespace lv26
