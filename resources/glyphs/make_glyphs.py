#!/usr/bin/env python3
"""Draws the button glyphs and the program icon of Lv26.

Each glyph is an XPM image of 36 x 18 pixels in the 16 standard colours: the normal image on
the left, the embossed disabled image on the right; NAME@2x.xpm is the same drawing at 72 x 36
for screens of device pixel ratio 2. Olive is the background and, as the
bottom-left pixel, the transparent colour. The icon is written as PNG files (16, 32, 48 px).
Run from this folder: python3 make_glyphs.py
"""
import struct
import zlib

PALETTE = {
    ".": "#808000",  # olive: background, made transparent by the button
    "k": "#000000", "m": "#800000", "g": "#008000", "n": "#000080",
    "t": "#008080", "s": "#C0C0C0", "d": "#808080", "r": "#FF0000",
    "l": "#00FF00", "y": "#FFFF00", "b": "#0000FF", "w": "#FFFFFF",
}
SIZE = 18


class Canvas:
    """A glyph drawn at `scale` device pixels per pixel of the 18 x 18 design. Shapes keep
    their place and size; lines stay one device pixel thin, so the 2x image has finer detail
    than a doubled 1x image."""

    def __init__(self, scale):
        self.s = scale
        self.n = SIZE * scale
        self.rows = [["."] * self.n for _ in range(self.n)]

    def px(self, u, v, c):
        """One device pixel."""
        if 0 <= u < self.n and 0 <= v < self.n:
            self.rows[v][u] = c

    def block(self, x, y, c):
        """One design pixel: scale x scale device pixels."""
        for v in range(self.s):
            for u in range(self.s):
                self.px(x * self.s + u, y * self.s + v, c)


def cross(s):
    """A red diagonal cross, three pixels thick, with a maroon edge one device pixel thin."""
    cv = Canvas(s)
    for r in range(3 * s, 15 * s):
        for u in range(r - s, r + 2 * s):
            cv.px(u, r, "r")
            cv.px(cv.n - 1 - u, r, "r")
        cv.px(r + 2 * s, r, "m")
        cv.px(cv.n - 1 - r - 2 * s, r, "m")
    return cv


def check(s):
    """A green check mark: short stroke down-right, long stroke up-right, a lime edge on top."""
    cv = Canvas(s)
    for u in range(3 * s, 16 * s):
        top = u + 5 * s if u < 8 * s else 20 * s - u
        for v in range(top, top + 3 * s):
            cv.px(u, v, "g")
        cv.px(u, top - 1, "l")
    return cv


QUESTION = [
    "......bbbbbb......",
    ".....bbbbbbbb.....",
    "....bbbn...bbbn...",
    "....bbn.....bbn...",
    "............bbn...",
    "...........bbbn...",
    "..........bbbn....",
    ".........bbbn.....",
    "........bbbn......",
    "........bbn.......",
    "........bbn.......",
    "..................",
    "........bbn.......",
    "........bbn.......",
]


def question(s):
    """A blue question mark drawn from strokes, with a dark edge on its right: the edge keeps
    to the device column next to the blue."""
    cv = Canvas(s)
    for y, row in enumerate(QUESTION):
        for x, c in enumerate(row):
            if c == "n":
                for v in range(s):
                    cv.px(x * s, (y + 2) * s + v, c)
            elif c != ".":
                cv.block(x, y + 2, c)
    return cv


def door(s):
    """An open door: black frame, dark doorway, maroon door leaf with a yellow knob."""
    cv = Canvas(s)
    last = 17 * s - 1  # the doorway's bottom device row
    # the frame lies on the doorway's side of its design pixels
    left, right, top = 4 * s - 1, 14 * s, 2 * s - 1
    for v in range(top, last + 1):
        for u in range(left + 1, right):
            cv.px(u, v, "k" if v == top else "n")
        cv.px(left, v, "k")
        cv.px(right, v, "k")
    for u in range(left, right + 1):
        cv.px(u, top, "k")
    # the leaf swings towards the viewer on the left hinge
    for u in range(4 * s, 10 * s):
        upper = 2 * s + (u - 4 * s) // 2
        for v in range(upper, last + 1 - (u - 4 * s) // 3):
            cv.px(u, v, "m")
        cv.px(u, upper - 1, "k")
    for v in range(4 * s, 15 * s):
        cv.px(10 * s, v, "k")
    cv.block(8, 9, "y")
    cv.block(8, 10, "y")
    for u in range(s, 17 * s):
        cv.px(u, 17 * s, "d")
    return cv


def disabled(cv, hollow=""):
    """The embossed grey copy: white shadow one device pixel down-right, grey shape on top.
    Colours in `hollow` are left out, so that a shape filled with them keeps its outline."""
    out = Canvas(cv.s)
    shape = [[c != "." and c not in hollow for c in row] for row in cv.rows]
    for v in range(cv.n):
        for u in range(cv.n):
            if shape[v][u]:
                out.px(u + 1, v + 1, "w")
    for v in range(cv.n):
        for u in range(cv.n):
            if shape[v][u]:
                out.rows[v][u] = "d"
    return out


def write_xpm(name, draw, scale, hollow=""):
    """Writes name.xpm (scale 1) or name@2x.xpm (scale 2): normal and disabled image."""
    cv = draw(scale)
    both = [a + b for a, b in zip(cv.rows, disabled(cv, hollow).rows)]
    used = sorted({c for row in both for c in row})
    lines = [f"/* XPM */", f"static const char* {name}[] = {{",
             f'"{2 * cv.n} {cv.n} {len(used)} 1",']
    lines += [f'"{c} c {PALETTE[c]}",' for c in used]
    lines += [f'"{"".join(row)}",' for row in both]
    lines[-1] = lines[-1].rstrip(",")
    lines.append("};")
    suffix = "" if scale == 1 else f"@{scale}x"
    with open(f"{name}{suffix}.xpm", "w") as f:
        f.write("\n".join(lines) + "\n")


def write_png(path, size, pixel):
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y, size)) for x in range(size))
                   for y in range(size))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def icon_pixel(x, y, size):
    """A ruled payroll sheet with a clock in its lower right corner, supersampled 4x4."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / size
            v = (y + (sy + 0.5) / 4) / size
            c = icon_sample(u, v)
            if c:
                for i in range(3):
                    acc[i] += c[i]
                acc[3] += 255
    n = acc[3] / 255
    if n == 0:
        return (0, 0, 0, 0)
    return tuple(int(acc[i] / n) for i in range(3)) + (int(acc[3] / 16),)


def icon_sample(u, v):
    cx, cy, r = 0.66, 0.66, 0.30
    d2 = (u - cx) ** 2 + (v - cy) ** 2
    if d2 <= r * r:
        if d2 >= (r - 0.05) ** 2:
            return (0, 0, 128)
        # hands: to twelve and to three
        if abs(u - cx) < 0.03 and cy - 0.2 < v <= cy:
            return (0, 0, 0)
        if abs(v - cy) < 0.03 and cx <= u < cx + 0.15:
            return (0, 0, 0)
        return (255, 255, 224)
    if 0.10 <= u <= 0.74 and 0.04 <= v <= 0.90:
        if u < 0.14 or u > 0.70 or v < 0.08 or v > 0.86:
            return (64, 64, 64)
        if v < 0.22:
            return (0, 128, 0)
        if int((v - 0.22) * 100) % 12 < 3 and 0.18 < u < 0.66:
            return (128, 128, 128)
        return (255, 255, 255)
    return None


if __name__ == "__main__":
    for scale in (1, 2):
        write_xpm("bitbtn1_cross", cross, scale)
        write_xpm("btn_help", question, scale)
        write_xpm("btn_yes", check, scale)
        write_xpm("btn_close", door, scale, hollow="ny")
    for s in (16, 32, 48):
        write_png(f"../lv26-{s}.png", s, icon_pixel)
