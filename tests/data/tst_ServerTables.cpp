// The data module on tables kept by a private PostgreSQL server (LV26_DATABASE): opening,
// posting, row locks between modules, the monthly totals as the table files give them, and
// the server going away under a pending edit. Skipped with PostgreSQL's own reason where it
// cannot run.

#include "DataTestSupport.h"
#include "PgTestServer.h"
#include "data/GeneralValue.h"
#include "data/PayrollSchema.h"
#include "data/Unit3.h"
#include "engine/pg/PgStorage.h"

#include <QRandomGenerator>
#include <memory>

using namespace lv26;
using namespace lv26::test;

namespace {

QString matricula(int n) {
    return QString::number(n).rightJustified(5, QLatin1Char('0'));
}

// Employees 00001.. with 0 to 5 weeks each, some hours blank; `blankNome` (0: none) has no
// name, which a post refuses.
void fillTables(engine::storage::Storage& storage, int employees, int blankNome) {
    QRandomGenerator random(17);
    QList<engine::Row> people, weeks;
    for (int i = 1; i <= employees; ++i) {
        engine::Row person = TableFolder::employee(matricula(i));
        if (i == blankNome)
            person[1] = QVariant();
        people << person;
        const int count = int(random.bounded(6));
        for (int w = 1; w <= count; ++w) {
            const QVariant hours = random.bounded(40) == 0 ? QVariant() : random.bounded(61);
            weeks << TableFolder::week(matricula(i), w, hours);
        }
    }
    weeks << TableFolder::week("99999", 1, 7) << TableFolder::week(QVariant(), 1, 7);
    const auto append = [&storage](const char* table, const QList<engine::Row>& rows) {
        qsizetype next = 0;
        storage.appendRows(QString::fromLatin1(table), [&](engine::Row& row) {
            if (next == rows.size())
                return false;
            row = rows.at(next++);
            return true;
        });
    };
    append("Func.DB", people);
    append("Dados.DB", weeks);
}

// What TotalHoras leaves: its message (empty when none), the employee it stands on and that
// one's state, then every stored total.
QStringList totalHorasOutcome(TDados& dados) {
    const QString error = errorOf([&] { dados.TotalHoras(); });
    QStringList outcome{error, dados.Table1Matricula->AsString(),
                        dados.Table1->State() == DataSetState::Edit ? QStringLiteral("edit")
                                                                    : QStringLiteral("browse")};
    dados.Table1->Cancel();
    return outcome + storedTotals(dados);
}

} // namespace

class tst_ServerTables : public QObject {
    Q_OBJECT

private:
    TestServer server_;

    // Points the program at `conninfo` (empty: the working folder's files).
    static void useDatabase(const QString& conninfo) {
        if (conninfo.isEmpty())
            qunsetenv("LV26_DATABASE");
        else
            qputenv("LV26_DATABASE", conninfo.toUtf8());
        resetTableStorage();
    }

private Q_SLOTS:
    void initTestCase() { LV26_START_TEST_SERVER(server_); }
    void init() {
        const QStringList out = dropTables(server_.conninfo());
        QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
        engine::pg::PgStorage storage(server_.conninfo());
        createPayrollTables(storage);
        useDatabase(server_.conninfo());
    }
    void cleanup() { useDatabase({}); }

    void opensAndPostsOnTheServer() {
        fillTables(tableStorage(), 3, 0);
        TDados dados;
        QCOMPARE(dados.Table1Matricula->AsString(), QStringLiteral("00001"));
        dados.Table1->Next();
        dados.Table1->Edit();
        dados.Table1Nome->setAsString(QStringLiteral("Bia"));
        dados.Table1->Post();
        QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func WHERE matricula = '00002'"),
                 QStringList{"Bia"});
        // Another program's change is seen on the next read of the row.
        runSql(server_.conninfo(), "UPDATE func SET nome = 'Caio' WHERE matricula = '00003'");
        dados.Table1->Next();
        QCOMPARE(dados.Table1Nome->AsString(), QStringLiteral("Caio"));
    }

    // More employees than one run writes, a blank week, weeks without an employee, and an
    // employee whose post fails: the same message, place, state and totals as on the files.
    void totalHorasAsOnTheTableFiles() {
        fillTables(tableStorage(), 700, 600);
        QStringList onServer;
        {
            TDados dados;
            onServer = totalHorasOutcome(dados);
        }
        useDatabase({});
        TableFolder folder;
        fillTables(tableStorage(), 700, 600);
        TDados dados;
        const QStringList onFiles = totalHorasOutcome(dados);
        QCOMPARE(onServer.mid(0, 3),
                 (QStringList{"Field 'Nome' must have a value", "00600", "edit"}));
        QCOMPARE(onServer, onFiles);
    }

    void anEditLocksTheEmployeeAgainstAnotherModule() {
        fillTables(tableStorage(), 2, 0);
        TDados first;
        TDados second;
        first.Table1->Edit();
        QCOMPARE(errorOf([&] { second.Table1->Edit(); }),
                 QStringLiteral("Record locked by another user.\nTable: Func.DB"));
        QCOMPARE(errorOf([&] { second.TotalHoras(); }),
                 QStringLiteral("Record locked by another user.\nTable: Func.DB"));
        first.Table1->Cancel();
        second.Table1->First();
        second.Table1->Edit();
        second.Table1->Post();
    }

    void aServerThatCannotBeReachedFailsTheOpening() {
        QTemporaryDir nowhere;
        useDatabase(QStringLiteral("host=%1 dbname=lv26 connect_timeout=5").arg(nowhere.path()));
        const QString error = errorOf([] { TDados dados; });
        QVERIFY2(error.startsWith(QStringLiteral("The database server cannot be reached.")),
                 qPrintable(error));
        useDatabase(server_.conninfo() + QStringLiteral(" dbname=nosuchdb"));
        QVERIFY(errorOf([] { TDados dados; }).contains(QStringLiteral("nosuchdb")));
    }

    void missingTablesFailTheOpening() {
        runSql(server_.conninfo(), "DROP TABLE dados");
        QVERIFY(errorOf([] { TDados dados; }).contains(QStringLiteral("Dados.DB")));
    }

    // The edit survives a server that went away: the post fails with a message and the row
    // stays in edit state with the typed value; once the server is back, the post goes in.
    void aPendingEditSurvivesTheServerStopping() {
        fillTables(tableStorage(), 2, 0);
        TDados dados;
        dados.Table1->Edit();
        dados.Table1Nome->setAsString(QStringLiteral("Duda"));
        server_.stop();
        QString why;
        const QString error = errorOf([&] { dados.Table1->Post(); });
        QVERIFY2(error.startsWith(QStringLiteral("The database server cannot be reached.")),
                 qPrintable(error));
        QCOMPARE(dados.Table1->State(), DataSetState::Edit);
        QCOMPARE(dados.Table1Nome->AsString(), QStringLiteral("Duda"));
        bool unavailable = false;
        QVERIFY2(server_.start(&why, &unavailable), qPrintable(why));
        dados.Table1->Post();
        QCOMPARE(dados.Table1->State(), DataSetState::Browse);
        QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func WHERE matricula = '00001'"),
                 QStringList{"Duda"});
    }
};

QTEST_GUILESS_MAIN(tst_ServerTables)
#include "tst_ServerTables.moc"
