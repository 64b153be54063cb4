#pragma once

// Playing the records of one metafile onto a painter. The record families are handled in their own
// files: shapes and paths, state (mapping, attributes, objects), clipping, text and bitmaps.

#include "report/emf/EmfDeviceContext.h"
#include "report/emf/EmfPlayer.h"
#include "report/emf/EmfReader.h"
#include "report/emf/EmfTextSearch.h"

#include <QFont>
#include <QPainterPath>
#include <QRawFont>
#include <QTransform>

#include <optional>
#include <vector>

class QPainter;

namespace lv26::emf {

// One playing of one metafile. Without a painter it only reads every record's fields, which is how
// the records are validated. Records are read through RecordReader, so a record whose fields do not
// fit its size throws MalformedRecord from run().
class Playback {
public:
    // header: the metafile's checked header, which must outlive the playback. painter: the target,
    // or nullptr for the validating pass; its transform and clipping on entry are the caller's,
    // which playing draws within. deviceToPainter maps the metafile's device pixels to the
    // painter's device.
    Playback(const EmfHeaderInfo& header, QPainter* painter, const QTransform& deviceToPainter);

    // Plays the records of bytes, from which header was read and whose framing readFramedMetafile
    // accepted. Leaves the painter's transform, clipping, pen, brush and font changed: the caller
    // saves and restores its state around it.
    void run(const QByteArray& bytes);

    // Makes run() append every text it meets to texts (not owned; must outlive the playing),
    // with or without a painter.
    void collectTexts(std::vector<EmfTextRun>* texts) { texts_ = texts; }

private:
    void play(quint32 type, const RecordReader& r);

    // Record families, each played in its own file: EmfShapeRecords.cpp (shapes and the path
    // bracket), EmfStateRecords.cpp (mapping, attributes, objects), EmfClipRecords.cpp,
    // EmfTextRecords.cpp and EmfBitmapRecords.cpp. Each returns false, reading nothing, for
    // a type not of its family.
    bool playShapeRecord(quint32 type, const RecordReader& r);
    bool playPathRecord(quint32 type, const RecordReader& r);
    bool playMappingRecord(quint32 type, const RecordReader& r);
    bool playAttributeRecord(quint32 type, const RecordReader& r);
    bool playObjectRecord(quint32 type, const RecordReader& r);
    bool playClipRecord(quint32 type, const RecordReader& r);
    bool playTextRecord(quint32 type, const RecordReader& r);
    bool playBitmapRecord(quint32 type, const RecordReader& r);

    // Mapping (EmfPlayback.cpp).
    QTransform pageTransform() const;
    QTransform logicalToDevice() const { return dc_.world * pageTransform(); }
    QPainterPath toDevice(const QPainterPath& logical) const;

    // Painting (EmfPlayback.cpp).
    // The selected pen as drawn on the device.
    QPen currentPen() const;
    // Fills and strokes a device-space path, or adds it to the open path bracket.
    void paint(const QPainterPath& device, bool fill, bool stroke);
    // Sets the painter's world transform, unless it is that already (a vector target writes
    // every change of transform out, even to the same one).
    void setPainterTransform(const QTransform& t);
    // Sets the painter's clipping to the caller's clip intersected with the current clip.
    void applyClip();
    // The transform from the metafile's device pixels to the target's own pixels, when the
    // target is a raster image (a window's backing store included) and that transform only
    // scales (positive factors) and moves; nullopt otherwise.
    std::optional<QTransform> pixelGrid() const;
    // Fills a rectangle of metafile device pixels with its edges on whole target pixels; a side
    // at most kRuleWidth pixels long becomes that length x the scale rounded (at least one
    // pixel), so that rules of one width come out equally wide wherever they fall. False,
    // drawing nothing, unless pixelGrid() holds.
    bool fillOnPixels(const QRectF& device, const QBrush& brush);
    // A single horizontal or vertical solid stroke of device, drawn as its rectangle with
    // fillOnPixels. False, drawing nothing, for any other stroke or target.
    bool strokeOnPixels(const QPainterPath& device, const QPen& pen);

    // Shapes and paths (EmfShapeRecords.cpp).
    std::vector<QPointF> points(const RecordReader& r, quint64 countOffset, bool small) const;
    void poly(quint32 kind, const std::vector<QPointF>& pts);
    void continueFigure(const QPainterPath& logical);
    void polyPoly(const RecordReader& r, bool polygon, bool small);
    void polyDraw(const RecordReader& r, bool small);
    void moveTo(QPointF to);
    void lineTo(QPointF to);
    void arc(const RecordReader& r, quint32 kind);
    QPainterPath boxShape(const QRectF& box, quint32 kind, QSizeF corner = {}) const;
    void endPath(quint32 type);

    // State (EmfStateRecords.cpp).
    void selectObject(quint32 index);
    void restoreDc(qint32 relative);
    void modifyWorldTransform(const RecordReader& r);

    // Clipping (EmfClipRecords.cpp).
    void combineClip(QPainterPath region, quint32 mode);
    QPainterPath deviceRegion(const QRectF& logicalBox) const;
    void extSelectClipRgn(const RecordReader& r);
    void selectClipPath(quint32 mode);

    // Text (EmfTextRecords.cpp).
    struct TextPlacement; // where a text's pieces go, in text coordinates
    void text(const RecordReader& r, bool wide);
    void smallText(const RecordReader& r);
    void drawText(QPointF ref, const QString& s, const std::vector<qint32>& dx, quint32 options,
                  const QRectF& rect, quint32 graphicsMode);
    void moveAlongText(qint64 advance);
    struct PlacedText; // a text record's font and placement on the target
    std::optional<PlacedText> placeTextRecord(QPointF ref, const QString& s,
                                              const std::vector<qint32>& dx, qint64 advance,
                                              quint32 graphicsMode) const;
    void collectText(const PlacedText& placed, const QString& s, const std::vector<qint32>& dx);
    std::optional<double> textPixelSize(const QTransform& logicalToDevice) const;
    TextPlacement placeText(const QFont& font, const QString& s, const std::vector<qint32>& dx,
                            qint64 advance, const QTransform& xf, QPointF origin,
                            quint32 graphicsMode) const;
    bool fillTextBox(const QTransform& xf, quint32 options, const QRectF& rect);
    void drawTextPieces(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                        double size, const TextPlacement& at);
    // Draws the pieces in the target's own pixels: the font at the target's size, unhinted and
    // greyscale antialiased, each piece at its stored advance scaled without rounding. False,
    // drawing nothing, unless the target is a raster image under an upright, evenly scaled text
    // transform and the glyphs are small enough for bitmaps. Requires the pen set.
    bool drawTextOnPixels(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                          double size, const TextPlacement& at);
    // Draws s as one glyph run at the stored advances, each character's glyph taken from the
    // font's character map without shaping (a vector target, such as a PDF, keeps it as text).
    // False, drawing nothing, on a raster target, without advances, for a surrogate pair or for
    // a character the font lacks. Requires the pen set.
    bool drawGlyphRun(const QString& s, const std::vector<qint32>& dx, const QFont& font,
                      const TextPlacement& at);
    // The glyphs of font, looked up once per playing.
    const QRawFont& rawFontOf(const QFont& font);

    // Bitmaps (EmfBitmapRecords.cpp).
    void bitBlt(const RecordReader& r);
    void stretchDiBits(const RecordReader& r);

    const EmfHeaderInfo& header_;
    QPainter* painter_;
    QTransform toPainter_;
    QTransform callerTransform_;
    // The painter's device transform relative to its world transform (a device pixel ratio's
    // scale); the identity without a painter.
    QTransform deviceFromPainter_;
    bool raster_ = false;
    std::vector<EmfTextRun>* texts_ = nullptr;
    std::vector<std::pair<QFont, QRawFont>> rawFonts_; // a page uses only a few fonts
    std::optional<QPainterPath> baseClip_;
    QSizeF pxPerMm_{1, 1};
    DcState dc_;
    std::vector<DcState> saved_;
    ObjectTable objects_;
    QPainterPath path_; // device space
    bool inPath_ = false;
    bool figureOpen_ = false;
};

} // namespace lv26::emf
