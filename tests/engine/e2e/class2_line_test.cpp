// telvane-fax through the virtual line's Class 2 and Class 2.0 modems, whose
// fax procedure runs in spandsp inside the emulated modem, with spandsp's fax
// terminal as the far end, in real time. Sending: the far end's pages are ours
// line for line below the header. Receiving: the stored pages are the far
// end's document exactly. A page the far end refuses once is sent again; a
// far end that hangs up midway ends the fax with an error. `modem` reports
// each emulated modem's classes, and `send --class auto` picks 2.0, then 2,
// then 1 from the modem's reply.
// Skipped while either program is missing from the build.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

struct Class2Call : LineCall {
  std::string Link() const { return (dir / "modem").string(); }
  std::string Trace() const { return (dir / "send.trc").string(); }
  // The line ends after its call and then removes its link; the next call's
  // line must not be mistaken for it.
  void WaitForLineEnd() {
    for (int i = 0; i < 300 && fs::exists(fs::symlink_status(Link())); ++i) usleep(100000);
  }
  // A line that serves no call and ends after `seconds`.
  bool StartIdleLine(const std::string& options, int seconds) {
    const std::string command = kLine + " --answer " + (dir / "rx").string() + " " + options +
                                " --link " + Link() + " --timeout " + std::to_string(seconds) +
                                " > " + lineOut + " 2> " + lineErr + " &";
    if (std::system(command.c_str()) != 0) return false;
    for (int i = 0; i < 100 && !fs::exists(Link()); ++i) usleep(50000);
    return fs::exists(Link());
  }
};

struct SendCase {
  const char* lineClass;     // the emulated modem's class
  const char* classesReply;  // what it answers to AT+FCLASS=? ("" its default)
  const char* faxClass;      // telvane-fax send --class
  const char* selected;      // the class command the engine must send, as the line logs it
  int pages;
};

TEST_F(Class2Call, SendsPagesLineForLineThroughEitherClass) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  // The calls with --class auto also show the choice: 2 from "0,1,2", 2.0
  // from "0,1,2.0" and from "0,2,2.0".
  const SendCase cases[] = {
      {"2", "0,1,2", "auto", "-> AT+FCLASS=2\n", 1},
      {"2", "", "2", "-> AT+FCLASS=2\n", 3},
      {"2.0", "0,1,2.0", "auto", "-> AT+FCLASS=2.0\n", 1},
      {"2.0", "0,2,2.0", "auto", "-> AT+FCLASS=2.0\n", 3},
  };
  for (const SendCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "Class " << c.lineClass << ", reply \"" << c.classesReply
                                    << "\", --class " << c.faxClass << ", " << c.pages << " pages");
    fs::remove_all(dir / "rx");
    fs::create_directories(dir / "rx");
    std::string options = "--log --answer " + (dir / "rx").string() + " --class " + c.lineClass;
    if (*c.classesReply) options += std::string(" --fclass-reply ") + c.classesReply;
    ASSERT_TRUE(StartLine(options, Link())) << "telvane-line gave no modem";
    const std::string apf = MakeTextFax("OUT", c.pages, c.pages > 1);
    int status = -1;
    const std::string output =
        RunCommand(kFax + " send --port " + Link() + " --to 5551234 --class " + c.faxClass +
                       " --station-id \"+49 30 1\" --header \"\\$I page \\$P of \\$N\" " + apf,
                   status);
    const std::string result = LineResult();
    const std::vector<RasterPage> sent = DecodeApf(apf);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, result.find("code=0 pages=" + std::to_string(sent.size())))
        << result;
    EXPECT_NE(std::string::npos, ReadFile(lineErr).find(c.selected)) << "class chosen";
    std::vector<RasterPage> got = ReadTiff(ResultFile(result));
    ASSERT_EQ(sent.size(), got.size()) << result;
    for (size_t p = 0; p < sent.size(); ++p)
      ExpectSentPage(sent[p], got[p], sent[p].fine ? 16 : 8, static_cast<int>(p + 1));
    WaitForLineEnd();
  }
}

// The far end refuses the first page once: the modem reports it (+FPTS:2 in
// Class 2, +FPS:2 and ERROR in Class 2.0), the engine sends the page again
// and the far end has both pages. A far end that hangs up after the first
// page ends the fax with an error; the page sent is stored.
TEST_F(Class2Call, RefusedPageIsSentAgainAndAHangUpEndsTheFax) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  struct Case {
    const char* lineClass;
    const char* farEnd;
    bool succeeds;
    size_t stored;
  };
  const Case cases[] = {
      {"2", "--refuse-page 1", true, 2},
      {"2.0", "--refuse-page 1", true, 2},
      {"2", "--hangup-after-page 1", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "Class " << c.lineClass << ", " << c.farEnd);
    fs::remove_all(dir / "rx");
    fs::create_directories(dir / "rx");
    ASSERT_TRUE(StartLine("--answer " + (dir / "rx").string() + " --class " + c.lineClass + " " +
                              c.farEnd,
                          Link()));
    const std::string apf = MakeTextFax("OUT", 2, false);
    int status = -1;
    const std::string output = RunCommand(kFax + " send --port " + Link() + " --to 5551234 --class " +
                                              c.lineClass + " --header \"\\$P\" " + apf,
                                          status);
    const std::string result = LineResult();
    EXPECT_EQ(c.succeeds, status == 0) << output;
    EXPECT_NE(std::string::npos, result.find("pages=" + std::to_string(c.stored) + " ")) << result;
    const std::vector<RasterPage> sent = DecodeApf(apf);
    std::vector<RasterPage> got = ReadTiff(ResultFile(result));
    ASSERT_EQ(c.stored, got.size()) << result;
    for (size_t p = 0; p < got.size(); ++p) ExpectSentPage(sent[p], got[p], 8, static_cast<int>(p + 1));
    WaitForLineEnd();
  }
}

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
