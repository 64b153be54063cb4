// Table-layer costs against their baselines, measured in the same run:
//  - TotalHoras per employee over 10,000 and 100,000 employees (4 weeks each): the ratio
//    shows whether the per-employee cost grows with the table;
//  - TotalHoras over 100,000 employees with 5 weeks each against one SQL UPDATE with an
//    aggregate subquery over the same files;
//  - opening both tables and standing on the first of the large table's employees, against
//    opening the file with SQLite and reading its first row by the index;
//  - First, Last, 1,000 Next and 1,000 Prior on 10,000 and on the large table;
//  - First, Last and MoveBy(+-20) through a 20-row window over 100 and 1,000,000 employees.
//  - TotalHoras where every employee stops the engine pass (one week stored with a fraction,
//    done row by row) at 4,000 and at 40,000 employees: linear work gives a ratio near 10;
//    the same tables with clean weeks are the baseline.
// Usage: bench_Data [large-employees]   (default 1000000)
//        bench_Data totalhoras [employees]  (only TotalHoras against the UPDATE; default 100000)
//        bench_Data stops [small large]     (only the stopping passes; default 4000 40000)

#include "data/DataSource.h"
#include "data/PayrollSchema.h"
#include "data/Unit3.h"
#include "engine/TableEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <sqlite3.h>

using namespace lv26;

namespace {

// A grid-sized window: the dataset keeps 20 rows buffered.
class WindowLink : public TDataLink {};

QString matricula(int n) {
    return QString::number(n).rightJustified(5, QLatin1Char('0'));
}

// Fresh tables with `employees` employees (keys in order) and `weeks` weeks each, in a new
// temporary folder that becomes the working directory.
std::unique_ptr<QTemporaryDir> makeTables(int employees, int weeks) {
    auto dir = std::make_unique<QTemporaryDir>();
    createPayrollTables(dir->path());
    QDir::setCurrent(dir->path());
    int next = 0;
    // Matricula has five characters: beyond 99,999 employees the keys are "A" and four base-36
    // digits, which sort after the decimal ones and never collide with them.
    auto key = [](int n) {
        return n < 100000
                   ? matricula(n)
                   : QLatin1Char('A') + QString::number(n - 100000, 36).rightJustified(4, '0');
    };
    engine::appendRows("Func.DB", [&](engine::Row& row) {
        if (next == employees)
            return false;
        row = {key(next++), QStringLiteral("Nome"), QVariant(), QStringLiteral("F"), 10.0,
               QVariant()};
        return true;
    });
    next = 0;
    engine::appendRows("Dados.DB", [&](engine::Row& row) {
        if (next == employees * weeks)
            return false;
        row = {key(next / weeks), next % weeks + 1, 40};
        ++next;
        return true;
    });
    return dir;
}

double microsecondsPer(int times, const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < times; ++i)
        work();
    return double(timer.nsecsElapsed()) / 1000.0 / times;
}

double totalHorasPerEmployee(int employees) {
    auto dir = makeTables(employees, 4);
    TDados dados;
    QElapsedTimer timer;
    timer.start();
    dados.TotalHoras();
    return double(timer.nsecsElapsed()) / 1000.0 / employees;
}

// Wall-clock and CPU milliseconds of one piece of work: the CPU figure is steadier on a
// machine that other work shares.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

double cpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

Cost costOf(const std::function<void()>& work) {
    QElapsedTimer timer;
    const double cpu = cpuMilliseconds();
    timer.start();
    work();
    return {double(timer.nsecsElapsed()) / 1e6, cpuMilliseconds() - cpu};
}

// One statement run on Func.DB with Dados.DB attached.
Cost sqlCost(const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open("Func.DB", &db);
    sqlite3_exec(db, "ATTACH 'Dados.DB' AS d", nullptr, nullptr, nullptr);
    const Cost cost = costOf([&] { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); });
    sqlite3_close(db);
    return cost;
}

double sqlMilliseconds(const char* sql) {
    return sqlCost(sql).wall;
}

// Each side runs three times on the same files, HorasNoMes made blank before every run so
// that every employee is written; the fastest run of each is compared.
void totalHorasAgainstSql(int employees) {
    auto dir = makeTables(employees, 5);
    const char* clear = "UPDATE Func SET HorasNoMes = NULL";
    Cost totalHoras{1e300, 1e300}, update{1e300, 1e300};
    auto keepBest = [](Cost& best, const Cost& run) {
        best.wall = std::min(best.wall, run.wall);
        best.cpu = std::min(best.cpu, run.cpu);
    };
    for (int round = 0; round < 3; ++round) {
        sqlCost(clear);
        {
            TDados dados;
            keepBest(totalHoras, costOf([&] { dados.TotalHoras(); }));
        }
        sqlCost(clear);
        keepBest(update, sqlCost("UPDATE Func SET HorasNoMes = (SELECT SUM(HorasNaSemana) "
                                 "FROM d.Dados WHERE d.Dados.Matricula = Func.Matricula)"));
    }
    std::printf("TotalHoras, %d employees x 5 weeks: %.0f ms (CPU %.0f ms); one SQL UPDATE: "
                "%.0f ms (CPU %.0f ms); ratio %.2f (CPU %.2f); best of 3 each\n",
                employees, totalHoras.wall, totalHoras.cpu, update.wall, update.cpu,
                totalHoras.wall / update.wall, totalHoras.cpu / update.cpu);
}

// TotalHoras over `employees` employees with 4 weeks each; with `fractions`, each one's first
// week is stored as a fraction, which stops the engine pass at every employee.
Cost totalHorasWithStops(int employees, bool fractions) {
    auto dir = makeTables(employees, 4);
    if (fractions)
        sqlCost("UPDATE d.Dados SET HorasNaSemana = 40.5 WHERE Semana = 1");
    TDados dados;
    const qint64 scans = engine::detailTableScans();
    const Cost cost = costOf([&] { dados.TotalHoras(); });
    if (fractions && engine::detailTableScans() - scans != 1)
        std::printf("(the weeks were summed %lld times)\n",
                    static_cast<long long>(engine::detailTableScans() - scans));
    return cost;
}

void stopsAgainstSize(int small, int large) {
    const Cost cleanSmall = totalHorasWithStops(small, false);
    const Cost cleanLarge = totalHorasWithStops(large, false);
    const Cost stopsSmall = totalHorasWithStops(small, true);
    const Cost stopsLarge = totalHorasWithStops(large, true);
    std::printf("TotalHoras, every employee stopping the pass: %d employees %.0f ms (CPU %.0f), "
                "%d employees %.0f ms (CPU %.0f); ratio %.2f (CPU %.2f)\n",
                small, stopsSmall.wall, stopsSmall.cpu, large, stopsLarge.wall, stopsLarge.cpu,
                stopsLarge.wall / stopsSmall.wall, stopsLarge.cpu / stopsSmall.cpu);
    std::printf("TotalHoras, clean weeks (baseline): %d employees %.0f ms, %d employees %.0f ms; "
                "ratio %.2f; stops cost %.1fx the clean pass at %d\n",
                small, cleanSmall.wall, large, cleanLarge.wall, cleanLarge.wall / cleanSmall.wall,
                stopsLarge.wall / cleanLarge.wall, large);
}

void openingAgainstSql(int employees) {
    auto dir = makeTables(employees, 5);
    QElapsedTimer timer;
    timer.start();
    {
        TDados dados;
        const double open = double(timer.nsecsElapsed()) / 1e6;
        const QString first = dados.Table1Matricula->AsString();
        const double select = sqlMilliseconds("SELECT * FROM Func ORDER BY Matricula LIMIT 1");
        std::printf("Open both tables on %d employees, first is %s: %.2f ms; one SQL SELECT "
                    "of the first row: %.2f ms (ratio %.2f)\n",
                    employees, qPrintable(first), open, select, open / select);
    }
}

struct SequenceCosts {
    double first, last, next, prior;
};

SequenceCosts sequenceCosts(int employees) {
    auto dir = makeTables(employees, 0);
    TTable table;
    table.setObjectName("Table1");
    table.setTableName("Func.DB");
    table.setIndexFieldNames("Matricula");
    table.Open();
    SequenceCosts costs{};
    costs.first = microsecondsPer(100, [&] { table.First(); });
    costs.last = microsecondsPer(100, [&] { table.Last(); });
    table.First();
    costs.next = microsecondsPer(1000, [&] { table.Next(); });
    costs.prior = microsecondsPer(1000, [&] { table.Prior(); });
    return costs;
}

void sequenceAgainstSize(int large) {
    const SequenceCosts small = sequenceCosts(10000);
    const SequenceCosts big = sequenceCosts(large);
    std::printf("per move                %11s %14s %8s\n", "10,000 rows", "large rows", "ratio");
    std::printf("First                  %9.1f us %11.1f us %8.2f\n", small.first, big.first,
                big.first / small.first);
    std::printf("Last                   %9.1f us %11.1f us %8.2f\n", small.last, big.last,
                big.last / small.last);
    std::printf("1,000 x Next           %9.1f us %11.1f us %8.2f\n", small.next, big.next,
                big.next / small.next);
    std::printf("1,000 x Prior          %9.1f us %11.1f us %8.2f\n", small.prior, big.prior,
                big.prior / small.prior);
}

struct MoveCosts {
    double first, last, moveBy;
};

MoveCosts moveCosts(int employees) {
    auto dir = makeTables(employees, 0);
    TTable table;
    table.setObjectName("Table1");
    table.setTableName("Func.DB");
    table.setIndexFieldNames("Matricula");
    TDataSource source;
    source.setDataSet(&table);
    WindowLink window;
    window.setBufferCount(20);
    window.setDataSource(&source);
    table.Open();
    MoveCosts costs{};
    costs.first = microsecondsPer(200, [&] { table.First(); });
    costs.last = microsecondsPer(200, [&] { table.Last(); });
    table.First();
    table.MoveBy(employees / 2);
    bool forward = true;
    costs.moveBy = microsecondsPer(400, [&] {
        table.MoveBy(forward ? 20 : -20);
        forward = !forward;
    });
    return costs;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString home = QDir::currentPath();
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("totalhoras")) {
        totalHorasAgainstSql(argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 100000);
        QDir::setCurrent(home);
        return 0;
    }
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("stops")) {
        stopsAgainstSize(argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 4000,
                         argc > 3 ? QString::fromLatin1(argv[3]).toInt() : 40000);
        QDir::setCurrent(home);
        return 0;
    }
    const int large = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;

    totalHorasAgainstSql(100000);
    stopsAgainstSize(4000, 40000);
    openingAgainstSql(large);
    sequenceAgainstSize(large);

    const double small = totalHorasPerEmployee(10000);
    const double big = totalHorasPerEmployee(100000);
    std::printf("TotalHoras per employee: %.1f us at 10,000, %.1f us at 100,000 (ratio %.2f)\n",
                small, big, big / small);

    const MoveCosts base = moveCosts(100);
    const MoveCosts huge = moveCosts(large);
    std::printf("window of 20 rows      %12s %14s %8s\n", "100 rows", "large rows", "ratio");
    std::printf("First                  %9.1f us %11.1f us %8.2f\n", base.first, huge.first,
                huge.first / base.first);
    std::printf("Last                   %9.1f us %11.1f us %8.2f\n", base.last, huge.last,
                huge.last / base.last);
    std::printf("MoveBy(+-20)           %9.1f us %11.1f us %8.2f\n", base.moveBy, huge.moveBy,
                huge.moveBy / base.moveBy);
    std::printf("(large = %d employees)\n", large);
    QDir::setCurrent(home);
    return 0;
}
