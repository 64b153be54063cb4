// bench_maintenance: how the maintenance window scales with the employee table.
//
//   bench_maintenance [BIGDIR [MIDDIR [BASEDIR]]]
//
// Each DIR holds Func.DB and Dados.DB (lv26-tables create DIR; lv26-tables fill DIR N). By
// default BASEDIR has 100 employees, MIDDIR 10,000 and BIGDIR 1,000,000. For BIGDIR and the
// baseline it times: showing Form2 and painting its first screen; Ctrl+End in the employee
// grid; then each of ten PgUp. It also reports the rows the dataset read and the heap the
// window's grids hold (rows buffered x row size, measured as the growth of the process's
// resident set across the steps) for MIDDIR and BIGDIR. Run with QT_QPA_PLATFORM=offscreen.

#include "data/Unit3.h"
#include "maintenance/DataGrid.h"
#include "maintenance/Unit2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <cstdio>

using namespace lv26;

namespace {

struct Figures {
    double showMs = 0;
    double ctrlEndMs = 0;
    double worstPgUpMs = 0;
    double meanPgUpMs = 0;
    qint64 rowsRead = 0;
    int buffered = 0;
    long rssGrowthKb = 0;
};

long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

double msSince(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

Figures measure(const QString& dir) {
    Figures f;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir);
    const long rssBefore = residentKb();
    Dados = new TDados;
    QElapsedTimer timer;
    timer.start();
    Form2 = new TForm2;
    Form2->show();
    Form2->repaint();
    Form2->DBGrid1->viewport()->repaint();
    Form2->DBGrid2->viewport()->repaint();
    QCoreApplication::processEvents();
    f.showMs = msSince(timer);

    TDataGrid* grid = Form2->DBGrid1;
    grid->setFocus();
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods) {
        QTest::keyClick(grid, key, mods);
        grid->viewport()->repaint();
    };
    timer.restart();
    press(Qt::Key_End, Qt::ControlModifier);
    f.ctrlEndMs = msSince(timer);
    double total = 0;
    for (int i = 0; i < 10; ++i) {
        timer.restart();
        press(Qt::Key_PageUp, Qt::NoModifier);
        const double ms = msSince(timer);
        total += ms;
        f.worstPgUpMs = std::max(f.worstPgUpMs, ms);
    }
    f.meanPgUpMs = total / 10;
    f.rowsRead = Dados->Table1->RowsRead();
    f.buffered = Dados->Table1->BufferCount();
    f.rssGrowthKb = residentKb() - rssBefore;
    delete Form2;
    Form2 = nullptr;
    delete Dados;
    Dados = nullptr;
    QDir::setCurrent(old);
    return f;
}

void print(const char* name, const Figures& f, const Figures& base) {
    std::printf("%-10s show+paint %8.2f ms (x%.2f)  Ctrl+End %7.2f ms (x%.2f)  "
                "PgUp worst %6.2f ms mean %6.2f ms (x%.2f)  rows read %lld  buffered %d  "
                "RSS growth %ld kB\n",
                name, f.showMs, f.showMs / base.showMs, f.ctrlEndMs, f.ctrlEndMs / base.ctrlEndMs,
                f.worstPgUpMs, f.meanPgUpMs, f.meanPgUpMs / base.meanPgUpMs,
                static_cast<long long>(f.rowsRead), f.buffered, f.rssGrowthKb);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString big = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("big");
    const QString mid = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("mid");
    const QString base = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("base");
    try {
        measure(base); // warm-up: fonts, styles, the engine
        const Figures baseline = measure(base);
        const Figures middle = measure(mid);
        const Figures large = measure(big);
        print("baseline", baseline, baseline);
        print("10k", middle, baseline);
        print("1M", large, baseline);
        std::printf("goals: show+paint < 300 ms, Ctrl+End and each PgUp < 20 ms; "
                    "rows read and buffered independent of table size\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_maintenance: %s\n", error.what());
        return 1;
    }
    return 0;
}
