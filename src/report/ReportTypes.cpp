#include "report/ReportTypes.h"

#include <cmath>
#include <limits>

namespace lv26::report {

int roundHalfEven(double x) {
    if (std::isnan(x))
        return 0;
    const double r = std::nearbyint(x); // the default rounding mode: halves to even
    if (r >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}

QSizeF paperTableSize(TPaperSize size) {
    switch (size) {
    case TPaperSize::Letter:
        return {2159, 2794};
    case TPaperSize::A4:
        return {2100, 2970};
    case TPaperSize::Default:
    case TPaperSize::Custom:
        break;
    }
    return {0, 0};
}

int fontPixelHeight(double pointSize, double pixelsPerInch) {
    return int(std::floor(pointSize * pixelsPerInch / 72.0 + 0.5));
}

QFont toQFont(const TReportFont& font, double pixelsPerInch) {
    QFont f(font.name);
    f.setPixelSize(qMax(1, fontPixelHeight(font.size, pixelsPerInch)));
    f.setBold(font.bold);
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikeOut);
    return f;
}

} // namespace lv26::report
