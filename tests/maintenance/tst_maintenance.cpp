// The maintenance window on real tables: the navigator's enabled buttons and confirmation,
// the grids' keys, cell editing and its failures, leaving a grid, closing and reopening.

#include "MaintenanceFixture.h"

#include "ChildProcess.h"

#include "widgets/BitBtn.h"
#include "widgets/Panel.h"

#include <QClipboard>
#include <QDir>
#include <QLocale>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <csignal>

using namespace lv26;
using namespace lv26::test;
using Nav = TRecordNavigator;

namespace {

enum EmployeeCol { cMatricula, cNome, cCPF, cSexo, cSal_Hora };
enum WeekCol { wMatricula, wSemana, wHoras, wSal_semanal };

QList<Nav::NavigateBtn> enabledOf(const TRecordNavigator* navigator) {
    QList<Nav::NavigateBtn> on;
    for (int i = 0; i < Nav::buttonCount; ++i)
        if (navigator->button(Nav::NavigateBtn(i))->isEnabled())
            on << Nav::NavigateBtn(i);
    return on;
}

QString currentMatricula() {
    return Dados->Table1Matricula->AsString();
}

TDataGrid* gridNumber(int number) {
    return number == 1 ? Form2->DBGrid1 : Form2->DBGrid2;
}

// Whether the platform has the line-editing keys Ctrl+K and Ctrl+U (X has, offscreen not).
bool hasLineEditingKeys() {
    return !QKeySequence::keyBindings(QKeySequence::DeleteEndOfLine).isEmpty() &&
           !QKeySequence::keyBindings(QKeySequence::DeleteCompleteLine).isEmpty();
}

// Whether every pixel of `rect` in `image` has the same colour.
bool isPlain(const QImage& image, const QRect& rect) {
    const QRgb first = image.pixel(rect.topLeft());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

} // namespace

class TestMaintenance : public QObject {
    Q_OBJECT

private:
    MaintenanceFixture f;

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void cleanup() { f.close(); }

    // ---- navigator --------------------------------------------------------------------------

    void navigatorOnEmptyTableAllowsOnlyInsertEditRefresh() {
        f.open(0, 0);
        const auto* nav = Form2->DBNavigator;
        QCOMPARE(enabledOf(nav),
                 (QList<Nav::NavigateBtn>{Nav::nbInsert, Nav::nbEdit, Nav::nbRefresh}));
        QCOMPARE(nav->button(Nav::nbRefresh)->toolTip(), QStringLiteral("Refazer(Refresh)"));
        // Typing a character into the empty employee grid starts a new row.
        f.focusCell(Form2->DBGrid1, cMatricula);
        f.type(QStringLiteral("7"));
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        QCOMPARE(Form2->DBGrid1->cellEditor()->text(), QStringLiteral("7"));
        QCOMPARE(enabledOf(nav), (QList<Nav::NavigateBtn>{Nav::nbInsert, Nav::nbPost, Nav::nbCancel,
                                                          Nav::nbRefresh}));
    }

    void navigatorFollowsPositionAndEditing() {
        f.open(3, 0);
        auto* nav = Form2->DBNavigator;
        QCOMPARE(enabledOf(nav).mid(0, 4),
                 (QList<Nav::NavigateBtn>{Nav::nbNext, Nav::nbLast, Nav::nbInsert, Nav::nbDelete}));
        f.click(nav->button(Nav::nbLast));
        QCOMPARE(currentMatricula(), QStringLiteral("00003"));
        QVERIFY(nav->button(Nav::nbFirst)->isEnabled());
        QVERIFY(!nav->button(Nav::nbNext)->isEnabled());
        QVERIFY(!nav->button(Nav::nbLast)->isEnabled());
        QVERIFY(!nav->hasFocus()); // a click never gives the navigator the focus
        QCOMPARE(nav->markedButton(), Nav::nbLast);
        f.click(nav->button(Nav::nbEdit));
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        QVERIFY(nav->button(Nav::nbPost)->isEnabled());
        QVERIFY(nav->button(Nav::nbCancel)->isEnabled());
        QVERIFY(!nav->button(Nav::nbEdit)->isEnabled());
        f.click(nav->button(Nav::nbCancel));
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        f.click(nav->button(Nav::nbFirst));
        QVERIFY(!nav->button(Nav::nbFirst)->isEnabled());
        QVERIFY(!nav->button(Nav::nbPrior)->isEnabled());
    }

    void navigatorKeyboardFromCloseButton() {
        f.open(3, 0);
        QCOMPARE(Form2->focusWidget(), Form2->Panel1);
        f.key(Qt::Key_Tab);
        QCOMPARE(Form2->focusWidget(), Form2->BitBtn1);
        f.key(Qt::Key_Right);
        QVERIFY(Form2->DBNavigator->hasFocus());
        f.key(Qt::Key_Left); // stays on the first button
        f.key(Qt::Key_Right);
        f.key(Qt::Key_Right);
        f.key(Qt::Key_Up); // kept, does nothing
        QVERIFY(Form2->DBNavigator->hasFocus());
        QCOMPARE(Form2->DBNavigator->markedButton(), Nav::nbNext);
        f.key(Qt::Key_Space);
        QCOMPARE(currentMatricula(), QStringLiteral("00002"));
        f.key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Form2->BitBtn1);
    }

    void deleteAsksFirst() {
        f.open(3, 0);
        auto* nav = Form2->DBNavigator;
        auto seen = f.answerBox(QMessageBox::Cancel);
        f.click(nav->button(Nav::nbDelete));
        QVERIFY(seen->seen);
        QCOMPARE(seen->text, QStringLiteral("Delete record?"));
        QCOMPARE(seen->title, QStringLiteral("Confirm"));
        QCOMPARE(seen->icon, QMessageBox::Question);
        QCOMPARE(currentMatricula(), QStringLiteral("00001"));

        seen = f.answerBox(QMessageBox::Ok);
        f.click(nav->button(Nav::nbDelete));
        QVERIFY(seen->seen);
        QCOMPARE(currentMatricula(), QStringLiteral("00002"));

        // Ctrl+Del in the grid asks the same question.
        f.focusCell(Form2->DBGrid1, cNome);
        seen = f.answerBox(QMessageBox::Ok);
        f.key(Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(seen->seen);
        QCOMPARE(currentMatricula(), QStringLiteral("00003"));
    }

    void nextRepeatsWhileHeld() {
        f.open(40, 0);
        QPoint at;
        QWidget* next = widgetUnder(Form2->DBNavigator->button(Nav::nbNext), {}, &at);
        QCOMPARE(next, Form2->DBNavigator->button(Nav::nbNext));
        QTest::mousePress(next, Qt::LeftButton, {}, at);
        QTest::qWait(150);
        QCOMPARE(currentMatricula(), QStringLiteral("00001")); // nothing before 400 ms
        QTest::qWait(650);
        QTest::mouseRelease(next, Qt::LeftButton, {}, at);
        // First repeat at 400 ms, then every 100 ms, and the release clicks once more.
        const int moved = currentMatricula().toInt() - 1;
        QVERIFY2(moved >= 2 && moved <= 8, qPrintable(QString::number(moved)));
    }

    // ---- grid rows ----------------------------------------------------------------------

    void downOnLastEmployeeAppendsAndUpRemoves() {
        f.open(3, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cNome);
        f.key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(currentMatricula(), QStringLiteral("00003"));
        f.key(Qt::Key_Down);
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        QCOMPARE(grid->rowCount(), 4);
        f.key(Qt::Key_Down); // from the untouched new row: nothing
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        QCOMPARE(grid->rowCount(), 4);
        f.key(Qt::Key_Up);
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(grid->rowCount(), 3);
        QCOMPARE(currentMatricula(), QStringLiteral("00003"));
    }

    void downFromTypedWeekPostsAndAppendsForTheEmployee() {
        f.open(2, 2);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.key(Qt::Key_Down);
        QCOMPARE(f.weeks()->State(), DataSetState::Browse);
        f.type(QStringLiteral("7"));
        QCOMPARE(f.weeks()->State(), DataSetState::Edit);
        f.key(Qt::Key_Down);
        QCOMPARE(f.weeks()->State(), DataSetState::Insert);
        QCOMPARE(Dados->Table2Matricula->AsString(), QStringLiteral("00001"));
        QCOMPARE(grid->cellText(grid->activeRow() - 1, wHoras), QStringLiteral("7"));
        // The new row was not changed by the user: leaving it drops it.
        f.key(Qt::Key_Up);
        QCOMPARE(f.weeks()->State(), DataSetState::Browse);
        QCOMPARE(grid->rowCount(), 2);
    }

    void tabSkipsCalculatedColumnAndWraps() {
        f.open(1, 2);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.key(Qt::Key_Tab);
        QCOMPARE(grid->currentColumn(), int(wMatricula));
        QCOMPARE(grid->activeRow(), 1);
        f.key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(grid->currentColumn(), int(wHoras));
        QCOMPARE(grid->activeRow(), 0);
        f.key(Qt::Key_Backtab, Qt::ShiftModifier);
        f.key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(grid->currentColumn(), int(wMatricula));
        f.key(Qt::Key_Backtab, Qt::ShiftModifier); // first row: stays, last tab stop
        QCOMPARE(grid->currentColumn(), int(wHoras));
        QCOMPARE(grid->activeRow(), 0);
        f.key(Qt::Key_Down);
        f.key(Qt::Key_Tab); // past the last row: appends
        QCOMPARE(f.weeks()->State(), DataSetState::Insert);
        QCOMPARE(grid->currentColumn(), int(wMatricula));
    }

    // With the cell editor open, Tab and Shift+Tab still move between cells (applying the
    // cell); the focus stays in the grid.
    void tabWithTheEditorOpenMovesBetweenCells() {
        f.open(1, 2);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wSemana);
        f.type(QStringLiteral("0")); // week 0 keeps the row first
        QVERIFY(grid->editorMode());
        f.key(Qt::Key_Tab);
        QCOMPARE(grid->currentColumn(), int(wHoras));
        QCOMPARE(Dados->Table2Semana->AsString(), QStringLiteral("0"));
        QVERIFY(grid->hasFocus());
        f.key(Qt::Key_F2);
        f.key(Qt::Key_Tab); // past the last tab stop: the next row
        QCOMPARE(grid->currentColumn(), int(wMatricula));
        QCOMPARE(grid->activeRow(), 1);
        f.key(Qt::Key_F2);
        f.key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(grid->currentColumn(), int(wHoras));
        QCOMPARE(grid->activeRow(), 0);
        QVERIFY(grid->hasFocus());
        QCOMPARE(grid->cellText(0, wSemana), QStringLiteral("0"));
    }

    void escapeRestoresCellThenCancelsRow() {
        f.open(2, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cNome);
        f.type(QStringLiteral("Ana"));
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Ana"));
        QVERIFY(grid->cellChanged());
        f.key(Qt::Key_Escape);
        QVERIFY(!grid->cellChanged());
        QVERIFY(!grid->editorMode());
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Func 1"));
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        f.key(Qt::Key_Escape);
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(Dados->Table1Nome->AsString(), QStringLiteral("Func 1"));
        QVERIFY(Form2->isVisible()); // Esc never closes the window
    }

    // Moves made while the editor is hidden leave its text alone; showing it, or typing into
    // the cell, starts from the row the grid is on then.
    void hiddenEditorStartsFromTheCurrentRow() {
        f.open(3, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cNome);
        f.key(Qt::Key_F2);
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Func 1"));
        f.key(Qt::Key_Escape);
        QVERIFY(!grid->editorMode());
        f.employees()->MoveBy(2);
        f.key(Qt::Key_F2);
        QVERIFY(grid->editorMode());
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Func 3"));
        f.key(Qt::Key_Escape);
        f.employees()->First();
        f.type(QStringLiteral("X"));
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("X"));
        f.key(Qt::Key_Return);
        f.employees()->Last();
        f.employees()->First();
        QCOMPARE(Dados->Table1Nome->AsString(), QStringLiteral("X"));
        f.employees()->MoveBy(1);
        QCOMPARE(Dados->Table1Nome->AsString(), QStringLiteral("Func 2"));
    }

    // ---- cell values ----------------------------------------------------------------------

    void outOfRangeHoursKeepEditorText() {
        f.open(1, 1);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.type(QStringLiteral("40000"));
        auto seen = f.answerBox(QMessageBox::Ok);
        f.key(Qt::Key_Return);
        QVERIFY(seen->seen);
        QCOMPARE(seen->text, QStringLiteral("40000 is not a valid value for field 'HorasNaSemana'. "
                                            "The allowed range is -32768 to 32767."));
        QCOMPARE(seen->icon, QMessageBox::Critical);
        QVERIFY(grid->editorMode());
        QVERIFY(grid->cellChanged());
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("40000"));
        QCOMPARE(Dados->Table2HorasNaSemana->AsInteger(), 40);
    }

    void cpfKeepsTheDigitsTyped() {
        f.open(2, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cCPF);
        QSignalSpy refused(grid, &TDataGrid::keyRefused);
        f.type(QStringLiteral("123a456789")); // "a" is refused with a beep
        QCOMPARE(refused.size(), 1);
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("123.456.789---"));
        f.key(Qt::Key_Down);
        f.key(Qt::Key_Up);
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(Dados->Table1CPF->Value().toString(), QStringLiteral("123456789"));
        QCOMPARE(Dados->Table1CPF->DisplayText(), QStringLiteral("123.456.789-  "));
    }

    void blankNameFailsOnLeavingTheRow() {
        f.open(2, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cMatricula);
        f.key(Qt::Key_End, Qt::ControlModifier);
        f.key(Qt::Key_Down);
        f.type(QStringLiteral("00009"));
        auto seen = f.answerBox(QMessageBox::Ok);
        f.key(Qt::Key_Up);
        QVERIFY(seen->seen);
        QCOMPARE(seen->text, QStringLiteral("Field 'Nome' must have a value."));
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        QCOMPARE(grid->currentColumn(), int(cNome));
        QVERIFY(grid->editorMode());
        QCOMPARE(Form2->focusWidget(), grid->cellEditor());
    }

    void gridBuffersOnlyVisibleRows() {
        f.open(300, 0);
        TDataGrid* grid = Form2->DBGrid1;
        QVERIFY(grid->rowCount() <= grid->visibleRowCount());
        QCOMPARE(f.employees()->BufferCount(), grid->visibleRowCount());
        const qint64 before = f.employees()->RowsRead();
        f.focusCell(grid, cNome);
        f.key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(currentMatricula(), QStringLiteral("00300"));
        QVERIFY(f.employees()->RowsRead() - before < 3 * grid->visibleRowCount());
        QCOMPARE(grid->scrollPosition(), 4);
    }

    // ---- what is not a change of the data -------------------------------------------------

    // A change of a grid's row count (the window enlarged, maximized, or narrowed until a
    // horizontal scroll bar takes a row) keeps the typed text and the cell-changed flag.
    void resizingKeepsTheTypedCell_data() {
        QTest::addColumn<int>("grid");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("resize");
        QTest::newRow("weeks, taller") << 2 << int(wHoras) << "55"
                                       << "taller";
        QTest::newRow("weeks, maximized") << 2 << int(wHoras) << "55"
                                          << "maximized";
        QTest::newRow("weeks, narrower") << 2 << int(wHoras) << "55"
                                         << "narrower";
        QTest::newRow("employees, narrower") << 1 << int(cNome) << "Ana"
                                             << "narrower";
    }

    void resizingKeepsTheTypedCell() {
        QFETCH(int, grid);
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, resize);
        f.open(3, 3);
        TDataGrid* g = gridNumber(grid);
        TDataSet* table = grid == 1 ? f.employees() : f.weeks();
        f.focusCell(g, col);
        f.type(typed);
        QVERIFY(g->cellChanged());
        const int rows = g->visibleRowCount();
        const int employeeRows = Form2->DBGrid1->visibleRowCount();
        if (resize == QLatin1String("taller"))
            Form2->resize(Form2->width(), Form2->height() + 100);
        else if (resize == QLatin1String("maximized"))
            Form2->showMaximized();
        else
            Form2->resize(Form2->minimumSizeHint().width(), Form2->height());
        QTRY_VERIFY(g->visibleRowCount() != rows);
        if (resize == QLatin1String("narrower")) // the employee grid's rows change as well
            QVERIFY(Form2->DBGrid1->visibleRowCount() != employeeRows);

        QCOMPARE(g->cellEditor()->text(), typed);
        QVERIFY(g->cellChanged());
        QVERIFY(g->editorMode());
        QCOMPARE(table->State(), DataSetState::Edit);
        QCOMPARE(Form2->focusWidget(), g->cellEditor());
        QCOMPARE(g->cellEditor()->geometry(),
                 g->cellRect(g->activeRow(), col).adjusted(1, 1, -1, -1));
        f.key(Qt::Key_Down);
        QCOMPARE(table->State(), DataSetState::Browse);
        f.key(Qt::Key_Up);
        QCOMPARE(g->currentField()->DisplayText(), typed);
    }

    // Leaving the window without leaving the grid (another window activated, a box of its
    // own, the horizontal scroll bar) keeps the cell being typed as it was.
    void typedCellSurvivesOtherWindowsAndScrolling() {
        f.open(2, 2);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.type(QStringLiteral("55"));
        QWidget other;
        other.resize(200, 100);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QVERIFY(grid->cellChanged());
        QCOMPARE(QApplication::focusWidget(), grid->cellEditor());
        f.type(QStringLiteral("6"));
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("556"));

        // The navigator's delete, answered Cancel.
        auto seen = f.answerBox(QMessageBox::Cancel);
        f.click(Form2->DBNavigator->button(Nav::nbDelete));
        QVERIFY(seen->seen);
        Form2->activateWindow(); // this platform activates no window when the box goes
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QCOMPARE(Form2->focusWidget(), grid->cellEditor());
        f.type(QStringLiteral("7"));
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("5567"));
        QVERIFY(grid->cellChanged());
        f.key(Qt::Key_Escape); // the typing
        f.key(Qt::Key_Escape); // the row's edit

        // The horizontal scroll bar of a narrow window moves the editor with its cell.
        Form2->resize(Form2->minimumSizeHint().width(), Form2->height());
        TDataGrid* employees = Form2->DBGrid1;
        QScrollBar* bar = employees->horizontalScrollBar();
        QTRY_VERIFY(bar->isVisible());
        f.focusCell(employees, cMatricula);
        f.key(Qt::Key_End);
        f.type(QStringLiteral("12"));
        const int value = bar->value();
        QVERIFY(value > 0);
        f.click(bar, QPoint(3, bar->height() / 2)); // its left arrow
        QTRY_VERIFY(bar->value() < value);
        QCOMPARE(employees->cellEditor()->geometry(),
                 employees->cellRect(employees->activeRow(), cSal_Hora).adjusted(1, 1, -1, -1));
        f.type(QStringLiteral("3"));
        QCOMPARE(employees->cellEditor()->text(), QStringLiteral("123"));
        QVERIFY(employees->cellChanged());
    }

    // Closing with Alt+C moves no focus: the typed text waits in the editor, and on the next
    // showing the typing goes on where it stopped.
    void typingGoesOnAfterCloseAndReopen() {
        f.open(2, 0);
        f.focusCell(Form2->DBGrid1, cNome);
        f.type(QStringLiteral("Nova"));
        f.key(Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!Form2->isVisible());
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        bool reopened = false;
        QTimer::singleShot(3000, Form2, [] { Form2->close(); }); // a failed step ends the loop
        QTimer::singleShot(0, [&] {
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            TDataGrid* grid = Form2->DBGrid1;
            QVERIFY(grid->editorMode());
            QVERIFY(grid->cellChanged());
            QCOMPARE(Form2->focusWidget(), grid->cellEditor());
            f.type(QStringLiteral("s"));
            QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Novas"));
            reopened = true;
            Form2->close();
        });
        Form2->exec();
        QVERIFY(reopened);
    }

    // ---- every change of the editor's text is a change of the cell ------------------------

    void lineEditingKeysChangeTheCell() {
        if (!hasLineEditingKeys())
            QSKIP("this platform has no line-editing keys (run under X: tst_maintenance_x11)");
        f.open(1, 2);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.key(Qt::Key_F2);
        f.key(Qt::Key_Home);
        f.key(Qt::Key_Right);
        f.key(Qt::Key_K, Qt::ControlModifier); // to the end of the line
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("4"));
        QVERIFY(grid->cellChanged());
        QCOMPARE(f.weeks()->State(), DataSetState::Edit);
        f.key(Qt::Key_Return);
        QCOMPARE(Dados->Table2HorasNaSemana->AsInteger(), 4);

        f.key(Qt::Key_Down); // posts, and the next week is in browse state
        QCOMPARE(f.weeks()->State(), DataSetState::Browse);
        f.key(Qt::Key_F2);
        f.key(Qt::Key_U, Qt::ControlModifier); // the whole line
        QCOMPARE(grid->cellEditor()->text(), QString());
        QVERIFY(grid->cellChanged());
        QCOMPARE(f.weeks()->State(), DataSetState::Edit);
        f.key(Qt::Key_Return);
        QVERIFY(Dados->Table2HorasNaSemana->IsNull());
        f.key(Qt::Key_Up);
        f.key(Qt::Key_Down);
        QVERIFY(Dados->Table2HorasNaSemana->IsNull());
    }

    // The same keys in the CPF editor clear digit positions; the literals stay.
    void lineEditingKeysKeepTheMaskLiterals() {
        if (!hasLineEditingKeys())
            QSKIP("this platform has no line-editing keys (run under X: tst_maintenance_x11)");
        f.open(2, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cCPF);
        f.type(QStringLiteral("12345678901"));
        f.key(Qt::Key_Down);
        f.key(Qt::Key_Up);
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        f.key(Qt::Key_F2);
        f.key(Qt::Key_Home);
        for (int i = 0; i < 5; ++i)
            f.key(Qt::Key_Right);
        f.key(Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("123.4--.------"));
        QCOMPARE(grid->cellEditor()->cursorPosition(), 5);
        QVERIFY(grid->cellChanged());
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        f.type(QStringLiteral("5"));
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("123.45-.------"));
        f.key(Qt::Key_Return);
        QCOMPARE(Dados->Table1CPF->AsString(), QStringLiteral("12345"));

        f.key(Qt::Key_F2);
        f.key(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("---.---.------"));
        f.key(Qt::Key_Return);
        QVERIFY(Dados->Table1CPF->IsNull());
    }

    // A change that cannot start an edit (another program holds the row's lock) shows the
    // error and is undone, by a typed character or by the line edit's own keys alike.
    void changeOnALockedRowIsUndone() {
        f.open(2, 0);
        QProcess* holder =
            startChildProcess(this, {QStringLiteral("--hold-lock"), f.folder(), f.matricula(1)});
        QCOMPARE(holder->readAllStandardOutput().trimmed(), QByteArray("locked"));
        const auto release = qScopeGuard([holder] {
            ::kill(pid_t(holder->processId()), SIGKILL);
            holder->waitForFinished(10000);
        });
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cNome);
        const auto refusedOnce = [&](auto change) {
            MaintenanceFixture::BoxCounter boxes;
            change();
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(
                boxes.texts.first().startsWith(QStringLiteral("Record locked by another user")));
            // Where no window manager gives the activation back once the box is gone.
            Form2->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            QCOMPARE(grid->cellEditor()->text(), QStringLiteral("Func 1"));
            QVERIFY(!grid->cellChanged());
            QCOMPARE(f.employees()->State(), DataSetState::Browse);
        };
        refusedOnce([this] { f.type(QStringLiteral("x")); });
        if (!hasLineEditingKeys())
            QSKIP("this platform has no line-editing keys (run under X: tst_maintenance_x11)");
        refusedOnce([this] { f.key(Qt::Key_U, Qt::ControlModifier); });
    }

    // Middle-click pastes the selection clipboard (where the platform has one).
    void middleClickPasteChangesTheCell() {
        if (!QGuiApplication::clipboard()->supportsSelection())
            QSKIP("this platform has no selection clipboard (run under X: tst_maintenance_x11)");
        f.open(1, 1);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wHoras);
        f.key(Qt::Key_F2);
        f.key(Qt::Key_End);
        QGuiApplication::clipboard()->setText(QStringLiteral("7"), QClipboard::Selection);
        QCOMPARE(f.click(grid->cellEditor(), {}, Qt::MiddleButton), grid->cellEditor());
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("407"));
        QVERIFY(grid->cellChanged());
        QCOMPARE(f.weeks()->State(), DataSetState::Edit);
        f.key(Qt::Key_Return);
        QCOMPARE(Dados->Table2HorasNaSemana->AsInteger(), 407);

        // Into the CPF editor: typed over the digit positions from the point clicked.
        f.focusCell(Form2->DBGrid1, cCPF);
        f.key(Qt::Key_F2);
        QGuiApplication::clipboard()->setText(QStringLiteral("98765"), QClipboard::Selection);
        QLineEdit* cpf = Form2->DBGrid1->cellEditor();
        QCOMPARE(f.click(cpf, QPoint(1, cpf->height() / 2), Qt::MiddleButton), cpf);
        QCOMPARE(cpf->text(), QStringLiteral("987.65-.------"));
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        f.key(Qt::Key_Return);
        QCOMPARE(Dados->Table1CPF->AsString(), QStringLiteral("98765"));
    }

    // ---- failures while leaving a cell ----------------------------------------------------

    // A post refused for a required field makes that field's column current with its
    // editor open, whichever key left the row.
    void failedPostOpensTheNamedColumn_data() {
        QTest::addColumn<int>("fromCol");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Tab past the last column")
            << int(cSal_Hora) << int(Qt::Key_Tab) << int(Qt::NoModifier);
        QTest::newRow("Shift+Tab before the first column")
            << int(cMatricula) << int(Qt::Key_Backtab) << int(Qt::ShiftModifier);
        QTest::newRow("Down") << int(cSexo) << int(Qt::Key_Down) << int(Qt::NoModifier);
        QTest::newRow("Up") << int(cCPF) << int(Qt::Key_Up) << int(Qt::NoModifier);
    }

    void failedPostOpensTheNamedColumn() {
        QFETCH(int, fromCol);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        f.open(2, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cMatricula);
        f.key(Qt::Key_End, Qt::ControlModifier);
        f.key(Qt::Key_Down);
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        f.type(QStringLiteral("00009"));
        for (int col = cMatricula; col < fromCol; ++col)
            f.key(Qt::Key_Tab);
        QCOMPARE(grid->currentColumn(), fromCol);
        const int row = grid->activeRow();
        MaintenanceFixture::BoxCounter boxes;
        f.key(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("Field 'Nome' must have a value.")});
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        QCOMPARE(grid->activeRow(), row);
        QCOMPARE(grid->currentColumn(), int(cNome));
        QVERIFY(grid->editorMode());
        QCOMPARE(Form2->focusWidget(), grid->cellEditor());
    }

    // A value that cannot be stored keeps the focus in its grid, with one error box, when
    // the other grid is clicked.
    void failedCellShowsOneBoxWhenTheOtherGridIsClicked_data() {
        QTest::addColumn<int>("grid");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("weeks") << 2 << int(wSemana) << "abc"
                               << "'abc' is not a valid integer value for field 'Semana'";
        QTest::newRow("employees")
            << 1 << int(cSal_Hora) << "x"
            << "'x' is not a valid floating point value for field 'Sal_Hora'";
    }

    void failedCellShowsOneBoxWhenTheOtherGridIsClicked() {
        QFETCH(int, grid);
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        f.open(2, 2);
        TDataGrid* g = gridNumber(grid);
        TDataGrid* other = gridNumber(3 - grid);
        f.focusCell(g, col);
        f.type(typed);
        const int otherRow = other->activeRow();
        {
            MaintenanceFixture::BoxCounter boxes;
            f.click(other->viewport(), f.cellPoint(other, 1, 1));
            QTRY_VERIFY(!boxes.texts.isEmpty());
            QTest::qWait(100);
            QCOMPARE(boxes.texts, QStringList{message});
        }
        QCOMPARE(Form2->focusWidget(), g->cellEditor());
        QCOMPARE(g->cellEditor()->text(), typed);
        QCOMPARE(other->activeRow(), otherRow);
        QCOMPARE(currentMatricula(), QStringLiteral("00001"));
    }

    // ---- painting -------------------------------------------------------------------------

    // Indicator cells are drawn for the rows shown, and none in the empty area below them.
    void noIndicatorCellBelowTheLastRow() {
        f.open(2, 1);
        for (TDataGrid* grid : {Form2->DBGrid1, Form2->DBGrid2}) {
            const int rows = grid->rowCount();
            QVERIFY(rows > 0 && rows < grid->visibleRowCount());
            const QImage image = grid->viewport()->grab().toImage();
            const QRect lastIndicator = grid->cellRect(rows - 1, -1);
            QVERIFY(!isPlain(image, lastIndicator));
            const QRect below(0, lastIndicator.bottom() + 1, grid->indicatorWidth,
                              image.height() - lastIndicator.bottom() - 1);
            QVERIFY2(isPlain(image, below), qPrintable(grid->objectName()));
            QCOMPARE(image.pixel(below.topLeft()),
                     image.pixel(image.width() - 1, image.height() - 1));
        }
    }

    // ---- refused keys ---------------------------------------------------------------------

    // The calculated column takes no typing: each key is refused with a beep, and nothing
    // else happens, with the editor hidden or shown.
    void typingOnTheCalculatedColumnBeeps() {
        f.open(1, 1);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wSal_semanal);
        const QString shown = grid->cellText(0, wSal_semanal);
        QSignalSpy refused(grid, &TDataGrid::keyRefused);
        f.type(QStringLiteral("5"));
        QCOMPARE(refused.size(), 1);
        QVERIFY(!grid->editorMode());
        QVERIFY(!grid->cellChanged());
        QCOMPARE(f.weeks()->State(), DataSetState::Browse);

        f.key(Qt::Key_F2);
        QVERIFY(grid->editorMode());
        const QString editText = grid->cellEditor()->text();
        f.type(QStringLiteral("5"));
        f.key(Qt::Key_Backspace);
        QCOMPARE(refused.size(), 3);
        QCOMPARE(grid->cellEditor()->text(), editText);
        QVERIFY(!grid->cellChanged());
        QCOMPARE(f.weeks()->State(), DataSetState::Browse);
        QCOMPARE(grid->cellText(0, wSal_semanal), shown);
    }

    // ---- the mouse wheel ------------------------------------------------------------------

    // Small wheel steps (touchpads) add up: four of 30 move one row, as one of 120 does.
    void smallWheelStepsAddUp() {
        f.open(10, 0);
        TDataGrid* grid = Form2->DBGrid1;
        f.focusCell(grid, cNome);
        for (int i = 0; i < 3; ++i) {
            wheelAt(grid->viewport(), -30);
            QCOMPARE(currentMatricula(), QStringLiteral("00001"));
        }
        wheelAt(grid->viewport(), -30);
        QCOMPARE(currentMatricula(), QStringLiteral("00002"));
        wheelAt(grid->viewport(), -120);
        QCOMPARE(currentMatricula(), QStringLiteral("00003"));
        wheelAt(grid->viewport(), -240);
        QCOMPARE(currentMatricula(), QStringLiteral("00005"));
        for (int i = 0; i < 4; ++i)
            wheelAt(grid->viewport(), 30);
        QCOMPARE(currentMatricula(), QStringLiteral("00004"));
    }

    // ---- the window ---------------------------------------------------------------------

    void closingKeyC() {
        f.open(2, 0);
        Form2->hide();
        // Right after showing, the focus is on the top panel: C closes.
        bool closedByC = false;
        QTimer::singleShot(3000, Form2, [] { Form2->close(); }); // a failed step ends the loop
        QTimer::singleShot(0, [&] {
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            QCOMPARE(Form2->focusWidget(), Form2->Panel1);
            f.key(Qt::Key_Escape);
            QVERIFY(Form2->isVisible());
            f.type(QStringLiteral("c"));
            closedByC = !Form2->isVisible();
        });
        QCOMPARE(Form2->exec(), int(mrCancel));
        QVERIFY(closedByC);
        // Once the focus is in a grid, C is typed into the cell.
        QTimer::singleShot(3000, Form2, [] { Form2->close(); });
        QTimer::singleShot(0, [&] {
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            f.focusCell(Form2->DBGrid1, cNome);
            f.type(QStringLiteral("c"));
            QVERIFY(Form2->isVisible());
            QCOMPARE(Form2->DBGrid1->cellEditor()->text(), QStringLiteral("c"));
            Form2->close();
        });
        Form2->exec();
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
    }

    void pendingEditSurvivesCloseAndReopen() {
        f.open(2, 0);
        const QPoint firstPlace = Form2->pos();
        f.focusCell(Form2->DBGrid1, cNome);
        f.type(QStringLiteral("Nova"));
        Form2->move(firstPlace + QPoint(30, 20));
        // The close button takes the focus from the grid, which stores the cell first.
        f.click(Form2->BitBtn1);
        QVERIFY(!Form2->isVisible());
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        QCOMPARE(Dados->Table1Nome->AsString(), QStringLiteral("Nova"));
        QTimer::singleShot(3000, Form2, [] { Form2->close(); });
        QTimer::singleShot(0, [&] {
            QCOMPARE(Form2->pos(), firstPlace + QPoint(30, 20));
            QCOMPARE(f.employees()->State(), DataSetState::Edit);
            QCOMPARE(Form2->DBGrid1->cellText(0, cNome), QStringLiteral("Nova"));
            Form2->close();
        });
        QCOMPARE(Form2->exec(), int(mrCancel));
    }

    void failedCellKeepsFocusAndDropsTheClick() {
        f.open(1, 1);
        TDataGrid* grid = Form2->DBGrid2;
        f.focusCell(grid, wSemana);
        f.type(QStringLiteral("abc"));
        auto seen = f.answerBox(QMessageBox::Ok);
        f.click(Form2->BitBtn1);
        QTRY_VERIFY(seen->seen);
        QCOMPARE(seen->text,
                 QStringLiteral("'abc' is not a valid integer value for field 'Semana'"));
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->focusWidget(), grid->cellEditor());
        QCOMPARE(grid->cellEditor()->text(), QStringLiteral("abc"));
    }

    void untouchedNewRowDroppedWhenFocusLeaves() {
        f.open(2, 0);
        f.focusCell(Form2->DBGrid1, cNome);
        f.key(Qt::Key_Insert);
        QCOMPARE(f.employees()->State(), DataSetState::Insert);
        f.click(Form2->DBGrid2->viewport(), f.cellPoint(Form2->DBGrid2, wSemana));
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
    }

    void resizingGrowsOnlyTheWeeksGrid() {
        f.open(1, 1);
        const int employeesHeight = Form2->Panel2->height();
        const int weeksHeight = Form2->Panel3->height();
        QCOMPARE(Form2->Panel1->height(), 41);
        QCOMPARE(employeesHeight, 137);
        Form2->resize(Form2->width() + 50, Form2->height() + 100);
        QTRY_COMPARE(Form2->Panel3->height(), weeksHeight + 100);
        QCOMPARE(Form2->Panel2->height(), employeesHeight);
        QCOMPARE(Form2->DBNavigator->geometry(), QRect(8, 8, 240, 25));
    }
};

int main(int argc, char** argv) {
    // The other program of the locked-row test: it holds an employee's row lock until killed.
    if (argc == 4 && qstrcmp(argv[1], "--hold-lock") == 0) {
        QCoreApplication app(argc, argv);
        QDir::setCurrent(app.arguments().value(2));
        return holdEmployeeRowLock(QStringLiteral("Func.DB"), app.arguments().value(3));
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMaintenance test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_maintenance.moc"
