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

enum class PlayEnd { Done, Cancelled, Failed };

// Plays the pictures into `writer` one page each.
PlayEnd playPages(const TReportPrinter& printer, QPdfWriter& writer,
                  const ExportCancelled& cancelled, const ExportProgress& progress) {
    QByteArray page = pageOf(printer, 1);
    writer.setPageSize(QPageSize(paperOf(page), QPageSize::Millimeter));
    QPainter painter;
    if (!painter.begin(&writer))
        return PlayEnd::Failed;
    for (int n = 1;; ++n) {
        playEmf(page, painter, QRectF(QPointF(0, 0), QSizeF(writer.width(), writer.height())));
        tell(progress, n);
        if (n == printer.PageCount())
            break;
        if (stopped(cancelled)) {
            painter.end();
            return PlayEnd::Cancelled;
        }
        page = pageOf(printer, n + 1);
        writer.setPageSize(QPageSize(paperOf(page), QPageSize::Millimeter));
        writer.newPage();
    }
    return painter.end() ? PlayEnd::Done : PlayEnd::Failed;
}

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
    QPdfWriter writer(&file);
    writer.setTitle(msg(Message::PdfDocumentTitle));
    writer.setCreator(msg(Message::PdfDocumentCreator));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    const PlayEnd end = playPages(printer, writer, cancelled, progress);
    if (end == PlayEnd::Cancelled) {
        file.cancelWriting();
        return false;
    }
    if (end == PlayEnd::Failed || !file.commit())
        raiseWriteError(file, errno);
    return true;
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
