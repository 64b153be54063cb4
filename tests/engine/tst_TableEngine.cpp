// Tests of the table engine on real table files in a temporary folder: cursor order with blank
// and duplicate keys, ranges, bookmarks, writes, key violations, row locks within and across
// processes, read-only files and folders, damaged and foreign files (docs/tables.md).

#include "ChildProcess.h"
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

namespace {

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

} // namespace

class TestTableEngine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString func() const { return dir_.filePath(QStringLiteral("Func.DB")); }
    QString dados() const { return dir_.filePath(QStringLiteral("Dados.DB")); }
    std::unique_ptr<Cursor> openFunc(OpenMode mode = OpenMode::ReadWrite) {
        return open(func(), QStringLiteral("Matricula"), mode);
    }
    std::unique_ptr<Cursor> openDados(OpenMode mode = OpenMode::ReadWrite) {
        return open(dados(), QStringLiteral("Matricula"), mode);
    }
    void addWeeks(const QList<Row>& rows) {
        qsizetype i = 0;
        appendRows(dados(), [&](Row& row) {
            if (i == rows.size())
                return false;
            row = rows[i++];
            return true;
        });
    }
    void addEmployees(const QStringList& matriculas) {
        qsizetype i = 0;
        appendRows(func(), [&](Row& row) {
            if (i == matriculas.size())
                return false;
            row = employee(matriculas[i++]);
            return true;
        });
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
    void rangesReadAsTheFileHoldsThem();
    void rowCountFollowsTheRange();
    void rangesOnTheFirstIndexField();
    void bookmarksSurviveChangesAroundThem();
    void deleteKeepsThePlace();
    void rowIdentitiesZeroAndBelowAreOrdinaryRows();
    void updateMovesTheCursorWithTheRow();
    void keyViolationKeepsTheRowAndItsLock();
    void writesCutTextAndRefuseOutOfRangeNumbers();

    void detailTotalsReadWeeksAsEachRunFindsThem();

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
    void foreignValuesAreCoerced();
};

void TestTableEngine::init() {
    QVERIFY(dir_.isValid());
    for (const QString& name :
         QDir(dir_.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile::setPermissions(dir_.filePath(name),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFileInfo(dir_.filePath(name)).isDir() ? (void)QDir(dir_.filePath(name)).removeRecursively()
                                               : (void)QFile::remove(dir_.filePath(name));
    }
    createTables(dir_.path());
}

void TestTableEngine::cleanup() {
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestTableEngine::describeReportsTheSchema() {
    const TableDescription f = describe(func());
    QCOMPARE(f.tableName, func());
    QStringList columns;
    for (const ColumnInfo& c : f.columns)
        columns << QStringLiteral("%1:%2:%3").arg(c.name).arg(int(c.type)).arg(c.size);
    QCOMPARE(columns, QStringList({"Matricula:0:5", "Nome:0:40", "CPF:0:11", "Sexo:0:1",
                                   "Sal_Hora:5:0", "HorasNoMes:2:0"}));
    QCOMPARE(f.indexes.size(), 1);
    QCOMPARE(f.indexes[0].name, QStringLiteral("Matricula"));
    QCOMPARE(f.indexes[0].fields, QStringLiteral("Matricula"));
    QVERIFY(f.indexes[0].primary && f.indexes[0].unique && !f.indexes[0].descending);

    const TableDescription d = describe(dados());
    QCOMPARE(d.columns.size(), 3);
    QCOMPARE(d.columns[1].type, ColumnType::Int16);
    QCOMPARE(d.columns[2].name, QStringLiteral("HorasNaSemana"));
    QCOMPARE(d.indexes.size(), 1);
    QCOMPARE(d.indexes[0].name, QStringLiteral("Matricula"));
    QCOMPARE(d.indexes[0].fields, QStringLiteral("Matricula;Semana"));
    QVERIFY(!d.indexes[0].primary && !d.indexes[0].unique && !d.indexes[0].expression);

    // createTables never overwrites.
    QString message;
    QCOMPARE(errorCode([&] { createTables(dir_.path()); }, &message), codes::TableExists);
    QCOMPARE(message, QStringLiteral("Table already exists.\nFile: ") + func());
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

// A long forward or backward run reads rows ahead; whatever another cursor or this one
// writes meanwhile must still show on the next move, exactly as if each move sought afresh.
void TestTableEngine::sequentialReadsSeeEveryWrite() {
    QStringList matriculas;
    for (int i = 1; i <= 300; ++i)
        matriculas << QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'));
    addEmployees(matriculas);
    auto reader = openFunc();
    auto writer = openFunc();
    Row row;
    for (int i = 0; i < 100; ++i)
        QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00100"));

    // Another cursor renames the next row and deletes the one after it.
    QVERIFY(writer->gotoBookmark(Bookmark::make({QStringLiteral("00101")}, 101)));
    writer->updateCurrent(employee(QStringLiteral("00101"), QStringLiteral("Bia")));
    QVERIFY(writer->gotoBookmark(Bookmark::make({QStringLiteral("00102")}, 102)));
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
    QVERIFY(writer->gotoBookmark(Bookmark::make({QStringLiteral("00250")}, 250)));
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
    writer->deleteCurrent(); // 99999, outside the range
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

// Another program's commits between the moves of a run, also after it emptied the log.
void TestTableEngine::sequentialReadsSeeAnotherProgramsWrites() {
    QStringList matriculas;
    for (int i = 1; i <= 400; ++i)
        matriculas << QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'));
    addEmployees(matriculas);
    auto reader = openFunc();
    Row row;
    const auto write = [&](const char* sql) {
        QProcess* child = startChild({QStringLiteral("--sql"), func(), QString::fromLatin1(sql)});
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
    write("PRAGMA wal_checkpoint(TRUNCATE); DELETE FROM Func WHERE Matricula = '00122'");
    QVERIFY(reader->next(row));
    QCOMPARE(row[0].toString(), QStringLiteral("00123"));
    for (int i = 0; i < 30; ++i)
        QVERIFY(reader->next(row));
    write("PRAGMA wal_checkpoint(TRUNCATE)"); // no data changed: the run reads on
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
// same rows selected straight from the file, while another connection writes now and then
// (rows of later ranges, of the current one, and keys stored as numbers and blobs).
void TestTableEngine::rangesReadAsTheFileHoldsThem() {
    QList<Row> weeks;
    for (int k = 1; k <= 400; k += 1 + k % 3)
        for (int w = 1; w <= k % 6; ++w)
            weeks << Row{QStringLiteral("%1").arg(k, 5, 10, QLatin1Char('0')), w, k % 50};
    addWeeks(weeks);
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(dados()).constData(), &other), SQLITE_OK);
    const auto exec = [&](const QByteArray& sql) {
        QCOMPARE(sqlite3_exec(other, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    };
    exec("INSERT INTO Dados VALUES (7, 1, 1), (x'3030303130', 1, 2), (NULL, 1, 3)");
    const auto expected = [&](const QString& key) {
        QStringList rows;
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(other,
                           "SELECT Matricula, Semana, HorasNaSemana FROM Dados WHERE Matricula = "
                           "?1 ORDER BY Matricula, Semana, rowid",
                           -1, &stmt, nullptr);
        const QByteArray text = key.toUtf8();
        sqlite3_bind_text(stmt, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) +
                        QLatin1Char('/') + QString::number(sqlite3_column_int(stmt, 1)) +
                        QLatin1Char('#') + QString::number(sqlite3_column_int(stmt, 2));
        sqlite3_finalize(stmt);
        return rows;
    };
    auto cursor = openDados();
    QRandomGenerator random(5);
    int key = 0;
    for (int step = 0; step < 1500; ++step) {
        key = random.bounded(20) == 0 ? int(random.bounded(420)) : key + 1;
        const QString text = QStringLiteral("%1").arg(key % 420, 5, 10, QLatin1Char('0'));
        cursor->setRange(text, text);
        QStringList rows;
        Row row;
        while (cursor->next(row))
            rows << row[0].toString() + QLatin1Char('/') + row[1].toString() + QLatin1Char('#') +
                        row[2].toString();
        QVERIFY2(rows == expected(text), qPrintable(text + QLatin1Char(' ') + rows.join(',')));
        switch (random.bounded(40)) {
        case 0: // a week of a range still to come
            exec(QStringLiteral("INSERT INTO Dados VALUES ('%1', 9, 9)")
                     .arg(key + 2, 5, 10, QLatin1Char('0'))
                     .toUtf8());
            break;
        case 1: // a week of the range just read
            exec(QStringLiteral("DELETE FROM Dados WHERE rowid = (SELECT min(rowid) FROM Dados "
                                "WHERE Matricula > '%1')")
                     .arg(text)
                     .toUtf8());
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
    sqlite3_close(other);
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
    cursor->deleteCurrent(); // already gone: no error
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
// read, bookmarked, locked, updated and deleted like any other row.
void TestTableEngine::rowIdentitiesZeroAndBelowAreOrdinaryRows() {
    addEmployees({"00003"});
    sql(func(), "INSERT INTO Func (rowid, Matricula, Nome, Sexo, Sal_Hora) VALUES "
                "(0, '00002', 'Bia', 'F', 9), (-5, '00001', 'Caio', 'M', 9), "
                "(-9223372036854775808, '00004', 'Rui', 'M', 9), "
                "(9223372036854775807, '00005', 'Eva', 'F', 9), (-1, '00006', 'Ivo', 'M', 9)");
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
        a->releaseLock();
        QVERIFY(!a->hasLock());
        b->lockCurrent(row); // released for real
        b->releaseLock();
    }
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
    // Blank keys are not duplicates of each other.
    cursor->insertRow(employee(QString()));
    cursor->insertRow(employee(QString()));
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
    QVERIFY2(message.contains(QLatin1String("Semana")), qPrintable(message));
    weeks->insertRow({"1", -32768, 32767});
    QVERIFY(weeks->current(row));
    QCOMPARE(row[1].toInt(), -32768);
}

// A pass over the employees in runs of two: weeks another program changes while the first
// run is being read are not seen by that run, and are seen by the next one.
void TestTableEngine::detailTotalsReadWeeksAsEachRunFindsThem() {
    addEmployees({"00001", "00002", "00003", "00004"});
    addWeeks(
        {{"00001", 1, 10}, {"00002", 1, 20}, {"00003", 1, 30}, {"00004", 1, 40}, {"00004", 2, 2}});
    const DetailTotalsPass pass{func(),
                                QStringLiteral("Matricula"),
                                dados(),
                                QStringLiteral("Matricula"),
                                "HorasNaSemana",
                                {},
                                2};
    QStringList seen;
    const DetailTotalsEnd end = writeDetailTotals(pass, [&](Row& row, const DetailTotal& total) {
        seen << row[0].toString() + QLatin1Char('=') + QString::number(total.sum);
        if (row[0].toString() == QLatin1String("00001"))
            sql(dados(), QStringLiteral("UPDATE Dados SET HorasNaSemana = HorasNaSemana + 1"));
        row[5] = total.sum;
        return true;
    });
    QCOMPARE(int(end.how), int(DetailTotalsEnd::How::Finished));
    QCOMPARE(seen, QStringList({"00001=10", "00002=20", "00003=31", "00004=44"}));
    auto employees = openFunc(OpenMode::ReadOnly);
    QStringList stored;
    Row row;
    while (employees->next(row))
        stored << row[0].toString() + QLatin1Char('=') + row[5].toString();
    QCOMPARE(stored, seen);
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
    b->next(row);
    b->lockCurrent(row); // another row is free
    a->releaseLock();
    b->moveToBof();
    b->next(row);
    b->lockCurrent(row);
    QVERIFY(b->hasLock());
}

QProcess* TestTableEngine::startChild(const QStringList& args) {
    return test::startChildProcess(this, args);
}

void TestTableEngine::lockRefusedToAnotherProcessUntilItDies() {
    addEmployees({"00001", "00002"});
    QProcess* child =
        startChild({QStringLiteral("--hold-lock"), dir_.path(), QStringLiteral("00002")});
    QCOMPARE(child->readAllStandardOutput().trimmed(), QByteArray("locked"));
    auto cursor = openFunc();
    Row row;
    cursor->setRange(QStringLiteral("00002"), QStringLiteral("00002"));
    QVERIFY(cursor->next(row));
    QCOMPARE(errorCode([&] { cursor->lockCurrent(row); }), codes::RecordLocked);
    ::kill(pid_t(child->processId()), SIGKILL);
    QVERIFY(child->waitForFinished(10000));
    cursor->lockCurrent(row);
    QVERIFY(cursor->hasLock());
}

void TestTableEngine::killedWriterLeavesNoHalfWrittenRows() {
    addEmployees({"00001"});
    // One child appends rows one transaction each, another in one endless transaction.
    QProcess* single =
        startChild({QStringLiteral("--write-forever"), dir_.path(), QStringLiteral("single")});
    QProcess* bulk =
        startChild({QStringLiteral("--write-forever"), dir_.path(), QStringLiteral("bulk")});
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
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(dados()).constData(), &db);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    QCOMPARE(sqlite3_step(check), SQLITE_ROW);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))),
             QByteArray("ok"));
    sqlite3_finalize(check);
    sqlite3_close(db);
}

void TestTableEngine::readOnlyFileOpensReadOnly() {
    addEmployees({"00001", "00002"});
    QFile::setPermissions(func(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
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
    QFile::setPermissions(func(), QFile::ReadOwner | QFile::WriteOwner);
}

void TestTableEngine::readOnlyFolderOpensReadOnly() {
    addEmployees({"00001", "00002"});
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner);
    QCOMPARE(errorCode([&] { openFunc(); }), readOnlyCode());
    QCOMPARE(describe(func()).columns.size(), 6);
    auto cursor = openFunc(OpenMode::ReadOnly);
    Row row;
    QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before);
}

void TestTableEngine::readWriteElseReadOnlyTakesWhatTheFileAllows() {
    addEmployees({"00001", "00002"});
    {
        auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
        QVERIFY(!cursor->isReadOnly());
        cursor->insertRow(employee("00003"));
        QCOMPARE(cursor->rowCount(), qint64(3));
        cursor->deleteCurrent();
    }
    Row row;
    QFile::setPermissions(func(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
        QVERIFY(cursor->isReadOnly());
        QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
        cursor->moveToBof();
        cursor->next(row);
        QCOMPARE(errorCode([&] { cursor->lockCurrent(row); }), readOnlyCode());
    }
    QFile::setPermissions(func(), QFile::ReadOwner | QFile::WriteOwner);

    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner);
    auto cursor = openFunc(OpenMode::ReadWriteElseReadOnly);
    QVERIFY(cursor->isReadOnly());
    QVERIFY(cursor->next(row) && cursor->next(row) && !cursor->next(row));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before);
}

void TestTableEngine::openChoosesTheIndexFromTheDescriptionItReads() {
    const QString path = dir_.filePath(QStringLiteral("Other.DB"));
    sql(path, "CREATE TABLE o (Nome CHAR(10), Sem SMALLINT);"
              "CREATE INDEX ByNome ON o (Nome);"
              "CREATE INDEX BySem ON o (Sem DESC);"
              "CREATE INDEX BySemUp ON o (Sem, Nome);"
              "INSERT INTO o VALUES ('b', 1), ('a', 3), ('c', 2);");
    const TableDescription described = describe(path);
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
        auto cursor = open(path, lastUsable, mode);
        QCOMPARE(calls, 1);
        QCOMPARE(given.size(), described.indexes.size());
        QCOMPARE(cursor->description().columns.size(), described.columns.size());
        QCOMPARE(cursor->description().indexes.size(), described.indexes.size());
        QCOMPARE(cursor->description().indexes.last().name, QStringLiteral("BySemUp"));
        QStringList order;
        Row row;
        while (cursor->next(row))
            order << row[0].toString();
        QCOMPARE(order, QStringList({"b", "c", "a"}));
    }

    // The chooser's own error, or the engine's for the index it names, fails the open.
    QString message;
    const auto refuse = [](const TableDescription&) -> QString {
        throw EDatabaseError(QStringLiteral("no index for Sexo"));
    };
    try {
        open(path, refuse, OpenMode::ReadWriteElseReadOnly);
        QFAIL("the chooser's error did not fail the open");
    } catch (const EEngineError&) {
        QFAIL("the chooser's error was replaced by the engine's");
    } catch (const EDatabaseError& e) {
        QCOMPARE(e.message(), QStringLiteral("no index for Sexo"));
    }
    const auto descending = [](const TableDescription&) { return QStringLiteral("BySem"); };
    QCOMPARE(errorCode([&] { open(path, descending, OpenMode::ReadWriteElseReadOnly); }),
             codes::IndexNotUsable);
    // A file that is no table is refused before any choice.
    calls = 0;
    QCOMPARE(errorCode([&] {
                 open(dir_.filePath(QStringLiteral("None.DB")), lastUsable, OpenMode::ReadOnly);
             }),
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
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, detail);
    const QString path = dir_.filePath(QStringLiteral("Bad.DB"));
    if (kind == QLatin1String("empty") || kind == QLatin1String("garbage") ||
        kind == QLatin1String("unreadable")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind != QLatin1String("empty"))
            file.write(QByteArray(5000, '\x5a'));
    } else if (kind == QLatin1String("truncated")) {
        int n = 0;
        appendRows(func(), [&](Row& row) {
            row = employee(QString::number(10000 + n), QString(40, 'n'));
            return ++n <= 3000;
        });
        QFile::copy(func(), path);
        QFile file(path);
        QVERIFY(file.resize(file.size() / 3));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("Bad.DB")));
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
    QCOMPARE(int(errorCode([&] { describe(path); }, &describeMessage)), code);
    QCOMPARE(int(errorCode([&] { open(path, QStringLiteral("Matricula"), OpenMode::ReadOnly); },
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
    const QString path = dir_.filePath(QStringLiteral("Other.DB"));
    sql(path, "CREATE TABLE o (Matricula TEXT, Nome CHAR(30), Foto BLOB, Valor DOUBLE, "
              "Id INTEGER PRIMARY KEY, Sem SMALLINT);"
              "CREATE INDEX Desc ON o (Matricula DESC);"
              "CREATE INDEX Expr ON o (lower(Nome));"
              "CREATE INDEX Part ON o (Nome) WHERE Sem > 0;"
              "CREATE UNIQUE INDEX NoCase ON o (Nome COLLATE NOCASE, Sem);");
    const TableDescription d = describe(path);
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
    QCOMPARE(errorCode([&] { open(path, "Desc", OpenMode::ReadOnly); }), codes::IndexNotUsable);
    QCOMPARE(errorCode([&] { open(path, "Expr", OpenMode::ReadOnly); }), codes::IndexNotUsable);
    QString message;
    QCOMPARE(errorCode([&] { open(path, "Matricula", OpenMode::ReadOnly); }, &message),
             codes::IndexNotFound);
    QCOMPARE(message,
             QStringLiteral("Index does not exist.\nTable: %1\nIndex: Matricula").arg(path));

    // A case-insensitive index orders and seeks case-insensitively.
    sql(path, "INSERT INTO o (Nome, Sem) VALUES ('b', 1), ('A', 1), ('a', 2), ('C', 1);");
    auto cursor = open(path, "NoCase", OpenMode::ReadOnly);
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
    auto byId = open(path, "Id", OpenMode::ReadOnly);
    QVERIFY(byId->next(row));
    QCOMPARE(row[4].toInt(), 1);
}

void TestTableEngine::foreignValuesAreCoerced() {
    sql(dados(), "INSERT INTO Dados VALUES ('TOOLONGKEY', 'abc', 70000), ('00001', 2.5, '12'),"
                 "('00001', x'00ff', -40000), ('00001', 3, 1e300);");
    sql(func(), "INSERT INTO Func VALUES ('00001', 'Nome', '1', 'M', 'xyz', 'abc'),"
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
    sql(func(), "INSERT INTO Func (rowid, Matricula) VALUES (-5, '00009');");
    auto other = openFunc();
    for (Cursor* c : {employees.get(), other.get()}) {
        c->setRange(QStringLiteral("00009"), QStringLiteral("00009"));
        QVERIFY(c->next(row));
    }
    employees->lockCurrent(row);
    QCOMPARE(errorCode([&] { other->lockCurrent(row); }), codes::RecordLocked);
}

// Child modes run by the tests above in a separate process.
static int childMain(const QStringList& args) {
    if (args.value(1) == QLatin1String("--sql")) {
        sqlite3* db = nullptr;
        const QByteArray path = QFile::encodeName(args.value(2));
        const QByteArray sql = args.value(3).toUtf8();
        const bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        std::puts(ok ? "done" : sqlite3_errmsg(db));
        sqlite3_close(db);
        return 0;
    }
    try {
        if (args.value(1) == QLatin1String("--hold-lock"))
            return test::holdEmployeeRowLock(QDir(args[2]).filePath("Func.DB"), args.value(3));
        if (args.value(1) == QLatin1String("--write-forever")) {
            const QString path = QDir(args[2]).filePath("Dados.DB");
            std::puts("writing");
            std::fflush(stdout);
            int n = 0;
            if (args.value(3) == QLatin1String("bulk")) {
                appendRows(path, [&](Row& row) {
                    ++n;
                    row = {"00001", n % 30000, n % 30000 % 100};
                    return true;
                });
            }
            auto cursor = open(path, "Matricula", OpenMode::ReadWrite);
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
    if (args.size() > 1 && args[1].startsWith(QLatin1String("--")) &&
        (args[1] == QLatin1String("--hold-lock") || args[1] == QLatin1String("--write-forever") ||
         args[1] == QLatin1String("--sql")))
        return childMain(args);
    TestTableEngine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TableEngine.moc"
