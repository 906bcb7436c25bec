// The unpacker: adaptation of normal pages, trimming, blank-line
// compression, stretching, raw pages and the component's errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/bitmap/mono_bitmap.h"
#include "images/convert/bitmap_input.h"
#include "images/convert/fax_converter.h"
#include "images/unpack/fax_unpacker.h"
#include "images/unpack/tv_fax_unpacker.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class UnpackerTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(TELVANE_BUILD_DIR) / "tmp-images-unpack" /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Codes a bitmap as one page (left margin 0, no centring).
  std::string Page(const MonoBitmap& b, bool fine, const std::string& name = "page.apf") {
    std::unique_ptr<FaxConvertData> cvt;
    EXPECT_EQ(CreateBitmapConverter(cvt), 0);
    ClearConverterOptions(*cvt, 0xFFFF);
    SetConverterMargins(*cvt, 0, 0);
    SetConverterResolution(*cvt, fine);
    EXPECT_EQ(SetConverterBitmap(*cvt, &b), 0);
    EXPECT_EQ(ConvertToApfFile(*cvt, "", Path(name)), 0);
    return Path(name);
  }

  // A page with black marks on the given rows (pixel 0 and pixel `x`).
  static MonoBitmap Marked(int height, const std::vector<int>& rows, int x = 0) {
    MonoBitmap b(1728, height);
    for (int y : rows) {
      b.SetPixel(0, y, true);
      b.SetPixel(x, y, true);
    }
    return b;
  }

  fs::path dir_;
};

TEST_F(UnpackerTest, NormalPagesAreAdaptedToSquarePixels) {
  MonoBitmap b(1728, 1100);
  for (int y = 0; y < 1100; ++y) b.SetPixel((y * 13) % 1728, y, true);
  b.SetPixel(1727, 0, true);
  b.SetPixel(1726, 1, true);
  const std::string path = Page(b, false);
  TTvFaxUnpacker u;
  u.SetInFileName(path);
  EXPECT_EQ(u.AutoScaleMode(), asDoubleHeight);
  const MonoBitmap tall = u.UnpackPageToBitmap(1);
  ASSERT_EQ(tall.Height(), 2200);
  EXPECT_EQ(tall.Width(), 1728);
  for (int y = 0; y < 1100; ++y) {
    ASSERT_TRUE(tall.Pixel((y * 13) % 1728, 2 * y));
    ASSERT_TRUE(tall.Pixel((y * 13) % 1728, 2 * y + 1));
  }
  u.SetAutoScaleMode(asHalfWidth);
  const MonoBitmap narrow = u.UnpackPageToBitmap(1);
  EXPECT_EQ(narrow.Height(), 1100);
  EXPECT_EQ(narrow.Width(), 864);
  // Pixels 1726 and 1727 share output pixel 863; black wins.
  EXPECT_TRUE(narrow.Pixel(863, 0));
  EXPECT_TRUE(narrow.Pixel(863, 1));
  EXPECT_FALSE(narrow.Pixel(862, 0));
  u.SetAutoScaleMode(asNone);
  EXPECT_EQ(u.UnpackPageToBitmap(1).Height(), 1100);
  // Fine pages are never adapted.
  TTvFaxUnpacker f;
  f.SetInFileName(Page(b, true, "fine.apf"));
  EXPECT_EQ(f.UnpackPageToBitmap(1).Height(), 1100);
  EXPECT_EQ(f.FirstPageResolution(), frHigh);
  EXPECT_EQ(f.FirstPageWidth(), fwNormal);
}

TEST_F(UnpackerTest, BitmapIsTrimmedToItsUsedEvenWidth) {
  struct Case {
    int rightmost;  // pixel
    int width;      // expected bitmap width
  };
  const Case cases[] = {{100 * 8 + 3, 816}, {101 * 8, 816}, {0, 16}, {1727, 1728}};
  for (const auto& c : cases) {
    TTvFaxUnpacker u;
    u.SetInFileName(Page(Marked(5, {2}, c.rightmost), true));
    const MonoBitmap b = u.UnpackPageToBitmap(1);
    EXPECT_EQ(b.Width(), c.width) << c.rightmost;
    EXPECT_EQ(b.Height(), 5);
    EXPECT_TRUE(b.Pixel(c.rightmost, 2));
  }
  TTvFaxUnpacker white;
  white.SetInFileName(Page(MonoBitmap(1728, 40), true));
  const MonoBitmap none = white.UnpackPageToBitmap(1);
  EXPECT_EQ(none.Width(), 0);
  EXPECT_EQ(none.Height(), 0);
}

TEST_F(UnpackerTest, BlankLineCompression) {
  struct Case {
    int from, to;
    std::vector<int> marks;  // rows with black
    int height;
    int rows;  // rows of the result
  };
  const Case cases[] = {
      {5, 2, {0, 5, 15}, 16, 3 + 4 + 2},   // 4 blank lines stay 4, 9 become 2
      {5, 2, {0}, 10, 1 + 2},              // 9 blank lines at the end become 2
      {3, 3, {0, 4}, 9, 2 + 3},            // trailing blank lines disappear
      {3, 3, {0, 2}, 4, 2 + 1},            // ...also a short run at the end
  };
  for (const auto& c : cases) {
    TTvFaxUnpacker u;
    u.SetInFileName(Page(Marked(c.height, c.marks), true));
    u.SetWhitespaceCompression(true);
    u.SetWhitespaceFrom(c.from);
    u.SetWhitespaceTo(c.to);
    EXPECT_EQ(u.UnpackPageToBitmap(1).Height(), c.rows) << c.from << "/" << c.to << " " << c.height;
  }
  std::unique_ptr<FaxUnpackData> core;
  ASSERT_EQ(CreateFaxUnpacker(core, nullptr, nullptr), 0);
  EXPECT_EQ(SetWhitespace(*core, 2, 5), ecBadArgument);
  EXPECT_EQ(SetWhitespace(*core, 0, 1), ecBadArgument);
  EXPECT_EQ(SetWhitespace(*core, 0, 0), 0);
  TTvFaxUnpacker bad;
  bad.SetInFileName(Page(Marked(3, {0}), true));
  bad.SetWhitespaceCompression(true);
  bad.SetWhitespaceFrom(1);
  bad.SetWhitespaceTo(2);
  EXPECT_THROW(bad.UnpackPageToBitmap(1), EBadArgument);
}

TEST_F(UnpackerTest, ScalingStretchesWithBlackWinning) {
  MonoBitmap b(1728, 100);
  b.SetPixel(1, 1, true);  // merges with pixels 0, (0..1, 0..1)
  b.SetPixel(1727, 99, true);
  TTvFaxUnpacker u;
  u.SetInFileName(Page(b, true));
  u.SetHorizDiv(2);
  u.SetVertDiv(2);
  u.SetHorizMult(0);  // ignored
  EXPECT_EQ(u.HorizMult(), 1u);
  EXPECT_EQ(u.UnpackPageToBitmap(1).Width(), 1728);  // Scaling off
  u.SetScaling(true);
  const MonoBitmap half = u.UnpackPageToBitmap(1);
  EXPECT_EQ(half.Width(), 864);
  EXPECT_EQ(half.Height(), 50);
  EXPECT_TRUE(half.Pixel(0, 0));
  EXPECT_TRUE(half.Pixel(863, 49));
  const MonoBitmap up = StretchBitmap(half, 1728 * 3, 150);
  EXPECT_TRUE(up.Pixel(2, 2));
  EXPECT_FALSE(up.Pixel(3, 3));
}

TEST_F(UnpackerTest, PagesAndFileErrors) {
  const std::string two = Path("two.apf");
  {
    ApfWriter w;
    ASSERT_EQ(w.Create(two), 0);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(w.BeginPage(pfLineRecords), 0);
      const uint8_t eop[] = {0x0C, 0x00, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
      ASSERT_EQ(w.Write(eop, sizeof eop), 0);
      ASSERT_EQ(w.EndPage(), 0);
    }
    ASSERT_EQ(w.Finish(""), 0);
  }
  TTvFaxUnpacker u;
  u.SetInFileName(two);
  EXPECT_EQ(u.OutFileName(), Path("two"));
  EXPECT_EQ(u.NumberOfPages(), 2);
  EXPECT_TRUE(u.UnpackPageToBitmap(2).Empty());
  try {
    u.UnpackPageToBitmap(3);
    ADD_FAILURE() << "page 3 of 2 was unpacked";
  } catch (const EFaxBadFormat& e) {
    EXPECT_EQ(e.ErrorCode(), ecBadFaxFormat);
  }
  u.SetInFileName(Path("missing.apf"));
  EXPECT_EQ(u.NumberOfPages(), 0);
  EXPECT_THROW(u.FirstPageResolution(), EInOutError);
  u.SetInFileName("");
  EXPECT_THROW(u.UnpackPageToBitmap(1), EInOutError);
}

// Raw page data (as received) wrapped in an APF file.
std::string RawPage(const std::string& path, const std::vector<uint8_t>& data, uint32_t claimed) {
  std::vector<uint8_t> file(64 + 16, 0);
  ApfFileHeader h = NewApfFileHeader();
  h.pageCount = 1;
  PackApfFileHeader(h, file.data());
  PackApfPageHeader({claimed, pfHighRes}, file.data() + 64);
  file.insert(file.end(), data.begin(), data.end());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  return path;
}

TEST_F(UnpackerTest, RawPagesEndWithTheirDataOrReportTheShortfall) {
  // Two white lines: byte-aligned EOL, makeup 1728 and white 0.
  const std::vector<uint8_t> line = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  std::vector<uint8_t> data;
  for (int i = 0; i < 2; ++i) data.insert(data.end(), line.begin(), line.end());
  data.push_back(0x00);
  data.push_back(0x80);  // an EOL closes the second line, then the data ends
  std::vector<int> lengths;
  std::unique_ptr<FaxUnpackData> u;
  ASSERT_EQ(CreateFaxUnpacker(u, nullptr, [&](FaxUnpackData&, unsigned what, const uint8_t*, int len, int) {
              if (what == ulData) lengths.push_back(len);
              return 0;
            }),
            0);
  // The page's data ends without an end-of-page mark: decoding stops there.
  const std::string exact = RawPage(Path("exact.apf"), data, static_cast<uint32_t>(data.size()));
  EXPECT_EQ(DecodeFaxPage(*u, exact, 1), 0);
  EXPECT_EQ(lengths, (std::vector<int>{216, 216}));
  // The file ends before the page's data does.
  const std::string cut = RawPage(Path("cut.apf"), data, static_cast<uint32_t>(data.size() + 100));
  EXPECT_EQ(DecodeFaxPage(*u, cut, 1), ecBadFaxFormat);
  // Bytes beyond dataLength (here: garbage) are never decoded.
  std::vector<uint8_t> more = data;
  for (int i = 0; i < 3; ++i) more.insert(more.end(), line.begin(), line.end());
  lengths.clear();
  EXPECT_EQ(DecodeFaxPage(*u, RawPage(Path("more.apf"), more, static_cast<uint32_t>(data.size())), 1), 0);
  EXPECT_EQ(lengths.size(), 2u);
}

TEST_F(UnpackerTest, AbortEndsThePageWithoutError) {
  TTvFaxUnpacker u;
  u.SetInFileName(Page(Marked(50, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), true));
  int calls = 0;
  u.OnStatus = [&](TTvCustomFaxUnpacker& s, const std::string&, int, int64_t done, int64_t total) {
    EXPECT_LE(done, total);
    if (++calls == 3) s.SetOptions(uoYield | uoAbort);
  };
  // Progress comes after each line record; a line is complete at the EOL
  // that opens the next record, so three records hold two finished lines.
  const MonoBitmap b = u.UnpackPageToBitmap(1);
  EXPECT_EQ(b.Height(), 2);
}

TEST(UnpackerFlags, DoubleHeightAndHalfWidthExcludeEachOther) {
  std::unique_ptr<FaxUnpackData> u;
  ASSERT_EQ(CreateFaxUnpacker(u, nullptr, nullptr), 0);
  EXPECT_EQ(u->flags, 3);
  SetUnpackerFlags(*u, ufHalfWidth);
  EXPECT_EQ(u->flags, ufYield | ufHalfWidth);
  SetUnpackerFlags(*u, ufDoubleHeight | ufHalfWidth);
  EXPECT_EQ(u->flags, ufYield | ufHalfWidth);
  SetUnpackerFlags(*u, ufDoubleHeight);
  EXPECT_EQ(u->flags, ufYield | ufDoubleHeight);
}

}  // namespace
}  // namespace tv
