#pragma once

// Reading an enhanced metafile safely: its header, the framing of its records and bounds-checked
// access to the fields of one record. Nothing here reads outside the bytes.

#include "report/emf/EmfFormat.h"
#include "report/emf/EmfPlayer.h"

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QtEndian>

namespace lv26::emf {

// Thrown for a record whose fields do not fit its size; validateEmf and playEmf turn it into
// EMetafileError.
struct MalformedRecord {};

// Little-endian fields of one record, at byte offsets from the record's start. Every read checks
// that it lies inside the record's size and throws MalformedRecord otherwise. Does not own the
// bytes, which must outlive the reader.
class RecordReader {
public:
    RecordReader(const uchar* data, quint32 size) : p_(data), size_(size) {}
    quint32 size() const { return size_; }
    // Throws MalformedRecord unless bytes [offset, offset + bytes) lie inside the record.
    void need(quint64 offset, quint64 bytes) const {
        if (offset + bytes > size_)
            throw MalformedRecord{};
    }
    quint32 u32(quint64 off) const {
        need(off, 4);
        return qFromLittleEndian<quint32>(p_ + off);
    }
    qint32 i32(quint64 off) const { return qint32(u32(off)); }
    qint16 i16(quint64 off) const {
        need(off, 2);
        return qFromLittleEndian<qint16>(p_ + off);
    }
    quint16 u16(quint64 off) const { return quint16(i16(off)); }
    quint8 u8(quint64 off) const {
        need(off, 1);
        return p_[off];
    }
    float f32(quint64 off) const {
        need(off, 4);
        return qFromLittleEndian<float>(p_ + off);
    }
    QPointF point32(quint64 off) const { return QPointF(i32(off), i32(off + 4)); }
    QPointF point16(quint64 off) const { return QPointF(i16(off), i16(off + 2)); }
    // Left, top, right, bottom as 32-bit integers, returned as a normalized rectangle.
    QRectF box(quint64 off) const {
        return QRectF(QPointF(i32(off), i32(off + 4)), QPointF(i32(off + 8), i32(off + 12)))
            .normalized();
    }
    // The n bytes at off, checked to lie inside the record.
    const uchar* bytes(quint64 off, quint64 n) const {
        need(off, n);
        return p_ + off;
    }

private:
    const uchar* p_;
    quint32 size_;
};

// Reads the header (readEmfHeader) and checks the framing of every record: each at least 8 bytes, a
// multiple of 4 and inside the byte count, and the records either reaching EMR_EOF or ending
// exactly at the byte count. Does not look inside the records. Throws EMetafileError when any of
// that fails.
EmfHeaderInfo readFramedMetafile(const QByteArray& bytes);

// Calls visit(type, RecordReader) for every record after the header, in order, up to (not
// including) EMR_EOF or the end of the byte count. Requires bytes whose framing readFramedMetafile
// accepted, with header read from them.
template <typename Visit>
void forEachRecord(const QByteArray& bytes, const EmfHeaderInfo& header, Visit&& visit) {
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    quint64 offset = qFromLittleEndian<quint32>(data + 4);
    while (offset + 8 <= header.bytes) {
        const quint32 type = qFromLittleEndian<quint32>(data + offset);
        const quint32 size = qFromLittleEndian<quint32>(data + offset + 4);
        if (type == EMR_EOF)
            return;
        visit(type, RecordReader(data + offset, size));
        offset += size;
    }
}

} // namespace lv26::emf
