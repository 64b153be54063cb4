#include "report/emf/EmfBitmap.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <vector>

namespace lv26::emf {

namespace {

constexpr quint32 kInfoHeaderMinSize = 40;

// The layout of a bitmap the decoder handles, read from its info header.
struct DibFormat {
    qint32 width = 0;
    qint64 height = 0;     // rows, always positive
    bool bottomUp = false; // the first row stored is the bottom one
    quint16 bitsPerPixel = 0;
    quint32 headerSize = 0; // the colour table follows the header
    quint32 colors = 0;     // entries in the colour table
    quint64 stride = 0;     // bytes per row, rows padded to 32 bits
};

bool supportedDepth(quint16 bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32;
}

// The format of the bitmap at where, or nullopt for one that is not decoded (compressed, of another
// depth, too large, or whose colour table or pixels do not fit their blocks). Requires both blocks
// checked to lie inside record.
std::optional<DibFormat> readDibFormat(const RecordReader& record, const DibLocation& where) {
    const quint32 off = where.infoOffset;
    const qint32 width = record.i32(off + 4);
    const qint32 rawHeight = record.i32(off + 8);
    const quint16 bpp = record.u16(off + 14);
    const quint32 compression = record.u32(off + 16);
    const quint32 headerSize = record.u32(off);
    quint32 colors = record.u32(off + 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT_MIN || compression != 0 ||
        headerSize < kInfoHeaderMinSize || headerSize > where.infoSize)
        return std::nullopt;
    const qint64 height = std::abs(qint64(rawHeight));
    if (qint64(width) * height > kMaxDibPixels || !supportedDepth(bpp))
        return std::nullopt;
    if (bpp <= 8 && colors == 0)
        colors = 1u << bpp;
    if (bpp > 8)
        colors = 0;
    if (colors > 256 || headerSize + quint64(colors) * 4 > where.infoSize)
        return std::nullopt;
    const quint64 stride = (quint64(width) * bpp + 31) / 32 * 4;
    if (stride * quint64(height) > where.bitsSize)
        return std::nullopt;
    return DibFormat{width, height, rawHeight > 0, bpp, headerSize, colors, stride};
}

// The colour table, entries stored as blue, green, red, reserved.
std::vector<QRgb> readColorTable(const RecordReader& record, const DibLocation& where,
                                 const DibFormat& format) {
    std::vector<QRgb> palette(format.colors);
    for (quint32 i = 0; i < format.colors; ++i) {
        const quint32 c = record.u32(where.infoOffset + format.headerSize + 4 * quint64(i));
        palette[i] = qRgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
    }
    return palette;
}

// Converts one stored row of pixels into out (format.width pixels).
void decodeRow(const uchar* line, const DibFormat& format, const std::vector<QRgb>& palette,
               QRgb* out) {
    const quint16 bpp = format.bitsPerPixel;
    for (qint32 x = 0; x < format.width; ++x) {
        if (bpp == 24 || bpp == 32) {
            const uchar* px = line + x * (bpp / 8);
            out[x] = qRgb(px[2], px[1], px[0]);
            continue;
        }
        const quint32 bitPos = quint32(x) * bpp;
        const quint32 index = (line[bitPos / 8] >> (8 - bpp - bitPos % 8)) & ((1u << bpp) - 1);
        out[x] = index < format.colors ? palette[index] : qRgb(0, 0, 0);
    }
}

} // namespace

QImage decodeDib(const RecordReader& record, const DibLocation& where) {
    if (where.infoSize < kInfoHeaderMinSize)
        return {};
    record.need(where.infoOffset, where.infoSize);
    record.need(where.bitsOffset, where.bitsSize);
    const std::optional<DibFormat> format = readDibFormat(record, where);
    if (!format)
        return {};
    const std::vector<QRgb> palette = readColorTable(record, where, *format);
    QImage image(format->width, int(format->height), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const quint64 rows = quint64(format->height);
    const uchar* bits = record.bytes(where.bitsOffset, format->stride * rows);
    for (quint64 row = 0; row < rows; ++row) {
        const quint64 stored = format->bottomUp ? rows - 1 - row : row;
        decodeRow(bits + format->stride * stored, *format, palette,
                  reinterpret_cast<QRgb*>(image.scanLine(int(row))));
    }
    return image;
}

} // namespace lv26::emf
