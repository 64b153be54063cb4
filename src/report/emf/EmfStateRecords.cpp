// State records: the mapping (map mode, window, viewport, world transform), attributes (colours,
// modes, alignment, saved states) and the object table.

#include "report/emf/EmfPlayback.h"

#include <cmath>

namespace lv26::emf {

namespace {

bool validExtent(double w, double h) {
    return w != 0 && h != 0 && std::isfinite(w) && std::isfinite(h);
}

// The transform of the six floats at off into out; false (out unchanged) when a value is not finite
// or beyond 1e9, false (out set) when the transform cannot be inverted.
bool readWorldTransform(const RecordReader& r, quint64 off, QTransform& out) {
    float v[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = r.f32(off + 4 * quint64(i));
        if (!std::isfinite(v[i]) || std::abs(v[i]) > 1e9f)
            return false;
    }
    out = QTransform(v[0], v[1], v[2], v[3], v[4], v[5]);
    return std::isnormal(out.determinant());
}

// SCALEWINDOWEXTEX and SCALEVIEWPORTEXTEX: ext times xNum / xDenom and yNum / yDenom, kept unless
// that gives a usable extent.
void scaleExtent(const RecordReader& r, QSizeF& ext) {
    const double xn = r.i32(8), xd = r.i32(12), yn = r.i32(16), yd = r.i32(20);
    if (xd != 0 && yd != 0) {
        const QSizeF scaled(ext.width() * xn / xd, ext.height() * yn / yd);
        if (validExtent(scaled.width(), scaled.height()))
            ext = scaled;
    }
}

} // namespace

bool Playback::playMappingRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_SETWINDOWEXTEX:
    case EMR_SETVIEWPORTEXTEX: {
        const QSizeF ext(r.i32(8), r.i32(12));
        if (validExtent(ext.width(), ext.height()))
            (type == EMR_SETWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt) = ext;
        return true;
    }
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX:
        scaleExtent(r, type == EMR_SCALEWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt);
        return true;
    case EMR_SETWINDOWORGEX:
        dc_.windowOrg = r.point32(8);
        return true;
    case EMR_SETVIEWPORTORGEX:
        dc_.viewportOrg = r.point32(8);
        return true;
    case EMR_SETMAPMODE: {
        const quint32 mode = r.u32(8);
        if (mode >= MM_TEXT && mode <= MM_ANISOTROPIC)
            dc_.mapMode = mode;
        return true;
    }
    case EMR_SETWORLDTRANSFORM: {
        QTransform t;
        if (readWorldTransform(r, 8, t)) {
            dc_.world = t;
            dc_.hasWorld = !t.isIdentity();
        }
        return true;
    }
    case EMR_MODIFYWORLDTRANSFORM:
        modifyWorldTransform(r);
        return true;
    default:
        return false;
    }
}

void Playback::modifyWorldTransform(const RecordReader& r) {
    QTransform t;
    const bool ok = readWorldTransform(r, 8, t);
    const quint32 mode = r.u32(32);
    if (mode == MWT_IDENTITY)
        dc_.world = QTransform();
    else if (ok && mode == MWT_LEFTMULTIPLY)
        dc_.world = t * dc_.world;
    else if (ok && mode == MWT_RIGHTMULTIPLY)
        dc_.world = dc_.world * t;
    else if (ok && mode == MWT_SET)
        dc_.world = t;
    if (!std::isnormal(dc_.world.determinant()))
        dc_.world = QTransform();
    dc_.hasWorld = !dc_.world.isIdentity();
}

bool Playback::playAttributeRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_SETBKMODE:
        dc_.bkMode = r.u32(8);
        return true;
    case EMR_SETPOLYFILLMODE:
        dc_.polyFill = r.u32(8);
        return true;
    case EMR_SETTEXTALIGN:
        dc_.textAlign = r.u32(8);
        return true;
    case EMR_SETTEXTCOLOR:
        dc_.textColor = fromColorRef(r.u32(8));
        return true;
    case EMR_SETBKCOLOR:
        dc_.bkColor = fromColorRef(r.u32(8));
        return true;
    case EMR_SAVEDC:
        if (saved_.size() < size_t(kMaxSaveDepth))
            saved_.push_back(dc_);
        return true;
    case EMR_RESTOREDC:
        restoreDc(r.i32(8));
        return true;
    default:
        return false;
    }
}

// Goes back to the state saved -relative SAVEDC records ago; other values are ignored.
void Playback::restoreDc(qint32 relative) {
    if (relative < 0 && quint64(-qint64(relative)) <= saved_.size()) {
        saved_.resize(saved_.size() - size_t(-qint64(relative)) + 1);
        dc_ = saved_.back();
        saved_.pop_back();
        applyClip();
    }
}

bool Playback::playObjectRecord(quint32 type, const RecordReader& r) {
    switch (type) {
    case EMR_SELECTOBJECT:
        selectObject(r.u32(8));
        return true;
    case EMR_DELETEOBJECT:
        if (Object* o = objects_.slot(r.u32(8)))
            *o = std::monostate{};
        return true;
    case EMR_CREATEPEN: {
        const PenObj pen = readPen(r);
        objects_.store(r.u32(8), pen);
        return true;
    }
    case EMR_EXTCREATEPEN: {
        const PenObj pen = readExtPen(r);
        objects_.store(r.u32(8), pen);
        return true;
    }
    case EMR_CREATEBRUSHINDIRECT: {
        const BrushObj brush = readBrush(r);
        objects_.store(r.u32(8), brush);
        return true;
    }
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: {
        BrushObj pattern;
        pattern.style = kPatternBrushStyle;
        objects_.store(r.u32(8), pattern);
        return true;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
        const FontObj font = readFont(r);
        objects_.store(r.u32(8), font);
        return true;
    }
    default:
        return false;
    }
}

void Playback::selectObject(quint32 index) {
    if (index & kStockObject) {
        const quint32 stock = index & ~kStockObject;
        if (stock <= NULL_BRUSH || stock == DC_BRUSH)
            dc_.brush = stockBrush(stock == DC_BRUSH ? WHITE_BRUSH : stock);
        else if ((stock >= WHITE_PEN && stock <= NULL_PEN) || stock == DC_PEN)
            dc_.pen = stockPen(stock == DC_PEN ? BLACK_PEN : stock);
        else if (stock >= 10 && stock <= 17) // the stock fonts
            dc_.font = FontObj{};
        return;
    }
    Object* o = objects_.slot(index);
    if (!o)
        return;
    if (auto* p = std::get_if<PenObj>(o))
        dc_.pen = *p;
    else if (auto* b = std::get_if<BrushObj>(o))
        dc_.brush = *b;
    else if (auto* f = std::get_if<FontObj>(o))
        dc_.font = *f;
}

} // namespace lv26::emf
