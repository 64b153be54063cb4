// The main window on real tables: its designed layout, focus and keyboard rules, the four
// commands, closing (also while the listing is being generated), the help layer and errors of
// the payroll command.

#include "../widgets/BoxWatcher.h"
#include "Input.h"
#include "TablesDir.h"
#include "app/Application.h"
#include "app/Help.h"
#include "app/Unit1.h"
#include "data/Unit3.h"
#include "preview/PreviewForm.h"
#include "preview/ReportPreview.h"
#include "preview/ReportPrint.h"
#include "report/LISTUnit.h"
#include "report/PageStore.h"
#include "report/ReportPrinter.h"
#include "widgets/BitBtn.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <memory>
#include <sqlite3.h>

using namespace lv26;

namespace {

// Stands in for the maintenance window: a real modal dialog that closes itself once shown.
class SelfClosingDialog : public QDialog {
public:
    int shows = 0;

protected:
    void showEvent(QShowEvent* event) override {
        ++shows;
        QDialog::showEvent(event);
        QTimer::singleShot(0, this, &QDialog::reject);
    }
};

int previews = 0;
void countPreview() {
    ++previews;
}

QString helpSourceFolder() {
    return QDir(QStringLiteral(LV26_TEST_DATA "/../../resources/help")).absolutePath();
}

bool execSql(const QString& dbPath, const char* sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(dbPath.toUtf8().constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// Adds `employees` generated employees with their weeks to the tables in `dir`.
bool fillTables(const QString& dir, int employees) {
    QProcess tool;
    tool.start(lv26TablesTool(), {QStringLiteral("fill"), dir, QString::number(employees)});
    return tool.waitForFinished(120000) && tool.exitCode() == 0;
}

// Sees every progress notification the running generation posts, before its receiver does.
class ProgressWatcher : public QObject {
public:
    std::function<void()> onProgress;
    int seen = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == ProgressEventType) {
            ++seen;
            if (onProgress)
                onProgress();
        }
        return QObject::eventFilter(watched, event);
    }
};

// The payroll command's report over Dados->Table1, hooked to the main window as start-up
// hooks it; unhooked again on destruction.
class PayrollReport {
public:
    PayrollReport() : listForm_(Dados->Table1) {
        report_ = &listForm_.Report1;
        previewPayroll = [] { PreviewReport(*report_); };
        payrollReportBusy = [] { return report_->busy(); };
        cancelPayrollReport = [] { CancelReport(*report_); };
    }
    ~PayrollReport() {
        previewPayroll = &countPreview;
        payrollReportBusy = nullptr;
        cancelPayrollReport = nullptr;
        report_ = nullptr;
    }
    TReport& report() { return *report_; }

private:
    TListForm listForm_;
    static inline TReport* report_ = nullptr;
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void layoutAsDesigned();
    void startsWithFocusOnDescricao();
    void tabCyclesInTabOrder();
    void arrowsFollowTabOrder();
    void escapeOpensMaintenanceFromAnyButton();
    void escapeWithModifiersDoesNothing();
    void acceleratorsDAndF_data();
    void acceleratorsDAndF();
    void enterClicksFocusedButton();
    void closeButtonEndsLoopWithoutMaintenance();
    void closeBoxAndAltF4EndLoop_data();
    void closeBoxAndAltF4EndLoop();
    void helpOpensOnEveryPress();
    void missingHelpDocumentIsReportedByHelpWindow();
    void keyDFindsHelpOfBuiltAndInstalledProgram_data();
    void keyDFindsHelpOfBuiltAndInstalledProgram();
    void payrollErrorShowsBoxAndWindowStaysUsable();
    void closingDuringPayrollGenerationStopsItAndEnds_data();
    void closingDuringPayrollGenerationStopsItAndEnds();
    void errorsEscapingAnyEventHandlerReachErrorBox();
    void launcherShowRequest_data();
    void launcherShowRequest();
    void lastChanceText();

private:
    void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QVERIFY(test::typeKey(key, mods));
    }
    TBitBtn* focused() const { return qobject_cast<TBitBtn*>(form_->focusWidget()); }
    void openDados(const QString& dir) {
        delete Dados;
        Dados = nullptr;
        QVERIFY(QDir::setCurrent(dir));
        Dados = new TDados;
    }

    QTemporaryDir tables_;
    QTemporaryDir filledTables_;
    std::unique_ptr<TForm1> form_;
    SelfClosingDialog maintenance_;
};

void TestForm1::initTestCase() {
    QVERIFY(tables_.isValid());
    QVERIFY(createTables(tables_.path()));
    openDados(tables_.path());
    maintenanceWindow = &maintenance_;
    previewPayroll = &countPreview;
    setHelpSearchPath({helpSourceFolder()});
}

void TestForm1::init() {
    form_ = std::make_unique<TForm1>();
    TApplication::instance()->setMainForm(form_.get());
    maintenance_.shows = 0;
    previews = 0;
}

void TestForm1::cleanup() {
    form_.reset();
    closeHelpWindow();
}

void TestForm1::cleanupTestCase() {
    maintenanceWindow = nullptr;
    previewPayroll = nullptr;
    delete Dados;
    Dados = nullptr;
}

void TestForm1::layoutAsDesigned() {
    QCOMPARE(form_->logicalDpiY(), 96);
    QCOMPARE(form_->pos(), QPoint(200, 108));
    QCOMPARE(form_->size(), QSize(559, 348));
    QCOMPARE(form_->windowTitle(), QStringLiteral("Exercício Lv26"));
    QCOMPARE(form_->font().pixelSize(), 11);
    QCOMPARE(QFontInfo(form_->font()).family(), QStringLiteral("Liberation Sans"));

    QCOMPARE(form_->Label1->geometry(), QRect(128, 40, 297, 20));
    QCOMPARE(form_->Label1->text(), QStringLiteral("PROGRAMA DE BANCO DE DADOS"));
    QVERIFY(form_->Label1->alignment() & Qt::AlignHCenter);
    QVERIFY(form_->Label1->font().bold());
    QCOMPARE(form_->Label1->font().pixelSize(), 16);

    const struct {
        TBitBtn* button;
        int top;
        const char* caption;
        TBitBtn::Kind kind;
    } buttons[] = {
        {form_->BitBtn4, 80, "&Descrição", TBitBtn::bkHelp},
        {form_->BitBtn1, 120, "Cadastro de Funcionários", TBitBtn::bkCustom},
        {form_->BitBtn3, 160, "&Folha de Pagamento", TBitBtn::bkYes},
        {form_->BitBtn2, 200, "Fim do Programa", TBitBtn::bkClose},
    };
    for (const auto& b : buttons) {
        QCOMPARE(b.button->geometry(), QRect(184, b.top, 153, 25));
        QCOMPARE(b.button->text(), QString::fromUtf8(b.caption));
        QCOMPARE(b.button->kind(), b.kind);
        QCOMPARE(b.button->glyph().size(), QSize(36, 18));
    }
    QVERIFY(form_->BitBtn1->isCancel());
    QCOMPARE(form_->BitBtn1->numGlyphs(), 2);
    QVERIFY(form_->BitBtn3->isDefaultButton());
}

void TestForm1::startsWithFocusOnDescricao() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QCOMPARE(focused(), form_->BitBtn4);
    QVERIFY(form_->BitBtn4->showsDefaultFrame());
    QVERIFY(!form_->BitBtn3->showsDefaultFrame()); // the mark follows the focus
}

void TestForm1::tabCyclesInTabOrder() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    const QList<TBitBtn*> order{form_->BitBtn1, form_->BitBtn2, form_->BitBtn3, form_->BitBtn4,
                                form_->BitBtn1};
    for (TBitBtn* expected : order) {
        press(Qt::Key_Tab);
        QCOMPARE(focused(), expected);
    }
    for (TBitBtn* expected : {form_->BitBtn4, form_->BitBtn3, form_->BitBtn2, form_->BitBtn1}) {
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), expected);
    }
}

void TestForm1::arrowsFollowTabOrder() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    press(Qt::Key_Right);
    QCOMPARE(focused(), form_->BitBtn1); // wraps from the last in tab order
    press(Qt::Key_Down);
    QCOMPARE(focused(), form_->BitBtn2);
    press(Qt::Key_Left);
    QCOMPARE(focused(), form_->BitBtn1);
    press(Qt::Key_Up);
    QCOMPARE(focused(), form_->BitBtn4);
    press(Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(focused(), form_->BitBtn4);
    QCOMPARE(maintenance_.shows + previews, 0);
}

void TestForm1::escapeOpensMaintenanceFromAnyButton() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    int expected = 0;
    for (TBitBtn* b : {form_->BitBtn4, form_->BitBtn1, form_->BitBtn3, form_->BitBtn2}) {
        b->setFocus();
        press(Qt::Key_Escape);
        QCOMPARE(maintenance_.shows, ++expected);
        QVERIFY(form_->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(form_.get())); // the keyboard is back here
    }
    QCOMPARE(previews, 0);
}

void TestForm1::escapeWithModifiersDoesNothing() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    press(Qt::Key_Escape, Qt::ShiftModifier);
    press(Qt::Key_Escape, Qt::ControlModifier);
    QCOMPARE(maintenance_.shows, 0);
    QVERIFY(form_->isVisible());
}

void TestForm1::acceleratorsDAndF_data() {
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<bool>("help");
    QTest::newRow("d") << Qt::Key_D << Qt::KeyboardModifiers() << true;
    QTest::newRow("D") << Qt::Key_D << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
    QTest::newRow("Alt+D") << Qt::Key_D << Qt::KeyboardModifiers(Qt::AltModifier) << true;
    QTest::newRow("f") << Qt::Key_F << Qt::KeyboardModifiers() << false;
    QTest::newRow("F") << Qt::Key_F << Qt::KeyboardModifiers(Qt::ShiftModifier) << false;
    QTest::newRow("Alt+f") << Qt::Key_F << Qt::KeyboardModifiers(Qt::AltModifier) << false;
}

void TestForm1::acceleratorsDAndF() {
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(bool, help);
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->BitBtn1->setFocus(); // neither target has the focus
    press(key, mods);
    if (help) {
        QTRY_VERIFY(helpWindow() && helpWindow()->isVisible());
        QCOMPARE(previews, 0);
    } else {
        QTRY_COMPARE(previews, 1);
        QVERIFY(!helpWindow());
    }
    QCOMPARE(maintenance_.shows, 0);
}

void TestForm1::enterClicksFocusedButton() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->BitBtn1->setFocus();
    press(Qt::Key_Return);
    QCOMPARE(maintenance_.shows, 1);
    QCOMPARE(previews, 0); // BitBtn3's default mark does not take Enter
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->BitBtn3->setFocus();
    press(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(previews, 1);
    form_->BitBtn2->setFocus();
    press(Qt::Key_Return);
    QVERIFY(!form_->isVisible());
    QCOMPARE(maintenance_.shows, 1);
}

void TestForm1::closeButtonEndsLoopWithoutMaintenance() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTimer::singleShot(0, form_->BitBtn2, [this] { test::clickAt(form_->BitBtn2); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!form_->isVisible());
    QCOMPARE(maintenance_.shows, 0); // its OnClick names BitBtn1Click, which never runs
}

void TestForm1::closeBoxAndAltF4EndLoop_data() {
    QTest::addColumn<bool>("altF4");
    QTest::newRow("close box") << false;
    QTest::newRow("Alt+F4") << true;
}

void TestForm1::closeBoxAndAltF4EndLoop() {
    QFETCH(bool, altF4);
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTimer::singleShot(0, form_.get(), [this, altF4] {
        if (altF4)
            press(Qt::Key_F4, Qt::AltModifier);
        else
            form_->close(); // what the window system's close request does
    });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!form_->isVisible());
    QCOMPARE(maintenance_.shows, 0);
}

void TestForm1::helpOpensOnEveryPress() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    auto* app = TApplication::instance();
    app->setHelpFile(QString());
    QVERIFY(!app->helpCommand(HELP_CONTENTS, 0)); // nothing to ask before a help file is set

    test::clickAt(form_->BitBtn4);
    QCOMPARE(app->helpFile(), QStringLiteral("Lv26.hlp"));
    QVERIFY(helpWindow() && helpWindow()->isVisible());
    QCOMPARE(QFileInfo(helpWindow()->documentPath()).fileName(), QStringLiteral("Lv26.html"));
    QCOMPARE(helpWindow()->windowTitle(), QStringLiteral("Ajuda do Lv26"));
    QVERIFY(helpWindow()->browser()->toPlainText().contains(QStringLiteral("Folha de Pagamento")));

    // Pressed again while open: the same window, shown and on top.
    QPointer<HelpWindow> first = helpWindow();
    form_->activateWindow();
    test::clickAt(form_->BitBtn4);
    QCOMPARE(helpWindow(), first.data());
    QTRY_VERIFY(first->isActiveWindow());

    // Closed by the user, then pressed again: shown again.
    first->close();
    QTRY_VERIFY(!first);
    test::clickAt(form_->BitBtn4);
    QVERIFY(helpWindow() && helpWindow()->isVisible());
    QCOMPARE(app->helpFile(), QStringLiteral("Lv26.hlp"));
}

void TestForm1::missingHelpDocumentIsReportedByHelpWindow() {
    QTemporaryDir empty;
    setHelpSearchPath({empty.path()});
    BoxWatcher watcher;
    form_->show();
    test::clickAt(form_->BitBtn4);
    setHelpSearchPath({helpSourceFolder()});
    QVERIFY(helpWindow() && helpWindow()->isVisible());
    QVERIFY(helpWindow()->documentPath().isEmpty());
    const QString text = helpWindow()->browser()->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("Não foi possível abrir")) &&
                 text.contains(QStringLiteral("Lv26.hlp")),
             qPrintable(text));
    QVERIFY(watcher.boxes().isEmpty()); // the program itself shows nothing
    QVERIFY(form_->isVisible());
}

void TestForm1::keyDFindsHelpOfBuiltAndInstalledProgram_data() {
    QTest::addColumn<QStringList>("documents"); // copies of the help document, by folder
    QTest::addColumn<QString>("expected");
    QTest::newRow("installed in a prefix")
        << QStringList{QStringLiteral("share/lv26")} << QStringLiteral("share/lv26");
    QTest::newRow("build tree") << QStringList{QStringLiteral("bin")} << QStringLiteral("bin");
    QTest::newRow("both: beside the program first")
        << QStringList{QStringLiteral("share/lv26"), QStringLiteral("bin")}
        << QStringLiteral("bin");
}

// The program's folder is <prefix>/bin in a temporary layout; the working folder holds
// only the tables.
void TestForm1::keyDFindsHelpOfBuiltAndInstalledProgram() {
    QFETCH(QStringList, documents);
    QFETCH(QString, expected);
    QTemporaryDir prefix;
    const QDir root(prefix.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    for (const QString& folder : documents) {
        QVERIFY(root.mkpath(folder));
        QVERIFY(QFile::copy(helpSourceFolder() + QStringLiteral("/Lv26.html"),
                            root.filePath(folder + QStringLiteral("/Lv26.html"))));
    }
    setHelpSearchPath(helpSearchPathFor(root.filePath(QStringLiteral("bin"))));
    const auto restore = qScopeGuard([] { setHelpSearchPath({helpSourceFolder()}); });

    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    press(Qt::Key_D);
    QTRY_VERIFY(helpWindow() && helpWindow()->isVisible());
    QCOMPARE(helpWindow()->documentPath(),
             QFileInfo(root.filePath(expected + QStringLiteral("/Lv26.html"))).absoluteFilePath());
    QVERIFY(helpWindow()->browser()->toPlainText().contains(QStringLiteral("Folha de Pagamento")));
}

void TestForm1::payrollErrorShowsBoxAndWindowStaysUsable() {
    QTemporaryDir dir;
    QVERIFY(createTables(dir.path()));
    QVERIFY(execSql(dir.filePath(QStringLiteral("Func.DB")),
                    "INSERT INTO Func (Matricula, Nome, CPF, Sexo, Sal_Hora, HorasNoMes) "
                    "VALUES ('00001', 'Ana', '12345678901', NULL, 10.5, 0)"));
    openDados(dir.path());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    BoxWatcher watcher;

    test::clickAt(form_->BitBtn3);
    QCOMPARE(watcher.boxes().size(), 1);
    QVERIFY2(watcher.boxes()[0].text.contains(QStringLiteral("Sexo")),
             qPrintable(watcher.boxes()[0].text));
    QCOMPARE(watcher.boxes()[0].title, TApplication::instance()->title());
    QCOMPARE(watcher.boxes()[0].icon, QMessageBox::Critical);
    QCOMPARE(previews, 0); // no preview after a failed total

    QVERIFY(form_->isVisible() && form_->isEnabled());
    QVERIFY(QTest::qWaitForWindowActive(form_.get())); // the box gave the keyboard back
    form_->BitBtn1->setFocus();
    press(Qt::Key_Return);
    QCOMPARE(maintenance_.shows, 1);

    openDados(tables_.path());
}

void TestForm1::closingDuringPayrollGenerationStopsItAndEnds_data() {
    QTest::addColumn<QString>("moment");
    QTest::newRow("before the generation begins") << "before";
    QTest::newRow("at the first progress notification") << "first";
    QTest::newRow("with the pages in a temporary file") << "spilled";
}

// The main window closed while the listing is being generated, from inside the generation's
// own dispatch and before the preview's wait has begun: the generation stops before its next
// employee row, the page store goes with its temporary file and the event loop ends with 0.
void TestForm1::closingDuringPayrollGenerationStopsItAndEnds() {
    QFETCH(QString, moment);
    QVERIFY(filledTables_.isValid());
    if (!QFile::exists(filledTables_.filePath(QStringLiteral("Func.DB"))))
        QVERIFY(createTables(filledTables_.path()) && fillTables(filledTables_.path(), 1500));
    openDados(filledTables_.path());
    const auto restoreTables = qScopeGuard([this] { openDados(tables_.path()); });
    {
        PayrollReport payroll;
        form_->show();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QString rowAtClose, tempFile;
        int progressAtClose = -1;
        ProgressWatcher watcher;
        auto closeMainWindow = [&] {
            if (progressAtClose >= 0)
                return;
            progressAtClose = watcher.seen;
            rowAtClose = Dados->Table1Matricula->AsString();
            form_->close();
        };
        watcher.onProgress = [&] {
            TPageList* pages =
                lastPreviewForm() ? lastPreviewForm()->printer()->pageList() : nullptr;
            if (moment == QLatin1String("first")) {
                closeMainWindow();
            } else if (moment == QLatin1String("spilled") && pages &&
                       pages->stream().storage() == TPageStream::Storage::TemporaryFile) {
                tempFile = pages->stream().fileName();
                closeMainWindow();
            }
        };
        qApp->installEventFilter(&watcher);
        QTimer::singleShot(0, form_.get(), [&] {
            if (moment == QLatin1String("before"))
                QTimer::singleShot(0, form_.get(), closeMainWindow);
            test::clickAt(form_->BitBtn3);
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        qApp->removeEventFilter(&watcher);

        QVERIFY(progressAtClose >= 0);
        QCOMPARE(watcher.seen, progressAtClose); // not one more row after the close
        if (moment != QLatin1String("before"))
            QCOMPARE(Dados->Table1Matricula->AsString(), rowAtClose);
        if (moment == QLatin1String("spilled")) {
            QVERIFY(!tempFile.isEmpty());
            QVERIFY(!QFile::exists(tempFile));
        }
        QVERIFY(!form_->isVisible());
        QVERIFY(!payroll.report().busy());
        QVERIFY(currentReportPrinter(payroll.report()) == nullptr);
        QVERIFY(lastPreviewForm() == nullptr);
    }
}

namespace {

// An object whose every custom event fails, as a handler of another window might.
class FailingReceiver : public QObject {
public:
    bool silent = false;
    int handled = 0;

protected:
    void customEvent(QEvent*) override {
        ++handled;
        if (silent)
            throw EAbort();
        throw EDatabaseError(QStringLiteral("Key violation"));
    }
};

} // namespace

void TestForm1::errorsEscapingAnyEventHandlerReachErrorBox() {
    FailingReceiver receiver;
    BoxWatcher watcher;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QTRY_COMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes()[0].text, QStringLiteral("Key violation."));

    receiver.silent = true;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QTRY_COMPARE(receiver.handled, 2);
    QTest::qWait(20);
    QCOMPARE(watcher.boxes().size(), 1);
}

void TestForm1::launcherShowRequest_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<Qt::WindowState>("state");
    QTest::newRow("none") << QByteArray() << Qt::WindowNoState;
    QTest::newRow("maximized") << QByteArray("maximized") << Qt::WindowMaximized;
    QTest::newRow("show command 3") << QByteArray("3") << Qt::WindowMaximized;
    QTest::newRow("minimized") << QByteArray("Minimized") << Qt::WindowMinimized;
    QTest::newRow("show command 7") << QByteArray("7") << Qt::WindowMinimized;
    QTest::newRow("other command") << QByteArray("1") << Qt::WindowNoState;
}

void TestForm1::launcherShowRequest() {
    QFETCH(QByteArray, request);
    QFETCH(Qt::WindowState, state);
    if (request.isEmpty())
        qunsetenv("LV26_SHOW");
    else
        qputenv("LV26_SHOW", request);
    QCOMPARE(launcherShowState(), state);
    qunsetenv("LV26_SHOW");
    showMainForm(form_.get(), state);
    QVERIFY(form_->isVisible());
    QCOMPARE(form_->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized),
             Qt::WindowStates(state));
}

void TestForm1::lastChanceText() {
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const void* address = reinterpret_cast<const void*>(quintptr(0xABC));
    const QString hex = QStringLiteral("0000000000000ABC").right(int(sizeof(void*) * 2));
    QCOMPARE(lv26::lastChanceText("EEngineError", QStringLiteral("Table is busy"), address),
             QStringLiteral("Exception EEngineError in module %1 at %2.\nTable is busy.")
                 .arg(module, hex));
    // Only a final "." is left alone, unlike the error box's rule.
    QVERIFY(lv26::lastChanceText("E", QStringLiteral("Done."), address).endsWith("\nDone."));
    QVERIFY(lv26::lastChanceText("E", QStringLiteral("Stop!"), address).endsWith("\nStop!."));
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestForm1 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"
