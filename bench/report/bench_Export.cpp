// lv26-report's three outputs for a large table, each against its baseline in the same run:
//   --pdf   against the ReportLab script of the same listing (reportlab_listing.py)
//   --csv   against sqlite3 -csv of the same columns
//   --text  against a bare scan of the same rows (sqlite3 reading them, output discarded)
// Wall time and the children's CPU time, and the ratios. Usage: bench_Export [EMPLOYEES]
// (default 100000).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

qint64 childrenCpuMs() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (qint64(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

struct Timing {
    bool ok = false;
    qint64 ms = 0;
    qint64 cpuMs = 0;
};

// Runs `program` to its end; its standard output goes to `outputFile` (discarded when empty).
Timing timeRun(const QString& program, const QStringList& args,
               const QString& outputFile = QString()) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(outputFile.isEmpty() ? QProcess::nullDevice() : outputFile);
    QElapsedTimer clock;
    const qint64 cpu = childrenCpuMs();
    clock.start();
    p.start(program, args);
    const bool ok =
        p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return {ok, clock.elapsed(), childrenCpuMs() - cpu};
}

void report(const char* what, const Timing& ours, const char* baseline, const Timing& theirs,
            const QString& oursFile, const QString& theirsFile) {
    std::printf("%s: ours %s%lld ms (%lld KiB), %s %s%lld ms (%lld KiB); ratio %.2fx\n", what,
                ours.ok ? "" : "(FAILED) ", ours.ms, QFileInfo(oursFile).size() / 1024, baseline,
                theirs.ok ? "" : "(FAILED) ", theirs.ms, QFileInfo(theirsFile).size() / 1024,
                ours.ms > 0 ? double(theirs.ms) / ours.ms : 0.0);
    std::printf("  CPU time: ours %lld ms, %s %lld ms; ratio %.2fx\n", ours.cpuMs, baseline,
                theirs.cpuMs, ours.cpuMs > 0 ? double(theirs.cpuMs) / ours.cpuMs : 0.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int employees = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString tables = QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables");
    if (!timeRun(tables, {QStringLiteral("create"), dir.path()}).ok ||
        !timeRun(tables, {QStringLiteral("fill"), dir.path(), QString::number(employees)}).ok) {
        std::fprintf(stderr, "lv26-tables failed\n");
        return 1;
    }
    const QString tool = QStringLiteral(LV26_BINARY_DIR "/src/cli/lv26-report");
    const QString func = dir.filePath(QStringLiteral("Func.DB"));
    const auto file = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
    std::printf("%d employees\n", employees);

    const Timing pdf = timeRun(
        tool, {QStringLiteral("--quiet"), QStringLiteral("--pdf"), file("ours.pdf"), dir.path()});
    const Timing reportLab =
        timeRun(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(LV26_SOURCE_DIR "/bench/report/reportlab_listing.py"), func,
                 file("reportlab.pdf")});
    report("--pdf", pdf, "ReportLab", reportLab, file("ours.pdf"), file("reportlab.pdf"));

    const Timing csv = timeRun(
        tool, {QStringLiteral("--quiet"), QStringLiteral("--csv"), file("ours.csv"), dir.path()});
    const Timing sqliteCsv =
        timeRun(QStringLiteral("sqlite3"),
                {QStringLiteral("-csv"), QStringLiteral("-header"), func,
                 QStringLiteral("SELECT Matricula, Nome, CPF, Sexo, Sal_Hora, HorasNoMes, "
                                "printf('%.2f', Sal_Hora * HorasNoMes) AS SalarioMensal "
                                "FROM Func ORDER BY Matricula")},
                file("sqlite.csv"));
    report("--csv", csv, "sqlite3 -csv", sqliteCsv, file("ours.csv"), file("sqlite.csv"));

    const Timing text = timeRun(
        tool, {QStringLiteral("--quiet"), QStringLiteral("--text"), file("ours.txt"), dir.path()});
    const Timing scan = timeRun(
        QStringLiteral("sqlite3"),
        {func, QStringLiteral("SELECT Nome, HorasNoMes, Sal_Hora FROM Func ORDER BY Matricula")});
    report("--text", text, "bare scan", scan, file("ours.txt"), QString());
    return pdf.ok && csv.ok && text.ok ? 0 : 1;
}
