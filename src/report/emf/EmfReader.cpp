#include "report/emf/EmfReader.h"

#include <algorithm>
#include <cmath>

namespace lv26 {

using namespace emf;

QRectF EmfHeaderInfo::framePx() const {
    const double umX = deviceUm.width() > 0 ? deviceUm.width() : deviceMm.width() * 1000.0;
    const double umY = deviceUm.height() > 0 ? deviceUm.height() : deviceMm.height() * 1000.0;
    const double kx = devicePx.width() * 10.0 / umX; // pixels per 0.01 mm
    const double ky = devicePx.height() * 10.0 / umY;
    return QRectF(frame.left * kx, frame.top * ky, (double(frame.right) - frame.left) * kx,
                  (double(frame.bottom) - frame.top) * ky);
}

std::optional<quint32> emfByteCount(const char* data, qsizetype size) {
    if (!data || size < qsizetype(kHeaderBaseSize))
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(data);
    const quint32 type = qFromLittleEndian<quint32>(p);
    const quint32 headerSize = qFromLittleEndian<quint32>(p + 4);
    const quint32 signature = qFromLittleEndian<quint32>(p + 40);
    const quint32 bytes = qFromLittleEndian<quint32>(p + 48);
    if (type != EMR_HEADER || signature != kSignature || headerSize < kHeaderBaseSize ||
        headerSize % 4 != 0 || bytes < headerSize || bytes % 4 != 0 || bytes > 0x7FFFFFF0u)
        return std::nullopt;
    return bytes;
}

namespace {

// Reads the description into header and returns where the fixed part of the header ends (the
// description, when there is one, starts the variable part); nullopt when the description does not
// lie inside the header. Requires a header of headerSize bytes at p.
std::optional<quint64> readDescription(const uchar* p, quint32 headerSize, EmfHeaderInfo& h) {
    const quint32 chars = qFromLittleEndian<quint32>(p + 60);
    const quint32 offDescription = qFromLittleEndian<quint32>(p + 64);
    quint64 fixedEnd = headerSize;
    if (chars > 0) {
        if (offDescription < kHeaderBaseSize ||
            quint64(offDescription) + 2 * quint64(chars) > headerSize)
            return std::nullopt;
        fixedEnd = std::min<quint64>(fixedEnd, offDescription);
        for (quint32 i = 0; i < chars; ++i)
            h.description.append(QChar(qFromLittleEndian<quint16>(p + offDescription + 2 * i)));
    }
    return fixedEnd;
}

// Reads the micrometre size of the reference device when the fixed part of the header holds it. It
// refines the millimetre size; one that contradicts it is ignored.
void readMicrometreSize(const uchar* p, quint64 fixedEnd, EmfHeaderInfo& h) {
    auto u32 = [p](int off) { return qFromLittleEndian<quint32>(p + off); };
    auto i32 = [p](int off) { return qFromLittleEndian<qint32>(p + off); };
    if (fixedEnd >= 100 && u32(88) > 0) // a pixel format starts the variable part
        fixedEnd = std::min<quint64>(fixedEnd, std::max<quint32>(u32(92), 100));
    if (fixedEnd >= kHeaderWriterSize && std::abs(i32(100) - h.deviceMm.width() * 1000.0) < 1000 &&
        std::abs(i32(104) - h.deviceMm.height() * 1000.0) < 1000)
        h.deviceUm = QSize(i32(100), i32(104));
}

} // namespace

std::optional<EmfHeaderInfo> readEmfHeader(const QByteArray& bytes) {
    const std::optional<quint32> total = emfByteCount(bytes.constData(), bytes.size());
    if (!total || *total > quint64(bytes.size()))
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    auto u32 = [p](int off) { return qFromLittleEndian<quint32>(p + off); };
    auto i32 = [p](int off) { return qFromLittleEndian<qint32>(p + off); };
    EmfHeaderInfo h;
    const quint32 headerSize = u32(4);
    h.bounds = {i32(8), i32(12), i32(16), i32(20)};
    h.frame = {i32(24), i32(28), i32(32), i32(36)};
    h.bytes = *total;
    h.records = u32(52);
    h.handles = qFromLittleEndian<quint16>(p + 56);
    h.devicePx = QSize(i32(72), i32(76));
    h.deviceMm = QSize(i32(80), i32(84));
    if (h.devicePx.width() <= 0 || h.devicePx.height() <= 0 || h.deviceMm.width() <= 0 ||
        h.deviceMm.height() <= 0)
        return std::nullopt;
    const std::optional<quint64> fixedEnd = readDescription(p, headerSize, h);
    if (!fixedEnd)
        return std::nullopt;
    readMicrometreSize(p, *fixedEnd, h);
    return h;
}

namespace emf {

EmfHeaderInfo readFramedMetafile(const QByteArray& bytes) {
    const std::optional<EmfHeaderInfo> header = readEmfHeader(bytes);
    if (!header)
        throw EMetafileError();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    quint64 offset = qFromLittleEndian<quint32>(data + 4);
    bool ended = false;
    while (offset + 8 <= header->bytes) {
        const quint32 type = qFromLittleEndian<quint32>(data + offset);
        const quint32 size = qFromLittleEndian<quint32>(data + offset + 4);
        if (size < 8 || size % 4 != 0 || offset + size > header->bytes)
            throw EMetafileError();
        offset += size;
        if (type == EMR_EOF) {
            ended = true;
            break;
        }
    }
    if (!ended && offset != header->bytes)
        throw EMetafileError();
    return *header;
}

} // namespace emf

} // namespace lv26
