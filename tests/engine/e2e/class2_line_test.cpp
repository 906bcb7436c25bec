// telvane-fax through the virtual line's Class 2 and Class 2.0 modems, whose
// fax procedure runs in spandsp inside the emulated modem, with spandsp's fax
// terminal as the far end, in real time. Sending: the far end's pages are ours
// line for line below the header; `send --class auto` picks 2.0, then 2,
// then 1 from the modem's reply. A page the far end refuses once is sent
// again; a far end that hangs up midway ends the fax with an error.
// Skipped while either program is missing from the build.
#include "class2_line_calls.h"

namespace tv::e2e {
namespace {

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

}  // namespace
}  // namespace tv::e2e
