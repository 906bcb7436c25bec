#include <gtest/gtest.h>

#include <set>

#include "images/graphics/graphics_input.h"
#include "platform/core/error_codes.h"
#include "tests/images/graphics/graphics_fixture.h"

namespace tv::testing {
namespace {

struct Colour {
  uint8_t r, g, b;
};

struct BmpLayout {
  int width = 0, height = 0;  // height < 0: rows stored top-down
  uint16_t bits = 1;
  uint32_t compression = 0;
  std::vector<Colour> palette;
  std::vector<uint32_t> masks;  // bit fields (compression 3)
  uint32_t infoSize = 40;
};

// A bitmap file whose pixel (x, y) (y from the top) has the value px(x, y):
// a palette index, or a packed 16- or 32-bit value, or 0xRRGGBB for 24 bits.
template <class Px>
std::vector<uint8_t> Bmp(const BmpLayout& s, Px px) {
  const int rows = s.height < 0 ? -s.height : s.height;
  const uint32_t stride = (static_cast<uint32_t>(s.width) * s.bits + 31) / 32 * 4;
  std::vector<uint8_t> extra;
  for (const Colour& c : s.palette) extra.insert(extra.end(), {c.b, c.g, c.r, 0});
  for (uint32_t m : s.masks) Put32(extra, m);
  const uint32_t off = 14 + s.infoSize + static_cast<uint32_t>(extra.size());
  std::vector<uint8_t> b = {'B', 'M'};
  Put32(b, off + stride * rows);
  Put32(b, 0);
  Put32(b, off);
  Put32(b, s.infoSize);
  Put32(b, static_cast<uint32_t>(s.width));
  Put32(b, static_cast<uint32_t>(s.height));
  Put16(b, 1);
  Put16(b, s.bits);
  Put32(b, s.compression);
  for (int i = 0; i < 5; ++i) Put32(b, 0);
  b.resize(14 + s.infoSize, 0);
  // With bit fields in a 40-byte header the masks follow it.
  b.insert(b.end(), extra.begin(), extra.end());
  for (int i = 0; i < rows; ++i) {
    const int y = s.height < 0 ? i : rows - 1 - i;
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < s.width; ++x) {
      const uint32_t v = px(x, y);
      switch (s.bits) {
        case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 16: row[2 * x] = static_cast<uint8_t>(v); row[2 * x + 1] = static_cast<uint8_t>(v >> 8); break;
        case 24: row[3 * x] = static_cast<uint8_t>(v); row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                 row[3 * x + 2] = static_cast<uint8_t>(v >> 16); break;
        case 32: for (int k = 0; k < 4; ++k) row[4 * x + k] = static_cast<uint8_t>(v >> (8 * k)); break;
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

const std::vector<Colour> kBlackWhite = {{0, 0, 0}, {255, 255, 255}};

class BmpTest : public GraphicsTest {};

TEST(DitherMatrix, ThresholdsAsDesigned) {
  const TDitherMatrix m;
  const int row0[] = {0, 96, 48, 112, 24, 120, 56, 120};
  for (int j = 0; j < 8; ++j) EXPECT_EQ(m.Entry(0, j), row0[j]) << j;
  std::set<int> values;
  for (int i = 0; i < 16; ++i) {
    for (int j = 0; j < 16; ++j) {
      EXPECT_EQ(m.Entry(i, j) % 4, 0);
      EXPECT_LE(m.Entry(i, j), 124);
      values.insert(m.Entry(i, j));
    }
  }
  EXPECT_EQ(values.size(), 32u);
}

TEST_F(BmpTest, MonochromeBitmapsInEveryLayout) {
  const Image im = Pattern(203, 13);
  auto blackAt = [&im](int x, int y) { return im.At(x, y); };
  struct Case {
    const char* name;
    BmpLayout layout;
    bool indexOneWhite;
  } cases[] = {
      {"bottom-up, index 1 white", {203, 13, 1, 0, kBlackWhite}, true},
      {"top-down", {203, -13, 1, 0, kBlackWhite}, true},
      {"palette with index 0 white", {203, 13, 1, 0, {{255, 255, 255}, {0, 0, 0}}}, false},
      {"larger information header", {203, 13, 1, 0, kBlackWhite, {}, 124}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool white1 = c.indexOneWhite;
    const auto file = Bmp(c.layout, [&](int x, int y) -> uint32_t {
      return blackAt(x, y) != white1 ? 1 : 0;
    });
    auto cvt = Core(CreateBmpConverter);
    ExpectImage(ReadPages(*cvt, Write("m.bmp", file)), im);
  }
}

// The dithered result: white where the threshold lies below the grey.
Image Dithered(int w, int h, const std::function<int(int, int)>& grey) {
  const TDitherMatrix m;
  Image im{w, h, {}};
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row(im.Bpr(), 0);
    for (int x = 0; x < w; ++x) {
      if (!(m.Entry(x % 16, y % 16) < grey(x, y))) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    im.rows.push_back(row);
  }
  return im;
}

TEST_F(BmpTest, ColourBitmapsAreDithered) {
  const int w = 70, h = 40;
  auto grey = [](int x, int y) { return (x * 3 + y * 5) % 256; };
  std::vector<Colour> greys;
  for (int i = 0; i < 256; ++i) {
    greys.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
  }
  std::vector<Colour> grey16(greys.begin(), greys.begin() + 16);
  struct Case {
    const char* name;
    BmpLayout layout;
    std::function<uint32_t(int, int)> px;
    std::function<int(int, int)> expectGrey;
  } cases[] = {
      {"8 bits, palette", {w, h, 8, 0, greys}, [&](int x, int y) { return grey(x, y); }, grey},
      {"4 bits, palette", {w, h, 4, 0, grey16}, [&](int x, int y) { return grey(x, y) % 16; },
       [&](int x, int y) { return grey(x, y) % 16; }},
      {"24 bits", {w, h, 24}, [&](int x, int y) { return 0x010101u * grey(x, y); }, grey},
      {"24 bits, one channel", {w, h, 24}, [&](int x, int y) { return uint32_t(grey(x, y)) << 16; },
       [&](int x, int y) { return grey(x, y) / 3; }},
      {"32 bits", {w, h, 32}, [&](int x, int y) { return 0x010101u * grey(x, y); }, grey},
      {"16 bits 5-5-5", {w, h, 16}, [&](int x, int y) { return 0x421u * (grey(x, y) >> 3); },
       [&](int x, int y) { const int v = grey(x, y) >> 3; return (v * 255 + 15) / 31; }},
      {"16 bits 5-6-5 bit fields", {w, h, 16, 3, {}, {0xF800, 0x07E0, 0x001F}},
       [&](int x, int y) { const uint32_t v = grey(x, y) >> 3; return (v << 11) | (v << 6) | v; },
       [&](int x, int y) {
         const int v = grey(x, y) >> 3;
         return ((v * 255 + 15) / 31 * 2 + ((2 * v) * 255 + 31) / 63) / 3;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cvt = Core(CreateBmpConverter);
    ExpectImage(ReadPages(*cvt, Write("c.bmp", Bmp(c.layout, c.px))), Dithered(w, h, c.expectGrey));
  }
}

TEST_F(BmpTest, WhiteAndMidGreyBecomeWhitePages) {
  for (uint32_t colour : {0xFFFFFFu, 0x808080u}) {
    const auto file = Bmp(BmpLayout{64, 32, 24}, [colour](int, int) { return colour; });
    auto cvt = Core(CreateBmpConverter);
    const ReadResult r = ReadPages(*cvt, Write("w.bmp", file));
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.Lines(0), 32u);
    for (const auto& line : r.pages[0]) EXPECT_EQ(CountBlack(line), 0u);
  }
}

TEST_F(BmpTest, UnreadableBitmapsAreRejected) {
  auto zero = [](int, int) -> uint32_t { return 0; };
  std::vector<uint8_t> notBm = Bmp(BmpLayout{8, 8, 1, 0, kBlackWhite}, zero);
  notBm[0] = 'X';
  std::vector<uint8_t> truncated = Bmp(BmpLayout{64, 64, 24}, zero);
  truncated.resize(truncated.size() / 2);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  } cases[] = {
      {"signature", notBm},
      {"wider than the line", Bmp(BmpLayout{1729, 1, 1, 0, kBlackWhite}, zero)},
      {"run-length coded", Bmp(BmpLayout{8, 8, 8, 1, kBlackWhite}, zero)},
      {"core header", Bmp(BmpLayout{8, 8, 1, 0, kBlackWhite, {}, 12}, zero)},
      {"2 bits per pixel", Bmp(BmpLayout{8, 8, 2, 0, kBlackWhite}, zero)},
      {"pixel data cut short", truncated},
      {"headers cut short", std::vector<uint8_t>{'B', 'M', 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cvt = Core(CreateBmpConverter);
    EXPECT_EQ(ReadPages(*cvt, Write("bad.bmp", c.file)).rc, ecBadGraphicsFormat);
  }
}

// Files that once made a reader fail: each gives an error code or pages,
// never a crash or a read outside a buffer.
TEST_F(BmpTest, FilesThatOnceFailedAreSafe) {
  struct Case {
    const char* file;
    int (*create)(std::unique_ptr<FaxConvertData>&);
  } cases[] = {
      {"bmp-bitfields-gaps.bmp", CreateBmpConverter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto cvt = Core(c.create, kDefaultConvertOptions);
    const ReadResult r = ReadPages(*cvt, std::string(TELVANE_TEST_DATA) + "/" + c.file);
    EXPECT_LE(r.rc, 0);
  }
}

// Through the converter: a dithered bitmap becomes one APF page.
TEST_F(BmpTest, BitmapBecomesAnApfPage) {
  const auto file = Bmp(BmpLayout{300, 20, 24}, [](int x, int) { return 0x010101u * (x % 256); });
  Write("photo.BMP", file);
  auto cvt = Core(CreateBmpConverter);
  SetConverterMargins(*cvt, 0, 0);
  ASSERT_EQ(ConvertToApfFile(*cvt, Path("photo"), Path("out")), 0);
  const auto pages = DecodeApfPages(Path("out.APF"));
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), 20u);
  const Image want = Dithered(300, 20, [](int x, int) { return x % 256; });
  for (int y = 0; y < 20; ++y) EXPECT_EQ(pages[0][y], Placed(want.rows[y], 0)) << y;
}

}  // namespace
}  // namespace tv::testing
