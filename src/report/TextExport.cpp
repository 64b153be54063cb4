#include "report/TextExport.h"

#include "base/Messages.h"

#include <cerrno>
#include <cstring>

namespace lv26 {

using report::roundHalfEven;

// ----- TTextExportFilter -----

TTextExportFilter::TTextExportFilter(QString fileName) : fileName_(std::move(fileName)) {}

TTextExportFilter::~TTextExportFilter() {
    Finish();
}

void TTextExportFilter::Start(double paperLength, double reportFontSize) {
    charWidth_ = reportFontSize * report::kNativePerInch / 72.0;
    lineHeight_ = charWidth_;
    linesPerPage_ =
        lineHeight_ > 0 ? qBound(0, roundHalfEven(paperLength / lineHeight_), kPageRows) : 0;
    file_.setFileName(fileName_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        raiseFileError();
    NewPage();
}

void TTextExportFilter::NewPage() {
    rows_ = QStringList(kPageRows, QString());
}

void TTextExportFilter::TextOut(double x, double y, const QString& text, TAlignment alignment) {
    if (lineHeight_ <= 0 || rows_.size() != kPageRows)
        return;
    double p = x / charWidth_ * 1.7;
    if (alignment == TAlignment::taRightJustify)
        p -= text.size();
    const int r = roundHalfEven(y / lineHeight_);
    if (r < 0 || r >= kPageRows)
        return;
    QString& row = rows_[r];
    if (p > row.size())
        row += QString(roundHalfEven(p) - row.size(), u' ');
    // The text overwrites the row from character position round(p), counting from 1; a
    // position before the row's start writes from its first character.
    const int at = qMax(1, roundHalfEven(p)) - 1;
    row.replace(qMin(at, int(row.size())), text.size(), text);
}

void TTextExportFilter::EndPage() {
    if (!file_.isOpen())
        return;
    QByteArray out;
    for (int r = 0; r < linesPerPage_ && r < rows_.size(); ++r) {
        if (!rows_[r].isEmpty())
            out += rows_[r].toUtf8() + '\n';
    }
    if (file_.write(out) != out.size() || !file_.flush())
        raiseFileError();
}

void TTextExportFilter::Finish() {
    if (file_.isOpen())
        file_.close();
}

void TTextExportFilter::raiseFileError() const {
    switch (file_.error()) {
    case QFileDevice::PermissionsError:
    case QFileDevice::OpenError:
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            throw EReportError(msg(Message::FileAccessDenied));
        break;
    case QFileDevice::ResourceError:
        throw EReportError(msg(Message::DiskFull));
    default:
        break;
    }
    if (errno == ENOSPC)
        throw EReportError(msg(Message::DiskFull));
    throw EReportError(msg(Message::IoErrorNumber, {errno}));
}

// ----- TextExportCanvas -----

void TextExportCanvas::drawTextLine(const report::DeviceMapping&, double x, double y,
                                    const QString& text, TAlignment alignment) {
    filter_.TextOut(x, y, text, alignment);
}

} // namespace lv26
