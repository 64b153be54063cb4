// The PostgreSQL storage against a private server of its own (tests/pg-test-server.sh):
// tables, cursors, bookmarks, row locks between connections and processes, the bulk pass,
// and what the server's absence or loss looks like.

#include "ChildProcess.h"
#include "PgTestServer.h"
#include "data/PayrollSchema.h"
#include "engine/Storage.h"
#include "engine/pg/PgStorage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <libpq-fe.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::engine;
using Bookmark = storage::Bookmark;
using storage::RowVisit;
using storage::RunsEnd;
using storage::TableCursor;
using test::runSql;
using test::TestServer;

namespace {

const QString funcTable = QStringLiteral("Func.DB");
const QString dadosTable = QStringLiteral("Dados.DB");

Row employee(const QVariant& matricula, const QString& nome = QStringLiteral("Ana"),
             const QVariant& horas = {}) {
    return {matricula, nome, QStringLiteral("12345678909"), QStringLiteral("F"), 10.5, horas};
}

Row week(const QVariant& matricula, const QVariant& semana, const QVariant& horas) {
    return {matricula, semana, horas};
}

// The message and code of what `work` throws; code 0 and no message when it throws nothing.
template <typename Work> std::pair<quint16, QString> failureOf(Work&& work) {
    try {
        work();
    } catch (const EEngineError& e) {
        return {e.code(), e.message()};
    }
    return {0, {}};
}

// Matriculas of every row a cursor reads forward from where it stands.
QStringList keysForward(TableCursor& cursor, int column = 0) {
    QStringList keys;
    Row row;
    while (cursor.next(row))
        keys << (row.at(column).isNull() ? QStringLiteral("-") : row.at(column).toString());
    return keys;
}

QStringList keysBackward(TableCursor& cursor, int column = 0) {
    QStringList keys;
    Row row;
    while (cursor.prior(row))
        keys << (row.at(column).isNull() ? QStringLiteral("-") : row.at(column).toString());
    return keys;
}

} // namespace

class TestPgStorage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void createsTablesAsDocumented();
    void createRefusedWhenATableExists();
    void missingTableAndIndexAreNamed();
    void foreignNamesAndIndexesHandledSafely();

    void appendedRowsReadBackInIndexOrder();
    void valuesAreConvertedAsWritten();
    void bookmarksFollowAChangedRowAndMarkADeletedOnesPlace();
    void rangesOnTheFirstIndexField();
    void writesRefusedWithTheirMessages();
    void changeByAnotherConnectionSeenOnTheNextMove();
    void sequentialReadSeesEveryCommitOnTheNextMove_data();
    void sequentialReadSeesEveryCommitOnTheNextMove();
    void writesThroughTheReadingCursorKeepItsPlace();
    void fullScansReadTheTablesRowsInOrder();
    void tableTheUserCannotWriteOpensReadOnly();

    void rowLockRefusedToAnotherConnectionUntilReleased();
    void rowLockDiesWithAKilledProcess();
    void twoProcessesPostingAtOnceLoseNothing();

    void sumByKeyAndWriteRuns();
    void sumByKeyFindsEveryKeyWhateverTheColumnsCollation();
    void writeRunsStopsAtALockedRowOrWhereTheVisitorSays();

    void connectionFailuresNameTheServer();
    void serverStoppedMidSessionThenBack();
    void postAfterARestartTakesTheLockAnew();

private:
    std::unique_ptr<pg::PgStorage> connect() {
        return std::make_unique<pg::PgStorage>(server_.conninfo());
    }
    void addEmployees(storage::Storage& s, const QList<Row>& rows) {
        qsizetype i = 0;
        s.appendRows(funcTable, [&](Row& row) {
            if (i == rows.size())
                return false;
            row = rows.at(i++);
            return true;
        });
    }
    void addWeeks(storage::Storage& s, const QList<Row>& rows) {
        qsizetype i = 0;
        s.appendRows(dadosTable, [&](Row& row) {
            if (i == rows.size())
                return false;
            row = rows.at(i++);
            return true;
        });
    }
    // Stands `cursor` on the row of `matricula` in `row`.
    static bool seekKey(TableCursor& cursor, const QString& matricula, Row& row) {
        cursor.setRange(matricula, matricula);
        return cursor.next(row);
    }

    TestServer server_;
    std::unique_ptr<pg::PgStorage> storage_;
};

void TestPgStorage::initTestCase() {
    LV26_START_TEST_SERVER(server_);
}

void TestPgStorage::init() {
    const QStringList out = test::dropTables(server_.conninfo(), {"func", "dados", "other"});
    QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
    storage_ = connect();
    lv26::createPayrollTables(*storage_);
}

// ---- Tables -------------------------------------------------------------------------------

void TestPgStorage::createsTablesAsDocumented() {
    const TableDescription func = storage_->describe(funcTable);
    QCOMPARE(func.tableName, funcTable);
    QStringList columns;
    for (const ColumnInfo& c : func.columns)
        columns << QStringLiteral("%1 %2 %3").arg(c.name).arg(int(c.type)).arg(c.size);
    QCOMPARE(columns, QStringList({"matricula 0 5", "nome 0 40", "cpf 0 11", "sexo 0 1",
                                   "sal_hora 5 0", "horasnomes 2 0"}));
    QCOMPARE(func.indexes.size(), 1);
    QCOMPARE(func.indexes[0].name, QStringLiteral("matricula"));
    QCOMPARE(func.indexes[0].fields, QStringLiteral("matricula"));
    QVERIFY(func.indexes[0].primary && func.indexes[0].unique);

    const TableDescription dados = storage_->describe(dadosTable);
    QCOMPARE(dados.columns.size(), 3);
    QCOMPARE(dados.columns[1].type, ColumnType::Int16);
    QCOMPARE(dados.columns[2].name, QStringLiteral("horasnasemana"));
    QCOMPARE(dados.indexes.size(), 1);
    QCOMPARE(dados.indexes[0].fields, QStringLiteral("matricula;semana"));
    QVERIFY(!dados.indexes[0].unique);

    // Plain SQL reaches the tables and their columns unquoted.
    addEmployees(*storage_, {employee("00001")});
    QCOMPARE(runSql(server_.conninfo(), "SELECT matricula, nome FROM func"),
             QStringList{"00001|Ana"});
}

void TestPgStorage::createRefusedWhenATableExists() {
    runSql(server_.conninfo(), "DROP TABLE func");
    const auto [code, message] = failureOf([&] { lv26::createPayrollTables(*storage_); });
    QCOMPARE(code, codes::TableExists);
    QCOMPARE(message, QStringLiteral("Table already exists.\nTable: Dados.DB"));
    // Neither made: func is still missing.
    QCOMPARE(failureOf([&] { storage_->describe(funcTable); }).first, codes::TableNotFound);
}

void TestPgStorage::missingTableAndIndexAreNamed() {
    runSql(server_.conninfo(), "DROP TABLE func");
    QCOMPARE(failureOf([&] { storage_->describe(funcTable); }),
             std::make_pair(codes::TableNotFound,
                            QStringLiteral("Table does not exist.\nTable: Func.DB")));
    QCOMPARE(failureOf([&] { storage_->open(funcTable, "matricula", OpenMode::ReadWrite); }).first,
             codes::TableNotFound);
    QCOMPARE(failureOf([&] { storage_->open("Bad name!.DB", "x", OpenMode::ReadOnly); }).first,
             codes::TableNotFound);
    QCOMPARE(
        failureOf([&] { storage_->open(dadosTable, "semana", OpenMode::ReadOnly); }),
        std::make_pair(codes::IndexNotFound,
                       QStringLiteral("Index does not exist.\nTable: Dados.DB\nIndex: semana")));
    // A table without the row identity column is not one of ours.
    runSql(server_.conninfo(), "CREATE TABLE other (a integer)");
    QCOMPARE(
        failureOf([&] { storage_->describe("Other.DB"); }),
        std::make_pair(codes::NotATable,
                       QStringLiteral("The file is not a table or is damaged.\nTable: Other.DB\n"
                                      "The table has no row identity (WITHOUT ROWID).")));
}

// A table made by someone else: names are data, never SQL; an index the cursors cannot follow
// is refused, not followed.
void TestPgStorage::foreignNamesAndIndexesHandledSafely() {
    const QStringList out = runSql(server_.conninfo(), QStringLiteral(R"(
        CREATE TABLE other (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
                            "k"", x) --" varchar(5), "Mixed Case" integer);
        CREATE INDEX other_k ON other ("k"", x) --");
        CREATE INDEX other_byid ON other (rowid, "Mixed Case");
        CREATE INDEX other_expr ON other (lower("k"", x) --"))
    )"));
    QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
    const TableDescription d = storage_->describe("Other.DB");
    QCOMPARE(d.columns.size(), 2);
    QCOMPARE(d.columns[0].name, QStringLiteral("k\", x) --"));
    auto cursor = storage_->open("Other.DB", "k", OpenMode::ReadWrite);
    cursor->insertRow({QStringLiteral("b"), 2});
    cursor->insertRow({QStringLiteral("a"), 1});
    Row row;
    cursor->moveToBof();
    QVERIFY(cursor->next(row));
    QCOMPARE(row, Row({QStringLiteral("a"), 1}));
    cursor->updateCurrent({QStringLiteral("c"), 3});
    cursor->setRange(QStringLiteral("c"), QStringLiteral("c"));
    QCOMPARE(keysForward(*cursor, 1), QStringList{"3"});
    QCOMPARE(storage_->sumByKey("Other.DB", "k", "mixed case").at("b").sum, 2);
    QCOMPARE(storage_
                 ->writeRuns("Other.DB", "k", {}, 1,
                             [](Row& r) {
                                 r[1] = 9;
                                 return RowVisit::Write;
                             })
                 .how,
             RunsEnd::How::Finished);
    QCOMPARE(runSql(server_.conninfo(), "SELECT \"Mixed Case\" FROM other"),
             QStringList({"9", "9"}));
    QCOMPARE(failureOf([&] { storage_->open("Other.DB", "byid", OpenMode::ReadOnly); }).first,
             codes::IndexNotUsable);
    QCOMPARE(failureOf([&] { storage_->open("Other.DB", "expr", OpenMode::ReadOnly); }).first,
             codes::IndexNotUsable);
    storage_->describe(funcTable); // still there
}

// ---- Cursors ------------------------------------------------------------------------------

void TestPgStorage::appendedRowsReadBackInIndexOrder() {
    // Blank keys sort first, ties by identity; text in binary order whatever the server's
    // collation ("a" after "Z").
    addEmployees(*storage_, {employee("00003"), employee({}, "Blank one"), employee("a0001"),
                             employee("Z0001"), employee("00001"), employee({}, "Blank two")});
    auto cursor = storage_->open(funcTable, "Matricula", OpenMode::ReadWrite);
    QCOMPARE(keysForward(*cursor), QStringList({"-", "-", "00001", "00003", "Z0001", "a0001"}));
    QCOMPARE(keysBackward(*cursor), QStringList({"a0001", "Z0001", "00003", "00001", "-", "-"}));
    Row row;
    cursor->moveToBof();
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(1).toString(), QStringLiteral("Blank one"));
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(1).toString(), QStringLiteral("Blank two"));
    QVERIFY(cursor->prior(row));
    QCOMPARE(row.at(1).toString(), QStringLiteral("Blank one"));
    QVERIFY(!cursor->prior(row));
    QVERIFY(!cursor->bookmark().isValid());
    cursor->moveToEof();
    QVERIFY(cursor->prior(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("a0001"));
    QVERIFY(!cursor->next(row));
    QCOMPARE(cursor->rowCount(), 6);

    // Dados: one employee's weeks in week order, blank weeks first.
    addWeeks(*storage_, {week("00002", 3, 30), week("00001", 2, 20), week("00002", 1, 10),
                         week("00002", {}, 5), week("00001", 1, 11)});
    auto weeks = storage_->open(dadosTable, "matricula", OpenMode::ReadOnly);
    QCOMPARE(keysForward(*weeks, 2), QStringList({"11", "20", "5", "10", "30"}));
    QCOMPARE(keysBackward(*weeks, 2), QStringList({"30", "10", "5", "20", "11"}));
}

void TestPgStorage::valuesAreConvertedAsWritten() {
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    cursor->insertRow({QStringLiteral("000019"), QString(80, u'x'), QString(), QStringLiteral("M"),
                       12.345678901234567, 160});
    Row row;
    QVERIFY(cursor->current(row));
    QCOMPARE(row.at(0), QVariant(QStringLiteral("00001"))); // cut to its size
    QCOMPARE(row.at(1).toString().size(), 40);
    QVERIFY(row.at(2).isNull()); // empty text is blank
    QCOMPARE(row.at(4).typeId(), QMetaType::Double);
    QCOMPARE(row.at(4).toDouble(), 12.345678901234567);
    QCOMPARE(row.at(5), QVariant(160));
}

void TestPgStorage::bookmarksFollowAChangedRowAndMarkADeletedOnesPlace() {
    addEmployees(*storage_,
                 {employee("00001"), employee("00002"), employee("00003"), employee("00004")});
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(cursor->next(row) && cursor->next(row));
    const storage::Bookmark second = cursor->bookmark();
    QVERIFY(second.isValid());

    // The row moves to the end of the order: its bookmark follows it.
    row = employee("00009");
    cursor->updateCurrent(row); // the cursor stood on 00002
    cursor->moveToBof();
    QVERIFY(cursor->gotoBookmark(second));
    QVERIFY(cursor->current(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00009"));
    QVERIFY(!cursor->next(row));

    // A deleted row's bookmark stands between its neighbours.
    cursor->moveToBof();
    QVERIFY(cursor->next(row) && cursor->next(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00003"));
    const storage::Bookmark third = cursor->bookmark();
    cursor->deleteCurrent();
    QVERIFY(!cursor->bookmark().isValid());
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00004"));
    QVERIFY(!cursor->gotoBookmark(third));
    QVERIFY(!cursor->current(row));
    QVERIFY(cursor->prior(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00001"));
    QVERIFY(!cursor->gotoBookmark(third));
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00004"));
    // A row another program deleted meanwhile: deleting it is no error.
    runSql(server_.conninfo(), "DELETE FROM func WHERE matricula = '00004'");
    cursor->deleteCurrent();
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00009"));
}

void TestPgStorage::rangesOnTheFirstIndexField() {
    addWeeks(*storage_, {week("00001", 1, 1), week("00002", 2, 22), week("00002", 1, 21),
                         week("00003", 1, 31), week({}, 1, 90), week("00004", 1, 41)});
    auto cursor = storage_->open(dadosTable, "matricula", OpenMode::ReadWrite);
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00002"));
    QCOMPARE(keysForward(*cursor, 2), QStringList({"21", "22"}));
    QCOMPARE(keysBackward(*cursor, 2), QStringList({"22", "21"}));
    QCOMPARE(cursor->rowCount(), 2);
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00003"));
    QCOMPARE(keysForward(*cursor, 2), QStringList({"21", "22", "31"}));
    cursor->setRange({}, {});
    QCOMPARE(keysForward(*cursor, 2), QStringList({"90"}));
    cursor->setRange({}, QStringLiteral("00001"));
    QCOMPARE(keysForward(*cursor, 2), QStringList({"90", "1"}));
    cursor->setRange(QStringLiteral("00005"), QStringLiteral("00009"));
    QCOMPARE(keysForward(*cursor, 2), QStringList());
    QCOMPARE(cursor->rowCount(), 0);
    cursor->clearRange();
    QCOMPARE(cursor->rowCount(), 6);
    // A bookmark outside the range in force is not stood on.
    Row row;
    cursor->setRange(QStringLiteral("00004"), QStringLiteral("00004"));
    QVERIFY(cursor->next(row));
    const storage::Bookmark fourth = cursor->bookmark();
    cursor->setRange(QStringLiteral("00001"), QStringLiteral("00001"));
    QVERIFY(!cursor->gotoBookmark(fourth));
}

void TestPgStorage::writesRefusedWithTheirMessages() {
    addEmployees(*storage_, {employee("00001"), employee("00002")});
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    QCOMPARE(failureOf([&] { cursor->insertRow(employee("00001")); }),
             std::make_pair(codes::KeyViolation, QStringLiteral("Key violation.\nTable: Func.DB")));
    Row row;
    QVERIFY(seekKey(*cursor, "00002", row));
    cursor->lockCurrent(row);
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00001")); }).first,
             codes::KeyViolation);
    QVERIFY(cursor->hasLock()); // kept, and the stored row too
    QVERIFY(cursor->current(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00002"));
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00002", "Ana", qint64(1) << 40)); }),
             std::make_pair(codes::InvalidValue,
                            QStringLiteral("Value cannot be stored in its column.\nField: "
                                           "horasnomes\nValue: 1099511627776")));
    cursor->releaseLock();

    auto weeks = storage_->open(dadosTable, "matricula", OpenMode::ReadWrite);
    QCOMPARE(failureOf([&] { weeks->insertRow(week("00001", 1, 40000)); }).first,
             codes::InvalidValue);
    QCOMPARE(failureOf([&] { weeks->insertRow(week("00001", 1, "many")); }).first,
             codes::InvalidValue);
    QCOMPARE(failureOf([&] { weeks->deleteCurrent(); }).first, codes::NoCurrentRecord);
    QCOMPARE(weeks->rowCount(), 0);

    auto readOnly = storage_->open(funcTable, "matricula", OpenMode::ReadOnly);
    QVERIFY(readOnly->isReadOnly());
    QVERIFY(readOnly->next(row));
    QCOMPARE(failureOf([&] { readOnly->lockCurrent(row); }).first, codes::ReadOnlyTable);
}

void TestPgStorage::changeByAnotherConnectionSeenOnTheNextMove() {
    addEmployees(*storage_, {employee("00001", "Ana"), employee("00002", "Bia")});
    auto other = connect();
    auto mine = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    auto theirs = other->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(mine->next(row) && mine->next(row));
    QVERIFY(seekKey(*theirs, "00001", row));
    theirs->updateCurrent(employee("00001", "Carla"));
    QVERIFY(mine->prior(row));
    QCOMPARE(row.at(1).toString(), QStringLiteral("Carla"));
    theirs->updateCurrent(employee("00001", "Dora"));
    QVERIFY(mine->current(row));
    QCOMPARE(row.at(1).toString(), QStringLiteral("Dora"));
}

// ---- Sequential reads ---------------------------------------------------------------------

namespace {

// 300 employees with the even registration numbers 00002..00600, named after their number.
const char* const evenEmployees =
    "DELETE FROM func; INSERT INTO func (matricula, nome, cpf, sexo, sal_hora) "
    "SELECT lpad((2 * g)::text, 5, '0'), 'Nome ' || (2 * g), '12345678909', 'F', 10.5 "
    "FROM generate_series(1, 300) g";

QString number(int n) {
    return QString::number(n).rightJustified(5, u'0');
}

// How a test changes the table while a cursor reads it.
struct Writer {
    std::function<void(const QString&, const QString&)> rename;
    std::function<void(const QString&)> insert;
    std::function<void(const QString&)> remove;
};

// A writer working through a cursor of `storage` (of this process or another connection).
Writer cursorWriter(storage::Storage& storage) {
    auto cursor = std::shared_ptr<TableCursor>(
        storage.open(QStringLiteral("Func.DB"), "matricula", OpenMode::ReadWrite));
    auto seek = [cursor](const QString& key) {
        Row row;
        cursor->setRange(key, key);
        if (!cursor->next(row))
            QFAIL("the writer's row is missing");
    };
    return {[cursor, seek](const QString& key, const QString& name) {
                seek(key);
                cursor->updateCurrent(employee(key, name));
            },
            [cursor](const QString& key) { cursor->insertRow(employee(key, "Inserted")); },
            [cursor, seek](const QString& key) {
                seek(key);
                cursor->deleteCurrent();
            }};
}

// A writer that is another program's plain SQL.
Writer sqlWriter(const QString& conninfo) {
    return {[conninfo](const QString& key, const QString& name) {
                QCOMPARE(
                    runSql(conninfo, QStringLiteral("UPDATE func SET nome = '%1' WHERE matricula = "
                                                    "'%2'")
                                         .arg(name, key)),
                    QStringList());
            },
            [conninfo](const QString& key) {
                QCOMPARE(
                    runSql(conninfo, QStringLiteral("INSERT INTO func (matricula, nome) VALUES "
                                                    "('%1', 'Inserted')")
                                         .arg(key)),
                    QStringList());
            },
            [conninfo](const QString& key) {
                QCOMPARE(runSql(conninfo,
                                QStringLiteral("DELETE FROM func WHERE matricula = '%1'").arg(key)),
                         QStringList());
            }};
}

// The rows of a plain SQL query, as runSql() gives them, from a cursor's rows.
QString rowText(const Row& row) {
    QStringList values;
    for (const QVariant& v : row)
        values << (v.isNull() ? QStringLiteral("<null>") : v.toString());
    return values.join(u'|');
}

QStringList rowsForward(TableCursor& cursor, int limit = -1) {
    QStringList rows;
    Row row;
    while (limit-- != 0 && cursor.next(row))
        rows << rowText(row);
    return rows;
}

QStringList rowsBackward(TableCursor& cursor, int limit = -1) {
    QStringList rows;
    Row row;
    while (limit-- != 0 && cursor.prior(row))
        rows << rowText(row);
    return rows;
}

} // namespace

void TestPgStorage::sequentialReadSeesEveryCommitOnTheNextMove_data() {
    QTest::addColumn<bool>("forward");
    QTest::addColumn<bool>("ranged");
    QTest::addColumn<QString>("writer");
    for (const bool forward : {true, false}) {
        for (const bool ranged : {false, true}) {
            for (const char* writer : {"another connection", "a second cursor", "plain SQL"}) {
                QTest::addRow("%s%s, %s", forward ? "forwards" : "backwards",
                              ranged ? " in a range" : "", writer)
                    << forward << ranged << QString::fromLatin1(writer);
            }
        }
    }
}

// Whatever was read before, the next move shows the row as committed now: a change made
// after k moves (the first, early, in the middle of a long run and at its seams) is seen by
// move k + 1.
void TestPgStorage::sequentialReadSeesEveryCommitOnTheNextMove() {
    QFETCH(bool, forward);
    QFETCH(bool, ranged);
    QFETCH(QString, writer);
    auto other = connect();
    const Writer write = writer == u"plain SQL"         ? sqlWriter(server_.conninfo())
                         : writer == u"a second cursor" ? cursorWriter(*storage_)
                                                        : cursorWriter(*other);
    // Registration numbers in the cursor's order.
    const int low = ranged ? 10 : 2, high = ranged ? 590 : 600;
    QList<int> order;
    for (int n = low; n <= high; n += 2)
        order << n;
    if (!forward)
        std::reverse(order.begin(), order.end());
    const int step = forward ? 1 : -1;

    for (const int k : {1, 2, 3, 9, 17, 18, 100, 273, 274}) {
        for (const char* change : {"update", "insert", "delete"}) {
            const QString where = QStringLiteral("after %1 moves, %2").arg(k).arg(change);
            QCOMPARE(runSql(server_.conninfo(), evenEmployees), QStringList());
            auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadOnly);
            if (ranged)
                cursor->setRange(number(low), number(high));
            forward ? cursor->moveToBof() : cursor->moveToEof();
            Row row;
            for (int i = 0; i < k; ++i) {
                QVERIFY2(forward ? cursor->next(row) : cursor->prior(row), qPrintable(where));
                QCOMPARE(row.at(0).toString(), number(order.at(i)));
            }
            const auto move = [&] { return forward ? cursor->next(row) : cursor->prior(row); };
            const QString coming = number(order.at(k));
            if (qstrcmp(change, "update") == 0) {
                write.rename(coming, QStringLiteral("Renamed"));
                QVERIFY2(move(), qPrintable(where));
                QCOMPARE(row.at(0).toString(), coming);
                QCOMPARE(row.at(1).toString(), QStringLiteral("Renamed"));
            } else if (qstrcmp(change, "insert") == 0) {
                const QString between = number(order.at(k - 1) + step);
                write.insert(between);
                QVERIFY2(move(), qPrintable(where));
                QCOMPARE(row.at(0).toString(), between);
                QVERIFY2(move(), qPrintable(where));
                QCOMPARE(row.at(0).toString(), coming);
            } else {
                write.remove(coming);
                QVERIFY2(move(), qPrintable(where));
                QCOMPARE(row.at(0).toString(), number(order.at(k + 1)));
            }
            // And the rest of the run is as stored too.
            const int rest = int(order.size()) - k - (qstrcmp(change, "delete") == 0 ? 2 : 1);
            QCOMPARE(int((forward ? rowsForward(*cursor) : rowsBackward(*cursor)).size()), rest);
        }
    }
}

// A write through the cursor that is reading moves it to the written row's place, and the
// next move goes on from there.
void TestPgStorage::writesThroughTheReadingCursorKeepItsPlace() {
    QCOMPARE(runSql(server_.conninfo(), evenEmployees), QStringList());
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    for (int i = 0; i < 5; ++i)
        QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), number(10));
    cursor->updateCurrent(employee(number(401)));
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), number(402));
    QVERIFY(cursor->prior(row) && cursor->prior(row));
    QCOMPARE(row.at(0).toString(), number(400));
    cursor->deleteCurrent();
    QVERIFY(cursor->prior(row));
    QCOMPARE(row.at(0).toString(), number(398));
    cursor->insertRow(employee(number(101)));
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), number(102));
    cursor->moveToBof();
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), number(2));
    QCOMPARE(cursor->rowCount(), 300);
}

// Reading a whole table gives its rows in index order, each once, in either direction, in a
// range, and when the direction turns midway.
void TestPgStorage::fullScansReadTheTablesRowsInOrder() {
    const QStringList made = runSql(server_.conninfo(), QStringLiteral(R"(
        INSERT INTO func (matricula, nome, cpf, sexo, sal_hora, horasnomes)
        SELECT CASE WHEN g % 97 = 0 THEN NULL ELSE lpad(g::text, 5, '0') END, 'Nome ' || g,
               '12345678909', CASE WHEN g % 2 = 0 THEN 'F' ELSE 'M' END, g * 0.25,
               CASE WHEN g % 3 = 0 THEN NULL ELSE g END
        FROM generate_series(1, 700) g;
        INSERT INTO dados (matricula, semana, horasnasemana)
        SELECT CASE WHEN g % 211 = 0 THEN NULL ELSE lpad((g % 450)::text, 5, '0') END,
               CASE WHEN g % 13 = 0 THEN NULL ELSE g % 5 + 1 END, g % 40
        FROM generate_series(1, 2000) g)"));
    QVERIFY2(made.isEmpty(), qPrintable(made.join(u'\n')));
    const QStringList employees = runSql(
        server_.conninfo(), "SELECT matricula, nome, cpf, sexo, sal_hora, horasnomes FROM func "
                            "ORDER BY matricula NULLS FIRST, rowid");
    const QStringList weeks =
        runSql(server_.conninfo(), "SELECT matricula, semana, horasnasemana FROM dados "
                                   "ORDER BY matricula NULLS FIRST, semana NULLS FIRST, rowid");
    QCOMPARE(employees.size(), 700);
    QCOMPARE(weeks.size(), 2000);
    const auto reversed = [](QStringList rows) {
        std::reverse(rows.begin(), rows.end());
        return rows;
    };

    auto func = storage_->open(funcTable, "matricula", OpenMode::ReadOnly);
    QCOMPARE(rowsForward(*func), employees);
    QCOMPARE(rowsBackward(*func), reversed(employees));
    func->moveToBof();
    QCOMPARE(rowsForward(*func, 40), employees.mid(0, 40));
    QCOMPARE(rowsBackward(*func, 10), reversed(employees.mid(29, 10)));
    QCOMPARE(rowsForward(*func), employees.mid(30));

    auto dados = storage_->open(dadosTable, "matricula", OpenMode::ReadOnly);
    QCOMPARE(rowsForward(*dados), weeks);
    QCOMPARE(rowsBackward(*dados), reversed(weeks));
    dados->setRange(QStringLiteral("00100"), QStringLiteral("00299"));
    const QStringList inRange = runSql(
        server_.conninfo(), "SELECT matricula, semana, horasnasemana FROM dados WHERE matricula "
                            "BETWEEN '00100' AND '00299' "
                            "ORDER BY matricula NULLS FIRST, semana NULLS FIRST, rowid");
    QCOMPARE(rowsForward(*dados), inRange);
    QCOMPARE(rowsBackward(*dados), reversed(inRange));
    dados->moveToEof();
    QCOMPARE(rowsBackward(*dados, 300), reversed(inRange.mid(inRange.size() - 300)));
    QCOMPARE(rowsForward(*dados, 20), inRange.mid(inRange.size() - 299, 20));
    dados->setRange({}, {});
    QCOMPARE(rowsForward(*dados).size(), weeks.filter(QRegularExpression("^<null>\\|")).size());
}

// A role that may read and add employees but not change or delete them cannot edit: the table
// is read-only to it.
void TestPgStorage::tableTheUserCannotWriteOpensReadOnly() {
    addEmployees(*storage_, {employee("00001")});
    runSql(server_.conninfo(), "DROP ROLE IF EXISTS reader");
    QCOMPARE(runSql(server_.conninfo(), "CREATE ROLE reader LOGIN; "
                                        "GRANT SELECT, INSERT ON func TO reader"),
             QStringList());
    pg::PgStorage asReader(server_.conninfo() + " user=reader");
    QCOMPARE(failureOf([&] { asReader.open(funcTable, "matricula", OpenMode::ReadWrite); }),
             std::make_pair(codes::ReadOnlyTable,
                            QStringLiteral("Table is read only.\nTable: Func.DB")));
    auto cursor = asReader.open(funcTable, "matricula", OpenMode::ReadWriteElseReadOnly);
    QVERIFY(cursor->isReadOnly());
    Row row;
    QVERIFY(cursor->next(row));
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00001", "X")); }).first,
             codes::ReadOnlyTable);
    cursor.reset();
    runSql(server_.conninfo(), "REVOKE ALL ON func FROM reader; DROP ROLE reader");
}

// ---- Row locks ----------------------------------------------------------------------------

void TestPgStorage::rowLockRefusedToAnotherConnectionUntilReleased() {
    addEmployees(*storage_, {employee("00001"), employee("00002")});
    auto other = connect();
    auto holder = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    auto sameConnection = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    auto elsewhere = other->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row, theirs;
    QVERIFY(seekKey(*holder, "00002", row));
    holder->lockCurrent(row);
    QVERIFY(holder->hasLock());

    const auto locked = std::make_pair(
        codes::RecordLocked, QStringLiteral("Record locked by another user.\nTable: Func.DB"));
    for (TableCursor* cursor : {sameConnection.get(), elsewhere.get()}) {
        QVERIFY(seekKey(*cursor, "00002", theirs));
        QCOMPARE(failureOf([&] { cursor->lockCurrent(theirs); }), locked);
        QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00002", "Other")); }), locked);
        QCOMPARE(failureOf([&] { cursor->deleteCurrent(); }), locked);
        QVERIFY(!cursor->hasLock());
    }
    // Another row is free.
    QVERIFY(seekKey(*elsewhere, "00001", theirs));
    elsewhere->lockCurrent(theirs);
    elsewhere->releaseLock();

    holder->updateCurrent(employee("00002", "Posted")); // releases
    QVERIFY(!holder->hasLock());
    QVERIFY(seekKey(*elsewhere, "00002", theirs));
    elsewhere->lockCurrent(theirs);
    QCOMPARE(theirs.at(1).toString(), QStringLiteral("Posted"));
    elsewhere.reset(); // a closed cursor's lock is gone
    QVERIFY(seekKey(*sameConnection, "00002", theirs));
    sameConnection->lockCurrent(theirs);
}

void TestPgStorage::rowLockDiesWithAKilledProcess() {
    addEmployees(*storage_, {employee("00001"), employee("00002")});
    QProcess* child = test::startChildProcess(
        this, {QStringLiteral("--hold-pg-lock"), server_.conninfo(), QStringLiteral("00002")});
    QCOMPARE(child->readLine().trimmed(), QByteArray("locked"));
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(seekKey(*cursor, "00002", row));
    QCOMPARE(failureOf([&] { cursor->lockCurrent(row); }).first, codes::RecordLocked);

    ::kill(pid_t(child->processId()), SIGKILL);
    QVERIFY(child->waitForFinished(10000));
    // The server ends the killed program's session when it sees its socket close.
    QDeadlineTimer deadline(10000);
    quint16 code = codes::RecordLocked;
    while (code == codes::RecordLocked && !deadline.hasExpired()) {
        code = failureOf([&] { cursor->lockCurrent(row); }).first;
        if (code)
            QThread::msleep(50);
    }
    QCOMPARE(code, quint16(0));
    cursor->updateCurrent(employee("00002", "After"));
}

// Two programs add 1 to the same employees' hours, each edit a read under the row lock and a
// post, retrying while the other holds the row: every addition arrives.
void TestPgStorage::twoProcessesPostingAtOnceLoseNothing() {
    QList<Row> rows;
    for (int i = 1; i <= 10; ++i)
        rows << employee(QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), "Ana", 0);
    addEmployees(*storage_, rows);
    const QStringList args{QStringLiteral("--add-hours"), server_.conninfo(), QStringLiteral("15")};
    QProcess* first = test::startChildProcess(this, args);
    QProcess* second = test::startChildProcess(this, args);
    for (QProcess* child : {first, second}) {
        QVERIFY(child->waitForFinished(120000));
        QCOMPARE(child->exitCode(), 0);
    }
    QCOMPARE(runSql(server_.conninfo(), "SELECT count(*) FROM func WHERE horasnomes = 30"),
             QStringList{"10"});
}

// ---- The bulk pass ------------------------------------------------------------------------

namespace {

// Sets horasnomes from the totals, as the payroll's totals would; stops at `stopAt`.
std::function<RowVisit(Row&)> totalsVisitor(const storage::KeyTotals& totals,
                                            const QString& stopAt = {}) {
    return [&totals, stopAt](Row& row) {
        if (row.at(0).toString() == stopAt)
            return RowVisit::Stop;
        const storage::KeyTotal total = totals.at(row.at(0));
        if (total.blank)
            return RowVisit::Keep;
        row[5] = int(total.sum);
        return RowVisit::Write;
    };
}

} // namespace

void TestPgStorage::sumByKeyAndWriteRuns() {
    addEmployees(*storage_, {employee("00001"), employee("00002"), employee("00003"),
                             employee("00004"), employee("00005")});
    addWeeks(*storage_, {week("00001", 1, 40), week("00001", 2, 35), week("00002", 1, 20),
                         week("00002", 2, {}), week("00003", 1, 1), week("00005", 1, 2),
                         week("00005", 2, 3), week("00005", 3, 4)});
    const storage::KeyTotals totals = storage_->sumByKey(dadosTable, "matricula", "HorasNaSemana");
    QCOMPARE(totals.entries().size(), std::size_t(4));
    QCOMPARE(totals.at("00001").sum, 75);
    QVERIFY(totals.at("00002").blank);
    QCOMPARE(totals.at("00004").sum, 0); // no weeks
    QVERIFY(!totals.at("00004").blank);
    QCOMPARE(totals.at("00005").sum, 9);

    const RunsEnd end = storage_->writeRuns(funcTable, "matricula", {}, 2, totalsVisitor(totals));
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(runSql(server_.conninfo(), "SELECT matricula, horasnomes, nome FROM func ORDER BY 1"),
             QStringList({"00001|75|Ana", "00002|<null>|Ana", "00003|1|Ana", "00004|0|Ana",
                          "00005|9|Ana"}));
}

// Totals are looked up in binary order; a key column of another collation ("a" before "B")
// must not make keys unfindable.
void TestPgStorage::sumByKeyFindsEveryKeyWhateverTheColumnsCollation() {
    const QStringList out = runSql(server_.conninfo(), QStringLiteral(R"(
        CREATE TABLE other (rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
                            k varchar(5) COLLATE "und-x-icu", h smallint);
        CREATE INDEX other_k ON other (k NULLS FIRST, rowid);
        INSERT INTO other (k, h) VALUES ('a', 1), ('B', 2), ('a', 3), ('C', 4), ('b', 5))"));
    if (!out.isEmpty())
        QSKIP(qPrintable("no collation to try: " + out.join(u' ')));
    const storage::KeyTotals totals = storage_->sumByKey("Other.DB", "k", "h");
    QCOMPARE(totals.at("a").sum, 4);
    QCOMPARE(totals.at("B").sum, 2);
    QCOMPARE(totals.at("b").sum, 5);
    QCOMPARE(totals.at("C").sum, 4);
}

void TestPgStorage::writeRunsStopsAtALockedRowOrWhereTheVisitorSays() {
    addEmployees(*storage_, {employee("00001"), employee("00002"), employee("00003"),
                             employee("00004"), employee("00005")});
    addWeeks(*storage_, {week("00001", 1, 1), week("00002", 1, 2), week("00003", 1, 3),
                         week("00004", 1, 4), week("00005", 1, 5)});
    const storage::KeyTotals totals = storage_->sumByKey(dadosTable, "matricula", "semana");

    // Another program edits 00004: the pass stops there, the rows before it written in runs.
    auto other = connect();
    auto editor = other->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(seekKey(*editor, "00004", row));
    editor->lockCurrent(row);
    RunsEnd end = storage_->writeRuns(funcTable, "matricula", {}, 2, totalsVisitor(totals));
    QCOMPARE(end.how, RunsEnd::How::Stopped);
    QCOMPARE(end.code, codes::RecordLocked);
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    QVERIFY(cursor->gotoBookmark(end.at));
    QVERIFY(cursor->current(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00004"));
    QCOMPARE(runSql(server_.conninfo(), "SELECT string_agg(coalesce(horasnomes::text, '-'), ',' "
                                        "ORDER BY matricula) FROM func"),
             QStringList{"1,1,1,-,-"});

    // An edit lock of this program's own cursor stops it too.
    editor->releaseLock();
    QVERIFY(seekKey(*cursor, "00005", row));
    cursor->lockCurrent(row);
    end = storage_->writeRuns(funcTable, "matricula", end.at, 2, totalsVisitor(totals));
    QCOMPARE(end.code, codes::RecordLocked);
    cursor->releaseLock();

    // The visitor stops at a row: not written, the pass goes on after it when asked.
    QVERIFY(seekKey(*cursor, "00003", row));
    const storage::Bookmark afterThird = cursor->bookmark();
    end =
        storage_->writeRuns(funcTable, "matricula", afterThird, 2, totalsVisitor(totals, "00005"));
    QCOMPARE(end.how, RunsEnd::How::Stopped);
    QCOMPARE(end.code, quint16(0));
    end = storage_->writeRuns(funcTable, "matricula", end.at, 2, totalsVisitor(totals));
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(runSql(server_.conninfo(), "SELECT string_agg(coalesce(horasnomes::text, '-'), ',' "
                                        "ORDER BY matricula) FROM func"),
             QStringList{"1,1,1,1,-"});

    // A visitor that throws undoes its run and keeps the earlier ones.
    runSql(server_.conninfo(), "UPDATE func SET horasnomes = NULL");
    int visited = 0;
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             storage_->writeRuns(funcTable, "matricula", {}, 2, [&](Row& r) {
                                 if (++visited == 3)
                                     throw EDatabaseError(QStringLiteral("stop"));
                                 r[5] = 7;
                                 return RowVisit::Write;
                             }));
    QCOMPARE(runSql(server_.conninfo(), "SELECT string_agg(coalesce(horasnomes::text, '-'), ',' "
                                        "ORDER BY matricula) FROM func"),
             QStringList{"7,7,-,-,-"});
}

// ---- The server's absence and loss --------------------------------------------------------

void TestPgStorage::connectionFailuresNameTheServer() {
    QTemporaryDir noServer(QStringLiteral("/tmp/lv26-none-XXXXXX"));
    // The wait the application shows is begun and ended once, failure or not.
    QStringList waits;
    setWaitHook({[&waits] { waits << "begin"; }, [&waits] { waits << "end"; }});
    const auto noHook = qScopeGuard([] { setWaitHook({}); });
    const auto [downCode, down] = failureOf([&] {
        pg::PgStorage s("host=" + noServer.path() + " user=lv26 password=secret dbname=lv26");
    });
    QCOMPARE(waits, (QStringList{"begin", "end"}));
    QCOMPARE(downCode, codes::ServerUnavailable);
    QVERIFY2(down.startsWith(QStringLiteral("The database server cannot be reached.\n")),
             qPrintable(down));
    QVERIFY2(down.contains(noServer.path() + "/.s.PGSQL.5432"), qPrintable(down)); // libpq's text
    QVERIFY2(down.contains(QStringLiteral("Server: ")), qPrintable(down));
    QVERIFY2(!down.contains(QStringLiteral("secret")), qPrintable(down));

    const QString wrongDatabase =
        QString(server_.conninfo()).replace("dbname=postgres", "dbname=nosuch");
    const auto [dbCode, db] = failureOf([&] { pg::PgStorage s(wrongDatabase); });
    QCOMPARE(dbCode, codes::ServerUnavailable);
    QVERIFY2(db.contains(QStringLiteral("database \"nosuch\" does not exist")), qPrintable(db));

    QCOMPARE(failureOf([&] { pg::PgStorage s("postgresql://[bad"); }).first,
             codes::ServerUnavailable);
}

void TestPgStorage::serverStoppedMidSessionThenBack() {
    addEmployees(*storage_, {employee("00001"), employee("00002")});
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(cursor->next(row));
    cursor->lockCurrent(row);

    server_.stop();
    const auto [code, message] = failureOf([&] { cursor->next(row); });
    QCOMPARE(code, codes::ServerUnavailable);
    QVERIFY2(message.startsWith(QStringLiteral("The database server cannot be reached.")),
             qPrintable(message));
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00001", "Lost")); }).first,
             codes::ServerUnavailable);
    QCOMPARE(failureOf([&] { storage_->describe(funcTable); }).first, codes::ServerUnavailable);

    QString why;
    bool unavailable = false;
    QVERIFY2(server_.start(&why, &unavailable), qPrintable(why));
    // The session is made again; the lock died with the old one and is taken anew by the post.
    QVERIFY(cursor->current(row));
    QVERIFY(!cursor->hasLock());
    QCOMPARE(row.at(0).toString(), QStringLiteral("00001"));
    cursor->updateCurrent(employee("00001", "Back"));
    QVERIFY(cursor->next(row));
    QCOMPARE(row.at(0).toString(), QStringLiteral("00002"));
    QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func WHERE matricula = '00001'"),
             QStringList{"Back"});
}

// The edit's lock died with the old session: the post after the restart must take it again,
// and be refused while another workstation has the row meanwhile.
void TestPgStorage::postAfterARestartTakesTheLockAnew() {
    addEmployees(*storage_, {employee("00001")});
    auto cursor = storage_->open(funcTable, "matricula", OpenMode::ReadWrite);
    Row row;
    QVERIFY(cursor->next(row));
    cursor->lockCurrent(row);

    server_.stop();
    QString why;
    bool unavailable = false;
    QVERIFY2(server_.start(&why, &unavailable), qPrintable(why));
    auto other = connect();
    auto theirs = other->open(funcTable, "matricula", OpenMode::ReadWrite);
    QVERIFY(theirs->next(row));
    theirs->lockCurrent(row);

    // The first statement on the old connection finds it lost; the post is not made.
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00001", "Mine")); }).first,
             codes::ServerUnavailable);
    QCOMPARE(failureOf([&] { cursor->updateCurrent(employee("00001", "Mine")); }).first,
             codes::RecordLocked);
    QVERIFY(!cursor->hasLock());
    QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func"), QStringList{"Ana"});
    theirs->updateCurrent(employee("00001", "Theirs"));
    cursor->updateCurrent(employee("00001", "Mine"));
    QCOMPARE(runSql(server_.conninfo(), "SELECT nome FROM func"), QStringList{"Mine"});
}

// Child side of rowLockDiesWithAKilledProcess: holds the row lock of `matricula`.
static int holdPgRowLock(const QString& conninfo, const QString& matricula) {
    pg::PgStorage storage(conninfo);
    auto cursor = storage.open(funcTable, "matricula", OpenMode::ReadWrite);
    return lv26::test::lockRowUntilKilled(*cursor, matricula);
}

// Child side of twoProcessesPostingAtOnceLoseNothing: adds 1 to every employee's hours
// `rounds` times, each as an edit (lock, read, post), retrying a row while it is locked.
static int addHours(const QString& conninfo, int rounds) {
    pg::PgStorage storage(conninfo);
    auto cursor = storage.open(funcTable, "matricula", OpenMode::ReadWrite);
    std::puts("started");
    std::fflush(stdout);
    for (int round = 0; round < rounds; ++round) {
        cursor->moveToBof();
        Row row;
        while (cursor->next(row)) {
            for (;;) {
                try {
                    cursor->lockCurrent(row);
                    break;
                } catch (const EEngineError& e) {
                    if (e.code() != codes::RecordLocked)
                        throw;
                    QThread::usleep(500);
                }
            }
            row[5] = row.at(5).toInt() + 1;
            cursor->updateCurrent(row);
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--hold-pg-lock"))
        return holdPgRowLock(args.value(2), args.value(3));
    if (args.value(1) == QLatin1String("--add-hours"))
        return addHours(args.value(2), args.value(3).toInt());
    TestPgStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pgstorage.moc"
