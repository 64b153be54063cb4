#pragma once

// Value types shared by the report model, its generation and its elements: the enumerations
// of the layout, fonts and frames as the layout stores them, the paper table, and the
// rounding and device mapping that turn report lengths into device units.

#include "base/Error.h"

#include <QColor>
#include <QFont>
#include <QSizeF>
#include <QString>

namespace lv26 {

// Errors of the report core: a malformed layout, an export file that cannot be written.
class EReportError : public Error {
public:
    using Error::Error;
    const char* className() const override { return "EReportError"; }
};

enum class TUnits { MM, Inches, Pixels, Characters, Native };

// In their stored numbering.
enum class TBandType {
    btTitle,
    btPageHeader,
    btDetail,
    btPageFooter,
    btSummary,
    btGroupHeader,
    btGroupFooter,
    btSubDetail,
    btColumnHeader,
    btOverlay,
    btChild
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

enum class TSysDataType {
    sdTime,
    sdDate,
    sdDateTime,
    sdPageNumber,
    sdReportTitle,
    sdDetailCount,
    sdDetailNo
};

enum class TShapeType {
    shRectangle,
    shCircle,
    shVertLine,
    shHorLine,
    shTopAndBottom,
    shRightAndLeft
};

enum class TPaperSize { Default, Letter, A4, Custom };
enum class TOrientation { poPortrait, poLandscape };

struct TReportFont {
    QString name = QStringLiteral("Arial");
    double size = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QColor color = Qt::black;

    bool operator==(const TReportFont&) const = default;
};

struct TReportFrame {
    QColor color = Qt::black;
    bool drawTop = false;
    bool drawBottom = false;
    bool drawLeft = false;
    bool drawRight = false;
    int width = 1; // points

    bool anySide() const { return drawTop || drawBottom || drawLeft || drawRight; }
};

namespace report {

// The report's pictures and measures are defined for a screen of this resolution.
inline constexpr double kScreenPixelsPerInch = 96.0;
// Tenths of a millimetre per inch.
inline constexpr double kNativePerInch = 254.0;

// Returns x rounded to the nearest integer, halves to the even neighbour. Values beyond the
// int range are clamped.
int roundHalfEven(double x);

// Returns the width and length of a named paper size in tenths of a millimetre, portrait;
// (0, 0) for Default and Custom, which have no entry in the table.
QSizeF paperTableSize(TPaperSize size);

// Returns the font's height in device pixels for a device of `pixelsPerInch`: the point
// size scaled and rounded half away from zero, as a text height (8 pt at 96 ppi is 11).
int fontPixelHeight(double pointSize, double pixelsPerInch);

// Returns a QFont for `font` whose pixel size is fontPixelHeight(font.size, pixelsPerInch).
QFont toQFont(const TReportFont& font, double pixelsPerInch);

// Maps report lengths (tenths of a millimetre) to device units: a position subtracts the
// device's unprintable offset first; every result is rounded half to even.
struct DeviceMapping {
    double factorX = kScreenPixelsPerInch / kNativePerInch; // device units per tenth of a mm
    double factorY = kScreenPixelsPerInch / kNativePerInch;
    double offsetX = 0; // tenths of a millimetre
    double offsetY = 0;

    int column(double x) const { return roundHalfEven((x - offsetX) * factorX); }
    int row(double y) const { return roundHalfEven((y - offsetY) * factorY); }
    int width(double length) const { return roundHalfEven(length * factorX); }
    int height(double length) const { return roundHalfEven(length * factorY); }
    // The device's pixels per inch, horizontally and vertically.
    double pixelsPerInchX() const { return factorX * kNativePerInch; }
    double pixelsPerInchY() const { return factorY * kNativePerInch; }
};

} // namespace report
} // namespace lv26
