// Tests of lv26-tables and its generated data: the program is run as a user would run it, on
// the table files of a folder or, with LV26_TEST_BACKEND=server, on a private PostgreSQL server
// that LV26_DATABASE names.

#include "EngineTestSupport.h"
#include "Generator.h"
#include "PgTestServer.h"
#include "engine/TableEngine.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace lv26;
using namespace lv26::engine;
using test::testingOnServer;

namespace {

// The code of the engine error `work` throws; 0 when it throws none.
template <typename Work> quint16 errorCodeOf(Work&& work) {
    try {
        work();
    } catch (const EEngineError& e) {
        return e.code();
    }
    return 0;
}

} // namespace

class TestTables : public QObject {
    Q_OBJECT

    QString tool() const { return QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables"); }
    // Runs the tool on the table files of the folder its arguments name, or on the server
    // `database` names when given.
    int run(const QStringList& args, QByteArray* output = nullptr,
            const QString& database = QString()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LV26_DATABASE"));
        if (!database.isEmpty())
            env.insert(QStringLiteral("LV26_DATABASE"), database);
        p.setProcessEnvironment(env);
        p.start(tool(), args);
        if (!p.waitForFinished(120000))
            return -1;
        if (output)
            *output = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // Runs the tool's `command` on this run's tables: those of `folder` (files), or the
    // server's (the folder left out, LV26_DATABASE set).
    int runOn(const QTemporaryDir& folder, const QString& command, const QStringList& rest = {},
              QByteArray* output = nullptr) {
        if (testingOnServer())
            return run(QStringList{command} + rest, output, test::runServer().conninfo());
        return run(QStringList{command, folder.path()} + rest, output);
    }
    // The tables of `folder`, or the server's.
    std::unique_ptr<storage::Storage> tablesOf(const QTemporaryDir& folder) {
        return test::engineStorageAt(testingOnServer() ? test::runServer().conninfo()
                                                       : folder.path());
    }
    QList<Row> rowsOf(storage::Storage& tables, const QString& tableName) {
        auto cursor = tables.open(tableName, QStringLiteral("Matricula"), OpenMode::ReadOnly);
        QList<Row> rows;
        Row row;
        while (cursor->next(row))
            rows << row;
        return rows;
    }
    QList<Row> rowsOf(const QTemporaryDir& folder, const QString& tableName) {
        return rowsOf(*tablesOf(folder), tableName);
    }
    // Removes the server's tables, so that the next case starts without any.
    void dropServerTables() {
        const QStringList out = test::dropTables(test::runServer().conninfo());
        QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
    }

private Q_SLOTS:
    void init();

    void cpfCheckDigits_data();
    void cpfCheckDigits();
    void matriculasSortInSequenceOrder();
    void createRefusesToOverwrite();
    void fillMakesPlausibleEmployeesAndWeeks();
    void fillIsDeterministicAndContinuesNumbering();
    void lockRowHoldsTheLockUntilKilled();
    void onAServerCreateFillAndCopyAllOrNothing();
};

// Cases over tables start without any; on a server run the server is started first (or the
// case skipped where PostgreSQL cannot run).
void TestTables::init() {
    const QString name = QString::fromLatin1(QTest::currentTestFunction());
    if (name.startsWith(QLatin1String("cpf")) || name.startsWith(QLatin1String("matriculas"))) {
        if (testingOnServer())
            QSKIP("uses no tables: runs once, on the table files");
        return;
    }
    QString why;
    switch (test::backendState(&why)) {
    case test::BackendState::Unavailable:
        QSKIP(qPrintable(why));
    case test::BackendState::Failed:
        QFAIL(qPrintable(why));
    case test::BackendState::Ready:
        break;
    }
    if (testingOnServer())
        dropServerTables();
}

void TestTables::cpfCheckDigits_data() {
    QTest::addColumn<QString>("nine");
    QTest::addColumn<QString>("check");
    // Published examples of valid numbers.
    QTest::newRow("529.982.247-25") << "529982247"
                                    << "25";
    QTest::newRow("111.444.777-35") << "111444777"
                                    << "35";
    QTest::newRow("123.456.789-09") << "123456789"
                                    << "09";
    // Both weighted sums leave a rest below 2: both digits are 0.
    QTest::newRow("987.654.321-00") << "987654321"
                                    << "00";
}

void TestTables::cpfCheckDigits() {
    QFETCH(QString, nine);
    QFETCH(QString, check);
    QCOMPARE(tools::cpfCheckDigits(nine), check);
}

void TestTables::matriculasSortInSequenceOrder() {
    const QList<qint64> numbers{
        0, 1, 99998, 99999, 100000, 100035, 100036, 1000000, tools::matriculaCount - 1};
    QString previous;
    for (qint64 n : numbers) {
        const QString m = tools::matriculaFor(n);
        QCOMPARE(m.size(), 5);
        QCOMPARE(tools::sequenceOf(m), n);
        QVERIFY2(previous < m, qPrintable(previous + " " + m));
        previous = m;
    }
    QCOMPARE(tools::matriculaFor(100000), QStringLiteral("A0000"));
    QCOMPARE(tools::sequenceOf(QStringLiteral("abc12")), -1);
    QCOMPARE(tools::sequenceOf(QStringLiteral("-1234")), -1);
    QCOMPARE(tools::sequenceOf(QStringLiteral("123")), -1);
}

void TestTables::createRefusesToOverwrite() {
    QTemporaryDir dir;
    QByteArray output;
    QCOMPARE(runOn(dir, "create", {}, &output), 0);
    const auto tables = tablesOf(dir);
    QCOMPARE(rowsOf(*tables, "Func.DB").size(), 0);
    QCOMPARE(rowsOf(*tables, "Dados.DB").size(), 0);
    tables->appendRows("Dados.DB", [n = 0](Row& row) mutable {
        row = {QStringLiteral("00001"), 1, 40};
        return n++ < 1;
    });
    if (testingOnServer()) {
        QCOMPARE(test::runSql(test::runServer().conninfo(), "DROP TABLE func"), QStringList());
    } else {
        QVERIFY(QFile::exists(dir.filePath("Func.DB")) && QFile::exists(dir.filePath("Dados.DB")));
        QFile::remove(dir.filePath("Func.DB"));
    }
    const QDateTime dadosTime = QFileInfo(dir.filePath("Dados.DB")).lastModified();
    QCOMPARE(runOn(dir, "create", {}, &output), 1);
    QVERIFY2(output.startsWith("Table already exists."), output.constData());
    // Nothing half made, nothing overwritten.
    QCOMPARE(errorCodeOf([&] { tables->describe("Func.DB"); }), codes::TableNotFound);
    QCOMPARE(rowsOf(*tables, "Dados.DB").size(), 1);
    if (!testingOnServer()) {
        QCOMPARE(QFileInfo(dir.filePath("Dados.DB")).lastModified(), dadosTime);
        QCOMPARE(run({"create", dir.filePath("missing")}), 1);
    }
    QVERIFY(runOn(dir, "fill") != 0);
    QVERIFY(runOn(dir, "fill", {"many"}) != 0);
    QVERIFY(run({"frobnicate"}) != 0);
}

void TestTables::fillMakesPlausibleEmployeesAndWeeks() {
    QTemporaryDir dir;
    QCOMPARE(runOn(dir, "create"), 0);
    QCOMPARE(runOn(dir, "fill", {"200", "--seed", "3"}), 0);
    const QList<Row> employees = rowsOf(dir, "Func.DB");
    QCOMPARE(employees.size(), 200);
    QCOMPARE(employees.first()[0].toString(), QStringLiteral("00001"));
    QSet<QString> sexes;
    for (const Row& e : employees) {
        const QString cpf = e[2].toString();
        QCOMPARE(cpf.size(), 11);
        QCOMPARE(tools::cpfCheckDigits(cpf.left(9)), cpf.mid(9));
        QVERIFY(e[1].toString().size() <= 40 && e[1].toString().contains(' '));
        sexes << e[3].toString();
        const double wage = e[4].toDouble();
        QVERIFY(wage >= 8.5 && wage <= 95.0);
        QCOMPARE(qRound64(wage * 100) / 100.0, wage);
        QVERIFY(e[5].isNull());
    }
    QCOMPARE(sexes, QSet<QString>({"M", "F"}));
    const QList<Row> weeks = rowsOf(dir, "Dados.DB");
    QHash<QString, QList<int>> weeksOf;
    for (const Row& w : weeks) {
        weeksOf[w[0].toString()] << w[1].toInt();
        QVERIFY(w[2].toInt() >= 20 && w[2].toInt() <= 48);
    }
    QCOMPARE(weeksOf.size(), 200);
    for (const QList<int>& list : weeksOf) {
        QVERIFY(list == QList<int>({1, 2, 3, 4}) || list == QList<int>({1, 2, 3, 4, 5}));
    }
}

void TestTables::fillIsDeterministicAndContinuesNumbering() {
    // Two fills with one seed from empty tables (on a server, one after the other).
    QTemporaryDir a, b;
    QList<Row> employees[2], weeks[2];
    int i = 0;
    for (const QTemporaryDir* dir : {&a, &b}) {
        if (testingOnServer())
            dropServerTables();
        QCOMPARE(runOn(*dir, "create"), 0);
        QCOMPARE(runOn(*dir, "fill", {"50", "--seed", "9"}), 0);
        employees[i] = rowsOf(*dir, "Func.DB");
        weeks[i] = rowsOf(*dir, "Dados.DB");
        ++i;
    }
    QCOMPARE(employees[0].size(), 50);
    QCOMPARE(employees[0], employees[1]);
    QCOMPARE(weeks[0], weeks[1]);
    QByteArray output;
    QCOMPARE(runOn(b, "fill", {"5"}, &output), 0);
    QCOMPARE(output, QByteArray("Added 5 employees (00051 to 00055).\n"));
    const QList<Row> more = rowsOf(b, "Func.DB");
    QCOMPARE(more.size(), 55);
    QCOMPARE(more.last()[0].toString(), QStringLiteral("00055"));
}

void TestTables::lockRowHoldsTheLockUntilKilled() {
    QTemporaryDir dir;
    QCOMPARE(runOn(dir, "create"), 0);
    QCOMPARE(runOn(dir, "fill", {"3"}), 0);
    QProcess holder;
    QStringList args{"lock-row"};
    if (testingOnServer()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LV26_DATABASE"), test::runServer().conninfo());
        holder.setProcessEnvironment(env);
    } else {
        args << dir.path();
    }
    holder.start(tool(), args + QStringList{"Func.DB", "00002"});
    QVERIFY(holder.waitForReadyRead(20000));
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("locked"));
    const auto tables = tablesOf(dir);
    auto cursor = tables->open("Func.DB", QStringLiteral("Matricula"), OpenMode::ReadWrite);
    Row row;
    cursor->setRange(QStringLiteral("00001"), QStringLiteral("00001"));
    QVERIFY(cursor->next(row));
    cursor->lockCurrent(row); // only the one row is held
    cursor->releaseLock();
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00002"));
    QVERIFY(cursor->next(row));
    QCOMPARE(errorCodeOf([&] { cursor->lockCurrent(row); }), codes::RecordLocked);
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(test::lockOnceFree(*cursor, row), quint16(0));
    QVERIFY(cursor->hasLock());
}

// With LV26_DATABASE set the tables are the server's; copy brings a folder's rows over in
// one transaction, so a copy that meets a duplicate key leaves the server as it was.
void TestTables::onAServerCreateFillAndCopyAllOrNothing() {
    if (!testingOnServer())
        QSKIP("copies table files to a server: runs on the server run");
    const QString db = test::runServer().conninfo();
    QByteArray output;
    QCOMPARE(run({"create"}, &output, db), 0);
    QVERIFY(output.startsWith("Created func and dados on "));
    QCOMPARE(run({"create"}, &output, db), 1);
    QCOMPARE(output, QByteArray("Table already exists.\nTable: Func.DB\n"));
    QCOMPARE(run({"copy"}, nullptr, db), 2);
    QCOMPARE(run({"copy", "x"}), 2);

    QTemporaryDir dir;
    QCOMPARE(run({"create", dir.path()}), 0);
    QCOMPARE(run({"fill", dir.path(), "120", "--seed", "5"}), 0);
    SqliteStorage files(dir.path());
    const QList<Row> employees = rowsOf(files, "Func.DB");
    const QList<Row> weeks = rowsOf(files, "Dados.DB");
    QCOMPARE(run({"copy", dir.path()}, &output, db), 0);
    QCOMPARE(output, QStringLiteral("Copied 120 employees and %1 weeks from %2 to ")
                             .arg(weeks.size())
                             .arg(dir.path())
                             .toUtf8() +
                         output.mid(output.indexOf(" to ") + 4));
    const QStringList stored = test::runSql(
        db, "SELECT matricula || '/' || nome || '/' || sal_hora FROM func ORDER BY matricula");
    QCOMPARE(stored.size(), employees.size());
    for (qsizetype i = 0; i < stored.size(); ++i)
        QCOMPARE(stored[i], employees[i][0].toString() + u'/' + employees[i][1].toString() + u'/' +
                                QString::number(employees[i][4].toDouble()));
    const auto count = [&db](const char* table) {
        return test::runSql(db, QStringLiteral("SELECT count(*) FROM ") + QLatin1String(table));
    };
    QCOMPARE(count("dados"), QStringList{QString::number(weeks.size())});

    // Dados.DB would go in, Func.DB's keys are taken: nothing of either.
    QCOMPARE(run({"copy", dir.path()}, &output, db), 1);
    QVERIFY2(output.startsWith("Key violation."), output.constData());
    QCOMPARE(count("func"), QStringList{"120"});
    QCOMPARE(count("dados"), QStringList{QString::number(weeks.size())});

    // fill goes on after the server's highest registration number.
    QCOMPARE(run({"fill", "3"}, &output, db), 0);
    QCOMPARE(output, QByteArray("Added 3 employees (00121 to 00123).\n"));
}

QTEST_GUILESS_MAIN(TestTables)
#include "tst_Tables.moc"
