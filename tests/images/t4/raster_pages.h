// Raster pages for the coding tests and the benchmark: rows of bytes, bit 7
// of byte 0 the leftmost pixel, 1 = black.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace tv::testpages {

struct Raster {
  int width = 1728;
  int height = 0;
  std::vector<uint8_t> bits;  // height rows of width / 8 bytes
  int RowBytes() const { return width / 8; }
  uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
  void Set(int x, int y) { Row(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); }
  void Span(int x0, int x1, int y) {
    for (int x = x0; x < x1 && x < width; ++x) Set(x, y);
  }
};

inline Raster Blank(int width, int height) {
  Raster r;
  r.width = width;
  r.height = height;
  r.bits.assign(static_cast<size_t>(width / 8) * height, 0);
  return r;
}

// Lines of small glyph-like strokes, like a page of typed text.
inline Raster DenseText(int width, int height, unsigned seed = 1) {
  Raster r = Blank(width, height);
  std::mt19937 rng(seed);
  for (int top = 40; top + 24 < height; top += 30) {
    for (int x = 60; x + 14 < width - 60; x += 14) {
      if (rng() % 7 == 0) continue;  // a space
      const unsigned shape = rng();
      for (int dy = 0; dy < 20; ++dy) {
        for (int dx = 0; dx < 10; ++dx) {
          const int cell = (dy / 4) * 3 + dx / 4;
          if ((shape >> (cell % 32)) & 1) r.Set(x + dx, top + dy);
        }
      }
    }
  }
  return r;
}

// A few lines of text and a frame on an otherwise empty page.
inline Raster Sparse(int width, int height, unsigned seed = 2) {
  Raster r = Blank(width, height);
  std::mt19937 rng(seed);
  for (int y = 100; y < 104; ++y) r.Span(100, width - 100, y);
  for (int y = 104; y < height - 100; ++y) {
    r.Span(100, 104, y);
    r.Span(width - 104, width - 100, y);
  }
  for (int y = 200; y < 400; ++y) {
    if ((y / 20) % 2) continue;
    for (int x = 200; x < 900; x += 9)
      if (rng() % 3) r.Span(x, x + 5, y);
  }
  return r;
}

// A photograph dithered with a 4 x 4 ordered matrix: short runs everywhere.
inline Raster DitheredPhoto(int width, int height) {
  static const int m[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Raster r = Blank(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // A smooth picture: brightness from soft waves.
      const double v = 0.5 + 0.25 * __builtin_sin(x * 0.01) + 0.2 * __builtin_cos(y * 0.013 + x * 0.004);
      const int level = static_cast<int>(v * 16);
      if (level <= m[y & 3][x & 3]) r.Set(x, y);
    }
  }
  return r;
}

// Lines that test the code's corners: long runs, runs of exactly 64 * n,
// black at both edges, all black, alternating pixels, random rows.
inline Raster EdgeCases(int width, unsigned seed = 3) {
  std::vector<std::vector<std::pair<int, int>>> rows;
  for (int n = 1; n * 64 < width; ++n) rows.push_back({{0, 64 * n}});            // black 64n at left
  for (int n = 1; n * 64 < width; ++n) rows.push_back({{64 * n, 64 * n + 64 * n}});  // white 64n first
  rows.push_back({{0, 1}, {width - 1, width}});
  rows.push_back({{0, width}});
  rows.push_back({{width - 1, width}});
  rows.push_back({{0, 1}});
  rows.push_back({});
  rows.push_back({{1, width - 1}});
  rows.push_back({{63, 64}, {127, 192}, {2559 < width ? 2559 : width - 1, width}});
  Raster r = Blank(width, static_cast<int>(rows.size()) + 8);
  int y = 0;
  for (const auto& spans : rows) {
    for (auto [a, b] : spans) r.Span(a, b, y);
    ++y;
  }
  // Alternating pixels. The row that starts black ends two pixels early:
  // libtiff's decoder holds at most `width` runs per row.
  for (int x = 0; x < width - 2; x += 2) r.Set(x, y);
  ++y;
  for (int x = 1; x < width; x += 2) r.Set(x, y);
  ++y;
  std::mt19937 rng(seed);
  for (; y < r.height; ++y) {
    int x = 0;
    bool black = rng() & 1;
    while (x < width) {
      const int len = 1 + static_cast<int>(rng() % (rng() % 4 == 0 ? 2600 : 40));
      if (black) r.Span(x, x + len, y);
      x += len;
      black = !black;
    }
  }
  return r;
}

}  // namespace tv::testpages
