#pragma once

// The images of the maintenance window's controls, drawn by the program itself: the row
// indicator images of the grids and the ten navigator glyphs.

#include <QPixmap>

namespace lv26 {

enum class RowImage { Arrow, Edit, Insert };

// Sizes below are logical pixels. Each image is drawn at `ratio` device pixels per logical
// one (its device pixel ratio), so that it stays sharp on high-density screens; a ratio of 0
// means the highest of the application's screens.

// The row indicator image for a row in browse (Arrow), edit or insert state: 8 x 11 pixels,
// black on a transparent background.
QPixmap rowIndicatorImage(RowImage image, qreal ratio = 0);

// The glyph of navigator button `button` (0 = First ... 9 = Refresh) as drawn while the
// button is enabled or, with `enabled` false, greyed and embossed. 16 x 16 pixels; a null
// pixmap for an index out of range.
QPixmap navigatorGlyph(int button, bool enabled, qreal ratio = 0);

} // namespace lv26
