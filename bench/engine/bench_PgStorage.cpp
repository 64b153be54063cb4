// The PostgreSQL storage's figures, each with its baseline on the same server in the same run:
//   totals  the monthly totals of 100,000 employees x 5 weeks as the storage makes them (a
//           per-key sum, then runs of 512 rows written, each row locked as an edit locks it)
//           against one SQL UPDATE ... FROM (SELECT matricula, sum(...) ... GROUP BY ...);
//           the ratio should stay at most 3
//   open    connecting, opening Func.DB and standing on the first of 1,000,000 employees
//           (should stay under 50 ms), against a bare connection reading the same row
//   moves   first, last, next, prior, bookmark and one-key range moves on 10,000 and on
//           1,000,000 employees, and their ratio (large / small), which should stay under 2
//   read    every row of 100,000 employees and of their 500,000 weeks read forwards through
//           a cursor, against one plain SELECT ... ORDER BY of the same rows through libpq;
//           with what one move's statement costs: a trivial round trip, the keyset statement
//           sent as text, the same statement prepared, and turning a row into values
//
// Usage: bench_PgStorage [CONNINFO] [LARGE]
// Without CONNINFO (or with "-") a private server is started with tests/pg-test-server.sh in
// a temporary folder. The databases lv26_bench_small and lv26_bench_large are made on it
// (dropped first when they exist).

#include "data/PayrollSchema.h"
#include "engine/Storage.h"
#include "engine/pg/PgStorage.h"
#include "engine/pg/PgTable.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <libpq-fe.h>
#include <random>

using namespace lv26;
using namespace lv26::engine;

namespace {

QString key(qint64 i) {
    return QString::number(i, 36).toUpper().rightJustified(5, QLatin1Char('0'));
}

// Runs `sql` on a bare connection; exits on failure.
void runSql(const QString& conninfo, const QString& sql) {
    PGconn* conn = PQconnectdb(conninfo.toUtf8().constData());
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    PGresult* r = PQexec(conn, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s: %s", qPrintable(sql), PQerrorMessage(conn));
        std::exit(1);
    }
    PQclear(r);
    PQfinish(conn);
}

// `conninfo` with its database replaced.
QString onDatabase(const QString& conninfo, const QString& database) {
    return conninfo + QStringLiteral(" dbname=") + database;
}

// A fresh database `name` holding the program's tables: `employees` employees with `weeks`
// weeks each.
QString makeDatabase(const QString& conninfo, const QString& name, qint64 employees, int weeks) {
    runSql(conninfo, QStringLiteral("DROP DATABASE IF EXISTS ") + name);
    runSql(conninfo, QStringLiteral("CREATE DATABASE ") + name);
    const QString database = onDatabase(conninfo, name);
    pg::PgStorage storage(database);
    createPayrollTables(storage);
    qint64 n = 0;
    storage.appendRows(QStringLiteral("Func.DB"), [&](Row& row) {
        row = {key(n),
               QStringLiteral("Nome %1").arg(n),
               QStringLiteral("52998224725"),
               QStringLiteral("M"),
               10.5,
               QVariant()};
        return n++ < employees;
    });
    n = 0;
    storage.appendRows(QStringLiteral("Dados.DB"), [&](Row& row) {
        row = {key(n / weeks), int(n % weeks + 1), int(20 + n % 29)};
        return n++ < employees * weeks;
    });
    runSql(database, QStringLiteral("VACUUM ANALYZE"));
    return database;
}

template <typename F> double millis(F&& f) {
    QElapsedTimer timer;
    timer.start();
    f();
    return double(timer.nsecsElapsed()) / 1e6;
}

template <typename F> double bestOf(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, f());
    return best;
}

// ---- totals -------------------------------------------------------------------------------

// Returns the database it made, for the full read.
QString totals(const QString& conninfo) {
    const QString database = makeDatabase(conninfo, QStringLiteral("lv26_bench_totals"), 100000, 5);
    const auto clear = [&] {
        runSql(database, QStringLiteral("UPDATE func SET horasnomes = NULL"));
        runSql(database, QStringLiteral("VACUUM func"));
    };
    const double storage = bestOf(3, [&] {
        clear();
        return millis([&] {
            pg::PgStorage s(database);
            const storage::KeyTotals sums =
                s.sumByKey(QStringLiteral("Dados.DB"), QStringLiteral("matricula"),
                           QStringLiteral("horasnasemana"));
            s.writeRuns(QStringLiteral("Func.DB"), QStringLiteral("matricula"), {}, 512,
                        [&](Row& row) {
                            const storage::KeyTotal total = sums.at(row.at(0));
                            if (total.blank)
                                return storage::RowVisit::Keep;
                            row[5] = int(total.sum);
                            return storage::RowVisit::Write;
                        });
        });
    });
    const double sql = bestOf(3, [&] {
        clear();
        return millis([&] {
            runSql(database,
                   QStringLiteral("UPDATE func f SET horasnomes = s.total FROM (SELECT matricula, "
                                  "sum(horasnasemana) AS total FROM dados GROUP BY matricula) s "
                                  "WHERE f.matricula = s.matricula"));
        });
    });
    std::printf("totals  100000 employees x 5 weeks: storage %.0f ms, one SQL UPDATE %.0f ms, "
                "ratio %.2f (at most 3)\n",
                storage, sql, storage / sql);
    return database;
}

// ---- open ---------------------------------------------------------------------------------

void opening(const QString& large) {
    Row row;
    const double storage = bestOf(5, [&] {
        return millis([&] {
            pg::PgStorage s(large);
            auto cursor = s.open(QStringLiteral("Func.DB"), QStringLiteral("matricula"),
                                 OpenMode::ReadWriteElseReadOnly);
            cursor->next(row);
        });
    });
    const double bare = bestOf(5, [&] {
        return millis([&] {
            runSql(large, QStringLiteral(
                              "SELECT * FROM func ORDER BY matricula NULLS FIRST, rowid LIMIT 1"));
        });
    });
    std::printf("open    large table, standing on the first: storage %.1f ms (under 50), "
                "bare connection and query %.1f ms\n",
                storage, bare);
}

// ---- moves --------------------------------------------------------------------------------

struct Moves {
    double first, last, next, prior, bookmark, range;
};

template <typename F> double microsPerCall(int calls, F&& f) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        f(i);
    return double(timer.nsecsElapsed()) / 1e3 / calls;
}

Moves moves(const QString& database, qint64 employees, int calls) {
    pg::PgStorage s(database);
    auto cursor =
        s.open(QStringLiteral("Func.DB"), QStringLiteral("matricula"), OpenMode::ReadWrite);
    Row row;
    std::mt19937 random(7);
    QList<storage::Bookmark> marks;
    for (int i = 0; i < 100; ++i) {
        const QString k = key(qint64(random() % quint64(employees)));
        cursor->setRange(k, k);
        cursor->next(row);
        marks << cursor->bookmark();
    }
    cursor->clearRange();
    Moves m{};
    m.first = microsPerCall(calls, [&](int) {
        cursor->moveToBof();
        cursor->next(row);
    });
    m.last = microsPerCall(calls, [&](int) {
        cursor->moveToEof();
        cursor->prior(row);
    });
    cursor->gotoBookmark(marks.first());
    m.next = microsPerCall(calls, [&](int) { cursor->next(row); });
    m.prior = microsPerCall(calls, [&](int) { cursor->prior(row); });
    m.bookmark = microsPerCall(calls, [&](int i) { cursor->gotoBookmark(marks.at(i % 100)); });
    m.range = microsPerCall(calls, [&](int i) {
        const QString k = key(qint64(i) * 7919 % employees);
        cursor->setRange(k, k);
        cursor->next(row);
    });
    return m;
}

void cursorMoves(const QString& small, const QString& large, qint64 largeEmployees) {
    const int calls = 2000;
    moves(small, 10000, 200); // warm both
    moves(large, largeEmployees, 200);
    const Moves a = moves(small, 10000, calls);
    const Moves b = moves(large, largeEmployees, calls);
    auto line = [](const char* name, double x, double y) {
        std::printf("moves   %-8s 10000: %7.1f us   large: %7.1f us   ratio %.2f (under 2)\n", name,
                    x, y, y / x);
    };
    line("first", a.first, b.first);
    line("last", a.last, b.last);
    line("next", a.next, b.next);
    line("prior", a.prior, b.prior);
    line("bookmark", a.bookmark, b.bookmark);
    line("range", a.range, b.range);
}

// ---- full read ----------------------------------------------------------------------------

// Rows read forwards through a cursor over `tableName` in the order of its index `index`.
qint64 readThroughCursor(pg::PgStorage& s, const QString& tableName, const QString& index) {
    auto cursor = s.open(tableName, index, OpenMode::ReadOnly);
    Row row;
    qint64 rows = 0;
    while (cursor->next(row))
        ++rows;
    return rows;
}

// Rows of one plain SELECT, every value touched as a cursor touches it.
qint64 readThroughSelect(const QString& database, const char* sql) {
    PGconn* conn = PQconnectdb(database.toUtf8().constData());
    PGresult* r = PQexec(conn, sql);
    const int rows = PQntuples(r);
    const int columns = PQnfields(r);
    qint64 bytes = 0;
    for (int i = 0; i < rows; ++i) {
        for (int c = 0; c < columns; ++c)
            bytes += QByteArray(PQgetvalue(r, i, c), PQgetlength(r, i, c)).size();
    }
    PQclear(r);
    PQfinish(conn);
    return bytes > 0 ? rows : 0;
}

// Where one move's time goes on the server: microseconds per call of each part.
void moveBreakdown(const QString& database) {
    pg::Connection c(database);
    pg::PgTable table = pg::describeTable(c, QStringLiteral("Func.DB"));
    pg::KeysetQuery query(table, QStringLiteral("matricula"));
    const pg::Result first = c.exec(query.seek({}, true, 1).first);
    const Row row{first.text(0, 1)};
    const auto [sql, params] = query.seek(query.bookmarkOf(row, first.integer(0, 0)), true, 1);
    const int calls = 2000;
    const double trip = microsPerCall(calls, [&](int) { c.exec(QStringLiteral("SELECT 1")); });
    const double asText = microsPerCall(calls, [&](int) { c.exec(sql, params); });
    PGconn* bare = PQconnectdb(database.toUtf8().constData());
    PQclear(PQprepare(bare, "seek", sql.toUtf8().constData(), int(params.size()), nullptr));
    std::vector<const char*> values;
    for (const auto& p : params)
        values.push_back(p ? p->constData() : nullptr);
    int failed = 0;
    const double prepared = microsPerCall(calls, [&](int) {
        PGresult* r =
            PQexecPrepared(bare, "seek", int(values.size()), values.data(), nullptr, nullptr, 0);
        failed += PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) != 1;
        PQclear(r);
    });
    if (failed) {
        std::fprintf(stderr, "the prepared keyset statement failed: %s", PQerrorMessage(bare));
        std::exit(1);
    }
    PQfinish(bare);
    const pg::Result many = c.exec(query.seek({}, true, 1000).first);
    const auto& columns = table.description.columns;
    const double convert = microsPerCall(calls, [&](int i) {
        Row values;
        for (int k = 0; k < columns.size(); ++k)
            values << pg::valueFrom(columns.at(k), many, i % 1000, k + 1);
    });
    std::printf("read    one move: round trip of SELECT 1 %.1f us, keyset statement as text "
                "%.1f us, prepared %.1f us, a row's values %.2f us\n",
                trip, asText, prepared, convert);
}

void fullRead(const QString& database) {
    pg::PgStorage s(database);
    qint64 rows = 0;
    const double cursor = millis([&] {
        rows = readThroughCursor(s, QStringLiteral("Func.DB"), QStringLiteral("matricula")) +
               readThroughCursor(s, QStringLiteral("Dados.DB"), QStringLiteral("matricula"));
    });
    qint64 selected = 0;
    const double select = millis([&] {
        selected =
            readThroughSelect(database,
                              "SELECT * FROM func ORDER BY matricula NULLS FIRST, rowid") +
            readThroughSelect(database, "SELECT * FROM dados ORDER BY matricula NULLS FIRST, "
                                        "semana NULLS FIRST, rowid");
    });
    std::printf("read    %lld rows forwards through cursors: %.0f ms (%.0f rows/s); one plain "
                "SELECT each (%lld rows): %.0f ms (%.0f rows/s); ratio %.2f\n",
                rows, cursor, rows / cursor * 1000, selected, select, selected / select * 1000,
                cursor / select);
    moveBreakdown(database);
}

// The private server: its folder and process live as long as the benchmark.
struct PrivateServer {
    QTemporaryDir dir{QStringLiteral("/tmp/lv26-pgb-XXXXXX")};
    QProcess process;
    QString start() {
        process.start(QStringLiteral("bash"),
                      {QStringLiteral(LV26_SOURCE_DIR "/tests/pg-test-server.sh"), dir.path()});
        QDeadlineTimer deadline(60000);
        while (!process.canReadLine() && process.state() != QProcess::NotRunning &&
               !deadline.hasExpired())
            process.waitForReadyRead(200);
        if (!process.canReadLine()) {
            std::fprintf(stderr, "%s\n", process.readAllStandardError().constData());
            std::exit(1);
        }
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    ~PrivateServer() {
        process.terminate();
        process.waitForFinished(30000);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    PrivateServer server;
    QString conninfo = args.value(1, QStringLiteral("-"));
    if (conninfo == QLatin1String("-"))
        conninfo = server.start();
    const qint64 large = args.value(2, QStringLiteral("1000000")).toLongLong();
    try {
        fullRead(totals(conninfo));
        const QString small = makeDatabase(conninfo, QStringLiteral("lv26_bench_small"), 10000, 1);
        const QString big = makeDatabase(conninfo, QStringLiteral("lv26_bench_large"), large, 1);
        opening(big);
        cursorMoves(small, big, large);
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
