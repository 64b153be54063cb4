#include "app/Application.h"

#include "app/Help.h"
#include "base/Error.h"
#include "base/Messages.h"
#include "data/Fonts.h"
#include "engine/Storage.h"
#include "widgets/BitBtn.h"
#include "widgets/ErrorBox.h"

#include <QCursor>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

// Exported by QtGui for input automation: delivers a key press to the shortcut map.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* receiver, ulong timestamp, int key,
                                               Qt::KeyboardModifiers modifiers,
                                               const QString& text = QString(),
                                               bool autoRepeat = false, ushort count = 1);

static void initProgramResources() {
    Q_INIT_RESOURCE(lv26);
}

namespace lv26 {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    initProgramResources();
    installFontSubstitutions();
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/lv26/lv26-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    setQuitOnLastWindowClosed(false);
    const int dpi = primaryScreen() ? qRound(primaryScreen()->logicalDotsPerInchY()) : 96;
    setFont(programFont(8, dpi));
    TBitBtn::setHelpContextHandler([this](QWidget*, int context) {
        helpCommand(HELP_CONTEXT, static_cast<quintptr>(context));
    });
    // The tables' storage starting or reaching its server shows the wait cursor meanwhile.
    engine::setWaitHook(
        {[] { setOverrideCursor(QCursor(Qt::WaitCursor)); }, [] { restoreOverrideCursor(); }});
}

TApplication::~TApplication() {
    engine::setWaitHook({});
    TBitBtn::setHelpContextHandler({});
    closeHelpWindow();
}

QString TApplication::title() const {
    return applicationTitle();
}

bool TApplication::helpCommand(unsigned command, quintptr data) {
    QWidget* active = activeWindow();
    const QString ownFile = active ? active->property("helpFile").toString() : QString();
    if (!ownFile.isEmpty())
        return winHelp(active, ownFile, command, data);
    if (!helpFile_.isEmpty())
        return winHelp(mainForm_, helpFile_, command, data);
    return false;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleCurrentException();
        return false;
    }
}

QFont programFont(int points, int dpi, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(qRound(points * dpi / 72.0));
    font.setBold(bold);
    return font;
}

int designTextHeight() {
    return QFontMetrics(programFont(8, 96)).height();
}

void scaleFormToScreen(QWidget* form) {
    const int dpi = form->logicalDpiY();
    QList<QWidget*> widgets = form->findChildren<QWidget*>();
    widgets.prepend(form);
    for (QWidget* w : widgets) {
        if (w != form && !w->testAttribute(Qt::WA_SetFont))
            continue;
        QFont font = w->font();
        const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : 8;
        font.setPixelSize(qRound(points * dpi / 72.0));
        w->setFont(font);
    }
    const int textHeight = QFontMetrics(form->font()).height();
    const int designHeight = designTextHeight();
    if (textHeight == designHeight || designHeight <= 0)
        return;
    auto scaled = [=](int v) { return qRound(double(v) * textHeight / designHeight); };
    for (QWidget* w : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect g = w->geometry();
        w->setGeometry(scaled(g.x()), scaled(g.y()), scaled(g.width()), scaled(g.height()));
    }
    form->move(scaled(form->x()), scaled(form->y()));
    form->resize(scaled(form->width()), scaled(form->height()));
}

Qt::WindowState launcherShowState() {
    const QString request = qEnvironmentVariable("LV26_SHOW").trimmed().toLower();
    if (request == QLatin1String("maximized") || request == QLatin1String("3"))
        return Qt::WindowMaximized;
    if (request == QLatin1String("minimized") || request == QLatin1String("7"))
        return Qt::WindowMinimized;
    return Qt::WindowNoState;
}

void showMainForm(QWidget* form, Qt::WindowState state) {
    if (state == Qt::WindowMaximized)
        form->showMaximized();
    else if (state == Qt::WindowMinimized)
        form->showMinimized();
    else
        form->show();
    if (state != Qt::WindowMinimized) {
        form->raise();
        form->activateWindow();
    }
}

QString lastChanceText(const char* className, const QString& message, const void* address) {
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString at =
        QStringLiteral("%1")
            .arg(reinterpret_cast<quintptr>(address), int(sizeof(void*) * 2), 16, QLatin1Char('0'))
            .toUpper();
    const QString dot = message.endsWith(u'.') ? QString() : QStringLiteral(".");
    return msg(Message::LastChanceText, {QString::fromLatin1(className), module, at, message, dot});
}

namespace {

// Plain name of a standard exception's dynamic type, without namespaces.
QString plainTypeName(const std::exception& error) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : typeid(error).name());
    std::free(demangled);
    return name.mid(name.lastIndexOf(u':') + 1);
}

void showLastChance(const QString& text) {
    const QString platform = QGuiApplication::platformName();
    const bool noScreen =
        platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    if (noScreen || qEnvironmentVariableIsSet("LV26_ERRORS_TO_STDERR")) {
        std::fprintf(stderr, "%s\n%s\n",
                     msg(Message::ApplicationErrorCaption).toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    if (noScreen)
        return;
    QMessageBox box(QMessageBox::Critical, msg(Message::ApplicationErrorCaption), text,
                    QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

int lastChance() {
    QString text;
    try {
        throw;
    } catch (const Error& error) {
        text = lastChanceText(error.className(), error.message(), &error);
    } catch (const std::exception& error) {
        text = lastChanceText(plainTypeName(error).toLatin1().constData(),
                              QString::fromLocal8Bit(error.what()), &error);
    } catch (...) {
        text = lastChanceText("Exception", msg(Message::UnknownError), nullptr);
    }
    showLastChance(text);
    return 1;
}

namespace {

// Closes `form` the way `how` names, once it is the active window (keys go to the active
// window only), giving up after about two seconds.
void closeForTest(const QString& how, QPointer<QWidget> form, QPointer<QAbstractButton> button,
                  int triesLeft) {
    if (!form)
        return;
    if (!form->isActiveWindow() && triesLeft > 0) {
        QTimer::singleShot(10, [=] { closeForTest(how, form, button, triesLeft - 1); });
        return;
    }
    if (how == QLatin1String("button") && button) {
        button->click();
    } else if (how == QLatin1String("closebox")) {
        form->close();
    } else if (how == QLatin1String("altf4")) {
        // The path a key from the window system takes: shortcuts first.
        QWidget* focus = form->focusWidget() ? form->focusWidget() : form.data();
        if (!qt_sendShortcutOverrideEvent(focus, 0, Qt::Key_F4, Qt::AltModifier)) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_F4, Qt::AltModifier);
            QCoreApplication::sendEvent(focus, &press);
        }
    }
}

} // namespace

void scheduleTestClose(QWidget* form, QAbstractButton* closeButton) {
    const QString how = qEnvironmentVariable("LV26_TEST_CLOSE");
    if (how.isEmpty())
        return;
    QPointer<QWidget> target(form);
    QPointer<QAbstractButton> button(closeButton);
    QTimer::singleShot(0, [=] { closeForTest(how, target, button, 200); });
}

} // namespace lv26
