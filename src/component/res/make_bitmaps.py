#!/usr/bin/env python3
"""Draws the component's three bitmaps and writes them beside this script.

face.bmp (157 x 57)             the control's face on a host's form
settings_picture.bmp (161 x 57) the picture box of the settings dialog
toolbox.bmp (16 x 15)           the control's icon in a container's toolbox

All three are 24-bit uncompressed BMPs, the format the resource compiler and
LoadImage take without conversion.  The build embeds the committed files; run
this script only to redraw them:  python3 make_bitmaps.py [output folder]

Shapes are drawn at four times the size and averaged down, which smooths
their edges; the small capitals are a pixel font drawn on whole pixels, since
smoothing letters five pixels wide only blurs them.
"""

import math
import os
import struct
import sys

SCALE = 4

NAVY = (24, 58, 107)
NAVY_DARK = (14, 36, 70)
BLUE_TOP = (41, 92, 160)
BLUE_BOTTOM = (21, 55, 104)
AMBER = (255, 176, 46)
WHITE = (255, 255, 255)
PALE = (196, 214, 236)
SCREEN = (140, 200, 235)
GREEN = (80, 210, 110)
GREY = (110, 118, 130)
LIGHT_GREY = (192, 192, 192)

# Capitals, digits and a few signs, 5 x 7, '#' set.
PIXEL_FONT = {
    'A': ['.###.', '#...#', '#...#', '#####', '#...#', '#...#', '#...#'],
    'C': ['.###.', '#...#', '#....', '#....', '#....', '#...#', '.###.'],
    'D': ['####.', '#...#', '#...#', '#...#', '#...#', '#...#', '####.'],
    'E': ['#####', '#....', '#....', '####.', '#....', '#....', '#####'],
    'G': ['.###.', '#...#', '#....', '#.###', '#...#', '#...#', '.####'],
    'I': ['.###.', '..#..', '..#..', '..#..', '..#..', '..#..', '.###.'],
    'M': ['#...#', '##.##', '#.#.#', '#.#.#', '#...#', '#...#', '#...#'],
    'N': ['#...#', '##..#', '#.#.#', '#..##', '#...#', '#...#', '#...#'],
    'O': ['.###.', '#...#', '#...#', '#...#', '#...#', '#...#', '.###.'],
    'R': ['####.', '#...#', '#...#', '####.', '#.#..', '#..#.', '#...#'],
    'S': ['.####', '#....', '#....', '.###.', '....#', '....#', '####.'],
    'T': ['#####', '..#..', '..#..', '..#..', '..#..', '..#..', '..#..'],
    'U': ['#...#', '#...#', '#...#', '#...#', '#...#', '#...#', '.###.'],
    'V': ['#...#', '#...#', '#...#', '#...#', '#...#', '.#.#.', '..#..'],
    '4': ['...#.', '..##.', '.#.#.', '#..#.', '#####', '...#.', '...#.'],
    '.': ['.....', '.....', '.....', '.....', '.....', '.##..', '.##..'],
    ' ': ['.....'] * 7,
}


class Canvas:
    """An RGB image drawn at SCALE times its size; Pixels() averages it down."""

    def __init__(self, width, height, color):
        self.width, self.height = width, height
        self.w, self.h = width * SCALE, height * SCALE
        self.px = [list(color) * self.w for _ in range(self.h)]

    def _put(self, x, y, color):
        row = self.px[y]
        row[3 * x:3 * x + 3] = color

    def _fill(self, x0, y0, x1, y1, inside, color):
        """Sets every fine pixel in the box (in coarse units) for which inside(x, y) holds;
        x and y are the fine pixel's centre in coarse units."""
        fx0 = max(0, int(math.floor(x0 * SCALE)))
        fy0 = max(0, int(math.floor(y0 * SCALE)))
        fx1 = min(self.w, int(math.ceil(x1 * SCALE)))
        fy1 = min(self.h, int(math.ceil(y1 * SCALE)))
        for fy in range(fy0, fy1):
            y = (fy + 0.5) / SCALE
            for fx in range(fx0, fx1):
                if inside((fx + 0.5) / SCALE, y):
                    self._put(fx, fy, color)

    def rect(self, x0, y0, x1, y1, color):
        self._fill(x0, y0, x1, y1, lambda x, y: True, color)

    def gradient(self, x0, y0, x1, y1, top, bottom):
        for fy in range(int(y0 * SCALE), int(y1 * SCALE)):
            t = (fy - y0 * SCALE) / max(1, (y1 - y0) * SCALE - 1)
            color = [round(a + (b - a) * t) for a, b in zip(top, bottom)]
            for fx in range(int(x0 * SCALE), int(x1 * SCALE)):
                self._put(fx, fy, color)

    def round_rect(self, x0, y0, x1, y1, r, color):
        def inside(x, y):
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

        self._fill(x0, y0, x1, y1, inside, color)

    def disc(self, cx, cy, r, color):
        self._fill(cx - r, cy - r, cx + r, cy + r,
                   lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, color)

    def line(self, xa, ya, xb, yb, width, color):
        """A stroke with round ends."""
        half = width / 2
        dx, dy = xb - xa, yb - ya
        length2 = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = min(1.0, max(0.0, ((x - xa) * dx + (y - ya) * dy) / length2))
            px, py = xa + t * dx, ya + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= half * half

        self._fill(min(xa, xb) - half, min(ya, yb) - half, max(xa, xb) + half,
                   max(ya, yb) + half, inside, color)

    def arc(self, cx, cy, r, width, start, end, color, caps=True):
        """A stroke along a circle from angle start to end (degrees, counter-clockwise,
        0 pointing right, y growing downwards as on screen)."""
        half = width / 2
        span = end - start if end - start >= 360 else (end - start) % 360

        def on_arc(x, y):
            if abs(math.hypot(x - cx, y - cy) - r) > half:
                return False
            a = math.degrees(math.atan2(cy - y, x - cx)) % 360
            return (a - start) % 360 <= span

        self._fill(cx - r - half, cy - r - half, cx + r + half, cy + r + half, on_arc, color)
        if caps:
            for a in (start, end):
                t = math.radians(a)
                self.disc(cx + r * math.cos(t), cy - r * math.sin(t), half, color)

    def pixel_text(self, x, y, text, color, spacing=1):
        """Small capitals on whole pixels; returns the width drawn."""
        at = x
        for ch in text:
            glyph = PIXEL_FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit == '#':
                        self.rect(at + gx, y + gy, at + gx + 1, y + gy + 1, color)
            at += len(glyph[0]) + spacing
        return at - spacing - x

    def pixels(self):
        """The image at its own size: each pixel the mean of its fine pixels."""
        out = []
        n = SCALE * SCALE
        for y in range(self.height):
            row = []
            for x in range(self.width):
                acc = [0, 0, 0]
                for fy in range(y * SCALE, (y + 1) * SCALE):
                    line = self.px[fy]
                    for fx in range(x * SCALE, (x + 1) * SCALE):
                        acc[0] += line[3 * fx]
                        acc[1] += line[3 * fx + 1]
                        acc[2] += line[3 * fx + 2]
                row.append(tuple(round(c / n) for c in acc))
            out.append(row)
        return out


def pixel_text_width(text, spacing=1):
    return sum(len(PIXEL_FONT[c][0]) + spacing for c in text) - spacing


# The word mark: a geometric sans drawn from strokes.  Each letter is drawn
# with its left edge at x on baseline y and returns its advance.
def word_mark(canvas, x, baseline, x_height, stroke, color, draw=True):
    cap = x_height * 1.42
    half = stroke / 2
    gap = stroke * 0.75
    r = (x_height - stroke) / 2  # radius of the round letters' centre line
    mid = baseline - x_height / 2
    top = baseline - x_height + half
    bottom = baseline - half

    def letter_t(x):
        w = cap * 0.72
        if draw:
            canvas.line(x + half, baseline - cap + half, x + w - half, baseline - cap + half,
                        stroke, color)
            canvas.line(x + w / 2, baseline - cap + half, x + w / 2, bottom, stroke, color)
        return w

    def letter_a(x):
        cx = x + half + r
        if draw:
            canvas.arc(cx, mid, r, stroke, 0, 360, color, caps=False)
            canvas.line(cx + r, top, cx + r, bottom, stroke, color)
        return 2 * r + stroke

    def letter_r(x):
        sx = x + half
        rr = r * 0.95
        if draw:
            canvas.line(sx, top, sx, bottom, stroke, color)
            canvas.arc(sx + rr, top + rr, rr, stroke, 50, 180, color)
        return stroke + rr * 1.6

    def letter_v(x):
        w = x_height * 0.95
        if draw:
            canvas.line(x + half, top, x + w / 2, bottom, stroke, color)
            canvas.line(x + w - half, top, x + w / 2, bottom, stroke, color)
        return w

    def letter_e(x):
        cx = x + half + r
        if draw:
            canvas.arc(cx, mid, r, stroke, 0, 318, color)
            canvas.line(cx - r, mid, cx + r, mid, stroke * 0.85, color)
        return 2 * r + stroke

    def letter_x(x):
        w = x_height * 0.9
        if draw:
            canvas.line(x + half, top, x + w - half, bottom, stroke, color)
            canvas.line(x + w - half, top, x + half, bottom, stroke, color)
        return w

    at = x
    for i, letter in enumerate((letter_t, letter_a, letter_r, letter_v, letter_e, letter_x)):
        advance = letter(at)
        # The T's bar overhangs; the a tucks under it.
        at += advance + (gap - x_height * 0.3 if i == 0 else gap)
    return at - gap - x


def signal(canvas, cx, cy, radii, stroke, color, start=-42, end=42):
    for r in radii:
        canvas.arc(cx, cy, r, stroke, start % 360, end % 360, color)


def phone(canvas, x, y, w, h, body, outline, screen):
    """A handset: body, screen, keypad and antenna.  (x, y) is the body's top left."""
    canvas.round_rect(x - 1, y - 1, x + w + 1, y + h + 1, 4, outline)
    canvas.round_rect(x, y, x + w, y + h, 3.2, body)
    canvas.line(x + w - 3.5, y - 0.5, x + w - 3.5, y - 7, 2.2, outline)  # antenna
    canvas.rect(x + 2.5, y + 3, x + w - 2.5, y + h * 0.42, outline)
    canvas.rect(x + 3.3, y + 3.8, x + w - 3.3, y + h * 0.42 - 0.8, screen)
    pitch = (w - 6) / 2
    for row in range(3):
        for col in range(3):
            canvas.disc(x + 3 + col * pitch, y + h * 0.55 + row * (h * 0.12), 1.1, outline)
    return x + w - 3.5, y - 7  # the antenna's tip


def draw_face():
    c = Canvas(157, 57, NAVY)
    c.gradient(0, 0, 157, 57, BLUE_TOP, BLUE_BOTTOM)
    tip = phone(c, 10, 17, 17, 31, WHITE, NAVY_DARK, SCREEN)
    signal(c, tip[0], tip[1], (4.5, 8.5, 12.5), 2.0, AMBER, -30, 60)
    x_height = 15
    width = word_mark(c, 0, 0, x_height, 3.6, WHITE, draw=False)
    left = 46 + (157 - 46 - 6 - width) / 2
    word_mark(c, left, 33, x_height, 3.6, WHITE)
    caption = 'SMS ENGINE'
    c.pixel_text(round(left + (width - pixel_text_width(caption)) / 2), 40, caption, PALE)
    # A one-pixel rim, darker below and right, lighter above and left.
    c.rect(0, 0, 157, 1, (90, 140, 200))
    c.rect(0, 0, 1, 57, (90, 140, 200))
    c.rect(0, 56, 157, 57, NAVY_DARK)
    c.rect(156, 0, 157, 57, NAVY_DARK)
    return c.pixels()


def draw_settings_picture():
    c = Canvas(161, 57, WHITE)
    # A GSM modem: a box with status lights, its antenna and the signal.
    c.round_rect(8, 26, 48, 46, 4, NAVY)
    c.round_rect(10, 28, 46, 35, 2, BLUE_TOP)
    for i, color in enumerate((GREEN, GREEN, AMBER)):
        c.disc(15 + i * 6, 40.5, 1.8, color)
    c.rect(35, 39, 44, 42, PALE)
    c.line(40, 26, 40, 10, 2.6, NAVY)
    c.disc(40, 9.5, 2.2, NAVY)
    signal(c, 40, 9.5, (6, 11), 2.0, AMBER, -35, 35)
    signal(c, 40, 9.5, (6, 11), 2.0, AMBER, 145, 215)
    x_height = 15
    width = word_mark(c, 0, 0, x_height, 3.6, NAVY, draw=False)
    left = 58 + (161 - 58 - 6 - width) / 2
    word_mark(c, left, 32, x_height, 3.6, NAVY)
    caption = 'MODEM SETTINGS'
    caption_left = round(left + (width - pixel_text_width(caption)) / 2)
    c.pixel_text(caption_left, 40, caption, GREY)
    return c.pixels()


# The toolbox icon is too small for smoothing: every pixel is placed.
TOOLBOX = [
    '..........o.....',
    '.....k..o..o....',
    '.....k...o..o...',
    '.....k...o..o...',
    '..kkkkk.o..o....',
    '.kwwwwwk..o.....',
    '.kbbbbbk........',
    '.kbbbbbk........',
    '.kwwwwwk........',
    '.kwkwkwk........',
    '.kwwwwwk........',
    '.kwkwkwk........',
    '.kwwwwwk........',
    '..kkkkk.........',
    '................',
]
TOOLBOX_COLORS = {'.': LIGHT_GREY, 'k': NAVY_DARK, 'w': WHITE, 'b': SCREEN, 'o': (230, 130, 0)}


def draw_toolbox():
    return [[TOOLBOX_COLORS[ch] for ch in row] for row in TOOLBOX]


def write_bmp(path, rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(header) + len(data), 0, 0, 14 + len(header)))
        f.write(header)
        f.write(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(out, 'face.bmp'), draw_face())
    write_bmp(os.path.join(out, 'settings_picture.bmp'), draw_settings_picture())
    write_bmp(os.path.join(out, 'toolbox.bmp'), draw_toolbox())


if __name__ == '__main__':
    main()
