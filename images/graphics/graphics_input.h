// Graphics file input of the converter: TIFF (uncompressed and PackBits),
// PCX, DCX (several PCX pages) and Windows bitmap files. Each kind plugs
// into the converter core with its own open, read-line and close callbacks
// and places its rows by the common rules of PlaceInputImage (double width,
// half height, centring). Rows are delivered with 1 = black.
//
// Damaged files never make a reader leave its buffers: a file that cannot
// be read as designed gives ecBadGraphicsFormat (-8002), a read error the
// negated I/O error, and data that ends early ends the page.
#pragma once

#include <cstdint>
#include <memory>

#include "images/convert/fax_converter.h"

namespace tv {

// TIFF: the first image of the file, 1 bit per sample, no compression or
// PackBits. Default extension "TIF".
int CreateTiffConverter(std::unique_ptr<FaxConvertData>& out);

// PCX: one monochrome page. Default extension "PCX".
int CreatePcxConverter(std::unique_ptr<FaxConvertData>& out);

// DCX: up to 1024 PCX pages in one file, in the order of their offsets.
// Default extension "DCX".
int CreateDcxConverter(std::unique_ptr<FaxConvertData>& out);

// BMP: one page. Bitmaps of more than one bit per pixel are reduced to
// black and white by ordered dithering (TDitherMatrix). Default extension
// "BMP".
int CreateBmpConverter(std::unique_ptr<FaxConvertData>& out);

// The 16 x 16 threshold table of the ordered dithering. Entry (i, j) is
// 4 x f(i, j), f built over the bits k = 0..3 of i and j from the low bits
// up: f := 2f | 2((bit k of i) ^ (bit k of j)) | (bit k of j). A pixel (x, y)
// becomes white when Entry(x mod 16, y mod 16) is below (R + G + B) / 3.
class TDitherMatrix {
 public:
  TDitherMatrix();
  uint8_t Entry(int i, int j) const { return table_[i & 15][j & 15]; }
  bool White(int x, int y, int r, int g, int b) const {
    return Entry(x, y) < (r + g + b) / 3;
  }

 private:
  uint8_t table_[16][16];
};

}  // namespace tv
