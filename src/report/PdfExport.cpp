#include "report/PdfExport.h"

#include "base/Messages.h"
#include "report/ReportPrinter.h"
#include "report/ReportTypes.h"
#include "report/emf/EmfPlayer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace lv26 {

namespace {

// The platform's wording for a failed write, as the page store and the text export word it.
[[noreturn]] void raiseWriteError(const QFileDevice& file, int error) {
    if (file.error() == QFileDevice::ResourceError || error == ENOSPC || error == EDQUOT ||
        error == EFBIG)
        throw EReportError(msg(Message::DiskFull));
    if (file.error() == QFileDevice::PermissionsError || error == EACCES || error == EPERM ||
        error == EROFS)
        throw EReportError(msg(Message::FileAccessDenied));
    throw EReportError(msg(Message::IoErrorNumber, {error}));
}

[[noreturn]] void raiseCannotCreate(const QString& fileName) {
    throw EReportError(msg(Message::CannotCreateFile, {fileName}));
}

// The paper of a page picture in millimetres: its frame, else Letter.
QSizeF paperOf(const QByteArray& picture) {
    if (const std::optional<EmfHeaderInfo> header = readEmfHeader(picture)) {
        const QSizeF mm(header->frame.right - header->frame.left,
                        header->frame.bottom - header->frame.top);
        if (mm.width() > 0 && mm.height() > 0)
            return mm / 100.0;
    }
    return QPageSize(QPageSize::Letter).size(QPageSize::Millimeter);
}

QByteArray pageOf(const TReportPrinter& printer, int n) {
    std::optional<QByteArray> page = printer.fetchPage(n);
    if (!page)
        throw EMetafileError();
    return std::move(*page);
}

bool stopped(const ExportCancelled& cancelled) {
    return cancelled && cancelled();
}

void tell(const ExportProgress& progress, int pages) {
    if (progress)
        progress(pages);
}

// A PDF document on an open file, one page per picture on the picture's own paper.
class PdfDocument {
public:
    explicit PdfDocument(QIODevice& file) : writer_(&file) {
        writer_.setTitle(msg(Message::PdfDocumentTitle));
        writer_.setCreator(msg(Message::PdfDocumentCreator));
        writer_.setPageMargins(QMarginsF(0, 0, 0, 0));
    }
    // Plays picture on a new page. False when the painter cannot begin on the writer.
    // Raises "Metafile is not valid" for a damaged picture.
    bool add(const QByteArray& picture) {
        writer_.setPageSize(QPageSize(paperOf(picture), QPageSize::Millimeter));
        if (painter_.isActive())
            writer_.newPage();
        else if (!painter_.begin(&writer_))
            return false;
        playEmf(picture, painter_,
                QRectF(QPointF(0, 0), QSizeF(writer_.width(), writer_.height())));
        return true;
    }
    // Writes the end of the document. False when it could not, or when it has no page.
    bool end() { return painter_.isActive() && painter_.end(); }

private:
    QPdfWriter writer_;
    QPainter painter_; // ended before the writer goes
};

} // namespace

bool writePdf(const TReportPrinter& printer, const QString& fileName,
              const ExportCancelled& cancelled, const ExportProgress& progress) {
    if (printer.Status() != TPrinterStatus::Finished || printer.PageCount() < 1)
        return false;
    // Written beside the target and renamed over it at the end: a failed or cancelled run
    // leaves no short file, and an older file of that name stays as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        raiseCannotCreate(fileName);
    bool written = true;
    {
        PdfDocument document(file);
        for (int n = 1; written && n <= printer.PageCount(); ++n) {
            if (n > 1 && stopped(cancelled)) {
                file.cancelWriting();
                return false;
            }
            written = document.add(pageOf(printer, n));
            tell(progress, n);
        }
        written = written && document.end();
    }
    if (!written || !file.commit())
        raiseWriteError(file, errno);
    return true;
}

struct PdfPipeline::Worker {
    static constexpr size_t kQueuedPages = 16;

    explicit Worker(const QString& fileName) : file(fileName) {
        if (!file.open(QIODevice::WriteOnly))
            raiseCannotCreate(fileName);
        thread = std::thread([this] { run(); });
    }
    ~Worker() {
        {
            const std::lock_guard lock(mutex);
            abandoned = true;
        }
        changed.notify_all();
        if (thread.joinable())
            thread.join();
    }

    void run() {
        try {
            PdfDocument document(file);
            QByteArray picture;
            while (next(picture)) {
                if (!document.add(picture))
                    raiseWriteError(file, errno);
            }
            if (!abandonedNow() && !document.end())
                raiseWriteError(file, errno);
        } catch (...) {
            const std::lock_guard lock(mutex);
            error = std::current_exception();
        }
        changed.notify_all();
    }

    // The next queued picture; false when the queue is closed and empty, or abandoned.
    bool next(QByteArray& picture) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return abandoned || closed || !queue.empty(); });
        if (abandoned || queue.empty())
            return false;
        picture = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        changed.notify_all();
        return true;
    }

    bool abandonedNow() {
        const std::lock_guard lock(mutex);
        return abandoned;
    }

    QSaveFile file; // written by the worker only until it is joined
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> queue;
    bool closed = false;
    bool abandoned = false;
    std::exception_ptr error;
};

PdfPipeline::PdfPipeline(const QString& fileName) : worker_(std::make_unique<Worker>(fileName)) {}

PdfPipeline::~PdfPipeline() = default;

bool PdfPipeline::addPage(const QByteArray& picture) {
    Worker& w = *worker_;
    std::unique_lock lock(w.mutex);
    w.changed.wait(lock, [&w] { return w.error || w.queue.size() < Worker::kQueuedPages; });
    if (w.error || w.closed)
        return false;
    w.queue.push_back(picture);
    lock.unlock();
    w.changed.notify_all();
    return true;
}

void PdfPipeline::finish() {
    Worker& w = *worker_;
    {
        const std::lock_guard lock(w.mutex);
        w.closed = true;
    }
    w.changed.notify_all();
    w.thread.join();
    if (w.error)
        std::rethrow_exception(w.error);
    if (!w.file.commit())
        raiseWriteError(w.file, errno);
}

QString pngPageName(int page) {
    return QStringLiteral("page-%1.png").arg(page, 4, 10, QLatin1Char('0'));
}

bool writePngPages(const TReportPrinter& printer, const QString& dir, int dpi,
                   const ExportCancelled& cancelled, const ExportProgress& progress) {
    if (printer.Status() != TPrinterStatus::Finished || printer.PageCount() < 1)
        return false;
    QStringList written;
    const auto removeWritten = [&written] {
        for (const QString& name : std::as_const(written))
            QFile::remove(name);
    };
    for (int n = 1; n <= printer.PageCount(); ++n) {
        if (stopped(cancelled)) {
            removeWritten();
            return false;
        }
        const QByteArray page = pageOf(printer, n);
        const QSizeF inches = paperOf(page) / 25.4;
        QImage image(qRound(inches.width() * dpi), qRound(inches.height() * dpi),
                     QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            playEmf(page, painter, QRectF(image.rect()));
        }
        const QString name = QDir(dir).filePath(pngPageName(n));
        QSaveFile file(name);
        if (!file.open(QIODevice::WriteOnly)) {
            removeWritten();
            raiseCannotCreate(name);
        }
        if (!image.save(&file, "PNG") || !file.commit()) {
            const int error = errno;
            removeWritten();
            raiseWriteError(file, error);
        }
        written << name;
        tell(progress, n);
    }
    return true;
}

} // namespace lv26
