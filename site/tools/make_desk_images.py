#!/usr/bin/env python3
"""Draws the pictures of the desk page into site/images/.

Run from anywhere:  python3 site/tools/make_desk_images.py
Needs Pillow (Debian: python3-pil) and a CJK font (Debian: fonts-wqy-microhei,
fonts-wqy-zenhei or fonts-noto-cjk); DESK_CJK_FONT may name another font file.
The output is deterministic, so the committed files change only when this
script does.

Pictures: the four panel backgrounds (rwork.gif, remail.gif, rsign.gif,
rnews.gif, 317x180; the panels write their text right of the first 108 pixels
and below the first 47), the clock-in and clock-out buttons (startgif1.gif,
endgif1.gif, 71x19) and the transparent spacer.gif, which is only written
when no other picture script has made it.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFont

SITE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
IMAGES = os.path.join(SITE, "images")

# The office palette, shared with the frame and menu pictures.
NAVY = (10, 42, 110)
DEEP = (11, 47, 133)
BUTTON = (33, 90, 219)
MID = (58, 117, 230)
LIGHT = (134, 170, 241)
PALE = (207, 224, 255)
PANEL = (244, 248, 255)
WHITE = (255, 255, 255)
YELLOW = (255, 211, 77)
AMBER = (232, 160, 40)
GREEN = (90, 196, 110)
RED = (236, 84, 84)
LINE = (127, 163, 232)

SS = 4  # supersampling factor for shapes

PANEL_W, PANEL_H = 317, 180
HEAD_H = 40      # the title band; the panel's text starts at 47
TEXT_LEFT = 108  # 34% of the panel: the picture column
BOX_H = 74       # height of the picture's frame


# The font and colour mixing are the frame pictures' own.
from make_images import FONT, mix  # noqa: E402


def font(size):
    return ImageFont.truetype(FONT, size * SS)


class Pen:
    """Draws in target-pixel coordinates on a supersampled RGB canvas."""

    def __init__(self, w, h, bg=WHITE):
        self.w, self.h = w, h
        self.img = Image.new("RGB", (w * SS, h * SS), bg)
        self.d = ImageDraw.Draw(self.img)

    @staticmethod
    def _box(x0, y0, x1, y1):
        return [x0 * SS, y0 * SS, x1 * SS, y1 * SS]

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=1.0, radius=0.0):
        self.d.rounded_rectangle(self._box(x0, y0, x1, y1), radius=radius * SS, fill=fill,
                                 outline=outline, width=int(round(width * SS)) if outline else 0)

    def ellipse(self, cx, cy, rx, ry=None, fill=None, outline=None, width=1.0):
        ry = rx if ry is None else ry
        self.d.ellipse(self._box(cx - rx, cy - ry, cx + rx, cy + ry), fill=fill, outline=outline,
                       width=int(round(width * SS)) if outline else 0)

    def poly(self, pts, fill):
        self.d.polygon([(x * SS, y * SS) for x, y in pts], fill=fill)

    def line(self, pts, fill, width=1.0):
        w = int(round(width * SS))
        self.d.line([(x * SS, y * SS) for x, y in pts], fill=fill, width=w, joint="curve")
        r = w / 2
        for x, y in pts:  # round caps
            self.d.ellipse([x * SS - r, y * SS - r, x * SS + r, y * SS + r], fill=fill)

    def vgradient(self, x0, y0, x1, y1, top, bottom, radius=0.0):
        """A vertical gradient inside a rounded rectangle."""
        w, h = int((x1 - x0) * SS), int((y1 - y0) * SS)
        grad = Image.new("RGB", (w, h))
        gd = ImageDraw.Draw(grad)
        for y in range(h):
            gd.line([(0, y), (w, y)], fill=mix(top, bottom, y / max(1, h - 1)))
        mask = Image.new("L", (w, h), 0)
        ImageDraw.Draw(mask).rounded_rectangle([0, 0, w - 1, h - 1], radius=radius * SS, fill=255)
        self.img.paste(grad, (int(x0 * SS), int(y0 * SS)), mask)

    def text(self, x, y, s, size, fill, anchor="la"):
        self.d.text((x * SS, y * SS), s, font=font(size), fill=fill, anchor=anchor)

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)


def save_gif(img, path, colors=128):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pal = img.quantize(colors=colors, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal.save(path, optimize=False)


# Panel pictures, drawn in a 64x64 box whose top left corner is (x, y).

def icon_work(p, x, y):  # a clipboard with a check list
    p.rect(x + 10, y + 6, x + 54, y + 62, fill=AMBER, radius=5)
    p.rect(x + 14, y + 12, x + 50, y + 58, fill=WHITE, radius=2)
    p.rect(x + 22, y + 2, x + 42, y + 13, fill=DEEP, radius=3)
    for i, done in enumerate((True, True, False)):
        cy = y + 24 + i * 11
        if done:
            p.line([(x + 18, cy), (x + 21, cy + 3), (x + 26, cy - 3)], GREEN, 2.2)
        else:
            p.rect(x + 18, cy - 3, x + 25, cy + 4, outline=LINE, width=1.4)
        p.line([(x + 30, cy), (x + 45, cy)], LIGHT, 2.2)


def icon_mail(p, x, y):  # an envelope
    p.rect(x + 4, y + 14, x + 60, y + 54, fill=WHITE, outline=BUTTON, width=2.4, radius=4)
    p.line([(x + 6, y + 17), (x + 32, y + 37), (x + 58, y + 17)], BUTTON, 2.4)
    p.line([(x + 6, y + 51), (x + 24, y + 32)], LIGHT, 1.6)
    p.line([(x + 58, y + 51), (x + 40, y + 32)], LIGHT, 1.6)
    p.ellipse(x + 54, y + 14, 8, fill=RED)
    p.text(x + 54, y + 14, "!", 11, WHITE, anchor="mm")


def icon_clock(p, x, y):  # a wall clock
    p.ellipse(x + 32, y + 34, 27, fill=BUTTON)
    p.ellipse(x + 32, y + 34, 22, fill=WHITE)
    for i in range(12):
        a = math.radians(i * 30)
        r0 = 18 if i % 3 else 15
        p.line([(x + 32 + r0 * math.sin(a), y + 34 - r0 * math.cos(a)),
                (x + 32 + 20 * math.sin(a), y + 34 - 20 * math.cos(a))], LIGHT if i % 3 else DEEP,
               1.4 if i % 3 else 2.0)
    p.line([(x + 32, y + 34), (x + 32, y + 19)], NAVY, 2.6)
    p.line([(x + 32, y + 34), (x + 43, y + 40)], NAVY, 2.6)
    p.ellipse(x + 32, y + 34, 2.4, fill=RED)


def icon_news(p, x, y):  # a loudspeaker
    p.poly([(x + 8, y + 26), (x + 20, y + 26), (x + 44, y + 12), (x + 44, y + 56), (x + 20, y + 42),
            (x + 8, y + 42)], BUTTON)
    p.rect(x + 12, y + 41, x + 22, y + 58, fill=DEEP, radius=2)
    for r in (8, 14):
        p.d.arc(Pen._box(x + 44 - r, y + 34 - r, x + 44 + r, y + 34 + r), -50, 50, fill=AMBER,
                width=int(2.4 * SS))


PANELS = [
    ("rwork.gif", "待办事宜", icon_work),
    ("remail.gif", "内部邮件", icon_mail),
    ("rsign.gif", "考勤签到", icon_clock),
    ("rnews.gif", "公告通知", icon_news),
]


def make_panel(name, title, icon):
    p = Pen(PANEL_W, PANEL_H)
    # Soft shadow, then the panel body.
    p.rect(4, 4, PANEL_W - 1, PANEL_H - 1, fill=(220, 229, 245), radius=9)
    p.rect(1, 1, PANEL_W - 4, PANEL_H - 4, fill=PANEL, outline=LINE, width=1.2, radius=9)
    p.vgradient(1.6, 1.6, PANEL_W - 4.6, HEAD_H, MID, DEEP, radius=8)
    # Square off the band's lower corners.
    p.vgradient(1.6, HEAD_H - 9, PANEL_W - 4.6, HEAD_H, mix(MID, DEEP, 0.78), DEEP)
    p.line([(1.6, HEAD_H + 0.5), (PANEL_W - 4.6, HEAD_H + 0.5)], YELLOW, 1.4)
    # Title with a small bullet.
    p.ellipse(16, HEAD_H / 2, 4, fill=YELLOW)
    p.text(27, HEAD_H / 2 + 0.5, title, 15, WHITE, anchor="lm")
    # The picture column; the attendance buttons sit from 125 pixels down.
    box_top, box_bottom = HEAD_H + 8, HEAD_H + 8 + BOX_H
    p.rect(8, box_top, TEXT_LEFT - 8, box_bottom, fill=WHITE, outline=PALE, width=1.0, radius=7)
    icon(p, (TEXT_LEFT - 64) / 2, box_top + (BOX_H - 64) / 2)
    save_gif(p.result(), os.path.join(IMAGES, name))


def make_button(name, label, accent):
    p = Pen(71, 19, bg=PANEL)
    p.vgradient(0.5, 0.5, 70.5, 18.5, mix(MID, WHITE, 0.15), DEEP, radius=4)
    p.rect(0.5, 0.5, 70.5, 18.5, outline=NAVY, width=0.9, radius=4)
    p.ellipse(12, 9.5, 4, fill=accent)
    p.text(40, 10, label, 12, WHITE, anchor="mm")
    save_gif(p.result(), os.path.join(IMAGES, name), colors=64)


def make_spacer():
    path = os.path.join(IMAGES, "spacer.gif")
    if os.path.exists(path):
        return
    img = Image.new("P", (1, 1), 0)
    img.putpalette([255, 255, 255] + [0, 0, 0] * 255)
    img.save(path, transparency=0)


def main():
    for name, title, icon in PANELS:
        make_panel(name, title, icon)
    make_button("startgif1.gif", "上 班", GREEN)
    make_button("endgif1.gif", "下 班", AMBER)
    make_spacer()


if __name__ == "__main__":
    main()
