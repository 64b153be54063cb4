// The PostgreSQL storage's figures, each with its baseline on the same server in the same run:
//   totals  the monthly totals of 100,000 employees x 5 weeks as the storage makes them (a
//           per-key sum, then runs of 512 rows written, each row locked as an edit locks it)
//           against one SQL UPDATE ... FROM (SELECT matricula, sum(...) ... GROUP BY ...);
//           the ratio should stay at most 3
//   open    connecting, opening Func.DB and standing on the first of 1,000,000 employees
//           (should stay under 50 ms), against a bare connection reading the same row
//   moves   first, last, next, prior, bookmark and one-key range moves on 10,000 and on
//           1,000,000 employees, and their ratio (large / small), which should stay under 2
//
// Usage: bench_PgStorage [CONNINFO] [LARGE]
// Without CONNINFO (or with "-") a private server is started with tests/pg-test-server.sh in
// a temporary folder. The databases lv26_bench_small and lv26_bench_large are made on it
// (dropped first when they exist).

#include "engine/Storage.h"
#include "engine/pg/PgStorage.h"

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
    storage.createTables();
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

void totals(const QString& conninfo) {
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
        totals(conninfo);
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
