#include "engine/files/header_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/files/receive_names.h"
#include "engine/session/fax_records.h"
#include "images/t4/t4_decoder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

TEST(HeaderLine, TagsAreReplacedCaseBlind) {
  HeaderValues v;
  v.date = "12/11/2026";
  v.time = "14:05";
  v.stationId = "+49 30 1234";
  v.sender = "Acme";
  v.recipient = "Bob";
  v.title = "Offer";
  v.pages = "3";
  v.page = "2";
  struct Case { const char* line; const char* expanded; };
  const Case cases[] = {
      {"$D $T From $F to $R Page $P of $N", "12/11/2026 14:05 From Acme to Bob Page 2 of 3"},
      {"$i $s", "+49 30 1234 Offer"},
      {"x $Xyz y", "x  y"},          // an unknown tag loses its word
      {"$Pages", "2"},               // the tag runs to the next blank
      {"Cost 5$", "Cost 5"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expanded, ExpandHeaderTags(c.line, v)) << c.line;
  v.sender = "$R $$";
  EXPECT_EQ("From $R $$ to Bob", ExpandHeaderTags("From $F to $R", v));
}

TEST(HeaderLine, PageNumbersWithAndWithoutCover) {
  FaxSession s;
  s.common.stationId = "ID";
  s.common.totalPages = 2;
  s.common.currentPage = 1;
  EXPECT_EQ("1", HeaderValuesFor(s).page);
  EXPECT_EQ("2", HeaderValuesFor(s).pages);
  s.common.coverCount = 1;
  s.common.coverInProgress = true;
  EXPECT_EQ("1", HeaderValuesFor(s).page);
  EXPECT_EQ("3", HeaderValuesFor(s).pages);
  s.common.coverInProgress = false;
  EXPECT_EQ("2", HeaderValuesFor(s).page);
}

TEST(ReceiveNames, CounterAndDateRules) {
  fs::path dir = fs::temp_directory_path() / ("tv-engine-names-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  EXPECT_EQ((dir / "FAX0001.APF").string(), CounterFileName(dir.string(), "APF"));
  std::ofstream(dir / "FAX0001.APF");
  std::ofstream(dir / "FAX0002.APF");
  EXPECT_EQ((dir / "FAX0003.APF").string(), CounterFileName(dir.string(), "APF"));
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 2;
  tm.tm_mday = 7;
  tm.tm_hour = 12;
  EXPECT_EQ((dir / "03070001.APF").string(), DateFileName(dir.string(), "APF", std::mktime(&tm)));
  for (int n = 3; n <= 9999; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "FAX%04d.APF", n);
    std::ofstream(dir / name);
  }
  EXPECT_EQ((dir / "NONAME.APF").string(), CounterFileName(dir.string(), "APF"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Collects the byte count of each decoded line.
struct WidthSink : t4::LineSink {
  std::vector<int> bytes;
  bool Line(const uint8_t*, int n) override {
    bytes.push_back(n);
    return true;
  }
};

TEST(HeaderLine, RendersOneCodedLinePerGlyphRowAsWideAsThePage) {
  auto renderer = CreateHeaderLineRenderer();
  ASSERT_TRUE(renderer);
  struct Case { int height; bool fine; bool wide; size_t rows; };
  const Case cases[] = {{16, false, false, 8}, {16, true, false, 16}, {48, false, false, 16},
                        {48, true, false, 32},  {16, false, true, 8},  {16, true, true, 16},
                        {16, false, false, 8}};  // normal again after a wide page
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.height << " fine " << c.fine << " wide " << c.wide);
    std::vector<std::vector<uint8_t>> rows;
    ASSERT_EQ(0, renderer->Render("Page 1 of 2", c.height, c.fine, c.wide, rows));
    ASSERT_EQ(c.rows, rows.size());
    bool anyBlack = false;
    std::vector<uint8_t> coded;
    for (const auto& row : rows) {
      ASSERT_GE(row.size(), 4u);
      EXPECT_EQ(0x00, row[0]);  // each line starts with a byte-aligned EOL
      EXPECT_EQ(0x80, row[1]);
      if (row.size() > 6) anyBlack = true;  // more than the all-white code
      coded.insert(coded.end(), row.begin(), row.end());
    }
    EXPECT_TRUE(anyBlack);
    // Every row decodes to a whole line of the page's width.
    coded.insert(coded.end(), {0x00, 0x80});
    t4::T4Decoder decoder;
    WidthSink sink;
    decoder.StartPage();
    decoder.Feed(coded.data(), coded.size(), sink);
    decoder.Finish(sink);
    EXPECT_EQ(0, decoder.BadCodes());
    EXPECT_EQ(std::vector<int>(c.rows, c.wide ? 256 : 216), sink.bytes);
  }
}

}  // namespace
}  // namespace tv
