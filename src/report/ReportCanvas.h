#pragma once

// The drawing interface through which generation draws a page, in device units. Three
// implementations: EmfCanvas records the calls as a page picture (preview, page store),
// PainterCanvas draws them with a QPainter on any paint device (a printer, a PDF, an image),
// and TextExportCanvas (TextExport.h) puts the lines of text on a text file's page.

#include "report/ReportTypes.h"

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>

class QPainter;

namespace lv26 {

class ReportCanvas {
public:
    virtual ~ReportCanvas() = default;

    // The device's pixels per inch; fonts are mapped with them.
    virtual double pixelsPerInchX() const = 0;
    virtual double pixelsPerInchY() const = 0;
    // Fills `rect` (device units) with `color`, solid, without an outline.
    virtual void fillRect(const QRect& rect, const QColor& color) = 0;
    // Selects `font` for the following text calls; its point size is mapped to the device by
    // the device's vertical pixels per inch.
    virtual void setFont(const TReportFont& font) = 0;
    // The size of `text` in the selected font, device units; the height is the font's cell
    // height (ascent plus descent) whatever the text.
    virtual QSize textExtent(const QString& text) = 0;
    // Draws `text` in the selected font and its colour, on a transparent background. (x, y)
    // is the anchor: y the top of the text cell; x its left edge, right edge or centre as
    // `alignment` says. Not clipped.
    virtual void drawText(int x, int y, const QString& text, TAlignment alignment) = 0;
    // Draws a solid line `width` device units wide from `from` up to, not including, `to`.
    virtual void drawLine(QPoint from, QPoint to, const QColor& color, int width) = 0;

    // Draws one line of an element's text whose anchor (x, y) is given in report lengths
    // (tenths of a millimetre from the paper's top-left corner; y the top of the text cell)
    // and reaches the device through `mapping`. A drawn page takes no mark from an empty
    // line; by default a non-empty one is drawn with drawText at the mapped position.
    // Canvases that place text by report lengths, where rounding to device units would move
    // it, override this.
    virtual void drawTextLine(const report::DeviceMapping& mapping, double x, double y,
                              const QString& text, TAlignment alignment);
};

// Fonts made ready for drawing on one device: the device font, its glyphs and the advances of
// the characters drawn so far. Kept by the owner of a run's painter across its pages, since
// preparing a font costs far more than drawing a line of text with it.
class PainterFontCache;

// Draws on the device of an active QPainter. Not owning the painter; the painter must stay
// active while the canvas is used.
//
// Text is laid out character by character, each character advancing by its own width in the
// font without kerning, the same measure as the page pictures use; characters that need
// shaping or a fallback font make their line go through the painter's own text layout.
class PainterCanvas : public ReportCanvas {
public:
    // Fonts are mapped with the painter device's logical pixels per inch. `fonts` may be
    // shared by the canvases of one device; a null one gives the canvas a cache of its own.
    explicit PainterCanvas(QPainter& painter, std::shared_ptr<PainterFontCache> fonts = {});
    ~PainterCanvas() override;

    // An empty cache, to be shared by the canvases of one device.
    static std::shared_ptr<PainterFontCache> makeFontCache();

    double pixelsPerInchX() const override { return dpiX_; }
    double pixelsPerInchY() const override { return dpiY_; }
    void fillRect(const QRect& rect, const QColor& color) override;
    void setFont(const TReportFont& font) override;
    QSize textExtent(const QString& text) override;
    void drawText(int x, int y, const QString& text, TAlignment alignment) override;
    void drawLine(QPoint from, QPoint to, const QColor& color, int width) override;

    struct DeviceFont; // a font on this canvas's device; defined where it is used

private:
    DeviceFont& font();

    QPainter& painter_;
    double dpiX_;
    double dpiY_;
    std::shared_ptr<PainterFontCache> fonts_;
    DeviceFont* font_ = nullptr;
};

} // namespace lv26
