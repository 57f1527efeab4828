#!/usr/bin/env python3
"""Draws the pictures of the frame pages and the menu into site/images/ and site/aa/.

Run from anywhere:  python3 site/tools/make_images.py
Needs Pillow (Debian: python3-pil) and a CJK font (Debian: fonts-wqy-microhei,
fonts-wqy-zenhei or fonts-noto-cjk); DESK_CJK_FONT may name another font file.
The output is deterministic, so the committed files change only when this
script does.
"""

import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

SITE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
IMAGES = os.path.join(SITE, "images")
AA = os.path.join(SITE, "aa")

# The office palette.
NAVY = (10, 42, 110)
DEEP = (11, 47, 133)
BUTTON = (33, 90, 219)  # #215ADB, the menu buttons
MID = (58, 117, 230)
LIGHT = (134, 170, 241)  # #86AAF1
PALE = (207, 224, 255)
WHITE = (255, 255, 255)
YELLOW = (255, 211, 77)
AMBER = (232, 160, 40)
ORANGE = (255, 159, 64)
GREEN = (90, 196, 110)
RED = (236, 84, 84)
GREY = (184, 190, 200)
DARKGREY = (120, 128, 140)
INK = (38, 58, 102)
LINE = (127, 163, 232)

# Menu background: a soft cylinder across the 150-pixel frame.
MENU_EDGE = (26, 68, 168)
MENU_MIDDLE = (38, 84, 192)

SS = 4  # supersampling factor for shapes


def find_font():
    candidates = [
        os.environ.get("DESK_CJK_FONT", ""),
        "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
        "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
        "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    ]
    for path in candidates:
        if path and os.path.exists(path):
            return path
    sys.exit("make_images: no CJK font found; install fonts-wqy-microhei or set DESK_CJK_FONT")


FONT = find_font()


def font(size):
    return ImageFont.truetype(FONT, size)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Pen:
    """Draws in target-pixel coordinates on a supersampled RGBA canvas."""

    def __init__(self, w, h, dx=0.0, dy=0.0):
        self.w, self.h = w, h
        self.dx, self.dy = dx, dy
        self.img = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
        self.d = ImageDraw.Draw(self.img)

    def _p(self, x, y):
        return ((x + self.dx) * SS, (y + self.dy) * SS)

    def _box(self, x0, y0, x1, y1):
        a, b = self._p(x0, y0)
        c, d = self._p(x1, y1)
        return [a, b, c, d]

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=1.0, radius=0.0):
        self.d.rounded_rectangle(self._box(x0, y0, x1, y1), radius=radius * SS, fill=fill,
                                 outline=outline, width=int(round(width * SS)) if outline else 0)

    def ellipse(self, cx, cy, rx, ry=None, fill=None, outline=None, width=1.0):
        ry = rx if ry is None else ry
        self.d.ellipse(self._box(cx - rx, cy - ry, cx + rx, cy + ry), fill=fill, outline=outline,
                       width=int(round(width * SS)) if outline else 0)

    def poly(self, pts, fill=None, outline=None, width=1.0):
        self.d.polygon([self._p(x, y) for x, y in pts], fill=fill)
        if outline:
            self.line(list(pts) + [pts[0]], outline, width)

    def line(self, pts, fill, width=1.0):
        w = int(round(width * SS))
        self.d.line([self._p(x, y) for x, y in pts], fill=fill, width=w, joint="curve")
        r = w / 2
        for x, y in pts:  # round caps
            px, py = self._p(x, y)
            self.d.ellipse([px - r, py - r, px + r, py + r], fill=fill)

    def arc(self, cx, cy, r, start, end, fill, width=1.0):
        self.d.arc(self._box(cx - r, cy - r, cx + r, cy + r), start, end, fill=fill,
                   width=int(round(width * SS)))

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)


def flat(rgba, bg):
    base = Image.new("RGBA", rgba.size, bg + (255,))
    base.alpha_composite(rgba)
    return base.convert("RGB")


def save_gif(img, path, colors=64, transparent_from=None):
    """Saves an RGB image as GIF; with `transparent_from` (an RGBA image of the
    same size) fully clear pixels become the transparent colour."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pal = img.quantize(colors=colors - 1 if transparent_from else colors,
                       method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    if transparent_from is not None:
        index = colors - 1
        alpha = transparent_from.getchannel("A")
        px = pal.load()
        ap = alpha.load()
        for y in range(img.height):
            for x in range(img.width):
                if ap[x, y] < 8:
                    px[x, y] = index
        palette = pal.getpalette()[: 3 * (colors - 1)] + [0, 255, 0]
        pal.putpalette(palette)
        pal.save(path, transparency=index, optimize=False)
    else:
        pal.save(path, optimize=False)


def save_jpeg(img, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.convert("RGB").save(path, quality=90, optimize=True)


def vgradient(w, h, top, bottom):
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for y in range(h):
        d.line([(0, y), (w - 1, y)], fill=mix(top, bottom, y / max(1, h - 1)))
    return img


def cylinder(w, h, edge, middle):
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for x in range(w):
        t = math.sin(math.pi * (x + 0.5) / w)
        d.line([(x, 0), (x, h - 1)], fill=mix(edge, middle, t))
    return img


# ---------------------------------------------------------------- menu icons
# Each icon is designed in a 32x32 box and centred in its canvas.


def doc(p, x0, y0, x1, y1, lines=3):
    fold = 4
    p.poly([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], fill=WHITE,
           outline=DEEP, width=1.0)
    p.poly([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], fill=PALE, outline=DEEP,
           width=0.8)
    step = (y1 - y0 - 8) / max(1, lines)
    for i in range(lines):
        y = y0 + 6 + i * step
        p.line([(x0 + 3, y), (x1 - 3 - (3 if i == lines - 1 else 0), y)], LINE, 1.4)


def person(p, cx, top, scale=1.0, fill=WHITE, outline=DEEP):
    p.ellipse(cx, top + 4 * scale, 4 * scale, fill=fill, outline=outline, width=1.0)
    p.d.pieslice(p._box(cx - 8 * scale, top + 9 * scale, cx + 8 * scale, top + 25 * scale), 180,
                 360, fill=fill, outline=outline, width=SS)


def gear(p, cx, cy, r_out, r_in, teeth, fill, hole):
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_out if (i % 4) in (0, 1) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    p.poly(pts, fill=fill, outline=DEEP, width=0.8)
    p.ellipse(cx, cy, r_in * 0.45, fill=hole, outline=DEEP, width=0.8)


def icon_notice(p):  # 公告牌
    p.line([(10, 21), (8, 29)], WHITE, 2.2)
    p.line([(22, 21), (24, 29)], WHITE, 2.2)
    p.rect(4, 5, 28, 22, fill=WHITE, outline=DEEP, radius=1.5)
    p.rect(4, 5, 28, 10, fill=YELLOW, outline=DEEP, radius=1.5)
    for y in (13.5, 16.5, 19.5):
        p.line([(8, y), (24 if y < 19 else 18, y)], LINE, 1.4)
    p.ellipse(16, 5, 2, fill=RED, outline=DEEP, width=0.7)


def icon_talk(p):  # 交流园地
    p.poly([(7, 17), (6, 23), (12, 17)], fill=WHITE)
    p.rect(2, 4, 21, 18, fill=WHITE, outline=DEEP, radius=4)
    p.poly([(24, 24), (26, 29), (19, 24)], fill=YELLOW)
    p.rect(12, 12, 30, 25, fill=YELLOW, outline=DEEP, radius=4)
    for x in (17, 21, 25):
        p.ellipse(x, 18.5, 1.3, fill=AMBER)
    for y in (8.5, 12):
        p.line([(6, y), (16, y)], LINE, 1.4)


def icon_folder(p):  # 共享资源, 收文登记
    p.poly([(3, 8), (12, 8), (14, 11), (29, 11), (29, 27), (3, 27)], fill=AMBER, outline=DEEP,
           width=1.0)
    p.rect(7, 5, 25, 20, fill=WHITE, outline=DEEP, width=0.8)
    for y in (9, 12, 15):
        p.line([(10, y), (22, y)], LINE, 1.2)
    p.poly([(3, 14), (29, 14), (29, 27), (3, 27)], fill=YELLOW, outline=DEEP, width=1.0)
    p.line([(6, 17), (26, 17)], (255, 232, 150), 1.0)


def icon_news(p):  # 日常信息
    p.rect(3, 5, 29, 27, fill=WHITE, outline=DEEP, radius=1.5)
    p.rect(3, 5, 29, 10, fill=MID, outline=DEEP, radius=1.5)
    p.line([(6, 7.5), (18, 7.5)], WHITE, 1.4)
    p.rect(6, 13, 14, 20, fill=YELLOW, outline=AMBER, width=0.8)
    for y in (13.5, 16.5, 19.5):
        p.line([(17, y), (26, y)], LINE, 1.3)
    for y in (23, 25):
        p.line([(6, y), (26, y)], LINE, 1.3)


def icon_draft(p):  # 发文拟稿
    doc(p, 4, 3, 22, 28, lines=4)
    p.poly([(25.5, 6.5), (29.5, 10.5), (15.5, 24.5), (11.5, 20.5)], fill=ORANGE, outline=DEEP,
           width=0.9)
    p.poly([(11.5, 20.5), (15.5, 24.5), (10, 26)], fill=(250, 225, 180), outline=DEEP, width=0.8)
    p.poly([(25.5, 6.5), (29.5, 10.5), (28, 12), (24, 8)], fill=RED)


def icon_flow(p):  # 流程跟踪
    p.line([(16, 10), (16, 16), (7.5, 16), (7.5, 22)], WHITE, 1.8)
    p.line([(16, 16), (24.5, 16), (24.5, 22)], WHITE, 1.8)
    p.rect(9, 3, 23, 10, fill=WHITE, outline=DEEP, radius=2)
    p.rect(2, 22, 13, 29, fill=YELLOW, outline=DEEP, radius=2)
    p.rect(19, 22, 30, 29, fill=GREEN, outline=DEEP, radius=2)


def icon_search(p):  # 公文查询
    doc(p, 3, 3, 20, 27, lines=4)
    p.line([(24, 23), (29, 28.5)], DEEP, 4.0)
    p.line([(24.5, 23.5), (28.5, 28)], AMBER, 2.2)
    p.ellipse(19.5, 18.5, 6.5, fill=PALE, outline=DEEP, width=2.0)
    p.arc(19.5, 18.5, 4, 200, 260, WHITE, 1.2)


def icon_todo(p):  # 待办事宜
    p.rect(5, 5, 27, 30, fill=(196, 140, 70), outline=DEEP, radius=2.5)
    p.rect(8, 8, 24, 28, fill=WHITE)
    p.rect(11, 3, 21, 8, fill=(220, 224, 232), outline=DEEP, radius=1.5)
    for i, y in enumerate((13, 18, 23)):
        p.line([(10, y), (11.5, y + 1.5), (14, y - 1.5)], GREEN if i < 2 else LINE, 1.5)
        p.line([(16, y), (22, y)], LINE, 1.3)


def icon_meeting(p):  # 会议安排
    person(p, 8, 6, 0.8, fill=PALE)
    person(p, 24, 6, 0.8, fill=PALE)
    person(p, 16, 8, 0.95, fill=WHITE)
    p.rect(3, 24, 29, 29, fill=AMBER, outline=DEEP, radius=1.5)


def icon_apply(p):  # 事务申请
    doc(p, 4, 3, 22, 28, lines=4)
    p.ellipse(23, 22, 7, fill=GREEN, outline=DEEP, width=1.0)
    p.line([(23, 18), (23, 26)], WHITE, 2.0)
    p.line([(19, 22), (27, 22)], WHITE, 2.0)


def icon_track(p):  # 申请跟踪
    doc(p, 4, 3, 22, 28, lines=4)
    p.ellipse(23, 22, 7, fill=ORANGE, outline=DEEP, width=1.0)
    p.ellipse(23, 22, 5, fill=WHITE)
    p.line([(23, 22), (23, 18.5)], DEEP, 1.4)
    p.line([(23, 22), (25.8, 23.6)], DEEP, 1.4)


def icon_addressbook(p):  # 通讯录
    p.rect(6, 3, 27, 29, fill=WHITE, outline=DEEP, radius=1.5)
    p.rect(5, 3, 25, 29, fill=GREEN, outline=DEEP, radius=2)
    p.rect(5, 3, 9, 29, fill=(60, 150, 85), outline=DEEP, radius=2)
    p.ellipse(17, 12, 3.6, fill=WHITE)
    p.d.pieslice(p._box(10.5, 16, 23.5, 30), 180, 360, fill=WHITE)
    p.rect(25, 7, 28, 11, fill=YELLOW, outline=DEEP, width=0.7)
    p.rect(25, 14, 28, 18, fill=RED, outline=DEEP, width=0.7)


def icon_plan(p):  # 个人安排 (designed a little wider than the box)
    p.line([(9, 27), (7, 30)], WHITE, 2.0)
    p.line([(23, 27), (25, 30)], WHITE, 2.0)
    p.d.pieslice(p._box(3, 2, 13, 12), 180, 360, fill=YELLOW, outline=DEEP, width=SS)
    p.d.pieslice(p._box(19, 2, 29, 12), 180, 360, fill=YELLOW, outline=DEEP, width=SS)
    p.ellipse(16, 17, 11, fill=WHITE, outline=DEEP, width=1.5)
    for a in range(0, 360, 30):
        r = math.radians(a)
        p.line([(16 + 8.5 * math.cos(r), 17 + 8.5 * math.sin(r)),
                (16 + 9.4 * math.cos(r), 17 + 9.4 * math.sin(r))], LINE, 1.0)
    p.line([(16, 17), (16, 10.5)], DEEP, 1.6)
    p.line([(16, 17), (21, 19.5)], RED, 1.4)


def icon_calendar(p):  # 个人日历
    p.rect(4, 6, 28, 29, fill=WHITE, outline=DEEP, radius=2)
    p.rect(4, 6, 28, 12, fill=RED, outline=DEEP, radius=2)
    for x in (10, 22):
        p.rect(x - 1.2, 3, x + 1.2, 9, fill=INK, radius=1)
    for row in range(3):
        for col in range(4):
            x = 7.5 + col * 5
            y = 15 + row * 4.5
            fill = ORANGE if (row, col) == (1, 2) else LINE
            p.rect(x, y, x + 3, y + 2.6, fill=fill)


def icon_sms(p):  # 手机短信
    p.rect(7, 4, 20, 30, fill=INK, outline=(20, 30, 60), radius=2.5)
    p.rect(9, 7, 18, 18, fill=PALE)
    for row in range(3):
        for col in range(3):
            p.ellipse(10 + col * 3.5, 21 + row * 2.8, 0.9, fill=GREY)
    p.poly([(22, 12), (21, 16), (25, 12)], fill=YELLOW)
    p.rect(17, 2, 30, 12.5, fill=YELLOW, outline=DEEP, radius=3)
    for x in (20.5, 23.5, 26.5):
        p.ellipse(x, 7.3, 1.0, fill=AMBER)


def icon_personal(p):  # 个人设置
    person(p, 13, 4, 1.05)
    gear(p, 23.5, 23, 7.5, 5.5, 8, YELLOW, BUTTON)


def icon_system(p):  # 系统维护
    gear(p, 14, 15, 11.5, 8.5, 10, WHITE, BUTTON)
    p.line([(21, 22), (28, 29)], DEEP, 4.2)
    p.line([(21, 22), (28, 29)], YELLOW, 2.4)
    p.ellipse(20, 21, 3.2, fill=YELLOW, outline=DEEP, width=0.9)


def icon_quit(p):  # 退出系统
    p.ellipse(16, 16, 13, fill=RED, outline=DEEP, width=1.0)
    p.arc(16, 17, 7.5, 300, 240 + 360, WHITE, 2.6)
    p.line([(16, 7.5), (16, 16)], WHITE, 2.6)


# file name -> (width, height, drawing); sizes follow the menu markup
ICONS = {
    "005.gif": (32, 32, icon_notice),
    "007.gif": (32, 32, icon_talk),
    "027.gif": (32, 35, icon_folder),
    "016.gif": (32, 32, icon_news),
    "024.gif": (31, 32, icon_draft),
    "013.gif": (32, 32, icon_flow),
    "022.gif": (29, 32, icon_search),
    "025.gif": (32, 35, icon_todo),
    "002.gif": (29, 32, icon_meeting),
    "014.gif": (32, 32, icon_apply),
    "20.gif": (32, 32, icon_track),
    "001.gif": (32, 32, icon_addressbook),
    "028.gif": (36, 32, icon_plan),
    "003.gif": (32, 32, icon_calendar),
    "21.gif": (32, 32, icon_sms),
    "019.gif": (32, 32, icon_personal),
    "018.gif": (32, 32, icon_system),
    "017.gif": (32, 32, icon_quit),
}


def make_icons():
    for name, (w, h, draw) in ICONS.items():
        p = Pen(w, h, (w - 32) / 2, (h - 32) / 2)
        draw(p)
        save_gif(flat(p.result(), BUTTON), os.path.join(IMAGES, name))


# ---------------------------------------------------------------- menu frame

GROUP_TITLES = ["信息交流", "公文管理", "日常办公", "个人助理", "系统管理"]
GROUP_COLOURS = [MID, (46, 140, 190), (70, 110, 220), (52, 150, 150), (100, 100, 200)]


def make_group_headers():
    for i, title in enumerate(GROUP_TITLES, start=1):
        w, h = 150, 30
        img = vgradient(w, h, (104, 150, 242), (30, 82, 200))
        d = ImageDraw.Draw(img)
        d.line([(0, 0), (w - 1, 0)], fill=(170, 198, 250))
        d.line([(0, h - 1), (w - 1, h - 1)], fill=DEEP)
        p = Pen(w, h)
        p.ellipse(16, 15, 7.5, fill=WHITE, outline=DEEP, width=1.0)
        p.ellipse(16, 15, 5.2, fill=GROUP_COLOURS[i - 1])
        p.poly([(132, 12.5), (140, 12.5), (136, 17.5)], fill=WHITE)
        base = img.convert("RGBA")
        base.alpha_composite(p.result())
        img = base.convert("RGB")
        d = ImageDraw.Draw(img)
        d.text((16, 15), str(i), font=font(10), fill=WHITE, anchor="mm")
        f = font(14)
        d.text((31, 16), title, font=f, fill=DEEP, anchor="lm")
        d.text((30, 15), title, font=f, fill=WHITE, anchor="lm")
        save_gif(img, os.path.join(IMAGES, "left%03d.gif" % i), colors=128)


def make_menu_backgrounds():
    save_jpeg(cylinder(150, 16, MENU_EDGE, MENU_MIDDLE), os.path.join(IMAGES, "leftback.jpg"))

    # The strip above the groups.
    img = vgradient(150, 20, NAVY, (22, 63, 154))
    d = ImageDraw.Draw(img)
    d.line([(0, 19), (149, 19)], fill=(91, 142, 240))
    d.text((75, 10), "功 能 导 航", font=font(12), fill=PALE, anchor="mm")
    save_gif(img, os.path.join(IMAGES, "kuang14.gif"), colors=64)

    # The foot below the groups: the menu background with a separator on top.
    img = cylinder(149, 800, MENU_EDGE, MENU_MIDDLE)
    d = ImageDraw.Draw(img)
    d.line([(10, 0), (138, 0)], fill=DEEP)
    d.line([(10, 1), (138, 1)], fill=(80, 124, 226))
    save_gif(img, os.path.join(IMAGES, "down.gif"), colors=64)


def envelope(p, body, edge, flap):
    p.rect(5, 14, 38, 37, fill=body, outline=edge, width=1.5, radius=2.5)
    p.line([(6.5, 16), (21.5, 27), (36.5, 16)], flap, 1.6)
    p.line([(6.5, 35.5), (17, 26)], flap, 1.2)
    p.line([(36.5, 35.5), (26, 26)], flap, 1.2)


def make_sprites():
    matte = mix(MENU_EDGE, MENU_MIDDLE, 1.0)
    # Something is waiting: a lit envelope with a badge.
    p = Pen(43, 41)
    for a in (-60, -30, 0, 30, 60):
        r = math.radians(a - 90)
        p.line([(21.5 + 16 * math.cos(r), 18 + 11 * math.sin(r)),
                (21.5 + 20 * math.cos(r), 18 + 14 * math.sin(r))], YELLOW, 1.6)
    envelope(p, YELLOW, (170, 100, 20), AMBER)
    p.ellipse(35, 13, 6.5, fill=RED, outline=WHITE, width=1.2)
    p.line([(35, 9.8), (35, 13.8)], WHITE, 1.8)
    p.ellipse(35, 16.4, 1.0, fill=WHITE)
    rgba = p.result()
    save_gif(flat(rgba, matte), os.path.join(IMAGES, "logo.gif"), colors=64,
             transparent_from=rgba)
    # Nothing waits: a grey envelope.
    p = Pen(43, 41)
    envelope(p, GREY, DARKGREY, DARKGREY)
    rgba = p.result()
    save_gif(flat(rgba, matte), os.path.join(IMAGES, "logo1.gif"), colors=64,
             transparent_from=rgba)


# ---------------------------------------------------------------- bottom bar

BAR_TOP = (170, 198, 250)
BAR_BOTTOM = (70, 120, 225)


def bar(w):
    img = vgradient(w, 17, BAR_TOP, BAR_BOTTOM)
    d = ImageDraw.Draw(img)
    d.line([(0, 0), (w - 1, 0)], fill=(226, 236, 255))
    d.line([(0, 16), (w - 1, 16)], fill=(40, 86, 200))
    return img


def make_bottom_bar():
    save_gif(bar(8), os.path.join(AA, "kuang25.gif"), colors=32)

    img = bar(114)
    d = ImageDraw.Draw(img)
    d.rectangle([0, 1, 5, 15], fill=BUTTON)
    d.text((12, 8), "TARVO网络办公系统", font=font(11), fill=DEEP, anchor="lm")
    save_gif(img, os.path.join(IMAGES, "kuang24.gif"), colors=64)

    img = bar(71)
    d = ImageDraw.Draw(img)
    for x in (52, 57, 62):
        d.rectangle([x, 7, x + 2, 9], fill=(40, 86, 200))
    d.rectangle([65, 1, 70, 15], fill=BUTTON)
    save_gif(img, os.path.join(IMAGES, "kuang23.gif"), colors=32)


# ---------------------------------------------------------------- banner

BANNER_TOP = (8, 36, 98)
BANNER_BOTTOM = (28, 78, 182)


def make_banner():
    # The tile that fills the banner frame to any width; the picture fades into it.
    save_jpeg(vgradient(16, 120, BANNER_TOP, BANNER_BOTTOM), os.path.join(IMAGES, "topbg.jpg"))

    w, h = 960, 120
    img = vgradient(w, h, BANNER_TOP, BANNER_BOTTOM).convert("RGBA")

    # Light swooshes, strongest on the left and gone before the right edge.
    deco = Pen(w, h)
    for i, (cy, r, a) in enumerate([(300, 260, 70), (330, 300, 45), (-140, 220, 40)]):
        deco.arc(520 + i * 60, cy, r, 180, 360, (160, 200, 255, a), 10 - i * 3)
    deco.ellipse(760, 60, 90, fill=(120, 170, 255, 24))
    deco.ellipse(860, 20, 60, fill=(120, 170, 255, 18))
    layer = deco.result()
    fade = Image.new("L", (w, h))
    fd = ImageDraw.Draw(fade)
    for x in range(w):
        t = max(0.0, 1.0 - x / 940.0)
        fd.line([(x, 0), (x, h - 1)], fill=int(255 * min(1.0, t * 1.6)))
    alpha = Image.composite(layer.getchannel("A"), Image.new("L", (w, h)), fade)
    layer.putalpha(alpha)
    img.alpha_composite(layer)

    # The mark: a rounded tile with two overlapping sheets.
    mark = Pen(w, h)
    mark.rect(34, 28, 98, 92, fill=(255, 255, 255, 40), outline=(200, 222, 255, 160), width=1.5,
              radius=14)
    mark.rect(46, 40, 78, 80, fill=(207, 224, 255, 255), outline=DEEP + (255,), width=1.2,
              radius=3)
    mark.rect(56, 34, 88, 74, fill=WHITE + (255,), outline=DEEP + (255,), width=1.2, radius=3)
    for y in (44, 51, 58, 65):
        mark.line([(61, y), (83 if y < 65 else 75, y)], LINE + (255,), 2.2)
    mark.ellipse(86, 76, 9, fill=YELLOW + (255,), outline=DEEP + (255,), width=1.2)
    mark.line([(81.5, 76.5), (85, 80), (91, 72.5)], DEEP + (255,), 2.2)
    img.alpha_composite(mark.result())

    d = ImageDraw.Draw(img)
    title = font(38)
    d.text((124, 52), "TARVO网络办公系统", font=title, fill=(0, 20, 60, 255), anchor="ls")
    d.text((122, 50), "TARVO网络办公系统", font=title, fill=WHITE + (255,), anchor="ls")
    d.line([(124, 64), (470, 64)], fill=(120, 170, 255, 255), width=1)
    d.text((124, 86), "公文流转  ·  邮件通知  ·  日程安排  ·  协同办公", font=font(15),
           fill=PALE + (255,), anchor="ls")
    save_jpeg(img, os.path.join(IMAGES, "top.jpg"))


def main():
    make_icons()
    make_group_headers()
    make_menu_backgrounds()
    make_sprites()
    make_bottom_bar()
    make_banner()


if __name__ == "__main__":
    main()
