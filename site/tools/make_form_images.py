#!/usr/bin/env python3
"""Draws the pictures of the document forms and the recipient picker:
page titles (gwng.gif, swdj.gif), form buttons (okgif.gif, fanhuigif.gif,
zhengwengif.gif), the picker's title strip (emailt.gif) and its tree icons
(list4.gif department, list10.gif member).

Run:  /usr/bin/python3 site/tools/make_form_images.py   (same needs as make_images.py)
"""

import os

from PIL import Image, ImageDraw

import make_images as base
from make_images import BUTTON, DEEP, IMAGES, LIGHT, MID, PALE, WHITE, YELLOW, font


def title_tab(text, name):
    """A 114x24 page-title tab: a blue tab with white text."""
    w, h = 114, 24
    p = base.Pen(w, h)
    p.rect(0.5, 2.5, w - 0.5, h + 4, fill=DEEP + (255,), radius=5)
    p.rect(2, 4, w - 2, h + 4, fill=BUTTON + (255,), radius=4)
    img = base.flat(p.result(), WHITE)
    d = ImageDraw.Draw(img)
    d.text((w / 2, 15), text, font=font(13), fill=WHITE, anchor="mm")
    base.save_gif(img, os.path.join(IMAGES, name), colors=64)


def button(text, name, w, h=20):
    """A rounded push button with a soft vertical gradient."""
    grad = base.vgradient(w, h, PALE, LIGHT)
    p = base.Pen(w, h)
    p.rect(0.5, 0.5, w - 0.5, h - 0.5, outline=MID + (255,), width=1, radius=4)
    img = grad.convert("RGBA")
    img.alpha_composite(p.result())
    img = img.convert("RGB")
    d = ImageDraw.Draw(img)
    d.text((w / 2, h / 2 + 1), text, font=font(12), fill=DEEP, anchor="mm")
    base.save_gif(img, os.path.join(IMAGES, name), colors=64)


def strip(name):
    """The picker's 24-high title strip, tiled across the column."""
    img = base.vgradient(8, 24, PALE, LIGHT)
    base.save_gif(img, os.path.join(IMAGES, name), colors=32)


def tree_icon(name, kind):
    p = base.Pen(16, 16)
    if kind == "dep":  # a closed folder
        p.rect(1.5, 4.5, 7, 7, fill=YELLOW + (255,), radius=1)
        p.rect(1.5, 5.5, 14.5, 13.5, fill=YELLOW + (255,), outline=(200, 150, 40, 255), width=1,
               radius=1.5)
    else:  # a person
        p.ellipse(8, 5, 2.8, fill=BUTTON + (255,))
        p.rect(3.5, 9, 12.5, 14.5, fill=BUTTON + (255,), radius=3.5)
    rgba = p.result()
    base.save_gif(base.flat(rgba, WHITE), os.path.join(IMAGES, name), colors=32,
                  transparent_from=rgba)


def main():
    title_tab("公文拟稿", "gwng.gif")
    title_tab("收文登记", "swdj.gif")
    button("确 定", "okgif.gif", 60)
    button("返 回", "fanhuigif.gif", 60)
    button("公文正文", "zhengwengif.gif", 72)
    strip("emailt.gif")
    tree_icon("list4.gif", "dep")
    tree_icon("list10.gif", "person")


if __name__ == "__main__":
    main()
