// The page code checked against an independent implementation: lines our
// converter codes decode in libtiff's Group 3 one-dimensional decoder to the
// source raster, and Group 3 data that libtiff codes decodes in our
// unpacker to libtiff's raster.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/convert/fax_converter.h"
#include "images/unpack/fax_unpacker.h"
#include "tests/images/t4/g3_tiff.h"
#include "tests/images/t4/raster_pages.h"

namespace tv {
namespace {

using testpages::Raster;

std::string TempPath(const std::string& name) {
  const auto dir = std::filesystem::path(TELVANE_BUILD_DIR) / "tmp-images-t4";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// Our coding of every row (left margin 0), followed by the end-of-page block.
std::vector<uint8_t> EncodeWithOurs(const Raster& r) {
  std::unique_ptr<FaxConvertData> cvt;
  EXPECT_EQ(CreateFaxConverter(cvt, nullptr, {}, ""), 0);
  SetConverterMargins(*cvt, 0, 0);
  SetConverterWidth(*cvt, r.width == 2048 ? 2 : 1);
  std::vector<uint8_t> out;
  std::vector<uint8_t> line(kRasterBufferSize, 0);
  for (int y = 0; y < r.height; ++y) {
    std::memcpy(line.data(), r.Row(y), r.RowBytes());
    const int n = EncodeFaxLine(*cvt, line.data());
    out.insert(out.end(), cvt->codeBuffer.get(), cvt->codeBuffer.get() + n);
  }
  uint8_t eop[kEndOfPageLength];
  EncodeEndOfPage(*cvt, eop);
  out.insert(out.end(), eop, eop + kEndOfPageLength);
  return out;
}

void SetG3Tags(TIFF* tif, const Raster& r) { testpages::SetG3Tags(tif, r.width, r.height); }

// libtiff's decoding of G3 1-D data (one strip) into rows.
Raster DecodeWithLibtiff(const std::vector<uint8_t>& data, int width, int height) {
  const std::string path = TempPath("ours.tif");
  Raster shape = testpages::Blank(width, height);
  TIFF* out = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(out, nullptr);
  SetG3Tags(out, shape);
  EXPECT_EQ(TIFFWriteRawStrip(out, 0, const_cast<uint8_t*>(data.data()), static_cast<tmsize_t>(data.size())),
            static_cast<tmsize_t>(data.size()));
  TIFFClose(out);
  TIFF* in = TIFFOpen(path.c_str(), "r");
  EXPECT_NE(in, nullptr);
  Raster r = testpages::Blank(width, height);
  for (int y = 0; y < height; ++y) EXPECT_EQ(TIFFReadScanline(in, r.Row(y), y, 0), 1) << "row " << y;
  TIFFClose(in);
  return r;
}

// libtiff's G3 1-D coding of a raster (the raw strip as stored, LSB first).
std::vector<uint8_t> EncodeWithLibtiff(const Raster& r) {
  const std::string path = TempPath("theirs.tif");
  TIFF* out = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(out, nullptr);
  SetG3Tags(out, r);
  std::vector<uint8_t> row(r.RowBytes());
  for (int y = 0; y < r.height; ++y) {
    std::memcpy(row.data(), r.Row(y), row.size());
    EXPECT_EQ(TIFFWriteScanline(out, row.data(), y, 0), 1);
  }
  TIFFClose(out);
  TIFF* in = TIFFOpen(path.c_str(), "r");
  EXPECT_NE(in, nullptr);
  uint64_t* counts = nullptr;
  TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts);
  std::vector<uint8_t> data(counts ? counts[0] : 0);
  EXPECT_EQ(TIFFReadRawStrip(in, 0, data.data(), static_cast<tmsize_t>(data.size())),
            static_cast<tmsize_t>(data.size()));
  TIFFClose(in);
  // A TIFF strip holds no end-of-page mark; a fax page on the wire ends with
  // six EOLs (return to control).
  const uint8_t rtc[9] = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80};
  data.insert(data.end(), rtc, rtc + sizeof rtc);
  return data;
}

// Our unpacker's lines for raw page data wrapped in an APF file.
std::vector<std::vector<uint8_t>> DecodeWithOurs(const std::vector<uint8_t>& data, bool wide) {
  const std::string path = TempPath("theirs.apf");
  ApfWriter w;
  EXPECT_EQ(w.Create(path), 0);
  EXPECT_EQ(w.BeginPage(static_cast<uint16_t>(pfHighRes | (wide ? pfWide : 0))), 0);
  EXPECT_EQ(w.Write(data.data(), data.size()), 0);
  EXPECT_EQ(w.EndPage(), 0);
  EXPECT_EQ(w.Finish("", 0), 0);
  std::vector<std::vector<uint8_t>> lines;
  std::unique_ptr<FaxUnpackData> u;
  EXPECT_EQ(CreateFaxUnpacker(u, nullptr,
                              [&](FaxUnpackData&, unsigned what, const uint8_t* p, int len, int) {
                                if (what == ulData) lines.emplace_back(p, p + len);
                                return 0;
                              }),
            0);
  EXPECT_EQ(DecodeFaxPage(*u, path, 1), 0);
  EXPECT_EQ(u->badCodes, 0);
  return lines;
}

struct PageCase {
  const char* name;
  Raster raster;
};

std::vector<PageCase> Pages() {
  std::vector<PageCase> pages;
  for (int width : {1728, 2048}) {
    pages.push_back({"edge cases", testpages::EdgeCases(width)});
    pages.push_back({"dense text", testpages::DenseText(width, 240)});
    pages.push_back({"sparse", testpages::Sparse(width, 500)});
    pages.push_back({"dithered photograph", testpages::DitheredPhoto(width, 120)});
  }
  return pages;
}

TEST(LibtiffCrossCheck, OurCodingDecodesInLibtiffToTheSourceRaster) {
  for (const auto& page : Pages()) {
    SCOPED_TRACE(testing::Message() << page.name << " " << page.raster.width);
    const Raster decoded =
        DecodeWithLibtiff(EncodeWithOurs(page.raster), page.raster.width, page.raster.height);
    for (int y = 0; y < page.raster.height; ++y) {
      ASSERT_EQ(std::memcmp(decoded.Row(y), page.raster.Row(y), page.raster.RowBytes()), 0)
          << "row " << y;
    }
  }
}

TEST(LibtiffCrossCheck, LibtiffCodingDecodesInOurUnpackerToItsRaster) {
  for (const auto& page : Pages()) {
    SCOPED_TRACE(testing::Message() << page.name << " " << page.raster.width);
    const auto lines = DecodeWithOurs(EncodeWithLibtiff(page.raster), page.raster.width == 2048);
    ASSERT_EQ(static_cast<int>(lines.size()), page.raster.height);
    for (int y = 0; y < page.raster.height; ++y) {
      ASSERT_EQ(static_cast<int>(lines[y].size()), page.raster.RowBytes());
      ASSERT_EQ(std::memcmp(lines[y].data(), page.raster.Row(y), page.raster.RowBytes()), 0)
          << "row " << y;
    }
  }
}

}  // namespace
}  // namespace tv
