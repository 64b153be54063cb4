// Generates the payroll report of 100,000 employees into the page store (3226 pages) and of
// 10,000 (323 pages). Baseline: a scan of the same employees through Table1 reading the
// four texts a row shows, measured in the same run; and that scan's own baseline, the same
// columns read in Matricula order straight through the SQLite C API and formatted the same
// way. Memory: resident set size before and after each generation; the run keeps no page of
// its own, so it must stay flat.
//
// Usage: bench_Generation [employees]   (default 100000)

#include "EmployeeTables.h"
#include "data/Field.h"
#include "data/Fonts.h"
#include "data/Unit3.h"
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
#include <ctime>
#include <sqlite3.h>

using namespace lv26;

using lv26::bench::residentKiB;

namespace {

// Seconds of processor time this thread has used: on a shared machine it moves far less from
// run to run than the elapsed time, so the ratios are also given from it.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Elapsed and processor seconds of one measured stretch.
struct Span {
    double elapsed = 0;
    double cpu = 0;
};

// Seconds to read every row's name, hours, wage and the product, as the detail band does.
Span scanSeconds(TDados& dados) {
    QElapsedTimer timer;
    const double cpu = cpuSeconds();
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
    const Span s{timer.nsecsElapsed() / 1e9, cpuSeconds() - cpu};
    std::fprintf(stderr, "(scanned %lld characters)\n", static_cast<long long>(chars));
    return s;
}

// Seconds to read the same four texts as scanSeconds() with bare SQLite calls: one
// statement over the file in Matricula order, values formatted as the fields format them.
Span bareSqliteSeconds(const QString& dir) {
    const QByteArray path = QFile::encodeName(QDir(dir).filePath(QStringLiteral("Func.DB")));
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.constData());
        sqlite3_close(db);
        return {};
    }
    QElapsedTimer timer;
    const double cpu = cpuSeconds();
    timer.start();
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT Nome, HorasNoMes, Sal_Hora FROM Func ORDER BY Matricula", -1,
                       &stmt, nullptr);
    qsizetype chars = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const QString name =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                              sqlite3_column_bytes(stmt, 0));
        const bool hoursBlank = sqlite3_column_type(stmt, 1) == SQLITE_NULL;
        const int hours = sqlite3_column_int(stmt, 1);
        const bool wageBlank = sqlite3_column_type(stmt, 2) == SQLITE_NULL;
        const double wage = sqlite3_column_double(stmt, 2);
        chars += name.size() + (hoursBlank ? QString() : QString::number(hours)).size() +
                 (wageBlank ? QString() : regional::currencyText(wage)).size() +
                 QString::number(wage * hours).size();
    }
    sqlite3_finalize(stmt);
    const Span s{timer.nsecsElapsed() / 1e9, cpuSeconds() - cpu};
    sqlite3_close(db);
    std::fprintf(stderr, "(bare scan: %lld characters)\n", static_cast<long long>(chars));
    return s;
}

double ratio(double measured, double baseline) {
    return baseline > 0 ? measured / baseline : 0.0;
}

void measure(int employees) {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    bench::fillEmployees(dir.path(), employees, QStringLiteral("Funcionario Numero %1 da Silva"));
    QDir::setCurrent(dir.path());
    {
        TDados dados;
        TListForm form(dados.Table1);
        const Span baseline = scanSeconds(dados);
        const Span bare = bareSqliteSeconds(dir.path());

        PrinterInfo letter;
        letter.available = true;
        letter.paperSizes = {TPaperSize::Letter};
        TReportPrinter printer(letter);
        const long before = residentKiB();
        QElapsedTimer timer;
        const double cpu = cpuSeconds();
        timer.start();
        form.Report1.Generate(printer);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const double generationCpu = cpuSeconds() - cpu;
        const long after = residentKiB();
        const int pages = printer.pageList()->pageCount();
        const qint64 bytes = printer.pageList()->stream().size();
        std::printf("%7d employees: %5d pages in %7.2f s = %7.1f pages/s, %8.0f rows/s, "
                    "%5.1f KiB/page\n",
                    employees, pages, seconds, pages / seconds, employees / seconds,
                    bytes / 1024.0 / pages);
        std::printf("                 baseline scan %7.2f s, ratio %5.2f; resident %ld -> %ld KiB "
                    "(%+ld)\n",
                    baseline.elapsed, ratio(seconds, baseline.elapsed), before, after,
                    after - before);
        std::printf("                 bare SQLite scan %7.3f s; Table1 scan ratio %5.2f\n",
                    bare.elapsed, ratio(baseline.elapsed, bare.elapsed));
        std::printf("                 processor time: generation %.3f s, Table1 scan %.3f s, "
                    "ratio %5.2f; bare SQLite %.3f s, Table1 scan ratio %5.2f\n",
                    generationCpu, baseline.cpu, ratio(generationCpu, baseline.cpu), bare.cpu,
                    ratio(baseline.cpu, bare.cpu));
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
