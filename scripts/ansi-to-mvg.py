#!/usr/bin/env python3
"""Turns a terminal screen, as `tmux capture-pane -p -e` writes it, into an
ImageMagick drawing (MVG): one cell per character, in the xterm colours, bold
text in the bold face.

    scripts/ansi-to-mvg.py FONT.ttf BOLD.ttf < screen.txt > screen.mvg
    convert mvg:screen.mvg screen.png
"""
import re
import sys

CELL_W, CELL_H, POINT = 10, 20, 16
PALETTE = ["#000000", "#cd0000", "#00cd00", "#cdcd00", "#0000ee", "#cd00cd", "#00cdcd", "#e5e5e5",
           "#7f7f7f", "#ff0000", "#00ff00", "#ffff00", "#5c5cff", "#ff00ff", "#00ffff", "#ffffff"]
DEFAULT_FG, DEFAULT_BG = 7, 0
SGR = re.compile(r"\x1b\[([0-9;]*)m")


def colour(n):
    if n < 16:
        return PALETTE[n]
    if n < 232:
        n -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return "#%02x%02x%02x" % (steps[n // 36], steps[n // 6 % 6], steps[n % 6])
    grey = 8 + (n - 232) * 10
    return "#%02x%02x%02x" % (grey, grey, grey)


class Pen:
    def __init__(self):
        self.reset()

    def reset(self):
        self.fg, self.bg = None, None
        self.bold = self.underline = self.reverse = False

    def apply(self, params):
        codes = [int(p) if p else 0 for p in params.split(";")] if params else [0]
        i = 0
        while i < len(codes):
            c = codes[i]
            if c == 0:
                self.reset()
            elif c == 1:
                self.bold = True
            elif c == 22:
                self.bold = False
            elif c == 4:
                self.underline = True
            elif c == 24:
                self.underline = False
            elif c == 7:
                self.reverse = True
            elif c == 27:
                self.reverse = False
            elif 30 <= c <= 37:
                self.fg = c - 30
            elif 90 <= c <= 97:
                self.fg = c - 90 + 8
            elif c == 39:
                self.fg = None
            elif 40 <= c <= 47:
                self.bg = c - 40
            elif 100 <= c <= 107:
                self.bg = c - 100 + 8
            elif c == 49:
                self.bg = None
            elif c in (38, 48) and i + 2 < len(codes) and codes[i + 1] == 5:
                if c == 38:
                    self.fg = codes[i + 2]
                else:
                    self.bg = codes[i + 2]
                i += 2
            i += 1

    def colours(self):
        fg = DEFAULT_FG if self.fg is None else self.fg
        bg = DEFAULT_BG if self.bg is None else self.bg
        fg, bg = colour(fg), colour(bg)
        return (bg, fg) if self.reverse else (fg, bg)


def cells(lines):
    pen = Pen()
    for row, line in enumerate(lines):
        col = 0
        pos = 0
        while pos < len(line):
            m = SGR.match(line, pos)
            if m:
                pen.apply(m.group(1))
                pos = m.end()
                continue
            fg, bg = pen.colours()
            yield row, col, line[pos], fg, bg, pen.bold, pen.underline
            col += 1
            pos += 1


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: ansi-to-mvg.py FONT.ttf BOLD.ttf < screen > screen.mvg")
    fonts = {False: quoted(sys.argv[1]), True: quoted(sys.argv[2])}
    lines = sys.stdin.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    width = max(80, max((len(SGR.sub("", l)) for l in lines), default=0))
    out = ["viewbox 0 0 %d %d" % (width * CELL_W, len(lines) * CELL_H),
           "fill %s rectangle 0,0 %d,%d" % (colour(DEFAULT_BG), width * CELL_W, len(lines) * CELL_H),
           "font-size %d text-antialias 1" % POINT]
    for row, col, char, fg, bg, bold, underline in cells(lines):
        x, y = col * CELL_W, row * CELL_H
        if bg != colour(DEFAULT_BG):
            out.append("fill %s rectangle %d,%d %d,%d" % (bg, x, y, x + CELL_W - 1, y + CELL_H - 1))
        if char != " ":
            out.append("font %s fill %s text %d,%d %s" % (fonts[bold], fg, x, y + CELL_H - 5, quoted(char)))
        if underline:
            out.append("fill %s rectangle %d,%d %d,%d" % (fg, x, y + CELL_H - 3, x + CELL_W - 1, y + CELL_H - 2))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
