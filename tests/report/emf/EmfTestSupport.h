#pragma once

// Small verbs shared by the metafile tests: build raw records, read fields, render pages.

#include "report/emf/EmfPlayer.h"

#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <cstring>
#include <vector>

namespace emftest {

inline void useLiberationFonts() {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

// Field at off, or 0 when it does not lie inside b.
inline quint32 u32At(const QByteArray& b, qsizetype off) {
    quint32 v = 0;
    if (off >= 0 && off + 4 <= b.size())
        std::memcpy(&v, b.constData() + off, 4);
    return qFromLittleEndian(v);
}
inline qint32 i32At(const QByteArray& b, qsizetype off) {
    return qint32(u32At(b, off));
}

struct RecordInfo {
    quint32 type;
    quint32 size;
    qsizetype offset;
};

// The records of a well-formed metafile, header and end record included.
inline std::vector<RecordInfo> records(const QByteArray& emf) {
    std::vector<RecordInfo> out;
    qsizetype off = 0;
    while (off + 8 <= emf.size()) {
        const RecordInfo r{u32At(emf, off), u32At(emf, off + 4), off};
        out.push_back(r);
        if (r.size < 8 || r.type == 14)
            break;
        off += r.size;
    }
    return out;
}

// Raw record bytes for hand-made metafiles.
class Rec {
public:
    explicit Rec(quint32 type) { u32(type).u32(0); }
    Rec& u32(quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes_.append(b, 4);
        return *this;
    }
    Rec& i32(qint32 v) { return u32(quint32(v)); }
    Rec& i16(qint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        bytes_.append(b, 2);
        return *this;
    }
    Rec& f32(float v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes_.append(b, 4);
        return *this;
    }
    Rec& rect(int l, int t, int r, int b) { return i32(l).i32(t).i32(r).i32(b); }
    QByteArray bytes() const {
        QByteArray b = bytes_;
        while (b.size() % 4)
            b.append('\0');
        qToLittleEndian(quint32(b.size()), b.data() + 4);
        return b;
    }

private:
    QByteArray bytes_;
};

// A metafile of a device of w x h pixels at 96 dpi whose frame is the whole device, holding
// the given records between its header and end record.
inline QByteArray metafile(int w, int h, const std::vector<Rec>& body) {
    Rec header(1);
    header.rect(0, 0, w - 1, h - 1);
    header.rect(0, 0, w * 2540 / 96, h * 2540 / 96);
    header.u32(0x464D4520).u32(0x10000).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
    header.i32(w).i32(h).i32(w * 254 / 960).i32(h * 254 / 960);
    header.u32(0).u32(0).u32(0).i32(w * 25400 / 96).i32(h * 25400 / 96);
    QByteArray out = header.bytes();
    for (const Rec& r : body)
        out += r.bytes();
    Rec eof(14);
    eof.u32(0).u32(16).u32(20);
    out += eof.bytes();
    qToLittleEndian(quint32(out.size()), out.data() + 48);
    qToLittleEndian(quint32(body.size() + 2), out.data() + 52);
    qToLittleEndian(quint16(16), out.data() + 56);
    return out;
}

// Plays emf onto a white image of size, its frame filling the whole image.
inline QImage render(const QByteArray& emf, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    lv26::playEmf(emf, p, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

// Number of pixels in rect whose colour is within tolerance of colour.
inline int countNear(const QImage& image, const QRect& rect, QColor colour, int tolerance = 60) {
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                    std::abs(c.blue() - colour.blue()) <=
                tolerance)
                ++n;
        }
    return n;
}

// Number of pixels in rect that are not white.
inline int inked(const QImage& image, const QRect& rect) {
    return rect.intersected(image.rect()).width() * rect.intersected(image.rect()).height() -
           countNear(image, rect, Qt::white, 30);
}

} // namespace emftest
