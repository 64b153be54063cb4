// Input as a person gives it: keys go to the widget that has the keyboard focus and travel up
// from there; clicks go to the widget under the point. A test that hands a key to a window or
// a handler of its own choosing would skip the focus chain, the event filters and the
// shortcuts on the way, and could pass where the program fails.
#pragma once

#include <QApplication>
#include <QPoint>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

namespace lv26::test {

// The widget a key typed now would reach: the application's focus widget, or, where the
// offscreen platform reports none inside a modal loop, the focus widget of the active modal
// window or of the active window. Null when no window of the program is active.
inline QWidget* focusedWidget() {
    if (QWidget* focused = QApplication::focusWidget())
        return focused;
    QWidget* window = QApplication::activeModalWidget();
    if (!window)
        window = QApplication::activeWindow();
    if (!window)
        return nullptr;
    return window->focusWidget() ? window->focusWidget() : window;
}

// Presses and releases `key` where the focus is. Returns the widget it was sent to (null,
// and nothing sent, when no widget has the focus).
inline QWidget* typeKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = focusedWidget();
    if (target)
        QTest::keyClick(target, key, mods);
    return target;
}

// Types `text` character by character where the focus is (the focus may move in between).
inline void typeText(const QString& text) {
    for (const QChar c : text) {
        if (QWidget* target = focusedWidget())
            QTest::keyClicks(target, QString(c));
    }
}

// The widget the pointer would reach at `pos` (in `widget`'s coordinates, its centre when
// null): the deepest visible child of `widget`'s window under that point that takes mouse
// events, or the window itself. `local` receives the point in that widget's coordinates.
inline QWidget* widgetUnder(QWidget* widget, QPoint pos, QPoint* local) {
    if (pos.isNull())
        pos = widget->rect().center();
    QWidget* window = widget->window();
    const QPoint inWindow = widget->mapTo(window, pos);
    QWidget* under = window->childAt(inWindow);
    if (!under)
        under = window;
    *local = under->mapFrom(window, inWindow);
    return under;
}

// Clicks `button` at `pos` of `widget` (its centre by default) on whatever lies there: a
// widget covered by another is not reached. Returns the widget that got the click.
inline QWidget* clickAt(QWidget* widget, QPoint pos = {}, Qt::MouseButton button = Qt::LeftButton,
                        Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QPoint local;
    QWidget* under = widgetUnder(widget, pos, &local);
    QTest::mouseClick(under, button, mods, local);
    return under;
}

// As clickAt(), a double click.
inline QWidget* doubleClickAt(QWidget* widget, QPoint pos = {},
                              Qt::MouseButton button = Qt::LeftButton) {
    QPoint local;
    QWidget* under = widgetUnder(widget, pos, &local);
    QTest::mouseDClick(under, button, Qt::NoModifier, local);
    return under;
}

// Turns the wheel under `pos` of `widget` (its centre by default) by `angleDelta` eighths of
// a degree (120 is one notch of a mouse wheel; touchpads send less), vertically unless
// `horizontal`. Returns the widget that got the event first.
inline QWidget* wheelAt(QWidget* widget, int angleDelta, QPoint pos = {}, bool horizontal = false) {
    QPoint local;
    QWidget* under = widgetUnder(widget, pos, &local);
    const QPoint delta = horizontal ? QPoint(angleDelta, 0) : QPoint(0, angleDelta);
    QWheelEvent event(QPointF(local), QPointF(under->mapToGlobal(local)), QPoint(), delta,
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(under, &event);
    return under;
}

} // namespace lv26::test
