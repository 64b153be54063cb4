#pragma once

// Shared verbs of the maintenance-window tests: real tables in a temporary folder, the data
// module over them, Form2 shown, keys sent where the focus is, clicks to the widget under
// the point, and modal boxes answered.

#include "data/PayrollSchema.h"
#include "data/Unit3.h"
#include "engine/TableEngine.h"
#include "maintenance/DataGrid.h"
#include "maintenance/RecordNavigator.h"
#include "maintenance/Unit2.h"

#include "Input.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace lv26::test {

// What a modal box showed before the test answered it.
struct BoxSeen {
    bool seen = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class MaintenanceFixture {
public:
    ~MaintenanceFixture() { close(); }

    // Fresh tables with `employees` employees ("00001", ...; Nome "Func N", Sexo "M",
    // Sal_Hora 10) and `weeks` week rows each (Semana 1.., 40 hours); Dados and Form2 over
    // them, Form2 shown (not modally) and active.
    void open(int employees, int weeks) {
        close();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        createPayrollTables(dir_->path());
        QDir::setCurrent(dir_->path());
        int n = 0;
        engine::appendRows(QStringLiteral("Func.DB"), [&](engine::Row& row) {
            if (n >= employees)
                return false;
            ++n;
            row = {matricula(n), QStringLiteral("Func %1").arg(n),
                   QVariant(),   QStringLiteral("M"),
                   10.0,         QVariant()};
            return true;
        });
        int w = 0;
        engine::appendRows(QStringLiteral("Dados.DB"), [&](engine::Row& row) {
            if (w >= employees * weeks)
                return false;
            row = {matricula(w / weeks + 1), w % weeks + 1, 40};
            ++w;
            return true;
        });
        Dados = new TDados;
        Form2 = new TForm2;
        Form2->show();
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
    }

    void close() {
        delete Form2;
        Form2 = nullptr;
        delete Dados;
        Dados = nullptr;
        if (dir_)
            QDir::setCurrent(QDir::tempPath());
        dir_.reset();
    }

    // The temporary folder of the tables (open() must have run).
    QString folder() const { return dir_->path(); }

    static QString matricula(int n) { return QStringLiteral("%1").arg(n, 5, 10, QLatin1Char('0')); }

    // Keys and characters go where a person's go: to the widget that has the focus at that
    // moment (the grid, its cell editor, a button, a panel).
    static void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QVERIFY(typeKey(k, mods));
    }
    static void type(const QString& text) { typeText(text); }
    // Clicks `widget` at `pos` (its centre by default) on whatever lies there; returns the
    // widget that got the click.
    static QWidget* click(QWidget* widget, QPoint pos = {},
                          Qt::MouseButton button = Qt::LeftButton) {
        return clickAt(widget, pos, button);
    }

    // The centre of `grid`'s cell in shown row `row` (-1: the current row), column `col`
    // (-1: the indicator), in viewport coordinates.
    static QPoint cellPoint(TDataGrid* grid, int col, int row = -1) {
        return grid->cellRect(row < 0 ? grid->activeRow() : row, col).center();
    }

    // Gives `grid` the focus on column `col` of its current row as a person does: a click on
    // that cell; when the click opened the editor (the cell was current already), Enter
    // closes it again without changing anything.
    static void focusCell(TDataGrid* grid, int col) {
        if (!grid->window()->isActiveWindow()) {
            grid->window()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(grid->window()));
        }
        const QPoint point = cellPoint(grid, col);
        QVERIFY2(grid->viewport()->rect().contains(point), "cell outside the grid's view");
        QCOMPARE(clickAt(grid->viewport(), point), grid->viewport());
        if (grid->editorMode())
            key(Qt::Key_Return);
        QVERIFY(!grid->editorMode());
        QCOMPARE(grid->window()->focusWidget(), grid);
        QCOMPARE(grid->currentColumn(), col);
    }

    // Answers the next modal message box with `button`, recording what it showed.
    static std::shared_ptr<BoxSeen> answerBox(QMessageBox::StandardButton button) {
        auto seen = std::make_shared<BoxSeen>();
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [seen, timer, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen->seen = true;
            seen->text = box->text();
            seen->title = box->windowTitle();
            seen->icon = box->icon();
            timer->stop();
            timer->deleteLater();
            clickAt(box->button(button));
        });
        timer->start();
        return seen;
    }

    // Answers every modal message box with OK while it lives, keeping the texts shown.
    class BoxCounter {
    public:
        BoxCounter() {
            timer_.setInterval(10);
            QObject::connect(&timer_, &QTimer::timeout, [this] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box || !box->isVisible())
                    return;
                texts << box->text();
                clickAt(box->button(QMessageBox::Ok));
            });
            timer_.start();
        }
        QStringList texts;

    private:
        QTimer timer_;
    };

    static TTable* employees() { return Dados->Table1; }
    static TTable* weeks() { return Dados->Table2; }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

} // namespace lv26::test
