// Times the cursor's moves (first, last, next, prior, bookmark seek, range on one key) on
// tables of 100 rows and of 1,000,000 rows, and prints the cost per move on each and their
// ratio (large / small), which should stay near 1: every move is a few index seeks. "edit"
// is one locked write of a row (lock, write, release) followed by a move to the next row.
//
// Usage: bench_Cursor [LARGE_ROWS]   (default 1000000)

#include "data/PayrollSchema.h"
#include "engine/TableEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

using namespace lv26::engine;

namespace {

// A folder with Func.DB of `rows` employees (unique keys, base 36 past 99999) and Dados.DB
// of 4 weeks for each of rows/4 employees.
QString makeTables(const QTemporaryDir& root, const QString& name, qint64 rows) {
    const QString dir = root.filePath(name);
    QDir().mkpath(dir);
    lv26::createPayrollTables(dir);
    qint64 n = 0;
    auto key = [](qint64 i) { return QString::number(i, 36).toUpper().rightJustified(5, '0'); };
    appendRows(QDir(dir).filePath("Func.DB"), [&](Row& row) {
        row = {key(n),
               QStringLiteral("Nome %1").arg(n),
               QStringLiteral("52998224725"),
               QStringLiteral("M"),
               10.5,
               160};
        return n++ < rows;
    });
    n = 0;
    appendRows(QDir(dir).filePath("Dados.DB"), [&](Row& row) {
        row = {key(n / 4), int(n % 4 + 1), 40};
        return n++ < rows;
    });
    return dir;
}

struct Figures {
    double first, last, next, prior, seek, range, edit;
};

template <typename F> double nanosPerCall(int calls, F&& f) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        f(i);
    return double(timer.nsecsElapsed()) / calls;
}

Figures measure(const QString& table, int calls) {
    auto cursor = open(table, QStringLiteral("Matricula"), OpenMode::ReadWrite);
    Row row;
    // Bookmarks spread over the whole table, taken from both ends and the middle.
    QList<Bookmark> marks;
    std::mt19937 random(7);
    cursor->moveToBof();
    for (int i = 0; i < 50 && cursor->next(row); ++i)
        marks << cursor->bookmark();
    cursor->moveToEof();
    for (int i = 0; i < 50 && cursor->prior(row); ++i)
        marks << cursor->bookmark();
    Figures f{};
    f.first = nanosPerCall(calls, [&](int) {
        cursor->moveToBof();
        cursor->next(row);
    });
    f.last = nanosPerCall(calls, [&](int) {
        cursor->moveToEof();
        cursor->prior(row);
    });
    cursor->moveToBof();
    f.next = nanosPerCall(calls, [&](int) {
        if (!cursor->next(row)) {
            cursor->moveToBof();
            cursor->next(row);
        }
    });
    cursor->moveToEof();
    f.prior = nanosPerCall(calls, [&](int) {
        if (!cursor->prior(row)) {
            cursor->moveToEof();
            cursor->prior(row);
        }
    });
    f.seek = nanosPerCall(calls, [&](int i) { cursor->gotoBookmark(marks[i % marks.size()]); });
    f.range = nanosPerCall(calls, [&](int i) {
        const QVariant key = marks[i % marks.size()].key().value(0);
        cursor->setRange(key, key);
        cursor->next(row);
    });
    cursor->clearRange();
    // One row written as the monthly totals are: lock, write, release, next.
    cursor->moveToBof();
    f.edit = nanosPerCall(calls / 4, [&](int i) {
        if (!cursor->next(row)) {
            cursor->moveToBof();
            cursor->next(row);
        }
        cursor->lockCurrent(row);
        row.last() = QVariant(i % 100 + 1);
        cursor->updateCurrent(row);
    });
    return f;
}

void report(const char* table, const Figures& small, const Figures& large, qint64 rows) {
    std::printf("\n%s: nanoseconds per move, 100 rows vs %lld rows\n", table,
                static_cast<long long>(rows));
    std::printf("%-8s %12s %12s %8s\n", "move", "100 rows", "large", "ratio");
    auto line = [](const char* name, double a, double b) {
        std::printf("%-8s %12.0f %12.0f %8.2f\n", name, a, b, b / a);
    };
    line("first", small.first, large.first);
    line("last", small.last, large.last);
    line("next", small.next, large.next);
    line("prior", small.prior, large.prior);
    line("seek", small.seek, large.seek);
    line("range", small.range, large.range);
    line("edit", small.edit, large.edit);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir root;
    QElapsedTimer timer;
    timer.start();
    const QString small = makeTables(root, "small", 100);
    const QString large = makeTables(root, "large", rows);
    std::printf("tables built in %.1f s\n", timer.elapsed() / 1000.0);
    const int calls = 20000;
    for (const char* table : {"Func.DB", "Dados.DB"}) {
        measure(QDir(small).filePath(table), calls / 10); // warm up
        const Figures a = measure(QDir(small).filePath(table), calls);
        measure(QDir(large).filePath(table), calls / 10);
        const Figures b = measure(QDir(large).filePath(table), calls);
        report(table, a, b, rows);
    }
    return 0;
}
