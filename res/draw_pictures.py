#!/usr/bin/env python3
"""Draws the window's pictures: the application icon, the state, file-type and folder pictures and the banner.

The outputs are committed beside this script; running it again must give the same bytes, so
nothing here depends on time, locale or the zlib build (PNG data goes into stored deflate
blocks). Standard library only.

With --hicolor, it draws instead the desktop's icons at every size of the icon theme, the
application's under apps/ and the archive file type's under mimetypes/; the build writes those
into its own folder for installing, so they are compressed and not committed.

    python3 draw_pictures.py [--out DIR]     # DIR defaults to this script's folder
    python3 draw_pictures.py --hicolor DIR   # DIR/<N>x<N>/{apps,mimetypes}/NAME.png
"""

import argparse
import os
import struct
import zlib

RED = (255, 0, 0)
MAGENTA = (255, 0, 255)
BLACK = (0, 0, 0)
GOLD = (255, 204, 0)
DARK_GOLD = (176, 128, 16)

# File-type labels in picture order; the list's picture index is the position here.
LABELS = ["mp3", "gdb", "pcx", "tga", "png", "bmp", "wav", "bsp", "mdl", "txt", "unk", "apd"]

# Small lowercase font for the file-type labels. Every glyph spans the same 8 rows: 0-1 ascender,
# 2-5 x-height, 6-7 descender; widths vary so "m" and "w" can stay readable.
LABEL_FONT = {
    "3": ["XXX", "..X", ".XX", "..X", "..X", "XXX", "...", "..."],
    "a": ["...", "...", "XX.", ".XX", "X.X", "XXX", "...", "..."],
    "b": ["X..", "X..", "XX.", "X.X", "X.X", "XX.", "...", "..."],
    "c": ["...", "...", ".XX", "X..", "X..", ".XX", "...", "..."],
    "d": ["..X", "..X", ".XX", "X.X", "X.X", ".XX", "...", "..."],
    "g": ["...", "...", ".XX", "X.X", "X.X", ".XX", "..X", "XX."],
    "k": ["X..", "X..", "X.X", "XX.", "X.X", "X.X", "...", "..."],
    "l": ["X.", "X.", "X.", "X.", "X.", ".X", "..", ".."],
    "m": [".....", ".....", "XXXX.", "X.X.X", "X.X.X", "X.X.X", ".....", "....."],
    "n": ["...", "...", "XX.", "X.X", "X.X", "X.X", "...", "..."],
    "p": ["...", "...", "XX.", "X.X", "X.X", "XX.", "X..", "X.."],
    "s": ["...", "...", ".XX", "X..", "..X", "XX.", "...", "..."],
    "t": ["...", ".X.", "XXX", ".X.", ".X.", "..X", "...", "..."],
    "u": ["...", "...", "X.X", "X.X", "X.X", ".XX", "...", "..."],
    "v": ["...", "...", "X.X", "X.X", "X.X", ".X.", "...", "..."],
    "w": [".....", ".....", "X...X", "X.X.X", "X.X.X", ".X.X.", ".....", "....."],
    "x": ["...", "...", "X.X", ".X.", ".X.", "X.X", "...", "..."],
}

# Larger font for the banner title: 9 rows, 0-6 cap height, 2-6 x-height, 7-8 descender.
TITLE_FONT = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X..", ".....", "....."],
    "e": [".....", ".....", ".XXX.", "X...X", "XXXXX", "X....", ".XXX.", ".....", "....."],
    "i": [".X.", "...", "XX.", ".X.", ".X.", ".X.", "XXX", "...", "..."],
    "l": ["XX.", ".X.", ".X.", ".X.", ".X.", ".X.", "XXX", "...", "..."],
    "m": [".....", ".....", "XX.X.", "X.X.X", "X.X.X", "X.X.X", "X.X.X", ".....", "....."],
    "n": [".....", ".....", "X.XX.", "XX..X", "X...X", "X...X", "X...X", ".....", "....."],
    "o": [".....", ".....", ".XXX.", "X...X", "X...X", "X...X", ".XXX.", ".....", "....."],
    "q": [".....", ".....", ".XXXX", "X...X", "X...X", ".XXXX", "....X", "....X", "....X"],
    "r": [".....", ".....", "X.XX.", "XX..X", "X....", "X....", "X....", ".....", "....."],
    "u": [".....", ".....", "X...X", "X...X", "X...X", "X..XX", ".XX.X", ".....", "....."],
}


class Canvas:
    """A top-down grid of RGB tuples; None marks a transparent pixel (icons only)."""

    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.rows = [[fill] * width for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = colour

    def fill_rect(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, colour)

    def frame(self, x, y, w, h, colour):
        for xx in range(x, x + w):
            self.set(xx, y, colour)
            self.set(xx, y + h - 1, colour)
        for yy in range(y, y + h):
            self.set(x, yy, colour)
            self.set(x + w - 1, yy, colour)


def text_width(font, text, gap):
    return sum(len(font[ch][0]) for ch in text) + gap * (len(text) - 1)


def draw_text(canvas, font, text, x, y, scale, gap, colour_at_row):
    """Draws text with its top-left at (x, y); colour_at_row(r) gives the colour of glyph row r."""
    for ch in text:
        glyph = font[ch]
        for r, line in enumerate(glyph):
            for c, bit in enumerate(line):
                if bit == "X":
                    canvas.fill_rect(x + c * scale, y + r * scale, scale, scale, colour_at_row(r))
        x += (len(glyph[0]) + gap) * scale


def lerp(a, b, num, den):
    """Integer blend of two colours, num/den of the way from a to b."""
    return tuple(a[i] + (b[i] - a[i]) * num // den for i in range(3))


# --- bitmap writers -----------------------------------------------------------------------------


def bmp24(canvas):
    """A 24-bit bottom-up BMP with rows padded to four bytes."""
    stride = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(canvas.rows):
        for r, g, b in row:
            pixels += bytes((b, g, r))
        pixels += bytes(stride - canvas.width * 3)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels),
                       0, 0, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def stored_zlib(data):
    """A zlib stream of uncompressed deflate blocks: the same bytes whatever zlib is installed."""
    out = bytearray(b"\x78\x01")
    pos = 0
    while True:
        block = data[pos:pos + 65535]
        pos += len(block)
        last = pos >= len(data)
        out += struct.pack("<BHH", 1 if last else 0, len(block), len(block) ^ 0xFFFF) + block
        if last:
            break
    out += struct.pack(">I", zlib.adler32(data) & 0xFFFFFFFF)
    return bytes(out)


def png_rgba(canvas, compress=False):
    """An 8-bit RGBA PNG; transparent pixels become (0, 0, 0, 0)."""
    raw = bytearray()
    for row in canvas.rows:
        raw.append(0)
        for px in row:
            raw += bytes((0, 0, 0, 0)) if px is None else bytes((*px, 255))

    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    data = zlib.compress(bytes(raw), 9) if compress else stored_zlib(bytes(raw))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", data)
            + chunk(b"IEND", b""))


def ico_image(canvas, bits):
    """One palette icon image (BITMAPINFOHEADER, palette, XOR bits, AND mask), 4 or 8 bpp."""
    colours = sorted({px for row in canvas.rows for px in row if px is not None} - {BLACK})
    palette = [BLACK] + colours  # index 0 is also what transparent pixels hold
    if len(palette) > (1 << bits):
        raise ValueError(f"{len(palette)} colours do not fit {bits} bits per pixel")
    palette += [BLACK] * ((1 << bits) - len(palette))
    index = {colour: i for i, colour in enumerate(palette) if colour != BLACK or i == 0}

    w, h = canvas.width, canvas.height
    xor_stride = ((w * bits + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(canvas.rows):
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for x, px in enumerate(row):
            i = 0 if px is None else index[px]
            if bits == 8:
                line[x] = i
            else:
                line[x // 2] |= i << (4 if x % 2 == 0 else 0)
            if px is None:
                mline[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += mline
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, len(xor) + len(mask), 0, 0, 0, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + pal + bytes(xor) + bytes(mask)


def ico(images):
    """An .ico file from (canvas, bits) pairs, in the order given."""
    bodies = [ico_image(canvas, bits) for canvas, bits in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (canvas, bits), body in zip(images, bodies):
        colour_count = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", canvas.width % 256, canvas.height % 256, colour_count, 0,
                           1, bits, len(body), offset)
        offset += len(body)
    for body in bodies:
        out += body
    return bytes(out)


# --- the pictures -------------------------------------------------------------------------------


def segment_distance_sq(px, py, ax, ay, bx, by):
    """Squared distance from point p to segment ab, all in the same units."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    ex, ey = ax + t * dx - px, ay + t * dy - py
    return ex * ex + ey * ey


def draw_icon(size, rich):
    """A gold V on a dark rounded box. The 16-colour variant uses flat colours; the 256-colour
    one shades the box and the letter from top to bottom."""
    canvas = Canvas(size, size, None)
    radius = size / 8
    half_stroke = size * 0.085
    shadow = max(1, size // 24)
    rim = (200, 160, 40)
    a, b, c = (0.22 * size, 0.2 * size), (0.5 * size, 0.8 * size), (0.78 * size, 0.2 * size)

    def inside_box(x, y):
        cx = min(max(x, radius), size - radius)
        cy = min(max(y, radius), size - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    def on_v(x, y):
        return min(segment_distance_sq(x, y, *a, *b),
                   segment_distance_sq(x, y, *b, *c)) <= half_stroke * half_stroke

    for y in range(size):
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            if not inside_box(cx, cy):
                continue
            edge = not (inside_box(cx - 1, cy) and inside_box(cx + 1, cy)
                        and inside_box(cx, cy - 1) and inside_box(cx, cy + 1))
            if edge:
                colour = rim
            elif on_v(cx, cy):
                colour = lerp((255, 232, 120), (214, 150, 0), y, size - 1) if rich else GOLD
            elif on_v(cx - shadow, cy - shadow):
                colour = BLACK
            else:
                colour = lerp((52, 58, 84), (12, 14, 24), y, size - 1) if rich else (28, 32, 48)
            canvas.set(x, y, colour)
    return canvas


def draw_document_icon(size):
    """The archive file type: a sheet with a folded corner, a few lines of text, and the
    application's icon in its lower right corner."""
    canvas = Canvas(size, size, None)
    left, right = round(size * 0.12), round(size * 0.88)
    top, bottom = round(size * 0.03), size - round(size * 0.03)
    fold = max(3, round(size * 0.25))
    outline = (110, 110, 120)
    for y in range(top, bottom):
        for x in range(left, right):
            # Above the diagonal from (right - fold, top) to (right, top + fold): cut away.
            if x - (right - fold) > y - top:
                continue
            edge = (x in (left, right - 1) or y in (top, bottom - 1)
                    or x - (right - fold) == y - top)
            canvas.set(x, y, outline if edge else lerp((255, 255, 255), (222, 224, 230), y, size))
    for i in range(fold):  # the folded-over corner
        for j in range(i + 1):
            canvas.set(right - fold + j, top + i, outline if j in (0, i) or i == fold - 1
                       else (200, 202, 210))
    line_gap = max(2, size // 10)
    for y in range(top + fold + line_gap // 2, top + round(size * 0.5), line_gap):
        for x in range(left + max(2, size // 8), right - max(2, size // 8)):
            canvas.set(x, y, (170, 172, 182))
    badge = max(8, round(size * 0.56))
    mark = draw_icon(badge, rich=True)
    ox, oy = size - badge, size - badge
    for y in range(badge):
        for x in range(badge):
            if mark.rows[y][x] is not None:
                canvas.set(ox + x, oy + y, mark.rows[y][x])
    return canvas


HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)
APP_ICON_NAME = "velmorquin-extractor"
FILE_TYPE_ICON_NAME = "application-x-velmorquin-dat"


def hicolor_icons():
    """Path under the icon theme -> bytes, each size drawn for itself rather than scaled."""
    out = {}
    for size in HICOLOR_SIZES:
        folder = f"{size}x{size}"
        out[f"{folder}/apps/{APP_ICON_NAME}.png"] = png_rgba(draw_icon(size, rich=True), True)
        out[f"{folder}/mimetypes/{FILE_TYPE_ICON_NAME}.png"] = png_rgba(draw_document_icon(size),
                                                                        True)
    return out


def draw_state_pictures():
    """Two blank 16x16 state pictures: all red, which is their mask colour."""
    return Canvas(32, 16, RED)


def draw_tree_state_pictures():
    """The folder view's state pictures on the red mask: a boxed plus (collapsed) on the left and
    a boxed minus (expanded) on the right, grey boxes with dark marks as desktops draw them."""
    canvas = Canvas(32, 16, RED)
    box, mark = (128, 128, 128), (32, 32, 32)
    for left in (0, 16):
        canvas.fill_rect(left + 3, 3, 9, 9, (255, 255, 255))
        canvas.frame(left + 3, 3, 9, 9, box)
        canvas.fill_rect(left + 5, 7, 5, 1, mark)
    canvas.fill_rect(7, 5, 1, 5, mark)  # the plus's upright
    return canvas


def draw_folder_picture():
    """A folder on the magenta mask: a tab, a yellow body and a darker rim."""
    canvas = Canvas(16, 16, MAGENTA)
    rim, body, light = (176, 128, 16), (250, 204, 72), (255, 230, 140)
    canvas.fill_rect(1, 3, 6, 2, rim)  # the tab
    canvas.fill_rect(1, 4, 14, 10, body)
    canvas.frame(1, 4, 14, 10, rim)
    canvas.fill_rect(2, 6, 12, 1, light)
    return canvas


def draw_file_type_pictures():
    canvas = Canvas(16 * len(LABELS), 16, MAGENTA)
    height = len(LABEL_FONT["m"])
    for i, label in enumerate(LABELS):
        width = text_width(LABEL_FONT, label, 1)
        x = 16 * i + (16 - width) // 2
        draw_text(canvas, LABEL_FONT, label, x, (16 - height) // 2, 1, 1, lambda r: RED)
    return canvas


def draw_banner():
    width, height, scale, title = 390, 63, 5, "Velmorquin"
    canvas = Canvas(width, height, BLACK)
    canvas.frame(2, 2, width - 4, height - 4, GOLD)
    canvas.frame(4, 4, width - 8, height - 8, DARK_GOLD)
    rows = len(TITLE_FONT["V"])
    x = (width - text_width(TITLE_FONT, title, 1) * scale) // 2
    y = (height - rows * scale) // 2
    # Bright at the top of the capitals, deeper toward the baseline and descender.
    draw_text(canvas, TITLE_FONT, title, x, y, scale, 1,
              lambda r: lerp((255, 226, 96), (200, 140, 0), r, rows - 1))
    return canvas


def pictures():
    """File name -> bytes of every picture this script owns."""
    out = {}
    icons = []
    for size in (16, 32, 48):
        icons.append((draw_icon(size, rich=False), 4))
        rich = draw_icon(size, rich=True)
        icons.append((rich, 8))
        out[f"app-icon_{size}.png"] = png_rgba(rich)
    out["app-icon.ico"] = ico(icons)
    out["state-pictures.bmp"] = bmp24(draw_state_pictures())
    out["file-type-pictures.bmp"] = bmp24(draw_file_type_pictures())
    out["tree-state-pictures.bmp"] = bmp24(draw_tree_state_pictures())
    out["folder-picture.bmp"] = bmp24(draw_folder_picture())
    out["banner.bmp"] = bmp24(draw_banner())
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.dirname(os.path.abspath(__file__)),
                        help="folder to write the pictures into (default: this script's folder)")
    parser.add_argument("--hicolor", metavar="DIR",
                        help="draw the icon theme's icons into DIR instead")
    args = parser.parse_args()
    out, drawn = (args.hicolor, hicolor_icons()) if args.hicolor else (args.out, pictures())
    for name, data in sorted(drawn.items()):
        path = os.path.join(out, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
