#!/usr/bin/env python3
"""Draws the pictures of the status bar and of the pop-up forms into
site/images/ (and site/aa/):

- the status bar (59 high): its left end (kuang27.gif, with the tile
  aa/kuang27.gif), the tile behind the scrolling line (kuang19.gif), the tool
  bar's background (rz1.gif, 181 wide), its buttons (rzup.gif, rzout.gif,
  rzdown.gif) and the link picture (rz2.gif, 270 wide; the page's image map
  puts 首页, 个人安排, 个人日历, 手机短信 and 内部邮件 at x 5-43, 59-93, 107-141,
  162-196 and 215-249);
- the plan page's add button (addgif.gif);
- the pop-up forms' tool bar (outplan4.gif tile, outplan10.gif, outplanline.gif,
  outplan5.gif) and title bar (outplan1.gif tile, outplan2.gif, outplan3.gif,
  outplan11.gif, outplan8.gif tile, outplan9.gif).

Run:  /usr/bin/python3 site/tools/make_status_images.py   (same needs as make_images.py)
"""

import os

from PIL import Image, ImageDraw

import make_images as base
from make_images import (AMBER, BUTTON, DEEP, IMAGES, LIGHT, MID, PALE, RED, SITE, WHITE, YELLOW,
                         font)
from make_form_images import button

BAR_H = 59
TOP = (207, 224, 255)
BOTTOM = (134, 170, 241)


def bar_tile(w):
    """The status bar's body: pale at the top, the office blue below."""
    return base.vgradient(w, BAR_H, TOP, BOTTOM)


def save(img, name, colors=64):
    base.save_gif(img, os.path.join(IMAGES, name), colors=colors)


def left_end():
    img = bar_tile(67).convert("RGBA")
    p = base.Pen(67, BAR_H)
    p.rect(6, 8, 61, 51, fill=BUTTON + (255,), outline=DEEP + (255,), width=1.2, radius=8)
    # A bell: the bar announces what is new.
    p.d.pieslice(p._box(20, 14, 48, 46), 180, 360, fill=YELLOW + (255,))
    p.rect(20, 29.5, 48, 38, fill=YELLOW + (255,))
    p.rect(16, 37, 52, 40.5, fill=AMBER + (255,), radius=1.5)
    p.ellipse(34, 43.5, 3, fill=AMBER + (255,))
    img.alpha_composite(p.result())
    save(img.convert("RGB"), "kuang27.gif")
    base.save_gif(bar_tile(35), os.path.join(SITE, "aa", "kuang27.gif"), colors=32)


def text_tile():
    img = bar_tile(8)
    d = ImageDraw.Draw(img)
    d.line([(0, 28), (7, 28)], fill=WHITE)
    save(img, "kuang19.gif", colors=32)


def toolbar():
    img = bar_tile(181).convert("RGBA")
    p = base.Pen(181, BAR_H)
    p.rect(40, 20, 140, 50, fill=PALE + (255,), outline=MID + (255,), width=1, radius=6)
    img.alpha_composite(p.result())
    save(img.convert("RGB"), "rz1.gif")


def tool_button(name, draw):
    w = h = 22
    p = base.Pen(w, h)
    p.rect(0.5, 0.5, w - 0.5, h - 0.5, fill=BUTTON + (255,), outline=DEEP + (255,), width=1,
           radius=5)
    draw(p)
    rgba = p.result()
    base.save_gif(base.flat(rgba, PALE), os.path.join(IMAGES, name), colors=32)


def arrow(up):
    def draw(p):
        tip, back = (6, 15) if up else (16, 7)
        p.poly([(11, tip), (5, back), (17, back)], fill=WHITE + (255,))
    return draw


def power(p):
    p.arc(11, 12, 5.5, 300, 240, WHITE + (255,), 1.8)
    p.line([(11, 4.5), (11, 11)], WHITE + (255,), 1.8)


def envelope(p):
    p.rect(3, 8, 29, 26, fill=WHITE, outline=DEEP, width=1.4, radius=2)
    p.line([(4.5, 9.5), (16, 19), (27.5, 9.5)], RED, 1.5)


def link_picture():
    img = bar_tile(270).convert("RGBA")
    areas = [
        (5, 43, base.icon_notice, "首页"),
        (59, 93, base.icon_plan, "安排"),
        (107, 141, base.icon_calendar, "日历"),
        (162, 196, base.icon_sms, "短信"),
        (215, 249, envelope, "邮件"),
    ]
    for x0, x1, draw, _ in areas:
        p = base.Pen(32, 32)
        draw(p)
        img.alpha_composite(p.result(), (x0 + (x1 - x0 - 32) // 2, 5))
    rgb = img.convert("RGB")
    d = ImageDraw.Draw(rgb)
    for x0, x1, _, label in areas:
        d.text(((x0 + x1) / 2, 46), label, font=font(11), fill=DEEP, anchor="mm")
    save(rgb, "rz2.gif", colors=128)


def popup_bars():
    tool = base.vgradient(8, 26, MID, DEEP)
    save(tool, "outplan4.gif", colors=32)
    save(base.vgradient(10, 26, MID, DEEP), "outplan10.gif", colors=32)
    line = base.vgradient(2, 26, MID, DEEP)
    ImageDraw.Draw(line).line([(0, 4), (0, 21)], fill=LIGHT)
    save(line, "outplanline.gif", colors=32)
    save(base.vgradient(10, 26, MID, DEEP), "outplan5.gif", colors=32)

    # The title bar: a blue tab (outplan1 tile between its caps) on a pale strip.
    save(base.vgradient(8, 28, BUTTON, DEEP), "outplan1.gif", colors=32)
    cap = base.Pen(10, 28)
    cap.rect(0.5, 2, 14, 30, fill=BUTTON + (255,), radius=5)
    save(base.flat(cap.result(), PALE), "outplan2.gif", colors=32)
    for name in ("outplan3.gif", "outplan11.gif"):
        end = base.Pen(20, 28)
        end.poly([(0, 2), (6, 2), (19, 28), (0, 28)], fill=BUTTON + (255,))
        save(base.flat(end.result(), PALE), name, colors=32)
    strip = Image.new("RGB", (8, 28), PALE)
    ImageDraw.Draw(strip).line([(0, 27), (7, 27)], fill=MID)
    save(strip, "outplan8.gif", colors=16)
    save(strip.copy(), "outplan9.gif", colors=16)


def main():
    left_end()
    text_tile()
    toolbar()
    tool_button("rzup.gif", arrow(True))
    tool_button("rzout.gif", power)
    tool_button("rzdown.gif", arrow(False))
    link_picture()
    button("添 加", "addgif.gif", 60)
    popup_bars()


if __name__ == "__main__":
    main()
