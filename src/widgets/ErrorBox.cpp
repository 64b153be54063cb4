#include "widgets/ErrorBox.h"

#include "base/Error.h"
#include "base/Messages.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

namespace lv26 {

QString titleFromExecutable(const QString& path) {
    const QString name = QFileInfo(path).completeBaseName();
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

QString applicationTitle() {
    return titleFromExecutable(QCoreApplication::applicationFilePath());
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void showErrorBox(const QString& message) {
    // The box has no owner window, so nothing would give the focus back where it was.
    const QPointer<QWidget> previous = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorBoxText(message),
                    QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (previous && previous->isVisible())
        previous->activateWindow();
}

void handleCurrentException() {
    try {
        throw;
    } catch (const EAbort&) {
    } catch (const Error& error) {
        showErrorBox(error.message());
    } catch (const std::exception& error) {
        showErrorBox(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showErrorBox(msg(Message::UnknownError));
    }
}

} // namespace lv26
