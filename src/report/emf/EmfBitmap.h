#pragma once

// Decoding of the device-independent bitmaps that STRETCHDIBITS records carry.

#include "report/emf/EmfReader.h"

#include <QImage>

namespace lv26::emf {

// Where a record keeps its bitmap: the info header with its colour table, and the pixels, as
// offsets from the record's start and sizes in bytes.
struct DibLocation {
    quint32 infoOffset = 0;
    quint32 infoSize = 0;
    quint32 bitsOffset = 0;
    quint32 bitsSize = 0;
};

// Largest bitmap decoded, in pixels.
constexpr qint64 kMaxDibPixels = 16 * 1024 * 1024;

// Decodes the bitmap at where inside record: uncompressed, 1, 4, 8, 24 or 32 bits per pixel,
// top-down or bottom-up, at most kMaxDibPixels. Returns it as an RGB32 image (top row first), or a
// null image for an info block under 40 bytes or any bitmap it does not decode. Throws
// MalformedRecord when an info block of 40 bytes or more, or the pixel block, does not lie inside
// the record. Reads nothing outside the two blocks.
QImage decodeDib(const RecordReader& record, const DibLocation& where);

} // namespace lv26::emf
