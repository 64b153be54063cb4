// Tests of lv26-tables and its generated data: the program is run as a user would run it.

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
    QList<Row> rowsOf(const QString& path) {
        auto cursor = open(path, QStringLiteral("Matricula"), OpenMode::ReadOnly);
        QList<Row> rows;
        Row row;
        while (cursor->next(row))
            rows << row;
        return rows;
    }

private Q_SLOTS:
    void cpfCheckDigits_data();
    void cpfCheckDigits();
    void matriculasSortInSequenceOrder();
    void createRefusesToOverwrite();
    void fillMakesPlausibleEmployeesAndWeeks();
    void fillIsDeterministicAndContinuesNumbering();
    void lockRowHoldsTheLockUntilKilled();
    void onAServerCreateFillAndCopyAllOrNothing();
};

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
    QCOMPARE(run({"create", dir.path()}), 0);
    QVERIFY(QFile::exists(dir.filePath("Func.DB")) && QFile::exists(dir.filePath("Dados.DB")));
    QFile::remove(dir.filePath("Func.DB"));
    const QDateTime dadosTime = QFileInfo(dir.filePath("Dados.DB")).lastModified();
    QByteArray output;
    QCOMPARE(run({"create", dir.path()}, &output), 1);
    QVERIFY2(output.contains("Table already exists."), output.constData());
    QVERIFY(!QFile::exists(dir.filePath("Func.DB"))); // nothing half made
    QCOMPARE(QFileInfo(dir.filePath("Dados.DB")).lastModified(), dadosTime);
    QCOMPARE(run({"create", dir.filePath("missing")}), 1);
    QVERIFY(run({"fill", dir.path()}) != 0);
    QVERIFY(run({"frobnicate"}) != 0);
}

void TestTables::fillMakesPlausibleEmployeesAndWeeks() {
    QTemporaryDir dir;
    QCOMPARE(run({"create", dir.path()}), 0);
    QCOMPARE(run({"fill", dir.path(), "200", "--seed", "3"}), 0);
    const QList<Row> employees = rowsOf(dir.filePath("Func.DB"));
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
    const QList<Row> weeks = rowsOf(dir.filePath("Dados.DB"));
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
    QTemporaryDir a, b;
    for (const QTemporaryDir* dir : {&a, &b}) {
        QCOMPARE(run({"create", dir->path()}), 0);
        QCOMPARE(run({"fill", dir->path(), "50", "--seed", "9"}), 0);
    }
    QCOMPARE(rowsOf(a.filePath("Func.DB")), rowsOf(b.filePath("Func.DB")));
    QCOMPARE(rowsOf(a.filePath("Dados.DB")), rowsOf(b.filePath("Dados.DB")));
    QCOMPARE(run({"fill", a.path(), "5"}), 0);
    const QList<Row> employees = rowsOf(a.filePath("Func.DB"));
    QCOMPARE(employees.size(), 55);
    QCOMPARE(employees.last()[0].toString(), QStringLiteral("00055"));
}

void TestTables::lockRowHoldsTheLockUntilKilled() {
    QTemporaryDir dir;
    QCOMPARE(run({"create", dir.path()}), 0);
    QCOMPARE(run({"fill", dir.path(), "3"}), 0);
    QProcess holder;
    holder.start(tool(), {"lock-row", dir.path(), "Func.DB", "00002"});
    QVERIFY(holder.waitForReadyRead(20000));
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("locked"));
    auto cursor = open(dir.filePath("Func.DB"), QStringLiteral("Matricula"), OpenMode::ReadWrite);
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00002"));
    Row row;
    QVERIFY(cursor->next(row));
    QVERIFY_THROWS_EXCEPTION(EEngineError, cursor->lockCurrent(row));
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished(10000));
    cursor->lockCurrent(row);
}

// With LV26_DATABASE set the tables are the server's; copy brings a folder's rows over in
// one transaction, so a copy that meets a duplicate key leaves the server as it was.
void TestTables::onAServerCreateFillAndCopyAllOrNothing() {
    test::TestServer server;
    QString why;
    bool unavailable = false;
    if (!server.start(&why, &unavailable)) {
        if (unavailable)
            QSKIP(qPrintable(why));
        QFAIL(qPrintable(why));
    }
    const QString db = server.conninfo();
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
    const QList<Row> employees = rowsOf(dir.filePath("Func.DB"));
    const QList<Row> weeks = rowsOf(dir.filePath("Dados.DB"));
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
