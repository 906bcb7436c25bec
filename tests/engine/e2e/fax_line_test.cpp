// Sending: telvane-fax send through telvane-line to spandsp's fax terminal,
// in real time, at each speed. The far end's pages must be ours line for
// line below the header. Skipped while either program is missing.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

TEST_F(SendCall, PagesArriveLineForLineAtEachSpeed) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  struct Case { int pages; bool fine; int bps; };
  std::vector<Case> cases = {{3, true, 14400}, {1, false, 9600}, {1, false, 4800}};
  if (FullMatrix()) {
    cases.clear();
    for (int bps : {14400, 9600, 4800})
      for (bool fine : {false, true})
        for (int pages : {1, 3}) cases.push_back({pages, fine, bps});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pages << " pages " << (c.fine ? "fine" : "normal")
                                    << " at " << c.bps);
    std::string apf = MakeTextFax("OUT", c.pages, c.fine);
    SendAndCompare(apf, "", c.bps, std::to_string(c.bps));
  }
}

}  // namespace
}  // namespace tv::e2e
