#pragma once

// The text a page picture holds, where each character lies, and a search over it that ignores
// case and accents. Headless: needs a QGuiApplication for the font metrics only.

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <vector>

namespace lv26 {

// One text record of a picture: its characters (UTF-16 units) and the cell of each, in the
// picture's device pixels (the bounding box of the cell when the text is turned).
struct EmfTextRun {
    QString text;
    std::vector<QRectF> boxes; // one per unit of text
};

// The texts of the metafile in bytes, in the order they are drawn. Validates first and throws
// EMetafileError for bytes that are not a valid metafile.
std::vector<EmfTextRun> emfTextRuns(const QByteArray& bytes);

// text in the form searches compare: decomposed, combining marks dropped, case folded ("João"
// gives "joao"). When origins is given it receives, for each unit of the result, the index of
// the unit of text it came from.
QString foldedForSearch(const QString& text, std::vector<qsizetype>* origins = nullptr);

// The boxes of every occurrence of needle in the metafile's texts, ignoring case and accents,
// each the union of its characters' cells (device pixels). An occurrence lies within one
// text record. Empty for an empty or blank needle. Throws EMetafileError as emfTextRuns.
std::vector<QRectF> findInEmf(const QByteArray& bytes, const QString& needle);

} // namespace lv26
