#include <gtest/gtest.h>
#include <tiffio.h>

#include "images/graphics/graphics_input.h"
#include "platform/core/error_codes.h"
#include "tests/images/graphics/graphics_fixture.h"

namespace tv::testing {
namespace {

struct TiffCase {
  const char* name;
  const char* mode;  // "w" little-endian, "wb" big-endian
  uint16_t compression;
  uint16_t photometric;
  uint32_t rowsPerStrip;
  int width;
};

// Written by libtiff, read by our reader.
void WriteWithLibtiff(const std::string& path, const Image& im, const TiffCase& c) {
  TIFF* t = TIFFOpen(path.c_str(), c.mode);
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(im.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(im.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.photometric);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, c.rowsPerStrip);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  for (int y = 0; y < im.height; ++y) {
    std::vector<uint8_t> row = im.rows[y];
    if (c.photometric == PHOTOMETRIC_MINISBLACK) {
      for (auto& b : row) b = static_cast<uint8_t>(~b);
    }
    ASSERT_EQ(TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0), 1);
  }
  TIFFClose(t);
}

class TiffTest : public GraphicsTest {};

TEST_F(TiffTest, ReadsWhatLibtiffWrites) {
  const TiffCase cases[] = {
      {"uncompressed, one strip", "w", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 1000, 1001},
      {"uncompressed, strips of 7, black is zero", "w", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 7, 203},
      {"big-endian PackBits", "wb", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 5, 1728},
      {"PackBits, black is zero, strips of 1", "w", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1, 77},
      {"big-endian uncompressed", "wb", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 3, 64},
  };
  for (const TiffCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Image im = Pattern(c.width, 31);
    WriteWithLibtiff(Path("a.tif"), im, c);
    auto cvt = Core(CreateTiffConverter);
    ExpectImage(ReadPages(*cvt, Path("a.tif")), im);
    EXPECT_EQ(cvt->bytesTotal, static_cast<int64_t>(im.Bpr()) * im.height);
    EXPECT_EQ(cvt->bytesRead, cvt->bytesTotal);
  }
}

TEST_F(TiffTest, CommonPlacementRules) {
  const Image im = Pattern(800, 4);
  WriteWithLibtiff(Path("a.tif"), im, {"", "w", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 4, 800});
  {
    auto cvt = Core(CreateTiffConverter, kDefaultConvertOptions);
    ExpectImage(ReadPages(*cvt, Path("a.tif")), im, (1728 - 1600) / 32);
    EXPECT_TRUE(cvt->doubleWidth);
  }
  {
    auto cvt = Core(CreateTiffConverter, kDefaultConvertOptions);
    SetConverterResolution(*cvt, true);  // fine: never doubled
    ExpectImage(ReadPages(*cvt, Path("a.tif")), im, (1728 - 800) / 16);
    EXPECT_FALSE(cvt->doubleWidth);
  }
}

// A TIFF written by hand: little-endian header, one directory at offset 8,
// then `data`. Entries give (tag, type, count, value); the value kData
// stands for the offset of the data.
constexpr uint32_t kData = 0xFFFFFFFF;
struct Entry {
  uint16_t tag, type;
  uint32_t count, value;
};
std::vector<uint8_t> HandTiff(const std::vector<Entry>& entries, const std::vector<uint8_t>& data,
                              const char* magic = "II") {
  std::vector<uint8_t> b = {static_cast<uint8_t>(magic[0]), static_cast<uint8_t>(magic[1])};
  Put16(b, 42);
  Put32(b, 8);
  Put16(b, static_cast<uint16_t>(entries.size()));
  const uint32_t dataAt = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  for (const Entry& e : entries) {
    Put16(b, e.tag);
    Put16(b, e.type);
    Put32(b, e.count);
    const uint32_t v = e.value == kData ? dataAt : e.value;
    if (e.type == 3) {
      Put16(b, static_cast<uint16_t>(v));
      Put16(b, 0);
    } else {
      Put32(b, v);
    }
  }
  Put32(b, 0);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<Entry> Basic(uint32_t width, uint32_t rows, uint16_t compression) {
  return {{256, 4, 1, width}, {257, 4, 1, rows}, {258, 3, 1, 1},
          {259, 3, 1, compression}, {262, 3, 1, 0}, {273, 4, 1, kData}};
}

TEST_F(TiffTest, UnreadableFilesAreRejected) {
  std::vector<Entry> bits2 = Basic(8, 1, 1);
  bits2[2].value = 2;
  std::vector<Entry> g3 = Basic(8, 1, 3);
  std::vector<Entry> noOffsets = Basic(8, 1, 1);
  noOffsets.pop_back();
  std::vector<Entry> noWidth = Basic(8, 1, 1);
  noWidth.erase(noWidth.begin());
  std::vector<Entry> outside = Basic(8, 1, 1);
  outside.back().value = 100000;  // strip beyond the end of the file
  std::vector<Entry> tooShort = Basic(64, 4, 1);  // 32 bytes needed, 8 present
  std::vector<Entry> tableOutside = Basic(8, 4, 1);
  tableOutside.push_back({278, 4, 1, 1});
  tableOutside[5] = {273, 4, 4, 5000};  // offset table beyond the file
  std::vector<Entry> tableShort = Basic(8, 4, 1);
  tableShort.push_back({278, 4, 1, 1});
  tableShort[5] = {273, 4, 2, kData};  // four strips, two offsets
  std::vector<Entry> sharedStrips = Basic(8, 8, 1);
  sharedStrips.push_back({278, 4, 1, 1});
  sharedStrips[5] = {273, 3, 2, 0};  // rewritten below: 8 strips on the same 8 bytes
  const std::vector<uint8_t> eight(8, 0x0F);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  } cases[] = {
      {"no byte-order mark", HandTiff(Basic(8, 1, 1), eight, "XX")},
      {"2 bits per sample", HandTiff(bits2, eight)},
      {"Group 3 compression", HandTiff(g3, eight)},
      {"no strip offsets", HandTiff(noOffsets, eight)},
      {"no width", HandTiff(noWidth, eight)},
      {"strip outside the file", HandTiff(outside, eight)},
      {"strip cut short", HandTiff(tooShort, eight)},
      {"strip table outside the file", HandTiff(tableOutside, eight)},
      {"strip table too short", HandTiff(tableShort, eight)},
      {"directory cut short", std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 5, 0, 1}},
      {"empty file", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cvt = Core(CreateTiffConverter);
    EXPECT_EQ(ReadPages(*cvt, Write("bad.tif", c.file)).rc, ecBadGraphicsFormat);
  }
  // Eight strips whose offsets all name the same byte: refused rather than
  // decoded eight times.
  std::vector<uint8_t> table;
  for (int i = 0; i < 8; ++i) Put32(table, 8 + 2 + 12 * 7 + 4 + 32);
  table.insert(table.end(), eight.begin(), eight.end());
  sharedStrips[5] = {273, 4, 8, kData};
  auto cvt = Core(CreateTiffConverter);
  EXPECT_EQ(ReadPages(*cvt, Write("shared.tif", HandTiff(sharedStrips, table))).rc,
            ecBadGraphicsFormat);
  EXPECT_EQ(ReadPages(*cvt, Path("missing.tif")).rc, -ecFileNotFound);
}

// PackBits runs stay within their row: a run that would go past the row is
// cut, 128 is no operation, and a strip whose data ends gives white for the
// rest of the row and no rows after it.
TEST_F(TiffTest, PackBitsRunsAreBoundedByRowAndStrip) {
  const std::vector<uint8_t> strip = {
      0x80,              // no operation
      0xFD, 0xAA,        // 0xAA four times into a 2-byte row: cut after 2
      0x01, 0x11, 0x22,  // row 2: two literals
      0x05, 0x33,        // row 3: six literals claimed, one present: data ends
  };
  std::vector<Entry> e = Basic(16, 1000000, 32773);  // far more rows than data
  const auto file = HandTiff(e, strip);
  auto cvt = Core(CreateTiffConverter);
  const ReadResult r = ReadPages(*cvt, Write("p.tif", file));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.pages.size(), 1u);
  ASSERT_EQ(r.pages[0].size(), 3u);
  EXPECT_EQ(r.pages[0][0], Placed({0xAA, 0xAA}, 0));
  EXPECT_EQ(r.pages[0][1], Placed({0x11, 0x22}, 0));
  EXPECT_EQ(r.pages[0][2], Placed({0x33, 0x00}, 0));
}

// Rows wider than the raster buffer are cut at its end.
TEST_F(TiffTest, OversizedRowsAreCut) {
  const uint32_t width = 40000;  // 5000 bytes a row
  std::vector<uint8_t> data(2 * 5000, 0xFF);
  const auto file = HandTiff(Basic(width, 2, 1), data);
  auto cvt = Core(CreateTiffConverter, kDefaultConvertOptions);
  const ReadResult r = ReadPages(*cvt, Write("wide.tif", file), kRasterBufferSize);
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.Lines(0), 2u);
  EXPECT_EQ(r.lens[0], static_cast<int>(kRasterBufferSize));
  EXPECT_EQ(CountBlack(r.pages[0][0]), kRasterBufferSize * 8);
}

// Through the converter: the page decodes to the image, moved right by the
// left margin.
TEST_F(TiffTest, TiffBecomesAnApfPage) {
  const Image im = Pattern(1000, 12);
  WriteWithLibtiff(Path("scan.TIF"), im, {"", "w", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 5, 1000});
  auto cvt = Core(CreateTiffConverter);
  SetConverterMargins(*cvt, 0, 0);
  ASSERT_EQ(ConvertToApfFile(*cvt, Path("scan"), ""), 0);
  const auto pages = DecodeApfPages(Path("scan.APF"));
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), 12u);
  for (int y = 0; y < 12; ++y) EXPECT_EQ(pages[0][y], Placed(im.rows[y], 0)) << y;
}

}  // namespace
}  // namespace tv::testing
