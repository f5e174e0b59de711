#!/usr/bin/python3
"""Regenerates the artwork of Tovak Remote: the front-panel picture, the LED
and step-indicator bitmaps, the application icon and the Linux desktop's icons.

Run from the repository root:

    python3 resources/make_artwork.py                  # rewrite every file
    python3 resources/make_artwork.py --preview x.png  # also show controls on top

Every file is drawn from code with a fixed random seed, so two runs give the
same bytes. Needs Pillow (Debian: python3-pil) and the DejaVu fonts (Debian:
fonts-dejavu-core).

The panel is drawn to fit the Win32 controls the program lays over it; the
tables below use the window's client coordinates, exactly as the program
places its controls, and the layout check refuses to write a picture whose
printed labels would sit under a control or on top of each other.
"""

import io
import os
import random
import struct
import sys

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:
    # A private Python (pyenv, venv) may shadow Debian's, which has Pillow.
    SYSTEM_PYTHON = "/usr/bin/python3"
    if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(
        SYSTEM_PYTHON
    ):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    sys.exit("make_artwork: Pillow is missing (Debian package python3-pil)")

OUT_DIR = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------
# Sizes and placement
# ---------------------------------------------------------------------------

PANEL_SIZE = (759, 237)
# The program shows the panel at client (0,1): picture y = client y - 1.
PANEL_ORIGIN = (0, 1)
LED_SIZE = (6, 6)
STEP_SIZE = (28, 64)
ICON_SIZES = (16, 24, 32, 48)
# The Linux desktop's icon, drawn for each size the hicolor icon theme has a folder for.
DESKTOP_ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
BUTTON = 28  # side of the square push buttons laid over the keys

STYLE_PLAIN = "plain"
STYLE_GREEN_PLATE = "green_plate"
STYLE_RED = "red"

# Every push button the program lays over the panel: (label, client x, y, w, h, style).
# Each label is printed under its key.
KEYS = (
    ("POWER", 88, 71, BUTTON, BUTTON, STYLE_PLAIN),
    ("AUTO", 517, 42, BUTTON, BUTTON, STYLE_PLAIN),
    ("MANUAL", 517, 99, BUTTON, BUTTON, STYLE_PLAIN),
    ("HOME", 579, 42, BUTTON, BUTTON, STYLE_PLAIN),
    ("CALIBRATION", 579, 99, BUTTON, BUTTON, STYLE_PLAIN),
    ("MODE", 640, 99, BUTTON, BUTTON, STYLE_PLAIN),
    ("7M", 88, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("10M", 149, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("14M", 210, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("18M", 272, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("21M", 333, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("24M", 394, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("28M", 456, 171, BUTTON, BUTTON, STYLE_PLAIN),
    ("50M", 517, 172, BUTTON, BUTTON, STYLE_PLAIN),
    ("SET", 579, 171, BUTTON, BUTTON, STYLE_GREEN_PLATE),
    ("CANCEL", 640, 171, BUTTON, BUTTON, STYLE_RED),
    ("UP", 456, 42, BUTTON, BUTTON, STYLE_PLAIN),
    ("DOWN", 456, 99, BUTTON, BUTTON, STYLE_PLAIN),
)

# The narrow step key between the up and down arrow marks.
STEP_KEY = (437, 68, 13, 34)
STEP_KEY_LEGEND = "STEP"

# Text control the program paints (white on dark blue) and the step bitmap.
DISPLAY_RECT = (175, 64, 185, 46)
DISPLAY_BLUE = (5, 30, 127)
STEP_RECT = (367, 56, STEP_SIZE[0], STEP_SIZE[1])

# LED image controls: (client x, y, label printed to its right or "").
BAND_LED_XS = (98, 159, 221, 282, 344, 405, 466, 528)
BAND_LED_Y = 154
POWER_LED = (98, 55)
BEAM_LEDS = (
    (650, 35, "NORMAL"),
    (650, 53, "180\N{DEGREE SIGN}"),
    (650, 70, "DIPOLE"),
)

# Silkscreen headings: (text, first key label, last key label) spanning those keys.
HEADINGS_ABOVE = (("ROTOR", "AUTO", "HOME"),)
HEADING_RISE = 15  # heading text top, above the top of its keys
BEAM_HEADING = "BEAM"
BEAM_HEADING_RISE = 8
BAND_BRACKET = ("BAND", "7M", "50M")
BRACKET_DROP = 6  # bracket line below the lowest key label
KEY_HOLE_MARGIN = 3  # cut-out around each button, on every side
KEY_LABEL_GAP = 6  # from the bottom of a button to the top of its label
LED_LABEL_GAP = 4
SCREW_INSET = 10
FACE_MARGIN = 4  # the bevelled edge of the face takes no print
MODEL_MARGIN = (22, 14)
LOGO_AT = (21, 11)
LOGO_EMBLEM_PX = 24

MAKER_NAME = "TOVAK"
MAKER_LINE = "ANTENNA CONTROLLER"
MODEL_NAME = "TR-108"

# Step indicator legends, top to bottom, and the file lighting each.
STEP_LEGENDS = ("50K", "40K", "20K", "10K")
STEP_FILES = (
    ("step_none.bmp", None),
    ("step_10k.bmp", "10K"),
    ("step_20k.bmp", "20K"),
    ("step_40k.bmp", "40K"),
    ("step_50k.bmp", "50K"),
)

PANEL_FILE = "panel.bmp"
ICON_FILE = "tovakrem.ico"
DESKTOP_ICON_FILE = os.path.join("icons", "tovak-remote-%d.png")

# ---------------------------------------------------------------------------
# Colours
# ---------------------------------------------------------------------------

FACE = (54, 57, 62)
FACE_TOP_LIFT = 10  # the face catches a little more light at the top
BRUSH_DEPTH = 5
EDGE_DARK = (14, 15, 17)
EDGE_LIGHT = (120, 124, 130)
EDGE_SHADE = (30, 31, 34)
LABEL_WHITE = (234, 234, 230)
HEADING_GREY = (160, 166, 176)
SILK_LINE = (128, 134, 144)
CANCEL_RED = (236, 62, 52)
SET_GREEN = (22, 138, 64)
SET_GREEN_EDGE = (12, 90, 40)
SET_WHITE = (255, 255, 255)
LOGO_WHITE = (240, 240, 236)
LOGO_ACCENT = (255, 168, 32)

# Key label styles: text colour, and (fill, edge) of a plate behind it or None.
LABEL_STYLES = {
    STYLE_PLAIN: (LABEL_WHITE, None),
    STYLE_RED: (CANCEL_RED, None),
    STYLE_GREEN_PLATE: (SET_WHITE, (SET_GREEN, SET_GREEN_EDGE)),
}

KEY_HOLE = (16, 17, 19)
KEY_LIGHT = (196, 198, 200)
KEY_MID = (150, 152, 156)
KEY_DARK = (78, 80, 84)

WINDOW_GLASS = (9, 11, 15)
WINDOW_GLASS_TOP = (22, 26, 34)
BEZEL_LIGHT = (150, 154, 160)
BEZEL_MID = (96, 100, 106)
BEZEL_DARK = (24, 25, 28)
WINDOW_INLAY = (30, 34, 44)  # fine frame in the glass around display and indicator

SOCKET_RING = (20, 20, 22)
SOCKET_RIM = (112, 116, 122)

SCREW_HEAD = (150, 152, 156)
SCREW_SLOT = (44, 45, 48)
SCREW_RECESS = (20, 21, 23)

STEP_BACK = (10, 10, 12)
STEP_CELL_LINE = (30, 30, 34)
STEP_DIM = (104, 82, 38)
STEP_LIT = (255, 184, 46)
STEP_LIT_GLOW = (58, 36, 6)

# LED colours by shade: edge, body, bright, highlight.
LED_FILES = (
    ("led_off.bmp", ((62, 63, 66), (92, 94, 98), (112, 114, 118), (150, 152, 156))),
    ("led_blue.bmp", ((14, 46, 150), (40, 104, 236), (96, 164, 255), (224, 240, 255))),
    ("led_green.bmp", ((0, 92, 24), (30, 188, 56), (112, 244, 112), (232, 255, 232))),
    ("led_orange.bmp", ((146, 62, 0), (242, 132, 12), (255, 182, 54), (255, 242, 204))),
)
# 6x6 round LED: 0 is the socket showing at the corners, 1..4 index the shades above.
LED_PATTERN = (
    (0, 1, 1, 1, 1, 0),
    (1, 2, 4, 3, 2, 1),
    (1, 3, 4, 3, 2, 1),
    (1, 3, 3, 3, 2, 1),
    (1, 2, 2, 2, 2, 1),
    (0, 1, 1, 1, 1, 0),
)

ICON_DIAL = (22, 74, 170)
ICON_DIAL_DARK = (10, 36, 96)
ICON_BEAM = (255, 255, 255)
ICON_POINTER = (255, 160, 24)
# Emblem geometry in sixteenths of its size: rim width, boom ends, and the
# elements as (distance from the bottom, half length), reflector first.
EMBLEM_RIM = 0.6
EMBLEM_BOOM_TOP = 2.5
EMBLEM_BOOM_BOTTOM = 3
EMBLEM_ELEMENTS = ((4, 5), (8, 3.5), (11.5, 2.5))

RANDOM_SEED = 1108
SUPERSAMPLE = 8

# ---------------------------------------------------------------------------
# Fonts
# ---------------------------------------------------------------------------

FONT_DIRS = (
    "/usr/share/fonts/truetype/dejavu",
    "/usr/share/fonts/dejavu",
    "/usr/share/fonts/TTF",
    "/usr/local/share/fonts",
)
FONT_BOLD = "DejaVuSans-Bold.ttf"
FONT_BOLD_OBLIQUE = "DejaVuSans-BoldOblique.ttf"
FONT_CONDENSED_BOLD = "DejaVuSansCondensed-Bold.ttf"

LABEL_PX = 8
HEADING_PX = 7
LEGEND_PX = 7
LOGO_PX = 19
MAKER_LINE_PX = 7
MODEL_PX = 13
STEP_LEGEND_PX = 10

_font_cache = {}


def find_font_file(name):
    for folder in FONT_DIRS:
        for root, _dirs, files in os.walk(folder):
            if name in files:
                return os.path.join(root, name)
    sys.exit("make_artwork: font %s not found (Debian package fonts-dejavu-core)" % name)


def font(name, px):
    key = (name, px)
    if key not in _font_cache:
        _font_cache[key] = ImageFont.truetype(find_font_file(name), px)
    return _font_cache[key]


# ---------------------------------------------------------------------------
# File writers (fixed headers so the bytes never depend on the library version)
# ---------------------------------------------------------------------------

PELS_PER_METRE = 2835  # 72 dpi


def bmp24_bytes(img):
    """Uncompressed 24-bit bottom-up DIB file with a BITMAPINFOHEADER."""
    img = img.convert("RGB")
    w, h = img.size
    stride = (w * 3 + 3) & ~3
    pad = b"\0" * (stride - w * 3)
    px = img.load()
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    pixels = b"".join(rows)
    info = struct.pack(
        "<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), PELS_PER_METRE, PELS_PER_METRE, 0, 0
    )
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + pixels


def ico_image_bytes(img):
    """One icon image: 32-bit BGRA bottom-up plus the 1-bit AND mask old shells read."""
    img = img.convert("RGBA")
    w, h = img.size
    px = img.load()
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[x, y]
            xor += bytes((b, g, r, a))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(w):
            if px[x, y][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico_bytes(images):
    count = len(images)
    blobs = [ico_image_bytes(im) for im in images]
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    for im, blob in zip(images, blobs):
        w, h = im.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def png_bytes(img):
    out = io.BytesIO()
    img.save(out, "PNG", optimize=True)
    return out.getvalue()


def write_file(name, data):
    path = os.path.join(OUT_DIR, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


# ---------------------------------------------------------------------------
# Geometry helpers
# ---------------------------------------------------------------------------


def to_picture(x, y):
    return x - PANEL_ORIGIN[0], y - PANEL_ORIGIN[1]


def picture_rect(client_rect):
    """(x, y, w, h) in client coordinates -> (left, top, right, bottom) exclusive."""
    x, y, w, h = client_rect
    px, py = to_picture(x, y)
    return (px, py, px + w, py + h)


def grow(rect, n):
    return (rect[0] - n, rect[1] - n, rect[2] + n, rect[3] + n)


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def key_rect(label):
    for key in KEYS:
        if key[0] == label:
            return picture_rect(key[1:5])
    raise KeyError(label)


def text_box(fnt, text, cx, top):
    """Box of text whose ink is centred on cx with its capitals starting at top."""
    l, t, r, b = fnt.getbbox(text)
    x = int(round(cx - (l + r) / 2.0))
    return (x + l, top, x + r, top + (b - t)), (x, top - t)


def draw_text_centred(draw, fnt, text, cx, top, fill):
    box, origin = text_box(fnt, text, cx, top)
    draw.text(origin, text, font=fnt, fill=fill)
    return box


def draw_text_left(draw, fnt, text, left, mid_y, fill):
    l, t, r, b = fnt.getbbox(text)
    top = int(round(mid_y - (b - t) / 2.0))
    draw.text((left - l, top - t), text, font=fnt, fill=fill)
    return (left, top, left + (r - l), top + (b - t))


def blend(c1, c2, t):
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c1, c2))


def shade(c, d):
    return tuple(max(0, min(255, v + d)) for v in c)


def circle(x, y, r):
    return (x - r, y - r, x + r, y + r)


def smooth_layer(size, paint):
    """Draws round shapes at SUPERSAMPLE x and shrinks them for clean edges."""
    w, h = size
    big = Image.new("RGBA", (w * SUPERSAMPLE, h * SUPERSAMPLE), (0, 0, 0, 0))
    paint(ImageDraw.Draw(big), SUPERSAMPLE)
    return big.resize((w, h), Image.LANCZOS)


def paste_smooth(img, left, top, size, paint):
    layer = smooth_layer(size, paint)
    base = img.crop((left, top, left + size[0], top + size[1])).convert("RGBA")
    img.paste(Image.alpha_composite(base, layer).convert("RGB"), (left, top))


# ---------------------------------------------------------------------------
# Panel
# ---------------------------------------------------------------------------


def brushed_face(rng):
    """Dark anodised face with fine horizontal brushing, lighter towards the top."""
    w, h = PANEL_SIZE
    streak_w = w // 6 + 1
    coarse = Image.new("L", (streak_w, h))
    coarse.putdata([rng.randint(0, 255) for _ in range(streak_w * h)])
    streaks = coarse.resize((w, h), Image.BILINEAR)
    row_lift = [rng.gauss(0.0, 1.2) for _ in range(h)]
    sp = streaks.load()
    face = Image.new("RGB", (w, h))
    out = []
    for y in range(h):
        lift = FACE_TOP_LIFT * (1.0 - y / float(h)) + row_lift[y]
        for x in range(w):
            d = int(round(lift + (sp[x, y] - 128) * BRUSH_DEPTH / 128.0))
            out.append(shade(FACE, d))
    face.putdata(out)
    return face


def draw_outer_frame(draw):
    w, h = PANEL_SIZE
    draw.rectangle((0, 0, w - 1, h - 1), outline=EDGE_DARK)
    for i in (1, 2):
        light = blend(EDGE_LIGHT, FACE, (i - 1) * 0.45)
        draw.line((i, i, w - 1 - i, i), fill=light)
        draw.line((i, i, i, h - 1 - i), fill=light)
        dark = blend(EDGE_SHADE, FACE, (i - 1) * 0.4)
        draw.line((i, h - 1 - i, w - 1 - i, h - 1 - i), fill=dark)
        draw.line((w - 1 - i, i, w - 1 - i, h - 1 - i), fill=dark)


def draw_keys(draw, rects):
    """Raised grey keys a little larger than their buttons, each in a dark cut-out.

    Drawn in layers over all keys at once so a neighbour's cut edge never
    paints into a hole (the step key sits close beside UP and DOWN).
    Returns the box each key takes on the face.
    """
    m = KEY_HOLE_MARGIN
    holes = [(l - m, t - m, r + m - 1, b + m - 1) for l, t, r, b in rects]
    for hole in holes:
        # Cut edge of the face: light on the lower right, where the wall faces up.
        draw.line((hole[0], hole[3] + 1, hole[2] + 1, hole[3] + 1), fill=shade(FACE, 22))
        draw.line((hole[2] + 1, hole[1], hole[2] + 1, hole[3] + 1), fill=shade(FACE, 22))
    for hole in holes:
        draw.rectangle(hole, fill=KEY_HOLE)
    soft_light = blend(KEY_LIGHT, KEY_MID, 0.5)
    soft_dark = blend(KEY_DARK, KEY_MID, 0.5)
    for l, t, r, b in rects:
        x0, y0, x1, y1 = l - 2, t - 2, r + 1, b + 1  # the cap shows 2 px around the button
        draw.rectangle((x0, y0, x1, y1), fill=KEY_MID)
        draw.line((x0, y0, x1, y0), fill=KEY_LIGHT)
        draw.line((x0, y0, x0, y1), fill=KEY_LIGHT)
        draw.line((x0 + 1, y1, x1, y1), fill=KEY_DARK)
        draw.line((x1, y0 + 1, x1, y1), fill=KEY_DARK)
        draw.line((x0 + 1, y0 + 1, x1 - 1, y0 + 1), fill=soft_light)
        draw.line((x0 + 1, y0 + 1, x0 + 1, y1 - 1), fill=soft_light)
        draw.line((x0 + 2, y1 - 1, x1 - 1, y1 - 1), fill=soft_dark)
        draw.line((x1 - 1, y0 + 2, x1 - 1, y1 - 1), fill=soft_dark)
    return [(h[0], h[1], h[2] + 2, h[3] + 2) for h in holes]


def draw_window(img, draw):
    """One dark window holding the text display and the step indicator."""
    disp = picture_rect(DISPLAY_RECT)
    step = picture_rect(STEP_RECT)
    inner = (disp[0] - 4, step[1] - 3, step[2] + 4, step[3] + 3)
    outer = grow(inner, 4)
    # Bezel: a sloped metal frame stepping down to the glass.
    draw.rectangle((outer[0], outer[1], outer[2] - 1, outer[3] - 1), fill=BEZEL_MID)
    draw.line((outer[0], outer[1], outer[2] - 1, outer[1]), fill=BEZEL_LIGHT)
    draw.line((outer[0], outer[1], outer[0], outer[3] - 1), fill=BEZEL_LIGHT)
    draw.line((outer[0], outer[3] - 1, outer[2] - 1, outer[3] - 1), fill=BEZEL_DARK)
    draw.line((outer[2] - 1, outer[1], outer[2] - 1, outer[3] - 1), fill=BEZEL_DARK)
    for i in range(1, 4):
        t = i / 4.0
        r = grow(inner, 4 - i)
        draw.line((r[0], r[1], r[2] - 1, r[1]), fill=blend(BEZEL_DARK, BEZEL_MID, t * 0.6))
        draw.line((r[0], r[1], r[0], r[3] - 1), fill=blend(BEZEL_DARK, BEZEL_MID, t * 0.6))
        draw.line((r[0], r[3] - 1, r[2] - 1, r[3] - 1), fill=blend(BEZEL_LIGHT, BEZEL_MID, t))
        draw.line((r[2] - 1, r[1], r[2] - 1, r[3] - 1), fill=blend(BEZEL_LIGHT, BEZEL_MID, t))
    # Glass, faintly lit from above.
    gh = inner[3] - inner[1]
    for y in range(inner[1], inner[3]):
        t = (y - inner[1]) / float(gh)
        glass = blend(WINDOW_GLASS_TOP, WINDOW_GLASS, min(1.0, t * 2.5))
        draw.line((inner[0], y, inner[2] - 1, y), fill=glass)
    # Thin frames where the display and indicator sit in the glass.
    draw.rectangle(grow((disp[0], disp[1], disp[2] - 1, disp[3] - 1), 1), outline=WINDOW_INLAY)
    draw.rectangle(grow((step[0], step[1], step[2] - 1, step[3] - 1), 1), outline=WINDOW_INLAY)
    # What the program paints over them, so the picture alone still looks right.
    draw.rectangle((disp[0], disp[1], disp[2] - 1, disp[3] - 1), fill=DISPLAY_BLUE)
    img.paste(draw_step(None), (step[0], step[1]))
    return outer


def draw_led_socket(img, x, y):
    """Dark ring around a 6x6 LED with a bright rim on the lower right."""
    px, py = to_picture(x, y)
    cx, cy = px + LED_SIZE[0] / 2.0, py + LED_SIZE[1] / 2.0
    left, top = int(cx) - 6, int(cy) - 6

    def paint(d, s):
        x, y = (cx - left) * s, (cy - top) * s
        d.ellipse(circle(x, y, 5.6 * s), fill=SOCKET_RIM + (255,))
        # Only the lower right of the bright rim stays visible.
        lip = shade(SOCKET_RING, 8) + (255,)
        d.ellipse((x - 5.6 * s, y - 5.6 * s, x + 4.8 * s, y + 4.8 * s), fill=lip)
        d.ellipse(circle(x, y, 5.0 * s), fill=SOCKET_RING + (255,))

    paste_smooth(img, left, top, (12, 12), paint)
    img.paste(draw_led(LED_FILES[0][1]), (px, py))
    return (px - 3, py - 3, px + LED_SIZE[0] + 3, py + LED_SIZE[1] + 3)


def draw_screw(img, cx, cy):
    left, top = cx - 6, cy - 6

    def paint(d, s):
        c = 6 * s
        slot = dict(fill=SCREW_SLOT + (255,), width=int(1.3 * s))
        d.ellipse(circle(c, c, 5.2 * s), fill=SCREW_RECESS + (255,))
        d.ellipse(circle(c, c, 4.4 * s), fill=SCREW_HEAD + (255,))
        glint = shade(SCREW_HEAD, 30) + (255,)
        d.ellipse((c - 4.4 * s, c - 4.4 * s, c + 3.4 * s, c + 3.4 * s), fill=glint)
        d.ellipse(circle(c, c, 3.6 * s), fill=SCREW_HEAD + (255,))
        # Cross-head, turned a little as a real screw would be.
        d.line((c - 3.0 * s, c - 1.2 * s, c + 3.0 * s, c + 1.2 * s), **slot)
        d.line((c - 1.2 * s, c + 3.0 * s, c + 1.2 * s, c - 3.0 * s), **slot)

    paste_smooth(img, left, top, (12, 12), paint)
    return (cx - 5, cy - 5, cx + 6, cy + 6)


def draw_arrow_mark(img, cx, cy, up):
    """Printed triangle beside the UP/DOWN keys."""
    left, top = int(cx) - 7, int(cy) - 7

    def paint(d, s):
        x, y = (cx - left) * s, (cy - top) * s
        hw, hh = 5.5 * s, 5.0 * s
        if up:
            pts = [(x, y - hh), (x + hw, y + hh), (x - hw, y + hh)]
        else:
            pts = [(x, y + hh), (x + hw, y - hh), (x - hw, y - hh)]
        d.polygon(pts, fill=LABEL_WHITE + (255,))

    paste_smooth(img, left, top, (14, 14), paint)
    return (left, top, left + 14, top + 14)


def draw_emblem(d, s, size):
    """Rotor dial with a three-element beam pointing at the heading mark.

    Shared by the icon and the panel logo. Lengths are in sixteenths of the
    emblem and every straight part is snapped to whole target pixels, so the
    beam stays crisp at 16 px; s is the drawing scale per target pixel.
    """
    u = size / 16.0

    def snap(v):
        return int(round(v * u))

    def fill_box(left, top, right, bottom, colour):
        d.rectangle((left * s, top * s, right * s - 1, bottom * s - 1), fill=colour + (255,))

    full = size * s
    d.ellipse((0, 0, full - 1, full - 1), fill=ICON_DIAL_DARK + (255,))
    rim = EMBLEM_RIM * u * s
    d.ellipse((rim, rim, full - 1 - rim, full - 1 - rim), fill=ICON_DIAL + (255,))
    # Boom up the middle; the 16 px image has no centre pixel, so it leans right.
    t = max(1, snap(1))
    boom_x = size // 2 if size <= 16 else size // 2 - t // 2
    fill_box(boom_x, snap(EMBLEM_BOOM_TOP), boom_x + t, size - snap(EMBLEM_BOOM_BOTTOM), ICON_BEAM)
    for from_bottom, half in EMBLEM_ELEMENTS:
        y = size - snap(from_bottom) - t
        h = max(1, snap(half))
        fill_box(boom_x - h, y, boom_x + t + h, y + t, ICON_BEAM)
    pw, ph, top = max(2, snap(3)), max(2, snap(2.5)), EMBLEM_RIM * u
    x = (size - pw) / 2.0
    d.polygon(
        [
            (x * s, top * s),
            ((x + pw) * s, top * s),
            (size / 2.0 * s, (top + ph) * s),
        ],
        fill=ICON_POINTER + (255,),
    )


def draw_logo(img, draw):
    """Emblem, maker name and the line under it, top left of the face."""
    size = LOGO_EMBLEM_PX
    left, top = LOGO_AT

    def paint(d, s):
        draw_emblem(d, s, size)

    paste_smooth(img, left, top, (size, size), paint)
    name_font = font(FONT_BOLD_OBLIQUE, LOGO_PX)
    l, t, r, b = name_font.getbbox(MAKER_NAME)
    x = left + size + 7
    draw.text((x - l, top + 1 - t), MAKER_NAME, font=name_font, fill=LOGO_WHITE)
    line_font = font(FONT_BOLD, MAKER_LINE_PX)
    ll, lt, lr, lb = line_font.getbbox(MAKER_LINE)
    y = top + 1 + (b - t) + 5
    draw.text((x - ll, y - lt), MAKER_LINE, font=line_font, fill=HEADING_GREY)
    draw.line((x, y - 3, x + lr - ll, y - 3), fill=LOGO_ACCENT)
    return (left, top, max(x + r - l, x + lr - ll), y + (lb - lt))


def draw_heading(draw, text, left, right, top):
    """Group title with rules either side, as printed over a row of keys."""
    fnt = font(FONT_BOLD, HEADING_PX)
    cx = (left + right) / 2.0
    box = draw_text_centred(draw, fnt, text, cx, top, HEADING_GREY)
    mid = top + (box[3] - box[1]) // 2
    draw.line((left, mid, box[0] - 4, mid), fill=SILK_LINE)
    draw.line((box[2] + 3, mid, right - 1, mid), fill=SILK_LINE)
    draw.line((left, mid, left, mid + 3), fill=SILK_LINE)
    draw.line((right - 1, mid, right - 1, mid + 3), fill=SILK_LINE)
    return box


def draw_bracket(draw, text, left, right, line_y):
    """Bracket under a row of keys with its title in the middle of the line."""
    fnt = font(FONT_BOLD, HEADING_PX)
    cx = (left + right) / 2.0
    l, t, r, b = fnt.getbbox(text)
    top = line_y - (b - t) // 2
    box = draw_text_centred(draw, fnt, text, cx, top, HEADING_GREY)
    draw.line((left, line_y, box[0] - 4, line_y), fill=SILK_LINE)
    draw.line((box[2] + 3, line_y, right - 1, line_y), fill=SILK_LINE)
    draw.line((left, line_y - 3, left, line_y), fill=SILK_LINE)
    draw.line((right - 1, line_y - 3, right - 1, line_y), fill=SILK_LINE)
    return box


def draw_key_label(draw, label, rect, style):
    """Label under a key, on a plate as wide as the button when its style has one."""
    colour, plate_colours = LABEL_STYLES[style]
    cx = (rect[0] + rect[2]) / 2.0
    top = rect[3] + KEY_LABEL_GAP
    fnt = font(FONT_BOLD, LABEL_PX)
    box, origin = text_box(fnt, label, cx, top)
    if plate_colours:
        fill, edge = plate_colours
        plate = (rect[0], box[1] - 2, rect[2] - 1, box[3] + 1)
        draw.rounded_rectangle(plate, radius=2, fill=fill, outline=edge)
        box = (plate[0], plate[1], plate[2] + 1, plate[3] + 1)
    draw.text(origin, label, font=fnt, fill=colour)
    return box


def check_layout(printed, obstacles):
    """Fails when printed art would hide under a control or run into other print."""
    problems = []
    for name, box in printed:
        for cname, crect in obstacles:
            if overlaps(box, crect):
                problems.append("%s is under %s" % (name, cname))
        w, h, m = PANEL_SIZE[0], PANEL_SIZE[1], FACE_MARGIN
        if box[0] < m or box[1] < m or box[2] > w - m or box[3] > h - m:
            problems.append("%s runs off the face" % name)
    for i, (a_name, a) in enumerate(printed):
        for b_name, b in printed[i + 1 :]:
            if overlaps(grow(a, 1), b):
                problems.append("%s touches %s" % (a_name, b_name))
    if problems:
        sys.exit("make_artwork: layout problems:\n  " + "\n  ".join(problems))


def controls():
    """Every rectangle the program covers with a control, in picture coordinates."""
    out = [("key " + k[0], picture_rect(k[1:5])) for k in KEYS]
    out.append(("STEP key", picture_rect(STEP_KEY)))
    out.append(("display", picture_rect(DISPLAY_RECT)))
    out.append(("step indicator", picture_rect(STEP_RECT)))
    leds = [(x, BAND_LED_Y) for x in BAND_LED_XS] + [POWER_LED] + [(x, y) for x, y, _ in BEAM_LEDS]
    out += [("LED %d,%d" % p, picture_rect(p + LED_SIZE)) for p in leds]
    return out


def draw_panel():
    rng = random.Random(RANDOM_SEED)
    img = brushed_face(rng)
    draw = ImageDraw.Draw(img)
    draw_outer_frame(draw)
    w, h = PANEL_SIZE
    # Layout check bookkeeping, in picture coordinates: printed words and marks
    # must stay clear of controls, of the dark cut-outs and of each other.
    printed = []
    obstacles = controls()

    for cx, cy in ((SCREW_INSET, SCREW_INSET), (w - 1 - SCREW_INSET, SCREW_INSET),
                   (SCREW_INSET, h - 1 - SCREW_INSET), (w - 1 - SCREW_INSET, h - 1 - SCREW_INSET)):
        obstacles.append(("screw", draw_screw(img, cx, cy)))
    window = draw_window(img, draw)
    obstacles.append(("display window", window))

    step_key = picture_rect(STEP_KEY)
    key_rects = [picture_rect(k[1:5]) for k in KEYS] + [step_key]
    names = ["key " + k[0] for k in KEYS] + ["STEP key"]
    obstacles += list(zip(names, draw_keys(draw, key_rects)))
    for (label, _x, _y, _w, _h, style), rect in zip(KEYS, key_rects):
        printed.append((label + " label", draw_key_label(draw, label, rect, style)))

    # Arrow marks beside UP and DOWN, above and below the narrow step key.
    skx = (step_key[0] + step_key[2]) / 2.0
    up, down = key_rect("UP"), key_rect("DOWN")
    printed.append(("up arrow", draw_arrow_mark(img, skx, (up[1] + up[3]) / 2.0, True)))
    printed.append(("down arrow", draw_arrow_mark(img, skx, (down[1] + down[3]) / 2.0, False)))
    # The STEP legend sits in the gap between the window and the step key.
    legend_font = font(FONT_BOLD, LEGEND_PX)
    l, t, r, b = legend_font.getbbox(STEP_KEY_LEGEND)
    legend_cx = (window[2] + step_key[0] - KEY_HOLE_MARGIN) / 2.0
    legend_top = int(round((step_key[1] + step_key[3]) / 2.0 - (b - t) / 2.0))
    printed.append(
        ("STEP legend",
         draw_text_centred(draw, legend_font, STEP_KEY_LEGEND, legend_cx, legend_top, LABEL_WHITE))
    )

    for x in BAND_LED_XS:
        obstacles.append(("band LED socket", draw_led_socket(img, x, BAND_LED_Y)))
    obstacles.append(("power LED socket", draw_led_socket(img, *POWER_LED)))
    label_font = font(FONT_BOLD, LABEL_PX)
    beam_sockets = []
    for x, y, text in BEAM_LEDS:
        socket = draw_led_socket(img, x, y)
        obstacles.append((text + " socket", socket))
        beam_sockets.append(socket)
        mid = (socket[1] + socket[3]) / 2.0 - 0.5
        box = draw_text_left(draw, label_font, text, socket[2] + LED_LABEL_GAP, mid, LABEL_WHITE)
        printed.append((text + " label", box))

    for text, first, last in HEADINGS_ABOVE:
        a, b = key_rect(first), key_rect(last)
        box = draw_heading(draw, text, a[0] - KEY_HOLE_MARGIN, b[2] + KEY_HOLE_MARGIN,
                           a[1] - HEADING_RISE)
        printed.append((text + " heading", box))
    head_font = font(FONT_BOLD, HEADING_PX)
    top_socket = beam_sockets[0]
    box = draw_text_left(draw, head_font, BEAM_HEADING, top_socket[0],
                         top_socket[1] - BEAM_HEADING_RISE, HEADING_GREY)
    printed.append((BEAM_HEADING + " heading", box))
    text, first, last = BAND_BRACKET
    a, b = key_rect(first), key_rect(last)
    label_bottom = max(box[3] for name, box in printed if name.endswith(" label"))
    box = draw_bracket(draw, text, a[0] - KEY_HOLE_MARGIN, b[2] + KEY_HOLE_MARGIN,
                       label_bottom + BRACKET_DROP)
    printed.append((text + " bracket", box))

    printed.append(("logo", draw_logo(img, draw)))
    model_font = font(FONT_BOLD_OBLIQUE, MODEL_PX)
    l, t, r, b = model_font.getbbox(MODEL_NAME)
    mx, my = w - MODEL_MARGIN[0] - (r - l), h - MODEL_MARGIN[1] - (b - t)
    draw.text((mx - l, my - t), MODEL_NAME, font=model_font, fill=LOGO_WHITE)
    printed.append(("model name", (mx, my, mx + r - l, my + b - t)))

    check_layout(printed, obstacles)
    return img


# ---------------------------------------------------------------------------
# LEDs, step indicator, icon
# ---------------------------------------------------------------------------


def draw_led(shades):
    img = Image.new("RGB", LED_SIZE)
    palette = (SOCKET_RING,) + tuple(shades)
    img.putdata([palette[v] for row in LED_PATTERN for v in row])
    return img


def draw_step(lit):
    """Four stacked legends; the lit one glows amber, the rest stay dim."""
    w, h = STEP_SIZE
    img = Image.new("RGB", STEP_SIZE, STEP_BACK)
    d = ImageDraw.Draw(img)
    cell_h = h // len(STEP_LEGENDS)
    fnt = font(FONT_CONDENSED_BOLD, STEP_LEGEND_PX)
    for i, legend in enumerate(STEP_LEGENDS):
        top = i * cell_h
        if legend == lit:
            d.rectangle((1, top + 1, w - 2, top + cell_h - 2), fill=STEP_LIT_GLOW)
        if i:
            d.line((2, top, w - 3, top), fill=STEP_CELL_LINE)
        l, t, r, b = fnt.getbbox(legend)
        text_top = top + (cell_h - (b - t) + 1) // 2
        colour = STEP_LIT if legend == lit else STEP_DIM
        draw_text_centred(d, fnt, legend, w / 2.0, text_top, colour)
    return img


def draw_icon(size):
    def paint(d, s):
        draw_emblem(d, s, size)

    return smooth_layer((size, size), paint)


# ---------------------------------------------------------------------------
# Preview (not shipped): the panel as the program shows it
# ---------------------------------------------------------------------------

PREVIEW_BUTTON = (212, 208, 200)
PREVIEW_TEXT = ("AUTO      NORMAL", " 40m  7.050 MHz")


def draw_preview(panel, path):
    w, h = PANEL_SIZE
    img = Image.new("RGB", (w, h + PANEL_ORIGIN[1]), PREVIEW_BUTTON)
    img.paste(panel, PANEL_ORIGIN)
    d = ImageDraw.Draw(img)
    for k in KEYS:
        x, y, kw, kh = k[1:5]
        d.rectangle((x, y, x + kw - 1, y + kh - 1), fill=PREVIEW_BUTTON, outline=(64, 64, 64))
        d.line((x, y, x + kw - 2, y), fill=(255, 255, 255))
        d.line((x, y, x, y + kh - 2), fill=(255, 255, 255))
    x, y, kw, kh = STEP_KEY
    d.rectangle((x, y, x + kw - 1, y + kh - 1), fill=PREVIEW_BUTTON, outline=(64, 64, 64))
    x, y, dw, dh = DISPLAY_RECT
    d.rectangle((x, y, x + dw - 1, y + dh - 1), fill=DISPLAY_BLUE)
    mono = font("DejaVuSansMono-Bold.ttf", 13)
    d.text((x + 8, y + 6), PREVIEW_TEXT[0], font=mono, fill=(255, 255, 255))
    d.text((x + 8, y + 25), PREVIEW_TEXT[1], font=mono, fill=(255, 255, 255))
    img.paste(draw_step("40K"), STEP_RECT[:2])
    leds = [(x, BAND_LED_Y) for x in BAND_LED_XS] + [POWER_LED] + [(x, y) for x, y, _ in BEAM_LEDS]
    lit = {(BAND_LED_XS[0], BAND_LED_Y): 2, POWER_LED: 1, BEAM_LEDS[0][:2]: 3}
    for p in leds:
        img.paste(draw_led(LED_FILES[lit.get(p, 0)][1]), p)
    img.save(path)


# ---------------------------------------------------------------------------


def main(argv):
    preview = None
    if len(argv) == 3 and argv[1] == "--preview":
        preview = argv[2]
    elif len(argv) != 1:
        sys.exit("usage: make_artwork.py [--preview out.png]")

    panel = draw_panel()
    written = [write_file(PANEL_FILE, bmp24_bytes(panel))]
    for name, shades in LED_FILES:
        written.append(write_file(name, bmp24_bytes(draw_led(shades))))
    for name, lit in STEP_FILES:
        written.append(write_file(name, bmp24_bytes(draw_step(lit))))
    written.append(write_file(ICON_FILE, ico_bytes([draw_icon(s) for s in ICON_SIZES])))
    for size in DESKTOP_ICON_SIZES:
        written.append(write_file(DESKTOP_ICON_FILE % size, png_bytes(draw_icon(size))))
    if preview:
        draw_preview(panel, preview)
        written.append(preview)
    for path in written:
        print("wrote", os.path.relpath(path))


if __name__ == "__main__":
    main(sys.argv)
