#include "report/ReportElements.h"

#include "report/Report.h"
#include "report/ReportDataSet.h"

#include <QFontMetrics>
#include <QHash>
#include <QTime>

#include <bit>
#include <limits>

#include <memory>
#include <vector>

namespace lv26 {

using report::roundHalfEven;

namespace {

constexpr double kScreenFactor = report::kScreenPixelsPerInch / report::kNativePerInch;

// A font on a 96 pixels-per-inch screen with the widths of the texts measured in it. Setting a
// text measures its lines more than once (wrapping, then sizing), wrapping measures the same
// word pairs row after row, and captions repeat on every page, so the widths are kept for the
// few fonts of a layout, each with a bounded number of texts.
struct ScreenFont {
    explicit ScreenFont(const TReportFont& f)
        : font(f), metrics(report::toQFont(f, report::kScreenPixelsPerInch)) {}
    TReportFont font;
    QFontMetrics metrics;
    QHash<QString, int> widths;
};

ScreenFont& screenFont(const TReportFont& font) {
    static std::vector<std::unique_ptr<ScreenFont>> fonts;
    static ScreenFont* last = nullptr;
    if (last && last->font == font)
        return *last;
    for (const auto& f : fonts) {
        if (f->font == font)
            return *(last = f.get());
    }
    if (fonts.size() >= 16) {
        fonts.clear();
        last = nullptr;
    }
    fonts.push_back(std::make_unique<ScreenFont>(font));
    return *(last = fonts.back().get());
}

const QFontMetrics& screenMetrics(const TReportFont& font) {
    return screenFont(font).metrics;
}

// Width of `text` on that screen.
int screenTextWidth(const TReportFont& font, const QString& text) {
    ScreenFont& f = screenFont(font);
    const auto it = f.widths.constFind(text);
    if (it != f.widths.constEnd())
        return *it;
    if (f.widths.size() >= 32768)
        f.widths.clear();
    const int width = f.metrics.horizontalAdvance(text);
    f.widths.insert(text, width);
    return width;
}

QStringList paragraphs(const QString& text) {
    QString t = text;
    t.remove(u'\r');
    return t.split(u'\n');
}

} // namespace

void drawFrame(ReportCanvas& canvas, const report::DeviceMapping& mapping,
               const TReportFrame& frame, const QRect& box) {
    if (!frame.anySide())
        return;
    const double points = report::kNativePerInch / 72.0 * frame.width;
    const int barX = roundHalfEven(mapping.factorX * points);
    const int barY = roundHalfEven(mapping.factorY * points);
    if (frame.drawTop)
        canvas.fillRect(QRect(box.left(), box.top(), box.width(), barY), frame.color);
    if (frame.drawBottom)
        canvas.fillRect(QRect(box.left(), box.top() + box.height() - barY, box.width(), barY),
                        frame.color);
    if (frame.drawLeft)
        canvas.fillRect(QRect(box.left(), box.top(), barX, box.height()), frame.color);
    if (frame.drawRight)
        canvas.fillRect(QRect(box.left() + box.width() - barX, box.top(), barX, box.height()),
                        frame.color);
}

// ----- TReportPrintable -----

TReport* TReportPrintable::report() const {
    return band_->report();
}

double TReportPrintable::Left() const {
    return report()->toUnits(left_);
}
double TReportPrintable::Top() const {
    return report()->toUnits(top_);
}
double TReportPrintable::Width() const {
    return report()->toUnits(width_);
}
double TReportPrintable::Height() const {
    return report()->toUnits(height_);
}
void TReportPrintable::setLeft(double v) {
    left_ = report()->fromUnits(v);
}
void TReportPrintable::setTop(double v) {
    top_ = report()->fromUnits(v);
}
void TReportPrintable::setWidth(double v) {
    setWidthNative(report()->fromUnits(v));
}
void TReportPrintable::setHeight(double v) {
    height_ = report()->fromUnits(v);
}

void TReportPrintable::setGeometryNative(double left, double top, double width, double height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
}

void TReportPrintable::setWidthNative(double v) {
    width_ = v;
}

void TReportPrintable::Prepare(PrintContext&) {}

QRect TReportPrintable::deviceBox(const PrintContext& context, double offsetX,
                                  double offsetY) const {
    const report::DeviceMapping& m = context.mapping;
    const int left = m.column(offsetX + left_);
    const int top = m.row(offsetY + top_);
    const int right = m.column(offsetX + left_ + width_);
    const int bottom = m.row(offsetY + top_ + height_);
    return {QPoint(left, top), QSize(right - left, bottom - top)};
}

// ----- TReportCustomText -----

TReportFont TReportCustomText::Font() const {
    if (ownFont_)
        return *ownFont_;
    return band() ? band()->Font() : TReportFont();
}

void TReportCustomText::setText(const QString& text) {
    text_ = text;
    makeLines();
    if (AutoSize) {
        applyAutoSize();
        applyAlignToBand();
    } else {
        applyMinimumHeight();
    }
}

int TReportCustomText::measureWidth(const QString& text) const {
    const int width = screenTextWidth(Font(), text);
    return roundHalfEven((width + 1) * report()->Zoom() / 100.0);
}

int TReportCustomText::widthInZoomPixels() const {
    return roundHalfEven(widthNative() * kScreenFactor * report()->Zoom() / 100.0);
}

int TReportCustomText::zoomedFontHeight() const {
    return roundHalfEven(screenMetrics(Font()).height() * report()->Zoom() / 100.0) + 1;
}

double TReportCustomText::zoomPixelsToNative(double pixels) const {
    return pixels / (kScreenFactor * report()->Zoom() / 100.0);
}

void TReportCustomText::makeLines(qsizetype maxLines) {
    lines_.clear();
    if (maxLines <= 0)
        return;
    // Most texts are a single paragraph, taken as it is.
    if (!text_.contains(u'\n') && !text_.contains(u'\r')) {
        addParagraphLines(text_, maxLines);
        return;
    }
    for (const QString& paragraph : paragraphs(text_)) {
        if (lines_.size() >= maxLines)
            return;
        addParagraphLines(paragraph, maxLines);
    }
}

void TReportCustomText::addParagraphLines(const QString& paragraph, qsizetype maxLines) {
    const qsizetype firstSpace = WordWrap && !AutoSize ? paragraph.indexOf(u' ') : -1;
    if (firstSpace < 0) {
        lines_ << paragraph;
        return;
    }
    // A word that does not fit starts a new line; a word alone on its line stays there even
    // when it is wider than the element. Words end at every single space, so a line is the
    // stretch of the paragraph from its first word to the end of its last one.
    const int limit = widthInZoomPixels();
    qsizetype lineStart = 0;
    qsizetype lineEnd = firstSpace;
    QString candidate;
    while (lineEnd < paragraph.size()) {
        qsizetype wordEnd = paragraph.indexOf(u' ', lineEnd + 1);
        if (wordEnd < 0)
            wordEnd = paragraph.size();
        candidate.resize(0);
        candidate.append(QStringView(paragraph).sliced(lineStart, wordEnd - lineStart));
        if (measureWidth(candidate) <= limit) {
            lineEnd = wordEnd;
            continue;
        }
        lines_ << paragraph.sliced(lineStart, lineEnd - lineStart);
        if (lines_.size() >= maxLines)
            return;
        lineStart = lineEnd + 1;
        lineEnd = wordEnd;
    }
    lines_ << paragraph.sliced(lineStart, lineEnd - lineStart);
}

void TReportCustomText::applyAutoSize() {
    int widest = 0;
    for (const QString& line : lines_)
        widest = qMax(widest, measureWidth(line));
    if (Frame.drawLeft)
        widest += Frame.width;
    if (Frame.drawRight)
        widest += Frame.width;
    setWidthNative(zoomPixelsToNative(widest));
    setHeightNative(zoomPixelsToNative(zoomedFontHeight()));
}

void TReportCustomText::applyMinimumHeight() {
    const int heightPx = roundHalfEven(heightNative() * kScreenFactor * report()->Zoom() / 100.0);
    if (heightPx < zoomedFontHeight())
        setHeightNative(zoomPixelsToNative(zoomedFontHeight()));
}

void TReportCustomText::applyAlignToBand() {
    if (!AlignToBand || !band())
        return;
    const double bandWidth = band()->widthNative();
    switch (Alignment) {
    case TAlignment::taLeftJustify:
        setLeftNative(0);
        break;
    case TAlignment::taRightJustify:
        setLeftNative(bandWidth - widthNative());
        break;
    case TAlignment::taCenter:
        setLeftNative((bandWidth - widthNative()) / 2);
        break;
    }
}

void TReportCustomText::Prepare(PrintContext&) {
    makeLines();
}

qsizetype TReportCustomText::linesThatFit(double top, double bottom, double lineHeight) const {
    if (!(lineHeight > 0))
        return std::numeric_limits<qsizetype>::max();
    // The same steps as the drawing loop, so that both stop at the same line; a text never
    // has more lines than characters plus one.
    qsizetype count = 0;
    for (double y = top; y + lineHeight <= bottom && count <= text_.size(); y += lineHeight)
        ++count;
    return count;
}

void TReportCustomText::Print(PrintContext& context, double offsetX, double offsetY) {
    text_ = printText(context);
    ReportCanvas& canvas = *context.canvas;
    canvas.setFont(Font());
    const double lineHeight =
        canvas.textExtent(QStringLiteral("W")).height() / context.mapping.factorY;
    if (AutoSize) {
        makeLines();
        applyAutoSize();
        applyAlignToBand();
    } else {
        applyMinimumHeight();
    }
    const double top = offsetY + topNative();
    const double bottom = top + heightNative() + 1;
    if (!AutoSize)
        makeLines(linesThatFit(top, bottom, lineHeight)); // lines below the box are not made

    const QRect box = deviceBox(context, offsetX, offsetY);
    if (!Transparent)
        canvas.fillRect(box, Color);

    double anchorX = offsetX + leftNative();
    if (Alignment == TAlignment::taRightJustify)
        anchorX += widthNative();
    else if (Alignment == TAlignment::taCenter)
        anchorX += widthNative() / 2;
    double y = top;
    for (const QString& line : lines_) {
        if (y + lineHeight > bottom)
            break; // lines that do not fit the box are dropped; the box never grows
        canvas.drawTextLine(context.mapping, anchorX, y, line, Alignment);
        y += lineHeight;
    }
    drawFrame(canvas, context.mapping, Frame, box);
}

// ----- TReportDBText -----

void TReportDBText::Prepare(PrintContext& context) {
    dataSet_ = nullptr;
    fieldIndex_ = -1;
    for (ReportDataSet* ds : context.dataSets) {
        if (ds->name().compare(DataSetName, Qt::CaseInsensitive) == 0) {
            dataSet_ = ds;
            fieldIndex_ = ds->fieldIndex(DataField);
            break;
        }
    }
    TReportCustomText::Prepare(context);
}

void TReportDBText::Unprepare() {
    dataSet_ = nullptr;
    fieldIndex_ = -1;
    setText(DataField);
}

QString TReportDBText::printText(PrintContext&) {
    return fieldText();
}

QString TReportDBText::fieldText() const {
    if (!dataSet_ || fieldIndex_ < 0)
        return {};
    try {
        if (!dataSet_->isOpen())
            return {};
        const ReportFieldKind kind = dataSet_->fieldKind(fieldIndex_);
        if (!Mask.isEmpty() &&
            (kind == ReportFieldKind::Integer || kind == ReportFieldKind::Float)) {
            const QVariant v = dataSet_->value(fieldIndex_);
            return v.isNull() ? QString() : formatMask(v.toDouble(), Mask, QLocale());
        }
        return dataSet_->displayText(fieldIndex_);
    } catch (...) {
        return {}; // an unreadable value prints as an empty text, never stops the run
    }
}

// ----- TReportExpr -----

void TReportExpr::Prepare(PrintContext& context) {
    tree_ = parseExpression(Expression, context.dataSets);
    TReportCustomText::Prepare(context);
}

void TReportExpr::Unprepare() {
    tree_.reset();
    setText(Expression);
}

QString TReportExpr::valueText() const {
    if (!tree_)
        return Expression;
    const ExprValue value = tree_->evaluate();
    if (value.kind == ExprValue::Kind::Float && !Mask.isEmpty())
        return maskedFloatText(value.number);
    return formatExprValue(value, Mask, Expression, QLocale());
}

QString TReportExpr::maskedFloatText(double value) const {
    const QLocale locale;
    if (Mask != floatTextsMask_ || locale != floatTextsLocale_) {
        floatTexts_.clear();
        floatTextsMask_ = Mask;
        floatTextsLocale_ = locale;
    }
    // The bits tell -0 from 0, whose texts may differ.
    const quint64 key = std::bit_cast<quint64>(value);
    const auto it = floatTexts_.constFind(key);
    if (it != floatTexts_.constEnd())
        return *it;
    if (floatTexts_.size() >= 4096)
        floatTexts_.clear();
    const QString text = formatMask(value, Mask, locale);
    floatTexts_.insert(key, text);
    return text;
}

// ----- TReportSysData -----

QString TReportSysData::printText(PrintContext& context) {
    const QLocale locale;
    switch (Data) {
    case TSysDataType::sdTime:
        return Text + locale.toString(QTime::currentTime(), QLocale::ShortFormat);
    case TSysDataType::sdDate:
        return Text + locale.toString(QDate::currentDate(), QLocale::ShortFormat);
    case TSysDataType::sdDateTime:
        return Text + locale.toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    case TSysDataType::sdPageNumber:
        return Text + QString::number(context.pageNumber);
    case TSysDataType::sdReportTitle:
        return Text + context.reportTitle;
    case TSysDataType::sdDetailCount:
        return Text + QString::number(context.recordCount);
    case TSysDataType::sdDetailNo:
        return Text + QString::number(context.detailNumber);
    }
    return Text;
}

// ----- TReportShape -----

void TReportShape::Print(PrintContext& context, double offsetX, double offsetY) {
    const report::DeviceMapping& m = context.mapping;
    ReportCanvas& canvas = *context.canvas;
    const double left = offsetX + leftNative(), right = left + widthNative();
    const double top = offsetY + topNative(), bottom = top + heightNative();
    auto horizontal = [&](double y) {
        canvas.drawLine(QPoint(m.column(left), m.row(y)), QPoint(m.column(right), m.row(y)),
                        Pen.color, Pen.width);
    };
    auto vertical = [&](double x) {
        canvas.drawLine(QPoint(m.column(x), m.row(top)), QPoint(m.column(x), m.row(bottom)),
                        Pen.color, Pen.width);
    };
    switch (Shape) {
    case TShapeType::shHorLine:
        horizontal(top + heightNative() / 2);
        break;
    case TShapeType::shVertLine:
        vertical(left + widthNative() / 2);
        break;
    case TShapeType::shTopAndBottom:
        horizontal(top);
        horizontal(bottom);
        break;
    case TShapeType::shRightAndLeft:
        vertical(left);
        vertical(right);
        break;
    case TShapeType::shRectangle:
    case TShapeType::shCircle: // drawn as its bounding rectangle
        canvas.fillRect(deviceBox(context, offsetX, offsetY), BrushColor);
        horizontal(top);
        horizontal(bottom);
        vertical(left);
        vertical(right);
        break;
    }
}

} // namespace lv26
