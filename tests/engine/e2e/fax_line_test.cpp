// Sending: telvane-fax send through telvane-line to spandsp's fax terminal,
// in real time, at each speed. The far end's pages must be ours line for
// line below the header. Skipped while either program is missing.
#include "class1_line_calls.h"

namespace tv::e2e {
namespace {

TEST_F(SendCall, PagesArriveLineForLineAtEachSpeed) {
  if (!ToolsPresent()) GTEST_SKIP() << "telvane-line or telvane-fax send is not built";
  for (const MatrixCall& c : MatrixCalls({{3, true, 14400}, {1, false, 9600}, {1, false, 4800}})) {
    SCOPED_TRACE(testing::Message() << c.pages << " pages " << (c.fine ? "fine" : "normal")
                                    << " at " << c.bps);
    std::string apf = MakeTextFax("OUT", c.pages, c.fine);
    SendAndCompare(apf, "", c.bps, std::to_string(c.bps));
  }
}

}  // namespace
}  // namespace tv::e2e
