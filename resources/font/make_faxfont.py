#!/usr/bin/env python3
"""Builds the fax font (16384 bytes) and writes it as C++ source.

The glyphs come from the public-domain "misc-fixed" bitmap fonts of the
Debian package xfonts-base (see LICENSE in this folder):

  small font    12 x 8 cells  <- 5x8.pcf.gz, each pixel doubled in width
  standard font 20 x 16 cells <- 9x15.pcf.gz, each pixel doubled in width

Fax pixels at normal resolution are about twice as tall as they are wide
(204 x 98 dpi), so doubling a square-pixel font in width keeps its shapes.

Character codes follow Windows code page 1252, codes 1..31 and 127 the
classic PC symbols; codes 0, 32 and 255 stay blank, and any code the source
font lacks gets a box glyph, so that every other code is drawn.

Usage: make_faxfont.py [--fontdir DIR] [--out FILE.cpp] [--bin FILE]
"""

import argparse
import gzip
import os
import struct
import sys

PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_BDF_ACCELERATORS = 1 << 8
PCF_ACCELERATORS = 1 << 1


class PcfFont:
    """A minimal reader of X11 PCF bitmap fonts (metrics, bitmaps, encodings)."""

    def __init__(self, path):
        with gzip.open(path, "rb") if path.endswith(".gz") else open(path, "rb") as f:
            self.data = f.read()
        if self.data[:4] != b"\x01fcp":
            raise ValueError(f"{path}: not a PCF font")
        (count,) = struct.unpack_from("<i", self.data, 4)
        self.tables = {}
        for i in range(count):
            t, fmt, size, off = struct.unpack_from("<iiii", self.data, 8 + 16 * i)
            self.tables[t] = (fmt, size, off)
        self._read_accelerators()
        self._read_metrics()
        self._read_bitmaps()
        self._read_encodings()

    def _table(self, t):
        fmt_dir, _, off = self.tables[t]
        (fmt,) = struct.unpack_from("<i", self.data, off)
        order = ">" if fmt & 4 else "<"
        return fmt, order, off + 4

    def _read_accelerators(self):
        t = PCF_BDF_ACCELERATORS if PCF_BDF_ACCELERATORS in self.tables else PCF_ACCELERATORS
        fmt, o, p = self._table(t)
        self.ascent, self.descent = struct.unpack_from(o + "ii", self.data, p + 8)

    def _read_metrics(self):
        fmt, o, p = self._table(PCF_METRICS)
        self.metrics = []
        if fmt & 0x100:
            (n,) = struct.unpack_from(o + "h", self.data, p)
            p += 2
            for i in range(n):
                v = [b - 0x80 for b in self.data[p + 5 * i:p + 5 * i + 5]]
                self.metrics.append(tuple(v))
        else:
            (n,) = struct.unpack_from(o + "i", self.data, p)
            p += 4
            for i in range(n):
                v = struct.unpack_from(o + "hhhhhH", self.data, p + 12 * i)
                self.metrics.append(tuple(v[:5]))

    def _read_bitmaps(self):
        fmt, o, p = self._table(PCF_BITMAPS)
        (n,) = struct.unpack_from(o + "i", self.data, p)
        p += 4
        offsets = struct.unpack_from(o + "%di" % n, self.data, p)
        p += 4 * n + 16
        self.pad = 1 << (fmt & 3)
        self.msbit = bool(fmt & 8)
        self.bitmap_base = p
        self.offsets = offsets

    def _read_encodings(self):
        fmt, o, p = self._table(PCF_BDF_ENCODINGS)
        min2, max2, min1, max1, _default = struct.unpack_from(o + "hhhhh", self.data, p)
        p += 10
        cols = max2 - min2 + 1
        rows = max1 - min1 + 1
        idx = struct.unpack_from(o + "%dH" % (cols * rows), self.data, p)
        self.encoding = {}
        for r in range(rows):
            for c in range(cols):
                g = idx[r * cols + c]
                if g != 0xFFFF:
                    self.encoding[((min1 + r) << 8) | (min2 + c)] = g

    def cell(self, codepoint, width, height):
        """The glyph drawn into a width x height cell (list of rows of 0/1), or None."""
        g = self.encoding.get(codepoint)
        if g is None:
            return None
        lsb, rsb, _cw, asc, desc = self.metrics[g]
        gw = rsb - lsb
        gh = asc + desc
        stride = ((gw + 7) // 8 + self.pad - 1) // self.pad * self.pad
        base = self.bitmap_base + self.offsets[g]
        out = [[0] * width for _ in range(height)]
        top = self.ascent - asc
        for y in range(gh):
            row = self.data[base + y * stride:base + (y + 1) * stride]
            for x in range(gw):
                byte = row[x >> 3]
                bit = (byte >> (7 - (x & 7))) & 1 if self.msbit else (byte >> (x & 7)) & 1
                cx, cy = lsb + x, top + y
                if bit and 0 <= cx < width and 0 <= cy < height:
                    out[cy][cx] = 1
        return out


CP437_SYMBOLS = (
    "\u263A\u263B\u2665\u2666\u2663\u2660\u2022\u25D8\u25CB\u25D9\u2642\u2640\u266A\u266B\u263C"
    "\u25BA\u25C4\u2195\u203C\u00B6\u00A7\u25AC\u21A8\u2191\u2193\u2192\u2190\u221F\u2194\u25B2\u25BC"
)


def codepoint_of(code):
    """The character that a code of the fax font shows, or None for a blank glyph."""
    if code in (0, 32, 255):
        return None
    if 1 <= code <= 31:
        return ord(CP437_SYMBOLS[code - 1])
    if code == 127:
        return 0x2302  # house
    try:
        return ord(bytes([code]).decode("cp1252"))
    except UnicodeDecodeError:
        return -1  # no character in the code page: box glyph


def box(width, height):
    out = [[0] * width for _ in range(height)]
    for y in range(1, height - 1):
        for x in range(0, width - 1):
            if y in (1, height - 2) or x in (0, width - 2):
                out[y][x] = 1
    return out


def build_font(font, src_w, src_h, cell_w, rows, bytes_per_row, x_offset, y_offset):
    """256 glyphs of rows x bytes_per_row bytes, the source doubled in width."""
    out = bytearray()
    for code in range(256):
        cp = codepoint_of(code)
        src = None
        if cp is not None:
            src = font.cell(cp, src_w, src_h) if cp >= 0 else None
            if src is None or not any(any(r) for r in src):
                src = box(src_w, src_h)
        for y in range(rows):
            bits = [0] * (bytes_per_row * 8)
            sy = y - y_offset
            if src is not None and 0 <= sy < src_h:
                for x in range(src_w):
                    if src[sy][x]:
                        bits[x_offset + 2 * x] = 1
                        bits[x_offset + 2 * x + 1] = 1
            assert not any(bits[cell_w:]), "bits beyond the cell width"
            for b in range(bytes_per_row):
                v = 0
                for k in range(8):
                    v = (v << 1) | bits[8 * b + k]
                out.append(v)
    return bytes(out)


def write_cpp(path, data):
    lines = [
        "// The fax font: 256 small glyphs (12 x 8 cells, 16 bytes each) followed by",
        "// 256 standard glyphs (20 x 16 cells, 48 bytes each); rows from the top,",
        "// most significant bit leftmost, 1 = black.",
        "// Generated by resources/font/make_faxfont.py; do not edit by hand.",
        "#include \"images/font/fax_font.h\"",
        "",
        "namespace tv {",
        "",
        "extern const uint8_t kFaxFontResource[kFaxFontResourceSize] = {",
    ]
    for code in range(256):
        chunk = data[16 * code:16 * code + 16]
        lines.append("    " + ", ".join("0x%02X" % b for b in chunk) + ",  // small %d" % code)
    for code in range(256):
        base = 4096 + 48 * code
        for part in range(3):
            chunk = data[base + 16 * part:base + 16 * part + 16]
            tail = "  // standard %d" % code if part == 0 else ""
            lines.append("    " + ", ".join("0x%02X" % b for b in chunk) + "," + tail)
    lines += ["};", "", "}  // namespace tv", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--fontdir", default="/usr/share/fonts/X11/misc")
    ap.add_argument("--out", default=os.path.join(here, "..", "..", "images", "font",
                                                  "fax_font_data.cpp"))
    ap.add_argument("--bin", default=None, help="also write the 16384 raw bytes here")
    args = ap.parse_args()

    small_src = PcfFont(os.path.join(args.fontdir, "5x8.pcf.gz"))
    standard_src = PcfFont(os.path.join(args.fontdir, "9x15.pcf.gz"))
    small = build_font(small_src, 5, 8, 12, 8, 2, x_offset=2, y_offset=0)
    standard = build_font(standard_src, 9, 15, 20, 16, 3, x_offset=1, y_offset=1)
    data = small + standard
    assert len(data) == 16384
    write_cpp(os.path.normpath(args.out), data)
    if args.bin:
        with open(args.bin, "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
