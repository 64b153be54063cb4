#pragma once

// The text export: during a text export run every text line an element would draw is put on
// a grid of characters instead, and each closed page writes its non-empty rows to the file.
// TextExportCanvas is the drawing surface of such a run.

#include "base/Messages.h"
#include "report/ReportCanvas.h"
#include "report/ReportTypes.h"

#include <QFile>
#include <QString>
#include <QStringList>

namespace lv26 {

class TTextExportFilter {
public:
    // The export's page holds this many rows, numbered from 0.
    static constexpr int kPageRows = 201;

    // An export that will write `fileName`; nothing is touched until Start().
    explicit TTextExportFilter(QString fileName);
    ~TTextExportFilter();
    TTextExportFilter(const TTextExportFilter&) = delete;
    TTextExportFilter& operator=(const TTextExportFilter&) = delete;

    // The name shown for this export and its file extension.
    static QString description() { return msg(Message::TextFileName); }
    static QString extension() { return QStringLiteral("TXT"); }
    const QString& fileName() const { return fileName_; }

    // Creates the file (replacing one of that name). Character width and line height are
    // both `reportFontSize` points in tenths of a millimetre; lines per page are
    // round(paperLength / line height). Raises EReportError with the platform's text when
    // the file cannot be created.
    void Start(double paperLength, double reportFontSize);
    // Empties the page.
    void NewPage();
    // Puts `text` on the page: x (the anchor) and y (the line's top) in tenths of a
    // millimetre from the paper's top-left corner. Rows outside the page are dropped.
    void TextOut(double x, double y, const QString& text, TAlignment alignment);
    // Writes the page's non-empty rows among the first linesPerPage(), each followed by a
    // line break. Raises EReportError when the file cannot be written.
    void EndPage();
    // Closes the file. Safe to call more than once.
    void Finish();

    double characterWidth() const { return charWidth_; }
    double lineHeight() const { return lineHeight_; }
    int linesPerPage() const { return linesPerPage_; }
    // The page's rows (kPageRows of them), for tests.
    const QStringList& pageRows() const { return rows_; }

private:
    [[noreturn]] void raiseFileError() const;

    QString fileName_;
    QFile file_;
    double charWidth_ = 0;
    double lineHeight_ = 0;
    int linesPerPage_ = 0;
    QStringList rows_;
};

// The page of a text export run as a drawing surface: each line of text goes onto the
// export's page by its report position (TTextExportFilter::TextOut), empty lines included;
// fills, lines and text given by device position leave no mark. Fonts and measures are those
// of `measure`, a page of the run's report printer object, so that lines break and fit in
// their boxes as on a drawn page. Owns neither; both must outlive the canvas.
class TextExportCanvas : public ReportCanvas {
public:
    TextExportCanvas(TTextExportFilter& filter, ReportCanvas& measure)
        : filter_(filter), measure_(measure) {}

    double pixelsPerInchX() const override { return measure_.pixelsPerInchX(); }
    double pixelsPerInchY() const override { return measure_.pixelsPerInchY(); }
    void fillRect(const QRect&, const QColor&) override {}
    void setFont(const TReportFont& font) override { measure_.setFont(font); }
    QSize textExtent(const QString& text) override { return measure_.textExtent(text); }
    void drawText(int, int, const QString&, TAlignment) override {}
    void drawLine(QPoint, QPoint, const QColor&, int) override {}
    void drawTextLine(const report::DeviceMapping& mapping, double x, double y, const QString& text,
                      TAlignment alignment) override;

private:
    TTextExportFilter& filter_;
    ReportCanvas& measure_;
};

} // namespace lv26
