#!/usr/bin/env python3
"""Draws the preview window's toolbar glyphs: 18 x 18 XPM images in the 16 standard colours
(olive, the bottom-left pixel, is the background), and the Close button's strip of two images
(normal, disabled). Run from this folder: python3 make_preview_glyphs.py
"""

PALETTE = {
    ".": "#808000", "k": "#000000", "m": "#800000", "g": "#008000", "n": "#000080",
    "t": "#008080", "s": "#C0C0C0", "d": "#808080", "r": "#FF0000", "l": "#00FF00",
    "y": "#FFFF00", "b": "#0000FF", "w": "#FFFFFF",
}
SIZE = 18


def blank(width=SIZE):
    return [["."] * width for _ in range(SIZE)]


def plot(img, x, y, c):
    if 0 <= y < len(img) and 0 <= x < len(img[0]):
        img[y][x] = c


def rect(img, x0, y0, x1, y1, c, fill=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            if edge:
                plot(img, x, y, c)
            elif fill:
                plot(img, x, y, fill)


def hline(img, x0, x1, y, c):
    for x in range(x0, x1 + 1):
        plot(img, x, y, c)


def page(img, x0, y0, x1, y1):
    rect(img, x0, y0, x1, y1, "k", "w")


def triangle(img, cx, left, c="k"):
    """A solid triangle 5 wide and 9 high, pointing left or right, tip at column cx."""
    for i in range(5):
        for y in range(8 - i, 8 + i + 1):
            plot(img, cx + (i if left else -i), y, c)


def zoom_fit():
    img = blank()
    rect(img, 1, 1, 16, 16, "d", "s")
    page(img, 5, 3, 12, 14)
    return img


def zoom_100():
    img = blank()
    page(img, 3, 1, 14, 16)
    for y in range(3, 15, 2):
        hline(img, 5, 12, y, "n")
    return img


def zoom_width():
    img = blank()
    page(img, 4, 1, 13, 16)
    hline(img, 1, 16, 8, "r")
    for d in (1, 2):
        plot(img, 1 + d, 8 - d, "r"), plot(img, 1 + d, 8 + d, "r")
        plot(img, 16 - d, 8 - d, "r"), plot(img, 16 - d, 8 + d, "r")
    return img


def first_page():
    img = blank()
    rect(img, 4, 4, 5, 12, "k", "k")
    triangle(img, 7, True)
    return img


def prev_page():
    img = blank()
    triangle(img, 6, True)
    return img


def next_page():
    img = blank()
    triangle(img, 11, False)
    return img


def last_page():
    img = blank()
    triangle(img, 10, False)
    rect(img, 12, 4, 13, 12, "k", "k")
    return img


def printer(img):
    page(img, 5, 1, 12, 7)
    rect(img, 1, 7, 16, 13, "k", "s")
    hline(img, 3, 14, 11, "d")
    plot(img, 14, 9, "l")
    page(img, 4, 13, 13, 16)


def print_glyph():
    img = blank()
    printer(img)
    return img


def print_setup():
    img = blank()
    printer(img)
    # a spanner across the printer's corner
    for i in range(6):
        plot(img, 11 + i // 2, 17 - i, "n")
        plot(img, 12 + i // 2, 17 - i, "n")
    rect(img, 14, 9, 16, 11, "n")
    return img


def save():
    img = blank()
    rect(img, 1, 1, 16, 16, "k", "n")
    rect(img, 4, 1, 13, 7, "k", "w")
    rect(img, 5, 11, 12, 16, "k", "s")
    rect(img, 10, 12, 11, 15, "n", "n")
    return img


def open_folder():
    img = blank()
    rect(img, 1, 5, 13, 15, "k", "y")
    hline(img, 2, 5, 4, "k")
    # the opening flap
    for y in range(9, 16):
        hline(img, 4 - (15 - y) // 2 + 3, 16 - (15 - y) // 2, y, "m")
    # the arrow coming out
    for x in range(9, 15):
        plot(img, x, 2, "g")
    for d in (1, 2):
        plot(img, 15 - d, 2 - d, "g"), plot(img, 15 - d, 2 + d, "g")
    return img


def door(img, ox, col, dark):
    rect(img, ox + 3, 2, ox + 11, 16, dark, col)
    plot(img, ox + 9, 9, "y" if col == "g" else "w")
    # the arrow leaving through the door
    hline(img, ox + 12, ox + 16, 9, dark)
    plot(img, ox + 15, 8, dark), plot(img, ox + 15, 10, dark)


def exit_strip():
    img = blank(2 * SIZE)
    door(img, 0, "g", "k")
    door(img, SIZE, "s", "d")
    return img


def write_xpm(name, img):
    used = sorted({c for row in img for c in row})
    lines = [f'"{len(img[0])} {len(img)} {len(used)} 1",']
    lines += [f'"{c} c {PALETTE[c]}",' for c in used]
    lines += [f'"{"".join(row)}",' for row in img]
    lines[-1] = lines[-1].rstrip(",")
    body = "\n".join(lines)
    with open(name, "w") as f:
        f.write(f"/* XPM */\nstatic const char *{name.split('.')[0]}[] = {{\n{body}\n}};\n")


GLYPHS = {
    "pv_zoomtofit": zoom_fit, "pv_zoomto100": zoom_100, "pv_zoomtowidth": zoom_width,
    "pv_firstpage": first_page, "pv_prevpage": prev_page, "pv_nextpage": next_page,
    "pv_lastpage": last_page, "pv_printsetup": print_setup, "pv_print": print_glyph,
    "pv_save": save, "pv_open": open_folder, "pv_exit": exit_strip,
}

if __name__ == "__main__":
    for glyph, draw in GLYPHS.items():
        write_xpm(glyph + ".xpm", draw())
