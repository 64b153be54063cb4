#include "report/emf/EmfDeviceContext.h"

#include <algorithm>

namespace lv26::emf {

std::pair<double, double> stretchRange(const QTransform& t) {
    const double sum = t.m11() * t.m11() + t.m12() * t.m12() + t.m21() * t.m21() +
                       t.m22() * t.m22(); // the sum of the two values squared
    const double product = std::abs(t.m11() * t.m22() - t.m12() * t.m21());
    const double spread = std::sqrt(std::max(0.0, sum * sum - 4 * product * product));
    return {std::sqrt(std::max(0.0, (sum - spread) / 2)), std::sqrt((sum + spread) / 2)};
}

QTransform pageTransform(const DcState& dc, QSizeF pxPerMm) {
    double sx = 1, sy = 1;
    const double mmPerUnit[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
    switch (dc.mapMode) {
    case MM_LOMETRIC:
    case MM_HIMETRIC:
    case MM_LOENGLISH:
    case MM_HIENGLISH:
    case MM_TWIPS:
        sx = mmPerUnit[dc.mapMode] * pxPerMm.width();
        sy = -mmPerUnit[dc.mapMode] * pxPerMm.height();
        break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        sx = dc.viewportExt.width() / dc.windowExt.width();
        sy = dc.viewportExt.height() / dc.windowExt.height();
        if (dc.mapMode == MM_ISOTROPIC) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default:
        break;
    }
    return QTransform(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx,
                      dc.viewportOrg.y() - dc.windowOrg.y() * sy);
}

} // namespace lv26::emf
