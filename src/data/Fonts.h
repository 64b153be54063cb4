#pragma once

namespace lv26 {

// Registers the font substitutions every window and the report rely on: "MS Sans Serif" and
// "Arial" are drawn with "Liberation Sans" (Arial's metrics). Idempotent; needs QtGui only.
void installFontSubstitutions();

} // namespace lv26
