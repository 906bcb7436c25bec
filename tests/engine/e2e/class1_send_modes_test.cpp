// Sending to far ends that lack V.17, and a fax whose pages change
// resolution and width, through telvane-line to spandsp's fax terminal in
// real time. Skipped while either program is missing.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

TEST_F(SendCall, AFarEndWithoutV17SettlesAtItsFastestModem) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  struct Case { const char* modems; const char* rate; };
  const Case cases[] = {{"v29", "9600"}, {"v27ter", "4800"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modems);
    SendAndCompare(MakeTextFax("OUT", 1, false), std::string("--modems ") + c.modems, 14400, c.rate);
  }
}

TEST_F(SendCall, PagesOfAnotherResolutionGoWithTheirOwnDcsAndAWidePageIsRefused) {
  // Normal, fine, normal: each change gets a DCS and TCF of its own after
  // the MCF, so the far end reads every page right. The far end takes only
  // 1728-pixel lines, so the wide fourth page ends the fax with -8070.
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  std::string normal = MakeTextFax("N", 1, false, 6);
  std::string fine = MakeTextFax("F", 1, true, 6);
  std::string wideText = (dir / "W.txt").string();
  std::ofstream(wideText) << "A wide page: 2048 pixels to the line\nsecond line\n";
  std::string wide = (dir / "W.APF").string();
  int status = -1;
  std::string out = RunCommand(kFax + " convert " + wideText + " -o " + wide + " --wide", status);
  ASSERT_EQ(0, status) << out;
  std::string mixed = JoinApf(dir / "MIXED.APF", {normal, fine, normal, wide});
  std::vector<RasterPage> sent = DecodeApf(mixed);
  ASSERT_EQ(256, sent.at(3).bytesPerRow);

  std::string link = NewLink();
  ASSERT_TRUE(StartLine("--answer " + (dir / "rx").string(), link));
  std::string output = RunCommand(kFax + " send --port " + link + " --to 5551234 --header \"\\$P\" " +
                                      mixed,
                                  status);
  std::string result = LineResult();
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, output.find("Fax incompatible with remote fax")) << output;
  EXPECT_NE(std::string::npos, result.find("pages=3")) << result;
  std::vector<RasterPage> got = ReadTiff(ResultFile(result));
  ASSERT_EQ(3u, got.size()) << result;
  for (size_t p = 0; p < 3; ++p)
    ExpectSentPage(sent[p], got[p], sent[p].fine ? 16 : 8, static_cast<int>(p + 1));
}

}  // namespace
}  // namespace tv::e2e
