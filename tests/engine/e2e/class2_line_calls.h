// The fixture of the end-to-end calls through the virtual line's Class 2 and
// Class 2.0 modems (class2_line_test.cpp sends, class2_line_receive_test.cpp
// receives; two programs, so that each stays within the test time limit).
#pragma once

#include "class1_line_calls.h"

namespace tv::e2e {

struct Class2Call : LineCall {
  std::string Link() const { return (dir / "modem").string(); }
  std::string Trace() const { return (dir / "receive.trc").string(); }
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

}  // namespace tv::e2e
