// The real program, run as a child process in a working folder: start-up failures end it
// with exit code 1 and the "Application Error" text; every way of closing the main window
// ends it with exit code 0.

#include "TablesDir.h"

#include <QFile>
#include <QFileInfo>

namespace {

struct Run {
    int exitCode = -1;
    bool finished = false;
    QString errors;
};

// Runs Lv26 offscreen in `folder`; LV26_TEST_CLOSE=`close` when given; on the server
// `database` names when given.
Run runProgram(const QString& folder, const QString& close = QString(),
               const QString& database = QString()) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("LV26_TEST_CLOSE"));
    env.remove(QStringLiteral("LV26_DATABASE"));
    if (!database.isEmpty())
        env.insert(QStringLiteral("LV26_DATABASE"), database);
    if (!close.isEmpty())
        env.insert(QStringLiteral("LV26_TEST_CLOSE"), close);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder);
    program.start(QStringLiteral(LV26_BINARY_DIR "/src/app/Lv26"), {});
    Run run;
    run.finished = program.waitForFinished(20000);
    if (!run.finished)
        program.kill();
    run.exitCode = program.exitCode();
    run.errors = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void failingStartUpEndsWithApplicationError_data();
    void failingStartUpEndsWithApplicationError();
    void unreachableServerEndsWithApplicationError();
    void everyCloseEndsWithExitCodeZero_data();
    void everyCloseEndsWithExitCodeZero();
    void helpDocumentShipsBesideProgram();
};

void TestStartup::failingStartUpEndsWithApplicationError_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("no tables") << "none";
    QTest::newRow("Dados.DB missing") << "dados";
    QTest::newRow("foreign Func.DB") << "foreign";
}

void TestStartup::failingStartUpEndsWithApplicationError() {
    QFETCH(QString, damage);
    QTemporaryDir dir;
    if (damage != QLatin1String("none")) {
        QVERIFY(createTables(dir.path()));
        if (damage == QLatin1String("dados")) {
            QVERIFY(QFile::remove(dir.filePath(QStringLiteral("Dados.DB"))));
        } else {
            QFile foreign(dir.filePath(QStringLiteral("Func.DB")));
            QVERIFY(foreign.open(QIODevice::WriteOnly | QIODevice::Truncate));
            foreign.write("This is not a table file.\n");
        }
    }
    const Run run = runProgram(dir.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    // "Exception <class> in module <file> at <address>.\n<message>" ending in "."
    static const QRegularExpression text(
        QStringLiteral(
            "Application Error\\nException E\\w+ in module Lv26 at [0-9A-F]+\\.\\n(.+)\\n$"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = text.match(run.errors);
    QVERIFY2(match.hasMatch(), qPrintable(run.errors));
    QVERIFY(match.captured(1).endsWith(u'.'));
    QVERIFY(!match.captured(1).endsWith(QLatin1String("..")));
}

// The tables in the folder are not used when a server is named.
void TestStartup::unreachableServerEndsWithApplicationError() {
    QTemporaryDir dir;
    QVERIFY(createTables(dir.path()));
    const Run run = runProgram(dir.path(), QStringLiteral("button"),
                               QStringLiteral("host=%1 dbname=lv26").arg(dir.filePath("none")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.errors.contains(QStringLiteral("Application Error\nException EEngineError in module "
                                           "Lv26 at ")),
        qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("The database server cannot be reached.\n")),
             qPrintable(run.errors));
    QVERIFY2(run.errors.contains(dir.filePath("none")), qPrintable(run.errors));
}

void TestStartup::everyCloseEndsWithExitCodeZero_data() {
    QTest::addColumn<QString>("close");
    QTest::newRow("Fim do Programa") << "button";
    QTest::newRow("close box") << "closebox";
    QTest::newRow("Alt+F4") << "altf4";
}

void TestStartup::everyCloseEndsWithExitCodeZero() {
    QFETCH(QString, close);
    QTemporaryDir dir;
    QVERIFY(createTables(dir.path()));
    const Run run = runProgram(dir.path(), close);
    QVERIFY2(run.finished, "the program did not end");
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.errors.contains(QLatin1String("Exception")), qPrintable(run.errors));
}

void TestStartup::helpDocumentShipsBesideProgram() {
    const QFileInfo document(QStringLiteral(LV26_BINARY_DIR "/src/app/Lv26.html"));
    QVERIFY(document.isFile());
    QVERIFY(document.size() > 1000);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
