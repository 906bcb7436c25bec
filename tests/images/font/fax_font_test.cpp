#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "images/font/fax_font.h"

namespace tv {
namespace {

struct FontCase {
  const char* name;
  size_t offset;
  FaxFontMetrics m;
};

const FontCase kFonts[] = {
    {"small", kSmallFontOffset, kSmallFontMetrics},
    {"standard", kStandardFontOffset, kStandardFontMetrics},
};

TEST(FaxFont, ResourceHoldsBothFontsIn16384Bytes) {
  size_t size = 0;
  const uint8_t* data = FindFaxFontResource(size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 16384u);
  EXPECT_EQ(kSmallFontOffset + 256u * kSmallFontMetrics.bytesPerGlyph, kStandardFontOffset);
  EXPECT_EQ(kStandardFontOffset + 256u * kStandardFontMetrics.bytesPerGlyph, size);
  EXPECT_EQ(kSmallFontMetrics.cellWidth, 12);
  EXPECT_EQ(kSmallFontMetrics.rows, 8);
  EXPECT_EQ(kStandardFontMetrics.cellWidth, 20);
  EXPECT_EQ(kStandardFontMetrics.rows, 16);
}

// Codes 0, 32 and 255 are blank, every other code is drawn, and no glyph
// sets a bit beyond its cell.
TEST(FaxFont, EveryCodeButBlanksIsDrawnWithinItsCell) {
  for (const FontCase& f : kFonts) {
    SCOPED_TRACE(f.name);
    for (int code = 0; code < 256; ++code) {
      const uint8_t* g = kFaxFontResource + f.offset + code * f.m.bytesPerGlyph;
      int black = 0;
      for (int r = 0; r < f.m.rows; ++r) {
        for (int x = 0; x < f.m.bytesPerRow * 8; ++x) {
          const bool bit = (g[r * f.m.bytesPerRow + x / 8] >> (7 - x % 8)) & 1;
          if (!bit) continue;
          ++black;
          EXPECT_LT(x, f.m.cellWidth) << "code " << code << " row " << r;
        }
      }
      if (code == 0 || code == 32 || code == 255) {
        EXPECT_EQ(black, 0) << "code " << code;
      } else {
        EXPECT_GT(black, 0) << "code " << code;
      }
    }
  }
}

// Distinct letters and digits look distinct in both sizes (a font whose
// glyphs were shifted or collapsed would fail here).
TEST(FaxFont, LettersAndDigitsAreDistinct) {
  const std::string chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (const FontCase& f : kFonts) {
    SCOPED_TRACE(f.name);
    for (size_t i = 0; i < chars.size(); ++i) {
      for (size_t j = i + 1; j < chars.size(); ++j) {
        const uint8_t* a =
            kFaxFontResource + f.offset + static_cast<unsigned char>(chars[i]) * f.m.bytesPerGlyph;
        const uint8_t* b =
            kFaxFontResource + f.offset + static_cast<unsigned char>(chars[j]) * f.m.bytesPerGlyph;
        EXPECT_NE(std::memcmp(a, b, f.m.bytesPerGlyph), 0) << chars[i] << " vs " << chars[j];
      }
    }
  }
}

}  // namespace
}  // namespace tv
