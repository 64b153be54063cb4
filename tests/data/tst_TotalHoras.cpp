// TotalHoras on tables large enough for several commit runs, with the stored values a foreign
// writer may leave, rows locked by another process, and a process killed halfway: the totals
// must be those the week rows read through Table2 add up to, and whatever was posted must
// survive intact.

#include "ChildProcess.h"
#include "DataTestSupport.h"
#include "data/GeneralValue.h"
#include "data/Unit3.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sqlite3.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::test;

namespace {

QString matricula(int n) {
    return QString::number(n).rightJustified(5, QLatin1Char('0'));
}

// Runs `sql` on a table file directly, or on the run's server (where the unquoted names
// reach the lower-case tables and columns), as another program would write it.
void execOn(const char* file, const QByteArray& sql) {
    if (testingOnServer()) {
        const QStringList out = runSql(runServer().conninfo(), QString::fromUtf8(sql));
        QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
        return;
    }
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(file, &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error);
    const QByteArray message = error ? QByteArray(error) : QByteArray();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, message.constData());
}

// Employees whose total is no longer -1, read as another program reads them.
int postedEmployees() {
    if (testingOnServer())
        return runSql(runServer().conninfo(),
                      QStringLiteral("SELECT count(*) FROM func WHERE horasnomes IS DISTINCT "
                                     "FROM -1"))
            .value(0)
            .toInt();
    sqlite3* db = nullptr;
    sqlite3_open_v2("Func.DB", &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* posted = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM Func WHERE HorasNoMes IS NOT -1", -1, &posted,
                       nullptr);
    const int count = sqlite3_step(posted) == SQLITE_ROW ? sqlite3_column_int(posted, 0) : 0;
    sqlite3_finalize(posted);
    sqlite3_close(db);
    return count;
}

QString integrityOf(const char* file) {
    sqlite3* db = nullptr;
    sqlite3_open(file, &db);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    QString result =
        sqlite3_step(check) == SQLITE_ROW
            ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)))
            : QStringLiteral("no answer");
    sqlite3_finalize(check);
    sqlite3_close(db);
    return result;
}

// `employees` employees with keys in order, each with 0 to 5 weeks of 0 to 60 hours, some
// blank, and a few orphan weeks.
void fillTables(int employees, quint32 seed) {
    QRandomGenerator random(seed);
    QList<engine::Row> people, weeks;
    for (int i = 0; i < employees; ++i) {
        people << TableFolder::employee(matricula(i + 1));
        const int count = random.bounded(6);
        for (int w = 1; w <= count; ++w) {
            const QVariant hours = random.bounded(50) == 0 ? QVariant() : random.bounded(61);
            weeks << TableFolder::week(matricula(i + 1), w, hours);
        }
    }
    weeks << TableFolder::week("99999", 1, 7) << TableFolder::week(QVariant(), 1, 7);
    TableFolder::addEmployees(people);
    TableFolder::addWeeks(weeks);
}

} // namespace

class tst_TotalHoras : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TableFolder> folder_;
    std::unique_ptr<TDados> dados_;

    // "Matricula=total" of every employee in index order ("-" for blank), the total being
    // what the employee's weeks add up to when read through Table2 (the link's own view of
    // the week rows and their stored values).
    static QStringList expectedTotals(TDados& dados) {
        QStringList totals;
        for (dados.Table1->First(); !dados.Table1->Eof(); dados.Table1->Next()) {
            QVariant sum = 0;
            for (dados.Table2->First(); !dados.Table2->Eof(); dados.Table2->Next())
                sum = addValues(sum, dados.Table2HorasNaSemana->Value());
            totals << dados.Table1Matricula->AsString() + QLatin1Char('=') +
                          (sum.isNull() ? QStringLiteral("-") : QString::number(sum.toLongLong()));
        }
        return totals;
    }
    QProcess* startChild(const QStringList& args) { return startChildProcess(this, args); }

    // Runs TotalHoras once in another process over the tables of the working folder: its
    // message, or "returned" when it returned normally. A pass that never returns fails the
    // test instead of hanging it.
    QString totalHorasInChild() {
        QProcess* child = startChild({QStringLiteral("--total-horas-once"), folder_->path()});
        if (!child->waitForFinished(60000)) {
            child->kill();
            child->waitForFinished(10000);
            return QStringLiteral("TotalHoras did not return within a minute");
        }
        return QString::fromUtf8(child->readAllStandardOutput()).trimmed();
    }

private Q_SLOTS:
    void init() { LV26_TABLE_FOLDER(folder_); }
    void cleanup() {
        dados_.reset();
        folder_.reset();
    }

    // Several commit runs, with week values stored as text, fractions, out-of-range numbers
    // and blobs among them, and keys that only differ in case or length.
    void totalsAreWhatTheWeeksAddUpTo() {
        LV26_FILES_ONLY("values of any type stored in a column");
        fillTables(1300, 7);
        execOn("Dados.DB", "INSERT INTO Dados VALUES ('00010', 9, '40'), ('00020', 9, ' 12 '), "
                           "('00030', 9, 'abc'), ('00040', 9, 40.5), ('00050', 9, 99999), "
                           "('00060', 9, x'3430'), ('00070', 9, -32768), ('000800', 9, 5), "
                           "('0090A', 9, 5), ('0090a', 9, 6), ('00900', 9, 1e300)");
        // Keys differing in case only, and one longer than its column (read back cut, so it
        // shows the weeks of the key it is cut to, and is posted under that key).
        execOn("Func.DB", "INSERT INTO Func VALUES ('0090a', 'Rui', NULL, 'M', 9.5, 3), "
                          "('0090A', 'Eva', NULL, 'F', 9.5, 4), "
                          "('99998X', 'Ivo', NULL, 'M', 9.5, 5)");
        execOn("Dados.DB", "INSERT INTO Dados VALUES ('99998', 1, 3)");
        dados_ = std::make_unique<TDados>();
        const QStringList expected = expectedTotals(*dados_);
        QCOMPARE(expected.filter("00030=").value(0), QStringLiteral("00030=-"));
        dados_->TotalHoras();
        QVERIFY(dados_->Table1->Eof());
        QVERIFY(dados_->Table2->Eof());
        QCOMPARE(dados_->Table1->State(), DataSetState::Browse);
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("99998"));
        QCOMPARE(storedTotals(*dados_), expected);
        dados_->TotalHoras();
        QCOMPARE(storedTotals(*dados_), expected);
    }

    // A blank required field far into the table stops there with its message; every
    // employee before it is posted, none after it.
    void stopsWhereAPostFailsInALaterRun() {
        fillTables(1200, 11);
        execOn("Func.DB", "UPDATE Func SET HorasNoMes = -1; "
                          "UPDATE Func SET Nome = NULL WHERE Matricula = '00900'");
        dados_ = std::make_unique<TDados>();
        const QStringList expected = expectedTotals(*dados_);
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Field 'Nome' must have a value"));
        QCOMPARE(dados_->Table1->State(), DataSetState::Edit);
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00900"));
        const QString total = expected.at(899).section(QLatin1Char('='), 1);
        QCOMPARE(dados_->Table1HorasNoMes->IsNull() ? QStringLiteral("-")
                                                    : dados_->Table1HorasNoMes->AsString(),
                 total);
        dados_->Table1->Cancel();
        const QStringList stored = storedTotals(*dados_);
        QCOMPARE(stored.mid(0, 899), expected.mid(0, 899));
        for (const QString& later : stored.mid(899))
            QVERIFY2(later.endsWith(QLatin1String("=-1")), qPrintable(later));
    }

    // Employees another program stored at row identity 0 and below are ordinary rows, also
    // where one stops the engine pass (a week stored with a fraction, done row by row) or
    // fails its post (a blank Sexo).
    void rowIdentitiesZeroAndBelow() {
        LV26_FILES_ONLY("row identities and fractions stored by another program");
        fillTables(1100, 19);
        execOn("Func.DB", "UPDATE Func SET HorasNoMes = -1; INSERT INTO Func (rowid, Matricula, "
                          "Nome, Sexo, Sal_Hora) VALUES (0, '0060A', 'Bia', 'F', 9), "
                          "(-4, '0070A', 'Caio', 'M', 9)");
        execOn("Dados.DB", "INSERT INTO Dados VALUES ('0060A', 9, 40.5), ('0070A', 9, 41.5), "
                           "('00800', 9, 2.5)");
        {
            TDados reader;
            const QStringList expected = expectedTotals(reader);
            QCOMPARE(totalHorasInChild(), QStringLiteral("returned"));
            QCOMPARE(storedTotals(reader), expected);
        }
        execOn("Func.DB", "UPDATE Func SET Sexo = NULL WHERE rowid = 0");
        QCOMPARE(totalHorasInChild(), QStringLiteral("Field 'Sexo' must have a value"));
        dados_ = std::make_unique<TDados>();
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Field 'Sexo' must have a value"));
        QCOMPARE(dados_->Table1->State(), DataSetState::Edit);
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Bia"));
    }

    // Every employee stops the engine pass (one week stored with a fraction, which only the
    // row-by-row reading coerces): each is done row by row and the pass goes on after it
    // without summing the weeks again, so the work stays linear in the table.
    void manyStopsSumTheWeeksOnce() {
        LV26_FILES_ONLY("fractions stored in an integer column, and the file scans counted");
        fillTables(1500, 23);
        execOn("Dados.DB", "UPDATE Dados SET HorasNaSemana = HorasNaSemana + 0.5 "
                           "WHERE Semana = 1");
        dados_ = std::make_unique<TDados>();
        const QStringList expected = expectedTotals(*dados_);
        const qint64 scans = engine::detailTableScans();
        dados_->TotalHoras();
        QCOMPARE(engine::detailTableScans() - scans, 1);
        QCOMPARE(storedTotals(*dados_), expected);
    }

    // A row another process holds in edit state: the employees before it are posted, then
    // the engine's locked-row message names the table.
    void stopsAtARowLockedByAnotherProcess() {
        fillTables(1100, 13);
        QProcess* holder =
            startChild({QStringLiteral("--hold-lock"), folder_->path(), QStringLiteral("00700")});
        QCOMPARE(holder->readAllStandardOutput().trimmed(), QByteArray("locked"));
        execOn("Func.DB", "UPDATE Func SET HorasNoMes = -1");
        dados_ = std::make_unique<TDados>();
        const QStringList expected = expectedTotals(*dados_);
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Record locked by another user.\nTable: Func.DB"));
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00700"));
        QCOMPARE(dados_->Table1->State(), DataSetState::Browse);
        ::kill(pid_t(holder->processId()), SIGKILL);
        QVERIFY(holder->waitForFinished(10000));
        const QStringList stored = storedTotals(*dados_);
        QCOMPARE(stored.mid(0, 699), expected.mid(0, 699));
        QCOMPARE(stored.at(699), QStringLiteral("00700=-1"));
        QCOMPARE(stored.at(700), QStringLiteral("00701=-1"));
        dados_->TotalHoras(); // the lock died with its holder
        QCOMPARE(storedTotals(*dados_), expected);
    }

    // A second press with nothing changed since the first reads nothing again, leaves the
    // files byte for byte as they were and the tables where a full pass leaves them.
    void secondPassWithNothingChangedReadsNothing() {
        LV26_FILES_ONLY("the files' bytes and the file scans counted");
        fillTables(1300, 29);
        dados_ = std::make_unique<TDados>();
        const QStringList expected = expectedTotals(*dados_);
        dados_->TotalHoras();
        const auto files = [] {
            QStringList bytes;
            for (const char* name : {"Func.DB", "Func.DB-wal", "Dados.DB", "Dados.DB-wal"}) {
                QFile file(QString::fromLatin1(name));
                bytes << (file.open(QIODevice::ReadOnly)
                              ? QString::fromLatin1(file.readAll().toHex())
                              : QStringLiteral("none"));
            }
            return bytes;
        };
        const QStringList before = files();
        const qint64 scans = engine::detailTableScans();
        dados_->Table1->First(); // moving the tables writes nothing
        dados_->Table2->Last();
        dados_->TotalHoras();
        QCOMPARE(engine::detailTableScans() - scans, 0);
        QVERIFY(files() == before);
        QVERIFY(dados_->Table1->Eof());
        QVERIFY(dados_->Table2->Eof());
        QCOMPARE(dados_->Table1->State(), DataSetState::Browse);
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("01300"));
        QCOMPARE(storedTotals(*dados_), expected);
    }

    // Between two presses: a week changed by another program, a week and an employee
    // changed through the tables, totals spoiled by another program, an employee left in
    // edit state. Each is seen by the next press.
    void secondPassSeesEveryChange() {
        fillTables(1100, 31);
        dados_ = std::make_unique<TDados>();
        dados_->TotalHoras();
        const auto totalOf = [&](const QString& key) {
            return storedTotals(*dados_).filter(key + QLatin1Char('=')).value(0);
        };

        execOn("Dados.DB",
               "INSERT INTO Dados (Matricula, Semana, HorasNaSemana) VALUES ('00005', 20, 1000)");
        dados_->TotalHoras();
        QCOMPARE(storedTotals(*dados_), expectedTotals(*dados_));
        QVERIFY(totalOf("00005") != QStringLiteral("00005=-"));

        execOn("Func.DB", "UPDATE Func SET HorasNoMes = -7 WHERE Matricula = '00009'");
        dados_->TotalHoras();
        QCOMPARE(storedTotals(*dados_), expectedTotals(*dados_));

        // A week written through Table2, the program's own connection.
        dados_->Table1->First();
        while (dados_->Table2->IsEmpty())
            dados_->Table1->Next();
        const QString key = dados_->Table1Matricula->AsString();
        dados_->Table2->Edit();
        dados_->Table2HorasNaSemana->setValue(55);
        dados_->Table2->Post();
        const QStringList expected = expectedTotals(*dados_);
        dados_->TotalHoras();
        QCOMPARE(storedTotals(*dados_), expected);

        // An employee's total changed and left in edit state: the press posts it first.
        dados_->Table1->First();
        dados_->Table1->Edit();
        dados_->Table1HorasNoMes->setValue(-3);
        dados_->TotalHoras();
        QCOMPARE(storedTotals(*dados_), expected);
        QCOMPARE(totalOf(key).isEmpty(), false);
    }

    // A row another process holds in edit state after a first press stops the second press
    // with the locked-row message, as it would any press.
    void secondPassStopsAtARowLockedSince() {
        fillTables(1100, 37);
        dados_ = std::make_unique<TDados>();
        dados_->TotalHoras();
        QProcess* holder =
            startChild({QStringLiteral("--hold-lock"), folder_->path(), QStringLiteral("00600")});
        QCOMPARE(holder->readAllStandardOutput().trimmed(), QByteArray("locked"));
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Record locked by another user.\nTable: Func.DB"));
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00600"));
        ::kill(pid_t(holder->processId()), SIGKILL);
        QVERIFY(holder->waitForFinished(10000));
        dados_->TotalHoras();
        QVERIFY(dados_->Table1->Eof());
    }

    // A process killed in the middle of TotalHoras: both files pass the integrity check and
    // the employees it posted are exactly a first part of the table, each with its total.
    void killedMidwayKeepsWhatItPosted() {
        // Enough employees that the pass is still running when the first are seen posted;
        // reading them back costs a statement per employee on a server.
        const int employees = testingOnServer() ? 15000 : 60000;
        fillTables(employees, 17);
        execOn("Func.DB", "UPDATE Func SET HorasNoMes = -1");
        QStringList expected;
        {
            TDados reader;
            expected = expectedTotals(reader);
        }
        QProcess* child = startChild({QStringLiteral("--total-horas"), folder_->path()});
        QCOMPARE(child->readAllStandardOutput().trimmed(), QByteArray("totalling"));
        // Kill as soon as some employees are posted.
        for (int tries = 0; tries < 2000 && postedEmployees() == 0; ++tries)
            QTest::qSleep(2);
        ::kill(pid_t(child->processId()), SIGKILL);
        QVERIFY(child->waitForFinished(10000));
        if (!testingOnServer()) {
            QCOMPARE(integrityOf("Func.DB"), QStringLiteral("ok"));
            QCOMPARE(integrityOf("Dados.DB"), QStringLiteral("ok"));
        }
        dados_ = std::make_unique<TDados>();
        const QStringList stored = storedTotals(*dados_);
        QCOMPARE(stored.size(), employees);
        int posted = 0;
        while (posted < stored.size() && !stored.at(posted).endsWith(QLatin1String("=-1")))
            ++posted;
        QCOMPARE(stored.mid(0, posted), expected.mid(0, posted));
        for (const QString& later : stored.mid(posted))
            QVERIFY2(later.endsWith(QLatin1String("=-1")), qPrintable(later));
        QVERIFY(posted > 0);
        QVERIFY2(posted < employees, "the child finished before it was killed");
    }
};

// Child side: locks the employee `matricula` in the run's storage as an edit locks it, says
// "locked" and keeps the lock until killed; 1 when there is no such employee.
static int holdRowLockInStorage(const QString& matricula) {
    engine::storage::Storage& storage = tableStorage();
    QString index;
    for (const engine::IndexInfo& info : storage.describe(QStringLiteral("Func.DB")).indexes) {
        if (info.fields.compare(QLatin1String("Matricula"), Qt::CaseInsensitive) == 0)
            index = info.name;
    }
    auto cursor = storage.open(QStringLiteral("Func.DB"), index, engine::OpenMode::ReadWrite);
    return test::lockRowUntilKilled(*cursor, matricula);
}

// Child modes run by the tests above in a separate process.
static int childMain(const QStringList& args) {
    try {
        QDir::setCurrent(args.value(2));
        if (args.value(1) == QLatin1String("--hold-lock"))
            return holdRowLockInStorage(args.value(3));
        TDados dados;
        if (args.value(1) == QLatin1String("--total-horas-once")) {
            try {
                dados.TotalHoras();
                std::puts("returned");
            } catch (const Error& e) {
                std::puts(e.message().toUtf8().constData());
            }
            return 0;
        }
        std::puts("totalling");
        std::fflush(stdout);
        for (;;)
            dados.TotalHoras();
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    return 1;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--hold-lock") ||
        args.value(1) == QLatin1String("--total-horas") ||
        args.value(1) == QLatin1String("--total-horas-once"))
        return childMain(args);
    tst_TotalHoras test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TotalHoras.moc"
