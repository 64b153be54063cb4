// lv26-report: writes the payroll listing without a window, from the tables in a folder or
// from a saved report file: PDF, text, report file, CSV and one PNG per page. Runs on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise, so no display is needed.
// Exit status: 0 done, 1 an error (its message on standard error), 2 wrong usage.

#include "base/Messages.h"
#include "cli/ReportCommand.h"
#include "data/CsvExport.h"
#include "data/Fonts.h"
#include "data/Unit3.h"
#include "report/LISTUnit.h"
#include "report/PdfExport.h"
#include "report/ReportPrinter.h"
#include "report/TextExport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTemporaryFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::cli;

namespace {

// ----- interruption -----

// Set by SIGINT and SIGTERM; the handler also writes a byte to the pipe, which wakes the
// event loop the generation dispatches before each employee row.
std::atomic<bool> interrupted{false};
int wakeUpPipe[2] = {-1, -1};

extern "C" void onInterrupt(int) {
    interrupted.store(true);
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeUpPipe[1], &byte, 1);
    errno = saved;
}

void installInterruptHandlers() {
    if (::pipe2(wakeUpPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeUpPipe[0] = wakeUpPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool isInterrupted() {
    return interrupted.load();
}

// ----- messages and progress -----

void printLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

// A bar on standard error, rewritten in place: percent done, pages done, pages per second.
class ProgressBar : public QObject {
public:
    explicit ProgressBar(bool shown) : shown_(shown) { clock_.start(); }
    ~ProgressBar() override { finish(); }

    void restart() {
        finish();
        clock_.restart();
        percent_ = pages_ = 0;
    }
    void show(int percent, int pages) {
        percent = qBound(0, percent, 100);
        const bool changed = !drawn_ || percent != percent_ || pages != pages_;
        percent_ = percent;
        pages_ = pages;
        if (!shown_ || !changed)
            return;
        const int filled = percent_ * kWidth / 100;
        const double seconds = std::max(clock_.elapsed(), qint64(1)) / 1000.0;
        const QString line =
            QStringLiteral("\r[%1%2] %3% ")
                .arg(QString(filled, u'#'), QString(kWidth - filled, u' '))
                .arg(percent_, 3) +
            msg(Message::CliProgress, {pages_, QString::number(pages_ / seconds, 'f', 1)}) +
            QStringLiteral("   ");
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    void finish() {
        if (drawn_)
            std::fputc('\n', stderr);
        drawn_ = false;
    }

protected:
    // The notifications of a generation.
    bool event(QEvent* e) override {
        if (e->type() == ProgressEventType) {
            show(static_cast<ReportNotifyEvent*>(e)->value(), pages_);
            return true;
        }
        if (e->type() == PagesCompletedEventType) {
            show(percent_, static_cast<ReportNotifyEvent*>(e)->value());
            return true;
        }
        return QObject::event(e);
    }

private:
    static constexpr int kWidth = 30;
    bool shown_;
    bool drawn_ = false;
    int percent_ = 0;
    int pages_ = 0;
    QElapsedTimer clock_;
};

// ----- the run -----

class Interrupted {};

// An output written under a temporary name beside its target and renamed over it only once
// finished: an interrupted or failed run removes what it wrote and leaves an older file of the
// target's name as it was.
class StagedFile {
public:
    explicit StagedFile(const QString& target) : target_(target), temp_(target + u".XXXXXX") {
        if (!temp_.open())
            throw Error(msg(Message::CannotCreateFile, {target}));
        temp_.close();
    }
    const QString& target() const { return target_; }
    QString path() const { return temp_.fileName(); }
    // Gives the file the permissions a new file gets and puts it in the target's place.
    void commit() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        const QByteArray path = QFile::encodeName(temp_.fileName());
        if (::chmod(path.constData(), 0666 & ~mask) != 0 ||
            ::rename(path.constData(), QFile::encodeName(target_).constData()) != 0)
            throw Error(msg(Message::CannotCreateFile, {target_}));
        temp_.setAutoRemove(false);
    }

private:
    QString target_;
    QTemporaryFile temp_;
};

PrinterInfo paperPrinter(Paper paper) {
    PrinterInfo info;
    info.available = true;
    info.currentPaper = paper == Paper::A4 ? TPaperSize::A4 : TPaperSize::Letter;
    info.paperSizes = {info.currentPaper};
    info.currentPaperSize = paper == Paper::A4 ? QSizeF(2100, 2970) : QSizeF(2159, 2794);
    return info;
}

QString absolute(const QString& path) {
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

void checkInterrupted() {
    if (isInterrupted())
        throw Interrupted();
}

// Every page made: a generation stopped early keeps the page it was drawing out of the store.
void requireAllPages(const TReportPrinter& printer) {
    checkInterrupted();
    if (printer.Status() != TPrinterStatus::Finished ||
        printer.PagesCompleted() != printer.PageCount())
        throw Interrupted();
}

class Run {
public:
    Run(const ReportCommand& command, ProgressBar& bar) : c_(command), bar_(bar) {}

    void execute() {
        const QString fromQrp = absolute(c_.fromQrp);
        const bool needTables = fromQrp.isEmpty() || c_.totals || !c_.csv.isEmpty();
        std::unique_ptr<TDados> dados;
        std::unique_ptr<TListForm> listForm;
        if (needTables || !c_.text.isEmpty()) {
            if (!QDir::setCurrent(c_.folder))
                throw Error(msg(Message::CannotOpenFile, {absolute(c_.folder)}));
            dados = std::make_unique<TDados>();
            listForm = std::make_unique<TListForm>(dados->Table1);
        }
        if (c_.totals)
            dados->TotalHoras();
        checkInterrupted();
        if (!c_.csv.isEmpty())
            writeCsv();
        if (!c_.text.isEmpty())
            writeText(listForm->Report1);
        if (!c_.needsPages())
            return;
        TReportPrinter printer;
        if (fromQrp.isEmpty())
            generate(listForm->Report1, printer);
        else
            load(printer, fromQrp);
        if (!c_.qrp.isEmpty())
            writeQrp(printer);
        if (!c_.pdf.isEmpty())
            writePdfFile(printer);
        if (!c_.pngDir.isEmpty())
            writePng(printer);
    }

private:
    void writeCsv() {
        // Written beside its target and renamed at the end, by the export itself.
        if (!writeMonthCsv(c_.csv, QStringLiteral("Func.DB"), isInterrupted))
            throw Interrupted();
    }

    void writeText(TReport& report) {
        StagedFile file(c_.text);
        TTextExportFilter filter(file.path());
        TReportPrinter printer;
        printer.setProgressReceiver(&bar_);
        bar_.restart();
        current_ = &printer;
        report.ExportText(filter, printer);
        current_ = nullptr;
        bar_.finish();
        // A text run stores no page: only a cancelled one stays busy.
        checkInterrupted();
        if (printer.Status() != TPrinterStatus::Finished)
            throw Interrupted();
        filter.Finish();
        file.commit();
    }

    void generate(TReport& report, TReportPrinter& printer) {
        printer.setDestination(TReportDestination::Preview);
        printer.setProgressReceiver(&bar_);
        current_ = &printer;
        bar_.restart();
        report.Generate(printer);
        current_ = nullptr;
        QCoreApplication::sendPostedEvents(&bar_);
        bar_.finish();
        requireAllPages(printer);
    }

    static void load(TReportPrinter& printer, const QString& fileName) {
        if (!QFileInfo::exists(fileName))
            throw Error(msg(Message::FileDoesNotExist));
        printer.Load(fileName);
    }

    void writeQrp(TReportPrinter& printer) {
        StagedFile file(c_.qrp);
        printer.Save(file.path());
        checkInterrupted();
        file.commit();
    }

    ExportProgress pageProgress(const TReportPrinter& printer) {
        bar_.restart();
        return [this, total = printer.PageCount()](int pages) {
            bar_.show(pages * 100 / total, pages);
        };
    }

    void writePdfFile(const TReportPrinter& printer) {
        // writePdf leaves nothing behind when it stops.
        const bool done = writePdf(printer, c_.pdf, isInterrupted, pageProgress(printer));
        bar_.finish();
        if (!done)
            throw Interrupted();
    }

    void writePng(const TReportPrinter& printer) {
        if (!QDir().mkpath(c_.pngDir))
            throw Error(msg(Message::CliCannotCreateFolder, {c_.pngDir}));
        const bool done =
            writePngPages(printer, c_.pngDir, c_.dpi, isInterrupted, pageProgress(printer));
        bar_.finish();
        if (!done)
            throw Interrupted();
    }

    const ReportCommand& c_;
    ProgressBar& bar_;
    TReportPrinter* current_ = nullptr;

public:
    // Stops the running generation before its next employee row.
    void cancelGeneration() {
        if (current_)
            current_->Cancel();
    }
};

// The command's file names made absolute before the run moves into the tables' folder.
ReportCommand withAbsolutePaths(ReportCommand c) {
    for (QString* path : {&c.pdf, &c.text, &c.qrp, &c.csv, &c.pngDir, &c.fromQrp})
        *path = absolute(*path);
    return c;
}

// Standard error carries the program's own texts only; the platform's notes are dropped.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg)
        printLine(text);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    installInterruptHandlers();
    qInstallMessageHandler(quietQtMessages);
    QGuiApplication app(argc, argv);

    QStringList arguments = app.arguments();
    const QString program = QFileInfo(arguments.takeFirst()).fileName();
    QString error;
    const std::optional<ReportCommand> parsed = parseCommand(arguments, &error);
    if (!parsed) {
        printLine(error);
        printLine(msg(Message::CliUsage, {program}));
        return 2;
    }
    const ReportCommand command = withAbsolutePaths(*parsed);

    installFontSubstitutions();
    const Paper paper = command.paper;
    TReportPrinter::setDefaultPrinterQuery([paper] { return paperPrinter(paper); });

    ProgressBar bar(!command.quiet && ::isatty(STDERR_FILENO));
    Run run(command, bar);
    QSocketNotifier wakeUp(wakeUpPipe[0], QSocketNotifier::Read);
    QObject::connect(&wakeUp, &QSocketNotifier::activated, &wakeUp, [&run] {
        char bytes[16];
        while (::read(wakeUpPipe[0], bytes, sizeof bytes) > 0) {
        }
        run.cancelGeneration();
    });
    if (wakeUpPipe[0] < 0)
        wakeUp.setEnabled(false);

    try {
        run.execute();
        return 0;
    } catch (const Interrupted&) {
        bar.finish();
        printLine(msg(Message::CliInterrupted));
    } catch (const Error& e) {
        bar.finish();
        printLine(e.message());
    } catch (const std::exception& e) {
        bar.finish();
        printLine(QString::fromLocal8Bit(e.what()));
    }
    return 1;
}
