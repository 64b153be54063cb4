#pragma once

// Changes to the editor text of an edit mask (TEditMask::editorText): positions are cleared,
// never removed, literals stay in their places, and characters go in only where the mask
// takes them. Every change the cell editor makes to a masked text is worked out here.

#include "data/EditMask.h"

#include <QString>
#include <QStringView>

namespace lv26 {

// Whether `text` is an editor text of `mask`: one character per position, each literal in
// its place and every other position blank or holding a character it accepts.
bool fitsMask(const TEditMask& mask, const QString& text);

// `text` (an editor text of `mask`) with the positions from `from` up to `to` (excluded)
// cleared and then `typed` typed character by character from `from` on, each one the mask
// refuses dropped. `accepted` tells whether any character went in; the cursor stands after
// the last one that did, or at `from` when none did.
TEditMask::Typed typeOver(const TEditMask& mask, const QString& text, int from, int to,
                          QStringView typed);

// Lays a change that the line edit made to the masked text `before` back into the mask.
// `edited` is the text afterwards and `cursor` its cursor, which stands after whatever went
// in: the characters removed are cleared, the characters inserted are typed over the
// positions from where they went in, and any the mask refuses are dropped. Gives the text
// and its cursor (`accepted` does not apply).
TEditMask::Typed layIntoMask(const TEditMask& mask, const QString& before, const QString& edited,
                             int cursor);

} // namespace lv26
