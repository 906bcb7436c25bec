#include <gtest/gtest.h>

#include <algorithm>

#include "images/graphics/graphics_input.h"
#include "platform/core/error_codes.h"
#include "tests/images/graphics/graphics_fixture.h"

namespace tv::testing {
namespace {

struct PcxHeader {
  uint8_t manufacturer = 10, version = 5, encoding = 1, bits = 1;
  int16_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  uint8_t planes = 1;
  uint16_t bytesPerLine = 0;
};

std::vector<uint8_t> Header(const PcxHeader& h) {
  std::vector<uint8_t> b(128, 0);
  b[0] = h.manufacturer;
  b[1] = h.version;
  b[2] = h.encoding;
  b[3] = h.bits;
  auto put = [&b](size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put(4, static_cast<uint16_t>(h.xmin));
  put(6, static_cast<uint16_t>(h.ymin));
  put(8, static_cast<uint16_t>(h.xmax));
  put(10, static_cast<uint16_t>(h.ymax));
  b[65] = h.planes;
  put(66, h.bytesPerLine);
  return b;
}

// PCX run-length coding of one line of stored bytes (1 = white).
void Encode(std::vector<uint8_t>& out, const std::vector<uint8_t>& line) {
  for (size_t i = 0; i < line.size();) {
    size_t j = i;
    while (j < line.size() && line[j] == line[i] && j - i < 63) ++j;
    if (j - i > 1 || line[i] >= 0xC0) {
      out.push_back(static_cast<uint8_t>(0xC0 | (j - i)));
    }
    out.push_back(line[i]);
    i = j;
  }
}

// A PCX file of the image; bytes per line rounded up to an even count.
std::vector<uint8_t> Pcx(const Image& im) {
  PcxHeader h;
  h.xmax = static_cast<int16_t>(im.width - 1);
  h.ymax = static_cast<int16_t>(im.height - 1);
  h.bytesPerLine = static_cast<uint16_t>((im.Bpr() + 1) & ~1);
  std::vector<uint8_t> b = Header(h);
  for (const auto& row : im.rows) {
    std::vector<uint8_t> stored(h.bytesPerLine, 0xFF);
    for (int i = 0; i < im.Bpr(); ++i) stored[i] = static_cast<uint8_t>(~row[i]);
    // Pixels beyond the width in the last byte are stored white.
    if (im.width % 8) stored[im.Bpr() - 1] |= static_cast<uint8_t>(0xFF >> (im.width % 8));
    Encode(b, stored);
  }
  return b;
}

class PcxTest : public GraphicsTest {};

TEST_F(PcxTest, ReadsImagesOfEveryWidth) {
  for (int width : {1, 8, 203, 1000, 1728}) {
    SCOPED_TRACE(width);
    const Image im = Pattern(width, 17, width);
    auto cvt = Core(CreatePcxConverter);
    const auto file = Pcx(im);
    ExpectImage(ReadPages(*cvt, Write("a.pcx", file)), im);
    EXPECT_EQ(cvt->bytesTotal, static_cast<int64_t>(file.size()) - 128);
    EXPECT_EQ(cvt->bytesRead, cvt->bytesTotal);
  }
}

TEST_F(PcxTest, UnreadableHeadersAreRejected) {
  PcxHeader good;
  good.xmax = 15;
  good.ymax = 0;
  good.bytesPerLine = 2;
  auto with = [&good](auto change) {
    PcxHeader h = good;
    change(h);
    std::vector<uint8_t> b = Header(h);
    b.insert(b.end(), {0x00, 0x00});
    return b;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  } cases[] = {
      {"manufacturer", with([](PcxHeader& h) { h.manufacturer = 11; })},
      {"encoding", with([](PcxHeader& h) { h.encoding = 0; })},
      {"8 bits per pixel", with([](PcxHeader& h) { h.bits = 8; })},
      {"Xmin 0, Xmax 1799", with([](PcxHeader& h) { h.xmax = 1799; })},
      {"Xmax below Xmin", with([](PcxHeader& h) { h.xmin = 20; })},
      {"four colour planes", with([](PcxHeader& h) { h.planes = 4; })},
      {"no bytes per line", with([](PcxHeader& h) { h.bytesPerLine = 0; })},
      {"header cut short", std::vector<uint8_t>(100, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cvt = Core(CreatePcxConverter);
    EXPECT_EQ(ReadPages(*cvt, Write("bad.pcx", c.file)).rc, ecBadGraphicsFormat);
  }
  // Xmax - Xmin equal to the line width is still accepted.
  auto cvt = Core(CreatePcxConverter);
  EXPECT_EQ(ReadPages(*cvt, Write("edge.pcx", with([](PcxHeader& h) {
                                    h.xmax = 1728;
                                    h.bytesPerLine = 2;
                                  }))).rc,
            0);
}

// A run reaching past the end of its line is cut there and does not spill
// into the next line; data ending within a line leaves it white; lines
// beyond the header's height are not read.
TEST_F(PcxTest, RunsAndDataStayWithinTheirLines) {
  PcxHeader h;
  h.xmax = 15;
  h.ymax = 2;  // three lines
  h.bytesPerLine = 2;
  std::vector<uint8_t> b = Header(h);
  b.insert(b.end(), {0xC5, 0x0F});              // line 1: five bytes claimed, two kept
  b.insert(b.end(), {0x00, 0xC1, 0xFF});        // line 2: a literal and a run of one
  b.insert(b.end(), {0x0F, 0x3C, 0x00, 0x00});  // line 3, then a stray line
  auto cvt = Core(CreatePcxConverter);
  ReadResult r = ReadPages(*cvt, Write("runs.pcx", b));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.Lines(0), 3u);
  EXPECT_EQ(r.pages[0][0], Placed({0xF0, 0xF0}, 0));
  EXPECT_EQ(r.pages[0][1], Placed({0xFF, 0x00}, 0));
  EXPECT_EQ(r.pages[0][2], Placed({0xF0, 0xC3}, 0));

  b.resize(128 + 3);  // the second line has one byte of two
  r = ReadPages(*cvt, Write("cut.pcx", b));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.Lines(0), 2u);
  EXPECT_EQ(r.pages[0][1], Placed({0xFF, 0x00}, 0));
}

// A DCX file: the signature, page offsets in any order, then the pages.
std::vector<uint8_t> Dcx(const std::vector<std::vector<uint8_t>>& pages,
                         const std::vector<int>& tableOrder) {
  std::vector<uint8_t> b;
  Put32(b, 987654321);
  uint32_t at = 4 + 4 * (static_cast<uint32_t>(pages.size()) + 1);
  std::vector<uint32_t> offsets;
  for (const auto& p : pages) {
    offsets.push_back(at);
    at += static_cast<uint32_t>(p.size());
  }
  for (int i : tableOrder) Put32(b, offsets[i]);
  Put32(b, 0);
  for (const auto& p : pages) b.insert(b.end(), p.begin(), p.end());
  return b;
}

TEST_F(PcxTest, DcxPagesComeInOffsetOrder) {
  const Image a = Pattern(100, 5, 1), b = Pattern(300, 9, 2), c = Pattern(40, 3, 3);
  auto cvt = Core(CreateDcxConverter);
  const auto file = Dcx({Pcx(a), Pcx(b), Pcx(c)}, {2, 0, 1});
  const ReadResult r = ReadPages(*cvt, Write("three.dcx", file));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.pages.size(), 3u);
  const Image* want[] = {&a, &b, &c};
  for (size_t p = 0; p < 3; ++p) {
    ASSERT_EQ(r.Lines(p), static_cast<size_t>(want[p]->height));
    for (int y = 0; y < want[p]->height; ++y) {
      EXPECT_EQ(r.pages[p][y], Placed(want[p]->rows[y], 0)) << "page " << p + 1 << " row " << y;
    }
  }
  EXPECT_EQ(cvt->bytesTotal, static_cast<int64_t>(file.size()) - 20 - 3 * 128);
}

TEST_F(PcxTest, DamagedDcxFilesAreRejected) {
  const auto page = Pcx(Pattern(16, 2));
  std::vector<uint8_t> badSignature = Dcx({page}, {0});
  badSignature[0] ^= 1;
  std::vector<uint8_t> outside = Dcx({page}, {0});
  outside[4] = 0xF0;  // first offset far beyond the file
  std::vector<uint8_t> empty;
  Put32(empty, 987654321);
  Put32(empty, 0);
  std::vector<uint8_t> twice = Dcx({page, page}, {0, 0});  // two pages on one offset
  std::vector<uint8_t> badPage = Dcx({page, std::vector<uint8_t>(130, 0)}, {0, 1});
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  } cases[] = {
      {"signature", badSignature}, {"offset outside the file", outside},
      {"no pages", empty},         {"the same offset twice", twice},
      {"second page not PCX", badPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cvt = Core(CreateDcxConverter);
    const ReadResult r = ReadPages(*cvt, Write("bad.dcx", c.file));
    EXPECT_EQ(r.rc, ecBadGraphicsFormat);
  }
}

// A table with more than 1024 offsets keeps the first 1024 pages.
TEST_F(PcxTest, DcxTableHoldsAtMost1024Pages) {
  const auto page = Pcx(Pattern(8, 1));
  std::vector<std::vector<uint8_t>> pages(1030, page);
  std::vector<int> order;
  for (int i = 0; i < 1030; ++i) order.push_back(i);
  auto file = Dcx(pages, order);
  auto cvt = Core(CreateDcxConverter);
  const ReadResult r = ReadPages(*cvt, Write("many.dcx", file));
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.pages.size(), 1024u);
}

}  // namespace
}  // namespace tv::testing
