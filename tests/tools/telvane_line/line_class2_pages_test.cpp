// The page and parameter translation of the Class 2 / 2.0 modems: DIS and DCS
// frames read as "vr,br,wd,ln,df,ec,bf,st", station ids, and pages coded in
// either bit order that decode back to the rows they came from.
#include "tools/telvane-line/line_class2_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tools/telvane-line/line_far_end.h"

namespace tv::line {
namespace {

struct FrameCase {
  const char* name;
  std::vector<uint8_t> frame;
  bool dcs;
  const char* params;
};

class FrameParamsTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameParamsTest, ReadsTheSessionValues) {
  const FrameCase& c = GetParam();
  EXPECT_EQ(FormatParams(ParamsFromFrame(c.frame.data(), static_cast<int>(c.frame.size()), c.dcs)),
            c.params);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameParamsTest,
    ::testing::Values(
        // The DIS of spandsp's answering fax machine: V.17, fine, 2D, 1728
        // pixels, unlimited length, 0 ms scan time.
        FrameCase{"SpandspDis", {0xFF, 0x13, 0x80, 0x00, 0xEE, 0xF8, 0x80, 0x80, 0x91}, false,
                  "1,5,0,2,1,0,0,0"},
        // V.29 and V.27 ter only, normal resolution, A4 and B4, 20 ms, ECM.
        FrameCase{"SlowDisWithEcm", {0xFF, 0x13, 0x80, 0x00, 0x0E, 0x04, 0x04}, false,
                  "0,3,0,1,0,1,0,4"},
        // DCS at 14400 bit/s (V.17), fine, 1D, 2048 pixels, 10 ms.
        FrameCase{"DcsV17Fine", {0xFF, 0x13, 0x83, 0x00, 0x62, 0x21}, true, "1,5,1,0,0,0,0,2"},
        // DCS at 7200 bit/s on V.29, normal.
        FrameCase{"DcsV29At7200", {0xFF, 0x13, 0x83, 0x00, 0x0E, 0x00}, true, "0,2,0,0,0,0,0,4"},
        // DCS at 4800 bit/s on V.27 ter: the short frame leaves the rest 0.
        FrameCase{"DcsV27At4800", {0xFF, 0x13, 0x83, 0x00, 0x0A}, true, "0,1,0,0,0,0,0,4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassTwoParamsTest, ParsesListsAndKeepsMissingValues) {
  TTvFaxParams p;
  ASSERT_TRUE(ParseParams("1,5,0,2,0,0,0,0", &p));
  EXPECT_EQ(FormatParams(p), "1,5,0,2,0,0,0,0");
  ASSERT_TRUE(ParseParams("0,3", &p));  // efax sends only the first values
  EXPECT_EQ(FormatParams(p), "0,3,0,2,0,0,0,0");
  ASSERT_TRUE(ParseParams(",,1", &p));
  EXPECT_EQ(p.wd, 1);
  EXPECT_FALSE(ParseParams("1,x", &p));
  EXPECT_FALSE(ParseParams("1,2,3,4,5,6,7,8,9", &p));
  EXPECT_FALSE(ParseParams("1,99999999999999999999", &p)) << "a number too long for an int";
  EXPECT_EQ(FormatParams(p), "0,3,1,2,0,0,0,0") << "a bad list changes nothing";
}

TEST(ClassTwoIdentTest, ReversesAndTrimsTheDigits) {
  // "+1 555 0100" as a TSI sends it: 20 characters, last one first.
  std::vector<uint8_t> frame = {0xFF, 0x03, 0x43};
  const std::string id = "+1 555 0100";
  std::string padded = id + std::string(20 - id.size(), ' ');
  for (auto it = padded.rbegin(); it != padded.rend(); ++it) frame.push_back(static_cast<uint8_t>(*it));
  EXPECT_EQ(IdentFromFrame(frame.data(), static_cast<int>(frame.size())), id);
  const std::vector<uint8_t> blank = {0xFF, 0x03, 0x43, ' ', ' '};
  EXPECT_EQ(IdentFromFrame(blank.data(), static_cast<int>(blank.size())), "");
}

class ClassTwoPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/telvane-line-pages-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    page_.width = 1728;
    page_.fine = true;
    for (int r = 0; r < 120; ++r) {
      std::vector<uint8_t> row(216, 0);
      for (int x = (r * 13) % 1600; x < (r * 13) % 1600 + 1 + r % 90; ++x) {
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      row[215] = static_cast<uint8_t>(r);  // black pixels up to the right edge
      page_.rows.push_back(row);
    }
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
  TTvPageRows page_;
};

// A page coded in stream order decodes to its own rows; the Class 2 order is
// the same stream with each byte's bits reversed; RTC ends it and the EOL
// count finds each row.
TEST_F(ClassTwoPageTest, CodedPageDecodesToItsRowsInBothBitOrders) {
  const std::vector<uint8_t> stream = EncodePage(page_, true, true, dir_ + "/scratch.tif");
  const std::vector<uint8_t> reversed = EncodePage(page_, false, true, dir_ + "/scratch.tif");
  ASSERT_EQ(stream.size(), reversed.size());
  for (size_t i = 0; i < stream.size(); ++i) {
    uint8_t r = 0;
    for (int b = 0; b < 8; ++b) r = static_cast<uint8_t>(r | ((stream[i] >> b & 1) << (7 - b)));
    ASSERT_EQ(reversed[i], r) << "byte " << i;
  }
  EXPECT_EQ(CountCodedRows(stream, true), 120);
  EXPECT_EQ(CountCodedRows(reversed, false), 120);

  TTvPageRows back;
  std::string error;
  ASSERT_TRUE(DecodeStreamPage(stream, 1728, true, dir_ + "/scratch.tif", &back, &error)) << error;
  EXPECT_EQ(back.rows, page_.rows);
  EXPECT_TRUE(back.fine);
}

// The modem codes a page in parts while it arrives: the parts joined are one
// page (each part's last byte filled with zeros before the next EOL).
TEST_F(ClassTwoPageTest, PartsCodedOneAfterAnotherJoinIntoThePage) {
  for (bool lsbFirst : {true, false}) {
    TTvPageRows first = page_, rest = page_;
    first.rows.resize(37);
    rest.rows.erase(rest.rows.begin(), rest.rows.begin() + 37);
    std::vector<uint8_t> stream = EncodePage(first, lsbFirst, false, dir_ + "/scratch.tif");
    const std::vector<uint8_t> tail = EncodePage(rest, lsbFirst, true, dir_ + "/scratch.tif");
    stream.insert(stream.end(), tail.begin(), tail.end());
    if (!lsbFirst) {
      for (uint8_t& b : stream) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i & 1) << (7 - i)));
        b = r;
      }
    }
    TTvPageRows back;
    std::string error;
    ASSERT_TRUE(DecodeStreamPage(stream, 1728, true, dir_ + "/scratch.tif", &back, &error)) << error;
    EXPECT_EQ(back.rows, page_.rows) << (lsbFirst ? "stream order" : "reversed");
  }
  TTvPageRows none = page_;
  none.rows.clear();
  EXPECT_EQ(EncodePage(none, true, true, dir_ + "/scratch.tif").size(), 9u) << "RTC alone";
}

// Damage in the middle of a page spoils the rows it hits (an EOL it wipes out
// merges two rows), as on a real line: the rows before it and, from the next
// EOL on, the rows after it survive. Data without any row is refused.
TEST_F(ClassTwoPageTest, DamagedStreamKeepsTheRowsAroundTheDamage) {
  std::vector<uint8_t> stream = EncodePage(page_, true, true, dir_ + "/scratch.tif");
  const size_t middle = stream.size() / 2;
  for (size_t i = middle; i < middle + 8; ++i) stream[i] = 0xFF;
  TTvPageRows back;
  std::string error;
  ASSERT_TRUE(DecodeStreamPage(stream, 1728, false, dir_ + "/scratch.tif", &back, &error)) << error;
  ASSERT_GE(back.rows.size(), 115u);
  ASSERT_LE(back.rows.size(), 120u);
  for (size_t r = 0; r < 40; ++r) EXPECT_EQ(back.rows[r], page_.rows[r]) << r;
  const size_t lost = 120 - back.rows.size();
  for (size_t r = 90; r < back.rows.size(); ++r) EXPECT_EQ(back.rows[r], page_.rows[r + lost]) << r;

  const std::vector<uint8_t> noise(400, 0x55);
  EXPECT_FALSE(DecodeStreamPage(noise, 1728, false, dir_ + "/scratch.tif", &back, &error));
  EXPECT_FALSE(error.empty());
}

// The document file the modem's T.30 sends from: pages in order, each with
// its resolution, read back page by page.
TEST_F(ClassTwoPageTest, DocumentPagesReadBackInOrder) {
  TTvPageRows second = page_;
  second.fine = false;
  second.rows.resize(30);
  ASSERT_TRUE(WriteTiffPages(dir_ + "/doc.tif", {&page_, &second}));
  TTvPageRows got;
  ASSERT_TRUE(ReadTiffPage(dir_ + "/doc.tif", 0, &got));
  EXPECT_EQ(got.rows, page_.rows);
  EXPECT_TRUE(got.fine);
  ASSERT_TRUE(ReadTiffPage(dir_ + "/doc.tif", 1, &got));
  EXPECT_EQ(got.rows, second.rows);
  EXPECT_FALSE(got.fine);
  EXPECT_FALSE(ReadTiffPage(dir_ + "/doc.tif", 2, &got));
  std::string error;
  EXPECT_EQ(CheckFaxTiff(dir_ + "/doc.tif", &error), 2) << error;
}

}  // namespace
}  // namespace tv::line
