// Helpers shared by the graphics readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "images/convert/fax_converter.h"

namespace tv {

// Mask of the valid bits in the last byte of a row of `width` pixels.
inline uint8_t LastByteMask(uint32_t width) {
  static constexpr uint8_t kMasks[8] = {0xFF, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
  return kMasks[width & 7];
}

// Places a row of bytesPerRow bytes (1 = black) in the raster buffer at the
// centring offset, cut at the end of the buffer. Sets len to the bytes used.
inline void PlaceRow(const FaxConvertData& cvt, const uint8_t* row, size_t bytesPerRow,
                     uint8_t* data, int& len) {
  size_t at = cvt.centerOffset > 0 ? static_cast<size_t>(cvt.centerOffset) : 0;
  if (at > kRasterBufferSize) at = kRasterBufferSize;
  size_t n = bytesPerRow;
  if (n > kRasterBufferSize - at) n = kRasterBufferSize - at;
  std::memcpy(data + at, row, n);
  len = static_cast<int>(at + n);
}

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

}  // namespace tv
