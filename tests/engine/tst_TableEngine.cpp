// Tests of the table engine through the storage interface, each case on the backend of the
// run (table files in a temporary folder, or the tables of a private PostgreSQL server with
// LV26_TEST_BACKEND=server): cursor order with blank and duplicate keys, ranges, bookmarks,
// writes, key violations, row locks within and across processes, the bulk pass, and, on the
// files, read-only files and folders, damaged and foreign files (docs/tables.md,
// docs/storage.md).

#include "ChildProcess.h"
#include "EngineTestSupport.h"
#include "engine/Sqlite.h"
#include "engine/TableEngine.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::engine;
using storage::RowVisit;
using storage::RunsEnd;
using test::EngineTables;
using test::OtherConnection;
using test::testingOnServer;

namespace {

const QString funcTable = QStringLiteral("Func.DB");
const QString dadosTable = QStringLiteral("Dados.DB");

// Runs SQL on a file directly, bypassing the engine (to craft foreign files).
void sql(const QString& path, const QString& statements) {
    sqlite3* db = nullptr;
    QVERIFY(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK);
    char* error = nullptr;
    int rc = sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, &error);
    QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

// A week row as "Matricula/Semana" with "-" for blank parts.
QString weekText(const Row& row) {
    auto part = [](const QVariant& v) { return v.isNull() ? QStringLiteral("-") : v.toString(); };
    return part(row[0]) + QLatin1Char('/') + part(row[1]);
}

QStringList readForward(Cursor& cursor) {
    QStringList seen;
    Row row;
    cursor.moveToBof();
    while (cursor.next(row))
        seen << weekText(row) + QLatin1Char('#') + row[2].toString();
    return seen;
}

QStringList readBackward(Cursor& cursor) {
    QStringList seen;
    Row row;
    cursor.moveToEof();
    while (cursor.prior(row))
        seen.prepend(weekText(row) + QLatin1Char('#') + row[2].toString());
    return seen;
}

template <typename F> quint16 errorCode(F&& f, QString* message = nullptr) {
    try {
        f();
    } catch (const EEngineError& e) {
        if (message)
            *message = e.message();
        return e.code();
    }
    return 0;
}

Row employee(const QString& matricula, const QString& nome = QStringLiteral("Ana Silva")) {
    return {matricula, nome, QStringLiteral("52998224725"), QStringLiteral("F"), 12.5, QVariant()};
}

QString matriculaOf(int n) {
    return QStringLiteral("%1").arg(n, 5, 10, QLatin1Char('0'));
}

} // namespace

class TestTableEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<EngineTables> tables_;
    storage::Storage& tables() { return tables_->storage(); }
    // The tables as messages name them.
    QString func() const { return tables_->shown(funcTable); }
    QString dados() const { return tables_->shown(dadosTable); }
    // A file in this case's folder (for the cases about the files themselves).
    QString file(const QString& name) const { return QDir(tables_->folder()).filePath(name); }
    std::unique_ptr<Cursor> openFunc(OpenMode mode = OpenMode::ReadWrite) {
        return tables().open(funcTable, QStringLiteral("Matricula"), mode);
    }
    std::unique_ptr<Cursor> openDados(OpenMode mode = OpenMode::ReadWrite) {
        return tables().open(dadosTable, QStringLiteral("Matricula"), mode);
    }
    void append(const QString& table, const QList<Row>& rows) {
        qsizetype i = 0;
        tables().appendRows(table, [&](Row& row) {
            if (i == rows.size())
                return false;
            row = rows[i++];
            return true;
        });
    }
    void addWeeks(const QList<Row>& rows) { append(dadosTable, rows); }
    void addEmployees(const QStringList& matriculas) {
        QList<Row> rows;
        for (const QString& m : matriculas)
            rows << employee(m);
        append(funcTable, rows);
    }
    // Week rows, inserted in an order unlike the index order; the third field tells them apart.
    void addMixedWeeks() {
        const QVariant blank;
        addWeeks({{"00002", 3, 1},
                  {blank, blank, 2},
                  {"00001", blank, 3},
                  {"00001", 2, 4},
                  {"00001", 1, 5},
                  {"00001", 2, 6},
                  {blank, 1, 7},
                  {"00002", blank, 8},
                  {blank, blank, 9}});
    }
    const QStringList mixedOrder{"-/-#2",     "-/-#9",     "-/1#7",     "00001/-#3", "00001/1#5",
                                 "00001/2#4", "00001/2#6", "00002/-#8", "00002/3#1"};
    // The bookmark of the employee `matricula`, as a cursor standing on it gives it.
    Bookmark employeeMark(const QString& matricula) {
        auto cursor = openFunc(OpenMode::ReadOnly);
        cursor->setRange(matricula, matricula);
        Row row;
        return cursor->next(row) ? cursor->bookmark() : Bookmark();
    }
    // Stands `cursor` on the row of `matricula` (its range left on that key).
    static bool seekKey(Cursor& cursor, const QString& matricula, Row& row) {
        cursor.setRange(matricula, matricula);
        return cursor.next(row);
    }
    // The employees as stored, each as "Matricula=HorasNoMes" ("-" when blank).
    QStringList storedTotals() {
        auto cursor = openFunc(OpenMode::ReadOnly);
        QStringList stored;
        Row row;
        while (cursor->next(row))
            stored << row[0].toString() + QLatin1Char('=') +
                          (row[5].isNull() ? QStringLiteral("-") : row[5].toString());
        return stored;
    }
    QProcess* startChild(const QStringList& args);

private Q_SLOTS:
    void init();
    void cleanup();

    void describeReportsTheSchema();
    void errorTextsNameTheCodeInHexadecimal();
    void startRestoresTheCursor();

    void readsInIndexOrderWithBlankAndDuplicateKeys();
    void turnsAroundInTheMiddle();
    void sequentialReadsSeeEveryWrite();
    void sequentialReadsSeeAnotherProgramsWrites();
    void rangesReadAsAnotherConnectionSeesThem();
    void rowCountFollowsTheRange();
    void rangesOnTheFirstIndexField();
    void bookmarksSurviveChangesAroundThem();
    void deleteKeepsThePlace();
    void rowIdentitiesZeroAndBelowAreOrdinaryRows();
    void updateMovesTheCursorWithTheRow();
    void keyViolationKeepsTheRowAndItsLock();
    void writesCutTextAndRefuseOutOfRangeNumbers();
    void appendRowsStoresAllOrNone();

    void detailTotalsReadWeeksAsEachRunFindsThem();
    void sumByKeyTotalsEachKeyOnce();
    void writeRunsWriteKeepAndStopAsTheVisitorSays();
    void writeRunsStopAtARowLockedElsewhere();
    void writeRunsSeeOthersWritesBetweenRuns();

    void lockRefusedToAnotherCursor();
    void lockRefusedToAnotherProcessUntilItDies();
    void killedWriterLeavesNoHalfWrittenRows();

    void readOnlyFileOpensReadOnly();
    void readOnlyFolderOpensReadOnly();
    void readWriteElseReadOnlyTakesWhatTheFileAllows();
    void openChoosesTheIndexFromTheDescriptionItReads();

    void badFilesFailCleanly_data();
    void badFilesFailCleanly();
    void foreignSchemaIsReportedTruthfully();
    void foreignServerTableIsReportedTruthfully();
    void foreignValuesAreCoerced();
};

void TestTableEngine::init() {
    LV26_ENGINE_TABLES(tables_);
}

void TestTableEngine::cleanup() {
    if (!tables_)
        return;
    QFile::setPermissions(tables_->folder(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    tables_.reset();
}

void TestTableEngine::describeReportsTheSchema() {
    const auto spelled = &EngineTables::spelled;
    const TableDescription f = tables().describe(funcTable);
    QCOMPARE(f.tableName, func());
    QStringList columns;
    for (const ColumnInfo& c : f.columns)
        columns << QStringLiteral("%1:%2:%3").arg(c.name).arg(int(c.type)).arg(c.size);
    QStringList expected;
    for (const char* c :
         {"Matricula:0:5", "Nome:0:40", "CPF:0:11", "Sexo:0:1", "Sal_Hora:5:0", "HorasNoMes:2:0"})
        expected << spelled(QLatin1String(c));
    QCOMPARE(columns, expected);
    QCOMPARE(f.indexes.size(), 1);
    QCOMPARE(f.indexes[0].name, spelled("Matricula"));
    QCOMPARE(f.indexes[0].fields, spelled("Matricula"));
    QVERIFY(f.indexes[0].primary && f.indexes[0].unique && !f.indexes[0].descending);

    const TableDescription d = tables().describe(dadosTable);
    QCOMPARE(d.columns.size(), 3);
    QCOMPARE(d.columns[1].type, ColumnType::Int16);
    QCOMPARE(d.columns[2].type, ColumnType::Int16);
    QCOMPARE(d.columns[2].name, spelled("HorasNaSemana"));
    QCOMPARE(d.indexes.size(), 1);
    QCOMPARE(d.indexes[0].name, spelled("Matricula"));
    QCOMPARE(d.indexes[0].fields, spelled("Matricula;Semana"));
    QVERIFY(!d.indexes[0].primary && !d.indexes[0].unique && !d.indexes[0].expression);

    // Making the tables again never overwrites them.
    QString message;
    QCOMPARE(errorCode([&] { createPayrollTables(tables()); }, &message), codes::TableExists);
    QCOMPARE(message,
             QStringLiteral("Table already exists.\n") +
                 (testingOnServer() ? QStringLiteral("Table: ") : QStringLiteral("File: ")) +
                 func());
    QCOMPARE(errorCode([&] { tables().describe(QStringLiteral("None.DB")); }, &message),
             codes::TableNotFound);
    QVERIFY2(message.startsWith(QLatin1String("Table does not exist.")), qPrintable(message));
}

void TestTableEngine::errorTextsNameTheCodeInHexadecimal() {
    QCOMPARE(errorText(codes::EngineNotFound),
             QStringLiteral("An error occurred while initializing the database engine: $2108"));
    QCOMPARE(errorText(codes::EngineEntryMissing),
             QStringLiteral("An error occurred while initializing the database engine: $2A06"));
    QCOMPARE(errorText(codes::KeyViolation), QStringLiteral("Key violation."));
    QVERIFY(errorText(0xABCD).isEmpty());
    // A code without a text of its own is named in the same form.
    QString message;
    QCOMPARE(errorCode([] { detail::raise(0xABCD, {QStringLiteral("Table: Func.DB")}); }, &message),
             quint16(0xABCD));
    QCOMPARE(message, QStringLiteral("Table engine error $ABCD\nTable: Func.DB"));
}

void TestTableEngine::startRestoresTheCursor() {
    LV26_FILES_ONLY("the file engine's start-up and its wait cursor");
    start();
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestTableEngine::readsInIndexOrderWithBlankAndDuplicateKeys() {
    addMixedWeeks();
    auto cursor = openDados();
    QCOMPARE(readForward(*cursor), mixedOrder);
    QCOMPARE(readBackward(*cursor), mixedOrder);
    // Past the end the cursor stays there; prior() then reads the last row.
    Row row;
    cursor->moveToEof();
    QVERIFY(!cursor->next(row));
    QVERIFY(!cursor->bookmark().isValid());
    QVERIFY(cursor->prior(row));
    QCOMPARE(row[2].toInt(), 1);
    // Before the start likewise.
    cursor->moveToBof();
    QVERIFY(!cursor->prior(row));
    QVERIFY(!cursor->current(row));
    QVERIFY(cursor->next(row));
    QCOMPARE(row[2].toInt(), 2);
}

void TestTableEngine::turnsAroundInTheMiddle() {
    addMixedWeeks();
    auto cursor = openDados();
    Row row;
    for (int i = 0; i < mixedOrder.size(); ++i) {
        cursor->moveToBof();
        for (int j = 0; j <= i; ++j)
            QVERIFY(cursor->next(row));
        if (i > 0) {
            QVERIFY(cursor->prior(row));
            QCOMPARE(weekText(row) + '#' + row[2].toString(), mixedOrder[i - 1]);
            QVERIFY(cursor->next(row));
        }
        QCOMPARE(weekText(row) + '#' + row[2].toString(), mixedOrder[i]);
        QVERIFY(cursor->current(row));
        QCOMPARE(weekText(row) + '#' + row[2].toString(), mixedOrder[i]);
    }
}

// A long forward or backward run may read rows ahead; whatever another cursor or this one
// writes meanwhile must still show on the next move, exactly as if each move sought afresh.
void TestTableEngine::sequentialReadsSeeEveryWrite() {
    QStringList matriculas;
    for (int i = 1; i <= 300; ++i)
        matriculas << matriculaOf(i);
    addEmployees(matriculas);
    auto reader = openFunc();
    auto writer = openFunc();
    Row row;
    for (int i = 0; i < 100; ++i)
        QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00100"));

    // Another cursor renames the next row and deletes the one after it.
    QVERIFY(writer->gotoBookmark(employeeMark(QStringLiteral("00101"))));
    writer->updateCurrent(employee(QStringLiteral("00101"), QStringLiteral("Bia")));
    QVERIFY(writer->gotoBookmark(employeeMark(QStringLiteral("00102"))));
    writer->deleteCurrent();
    QVERIFY(reader->next(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Bia"));
    QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00103"));

    // This cursor's own write moves the row to the end; the run goes on from its new place.
    for (int i = 0; i < 10; ++i)
        QVERIFY(reader->next(row));
    reader->updateCurrent(employee(QStringLiteral("99999")));
    QVERIFY(reader->next(row) == false);
    QVERIFY(reader->prior(row));
    QCOMPARE(row[0].toString(), QStringLiteral("99999"));

    // Backward runs too, and turning around reads the neighbours, not the batch.
    for (int i = 0; i < 50; ++i)
        QVERIFY(reader->prior(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00251"));
    QVERIFY(writer->gotoBookmark(employeeMark(QStringLiteral("00250"))));
    writer->deleteCurrent();
    writer->insertRow(employee(QStringLiteral("0024A")));
    QVERIFY(reader->prior(row));
    QCOMPARE(row[0].toString(), QStringLiteral("0024A"));
    QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00251"));

    // A batch that reached the end of the range still sees a row added at its end.
    reader->setRange(QStringLiteral("00290"), QStringLiteral("00300"));
    for (int i = 0; i < 5; ++i)
        QVERIFY(reader->next(row));
    writer->insertRow(employee(QStringLiteral("0029Z")));
    QStringList tail;
    while (reader->next(row))
        tail << row[0].toString();
    QCOMPARE(tail.size(), 7);
    QCOMPARE(tail.last(), QStringLiteral("00300"));
    QCOMPARE(tail.value(5), QStringLiteral("0029Z"));
    writer->moveToEof();
    QVERIFY(writer->prior(row));
    QCOMPARE(row[0].toString(), QStringLiteral("99999"));
    writer->deleteCurrent(); // outside the reader's range
    reader->clearRange();

    // A complete pass still reads every row once, in order.
    QStringList seen;
    reader->moveToBof();
    while (reader->next(row))
        seen << row[0].toString();
    QCOMPARE(seen.size(), 299); // three deleted, two inserted
    QCOMPARE(seen.first(), QStringLiteral("00001"));
    QCOMPARE(seen.last(), QStringLiteral("00300"));
}

// Another program's commits between the moves of a run, also after it emptied the file's log
// (on a server, after a checkpoint).
void TestTableEngine::sequentialReadsSeeAnotherProgramsWrites() {
    QStringList matriculas;
    for (int i = 1; i <= 400; ++i)
        matriculas << matriculaOf(i);
    addEmployees(matriculas);
    auto reader = openFunc();
    Row row;
    const QString checkpoint = testingOnServer()
                                   ? QStringLiteral("CHECKPOINT")
                                   : QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)");
    const auto write = [&](const QString& sql) {
        QProcess* child =
            startChild({QStringLiteral("--sql"), tables_->location(), funcTable, sql});
        QVERIFY(child->waitForFinished(30000));
        QCOMPARE(child->readAllStandardOutput().trimmed(), QByteArray("done"));
    };
    for (int i = 0; i < 100; ++i)
        QVERIFY(reader->next(row));
    write("UPDATE Func SET Nome = 'Bia' WHERE Matricula = '00101'");
    QVERIFY(reader->next(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Bia"));
    for (int i = 0; i < 20; ++i) // a new batch, read after the write
        QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00121"));
    write(checkpoint + QStringLiteral("; DELETE FROM Func WHERE Matricula = '00122'"));
    QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00123"));
    for (int i = 0; i < 30; ++i)
        QVERIFY(reader->next(row));
    write(checkpoint); // no data changed: the run reads on
    write("UPDATE Func SET Nome = 'Caio' WHERE Matricula = '00155'");
    QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00154"));
    QVERIFY(reader->next(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Caio"));
    int rest = 0;
    while (reader->next(row))
        ++rest;
    QCOMPARE(rest, 400 - 155);
}

// Ranges on one key, mostly in key order as a master's detail rows are read, against the
// same rows selected by another connection, which writes now and then (rows of later ranges,
// of the current one; on the files also keys stored as numbers and blobs).
void TestTableEngine::rangesReadAsAnotherConnectionSeesThem() {
    QList<Row> weeks;
    for (int k = 1; k <= 400; k += 1 + k % 3)
        for (int w = 1; w <= k % 6; ++w)
            weeks << Row{matriculaOf(k), w, k % 50};
    addWeeks(weeks);
    OtherConnection other(tables_->location(), dadosTable);
    const auto exec = [&](const QString& sql) { QCOMPARE(other.exec(sql), QString()); };
    exec(testingOnServer()
             ? QStringLiteral("INSERT INTO Dados (Matricula, Semana, HorasNaSemana) VALUES "
                              "('7', 1, 1), (NULL, 1, 3)")
             : QStringLiteral("INSERT INTO Dados VALUES (7, 1, 1), (x'3030303130', 1, 2), "
                              "(NULL, 1, 3)"));
    const auto expected = [&](const QString& key) {
        QStringList rows;
        for (const QString& stored :
             other.query(QStringLiteral("SELECT Matricula, Semana, HorasNaSemana FROM Dados WHERE "
                                        "Matricula = '%1' ORDER BY Matricula, Semana, rowid")
                             .arg(key))) {
            const QStringList v = stored.split(QLatin1Char('|'));
            rows << v.value(0) + QLatin1Char('/') + v.value(1) + QLatin1Char('#') + v.value(2);
        }
        return rows;
    };
    auto cursor = openDados();
    QRandomGenerator random(5);
    int key = 0;
    for (int step = 0; step < 1500; ++step) {
        key = random.bounded(20) == 0 ? int(random.bounded(420)) : key + 1;
        const QString text = matriculaOf(key % 420);
        cursor->setRange(text, text);
        QStringList rows;
        Row row;
        while (cursor->next(row))
            rows << row[0].toString() + QLatin1Char('/') + row[1].toString() + QLatin1Char('#') +
                        row[2].toString();
        QVERIFY2(rows == expected(text), qPrintable(text + QLatin1Char(' ') + rows.join(',')));
        switch (random.bounded(40)) {
        case 0: // a week of a range still to come
            exec(QStringLiteral(
                     "INSERT INTO Dados (Matricula, Semana, HorasNaSemana) VALUES ('%1', 9, 9)")
                     .arg(matriculaOf(key + 2)));
            break;
        case 1: // a week of the range just read
            exec(QStringLiteral("DELETE FROM Dados WHERE rowid = (SELECT min(rowid) FROM Dados "
                                "WHERE Matricula > '%1')")
                     .arg(text));
            break;
        case 2: // this cursor's own write
            if (cursor->setRange(text, text), cursor->next(row)) {
                row[2] = 44;
                cursor->updateCurrent(row);
            }
            break;
        default:
            break;
        }
    }
}

void TestTableEngine::rowCountFollowsTheRange() {
    addMixedWeeks();
    auto cursor = openDados(OpenMode::ReadOnly);
    QCOMPARE(cursor->rowCount(), qint64(9));
    cursor->setRange(QStringLiteral("00001"), QStringLiteral("00001"));
    QCOMPARE(cursor->rowCount(), qint64(4));
    cursor->setRange(QVariant(), QVariant());
    QCOMPARE(cursor->rowCount(), qint64(3));
    cursor->setRange(QVariant(), QStringLiteral("00001"));
    QCOMPARE(cursor->rowCount(), qint64(7));
    cursor->setRange(QStringLiteral("00003"), QStringLiteral("00003"));
    QCOMPARE(cursor->rowCount(), qint64(0));
    cursor->clearRange();
    Row row;
    QVERIFY(cursor->next(row));
    QCOMPARE(cursor->rowCount(), qint64(9));
    QVERIFY(cursor->next(row)); // counting kept the place
    QCOMPARE(row[2].toInt(), 9);
}

void TestTableEngine::rangesOnTheFirstIndexField() {
    addMixedWeeks();
    auto cursor = openDados();
    cursor->setRange(QStringLiteral("00001"), QStringLiteral("00001"));
    QCOMPARE(readForward(*cursor), mixedOrder.mid(3, 4));
    QCOMPARE(readBackward(*cursor), mixedOrder.mid(3, 4));
    cursor->setRange(QVariant(), QVariant()); // blank keys only
    QCOMPARE(readForward(*cursor), mixedOrder.mid(0, 3));
    QCOMPARE(readBackward(*cursor), mixedOrder.mid(0, 3));
    cursor->setRange(QString(""), QString("")); // an empty text is stored blank
    QCOMPARE(readForward(*cursor), mixedOrder.mid(0, 3));
    cursor->setRange(QVariant(), QStringLiteral("00001")); // from blank up to a key
    QCOMPARE(readForward(*cursor), mixedOrder.mid(0, 7));
    QCOMPARE(readBackward(*cursor), mixedOrder.mid(0, 7));
    cursor->setRange(QStringLiteral("00001"), QStringLiteral("00002"));
    QCOMPARE(readForward(*cursor), mixedOrder.mid(3));
    cursor->setRange(QStringLiteral("00003"), QStringLiteral("00003"));
    QCOMPARE(readForward(*cursor), QStringList());
    QCOMPARE(readBackward(*cursor), QStringList());
    cursor->clearRange();
    QCOMPARE(readForward(*cursor), mixedOrder);
}

void TestTableEngine::bookmarksSurviveChangesAroundThem() {
    addMixedWeeks();
    auto cursor = openDados();
    auto other = openDados();
    Row row;
    cursor->moveToBof();
    for (int i = 0; i < 5; ++i) // on 00001/1#5
        cursor->next(row);
    const Bookmark mark = cursor->bookmark();
    QVERIFY(mark.isValid());
    QVERIFY(mark == Bookmark(mark));
    cursor->moveToEof();
    QVERIFY(cursor->gotoBookmark(mark));
    QVERIFY(cursor->current(row));
    QCOMPARE(row[2].toInt(), 5);

    // Another cursor deletes the row: the bookmark still names its place.
    other->gotoBookmark(mark);
    other->deleteCurrent();
    QVERIFY(!cursor->gotoBookmark(mark));
    QVERIFY(!cursor->current(row));
    QVERIFY(cursor->next(row));
    QCOMPARE(row[2].toInt(), 4);
    QVERIFY(cursor->gotoBookmark(cursor->bookmark()));
    QVERIFY(!cursor->gotoBookmark(mark));
    QVERIFY(cursor->prior(row));
    QCOMPARE(row[2].toInt(), 3);

    // A row whose key changed is found at its new place.
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00002"));
    QVERIFY(cursor->next(row)); // 00002/-#8
    const Bookmark moved = cursor->bookmark();
    other->gotoBookmark(moved);
    other->lockCurrent(row);
    other->updateCurrent({"00002", 9, 8});
    cursor->clearRange();
    QVERIFY(cursor->gotoBookmark(moved));
    QVERIFY(cursor->prior(row));
    QCOMPARE(row[2].toInt(), 1); // 00002/3 now comes before 00002/9
}

void TestTableEngine::deleteKeepsThePlace() {
    addMixedWeeks();
    auto cursor = openDados();
    Row row;
    cursor->moveToBof();
    for (int i = 0; i < 4; ++i) // on 00001/-#3
        cursor->next(row);
    cursor->deleteCurrent();
    QCOMPARE(errorCode([&] { cursor->deleteCurrent(); }), quint16(0)); // already gone
    QVERIFY(!cursor->current(row));
    QVERIFY(cursor->next(row));
    QCOMPARE(row[2].toInt(), 5);
    QVERIFY(cursor->prior(row));
    QCOMPARE(row[2].toInt(), 7);
    QCOMPARE(readForward(*cursor).size(), mixedOrder.size() - 1);
    cursor->moveToEof();
    QCOMPARE(errorCode([&] { cursor->deleteCurrent(); }), codes::NoCurrentRecord);
}

// Another program may store rows at row identity 0 and below (and at the extremes): they are
// read, bookmarked, locked, updated and deleted like any other row, and a lock on one of them
// leaves the others free.
void TestTableEngine::rowIdentitiesZeroAndBelowAreOrdinaryRows() {
    addEmployees({"00003"});
    OtherConnection other(tables_->location(), funcTable);
    QCOMPARE(other.exec("INSERT INTO Func (rowid, Matricula, Nome, Sexo, Sal_Hora) VALUES "
                        "(0, '00002', 'Bia', 'F', 9), (-5, '00001', 'Caio', 'M', 9), "
                        "(-9223372036854775808, '00004', 'Rui', 'M', 9), "
                        "(9223372036854775807, '00005', 'Eva', 'F', 9), "
                        "(-1, '00006', 'Ivo', 'M', 9)"),
             QString());
    auto a = openFunc();
    auto b = openFunc();
    Row row;
    QStringList order;
    QList<Bookmark> marks;
    while (a->next(row)) {
        order << row[0].toString();
        marks << a->bookmark();
        QVERIFY(marks.last().isValid());
    }
    QCOMPARE(order, QStringList({"00001", "00002", "00003", "00004", "00005", "00006"}));
    QStringList refusedWrongly;
    for (qsizetype i = 0; i < marks.size(); ++i) {
        a->moveToEof();
        QVERIFY(a->gotoBookmark(marks[i]));
        QVERIFY(a->current(row));
        QCOMPARE(row[0].toString(), order[i]);
        a->lockCurrent(row);
        QVERIFY(a->hasLock());
        QVERIFY(b->gotoBookmark(marks[i]));
        QCOMPARE(errorCode([&] { b->lockCurrent(row); }), codes::RecordLocked);
        QCOMPARE(errorCode([&] { b->deleteCurrent(); }), codes::RecordLocked);
        // Rows at -5, 0 and 1 exclude no one but themselves (identities at the extremes may
        // share a lock with another row there, which only makes the two exclude each other).
        for (qsizetype j = 0; j < 3 && i < 3; ++j) {
            if (j == i)
                continue;
            QVERIFY(b->gotoBookmark(marks[j]));
            if (errorCode([&] { b->lockCurrent(row); }) != 0)
                refusedWrongly << order[j] + QStringLiteral(" while ") + order[i] + " is locked";
            b->releaseLock();
        }
        a->releaseLock();
        QVERIFY(!a->hasLock());
        QVERIFY(b->gotoBookmark(marks[i]));
        b->lockCurrent(row); // released for real
        b->releaseLock();
    }
    QVERIFY2(refusedWrongly.isEmpty(), qPrintable(refusedWrongly.join(QStringLiteral(", "))));
    QVERIFY(a->gotoBookmark(marks[1])); // rowid 0
    a->lockCurrent(row);
    row[1] = QStringLiteral("Beatriz");
    a->updateCurrent(row);
    QVERIFY(!a->hasLock());
    QVERIFY(b->gotoBookmark(marks[1]) && b->current(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Beatriz"));
    a->deleteCurrent();
    QVERIFY(!b->current(row));
    QCOMPARE(readForward(*b).size(), 5);
    QVERIFY(b->gotoBookmark(marks[0]));
    QVERIFY(b->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00003"));
}

void TestTableEngine::updateMovesTheCursorWithTheRow() {
    addEmployees({"00001", "00002", "00003"});
    auto cursor = openFunc();
    Row row;
    cursor->moveToBof();
    cursor->next(row);
    cursor->lockCurrent(row);
    QVERIFY(cursor->hasLock());
    row[0] = QStringLiteral("00009");
    cursor->updateCurrent(row);
    QVERIFY(!cursor->hasLock());
    QVERIFY(!cursor->next(row)); // stands on the last row now
    cursor->insertRow(employee(QStringLiteral("00000")));
    QVERIFY(cursor->current(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00000"));
    QVERIFY(!cursor->prior(row));
}

void TestTableEngine::keyViolationKeepsTheRowAndItsLock() {
    addEmployees({"00001", "00002"});
    auto cursor = openFunc();
    QString message;
    QCOMPARE(errorCode([&] { cursor->insertRow(employee(QStringLiteral("00002"))); }, &message),
             codes::KeyViolation);
    QCOMPARE(message, QStringLiteral("Key violation.\nTable: ") + func());

    Row row;
    cursor->moveToBof();
    cursor->next(row);
    cursor->lockCurrent(row);
    row[0] = QStringLiteral("00002");
    row[1] = QStringLiteral("Changed");
    QCOMPARE(errorCode([&] { cursor->updateCurrent(row); }), codes::KeyViolation);
    QVERIFY(cursor->hasLock());
    QVERIFY(cursor->current(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00001"));
    QCOMPARE(row[1].toString(), QStringLiteral("Ana Silva"));
    // The lock kept is still a lock against others.
    auto other = openFunc();
    QVERIFY(seekKey(*other, QStringLiteral("00001"), row));
    QCOMPARE(errorCode([&] { other->lockCurrent(row); }), codes::RecordLocked);
    // Blank keys are not duplicates of each other.
    cursor->insertRow(employee(QString()));
    cursor->insertRow(employee(QString()));
    QCOMPARE(cursor->rowCount(), qint64(4));
}

void TestTableEngine::writesCutTextAndRefuseOutOfRangeNumbers() {
    auto cursor = openFunc();
    cursor->insertRow({"0000123", QString(50, 'x'), QString(), "F", 1, 7});
    Row row;
    QVERIFY(cursor->current(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00001"));
    QCOMPARE(row[1].toString().size(), 40);
    QVERIFY(row[2].isNull()); // an empty text is stored blank
    QCOMPARE(row[4].toDouble(), 1.0);
    QCOMPARE(row[5].toInt(), 7);
    QCOMPARE(errorCode([&] {
                 cursor->insertRow({"2", "N", {}, {}, {}, 3000000000LL});
             }),
             codes::InvalidValue);
    auto weeks = openDados();
    QString message;
    QCOMPARE(errorCode([&] { weeks->insertRow({"1", 40000, 1}); }, &message), codes::InvalidValue);
    QVERIFY2(message.contains(EngineTables::spelled("Semana")), qPrintable(message));
    weeks->insertRow({"1", -32768, 32767});
    QVERIFY(weeks->current(row));
    QCOMPARE(row[1].toInt(), -32768);
    QCOMPARE(row[2].toInt(), 32767);
    // Nothing of the refused rows was stored.
    QCOMPARE(cursor->rowCount(), qint64(1));
    QCOMPARE(weeks->rowCount(), qint64(1));
}

// Appended rows go in all together or not at all, whether the producer or the storage fails.
void TestTableEngine::appendRowsStoresAllOrNone() {
    addEmployees({"00001"});
    int n = 0;
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, tables().appendRows(funcTable, [&](Row& row) {
        if (++n == 4)
            throw EDatabaseError(QStringLiteral("no more"));
        row = employee(matriculaOf(10 + n));
        return true;
    }));
    n = 0;
    QCOMPARE(errorCode([&] {
                 tables().appendRows(funcTable, [&](Row& row) {
                     row = employee(matriculaOf(n < 3 ? 10 + n : 1)); // then a taken key
                     return ++n <= 4;
                 });
             }),
             codes::KeyViolation);
    auto cursor = openFunc(OpenMode::ReadOnly);
    QCOMPARE(cursor->rowCount(), qint64(1));
    n = 0;
    tables().appendRows(funcTable, [&](Row& row) {
        row = employee(matriculaOf(10 + n));
        return ++n <= 3;
    });
    QCOMPARE(cursor->rowCount(), qint64(4));
}

// A pass over the employees in runs of two: weeks another program changes while the first
// run is being read are not seen by that run, and are seen by the next one.
void TestTableEngine::detailTotalsReadWeeksAsEachRunFindsThem() {
    LV26_FILES_ONLY("the files' own totals pass (writeDetailTotals)");
    addEmployees({"00001", "00002", "00003", "00004"});
    addWeeks(
        {{"00001", 1, 10}, {"00002", 1, 20}, {"00003", 1, 30}, {"00004", 1, 40}, {"00004", 2, 2}});
    const DetailTotalsPass pass{file(funcTable),
                                QStringLiteral("Matricula"),
                                file(dadosTable),
                                QStringLiteral("Matricula"),
                                "HorasNaSemana",
                                {},
                                2};
    QStringList seen;
    const DetailTotalsEnd end = writeDetailTotals(pass, [&](Row& row, const DetailTotal& total) {
        seen << row[0].toString() + QLatin1Char('=') + QString::number(total.sum);
        if (row[0].toString() == QLatin1String("00001"))
            sql(file(dadosTable),
                QStringLiteral("UPDATE Dados SET HorasNaSemana = HorasNaSemana + 1"));
        row[5] = total.sum;
        return true;
    });
    QCOMPARE(int(end.how), int(DetailTotalsEnd::How::Finished));
    QCOMPARE(seen, QStringList({"00001=10", "00002=20", "00003=31", "00004=44"}));
    QCOMPARE(storedTotals(), seen);
}

// One total per key in binary order of the key's text, blank keys first; a blank value makes
// its key's total blank; keys without rows are absent and read as zero.
void TestTableEngine::sumByKeyTotalsEachKeyOnce() {
    const QVariant blank;
    addWeeks({{"00002", 1, 20},
              {"00001", 2, 5},
              {blank, 1, 3},
              {"0000a", 1, 1},
              {"00001", 1, 10},
              {"0000B", 1, 2},
              {"00003", 1, blank},
              {"00003", 2, 4},
              {blank, 2, 4},
              {"00002", 2, -8}});
    const storage::KeyTotals totals =
        tables().sumByKey(dadosTable, QStringLiteral("Matricula"), QStringLiteral("HorasNaSemana"));
    QStringList entries;
    for (const auto& [key, total] : totals.entries())
        entries << (key.isNull() ? QStringLiteral("-") : key.toString()) + QLatin1Char('=') +
                       (total.blank ? QStringLiteral("blank") : QString::number(total.sum));
    QCOMPARE(entries,
             QStringList({"-=7", "00001=15", "00002=12", "00003=blank", "0000B=2", "0000a=1"}));
    QCOMPARE(totals.at(QVariant()).sum, 7);
    QCOMPARE(totals.at(QStringLiteral("0000a")).sum, 1);
    QVERIFY(totals.at(QStringLiteral("00003")).blank);
    QVERIFY(!totals.at(QStringLiteral("00004")).blank);
    QCOMPARE(totals.at(QStringLiteral("00004")).sum, 0);
    QCOMPARE(errorCode([&] { tables().sumByKey(dadosTable, QStringLiteral("Nome"), "Semana"); }),
             codes::IndexNotFound);
}

// The visitor writes a row (changed), keeps it as stored, or stops the pass at it; a pass
// goes on after the row it is given, in runs of any size.
void TestTableEngine::writeRunsWriteKeepAndStopAsTheVisitorSays() {
    addEmployees({"00001", "00002", "00003", "00004", "00005", "00006", "00007"});
    const auto totalsOf = [](const QString& stopAt) {
        return [stopAt](Row& row) {
            const QString key = row[0].toString();
            if (key == stopAt)
                return RowVisit::Stop;
            if (key == QLatin1String("00002"))
                return RowVisit::Keep;
            row[1] = QStringLiteral("Written");
            row[5] = key.toInt() * 10;
            return RowVisit::Write;
        };
    };
    RunsEnd end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), {}, 2,
                                     totalsOf(QStringLiteral("00005")));
    QCOMPARE(end.how, RunsEnd::How::Stopped);
    QCOMPARE(end.code, quint16(0));
    QCOMPARE(storedTotals(), QStringList({"00001=10", "00002=-", "00003=30", "00004=40", "00005=-",
                                          "00006=-", "00007=-"}));
    auto cursor = openFunc(OpenMode::ReadOnly);
    Row row;
    QVERIFY(cursor->gotoBookmark(end.at));
    QVERIFY(cursor->current(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00005"));
    QCOMPARE(row[1].toString(), QStringLiteral("Ana Silva"));
    QVERIFY(cursor->prior(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Written"));

    // Going on after the row it stopped at; runs of one and larger than the table alike.
    end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), end.at, 1, totalsOf({}));
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(storedTotals(), QStringList({"00001=10", "00002=-", "00003=30", "00004=40", "00005=-",
                                          "00006=60", "00007=70"}));
    int visited = 0;
    end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), {}, 100, [&](Row& row) {
        ++visited;
        row[5] = QVariant();
        return RowVisit::Write;
    });
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(visited, 7);
    QCOMPARE(storedTotals().filter(QStringLiteral("=-")).size(), 7);

    // A visitor that throws ends the pass with its error; the runs before are kept.
    visited = 0;
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             tables().writeRuns(funcTable, "Matricula", {}, 2, [&](Row& row) {
                                 if (++visited == 3)
                                     throw EDatabaseError(QStringLiteral("stop"));
                                 row[5] = 1;
                                 return RowVisit::Write;
                             }));
    QCOMPARE(storedTotals().mid(0, 3), QStringList({"00001=1", "00002=1", "00003=-"}));
    // A failure within a run: on a server the run is one transaction and is undone whole; the
    // files write each row as an edit posts it, so the rows visited before it are kept.
    visited = 0;
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             tables().writeRuns(funcTable, "Matricula", {}, 3, [&](Row& row) {
                                 if (++visited == 5)
                                     throw EDatabaseError(QStringLiteral("stop"));
                                 row[5] = 2;
                                 return RowVisit::Write;
                             }));
    QCOMPARE(storedTotals().mid(0, 5),
             QStringList({"00001=2", "00002=2", "00003=2",
                          testingOnServer() ? "00004=-" : "00004=2", "00005=-"}));
    // A value the column cannot hold fails the pass as a write fails.
    QCOMPARE(errorCode([&] {
                 tables().writeRuns(funcTable, "Matricula", {}, 2, [](Row& row) {
                     row[5] = 3000000000LL;
                     return RowVisit::Write;
                 });
             }),
             codes::InvalidValue);
    QCOMPARE(storedTotals().mid(0, 3), QStringList({"00001=2", "00002=2", "00003=2"}));
    // Nothing was left locked.
    auto first = openFunc();
    QVERIFY(seekKey(*first, QStringLiteral("00001"), row));
    first->lockCurrent(row);
    auto third = openFunc();
    QVERIFY(seekKey(*third, QStringLiteral("00003"), row));
    third->lockCurrent(row);
}

// A row in edit state in another cursor or another process stops the pass at that row with
// "Record locked by another user."; once the holder lets go (or dies) the pass goes on.
void TestTableEngine::writeRunsStopAtARowLockedElsewhere() {
    addEmployees({"00001", "00002", "00003", "00004", "00005", "00006"});
    const auto writeTen = [](Row& row) {
        row[5] = 10;
        return RowVisit::Write;
    };
    auto editor = openFunc();
    Row row;

    // While the pass visits a row, that row is locked against an edit of this program's and of
    // another program's.
    const auto elsewhere = test::engineStorageAt(tables_->location());
    auto otherEditor = elsewhere->open(funcTable, QStringLiteral("Matricula"), OpenMode::ReadWrite);
    QStringList editable;
    RunsEnd end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), {}, 2, [&](Row& r) {
        for (Cursor* c : {editor.get(), otherEditor.get()}) {
            Row seen;
            if (seekKey(*c, r[0].toString(), seen) &&
                errorCode([&] { c->lockCurrent(seen); }) != codes::RecordLocked) {
                editable << r[0].toString() + (c == editor.get() ? "/here" : "/elsewhere");
                c->releaseLock();
            }
        }
        return RowVisit::Keep;
    });
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(editable.join(u','), QString());

    QVERIFY(seekKey(*editor, QStringLiteral("00003"), row));
    editor->lockCurrent(row);
    end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), {}, 2, writeTen);
    QCOMPARE(end.how, RunsEnd::How::Stopped);
    QCOMPARE(end.code, codes::RecordLocked);
    QVERIFY(end.at == editor->bookmark());
    QCOMPARE(storedTotals(),
             QStringList({"00001=10", "00002=10", "00003=-", "00004=-", "00005=-", "00006=-"}));
    QVERIFY(editor->hasLock()); // the edit goes on undisturbed
    editor->releaseLock();

    QProcess* child =
        startChild({QStringLiteral("--hold-lock"), tables_->location(), QStringLiteral("00005")});
    QCOMPARE(child->readAllStandardOutput().trimmed(), QByteArray("locked"));
    const Bookmark second = employeeMark(QStringLiteral("00002"));
    end = tables().writeRuns(funcTable, QStringLiteral("Matricula"), second, 2, writeTen);
    QCOMPARE(end.how, RunsEnd::How::Stopped);
    QCOMPARE(end.code, codes::RecordLocked);
    QVERIFY(end.at == employeeMark(QStringLiteral("00005")));
    QCOMPARE(storedTotals(),
             QStringList({"00001=10", "00002=10", "00003=10", "00004=10", "00005=-", "00006=-"}));
    ::kill(pid_t(child->processId()), SIGKILL);
    QVERIFY(child->waitForFinished(10000));
    QVERIFY(seekKey(*editor, QStringLiteral("00005"), row));
    QCOMPARE(test::lockOnceFree(*editor, row), quint16(0)); // the holder's lock is gone
    editor->releaseLock();
    end = tables().writeRuns(funcTable, QStringLiteral("Matricula"),
                             employeeMark(QStringLiteral("00004")), 2, writeTen);
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(storedTotals().filter(QStringLiteral("=10")).size(), 6);
}

// Rows another program writes while a pass runs are read by the pass's later runs.
void TestTableEngine::writeRunsSeeOthersWritesBetweenRuns() {
    addEmployees({"00001", "00002", "00003", "00004"});
    OtherConnection other(tables_->location(), funcTable);
    QStringList seen;
    const RunsEnd end =
        tables().writeRuns(funcTable, QStringLiteral("Matricula"), {}, 1, [&](Row& row) {
            seen << row[0].toString() + QLatin1Char(':') + row[1].toString();
            if (row[0].toString() == QLatin1String("00001")) {
                const QString error =
                    other.exec("UPDATE Func SET Nome = 'Bia' WHERE Matricula = '00003'; "
                               "INSERT INTO Func (Matricula, Nome) VALUES ('0000Z', 'Caio')");
                if (!error.isEmpty())
                    qWarning("%s", qPrintable(error));
            }
            row[5] = 1;
            return RowVisit::Write;
        });
    QCOMPARE(end.how, RunsEnd::How::Finished);
    QCOMPARE(seen, QStringList({"00001:Ana Silva", "00002:Ana Silva", "00003:Bia",
                                "00004:Ana Silva", "0000Z:Caio"}));
}

void TestTableEngine::lockRefusedToAnotherCursor() {
    addEmployees({"00001", "00002"});
    auto a = openFunc();
    auto b = openFunc();
    Row row;
    a->next(row);
    b->next(row);
    a->lockCurrent(row);
    QString message;
    QCOMPARE(errorCode([&] { b->lockCurrent(row); }, &message), codes::RecordLocked);
    QCOMPARE(message, QStringLiteral("Record locked by another user.\nTable: ") + func());
    QCOMPARE(errorCode([&] { b->updateCurrent(employee("00001", "X")); }), codes::RecordLocked);
    QCOMPARE(errorCode([&] { b->deleteCurrent(); }), codes::RecordLocked);
    QVERIFY(a->current(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Ana Silva")); // nothing of b's was written
    b->next(row);
    b->lockCurrent(row); // another row is free
    a->releaseLock();
    b->moveToBof();
    b->next(row);
    b->lockCurrent(row);
    QVERIFY(b->hasLock());
    // A cursor's lock goes with the cursor.
    b.reset();
    a->lockCurrent(row);
    QVERIFY(a->hasLock());
}

QProcess* TestTableEngine::startChild(const QStringList& args) {
    return test::startChildProcess(this, args);
}

void TestTableEngine::lockRefusedToAnotherProcessUntilItDies() {
    addEmployees({"00001", "00002"});
    QProcess* child =
        startChild({QStringLiteral("--hold-lock"), tables_->location(), QStringLiteral("00002")});
    QCOMPARE(child->readAllStandardOutput().trimmed(), QByteArray("locked"));
    auto cursor = openFunc();
    Row row;
    QVERIFY(seekKey(*cursor, QStringLiteral("00002"), row));
    QString message;
    QCOMPARE(errorCode([&] { cursor->lockCurrent(row); }, &message), codes::RecordLocked);
    QCOMPARE(message, QStringLiteral("Record locked by another user.\nTable: ") + func());
    QCOMPARE(errorCode([&] { cursor->updateCurrent(employee("00002", "X")); }),
             codes::RecordLocked);
    QCOMPARE(errorCode([&] { cursor->deleteCurrent(); }), codes::RecordLocked);
    QVERIFY(seekKey(*cursor, QStringLiteral("00001"), row));
    cursor->lockCurrent(row); // another row is free
    cursor->releaseLock();
    ::kill(pid_t(child->processId()), SIGKILL);
    QVERIFY(child->waitForFinished(10000));
    QVERIFY(seekKey(*cursor, QStringLiteral("00002"), row));
    QCOMPARE(test::lockOnceFree(*cursor, row), quint16(0));
    QVERIFY(cursor->hasLock());
}

void TestTableEngine::killedWriterLeavesNoHalfWrittenRows() {
    addEmployees({"00001"});
    // One child appends rows one transaction each, another in one endless transaction.
    QProcess* single = startChild(
        {QStringLiteral("--write-forever"), tables_->location(), QStringLiteral("single")});
    QProcess* bulk = startChild(
        {QStringLiteral("--write-forever"), tables_->location(), QStringLiteral("bulk")});
    QCOMPARE(single->readAllStandardOutput().trimmed(), QByteArray("writing"));
    QCOMPARE(bulk->readAllStandardOutput().trimmed(), QByteArray("writing"));
    QTest::qWait(300);
    ::kill(pid_t(single->processId()), SIGKILL);
    ::kill(pid_t(bulk->processId()), SIGKILL);
    QVERIFY(single->waitForFinished(10000) && bulk->waitForFinished(10000));
    auto weeks = openDados();
    Row row;
    int rows = 0;
    while (weeks->next(row)) {
        ++rows;
        QCOMPARE(row[0].toString(), QStringLiteral("00001"));
        QCOMPARE(row[2].toInt(), row[1].toInt() % 100); // both fields of the row or none
    }
    QVERIFY(rows > 0); // the single-row writer committed some, the bulk writer none
    auto employees = openFunc();
    QVERIFY(employees->next(row));
    QVERIFY(!employees->next(row));
    if (testingOnServer())
        return;
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(file(dadosTable)).constData(), &db);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    QCOMPARE(sqlite3_step(check), SQLITE_ROW);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))),
             QByteArray("ok"));
    sqlite3_finalize(check);
    sqlite3_close(db);
}

void TestTableEngine::readOnlyFileOpensReadOnly() {
    LV26_FILES_ONLY("a table file's permissions");
    addEmployees({"00001", "00002"});
    QFile::setPermissions(file(funcTable), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QString message;
    QCOMPARE(errorCode([&] { openFunc(); }, &message), readOnlyCode());
    QVERIFY(message.startsWith(QLatin1String("Table is read only.")));
    auto cursor = openFunc(OpenMode::ReadOnly);
    QVERIFY(cursor->isReadOnly());
    Row row;
    QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
    cursor->moveToBof();
    cursor->next(row);
    QCOMPARE(errorCode([&] { cursor->lockCurrent(row); }), readOnlyCode());
    QCOMPARE(errorCode([&] { cursor->insertRow(employee("00003")); }), readOnlyCode());
    QCOMPARE(errorCode([&] { cursor->deleteCurrent(); }), readOnlyCode());
    QFile::setPermissions(file(funcTable), QFile::ReadOwner | QFile::WriteOwner);
}

void TestTableEngine::readOnlyFolderOpensReadOnly() {
    LV26_FILES_ONLY("the permissions of the tables' folder");
    addEmployees({"00001", "00002"});
    const QStringList before = QDir(tables_->folder()).entryList(QDir::Files);
    QFile::setPermissions(tables_->folder(), QFile::ReadOwner | QFile::ExeOwner);
    QCOMPARE(errorCode([&] { openFunc(); }), readOnlyCode());
    QCOMPARE(tables().describe(funcTable).columns.size(), 6);
    auto cursor = openFunc(OpenMode::ReadOnly);
    Row row;
    QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
    QCOMPARE(QDir(tables_->folder()).entryList(QDir::Files), before);
}

void TestTableEngine::readWriteElseReadOnlyTakesWhatTheFileAllows() {
    LV26_FILES_ONLY("the permissions of table files and their folder");
    addEmployees({"00001", "00002"});
    {
        auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
        QVERIFY(!cursor->isReadOnly());
        cursor->insertRow(employee("00003"));
        QCOMPARE(cursor->rowCount(), qint64(3));
        cursor->deleteCurrent();
    }
    Row row;
    QFile::setPermissions(file(funcTable), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
        QVERIFY(cursor->isReadOnly());
        QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
        cursor->moveToBof();
        cursor->next(row);
        QCOMPARE(errorCode([&] { cursor->lockCurrent(row); }), readOnlyCode());
    }
    QFile::setPermissions(file(funcTable), QFile::ReadOwner | QFile::WriteOwner);

    const QStringList before = QDir(tables_->folder()).entryList(QDir::Files);
    QFile::setPermissions(tables_->folder(), QFile::ReadOwner | QFile::ExeOwner);
    auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
    QVERIFY(cursor->isReadOnly());
    QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
    QCOMPARE(QDir(tables_->folder()).entryList(QDir::Files), before);
}

void TestTableEngine::openChoosesTheIndexFromTheDescriptionItReads() {
    OtherConnection other(tables_->location(), QStringLiteral("Other.DB"));
    QCOMPARE(other.exec(testingOnServer()
                            ? "CREATE TABLE other (rowid bigint GENERATED BY DEFAULT AS IDENTITY "
                              "PRIMARY KEY, Nome varchar(10), Sem smallint);"
                              "CREATE INDEX other_ByNome ON other (Nome);"
                              "CREATE INDEX other_BySem ON other (Sem DESC);"
                              "CREATE INDEX other_BySemUp ON other (Sem, Nome);"
                              "INSERT INTO other (Nome, Sem) VALUES ('b', 1), ('a', 3), ('c', 2);"
                            : "CREATE TABLE o (Nome CHAR(10), Sem SMALLINT);"
                              "CREATE INDEX ByNome ON o (Nome);"
                              "CREATE INDEX BySem ON o (Sem DESC);"
                              "CREATE INDEX BySemUp ON o (Sem, Nome);"
                              "INSERT INTO o VALUES ('b', 1), ('a', 3), ('c', 2);"),
             QString());
    const QString table = QStringLiteral("Other.DB");
    const TableDescription described = tables().describe(table);
    QStringList given;
    int calls = 0;
    const IndexChooser lastUsable = [&](const TableDescription& d) {
        ++calls;
        for (const IndexInfo& i : d.indexes)
            given << i.name + QLatin1Char(':') + i.fields;
        return d.indexes.last().name;
    };
    for (OpenMode mode :
         {OpenMode::ReadWrite, OpenMode::ReadOnly, OpenMode::ReadWriteElseReadOnly}) {
        calls = 0;
        given.clear();
        auto cursor = tables().open(table, lastUsable, mode);
        QCOMPARE(calls, 1);
        QCOMPARE(given.size(), described.indexes.size());
        QCOMPARE(cursor->description().columns.size(), described.columns.size());
        QCOMPARE(cursor->description().indexes.size(), described.indexes.size());
        QCOMPARE(cursor->description().indexes.last().name, EngineTables::spelled("BySemUp"));
        QStringList order;
        Row row;
        while (cursor->next(row))
            order << row[0].toString();
        QCOMPARE(order, QStringList({"b", "c", "a"}));
    }

    // The chooser's own error, or the engine's for the index it names, fails the open.
    const auto refuse = [](const TableDescription&) -> QString {
        throw EDatabaseError(QStringLiteral("no index for Sexo"));
    };
    try {
        tables().open(table, refuse, OpenMode::ReadWriteElseReadOnly);
        QFAIL("the chooser's error did not fail the open");
    } catch (const EEngineError&) {
        QFAIL("the chooser's error was replaced by the engine's");
    } catch (const EDatabaseError& e) {
        QCOMPARE(e.message(), QStringLiteral("no index for Sexo"));
    }
    const auto descending = [](const TableDescription&) { return QStringLiteral("BySem"); };
    QCOMPARE(errorCode([&] { tables().open(table, descending, OpenMode::ReadWriteElseReadOnly); }),
             codes::IndexNotUsable);
    // A table that does not exist is refused before any choice.
    calls = 0;
    QCOMPARE(errorCode(
                 [&] { tables().open(QStringLiteral("None.DB"), lastUsable, OpenMode::ReadOnly); }),
             codes::TableNotFound);
    QCOMPARE(calls, 0);
}

void TestTableEngine::badFilesFailCleanly_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail"); // a line the message must contain
    QTest::newRow("missing") << "missing" << int(codes::TableNotFound) << "";
    QTest::newRow("zero length") << "empty" << int(codes::NotATable) << "The file holds no table.";
    QTest::newRow("garbage") << "garbage" << int(codes::NotATable) << "file is not a database";
    QTest::newRow("truncated") << "truncated" << int(codes::NotATable) << "";
    QTest::newRow("folder") << "folder" << int(codes::NotATable) << "The name is a folder.";
    QTest::newRow("unreadable") << "unreadable" << int(codes::AccessDenied) << "";
    QTest::newRow("two tables") << "two" << int(codes::NotATable)
                                << "The file holds 2 tables; a table file holds one.";
    QTest::newRow("no table") << "view" << int(codes::NotATable) << "The file holds no table.";
    QTest::newRow("without rowid")
        << "norowid" << int(codes::NotATable) << "The table has no row identity (WITHOUT ROWID).";
}

void TestTableEngine::badFilesFailCleanly() {
    LV26_FILES_ONLY("damaged and foreign files");
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, detail);
    const QString path = file(QStringLiteral("Bad.DB"));
    if (kind == QLatin1String("empty") || kind == QLatin1String("garbage") ||
        kind == QLatin1String("unreadable")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind != QLatin1String("empty"))
            file.write(QByteArray(5000, '\x5a'));
    } else if (kind == QLatin1String("truncated")) {
        int n = 0;
        tables().appendRows(funcTable, [&](Row& row) {
            row = employee(QString::number(10000 + n), QString(40, 'n'));
            return ++n <= 3000;
        });
        QFile::copy(file(funcTable), path);
        QFile file(path);
        QVERIFY(file.resize(file.size() / 3));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(tables_->folder()).mkdir(QStringLiteral("Bad.DB")));
    } else if (kind == QLatin1String("two")) {
        sql(path, "CREATE TABLE a (x); CREATE TABLE b (y);");
    } else if (kind == QLatin1String("view")) {
        sql(path, "CREATE VIEW v AS SELECT 1;");
    } else if (kind == QLatin1String("norowid")) {
        sql(path, "CREATE TABLE w (Matricula CHAR(5) PRIMARY KEY) WITHOUT ROWID;");
    }
    if (kind == QLatin1String("unreadable"))
        QFile::setPermissions(path, {});
    QString describeMessage, openMessage;
    QCOMPARE(int(errorCode([&] { tables().describe(QStringLiteral("Bad.DB")); }, &describeMessage)),
             code);
    QCOMPARE(int(errorCode(
                 [&] {
                     tables().open(QStringLiteral("Bad.DB"), QStringLiteral("Matricula"),
                                   OpenMode::ReadOnly);
                 },
                 &openMessage)),
             code);
    QVERIFY2(describeMessage.contains(QStringLiteral("File: ") + path),
             qPrintable(describeMessage));
    if (!detail.isEmpty())
        QVERIFY2(describeMessage.split('\n').contains(detail), qPrintable(describeMessage));
    if (kind == QLatin1String("missing"))
        QCOMPARE(describeMessage, QStringLiteral("Table does not exist.\nFile: ") + path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

void TestTableEngine::foreignSchemaIsReportedTruthfully() {
    LV26_FILES_ONLY("the declared types and indexes of a foreign file");
    const QString path = file(QStringLiteral("Other.DB"));
    sql(path, "CREATE TABLE o (Matricula TEXT, Nome CHAR(30), Foto BLOB, Valor DOUBLE, "
              "Id INTEGER PRIMARY KEY, Sem SMALLINT);"
              "CREATE INDEX Desc ON o (Matricula DESC);"
              "CREATE INDEX Expr ON o (lower(Nome));"
              "CREATE INDEX Part ON o (Nome) WHERE Sem > 0;"
              "CREATE UNIQUE INDEX NoCase ON o (Nome COLLATE NOCASE, Sem);");
    const TableDescription d = tables().describe(QStringLiteral("Other.DB"));
    QCOMPARE(d.columns[0].type, ColumnType::Text);
    QCOMPARE(d.columns[0].size, 0);
    QCOMPARE(d.columns[1].size, 30);
    QCOMPARE(d.columns[2].type, ColumnType::Other);
    QCOMPARE(d.columns[2].declaredType, QStringLiteral("BLOB"));
    QCOMPARE(d.columns[3].type, ColumnType::Float);
    QCOMPARE(d.columns[4].type, ColumnType::AutoInc);
    QHash<QString, IndexInfo> indexes;
    for (const IndexInfo& i : d.indexes)
        indexes.insert(i.name, i);
    QVERIFY(indexes.value("Id").primary);
    QVERIFY(indexes.value("Desc").descending);
    QVERIFY(indexes.value("Expr").expression);
    QVERIFY(indexes.value("Part").expression);
    QVERIFY(indexes.value("NoCase").caseInsensitive && indexes.value("NoCase").unique);
    QCOMPARE(indexes.value("NoCase").fields, QStringLiteral("Nome;Sem"));
    QCOMPARE(
        errorCode([&] { tables().open(QStringLiteral("Other.DB"), "Desc", OpenMode::ReadOnly); }),
        codes::IndexNotUsable);
    QCOMPARE(
        errorCode([&] { tables().open(QStringLiteral("Other.DB"), "Expr", OpenMode::ReadOnly); }),
        codes::IndexNotUsable);
    QString message;
    QCOMPARE(
        errorCode(
            [&] { tables().open(QStringLiteral("Other.DB"), "Matricula", OpenMode::ReadOnly); },
            &message),
        codes::IndexNotFound);
    QCOMPARE(message,
             QStringLiteral("Index does not exist.\nTable: %1\nIndex: Matricula").arg(path));

    // A case-insensitive index orders and seeks case-insensitively.
    sql(path, "INSERT INTO o (Nome, Sem) VALUES ('b', 1), ('A', 1), ('a', 2), ('C', 1);");
    auto cursor = tables().open(QStringLiteral("Other.DB"), "NoCase", OpenMode::ReadOnly);
    QStringList order;
    Row row;
    while (cursor->next(row))
        order << row[1].toString() + row[5].toString();
    QCOMPARE(order, QStringList({"A1", "a2", "b1", "C1"}));
    cursor->setRange("a", "B");
    cursor->moveToEof();
    order.clear();
    while (cursor->prior(row))
        order << row[1].toString() + row[5].toString();
    QCOMPARE(order, QStringList({"b1", "a2", "A1"}));
    // The rowid-alias key is usable as an index.
    auto byId = tables().open(QStringLiteral("Other.DB"), "Id", OpenMode::ReadOnly);
    QVERIFY(byId->next(row));
    QCOMPARE(row[4].toInt(), 1);
}

// A table of another shape on the server, made with plain SQL: every column and index is
// described as it is, and the indexes a cursor cannot follow are refused by name.
void TestTableEngine::foreignServerTableIsReportedTruthfully() {
    if (!testingOnServer())
        QSKIP("about the server's tables: one made with SQL in types the files do not have");
    OtherConnection other(tables_->location(), QStringLiteral("Other.DB"));
    QCOMPARE(other.exec("CREATE TABLE other (rowid bigint GENERATED BY DEFAULT AS IDENTITY "
                        "PRIMARY KEY, matricula text, nome varchar(30), foto bytea, "
                        "valor double precision, quando timestamp, preco numeric(10,2), "
                        "ativo boolean, sem smallint, n integer, grande bigint, letra char(3), "
                        "r real);"
                        "CREATE INDEX other_desc ON other (matricula DESC);"
                        "CREATE INDEX other_expr ON other (lower(nome));"
                        "CREATE INDEX other_part ON other (nome) WHERE sem > 0;"
                        "CREATE UNIQUE INDEX other_pair ON other (nome, sem);"
                        "CREATE TABLE norow (matricula varchar(5));"
                        "DROP TABLE func;"
                        "CREATE TABLE func (rowid bigint GENERATED BY DEFAULT AS IDENTITY, "
                        "matricula integer, nome bytea, sal_hora numeric);"),
             QString());
    const TableDescription d = tables().describe(QStringLiteral("Other.DB"));
    QStringList columns;
    for (const ColumnInfo& c : d.columns)
        columns << QStringLiteral("%1:%2:%3:%4")
                       .arg(c.name)
                       .arg(int(c.type))
                       .arg(c.size)
                       .arg(c.declaredType);
    const int other_ = int(ColumnType::Other);
    QCOMPARE(
        columns,
        QStringList({"matricula:0:0:text", "nome:0:30:character varying(30)",
                     QStringLiteral("foto:%1:0:bytea").arg(other_), "valor:4:0:double precision",
                     QStringLiteral("quando:%1:0:timestamp without time zone").arg(other_),
                     QStringLiteral("preco:%1:0:numeric(10,2)").arg(other_),
                     QStringLiteral("ativo:%1:0:boolean").arg(other_), "sem:1:0:smallint",
                     "n:2:0:integer", QStringLiteral("grande:%1:0:bigint").arg(other_),
                     "letra:0:3:character(3)", "r:4:0:real"}));
    QHash<QString, IndexInfo> indexes;
    for (const IndexInfo& i : d.indexes)
        indexes.insert(i.name, i);
    QCOMPARE(indexes.keys().size(), 4);
    QVERIFY(indexes.value("desc").descending);
    QVERIFY(indexes.value("expr").expression);
    QVERIFY(indexes.value("part").expression);
    QVERIFY(indexes.value("pair").unique && !indexes.value("pair").expression);
    QCOMPARE(indexes.value("pair").fields, QStringLiteral("nome;sem"));
    for (const char* unusable : {"desc", "expr", "part"})
        QCOMPARE(errorCode([&] {
                     tables().open(QStringLiteral("Other.DB"), unusable, OpenMode::ReadOnly);
                 }),
                 codes::IndexNotUsable);
    QString message;
    QCOMPARE(
        errorCode([&] { tables().open("Other.DB", "Matricula", OpenMode::ReadOnly); }, &message),
        codes::IndexNotFound);
    QCOMPARE(message, QStringLiteral("Index does not exist.\nTable: Other.DB\nIndex: Matricula"));

    // The usable index orders as the server orders the same columns.
    QCOMPARE(other.exec("INSERT INTO other (nome, sem, foto, preco) VALUES ('b', 1, 'x', 1.5), "
                        "('A', 1, NULL, NULL), ('a', 2, NULL, NULL), ('C', 1, NULL, NULL)"),
             QString());
    auto cursor = tables().open("Other.DB", "pair", OpenMode::ReadOnly);
    QStringList order;
    Row row;
    while (cursor->next(row))
        order << row[1].toString() + row[7].toString();
    QCOMPARE(order, other.query("SELECT nome || sem FROM other ORDER BY nome, sem"));

    // The payroll's own table name with columns of other types, and a table without the row
    // identity.
    const TableDescription f = tables().describe(funcTable);
    QCOMPARE(f.columns.size(), 3);
    QCOMPARE(f.columns[0].type, ColumnType::Int32);
    QCOMPARE(f.columns[1].type, ColumnType::Other);
    QCOMPARE(f.columns[2].type, ColumnType::Other);
    QVERIFY(f.indexes.isEmpty());
    QCOMPARE(errorCode([&] { openFunc(); }), codes::IndexNotFound);
    QCOMPARE(errorCode([&] { tables().describe(QStringLiteral("NoRow.DB")); }, &message),
             codes::NotATable);
    QVERIFY2(message.contains(QLatin1String("Table: NoRow.DB")), qPrintable(message));
}

void TestTableEngine::foreignValuesAreCoerced() {
    LV26_FILES_ONLY("values of other types stored in the files");
    sql(file(dadosTable),
        "INSERT INTO Dados VALUES ('TOOLONGKEY', 'abc', 70000), ('00001', 2.5, '12'),"
        "('00001', x'00ff', -40000), ('00001', 3, 1e300);");
    sql(file(funcTable), "INSERT INTO Func VALUES ('00001', 'Nome', '1', 'M', 'xyz', 'abc'),"
                         "('00002', 42, NULL, NULL, '12.5', 2147483648);");
    auto weeks = openDados();
    QStringList seen;
    Row row;
    while (weeks->next(row))
        seen << weekText(row) + '#' + (row[2].isNull() ? QStringLiteral("-") : row[2].toString());
    // Out-of-range, fractional, text and blob numbers read blank; over-long text is cut.
    QCOMPARE(seen, QStringList({"00001/-#12", "00001/3#-", "00001/-#-", "TOOLO/-#-"}));
    QCOMPARE(readBackward(*weeks).size(), 4);
    auto employees = openFunc();
    QVERIFY(employees->next(row));
    QVERIFY(row[4].isNull() && row[5].isNull());
    QVERIFY(employees->next(row));
    QCOMPARE(row[1].toString(), QStringLiteral("42"));
    QCOMPARE(row[4].toDouble(), 12.5);
    QVERIFY(row[5].isNull());

    // A row with a negative identity can be locked like any other.
    sql(file(funcTable), "INSERT INTO Func (rowid, Matricula) VALUES (-5, '00009');");
    auto other = openFunc();
    for (Cursor* c : {employees.get(), other.get()}) {
        c->setRange(QStringLiteral("00009"), QStringLiteral("00009"));
        QVERIFY(c->next(row));
    }
    employees->lockCurrent(row);
    QCOMPARE(errorCode([&] { other->lockCurrent(row); }), codes::RecordLocked);
}

// Child modes run by the tests above in a separate process; LOCATION is the tables' folder or,
// on a server run, the server's connection string.
static int childMain(const QStringList& args) {
    const QString location = args.value(2);
    if (args.value(1) == QLatin1String("--sql")) { // --sql LOCATION TABLE STATEMENTS
        OtherConnection other(location, args.value(3));
        const QString error = other.exec(args.value(4));
        std::puts(error.isEmpty() ? "done" : qPrintable(error));
        return 0;
    }
    try {
        const std::unique_ptr<storage::Storage> tables = test::engineStorageAt(location);
        if (args.value(1) == QLatin1String("--hold-lock")) { // --hold-lock LOCATION MATRICULA
            auto cursor = tables->open(funcTable, QStringLiteral("Matricula"), OpenMode::ReadWrite);
            return test::lockRowUntilKilled(*cursor, args.value(3));
        }
        if (args.value(1) == QLatin1String("--write-forever")) { // LOCATION single|bulk
            std::puts("writing");
            std::fflush(stdout);
            int n = 0;
            if (args.value(3) == QLatin1String("bulk")) {
                tables->appendRows(dadosTable, [&](Row& row) {
                    ++n;
                    row = {"00001", n % 30000, n % 30000 % 100};
                    return true;
                });
            }
            auto cursor = tables->open(dadosTable, "Matricula", OpenMode::ReadWrite);
            for (;;) {
                ++n;
                cursor->insertRow({"00001", n % 30000, n % 30000 % 100});
            }
        }
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    return 1;
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 1 &&
        (args[1] == QLatin1String("--hold-lock") || args[1] == QLatin1String("--write-forever") ||
         args[1] == QLatin1String("--sql")))
        return childMain(args);
    TestTableEngine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TableEngine.moc"
