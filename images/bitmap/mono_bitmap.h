// A monochrome bitmap in memory, shared by the converter (bitmap input), the
// unpacker (page bitmaps), the viewer and the printer.
//
// Layout: `height` rows of `rowBytes` bytes each, top row first. One bit per
// pixel; bit 7 of byte 0 of a row is its leftmost pixel, pixels continue from
// the most significant to the least significant bit of each byte.
//
//   A 1 bit is BLACK, a 0 bit is WHITE (the same sense as the raster lines of
//   the fax code). Bits beyond `width` in the last byte of a row are 0.
//
// Conversion to and from QImage belongs to the Qt side (send/, app/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv {

class MonoBitmap {
 public:
  MonoBitmap() = default;
  // A white bitmap; rowBytes 0 means the least that holds the width,
  // (width + 7) / 8. A rowBytes below that is raised to it.
  MonoBitmap(int width, int height, int rowBytes = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowBytes() const { return rowBytes_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  uint8_t* Row(int y) { return bits_.data() + static_cast<size_t>(y) * rowBytes_; }
  const uint8_t* Row(int y) const {
    return bits_.data() + static_cast<size_t>(y) * rowBytes_;
  }
  uint8_t* Bits() { return bits_.data(); }
  const uint8_t* Bits() const { return bits_.data(); }
  size_t SizeBytes() const { return bits_.size(); }

  // Pixel access; true = black. Coordinates outside the bitmap read white
  // and are ignored when set.
  bool Pixel(int x, int y) const;
  void SetPixel(int x, int y, bool black);

  // Makes every pixel white (0).
  void Clear();

  // Takes over a block of rows (height * rowBytes bytes) as the bitmap's
  // bits; used by the unpacker to hand over its row block without copying.
  void Adopt(int width, int height, int rowBytes, std::vector<uint8_t>&& bits);

  bool operator==(const MonoBitmap& other) const;

 private:
  int width_ = 0;
  int height_ = 0;
  int rowBytes_ = 0;
  std::vector<uint8_t> bits_;
};

}  // namespace tv
