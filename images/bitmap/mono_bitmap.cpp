#include "images/bitmap/mono_bitmap.h"

#include <algorithm>
#include <cstring>

namespace tv {

MonoBitmap::MonoBitmap(int width, int height, int rowBytes) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  const int least = (width + 7) / 8;
  width_ = width;
  height_ = height;
  rowBytes_ = std::max(rowBytes, least);
  bits_.assign(static_cast<size_t>(rowBytes_) * height_, 0);
}

bool MonoBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

void MonoBitmap::SetPixel(int x, int y, bool black) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t& b = Row(y)[x >> 3];
  const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
  b = black ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

void MonoBitmap::Clear() { std::fill(bits_.begin(), bits_.end(), 0); }

void MonoBitmap::Adopt(int width, int height, int rowBytes, std::vector<uint8_t>&& bits) {
  width_ = width;
  height_ = height;
  rowBytes_ = rowBytes;
  bits_ = std::move(bits);
  bits_.resize(static_cast<size_t>(rowBytes_) * height_, 0);
}

bool MonoBitmap::operator==(const MonoBitmap& other) const {
  if (width_ != other.width_ || height_ != other.height_) return false;
  const int full = width_ / 8;
  const int rest = width_ % 8;
  const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
  for (int y = 0; y < height_; ++y) {
    const uint8_t* a = Row(y);
    const uint8_t* b = other.Row(y);
    if (std::memcmp(a, b, full) != 0) return false;
    if (rest && ((a[full] ^ b[full]) & mask)) return false;
  }
  return true;
}

}  // namespace tv
