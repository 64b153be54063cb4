// The maintenance window on tables kept by a private PostgreSQL server: another program's
// row lock and its death, and the server stopped under a pending edit. Skipped with
// PostgreSQL's own reason where it cannot run.

#include "../maintenance/MaintenanceFixture.h"
#include "PgTestServer.h"

#include "data/PayrollSchema.h"
#include "engine/pg/PgStorage.h"

#include <QProcess>
#include <QScopeGuard>
#include <csignal>

using namespace lv26;
using namespace lv26::test;
using Nav = TRecordNavigator;

namespace {

enum EmployeeCol { cMatricula, cNome };

// The message of the lv26::Error `f` throws; empty when it throws nothing.
QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& error) {
        return error.message();
    }
    return QString();
}

} // namespace

class tst_ServerWindows : public QObject {
    Q_OBJECT

    TestServer server_;
    MaintenanceFixture f;

    // Form2 over two employees on the server (the fixture's own folder stays unused).
    void openOnServer() {
        engine::pg::PgStorage storage(server_.conninfo());
        createPayrollTables(storage);
        int n = 0;
        storage.appendRows(QStringLiteral("Func.DB"), [&](engine::Row& row) {
            if (n == 2)
                return false;
            ++n;
            row = {f.matricula(n), QStringLiteral("Func %1").arg(n),
                   QVariant(),     QStringLiteral("M"),
                   10.0,           QVariant()};
            return true;
        });
        qputenv("LV26_DATABASE", server_.conninfo().toUtf8());
        resetTableStorage();
        f.open(0, 0);
    }
    // lv26-tables holding the lock on employee `matricula` until it is killed.
    QProcess* holdLock(const QString& matricula) {
        auto* holder = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LV26_DATABASE"), server_.conninfo());
        holder->setProcessEnvironment(env);
        holder->start(QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables"),
                      {QStringLiteral("lock-row"), QStringLiteral("Func.DB"), matricula});
        holder->waitForReadyRead(30000);
        return holder;
    }

private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        LV26_START_TEST_SERVER(server_);
    }
    void init() { dropTables(server_.conninfo()); }
    void cleanup() {
        f.close();
        qunsetenv("LV26_DATABASE");
        resetTableStorage();
    }

    // Another program holds the employee: typing and the monthly totals get the lock
    // message; once that program is killed, the same edit goes in.
    void anotherProgramsLockDiesWithIt() {
        openOnServer();
        QProcess* holder = holdLock(f.matricula(1));
        QCOMPARE(holder->readAllStandardOutput().trimmed(), QByteArray("locked"));
        const auto release = qScopeGuard([holder] {
            holder->kill();
            holder->waitForFinished(10000);
        });
        const QString locked = QStringLiteral("Record locked by another user.\nTable: Func.DB");
        f.focusCell(Form2->DBGrid1, cNome);
        {
            MaintenanceFixture::BoxCounter boxes;
            f.type(QStringLiteral("x"));
            QCOMPARE(boxes.texts, QStringList{locked + u'.'});
        }
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(errorOf([] { Dados->TotalHoras(); }), locked);

        ::kill(pid_t(holder->processId()), SIGKILL);
        QVERIFY(holder->waitForFinished(10000));
        // Where no window manager gives the activation back once the box is gone.
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        f.type(QStringLiteral("x"));
        f.click(Form2->DBNavigator->button(Nav::nbPost));
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func WHERE matricula = '00001'"),
                 QStringList{"x"});
    }

    // The server stops under a typed change: the post shows the error in a box and keeps the
    // change; with the server back, the same post goes in.
    void serverStoppedUnderAPendingEdit() {
        openOnServer();
        f.focusCell(Form2->DBGrid1, cNome);
        f.type(QStringLiteral("Z"));
        server_.stop();
        {
            MaintenanceFixture::BoxCounter boxes;
            f.click(Form2->DBNavigator->button(Nav::nbPost));
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY2(boxes.texts.first().startsWith(
                         QStringLiteral("The database server cannot be reached.")),
                     qPrintable(boxes.texts.first()));
        }
        QCOMPARE(f.employees()->State(), DataSetState::Edit);
        QCOMPARE(Dados->Table1Nome->AsString(), QStringLiteral("Z"));
        QString why;
        bool unavailable = false;
        QVERIFY2(server_.start(&why, &unavailable), qPrintable(why));
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        f.click(Form2->DBNavigator->button(Nav::nbPost));
        QCOMPARE(f.employees()->State(), DataSetState::Browse);
        QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func WHERE matricula = '00001'"),
                 QStringList{"Z"});
    }
};

QTEST_MAIN(tst_ServerWindows)
#include "tst_serverwindows.moc"
