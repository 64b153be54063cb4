#include "widgets/ErrorBox.h"

#include "base/Error.h"
#include "base/Messages.h"

#include <QApplication>
#include <QDialog>
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

int execModal(QDialog& dialog) {
    const QPointer<QWidget> previous = QApplication::activeWindow();
    const int result = dialog.exec();
    if (previous && previous->isVisible())
        previous->activateWindow();
    return result;
}

void showErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorBoxText(message),
                    QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    execModal(box);
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
