#!/usr/bin/env python3
"""Draws the preview window's toolbar glyphs: 18 x 18 XPM images in the 16 standard colours
(olive, the bottom-left pixel, is the background), and the Close button's strip of two images
(normal, disabled); NAME@2x.xpm is the same drawing at twice the size for screens of device
pixel ratio 2. Run from this folder: python3 make_preview_glyphs.py
"""

PALETTE = {
    ".": "#808000", "k": "#000000", "m": "#800000", "g": "#008000", "n": "#000080",
    "t": "#008080", "s": "#C0C0C0", "d": "#808080", "r": "#FF0000", "l": "#00FF00",
    "y": "#FFFF00", "b": "#0000FF", "w": "#FFFFFF",
}
SIZE = 18


class Canvas:
    """A glyph drawn at `s` device pixels per pixel of the 18 x 18 design. Shapes keep their
    place and size; outlines and lines stay one device pixel thin, so the 2x image has finer
    detail than a doubled 1x image."""

    def __init__(self, s, width=SIZE):
        self.s = s
        self.rows = [["."] * (width * s) for _ in range(SIZE * s)]

    def px(self, u, v, c):
        """One device pixel."""
        if 0 <= v < len(self.rows) and 0 <= u < len(self.rows[0]):
            self.rows[v][u] = c

    def fill(self, x0, y0, x1, y1, c):
        """Design pixels x0..x1, y0..y1 (inclusive), filled."""
        for v in range(y0 * self.s, (y1 + 1) * self.s):
            for u in range(x0 * self.s, (x1 + 1) * self.s):
                self.px(u, v, c)

    def rect(self, x0, y0, x1, y1, c, fill=None):
        """The box over design pixels x0..x1, y0..y1: a one device pixel outline round it."""
        u0, v0, u1, v1 = x0 * self.s, y0 * self.s, (x1 + 1) * self.s - 1, (y1 + 1) * self.s - 1
        for v in range(v0, v1 + 1):
            for u in range(u0, u1 + 1):
                if u in (u0, u1) or v in (v0, v1):
                    self.px(u, v, c)
                elif fill:
                    self.px(u, v, fill)

    def hline(self, x0, x1, y, c):
        """A one device pixel line through design row y, from x0 to x1."""
        for u in range(x0 * self.s, (x1 + 1) * self.s):
            self.px(u, y * self.s + self.s // 2, c)

    def diagonal(self, u, v, du, dv, length, c):
        """A one device pixel line from device pixel (u, v), `length` steps of (du, dv)."""
        for i in range(length):
            self.px(u + i * du, v + i * dv, c)

    def arrow_head(self, x, y, c, towards):
        """Two strokes from design pixel (x, y) back from the tip: `towards` is +1 for a head
        pointing right, -1 pointing left."""
        s = self.s
        if s == 1:
            for d in (1, 2):
                self.px(x - towards * d, y - d, c), self.px(x - towards * d, y + d, c)
            return
        tip_u = x * s + (s - 1 if towards > 0 else 0)
        mid = y * s + s // 2
        self.diagonal(tip_u, mid, -towards, -1, 2 * s + 1, c)
        self.diagonal(tip_u, mid, -towards, 1, 2 * s + 1, c)

    def triangle(self, cx, left, c="k"):
        """A solid triangle 5 wide and 9 high, pointing left or right, tip at column cx."""
        s = self.s
        tip = cx * s if left else (cx + 1) * s - 1
        middle = 8 * s + s // 2  # the device row at or below the centre line
        for j in range(5 * s):
            half = j if s == 1 else min(j + 1, 9)
            top, bottom = (middle - half, middle + half) if s == 1 else (middle - half,
                                                                       middle + half - 1)
            for v in range(top, bottom + 1):
                self.px(tip + (j if left else -j), v, c)


def page(cv, x0, y0, x1, y1):
    cv.rect(x0, y0, x1, y1, "k", "w")


def zoom_fit(s):
    cv = Canvas(s)
    cv.rect(1, 1, 16, 16, "d", "s")
    page(cv, 5, 3, 12, 14)
    return cv


def zoom_100(s):
    cv = Canvas(s)
    page(cv, 3, 1, 14, 16)
    for y in range(3, 15, 2):
        cv.hline(5, 12, y, "n")
    return cv


def zoom_width(s):
    cv = Canvas(s)
    page(cv, 4, 1, 13, 16)
    cv.hline(1, 16, 8, "r")
    cv.arrow_head(1, 8, "r", -1)
    cv.arrow_head(16, 8, "r", 1)
    return cv


def first_page(s):
    cv = Canvas(s)
    cv.fill(4, 4, 5, 12, "k")
    cv.triangle(7, True)
    return cv


def prev_page(s):
    cv = Canvas(s)
    cv.triangle(6, True)
    return cv


def next_page(s):
    cv = Canvas(s)
    cv.triangle(11, False)
    return cv


def last_page(s):
    cv = Canvas(s)
    cv.triangle(10, False)
    cv.fill(12, 4, 13, 12, "k")
    return cv


def printer(cv):
    page(cv, 5, 1, 12, 7)
    cv.rect(1, 7, 16, 13, "k", "s")
    cv.hline(3, 14, 11, "d")
    cv.fill(14, 9, 14, 9, "l")
    page(cv, 4, 13, 13, 16)


def print_glyph(s):
    cv = Canvas(s)
    printer(cv)
    return cv


def print_setup(s):
    cv = Canvas(s)
    printer(cv)
    # a spanner across the printer's corner: a handle two pixels wide and a ring
    for j in range(6 * s):
        for w in range(2 * s):
            cv.px(11 * s + j // 2 + w, 18 * s - 1 - j, "n")
    cv.rect(14, 9, 16, 11, "n")
    return cv


def save(s):
    cv = Canvas(s)
    cv.rect(1, 1, 16, 16, "k", "n")
    cv.rect(4, 1, 13, 7, "k", "w")
    cv.rect(5, 11, 12, 16, "k", "s")
    cv.fill(10, 12, 11, 15, "n")
    return cv


def open_folder(s):
    cv = Canvas(s)
    cv.rect(1, 5, 13, 15, "k", "y")
    # the tab, on the folder's top edge
    for u in range(2 * s, 6 * s):
        cv.px(u, 5 * s - 1, "k")
    # the opening flap: its slanted edges step one device pixel every two rows
    bottom = 16 * s - 1
    for v in range(9 * s, 16 * s):
        step = (bottom - v) // 2
        for u in range(7 * s - step, 17 * s - step):
            cv.px(u, v, "m")
    # the arrow coming out
    cv.hline(9, 14, 2, "g")
    cv.arrow_head(15, 2, "g", 1)
    return cv


def door(cv, ox, col, dark):
    cv.rect(ox + 3, 2, ox + 11, 16, dark, col)
    cv.fill(ox + 9, 9, ox + 9, 9, "y" if col == "g" else "w")
    # the arrow leaving through the door
    cv.hline(ox + 12, ox + 16, 9, dark)
    if cv.s == 1:
        cv.px(ox + 15, 8, dark), cv.px(ox + 15, 10, dark)
    else:
        cv.arrow_head(ox + 16, 9, dark, 1)


def exit_strip(s):
    cv = Canvas(s, 2 * SIZE)
    door(cv, 0, "g", "k")
    door(cv, SIZE, "s", "d")
    return cv


def write_xpm(name, img):
    """Writes the image to `name`, its XPM variable named after the file."""
    used = sorted({c for row in img for c in row})
    lines = [f'"{len(img[0])} {len(img)} {len(used)} 1",']
    lines += [f'"{c} c {PALETTE[c]}",' for c in used]
    lines += [f'"{"".join(row)}",' for row in img]
    lines[-1] = lines[-1].rstrip(",")
    body = "\n".join(lines)
    with open(name, "w") as f:
        f.write(f"/* XPM */\nstatic const char *{name.split('.')[0].split('@')[0]}[] = {{\n{body}\n}};\n")


GLYPHS = {
    "pv_zoomtofit": zoom_fit, "pv_zoomto100": zoom_100, "pv_zoomtowidth": zoom_width,
    "pv_firstpage": first_page, "pv_prevpage": prev_page, "pv_nextpage": next_page,
    "pv_lastpage": last_page, "pv_printsetup": print_setup, "pv_print": print_glyph,
    "pv_save": save, "pv_open": open_folder, "pv_exit": exit_strip,
}

if __name__ == "__main__":
    for glyph, draw in GLYPHS.items():
        write_xpm(glyph + ".xpm", draw(1).rows)
        write_xpm(glyph + "@2x.xpm", draw(2).rows)
