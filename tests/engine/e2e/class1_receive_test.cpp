// Receiving: spandsp's fax terminal calls through telvane-line and
// telvane-fax receive answers, in real time. The APF file Telvane writes
// must hold the far end's document exactly. Skipped while either program is
// missing from the build.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

struct ReceiveCall : LineCall {
  void ReceiveAndCompare(int pages, bool fine, const std::string& lineOptions,
                         const std::string& faxOptions, const std::string& expectRate) {
    // The far end's document: our text pages, written as a G3 TIFF.
    std::vector<RasterPage> document = DecodeApf(MakeTextFax("DOC", pages, fine));
    ASSERT_EQ(static_cast<size_t>(pages), document.size());
    std::string tiff = (dir / "doc.tif").string();
    ASSERT_TRUE(WriteTiff(tiff, document));
    std::vector<RasterPage> sent = ReadTiff(tiff);
    std::string link = NewLink();
    ASSERT_TRUE(StartLine("--call " + tiff + " " + lineOptions, link)) << "telvane-line gave no modem";
    int status = -1;
    fs::path rx = dir / ("rx" + std::to_string(calls));
    fs::create_directories(rx);
    std::string output = RunCommand(kFax + " receive --port " + link + " --once --dir " +
                                        rx.string() + " " + faxOptions,
                                    status);
    std::string result = LineResult();
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, result.find("pages=" + std::to_string(pages))) << result;
    EXPECT_NE(std::string::npos, result.find("bitrate=" + expectRate)) << result;
    std::vector<RasterPage> got = DecodeApf((rx / "FAX0001.APF").string());
    ASSERT_EQ(sent.size(), got.size()) << output;
    for (size_t p = 0; p < sent.size(); ++p) ExpectSamePage(sent[p], got[p], static_cast<int>(p + 1));
  }
};

TEST_F(ReceiveCall, TheFarEndsPagesAreStoredExactlyAtEachSpeed) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax receive is not built";
  for (const MatrixCall& c : MatrixCalls({{3, true, 14400}, {1, false, 9600}})) {
    SCOPED_TRACE(testing::Message() << c.pages << " pages " << (c.fine ? "fine" : "normal")
                                    << " at " << c.bps);
    ReceiveAndCompare(c.pages, c.fine, "", "--bps " + std::to_string(c.bps), std::to_string(c.bps));
  }
}

TEST_F(ReceiveCall, AFarEndWithoutV17SendsAtItsFastestModem) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax receive is not built";
  struct Case { const char* modems; const char* rate; };
  std::vector<Case> cases = {{"v27ter", "4800"}};
  if (FullMatrix()) cases.insert(cases.begin(), {"v29", "9600"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modems);
    ReceiveAndCompare(1, false, std::string("--modems ") + c.modems, "", c.rate);
  }
}

}  // namespace
}  // namespace tv::e2e
