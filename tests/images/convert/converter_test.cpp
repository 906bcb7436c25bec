// The converter: byte-exact records, the coding of margins, pagination,
// output names, options, abort, and pages that decode back to their source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/bitmap/mono_bitmap.h"
#include "images/convert/bitmap_input.h"
#include "images/convert/fax_converter.h"
#include "images/convert/tv_fax_converter.h"
#include "images/t4/t4_codes.h"
#include "images/unpack/fax_unpacker.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class ConverterTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(TELVANE_BUILD_DIR) / "tmp-images-convert" /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  // Converts a bitmap with the component; returns the file's bytes.
  std::vector<uint8_t> Convert(const MonoBitmap& b, TTvFaxConverter& c, const std::string& name) {
    c.SetDocumentFile(Path(name + ".bmp"));
    c.ConvertBitmapToFile(b);
    return ReadAll(Path(name + ".APF"));
  }
  // The line records of page 1 (count bytes included).
  static std::vector<std::vector<uint8_t>> Records(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> out;
    const uint32_t len = file[64] | file[65] << 8 | file[66] << 16 | static_cast<uint32_t>(file[67]) << 24;
    size_t p = 80;
    while (p < 80 + len) {
      const size_t n = file[p] | file[p + 1] << 8;
      out.emplace_back(file.begin() + p, file.begin() + p + 2 + n);
      p += 2 + n;
    }
    return out;
  }
  fs::path dir_;
};

const std::vector<uint8_t> kEndOfPageRecord = {0x0C, 0x00, 0x00, 0x80, 0x00, 0x08, 0x80,
                                               0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

TEST_F(ConverterTest, WhiteLineGivesTheDesignedFile) {
  TTvFaxConverter c;
  c.SetStationID("+1 555 0100");
  const auto file = Convert(MonoBitmap(1728, 1), c, "white");
  ASSERT_EQ(file.size(), 64u + 16 + 22);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 6), std::string("APF10\x1A"));
  EXPECT_NE(file[6] | file[7] << 8 | file[8] << 16 | file[9] << 24, 0);  // finished now
  EXPECT_EQ(file[10], 11);
  EXPECT_EQ(std::string(file.begin() + 11, file.begin() + 31), "+1 555 0100         ");
  EXPECT_EQ(file[31], 0);
  EXPECT_EQ(file[32] | file[33] << 8, 1);  // pageCount
  EXPECT_EQ(file[34], 64);
  for (int i = 35; i < 64; ++i) EXPECT_EQ(file[i], 0) << i;
  const std::vector<uint8_t> page(file.begin() + 64, file.end());
  const std::vector<uint8_t> want = {22, 0, 0, 0, pfLineRecords, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0x06, 0x00, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(page.begin(), page.begin() + 24), want);
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + 24, page.end()), kEndOfPageRecord);
}

TEST_F(ConverterTest, TopMarginAndWhiteLinesAtBothWidths) {
  struct Case {
    TFaxWidth width;
    std::vector<uint8_t> blank, white;
    uint16_t flags;
  };
  const Case cases[] = {
      {fwNormal, {0x04, 0x00, 0x00, 0x28, 0x9B, 0x15}, {0x06, 0x00, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}, pfLineRecords},
      {fwWide, {0x05, 0x00, 0x00, 0x08, 0xC8, 0xAC, 0x00}, {0x06, 0x00, 0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00},
       pfLineRecords | pfWide},
  };
  for (const auto& k : cases) {
    TTvFaxConverter c;
    c.SetTopMargin(3);
    c.SetWidth(k.width);
    c.SetResolution(frHigh);
    const auto file = Convert(MonoBitmap(800, 2), c, k.width == fwWide ? "wide" : "normal");
    EXPECT_EQ(file[68], k.flags | pfHighRes);
    const auto rec = Records(file);
    ASSERT_EQ(rec.size(), 6u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rec[i], k.blank);
    EXPECT_EQ(rec[3], k.white);
    EXPECT_EQ(rec[4], k.white);
    EXPECT_EQ(rec[5], kEndOfPageRecord);
  }
}

// The first bits after the 16-bit EOL of a coded-line record, as a string in
// the standard's notation.
std::string BitsAfterEol(const std::vector<uint8_t>& rec, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const int bit = 32 + i;  // count (2 bytes) and EOL (2 bytes) first
    s += ((rec[bit / 8] >> (bit % 8)) & 1) ? '1' : '0';
  }
  return s;
}

std::string CodeString(const t4::T4Code& c) {
  std::string s;
  for (int i = c.length - 1; i >= 0; --i) s += ((c.value >> i) & 1) ? '1' : '0';
  return s;
}

TEST_F(ConverterTest, LeftMarginJoinsTheFirstWhiteRun) {
  MonoBitmap b(1000, 2);
  b.SetPixel(0, 0, true);   // row 0 starts black
  b.SetPixel(10, 1, true);  // row 1 starts with 10 white pixels
  TTvFaxConverter c;
  c.SetOptions(0);  // no centring
  const auto rec = Records(Convert(b, c, "margin"));
  ASSERT_EQ(rec.size(), 3u);
  const std::string white50 = CodeString(t4::kWhiteTerminating[50]);
  const std::string black1 = CodeString(t4::kBlackTerminating[1]);
  EXPECT_EQ(BitsAfterEol(rec[0], 11), white50 + black1);
  const std::string white60 = CodeString(t4::kWhiteTerminating[60]);
  EXPECT_EQ(BitsAfterEol(rec[1], 11), white60 + black1);
}

// Decodes every page of a file into bitmaps with the core (no adaptation).
std::vector<MonoBitmap> DecodePages(const std::string& path) {
  std::unique_ptr<FaxUnpackData> u;
  EXPECT_EQ(CreateFaxUnpacker(u, nullptr, nullptr), 0);
  ClearUnpackerFlags(*u, ufDoubleHeight | ufHalfWidth | ufYield);
  ApfFileHeader h;
  EXPECT_EQ(ReadApfFileHeader(path, h), 0);
  std::vector<MonoBitmap> pages;
  for (int p = 1; p <= h.pageCount; ++p) {
    pages.emplace_back();
    EXPECT_EQ(UnpackPageToBitmap(*u, path, p, pages.back()), 0);
  }
  return pages;
}

TEST_F(ConverterTest, BitmapRowsBecomeCodedLinesThatDecodeBack) {
  MonoBitmap b(1728, 37);
  for (int y = 0; y < 37; ++y)
    for (int x = (y * 7) % 50; x < 1728; x += 3 + y) b.SetPixel(x, y, true);
  b.SetPixel(1727, 5, true);
  TTvFaxConverter c;
  c.SetLeftMargin(0);
  c.SetResolution(frHigh);
  const auto file = Convert(b, c, "roundtrip");
  EXPECT_EQ(Records(file).size(), 37u + 1);
  const auto pages = DecodePages(Path("roundtrip.APF"));
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].Height(), 37);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 1728; ++x) ASSERT_EQ(pages[0].Pixel(x, y), b.Pixel(x, y)) << x << "," << y;
}

TEST_F(ConverterTest, DoubleWidthCentresAndDoublesEveryPixel) {
  MonoBitmap b(400, 4);
  for (int x = 0; x < 400; x += 3) b.SetPixel(x, 1, true);
  b.SetPixel(399, 2, true);
  TTvFaxConverter c;  // coDoubleWidth and coCenterImage by default, normal resolution
  c.SetLeftMargin(0);
  Convert(b, c, "double");
  const auto pages = DecodePages(Path("double.APF"));
  ASSERT_EQ(pages.size(), 1u);
  const int offset = (1728 - 800) / 32 * 8 * 2;  // centring bytes, doubled
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 400; ++x) {
      ASSERT_EQ(pages[0].Pixel(offset + 2 * x, y), b.Pixel(x, y)) << x << "," << y;
      ASSERT_EQ(pages[0].Pixel(offset + 2 * x + 1, y), b.Pixel(x, y)) << x << "," << y;
    }
}

TEST_F(ConverterTest, HalfHeightCodesEveryOtherLine) {
  TTvFaxConverter c;
  c.SetOptions(coHalfHeight);
  EXPECT_EQ(Records(Convert(MonoBitmap(1728, 10), c, "half")).size(), 5u + 1);
}

TEST_F(ConverterTest, UserLinesMakePagesAndCountLines) {
  TTvFaxConverter c;
  c.SetInputDocumentType(idUser);
  c.SetDefUserExtension("USR");
  c.SetLeftMargin(0);
  std::string opened;
  int reads = 0, closes = 0;
  std::vector<std::pair<int, int>> status;
  c.OnOpenUserFile = [&](TTvCustomFaxConverter&, const std::string& f) { opened = f; };
  c.OnCloseUserFile = [&](TTvCustomFaxConverter&) { ++closes; };
  c.OnReadUserLine = [&](TTvCustomFaxConverter&, uint8_t* data, int& len, bool& eop, bool& more) {
    ++reads;
    // Page 1: three lines, page 2: one line.
    if (reads == 4 || reads == 6) {
      eop = true;
      more = reads == 4;
      return;
    }
    data[0] = 0x80;
    len = 216;
  };
  c.OnStatus = [&](TTvCustomFaxConverter&, bool s, bool e, int page, int line, int64_t, int64_t, bool&) {
    if (!s && !e) status.emplace_back(page, line);
  };
  c.SetDocumentFile(Path("doc"));
  c.ConvertToFile();
  EXPECT_EQ(opened, Path("doc.USR"));
  EXPECT_EQ(closes, 1);
  const auto pages = DecodePages(Path("doc.APF"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].Height(), 3);
  EXPECT_EQ(pages[1].Height(), 1);
  EXPECT_TRUE(pages[1].Pixel(0, 0));
  const std::vector<std::pair<int, int>> want = {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 1}, {2, 2}};
  EXPECT_EQ(status, want);
}

TEST_F(ConverterTest, AbortOnTheFirstLineLeavesNoFile) {
  TTvFaxConverter c;
  c.OnStatus = [](TTvCustomFaxConverter&, bool s, bool e, int, int, int64_t, int64_t, bool& abort) {
    if (!s && !e) abort = true;
  };
  c.SetDocumentFile(Path("abort.bmp"));
  EXPECT_THROW(c.ConvertBitmapToFile(MonoBitmap(1728, 5)), EConvertAbort);
  EXPECT_FALSE(fs::exists(Path("abort.APF")));
  EXPECT_EQ(c.InputDocumentType(), idNone);
}

TEST_F(ConverterTest, FailuresRaiseTheirException) {
  TTvFaxConverter c;
  c.SetDocumentFile(Path("missing-folder/x.bmp"));
  EXPECT_THROW(c.ConvertBitmapToFile(MonoBitmap(10, 10)), EInOutError);
  std::unique_ptr<FaxConvertData> user;
  ASSERT_EQ(CreateFaxConverter(user, nullptr, {}, ""), 0);
  EXPECT_EQ(SetConverterBitmap(*user, nullptr), ecBadArgument);  // not a bitmap core
  std::unique_ptr<FaxConvertData> bmp;
  ASSERT_EQ(CreateBitmapConverter(bmp), 0);
  EXPECT_EQ(SetConverterBitmap(*bmp, nullptr), ecBadArgument);
  EXPECT_EQ(ConvertToApfFile(*bmp, Path("nobitmap"), ""), ecBadArgument);
  EXPECT_FALSE(fs::exists(Path("nobitmap.APF")));
}

TEST(ConverterNames, OutputNamesAndProperties) {
  EXPECT_EQ(ApfOutputName("/fax/COVER.BMP", ""), "/fax/COVER.APF");
  EXPECT_EQ(ApfOutputName("/fax/COVER.BMP", "OUT"), "OUT.APF");
  EXPECT_EQ(ApfOutputName("/fax/COVER.BMP", "out.apf"), "out.apf");
  TTvFaxConverter c;
  EXPECT_EQ(c.Options(), 13);
  EXPECT_EQ(c.LeftMargin(), 50u);
  EXPECT_EQ(c.LinesPerPage(), 60u);
  EXPECT_EQ(c.TabStop(), 4u);
  EXPECT_EQ(c.FontFile(), "TVFAX.FNT");
  EXPECT_EQ(c.FontType(), ffStandard);
  c.SetOptions(coYieldOften);
  EXPECT_EQ(c.Options(), coYield | coYieldOften);
  c.SetDocumentFile("/fax/COVER.BMP");
  EXPECT_EQ(c.OutFileName(), "/fax/COVER.APF");
}

TEST(ConverterCore, EndOfPageAndLineLengths) {
  std::unique_ptr<FaxConvertData> cvt;
  ASSERT_EQ(CreateFaxConverter(cvt, nullptr, {}, ""), 0);
  uint8_t eop[kEndOfPageLength];
  EXPECT_EQ(EncodeEndOfPage(*cvt, eop), 12);
  EXPECT_EQ(std::vector<uint8_t>(eop, eop + 12),
            std::vector<uint8_t>(kEndOfPageRecord.begin() + 2, kEndOfPageRecord.end()));
  // Worst case: alternating pixels across a 2048-pixel line stay far below
  // the 4096 bytes of a record.
  SetConverterWidth(*cvt, 2);
  SetConverterMargins(*cvt, 0, 0);
  std::vector<uint8_t> line(kRasterBufferSize, 0x55);
  const int n = EncodeFaxLine(*cvt, line.data());
  EXPECT_LT(n, 1300);
  EXPECT_EQ(n, cvt->bytePos);
  // Lines that end exactly on a byte boundary get two zero bytes.
  std::fill(line.begin(), line.end(), 0);
  SetConverterWidth(*cvt, 1);
  EXPECT_EQ(EncodeFaxLine(*cvt, line.data()), 6);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(ConverterTest, ComponentConvertsTextFilesWithItsTextSettings) {
  {
    std::ofstream txt(Path("letter.txt"));
    for (int i = 1; i <= 5; ++i) txt << "Line " << i << "\r\n";
  }
  TTvFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetLinesPerPage(2);
  c.SetResolution(frHigh);
  c.SetDocumentFile(Path("letter.txt"));
  c.ConvertToFile();
  const auto pages = DecodePages(Path("letter.APF"));
  ASSERT_EQ(pages.size(), 3u);  // 2 + 2 + 1 lines
  // Standard font at fine resolution: 32 scan lines per text line.
  EXPECT_EQ(pages[0].Height(), 64);
  EXPECT_EQ(pages[2].Height(), 32);
  c.SetInputDocumentType(idNone);
  EXPECT_THROW(c.ConvertToFile(), EBadArgument);
}

}  // namespace
}  // namespace tv
