#pragma once

// The drawing objects a metafile creates and selects (pens, brushes, fonts), read from their
// records, and their Qt counterparts.

#include "report/emf/EmfFormat.h"
#include "report/emf/EmfReader.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPen>
#include <QString>

#include <variant>
#include <vector>

namespace lv26::emf {

struct PenObj {
    quint32 style = PS_SOLID;
    double width = 0; // logical units
    QColor color = Qt::black;
    bool cosmetic = true;  // always one device pixel wide
    bool extended = false; // caps and joins come from the style bits
    std::vector<qreal> dashes;
};

struct BrushObj {
    quint32 style = BS_SOLID;
    QColor color = Qt::white;
    quint32 hatch = 0;
};

// Pattern brushes keep this style; they are drawn as a plain grey.
constexpr quint32 kPatternBrushStyle = 3;

struct FontObj {
    qint32 height = -16; // negative: character height; positive: cell height
    qint32 escapement = 0;
    qint32 weight = FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QString face = QStringLiteral("MS Sans Serif");
};

using Object = std::variant<std::monostate, PenObj, BrushObj, FontObj>;

// The colour of a COLORREF (0x00BBGGRR).
QColor fromColorRef(quint32 colorRef);

// The stock pen or brush of that stock index (kStockObject stripped).
PenObj stockPen(quint32 index);
BrushObj stockBrush(quint32 index);

// The object of a CREATEPEN, EXTCREATEPEN, CREATEBRUSHINDIRECT or EXTCREATEFONTINDIRECTW record;
// its object index is at offset 8. Each throws MalformedRecord when a field it reads lies outside
// the record.
PenObj readPen(const RecordReader& record);
PenObj readExtPen(const RecordReader& record);
BrushObj readBrush(const RecordReader& record);
FontObj readFont(const RecordReader& record);

// The Qt pen that draws pen, deviceWidth device pixels wide; Qt::NoPen for a null pen. Lines one
// pixel wide get flat caps so that their end point is not drawn.
QPen toQtPen(const PenObj& pen, double deviceWidth);
QBrush toQtBrush(const BrushObj& brush);
// The Qt font for font, pixelSize pixels high (at least 1), its face resolved through QFont's
// substitutions.
QFont toQtFont(const FontObj& font, double pixelSize);

// The metafile's object table: indices from 1 up to kMaxObjects - 1, grown on demand.
class ObjectTable {
public:
    static constexpr quint32 kMaxObjects = 65536;

    // The object at index (an empty one if never stored), or nullptr for index 0 and from
    // kMaxObjects on. The pointer stays valid until the next call.
    Object* slot(quint32 index);
    // Stores value at index; ignored for an index slot() refuses.
    void store(quint32 index, const Object& value);

private:
    std::vector<Object> objects_;
};

} // namespace lv26::emf
