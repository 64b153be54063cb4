// The real program, run as a child process in a working folder: start-up failures end it
// with exit code 1 and the "Application Error" text; every way of closing the main window
// ends it with exit code 0.

#include "PgTestServer.h"
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

private:
    lv26::test::TestServer server_;
    bool serverTried_ = false;
    bool serverReady_ = false;
    QString serverWhy_;
    bool serverUnavailable_ = false;

private Q_SLOTS:
    void failingStartUpEndsWithApplicationError_data();
    void failingStartUpEndsWithApplicationError();
    void unreachableServerEndsWithApplicationError();
    void unusableServerTablesEndWithApplicationError_data();
    void unusableServerTablesEndWithApplicationError();
    void cleanupTestCase();
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

void TestStartup::unusableServerTablesEndWithApplicationError_data() {
    QTest::addColumn<QString>("setUp");    // SQL run on the server before the start
    QTest::addColumn<QString>("dbname");   // the database LV26_DATABASE names
    QTest::addColumn<QString>("expected"); // a part of the error box's text
    const QString drop = lv26::test::dropTablesSql();
    const QString currency = QStringLiteral("CREATE DOMAIN currency AS double precision; ");
    const QString dados = QStringLiteral(
        "CREATE TABLE dados (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
        "matricula char(5), semana smallint, horasnasemana smallint); CREATE INDEX "
        "dados_matricula ON dados (matricula NULLS FIRST, semana NULLS FIRST, rowid); ");
    QTest::newRow("wrong database") << drop << "nosuchdb"
                                    << "nosuchdb";
    QTest::newRow("no tables") << drop << "postgres"
                               << "Func.DB";
    QTest::newRow("dados missing")
        << drop + currency +
               "CREATE TABLE func (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
               "matricula char(5), nome char(40), cpf char(11), sexo char(1), sal_hora "
               "currency, horasnomes integer); CREATE UNIQUE INDEX func_matricula ON func "
               "(matricula NULLS FIRST)"
        << "postgres"
        << "Dados.DB";
    QTest::newRow("func without nome")
        << drop + currency + dados +
               "CREATE TABLE func (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
               "matricula char(5), cpf char(11), sexo char(1), sal_hora currency, horasnomes "
               "integer); CREATE UNIQUE INDEX func_matricula ON func (matricula NULLS FIRST)"
        << "postgres"
        << "Field 'Nome' not found";
    QTest::newRow("func with a wrong type")
        << drop + currency + dados +
               "CREATE TABLE func (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
               "matricula char(5), nome char(40), cpf char(11), sexo char(1), sal_hora "
               "smallint, horasnomes integer); CREATE UNIQUE INDEX func_matricula ON func "
               "(matricula NULLS FIRST)"
        << "postgres"
        << "Field 'Sal_Hora' is not of the expected type";
    QTest::newRow("func without its index")
        << drop + currency + dados +
               "CREATE TABLE func (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
               "matricula char(5), nome char(40), cpf char(11), sexo char(1), sal_hora "
               "currency, horasnomes integer)"
        << "postgres"
        << "has no index for fields 'Matricula'";
}

// Tables on the server that the program cannot use end it as a failing start-up does.
void TestStartup::unusableServerTablesEndWithApplicationError() {
    QFETCH(QString, setUp);
    QFETCH(QString, dbname);
    QFETCH(QString, expected);
    if (!serverTried_) {
        serverTried_ = true;
        serverReady_ = server_.start(&serverWhy_, &serverUnavailable_);
    }
    if (!serverReady_) {
        if (serverUnavailable_)
            QSKIP(qPrintable(serverWhy_));
        QFAIL(qPrintable(serverWhy_));
    }
    const QStringList out = lv26::test::runSql(server_.conninfo(), setUp);
    QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
    QTemporaryDir dir;
    QVERIFY(createTables(dir.path())); // good files beside, which a server run must not use
    const Run run = runProgram(dir.path(), QStringLiteral("button"),
                               server_.conninfo() + QStringLiteral(" dbname=") + dbname);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(QStringLiteral("Application Error\nException E")),
             qPrintable(run.errors));
    QVERIFY2(run.errors.contains(expected), qPrintable(run.errors));
}

void TestStartup::cleanupTestCase() {
    server_.stop();
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
