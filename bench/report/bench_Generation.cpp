// Generates the payroll report of 100,000 employees into the page store (3226 pages) and of
// 10,000 (323 pages). Baseline: a scan of the same employees through Table1 reading the
// four texts a row shows, measured in the same run. Memory: resident set size before and
// after each generation; the run keeps no page of its own, so it must stay flat.
//
// Usage: bench_Generation [employees]   (default 100000)

#include "data/Fonts.h"
#include "data/Unit3.h"
#include "engine/TableEngine.h"
#include "report/LISTUnit.h"
#include "report/PageStore.h"
#include "report/ReportPrinter.h"

#include "ResidentMemory.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace lv26;

using lv26::bench::residentKiB;

namespace {

void fillEmployees(const QString& dir, int count) {
    engine::createTables(dir);
    int next = 0;
    engine::appendRows(QDir(dir).filePath(QStringLiteral("Func.DB")), [&](engine::Row& row) {
        if (next == count)
            return false;
        ++next;
        row = {QStringLiteral("%1").arg(next, 5, 36, QLatin1Char('0')).toUpper(),
               QStringLiteral("Funcionario Numero %1 da Silva").arg(next),
               QStringLiteral("12345678909"),
               QStringLiteral("M"),
               10.0 + next % 50 * 0.25,
               next % 7 == 0 ? QVariant() : QVariant(100 + next % 80)};
        return true;
    });
}

// Seconds to read every row's name, hours, wage and the product, as the detail band does.
double scanSeconds(TDados& dados) {
    QElapsedTimer timer;
    timer.start();
    qsizetype chars = 0;
    TTable* t = dados.Table1;
    for (t->First(); !t->Eof(); t->Next()) {
        chars +=
            dados.Table1Nome->DisplayText().size() + dados.Table1HorasNoMes->DisplayText().size() +
            dados.Table1Sal_Hora->DisplayText().size() +
            QString::number(dados.Table1Sal_Hora->AsFloat() * dados.Table1HorasNoMes->AsInteger())
                .size();
    }
    const double s = timer.nsecsElapsed() / 1e9;
    std::fprintf(stderr, "(scanned %lld characters)\n", static_cast<long long>(chars));
    return s;
}

void measure(int employees) {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    fillEmployees(dir.path(), employees);
    QDir::setCurrent(dir.path());
    {
        TDados dados;
        TListForm form(dados.Table1);
        const double baseline = scanSeconds(dados);

        PrinterInfo letter;
        letter.available = true;
        letter.paperSizes = {TPaperSize::Letter};
        TReportPrinter printer(letter);
        const long before = residentKiB();
        QElapsedTimer timer;
        timer.start();
        form.Report1.Generate(printer);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const long after = residentKiB();
        const int pages = printer.pageList()->pageCount();
        const qint64 bytes = printer.pageList()->stream().size();
        std::printf("%7d employees: %5d pages in %7.2f s = %7.1f pages/s, %8.0f rows/s, "
                    "%5.1f KiB/page\n",
                    employees, pages, seconds, pages / seconds, employees / seconds,
                    bytes / 1024.0 / pages);
        std::printf("                 baseline scan %7.2f s, ratio %5.2f; resident %ld -> %ld KiB "
                    "(%+ld)\n",
                    baseline, baseline > 0 ? seconds / baseline : 0.0, before, after,
                    after - before);
    }
    QDir::setCurrent(old);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    installFontSubstitutions();
    const int employees = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    measure(employees / 10);
    measure(employees);
    return 0;
}
