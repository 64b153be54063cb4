#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <exception>

namespace lv26 {

// The application object: title and icon, the main window, the help file name and the
// default handler for errors that escape event handlers.
class TApplication : public QApplication {
    Q_OBJECT
public:
    // Sets up the icon, the program's fonts (with the substitutions of Fonts.h) and the
    // help-context route of bitmap buttons. One instance per process.
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The running application object, or null when the application is not a TApplication.
    static TApplication* instance() {
        return qobject_cast<TApplication*>(QCoreApplication::instance());
    }

    // Executable file name without folder and extension, all but the first character in
    // lower case (see titleFromExecutable).
    QString title() const;

    // The window whose close ends the program. Not owned.
    QWidget* mainForm() const { return mainForm_; }
    void setMainForm(QWidget* form) { mainForm_ = form; }

    // Empty at start; "Lv26.hlp" once help was asked for.
    QString helpFile() const { return helpFile_; }
    void setHelpFile(const QString& name) { helpFile_ = name; }

    // Dispatches a help command: to the active window's own help file when it has one
    // (dynamic property "helpFile"), otherwise, when the application's help file name is
    // set, to the help layer on behalf of the main window. Returns the help layer's answer,
    // false when nothing could take the request.
    bool helpCommand(unsigned command, quintptr data);

    // Delivers the event; an exception escaping the receiver goes to the application's
    // default handler (error box, or nothing for a silent abort) and the loop goes on.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    QPointer<QWidget> mainForm_;
    QString helpFile_;
};

// The program's font: "MS Sans Serif" (drawn with Liberation Sans) at `points` points,
// sized in pixels for the screen's resolution as round(points * dpi / 72).
QFont programFont(int points, int dpi, bool bold = false);

// Text height in pixels of the program's 8-point font at 96 dpi: the height the windows
// were designed for (13 with the original font; Liberation Sans gives its own).
int designTextHeight();

// Scales a window designed at 96 dpi: the fonts set on the window and its controls are
// sized for the screen's resolution, then every position and size (window and direct
// children) by the font's new text height over designTextHeight(), so that at 96 dpi the
// designed geometry holds exactly. Call once, before the window is shown.
void scaleFormToScreen(QWidget* form);

// The launcher's show request for the main window, from the environment variable
// LV26_SHOW: "maximized" (or "3"), "minimized" (or "7"); anything else is normal.
Qt::WindowState launcherShowState();
// Shows the main window in the given state and activates it.
void showMainForm(QWidget* form, Qt::WindowState state);

// Text of the last-chance box for an error that escaped start-up:
// "Exception <class> in module <executable> at <address>.\n<message>[.]".
QString lastChanceText(const char* className, const QString& message, const void* address);
// The last-chance handler; call inside the catch block around start-up. Shows the text in a
// box captioned "Application Error" (error icon, OK, no owner). Where no screen can show it
// (offscreen or minimal platform) the text goes to stderr instead; with LV26_ERRORS_TO_STDERR
// set it goes to stderr as well. Returns the exit code, 1.
int lastChance();

// Automation for the test suite: when LV26_TEST_CLOSE is "button", "closebox" or "altf4",
// the main window is closed that way once the event loop runs (the "Fim do Programa" button
// `closeButton`, a window close request, or the Alt+F4 key). Otherwise does nothing.
void scheduleTestClose(QWidget* form, QAbstractButton* closeButton);

} // namespace lv26
