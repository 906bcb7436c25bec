// Windows bitmap input: one page. Monochrome bitmaps are read row by row
// from the file; bitmaps of 4, 8, 16, 24 or 32 bits per pixel are first
// reduced to black and white by ordered dithering, in memory.
#include <algorithm>
#include <new>
#include <vector>

#include "images/graphics/graphics_file.h"
#include "images/graphics/graphics_input.h"
#include "images/graphics/graphics_rows.h"
#include "platform/core/error_codes.h"

namespace tv {

TDitherMatrix::TDitherMatrix() {
  for (int i = 0; i < 16; ++i) {
    for (int j = 0; j < 16; ++j) {
      int f = 0;
      for (int k = 0; k < 4; ++k) {
        const int bi = (i >> k) & 1;
        const int bj = (j >> k) & 1;
        f = (2 * f) | (2 * (bi ^ bj)) | bj;
      }
      table_[i][j] = static_cast<uint8_t>(4 * f);
    }
  }
}

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint16_t kBmpSignature = 19778;  // "BM"
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

struct BmpState {
  GraphicsFile file;
  uint32_t width = 0;
  uint32_t rows = 0;
  uint32_t bytesPerRow = 0;
  uint8_t lastMask = 0xFF;
  uint64_t stride = 0;
  uint64_t dataStart = 0;
  bool bottomUp = true;
  bool index1White = true;  // monochrome: the palette entry of a 1 bit is white
  uint32_t nextRow = 0;     // rows delivered, counted from the top
  std::vector<uint8_t> row;
  // Dithered image (1 = black), rows of bytesPerRow from the top; empty for
  // a monochrome file.
  std::vector<uint8_t> dithered;
};

struct Rgb {
  int r = 0, g = 0, b = 0;
};

int Luminance(const Rgb& c) { return c.r + c.g + c.b; }

// Shift and width of a bit-field mask, to scale a channel to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  int Value(uint32_t px) const {
    if (mask == 0 || bits == 0) return 0;
    const uint32_t max = (bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1);
    // Only the lowest contiguous bits of a mask count.
    const uint32_t v = ((px & mask) >> shift) & max;
    return static_cast<int>((static_cast<uint64_t>(v) * 255 + max / 2) / max);
  }
};

Channel MakeChannel(uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) return c;
  while (((mask >> c.shift) & 1) == 0) ++c.shift;
  while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1) != 0) ++c.bits;
  return c;
}

int ReadPalette(BmpState& st, uint64_t at, uint32_t entries, std::vector<Rgb>& palette) {
  palette.clear();
  if (at + static_cast<uint64_t>(entries) * 4 > st.file.Size()) {
    entries = at < st.file.Size() ? static_cast<uint32_t>((st.file.Size() - at) / 4) : 0;
  }
  st.file.Seek(at);
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t q[4];
    const int rc = st.file.ReadExact(q, 4, ecBadGraphicsFormat);
    if (rc != 0) return rc;
    palette.push_back(Rgb{q[2], q[1], q[0]});
  }
  return 0;
}

// Reduces the source rows to black and white with the dither matrix.
int Dither(BmpState& st, int bitCount, const std::vector<Rgb>& palette, const Channel& red,
           const Channel& green, const Channel& blue) {
  static const TDitherMatrix matrix;
  st.dithered.assign(static_cast<size_t>(st.rows) * st.bytesPerRow, 0);
  std::vector<uint8_t> src(st.stride);
  for (uint32_t y = 0; y < st.rows; ++y) {
    const uint64_t rowAt = st.bottomUp ? st.dataStart + (st.rows - 1 - y) * st.stride
                                       : st.dataStart + y * st.stride;
    st.file.Seek(rowAt);
    const int rc = st.file.ReadExact(src.data(), st.stride, ecBadGraphicsFormat);
    if (rc != 0) return rc;
    uint8_t* out = st.dithered.data() + static_cast<size_t>(y) * st.bytesPerRow;
    for (uint32_t x = 0; x < st.width; ++x) {
      Rgb c;
      switch (bitCount) {
        case 4:
        case 8: {
          const unsigned index =
              bitCount == 8 ? src[x] : ((src[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F);
          if (index < palette.size()) c = palette[index];
          break;
        }
        case 16: {
          const uint32_t px = Le16(&src[2 * x]);
          c = Rgb{red.Value(px), green.Value(px), blue.Value(px)};
          break;
        }
        case 24:
          c = Rgb{src[3 * x + 2], src[3 * x + 1], src[3 * x]};
          break;
        case 32: {
          const uint32_t px = Le32(&src[4 * x]);
          c = Rgb{red.Value(px), green.Value(px), blue.Value(px)};
          break;
        }
        default:
          break;
      }
      if (!matrix.White(static_cast<int>(x), static_cast<int>(y), c.r, c.g, c.b)) {
        out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
    }
  }
  return 0;
}

int BmpOpen(FaxConvertData& cvt, const std::string& name) {
  auto* st = InputState<BmpState>(cvt);
  int rc = st->file.Open(name);
  if (rc != 0) return rc;
  uint8_t h[kFileHeaderSize + kInfoHeaderSize];
  rc = st->file.ReadExact(h, sizeof h, ecBadGraphicsFormat);
  if (rc != 0) return rc;
  const uint8_t* info = h + kFileHeaderSize;
  const uint32_t offBits = Le32(h + 10);
  const uint32_t infoSize = Le32(info);
  const auto width = static_cast<int32_t>(Le32(info + 4));
  const auto height = static_cast<int32_t>(Le32(info + 8));
  const uint16_t bitCount = Le16(info + 14);
  const uint32_t compression = Le32(info + 16);
  const uint32_t clrUsed = Le32(info + 32);
  if (Le16(h) != kBmpSignature || infoSize < kInfoHeaderSize) return ecBadGraphicsFormat;
  if (width <= 0 || width > cvt.lineWidth || height == 0 || height == INT32_MIN) {
    return ecBadGraphicsFormat;
  }
  st->width = static_cast<uint32_t>(width);
  st->rows = static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height);
  st->bottomUp = height > 0;
  st->bytesPerRow = (st->width + 7) / 8;
  st->lastMask = LastByteMask(st->width);
  st->stride = (static_cast<uint64_t>(st->width) * bitCount + 31) / 32 * 4;

  const bool paletted = bitCount == 1 || bitCount == 4 || bitCount == 8;
  const bool direct = bitCount == 16 || bitCount == 24 || bitCount == 32;
  if (!paletted && !direct) return ecBadGraphicsFormat;
  if (compression != kBiRgb && !(compression == kBiBitfields && (bitCount == 16 || bitCount == 32))) {
    return ecBadGraphicsFormat;
  }

  // The pixel rows: where the header says they start, or else the last
  // rows x stride bytes of the file.
  const uint64_t size = st->file.Size();
  const uint64_t need = st->stride * st->rows;
  const uint64_t headers = kFileHeaderSize + infoSize;
  if (offBits >= headers && offBits + need <= size) {
    st->dataStart = offBits;
  } else if (need + headers <= size) {
    st->dataStart = size - need;
  } else {
    return ecBadGraphicsFormat;
  }

  std::vector<Rgb> palette;
  if (paletted) {
    const uint32_t entries = (clrUsed != 0 && clrUsed < (1u << bitCount)) ? clrUsed : (1u << bitCount);
    rc = ReadPalette(*st, headers, entries, palette);
    if (rc != 0) return rc;
  }
  if (bitCount == 1) {
    st->index1White =
        palette.size() < 2 || Luminance(palette[1]) >= Luminance(palette[0]);
    st->dithered.clear();
  } else {
    Channel red, green, blue;
    if (compression == kBiBitfields) {
      uint8_t masks[12];
      st->file.Seek(kFileHeaderSize + kInfoHeaderSize);
      rc = st->file.ReadExact(masks, sizeof masks, ecBadGraphicsFormat);
      if (rc != 0) return rc;
      red = MakeChannel(Le32(masks));
      green = MakeChannel(Le32(masks + 4));
      blue = MakeChannel(Le32(masks + 8));
    } else if (bitCount == 16) {
      red = MakeChannel(0x7C00);
      green = MakeChannel(0x03E0);
      blue = MakeChannel(0x001F);
    } else {
      red = MakeChannel(0x00FF0000);
      green = MakeChannel(0x0000FF00);
      blue = MakeChannel(0x000000FF);
    }
    rc = Dither(*st, bitCount, palette, red, green, blue);
    if (rc != 0) return rc;
  }
  st->row.assign(st->bytesPerRow, 0);
  st->nextRow = 0;
  PlaceInputImage(cvt, static_cast<int>(st->width));
  cvt.bytesRead = 0;
  cvt.bytesTotal = static_cast<int64_t>(st->rows) * st->bytesPerRow;
  return 0;
}

int BmpReadLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                bool& morePages) {
  auto* st = InputState<BmpState>(cvt);
  len = 0;
  morePages = false;
  if (st->nextRow >= st->rows) {
    endOfPage = true;
    return 0;
  }
  endOfPage = false;
  uint8_t* row = st->row.data();
  const uint32_t y = st->nextRow;
  if (!st->dithered.empty()) {
    std::copy_n(st->dithered.data() + static_cast<size_t>(y) * st->bytesPerRow, st->bytesPerRow,
                row);
  } else {
    const uint64_t at = st->bottomUp ? st->dataStart + (st->rows - 1 - y) * st->stride
                                     : st->dataStart + y * st->stride;
    st->file.Seek(at);
    const int rc = st->file.ReadExact(row, st->bytesPerRow, -ecReadBeyondEOF);
    if (rc != 0) return rc;
    if (st->index1White) {
      for (uint32_t i = 0; i < st->bytesPerRow; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    }
  }
  row[st->bytesPerRow - 1] &= st->lastMask;
  PlaceRow(cvt, row, st->bytesPerRow, data, len);
  ++st->nextRow;
  cvt.bytesRead += st->bytesPerRow;
  return 0;
}

void BmpClose(FaxConvertData& cvt) {
  auto* st = InputState<BmpState>(cvt);
  st->file.Close();
  st->dithered.clear();
  st->dithered.shrink_to_fit();
}

}  // namespace

int CreateBmpConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<BmpState> st(new (std::nothrow) BmpState);
  if (st == nullptr) return -ecOutOfMemory;
  return CreateFaxConverter(out, st, FaxInputKind{BmpOpen, BmpReadLine, BmpClose}, "BMP");
}

}  // namespace tv
