#pragma once

#include <QString>
#include <exception>
#include <utility>

class QDialog;
class QWidget;

namespace lv26 {

// The application's title: the executable's file name without directory and extension,
// every character after the first lower-cased ("LV26.bin" gives "Lv26").
QString titleFromExecutable(const QString& path);
// The title of the running application (from its executable's file name).
QString applicationTitle();

// The message as the error box shows it: "." appended when its last character's code is
// greater than that of "." (letters, digits, "?"), not after ".", "!", ")", quotes, blanks.
QString errorBoxText(const QString& message);

// Runs `dialog` modally (its exec()) and then gives the keyboard back to the window that was
// active before, when it is still shown: a window without an owner leaves that to the
// platform, which may activate nothing. Returns exec()'s result.
int execModal(QDialog& dialog);

// Shows `message` in the application's error box: captioned with the application's title,
// error icon, one OK button, application-modal, no owner window. Returns when it is closed.
void showErrorBox(const QString& message);

// The application's default handler; call it inside a catch block. A silent abort (EAbort)
// shows nothing; any other lv26::Error or std::exception shows its message in the error
// box; anything else shows a generic text. Never throws.
void handleCurrentException();

// Runs `handler`, sending whatever it throws to handleCurrentException(). Use it around
// code run from Qt's event dispatch, so that no exception crosses Qt's own frames. Returns
// whether the handler ran to its end (false: it threw, and the error was shown).
template <class Handler> bool guarded(Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (...) {
        handleCurrentException();
        return false;
    }
}

} // namespace lv26
