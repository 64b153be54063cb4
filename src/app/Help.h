#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace lv26 {

// Commands of the help layer (the values the program sends).
enum HelpCommand : unsigned {
    HELP_CONTEXT = 1,  // data: the help context number
    HELP_QUIT = 2,     // closes the help window
    HELP_CONTENTS = 3, // data ignored: shows the document from its start
};

// The help viewer: one top-level window showing the program's help document. It is not
// owned by any window of the program and lives until the program ends or HELP_QUIT.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Loads the document that answers the help file `helpFile` (see helpDocumentFor).
    // When there is none, the window says so in its own text. Returns true when loaded.
    bool openHelpFile(const QString& helpFile);
    // Scrolls to the topic of a help context ("contexto-N" anchor) or to the start.
    void showContext(quintptr context);
    void showContents();

    QString helpFile() const { return helpFile_; }
    // The document shown now, empty when the help file was not found.
    QString documentPath() const { return documentPath_; }
    QTextBrowser* browser() const { return browser_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* browser_;
    QString helpFile_;
    QString documentPath_;
};

// The folders searched for help documents, in order: the one set by setHelpSearchPath, else
// helpSearchPathFor(the executable's folder).
QStringList helpSearchPath();
// The default search path of a program in `programFolder`, absolute and clean, in order:
// that folder (the build tree), "../share/lv26" from it (an installed program in
// <prefix>/bin), then the working folder.
QStringList helpSearchPathFor(const QString& programFolder);
void setHelpSearchPath(const QStringList& folders);

// The document that answers a help file name: "Lv26.hlp" is answered by "Lv26.html" in the
// help search path (a file name with a folder is looked for in that folder only). Returns
// the absolute path, or an empty string when no such document exists or it is unreadable.
QString helpDocumentFor(const QString& helpFile);

// The help layer: carries out `command` with `data` for the help file `helpFile` on behalf
// of `window` (may be null). Shows, re-shows and raises the help window as needed; never
// throws. Returns false only for a command it does not know.
bool winHelp(QWidget* window, const QString& helpFile, unsigned command, quintptr data);

// The help window, or null while none was opened. Owned by the help layer.
HelpWindow* helpWindow();
// Destroys the help window (at program end; also used by tests).
void closeHelpWindow();

} // namespace lv26
