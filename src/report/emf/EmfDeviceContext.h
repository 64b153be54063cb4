#pragma once

// The drawing state a metafile's records change (selected objects, colours, modes, mapping, world
// transform, current position, clipping), and the limits that keep playing safe.

#include "report/emf/EmfObjects.h"

#include <QPainterPath>
#include <QPointF>
#include <QSizeF>
#include <QTransform>

#include <cmath>
#include <optional>
#include <utility>

namespace lv26::emf {

constexpr int kMaxSaveDepth = 1024;    // SAVEDC nesting
constexpr double kMaxCoordinate = 1e7; // device pixels; anything beyond is not drawn
constexpr double kRuleWidth = 4;       // device pixels: thinner filled sides are rules

inline bool sane(double v) {
    return std::isfinite(v) && std::abs(v) < kMaxCoordinate;
}
inline bool sane(const QRectF& r) {
    return sane(r.left()) && sane(r.top()) && sane(r.right()) && sane(r.bottom());
}

// How much t stretches lengths at most and at least, in any direction (the singular values of its
// linear part), as {least, most}: a shear can flatten a shape while stretching both axes.
std::pair<double, double> stretchRange(const QTransform& t);

// The factor by which t scales areas, as a length factor (square root of |determinant|).
inline double scaleOf(const QTransform& t) {
    return std::sqrt(std::abs(t.determinant()));
}

struct DcState {
    PenObj pen;
    BrushObj brush;
    FontObj font;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    quint32 bkMode = OPAQUE;
    quint32 textAlign = 0;
    quint32 polyFill = ALTERNATE;
    quint32 mapMode = MM_TEXT;
    QPointF windowOrg;
    QPointF viewportOrg;
    QSizeF windowExt{1, 1};
    QSizeF viewportExt{1, 1};
    QTransform world;
    QPointF position;                 // logical
    std::optional<QPainterPath> clip; // device pixels; none: unclipped
    bool hasWorld = false;
};

// The page part of the mapping of dc (map mode, window and viewport), from world to device pixels.
// pxPerMm: reference-device pixels per millimetre, for the metric and English modes.
QTransform pageTransform(const DcState& dc, QSizeF pxPerMm);

// The fill rule of dc's polygon fill mode.
inline Qt::FillRule fillRule(const DcState& dc) {
    return dc.polyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill;
}

} // namespace lv26::emf
