#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

namespace lv26 {

// A rectangle by its four edges in device pixels. As in the metafile format, left and top
// are inside, right and bottom are the first column and row outside: the rectangle covers
// right - left by bottom - top pixels.
struct EmfRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const EmfRect&, const EmfRect&) = default;
};

// A font as the metafile names it: face name, character height in device pixels (the em
// size, written as a negative height), weight and style flags, character set byte.
struct EmfFont {
    QString face = QStringLiteral("Arial");
    int heightPx = 13;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    quint8 charset = 1; // DEFAULT_CHARSET
    friend bool operator==(const EmfFont&, const EmfFont&) = default;
};

// Records the drawing of one page at a time as an enhanced metafile (the subset described in
// docs/emf.md). All coordinates are device pixels of a page of widthPx x heightPx at the
// given resolution, origin at the top-left corner, y growing downwards.
//
// Use: beginPage, any number of drawing calls, endPage (which returns the page's bytes);
// repeat for the next page. Drawing calls outside beginPage/endPage are ignored.
// Text is measured with Qt's font database, so a QGuiApplication must exist; face names are
// resolved through QFont's substitutions (the program maps "Arial" to Liberation Sans).
class EmfWriter {
public:
    EmfWriter();
    ~EmfWriter();
    EmfWriter(const EmfWriter&) = delete;
    EmfWriter& operator=(const EmfWriter&) = delete;

    // Starts a new, empty page, discarding anything recorded and not ended. dpiX and dpiY
    // (> 0) give the page's physical size: the picture frame is widthPx / dpiX inches wide.
    // description, if not empty, is stored in the header (e.g. "Lv26\0Page 1").
    // Records the transparent background mode; text colour black, no font selected
    // ("Arial", 13 px, until setFont is called).
    void beginPage(int widthPx, int heightPx, double dpiX, double dpiY,
                   const QString& description = {});
    bool isRecording() const { return recording_; }

    // Selects the font for the following texts. Records nothing if it is the current one.
    void setFont(const EmfFont& font);
    // Sets the colour of the following texts (alpha ignored). Records nothing if unchanged.
    void setTextColor(const QColor& color);

    // Draws text with the reference point (x, y). align: Qt::AlignLeft, AlignRight or
    // AlignHCenter (x is the text's left edge, right edge or centre) combined with
    // Qt::AlignTop or AlignBaseline (y is the top of the character cell or the baseline).
    // The character advances are measured now and stored with the text, so every player
    // places the characters identically. If clip is given, the text is clipped to it.
    // Returns the text's advance width in pixels.
    int textOut(int x, int y, const QString& text,
                Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop,
                const std::optional<EmfRect>& clip = std::nullopt);

    // Advance width in pixels that textOut would give text in the current font.
    int textWidth(const QString& text) const;
    // Height of the current font's character cell (ascent + descent) in pixels.
    int textHeight() const;

    // Fills rect (pixels left..right-1 by top..bottom-1) with a solid colour, without an
    // outline. An empty or inverted rectangle records nothing.
    void fillRect(const EmfRect& rect, const QColor& color);

    // Draws a straight line from (x1, y1) towards (x2, y2) with a solid pen of widthPx pixels
    // (0 or 1: one pixel); as in the format, the end point itself is not drawn.
    void line(int x1, int y1, int x2, int y2, const QColor& color, int widthPx = 1);

    // Frame bars: for each side in sides (Qt::LeftEdge, TopEdge, RightEdge, BottomEdge) a
    // filled bar of colour along the inside of that edge of rect, across its full length;
    // vertical sides are barWidthX pixels thick, horizontal ones barWidthY.
    void frameRect(const EmfRect& rect, Qt::Edges sides, const QColor& color, int barWidthX,
                   int barWidthY);

    // Ends the page: restores the stock objects, deletes those created, writes the end
    // record and completes the header (bounds, byte, record and handle counts).
    // Returns the page's metafile bytes; empty if no page was begun.
    QByteArray endPage();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    bool recording_ = false;
};

} // namespace lv26
