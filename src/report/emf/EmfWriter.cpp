#include "report/emf/EmfWriter.h"

#include "report/emf/EmfFormat.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QVarLengthArray>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace lv26 {

using namespace emf;

namespace {

quint32 colorRef(const QColor& c) {
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

// One record under construction; its size field is filled in when it is appended. Built on
// the stack: a page is thousands of small records.
class Record {
public:
    explicit Record(quint32 type) {
        u32(type);
        u32(0);
    }
    Record& u32(quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes_.append(b, 4);
        return *this;
    }
    Record& i32(qint32 v) { return u32(quint32(v)); }
    Record& u8(quint8 v) {
        bytes_.append(char(v));
        return *this;
    }
    Record& f32(float v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes_.append(b, 4);
        return *this;
    }
    Record& rect(const EmfRect& r) { return i32(r.left).i32(r.top).i32(r.right).i32(r.bottom); }
    Record& utf16(const QString& s) {
        const qsizetype at = bytes_.size();
        bytes_.resize(at + 2 * s.size());
        qToLittleEndian<quint16>(s.utf16(), s.size(), bytes_.data() + at);
        return *this;
    }
    Record& zeros(int n) {
        bytes_.resize(bytes_.size() + std::max(0, n), '\0');
        return *this;
    }
    Record& pad4() { return zeros(int((4 - bytes_.size() % 4) % 4)); }
    qsizetype size() const { return bytes_.size(); }
    // Pads the record and fills in its size; the bytes stay valid while the record lives.
    const char* finish() {
        pad4();
        qToLittleEndian(quint32(bytes_.size()), bytes_.data() + 4);
        return bytes_.constData();
    }

private:
    QVarLengthArray<char, 256> bytes_;
};

QFont qtFont(const EmfFont& f) {
    QFont q(f.face);
    q.setPixelSize(std::max(1, f.heightPx));
    q.setWeight(f.bold ? QFont::Bold : QFont::Normal);
    q.setItalic(f.italic);
    q.setUnderline(f.underline);
    q.setStrikeOut(f.strikeOut);
    q.setKerning(false);
    return q;
}

// Advance of each UTF-16 unit, so that the rounded positions never drift from the exact sum;
// the second unit of a surrogate pair advances 0.
// Advances of single characters (or surrogate pairs) and the rounded ascent and descent of the
// few fonts a page draws in: a listing draws the same few characters over and over in two or
// three fonts, and shaping each one, or measuring the font, is costly.
struct AdvanceCache {
    EmfFont font;
    QHash<quint64, qreal> advances;
    std::optional<std::pair<int, int>> ascentDescent;
};

AdvanceCache& advanceCache(const EmfFont& font) {
    thread_local std::vector<std::unique_ptr<AdvanceCache>> caches;
    thread_local AdvanceCache* last = nullptr;
    if (last && last->font == font)
        return *last;
    for (const auto& cache : caches) {
        if (cache->font == font)
            return *(last = cache.get());
    }
    if (caches.size() >= 16) {
        caches.clear();
        last = nullptr;
    }
    caches.push_back(std::make_unique<AdvanceCache>());
    caches.back()->font = font;
    return *(last = caches.back().get());
}

// The font's ascent and descent rounded to pixels; `font` is qtFont(`emfFont`).
std::pair<int, int> ascentDescent(const EmfFont& emfFont, const QFont& font) {
    AdvanceCache& cache = advanceCache(emfFont);
    if (!cache.ascentDescent) {
        const QFontMetricsF fm(font);
        cache.ascentDescent = {int(std::lround(fm.ascent())), int(std::lround(fm.descent()))};
    }
    return *cache.ascentDescent;
}

qreal characterAdvance(AdvanceCache& cache, std::optional<QFontMetricsF>& fm, const QFont& font,
                       const QString& text, qsizetype i, bool pair) {
    const quint64 key =
        pair ? (quint64(1) << 40) | (quint64(text[i].unicode()) << 16) | text[i + 1].unicode()
             : quint64(text[i].unicode());
    const auto it = cache.advances.constFind(key);
    if (it != cache.advances.constEnd())
        return *it;
    if (!fm)
        fm.emplace(font);
    const qreal advance = fm->horizontalAdvance(text.mid(i, pair ? 2 : 1));
    cache.advances.insert(key, advance);
    return advance;
}

// `font` is qtFont(`emfFont`).
using Advances = QVarLengthArray<qint32, 64>;

Advances characterAdvances(const EmfFont& emfFont, const QFont& font, const QString& text) {
    AdvanceCache& cache = advanceCache(emfFont);
    std::optional<QFontMetricsF> fm;
    Advances dx(text.size(), 0);
    qreal exact = 0;
    qint32 placed = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        exact += characterAdvance(cache, fm, font, text, i, pair);
        const qint32 pos = qint32(std::lround(exact));
        dx[i] = pos - placed;
        placed = pos;
        if (pair)
            ++i;
    }
    return dx;
}

} // namespace

struct EmfWriter::Impl {
    QByteArray out;
    quint32 records = 0;
    int width = 0;
    int height = 0;
    double dpiX = 96;
    double dpiY = 96;
    QString description;

    bool hasBounds = false;
    EmfRect bounds; // inclusive edges while recording

    std::vector<bool> slots{true}; // index 0 is reserved by the format
    EmfFont font;
    QFont measureFont = qtFont(EmfFont{});
    quint32 fontHandle = 0;
    QColor textColor;
    bool textColorSet = false;
    quint32 textAlign = 0;
    quint32 brushHandle = 0;
    QColor brushColor;
    quint32 penHandle = 0;
    QColor penColor;
    int penWidth = 0;
    enum class Pen { Stock, Null, Own } selectedPen = Pen::Stock;

    void append(Record& r) {
        const char* bytes = r.finish();
        out.append(bytes, r.size());
        ++records;
    }
    void include(int l, int t, int r, int b) { // inclusive edges
        if (r < l || b < t)
            return;
        if (!hasBounds) {
            bounds = {l, t, r, b};
            hasBounds = true;
            return;
        }
        bounds.left = std::min(bounds.left, l);
        bounds.top = std::min(bounds.top, t);
        bounds.right = std::max(bounds.right, r);
        bounds.bottom = std::max(bounds.bottom, b);
    }
    quint32 allocateSlot() {
        auto it = std::find(slots.begin() + 1, slots.end(), false);
        if (it != slots.end()) {
            *it = true;
            return quint32(it - slots.begin());
        }
        slots.push_back(true);
        return quint32(slots.size() - 1);
    }
    void selectObject(quint32 handle) {
        Record r(EMR_SELECTOBJECT);
        r.u32(handle);
        append(r);
    }
    void deleteObject(quint32 handle) {
        if (handle == 0)
            return;
        Record r(EMR_DELETEOBJECT);
        r.u32(handle);
        append(r);
        slots[handle] = false;
    }
    // Creates with create(handle), selects the new object, then deletes the old one, so
    // that an object is never deleted while selected.
    template <typename Create> void replaceObject(quint32& handle, Create create) {
        const quint32 fresh = allocateSlot();
        create(fresh);
        selectObject(fresh);
        deleteObject(handle);
        handle = fresh;
    }
    void simple(quint32 type, quint32 value) {
        Record r(type);
        r.u32(value);
        append(r);
    }
    void writeFont(quint32 handle, const EmfFont& f) {
        Record r(EMR_EXTCREATEFONTINDIRECTW);
        r.u32(handle);
        // LOGFONTW: height (negative: character height), width, escapement, orientation
        r.i32(-std::max(1, f.heightPx)).i32(0).i32(0).i32(0);
        r.i32(f.bold ? FW_BOLD : FW_NORMAL);
        r.u8(f.italic).u8(f.underline).u8(f.strikeOut).u8(f.charset);
        r.u8(0).u8(0).u8(0).u8(0); // output and clip precision, quality, pitch and family
        const QString face = f.face.left(31);
        r.utf16(face).zeros(2 * (32 - int(face.size())));
        // the rest of the panose form: full name, style, six 32-bit fields, panose, padding
        r.zeros(int(kLogFontPanoseSize - kLogFontSize));
        append(r);
    }
};

EmfWriter::EmfWriter() : d_(std::make_unique<Impl>()) {}
EmfWriter::~EmfWriter() = default;

void EmfWriter::beginPage(int widthPx, int heightPx, double dpiX, double dpiY,
                          const QString& description) {
    d_ = std::make_unique<Impl>();
    Impl& d = *d_;
    d.width = std::max(1, widthPx);
    d.height = std::max(1, heightPx);
    d.dpiX = dpiX > 0 ? dpiX : 96;
    d.dpiY = dpiY > 0 ? dpiY : 96;
    d.description = description;
    d.measureFont = qtFont(d.font);
    recording_ = true;

    // The header's counts and bounds are completed by endPage.
    Record h(EMR_HEADER);
    h.rect({0, 0, -1, -1});
    h.rect({0, 0, int(std::lround(d.width * 2540.0 / d.dpiX)),
            int(std::lround(d.height * 2540.0 / d.dpiY))});
    h.u32(kSignature).u32(kVersion);
    h.u32(0).u32(0); // bytes, records
    h.u32(0);        // handles (16 bits) and reserved
    const QString text = description.isEmpty() || description.endsWith(QChar(0))
                             ? description
                             : description + QChar(0);
    h.u32(quint32(text.size()));
    h.u32(text.isEmpty() ? 0 : kHeaderWriterSize);
    h.u32(0); // palette entries
    h.i32(d.width).i32(d.height);
    h.i32(int(std::lround(d.width * 25.4 / d.dpiX)))
        .i32(int(std::lround(d.height * 25.4 / d.dpiY)));
    h.u32(0).u32(0).u32(0); // pixel format size and offset, OpenGL flag
    h.i32(int(std::lround(d.width * 25400.0 / d.dpiX)))
        .i32(int(std::lround(d.height * 25400.0 / d.dpiY)));
    h.utf16(text);
    d.append(h);

    d.simple(EMR_SETBKMODE, TRANSPARENT);
}

void EmfWriter::setFont(const EmfFont& font) {
    Impl& d = *d_;
    if (!recording_ || (d.fontHandle != 0 && font == d.font))
        return;
    d.font = font;
    d.measureFont = qtFont(font);
    d.replaceObject(d.fontHandle, [&](quint32 h) { d.writeFont(h, font); });
}

void EmfWriter::setTextColor(const QColor& color) {
    Impl& d = *d_;
    if (!recording_ || (d.textColorSet && colorRef(color) == colorRef(d.textColor)))
        return;
    d.textColor = color;
    d.textColorSet = true;
    d.simple(EMR_SETTEXTCOLOR, colorRef(color));
}

int EmfWriter::textWidth(const QString& text) const {
    const Advances dx = characterAdvances(d_->font, d_->measureFont, text);
    qint64 sum = 0;
    for (qint32 v : dx)
        sum += v;
    return int(sum);
}

int EmfWriter::textHeight() const {
    const auto [ascent, descent] = ascentDescent(d_->font, d_->measureFont);
    return ascent + descent;
}

int EmfWriter::textOut(int x, int y, const QString& text, Qt::Alignment align,
                       const std::optional<EmfRect>& clip) {
    Impl& d = *d_;
    if (!recording_ || text.isEmpty())
        return 0;
    if (d.fontHandle == 0)
        setFont(d.font);
    quint32 mode = 0;
    if (align & Qt::AlignRight)
        mode |= TA_RIGHT;
    else if (align & Qt::AlignHCenter)
        mode |= TA_CENTER;
    if (align & Qt::AlignBaseline)
        mode |= TA_BASELINE;
    else if (align & Qt::AlignBottom)
        mode |= TA_BOTTOM;
    if (mode != d.textAlign) {
        d.textAlign = mode;
        d.simple(EMR_SETTEXTALIGN, mode);
    }

    const Advances dx = characterAdvances(d.font, d.measureFont, text);
    qint64 width = 0;
    for (qint32 v : dx)
        width += v;
    const auto [ascent, descent] = ascentDescent(d.font, d.measureFont);
    int left = x;
    if ((mode & TA_CENTER) == TA_CENTER)
        left = x - int(width / 2);
    else if (mode & TA_RIGHT)
        left = x - int(width);
    int top = y;
    if ((mode & TA_BASELINE) == TA_BASELINE)
        top = y - ascent;
    else if (mode & TA_BOTTOM)
        top = y - ascent - descent;
    EmfRect box{left, top, left + int(width) - 1, top + ascent + descent - 1};
    if (clip) {
        box.left = std::max(box.left, clip->left);
        box.top = std::max(box.top, clip->top);
        box.right = std::min(box.right, clip->right - 1);
        box.bottom = std::min(box.bottom, clip->bottom - 1);
    }
    d.include(box.left, box.top, box.right, box.bottom);

    const quint32 stringBytes = quint32(text.size()) * 2;
    Record r(EMR_EXTTEXTOUTW);
    r.rect(box.right >= box.left && box.bottom >= box.top ? box : EmfRect{0, 0, -1, -1});
    r.u32(GM_COMPATIBLE);
    r.f32(float(2540.0 / d.dpiX)).f32(float(2540.0 / d.dpiY));
    r.i32(x).i32(y);
    r.u32(quint32(text.size()));
    r.u32(kExtTextOutFixedSize);
    r.u32(clip ? quint32(ETO_CLIPPED) : 0u);
    r.rect(clip ? *clip : EmfRect{0, 0, -1, -1});
    r.u32(kExtTextOutFixedSize + (stringBytes + 3) / 4 * 4);
    r.utf16(text).pad4();
    for (qint32 v : dx)
        r.i32(v);
    d.append(r);
    return int(width);
}

void EmfWriter::fillRect(const EmfRect& rect, const QColor& color) {
    Impl& d = *d_;
    if (!recording_ || rect.right <= rect.left || rect.bottom <= rect.top)
        return;
    if (d.brushHandle == 0 || colorRef(color) != colorRef(d.brushColor)) {
        d.brushColor = color;
        d.replaceObject(d.brushHandle, [&](quint32 h) {
            Record r(EMR_CREATEBRUSHINDIRECT);
            r.u32(h).u32(BS_SOLID).u32(colorRef(color)).u32(0);
            d.append(r);
        });
    }
    if (d.selectedPen != Impl::Pen::Null) {
        d.selectObject(kStockObject | NULL_PEN);
        d.selectedPen = Impl::Pen::Null;
    }
    // Without an outline the format fills one pixel less than the box in each direction.
    Record r(EMR_RECTANGLE);
    r.rect({rect.left, rect.top, rect.right + 1, rect.bottom + 1});
    d.append(r);
    d.include(rect.left, rect.top, rect.right - 1, rect.bottom - 1);
}

void EmfWriter::line(int x1, int y1, int x2, int y2, const QColor& color, int widthPx) {
    Impl& d = *d_;
    if (!recording_)
        return;
    const int width = std::max(1, widthPx);
    if (d.penHandle == 0 || width != d.penWidth || colorRef(color) != colorRef(d.penColor)) {
        d.penColor = color;
        d.penWidth = width;
        d.replaceObject(d.penHandle, [&](quint32 h) {
            Record r(EMR_CREATEPEN);
            r.u32(h).u32(PS_SOLID).i32(width).i32(0).u32(colorRef(color));
            d.append(r);
        });
        d.selectedPen = Impl::Pen::Own;
    } else if (d.selectedPen != Impl::Pen::Own) {
        d.selectObject(d.penHandle);
        d.selectedPen = Impl::Pen::Own;
    }
    Record move(EMR_MOVETOEX);
    move.i32(x1).i32(y1);
    d.append(move);
    Record to(EMR_LINETO);
    to.i32(x2).i32(y2);
    d.append(to);
    const int before = (width - 1) / 2;
    const int after = width / 2;
    d.include(std::min(x1, x2) - before, std::min(y1, y2) - before, std::max(x1, x2) + after,
              std::max(y1, y2) + after);
}

void EmfWriter::frameRect(const EmfRect& rect, Qt::Edges sides, const QColor& color, int barWidthX,
                          int barWidthY) {
    if (sides & Qt::LeftEdge)
        fillRect({rect.left, rect.top, rect.left + barWidthX, rect.bottom}, color);
    if (sides & Qt::TopEdge)
        fillRect({rect.left, rect.top, rect.right, rect.top + barWidthY}, color);
    if (sides & Qt::RightEdge)
        fillRect({rect.right - barWidthX, rect.top, rect.right, rect.bottom}, color);
    if (sides & Qt::BottomEdge)
        fillRect({rect.left, rect.bottom - barWidthY, rect.right, rect.bottom}, color);
}

QByteArray EmfWriter::endPage() {
    if (!recording_)
        return {};
    Impl& d = *d_;
    recording_ = false;
    if (d.selectedPen != Impl::Pen::Stock)
        d.selectObject(kStockObject | BLACK_PEN);
    if (d.brushHandle != 0)
        d.selectObject(kStockObject | WHITE_BRUSH);
    if (d.fontHandle != 0)
        d.selectObject(kStockObject | SYSTEM_FONT);
    d.deleteObject(d.penHandle);
    d.deleteObject(d.brushHandle);
    d.deleteObject(d.fontHandle);

    Record eof(EMR_EOF);
    eof.u32(0).u32(16).u32(20); // no palette; offset of the (empty) palette; own size
    d.append(eof);

    char* h = d.out.data();
    const EmfRect b = d.hasBounds ? d.bounds : EmfRect{0, 0, -1, -1};
    qToLittleEndian(qint32(b.left), h + 8);
    qToLittleEndian(qint32(b.top), h + 12);
    qToLittleEndian(qint32(b.right), h + 16);
    qToLittleEndian(qint32(b.bottom), h + 20);
    qToLittleEndian(quint32(d.out.size()), h + 48);
    qToLittleEndian(d.records, h + 52);
    qToLittleEndian(quint16(d.slots.size()), h + 56);
    QByteArray page = d.out;
    d_ = std::make_unique<Impl>();
    return page;
}

} // namespace lv26
