// telvane-fax receive and modem through the virtual line's Class 2 and Class
// 2.0 modems, with spandsp's fax terminal calling, in real time: the stored
// pages are the far end's document exactly, and `modem` reports the classes
// of each emulated modem. Skipped while either program is missing.
#include "class2_line_calls.h"

namespace tv::e2e {
namespace {

TEST_F(Class2Call, ReceivesTheFarEndsDocumentExactly) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax is not built";
  struct Case {
    const char* lineClass;
    int pages;
  };
  const Case cases[] = {{"2", 1}, {"2", 3}, {"2.0", 1}, {"2.0", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "Class " << c.lineClass << ", " << c.pages << " pages");
    // The far end's document: pages of text made by our converter, so that
    // they compare with what the engine stores.
    const std::vector<RasterPage> document = DecodeApf(MakeTextFax("DOC", c.pages, c.pages > 1));
    ASSERT_EQ(static_cast<size_t>(c.pages), document.size());
    const std::string tiff = (dir / "document.tif").string();
    ASSERT_TRUE(WriteTiff(tiff, document));
    const fs::path store = dir / ("store-" + std::string(c.lineClass) + "-" + std::to_string(c.pages));
    fs::create_directories(store);
    ASSERT_TRUE(StartLine("--call " + tiff + " --class " + c.lineClass + " --ident \"+1 555 0100\"",
                          Link()));
    // The line rings a second after it starts, in the middle of the engine's
    // set-up: the engine answers a later RING.
    int status = -1;
    const std::string output =
        RunCommand(kFax + " receive --port " + Link() + " --class " + c.lineClass + " --dir " +
                       store.string() + " --once --trace " + Trace(),
                   status);
    const std::string result = LineResult();
    EXPECT_EQ(0, status) << output << ReadFile(Trace()).substr(0, 3000);
    EXPECT_NE(std::string::npos, result.find("code=0 pages=" + std::to_string(c.pages))) << result;
    EXPECT_NE(std::string::npos, output.find("+1 555 0100")) << output;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(store)) {
      if (e.path().extension() == ".APF" || e.path().extension() == ".apf") files.push_back(e.path());
    }
    ASSERT_EQ(1u, files.size()) << output;
    const std::vector<RasterPage> got = DecodeApf(files[0].string());
    ASSERT_EQ(document.size(), got.size());
    for (size_t p = 0; p < got.size(); ++p) ExpectSamePage(document[p], got[p], static_cast<int>(p + 1));
    WaitForLineEnd();
  }
}

TEST_F(Class2Call, ModemReportsTheClassesOfEachEmulatedModem) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax is not built";
  struct Case {
    const char* options;
    const char* classes;
  };
  const Case cases[] = {
      {"--class 1 --fclass-reply 0,1", "classes: 1\n"},
      {"--class 2", "classes: 2\n"},
      {"--class 2.0 --fclass-reply 0,1,2.0", "classes: 1 2.0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    ASSERT_TRUE(StartIdleLine(c.options, 6));
    int status = -1;
    const std::string output = RunCommand(kFax + " modem --port " + Link(), status);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, output.find(c.classes)) << output;
    WaitForLineEnd();
  }
}

}  // namespace
}  // namespace tv::e2e
