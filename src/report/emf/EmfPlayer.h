#pragma once

#include "base/Error.h"
#include "base/Messages.h"
#include "report/emf/EmfWriter.h"

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

class QPainter;

namespace lv26 {

// Raised for bytes that are not a valid enhanced metafile; the message is always
// "Metafile is not valid".
class EMetafileError : public Error {
public:
    EMetafileError() : Error(msg(Message::MetafileNotValid)) {}
    const char* className() const override { return "EMetafileError"; }
};

// The header of an enhanced metafile, as read and checked by readEmfHeader.
struct EmfHeaderInfo {
    EmfRect bounds;      // inclusive bounding box of the drawing, device pixels
    EmfRect frame;       // picture frame, 0.01 mm
    quint32 bytes = 0;   // size of the whole metafile
    quint32 records = 0; // number of records, header and end record included
    quint16 handles = 0; // size of the object table, index 0 included
    QSize devicePx;      // reference device, pixels
    QSize deviceMm;      // reference device, millimetres
    QSize deviceUm;      // reference device, micrometres (0 x 0 when the header has none)
    QString description; // as stored, NULs included

    // The picture frame in reference-device pixels (the page's natural size).
    QRectF framePx() const;
};

// Size in bytes of the metafile starting at data, read from the fixed part of its header
// (the first 88 bytes); nullopt when those bytes are not a metafile header. Does not check
// the records. Lets a caller that reads a metafile from a stream learn how much to read.
std::optional<quint32> emfByteCount(const char* data, qsizetype size);

// Reads and checks the header of the metafile in bytes (type, signature, sizes, description
// inside the header, byte count not beyond bytes). nullopt when invalid.
std::optional<EmfHeaderInfo> readEmfHeader(const QByteArray& bytes);

// Checks the whole metafile: the header, every record's size (at least 8, a multiple of 4,
// inside the byte count) and the fields of every record the player draws. Never reads
// outside bytes. Throws EMetafileError when invalid.
void validateEmf(const QByteArray& bytes);

// Draws the metafile onto painter so that its picture frame (or, without a usable frame,
// its bounds) fills target, a rectangle in the painter's current coordinates. Validates
// first and throws EMetafileError (drawing nothing) when the bytes are not a valid
// metafile. The painter's state (transform, pen, brush, font, clipping) is restored after
// playing; drawing stays inside the painter's own clip region. Unknown records are skipped.
// Face names are resolved through QFont's substitutions.
void playEmf(const QByteArray& bytes, QPainter& painter, const QRectF& target);

} // namespace lv26
