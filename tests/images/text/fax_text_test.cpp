#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/text/fax_text.h"
#include "images/unpack/fax_unpacker.h"
#include "platform/core/error_codes.h"
#include "tests/images/graphics/read_pages.h"

namespace tv {
namespace {

using testing::ReadPages;
using testing::ReadResult;

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("fax_text_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ASSERT_EQ(CreateTextConverter(cvt_), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& content, const std::string& name = "in.txt") {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  void Load(int height, bool fine) {
    cvt_->highRes = fine;
    ASSERT_EQ(LoadFaxFont(*cvt_, "TVFAX.FNT", height, fine), 0);
  }

  // The scan lines a text line should give.
  std::vector<std::vector<uint8_t>> Rows(const std::string& text) {
    std::vector<std::vector<uint8_t>> rows;
    const FaxTextData& t = *TextDataOf(*cvt_);
    for (int r = 1; r <= t.metrics.rows; ++r) {
      std::vector<uint8_t> line(256, 0);
      RenderTextRow(*cvt_, text, r, line.data(), line.size());
      rows.push_back(line);
    }
    return rows;
  }

  // Whether the scan lines of page p starting at text line n show text.
  bool Shows(const ReadResult& res, size_t page, size_t textLine, const std::string& text) {
    const auto expected = Rows(text);
    const size_t first = textLine * expected.size();
    if (page >= res.pages.size() || res.pages[page].size() < first + expected.size()) return false;
    for (size_t i = 0; i < expected.size(); ++i) {
      if (res.pages[page][first + i] != expected[i]) return false;
    }
    return true;
  }

  std::filesystem::path dir_;
  std::unique_ptr<FaxConvertData> cvt_;
};

TEST_F(TextTest, FontMetricsForEachSizeAndResolution) {
  struct Case {
    int height;
    bool fine;
    FaxFontMetrics m;
  } cases[] = {
      {16, false, {16, 12, 2, 8}},
      {16, true, {32, 12, 2, 16}},
      {48, false, {48, 20, 3, 16}},
      {48, true, {96, 20, 3, 32}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.height << (c.fine ? " fine" : " normal"));
    std::unique_ptr<FaxConvertData> cvt;
    ASSERT_EQ(CreateTextConverter(cvt), 0);
    ASSERT_EQ(LoadFaxFont(*cvt, "ignored.fnt", c.height, c.fine), 0);
    const FaxTextData& t = *TextDataOf(*cvt);
    EXPECT_TRUE(t.fontLoaded);
    EXPECT_EQ(t.metrics.bytesPerGlyph, c.m.bytesPerGlyph);
    EXPECT_EQ(t.metrics.cellWidth, c.m.cellWidth);
    EXPECT_EQ(t.metrics.bytesPerRow, c.m.bytesPerRow);
    EXPECT_EQ(t.metrics.rows, c.m.rows);
    // Every glyph as in the resource, each row twice at fine resolution.
    const size_t base = c.height == 48 ? kStandardFontOffset : kSmallFontOffset;
    const int srcRows = c.fine ? c.m.rows / 2 : c.m.rows;
    const int bpr = c.m.bytesPerRow;
    for (int g = 0; g < 256; ++g) {
      for (int r = 0; r < c.m.rows; ++r) {
        const uint8_t* got = t.glyphs.get() + g * c.m.bytesPerGlyph + r * bpr;
        const uint8_t* want =
            kFaxFontResource + base + g * srcRows * bpr + (c.fine ? r / 2 : r) * bpr;
        ASSERT_EQ(std::memcmp(got, want, bpr), 0) << "glyph " << g << " row " << r;
      }
    }
  }
}

TEST_F(TextTest, LoadFaxFontNeedsATextConverter) {
  std::unique_ptr<FaxConvertData> other;
  ASSERT_EQ(CreateFaxConverter(other, nullptr, FaxInputKind{}, "XYZ"), 0);
  EXPECT_EQ(LoadFaxFont(*other, "", 48, false), ecBadArgument);
}

// Each character lands at i x cell width, OR-ed into what is there, with
// no bit outside the line.
TEST_F(TextTest, RenderTextRowPlacesGlyphsAtCellPositions) {
  for (int height : {16, 48}) {
    Load(height, false);
    const FaxTextData& t = *TextDataOf(*cvt_);
    const int cell = t.metrics.cellWidth;
    const std::string text = "AgQ";
    for (int r = 1; r <= t.metrics.rows; ++r) {
      uint8_t line[16];
      std::memset(line, 0, sizeof line);
      line[15] = 0x01;  // a pixel already black stays black
      RenderTextRow(*cvt_, text, r, line, sizeof line);
      for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* g = t.glyphs.get() + static_cast<unsigned char>(text[i]) *
                                                t.metrics.bytesPerGlyph +
                           (r - 1) * t.metrics.bytesPerRow;
        for (int x = 0; x < cell; ++x) {
          const bool want = (g[x / 8] >> (7 - x % 8)) & 1;
          const size_t px = i * cell + x;
          const bool got = (line[px / 8] >> (7 - px % 8)) & 1;
          ASSERT_EQ(got, want) << "height " << height << " row " << r << " char " << i;
        }
      }
      EXPECT_EQ(line[15] & 0x01, 0x01);
    }
  }
}

TEST_F(TextTest, RenderTextRowOutsideRowsOrLineDrawsNothing) {
  Load(48, false);
  uint8_t line[8] = {};
  RenderTextRow(*cvt_, "HHHH", 0, line, sizeof line);
  RenderTextRow(*cvt_, "HHHH", 17, line, sizeof line);
  for (uint8_t b : line) EXPECT_EQ(b, 0);
  // A 3-byte line holds one 20-pixel cell; the next character is left out
  // and no byte past the line is touched.
  uint8_t guarded[6] = {};
  RenderTextRow(*cvt_, "HH", 8, guarded, 3);
  EXPECT_NE(guarded[0] | guarded[1] | guarded[2], 0);
  EXPECT_EQ(guarded[3] | guarded[4] | guarded[5], 0);
  std::vector<uint8_t> one(8, 0), two(8, 0);
  RenderTextRow(*cvt_, "H", 8, one.data(), 3);
  RenderTextRow(*cvt_, "HH", 8, two.data(), 3);
  EXPECT_EQ(one, two);
}

TEST(ExpandTabs, TabsGoToTheNextMultipleOfTheTabStop) {
  struct Case {
    const char* in;
    unsigned tab;
    size_t max;
    const char* out;
  } cases[] = {
      {"abcde\tX", 4, 84, "abcde   X"},  // a tab at column 5 moves X to column 8
      {"abcd\tX", 4, 84, "abcd    X"},   // at a multiple: a full tab
      {"\tX", 8, 84, "        X"},
      {"a\tb\tc", 1, 84, "a b c"},
      {"abcdef", 4, 4, "abcd"},          // cut after expansion
      {"ab\tcd", 4, 3, "ab "},
      {"\t", 65535, 10, "          "},  // a huge tab stop ends at the cut
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandTabs(c.in, c.tab, c.max), c.out) << c.in;
  }
}

TEST(TextLineToFontCodes, Utf8BecomesCodePage1252AndOtherBytesStay) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9", "caf\xE9"},
      {"\xE2\x82\xAC 5", "\x80 5"},        // euro sign
      {"\xE2\x80\x9Cq\xE2\x80\x9D", "\x93q\x94"},
      {"a\xC2\xA0" "b", "a b"},            // no-break space
      {"\xE2\x86\x92", "?"},               // arrow: not in the code page
      {"caf\xE9", "caf\xE9"},              // Latin-1 file: bytes as they are
      {"\xC3", "\xC3"},                    // cut sequence: not UTF-8
      {"\xC0\xAF", "\xC0\xAF"},            // overlong form: not UTF-8
  };
  for (const Case& c : cases) EXPECT_EQ(TextLineToFontCodes(c.in), c.out) << c.in;
}

std::string Numbered(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += "line " + std::to_string(i) + "\r\n";
  return s;
}

TEST_F(TextTest, EmptyFileGivesOnePageWithOneBlankLine) {
  const ReadResult r = ReadPages(*cvt_, Write(""));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.pages.size(), 1u);
  ASSERT_EQ(r.pages[0].size(), 1u);
  EXPECT_EQ(testing::CountBlack(r.pages[0][0]), 0u);
}

TEST_F(TextTest, LinesPerPageSplitsPages) {
  Load(48, false);
  SetTextLinesPerPage(*cvt_, 60);
  ReadResult r = ReadPages(*cvt_, Write(Numbered(61)));
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.pages[0].size(), 60u * 16);
  EXPECT_EQ(r.pages[1].size(), 16u);
  EXPECT_TRUE(Shows(r, 0, 59, "line 60"));
  EXPECT_TRUE(Shows(r, 1, 0, "line 61"));

  // Exactly a full page gives no empty page after it.
  r = ReadPages(*cvt_, Write(Numbered(60)));
  EXPECT_EQ(r.pages.size(), 1u);

  SetTextLinesPerPage(*cvt_, 0);
  r = ReadPages(*cvt_, Write(Numbered(150)));
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.pages[0].size(), 150u * 16);
  EXPECT_TRUE(Shows(r, 0, 149, "line 150"));
}

TEST_F(TextTest, TextLineHeightFollowsFontAndResolution) {
  struct Case {
    int height;
    bool fine;
    size_t scanLines;
  } cases[] = {{48, false, 16}, {48, true, 32}, {16, false, 8}, {16, true, 16}};
  for (const Case& c : cases) {
    Load(c.height, c.fine);
    const ReadResult r = ReadPages(*cvt_, Write("one\ntwo\nthree\n"));
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].size(), 3 * c.scanLines) << c.height << " " << c.fine;
    EXPECT_TRUE(Shows(r, 0, 2, "three"));
  }
}

TEST_F(TextTest, LongLinesAreCutNeverWrapped) {
  struct Case {
    int height;
    int lineWidth;
    size_t chars;
  } cases[] = {
      {48, 1728, 84},   // 86 - 2 cells of margin
      {16, 1728, 140},  // 144 - 4
      {16, 2048, 144},  // 166 would fit: the 144 characters kept are the limit
  };
  const std::string line(200, 'W');
  for (const Case& c : cases) {
    Load(c.height, false);
    cvt_->lineWidth = c.lineWidth;
    const ReadResult r = ReadPages(*cvt_, Write(line + "\nnext\n"));
    ASSERT_EQ(r.pages.size(), 1u);
    const size_t rows = c.height == 48 ? 16 : 8;
    ASSERT_EQ(r.pages[0].size(), 2 * rows) << "the rest of the line is skipped, not wrapped";
    EXPECT_TRUE(Shows(r, 0, 0, std::string(c.chars, 'W')));
    EXPECT_EQ(r.lens[0], static_cast<int>((c.chars * (c.height == 48 ? 20 : 12) + 7) / 8));
    EXPECT_TRUE(Shows(r, 0, 1, "next"));
  }
}

TEST_F(TextTest, TabStopSetting) {
  Load(48, false);
  SetTextTabStop(*cvt_, 0);  // leaves 4
  ReadResult r = ReadPages(*cvt_, Write("abcde\tX\n"));
  EXPECT_TRUE(Shows(r, 0, 0, "abcde   X"));
  SetTextTabStop(*cvt_, 8);
  r = ReadPages(*cvt_, Write("ab\tX\n"));
  EXPECT_TRUE(Shows(r, 0, 0, "ab      X"));
}

TEST_F(TextTest, LineEndsOfEveryKind) {
  Load(48, false);
  const ReadResult r = ReadPages(*cvt_, Write("a\r\nb\rc\nd"));
  ASSERT_EQ(r.pages.size(), 1u);
  ASSERT_EQ(r.pages[0].size(), 4u * 16);
  EXPECT_TRUE(Shows(r, 0, 3, "d"));
}

// Pages as lists of text lines, "" for a blank text line.
using Layout = std::vector<std::vector<std::string>>;

TEST_F(TextTest, FormFeedsStartPages) {
  struct Case {
    const char* name;
    std::string text;
    unsigned linesPerPage;
    Layout pages;
  } cases[] = {
      {"form feed alone on a line", "a\n\f\nb\n", 0, {{"a", ""}, {"b"}}},
      {"form feed ending a line", "a\f\nb\n", 0, {{"a"}, {"b"}}},
      {"text after a form feed opens the next page", "a\fb\nc\n", 0, {{"a"}, {"b", "c"}}},
      {"text after a form feed at the end of the file", "a\fb", 0, {{"a"}, {"b"}}},
      {"several form feeds on one line", "a\fb\fc\n", 0, {{"a"}, {"b"}, {"c"}}},
      {"a final form feed makes no empty page", "a\n\f", 0, {{"a", ""}}},
      {"two form feeds in a row give a blank page", "a\f\fb\n", 0, {{"a"}, {""}, {"b"}}},
      {"line limit counts the text after a form feed", "a\fb\nc\nd\n", 2,
       {{"a"}, {"b", "c"}, {"d"}}},
      {"line limit starts afresh after a form feed line", "a\n\f\nb\nc\nd\n", 2,
       {{"a", ""}, {"b", "c"}, {"d"}}},
  };
  Load(48, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetTextLinesPerPage(*cvt_, c.linesPerPage);
    const ReadResult r = ReadPages(*cvt_, Write(c.text));
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.pages.size(), c.pages.size());
    for (size_t p = 0; p < c.pages.size(); ++p) {
      ASSERT_EQ(r.pages[p].size(), c.pages[p].size() * 16) << "page " << p + 1;
      for (size_t l = 0; l < c.pages[p].size(); ++l) {
        EXPECT_TRUE(Shows(r, p, l, c.pages[p][l])) << "page " << p + 1 << " line " << l + 1;
      }
    }
  }
}

TEST_F(TextTest, ProgressCountsTheFile) {
  Load(48, false);
  const std::string text = Numbered(5);
  const ReadResult r = ReadPages(*cvt_, Write(text));
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(cvt_->bytesTotal, static_cast<int64_t>(text.size()));
  EXPECT_EQ(cvt_->bytesRead, cvt_->bytesTotal);
}

TEST_F(TextTest, MissingFileGivesItsIoError) {
  const ReadResult r = ReadPages(*cvt_, (dir_ / "none.txt").string());
  EXPECT_EQ(r.rc, -ecFileNotFound);
  EXPECT_EQ(ReadPages(*cvt_, dir_.string()).rc < 0, true);
}

// Through the converter into an APF file and back through the unpacker:
// the pages show the rendered text, moved right by the left margin.
TEST_F(TextTest, TextFileBecomesApfPages) {
  Load(48, false);
  SetTextLinesPerPage(*cvt_, 2);
  Write("Fax\n\tfrom Telvane\nPage two\n", "note.TXT");
  const std::string in = (dir_ / "note").string();  // gets the default extension
  ASSERT_EQ(ConvertToApfFile(*cvt_, in, ""), 0);
  const auto pages = testing::DecodeApfPages((dir_ / "note.APF").string());
  ASSERT_EQ(pages.size(), 2u);
  ASSERT_EQ(pages[0].size(), 32u);
  ASSERT_EQ(pages[1].size(), 16u);
  const auto rows = Rows("    from Telvane");
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto want = testing::ShiftRight(rows[i], 50);
    EXPECT_EQ(pages[0][16 + i], want) << "scan line " << i;
  }
  EXPECT_EQ(pages[1][8], testing::ShiftRight(Rows("Page two")[8], 50));
}

}  // namespace
}  // namespace tv
