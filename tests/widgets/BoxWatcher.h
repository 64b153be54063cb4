#pragma once

// Answers the message boxes that code under test opens with exec(): every few milliseconds
// it looks for an active modal QMessageBox, records what it showed and presses its default
// button, so a test never blocks on a box.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    Qt::WindowModality modality;
    bool parentless;
};

class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, &BoxWatcher::answer);
        timer_.start();
    }
    const QList<ShownBox>& boxes() const { return boxes_; }

private:
    void answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes_.append({box->windowTitle(), box->text(), box->icon(), box->windowModality(),
                       box->parentWidget() == nullptr});
        box->defaultButton() ? box->defaultButton()->click() : box->accept();
    }

    QTimer timer_;
    QList<ShownBox> boxes_;
};
