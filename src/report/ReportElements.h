#pragma once

// The elements of a band: fixed text (TReportLabel), a field's text (TReportDBText), an
// expression's value (TReportExpr), a system value (TReportSysData) and a drawn shape
// (TReportShape). Each is prepared once per generation, prints itself at a band's offset
// onto the page through the run's PrintContext, and is unprepared at the end of the run.

#include "report/Expression.h"
#include "report/ReportCanvas.h"
#include "report/ReportTypes.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QStringList>
#include <memory>

namespace lv26 {

class ReportDataSet;
class TReport;
class TReportBand;

// What an element needs of the run that prints it.
struct PrintContext {
    report::DeviceMapping mapping;  // report lengths to device units
    ReportCanvas* canvas = nullptr; // the page being drawn; never null while printing
    QList<ReportDataSet*> dataSets; // the run's open datasets
    int pageNumber = 0;             // the number of the page being filled
    int detailNumber = 0;           // rows printed so far
    int recordCount = 0;            // rows of the report's dataset
    QString reportTitle;
};

// Draws the sides of `frame` that are on, for an element's or a band's `box` (device units):
// a bar of the frame's colour along the inside of each such edge, across the box's full
// length, round(factor * 254 / 72 * frame width) device units thick, the vertical factor of
// `mapping` for top and bottom, the horizontal one for left and right.
void drawFrame(ReportCanvas& canvas, const report::DeviceMapping& mapping,
               const TReportFrame& frame, const QRect& box);

enum class TElementKind { Label, DBText, Expr, SysData, Shape };

// Base of every element: its name, its four stored lengths (relative to its band) and its
// enabled flag. Owned by its band.
class TReportPrintable {
public:
    virtual ~TReportPrintable() = default;
    TReportPrintable(const TReportPrintable&) = delete;
    TReportPrintable& operator=(const TReportPrintable&) = delete;

    TElementKind Kind() const { return kind_; }
    const QString& Name() const { return name_; }
    // The band that owns the element; set when it is added to one.
    TReportBand* band() const { return band_; }
    void setBand(TReportBand* band) { band_ = band; }
    // The band's report; requires band().
    TReport* report() const;

    // Lengths in the report's current Units; stored as Size.Values = (Height, Left, Top,
    // Width), Left and Top from the band's top-left corner.
    double Left() const;
    double Top() const;
    double Width() const;
    double Height() const;
    void setLeft(double v);
    void setTop(double v);
    void setWidth(double v);
    void setHeight(double v);
    // Stored lengths, tenths of a millimetre.
    double leftNative() const { return left_; }
    double topNative() const { return top_; }
    double widthNative() const { return width_; }
    double heightNative() const { return height_; }
    void setGeometryNative(double left, double top, double width, double height);

    bool Enabled = true;

    // Once per run, before page 1.
    virtual void Prepare(PrintContext& context);
    // Draws the element with its band at (offsetX, offsetY) tenths of a millimetre from the
    // paper's top-left corner on context.canvas. Never raises for missing fields or bad
    // values; may raise the canvas's errors (a text export's file errors among them).
    virtual void Print(PrintContext& context, double offsetX, double offsetY) = 0;
    // Once per run, at its end.
    virtual void Unprepare() {}

protected:
    TReportPrintable(TElementKind kind, QString name) : kind_(kind), name_(std::move(name)) {}
    // The element's box on the device for the band offset.
    QRect deviceBox(const PrintContext& context, double offsetX, double offsetY) const;
    // Sets a stored length directly; Width, Height and Left change through AutoSize and
    // AlignToBand.
    void setWidthNative(double v);
    void setHeightNative(double v) { height_ = v; }
    void setLeftNative(double v) { left_ = v; }

private:
    TElementKind kind_;
    QString name_;
    TReportBand* band_ = nullptr;
    double height_ = 0, left_ = 0, top_ = 0, width_ = 0;
};

// Shared by the four text kinds: the current text and its lines, alignment, sizing, font,
// frame and background.
class TReportCustomText : public TReportPrintable {
public:
    TAlignment Alignment = TAlignment::taLeftJustify;
    bool AlignToBand = false;
    bool AutoSize = false;
    bool AutoStretch = false;
    bool WordWrap = true;
    bool Transparent = false;
    QColor Color = Qt::white;
    TReportFrame Frame;

    // The element's own font, or the band's when it sets none.
    TReportFont Font() const;
    bool hasOwnFont() const { return ownFont_.has_value(); }
    void setFont(const TReportFont& font) { ownFont_ = font; }

    // The current text and the lines made from it; after Print, the lines that fit its box.
    const QString& text() const { return text_; }
    const QStringList& lines() const { return lines_; }
    // Sets the text and re-makes its lines; applies AutoSize and AlignToBand. Requires the
    // element to be in a band of a report (the measures use the report's Zoom).
    void setText(const QString& text);

    void Prepare(PrintContext& context) override;
    void Print(PrintContext& context, double offsetX, double offsetY) override;

    // The measure the wrap and AutoSize rules use: the width of `text` in this element's font
    // on a 96 pixels-per-inch screen, plus 1 pixel, scaled by the report's Zoom and rounded.
    int measureWidth(const QString& text) const;
    // The element's Width in pixels at the report's Zoom.
    int widthInZoomPixels() const;

protected:
    using TReportPrintable::TReportPrintable;
    // The text for this print (per kind).
    virtual QString printText(PrintContext& context) = 0;

private:
    // Makes the lines of the text, at most `maxLines` of them.
    void makeLines(qsizetype maxLines = std::numeric_limits<qsizetype>::max());
    // Appends the lines of one paragraph of the text, up to `maxLines` lines in all; requires
    // fewer than that made so far.
    void addParagraphLines(const QString& paragraph, qsizetype maxLines);
    // How many lines of `lineHeight` stack from `top` without passing `bottom`.
    qsizetype linesThatFit(double top, double bottom, double lineHeight) const;
    void applyAutoSize();
    void applyMinimumHeight();
    void applyAlignToBand();
    double zoomPixelsToNative(double pixels) const;
    int zoomedFontHeight() const;

    std::optional<TReportFont> ownFont_;
    QString text_;
    QStringList lines_;
};

class TReportLabel : public TReportCustomText {
public:
    explicit TReportLabel(QString name) : TReportCustomText(TElementKind::Label, std::move(name)) {}
    QString Caption;

protected:
    QString printText(PrintContext&) override { return Caption; }
};

class TReportDBText : public TReportCustomText {
public:
    explicit TReportDBText(QString name)
        : TReportCustomText(TElementKind::DBText, std::move(name)) {}
    QString DataSetName; // the dataset's component name ("Table1")
    QString DataField;
    QString Mask;

    // Finds the field in the run's dataset named DataSetName (case ignored).
    void Prepare(PrintContext& context) override;
    // Forgets the field; the design text becomes the field name.
    void Unprepare() override;

protected:
    QString printText(PrintContext& context) override;

private:
    QString fieldText() const;

    ReportDataSet* dataSet_ = nullptr;
    int fieldIndex_ = -1;
};

class TReportExpr : public TReportCustomText {
public:
    explicit TReportExpr(QString name) : TReportCustomText(TElementKind::Expr, std::move(name)) {}
    QString Expression;
    QString Mask;
    bool ResetAfterPrint = false;

    // Parses Expression against the run's datasets.
    void Prepare(PrintContext& context) override;
    // Drops the parsed tree; the design text becomes the expression text.
    void Unprepare() override;
    // The value of the prepared expression in the current rows, formatted with Mask under
    // the default locale (the expression text for an error or when not prepared).
    QString valueText() const;

protected:
    QString printText(PrintContext&) override { return valueText(); }

private:
    // Mask formatting of a float is costly and a column repeats few values; the texts are
    // kept by the value's bits for the mask and locale they were made with.
    QString maskedFloatText(double value) const;

    std::unique_ptr<ExprNode> tree_;
    mutable QHash<quint64, QString> floatTexts_;
    mutable QString floatTextsMask_;
    mutable QLocale floatTextsLocale_;
};

class TReportSysData : public TReportCustomText {
public:
    explicit TReportSysData(QString name)
        : TReportCustomText(TElementKind::SysData, std::move(name)) {}
    TSysDataType Data = TSysDataType::sdTime;
    QString Text; // put before the value

protected:
    QString printText(PrintContext& context) override;
};

struct TReportPen {
    QColor color = Qt::black;
    int width = 1; // device units
};

class TReportShape : public TReportPrintable {
public:
    explicit TReportShape(QString name) : TReportPrintable(TElementKind::Shape, std::move(name)) {}
    TShapeType Shape = TShapeType::shRectangle;
    TReportPen Pen;
    QColor BrushColor = Qt::white;

    // Draws the shape with its pen (a circle as its bounding rectangle).
    void Print(PrintContext& context, double offsetX, double offsetY) override;
};

} // namespace lv26
