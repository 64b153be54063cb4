#!/usr/bin/env python3
"""Draws the button glyphs and the program icon of Lv26.

Each glyph is an XPM image of 36 x 18 pixels in the 16 standard colours: the normal image on
the left, the embossed disabled image on the right. Olive is the background and, as the
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


def blank():
    return [["."] * SIZE for _ in range(SIZE)]


def plot(img, x, y, c):
    if 0 <= x < SIZE and 0 <= y < SIZE:
        img[y][x] = c


def cross():
    """A red diagonal cross, three pixels thick, with a maroon edge."""
    img = blank()
    for i in range(3, 15):
        for d in (-1, 0, 1):
            plot(img, i + d, i, "r")
            plot(img, 17 - i + d, i, "r")
        plot(img, i + 2, i, "m")
        plot(img, 17 - i - 2, i, "m")
    return img


def check():
    """A green check mark: short stroke down-right, long stroke up-right."""
    img = blank()
    pts = [(3 + i, 8 + i) for i in range(5)] + [(8 + i, 12 - i) for i in range(8)]
    for x, y in pts:
        for dy in (0, 1, 2):
            plot(img, x, y + dy, "g")
        plot(img, x, y - 1, "l")
    return img


def question():
    """A blue question mark drawn from strokes, with a dark edge on its right."""
    img = blank()
    rows = [
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
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c != ".":
                plot(img, x, y + 2, c)
    return img


def door():
    """An open door: grey frame, dark doorway, maroon door leaf with a yellow knob."""
    img = blank()
    for y in range(1, 17):
        plot(img, 3, y, "k")
        plot(img, 14, y, "k")
        for x in range(4, 14):
            plot(img, x, y, "k" if y == 1 else "n")
    for x in range(3, 15):
        plot(img, x, 1, "k")
    # the leaf swings towards the viewer on the left hinge
    for x in range(4, 10):
        top = 2 + (x - 4) // 2
        for y in range(top, 17 - (x - 4) // 3):
            plot(img, x, y, "m")
        plot(img, x, top - 1, "k")
    for y in range(4, 15):
        plot(img, 10, y, "k")
    plot(img, 8, 9, "y")
    plot(img, 8, 10, "y")
    for x in range(1, 17):
        plot(img, x, 17, "d")
    return img


def disabled(img, hollow=""):
    """The embossed grey copy: white shadow one pixel down-right, grey shape on top.
    Colours in `hollow` are left out, so that a shape filled with them keeps its outline."""
    out = blank()
    shape = [[c != "." and c not in hollow for c in row] for row in img]
    for y in range(SIZE):
        for x in range(SIZE):
            if shape[y][x]:
                plot(out, x + 1, y + 1, "w")
    for y in range(SIZE):
        for x in range(SIZE):
            if shape[y][x]:
                out[y][x] = "d"
    return out


def write_xpm(name, img, hollow=""):
    both = [a + b for a, b in zip(img, disabled(img, hollow))]
    used = sorted({c for row in both for c in row})
    lines = [f"/* XPM */", f"static const char* {name}[] = {{",
             f'"{2 * SIZE} {SIZE} {len(used)} 1",']
    lines += [f'"{c} c {PALETTE[c]}",' for c in used]
    lines += [f'"{"".join(row)}",' for row in both]
    lines[-1] = lines[-1].rstrip(",")
    lines.append("};")
    with open(f"{name}.xpm", "w") as f:
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
    write_xpm("bitbtn1_cross", cross())
    write_xpm("btn_help", question())
    write_xpm("btn_yes", check())
    write_xpm("btn_close", door(), hollow="ny")
    for s in (16, 32, 48):
        write_png(f"../lv26-{s}.png", s, icon_pixel)
