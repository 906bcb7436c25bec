// The virtual fax line with efax, an independent Class 1 fax program, on the
// other side of the emulated modem: efax sends to the line's answering fax
// machine, receives from its calling one, and talks to itself through a pair
// of modems. The pages that arrive are compared row by row with the page sent.
#include "line_e2e_support.h"

namespace {

using namespace line_e2e;

class LineEfaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* line = std::getenv("TELVANE_LINE");
    line_ = line ? line : "";
    if (line_.empty() || !fs::exists(line_)) GTEST_SKIP() << "TELVANE_LINE does not name telvane-line";
    if (!fs::exists("/usr/bin/efax")) GTEST_SKIP() << "efax is not installed (scripts/install-deps.sh)";
    char tmpl[] = "/tmp/telvane-line-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    page_ = TestPage();
    WriteTiff(dir_ + "/page.tif", page_);
  }
  void TearDown() override {
    if (!dir_.empty() && !HasFailure()) fs::remove_all(dir_);
    if (HasFailure()) std::fprintf(stderr, "logs kept in %s\n", dir_.c_str());
  }

  // Starts the line; returns the pseudo-terminal paths it printed.
  std::vector<std::string> StartLine(std::vector<std::string> args, int ptys = 1) {
    args.insert(args.begin(), line_);
    args.insert(args.end(), {"--timeout", "150", "--log"});
    lineProc_ = Spawn(args, dir_ + "/line.log", true);
    const std::string first = ReadLines(lineProc_.out, ptys, 10);
    std::vector<std::string> paths;
    size_t start = 0;
    for (size_t nl; (nl = first.find('\n', start)) != std::string::npos; start = nl + 1) {
      paths.push_back(first.substr(start, nl - start));
    }
    return paths;
  }
  // Waits for the line's end; returns its exit status, its result line in *result.
  int FinishLine(std::string* result) {
    const int status = Wait(lineProc_, 60);
    *result = ReadLines(lineProc_.out, 1, 1);
    close(lineProc_.out);
    return status;
  }
  std::string Log(const char* name) { return FileText(dir_ + "/" + name); }

  std::string line_, dir_;
  Rows page_;
  Child lineProc_;
};

struct AnswerCase {
  const char* name;
  const char* modems;
  const char* bitrate;  // what the call settles at
};

class LineEfaxAnswerTest : public LineEfaxTest,
                           public ::testing::WithParamInterface<AnswerCase> {};

// efax dials and sends a page; the line's fax machine answers and stores it.
// With a far end that offers only slower modems the call settles lower.
TEST_P(LineEfaxAnswerTest, EfaxSendsPageToAnsweringFarEnd) {
  const AnswerCase& c = GetParam();
  const auto ptys = StartLine({"--answer", dir_ + "/in", "--modems", c.modems});
  ASSERT_EQ(ptys.size(), 1u) << Log("line.log");
  Child efax = Spawn({"/usr/bin/efax", "-d", ptys[0], "-o1", "-h", "", "-v", "ewinchr", "-t", "5551234",
                      dir_ + "/page.tif"},
                     dir_ + "/efax.log", false);
  EXPECT_EQ(Wait(efax, 150), 0) << Log("efax.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result << Log("line.log");
  EXPECT_NE(result.find("code=0 pages=1 bitrate=" + std::string(c.bitrate) + " "), std::string::npos)
      << result;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir_ + "/in")) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  const auto pages = ReadTiff(files[0].string());
  ASSERT_EQ(pages.size(), 1u);
  // efax writes its header over the top rows; every row below it arrives.
  const int below = 40;
  EXPECT_GE(MatchingRows(page_, pages[0], below), kRows - below - 2) << "rows damaged";
}

INSTANTIATE_TEST_SUITE_P(Modems, LineEfaxAnswerTest,
                         ::testing::Values(AnswerCase{"V17", "v17", "14400"},
                                           AnswerCase{"OnlyV29", "v29", "9600"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The line rings, efax answers, and the line's fax machine sends the page: efax
// stores it exactly as sent.
TEST_F(LineEfaxTest, EfaxReceivesPageFromCallingFarEnd) {
  const auto ptys = StartLine({"--call", dir_ + "/page.tif", "--ident", "+1 555 0100"});
  ASSERT_EQ(ptys.size(), 1u) << Log("line.log");
  fs::create_directory(dir_ + "/got");
  Child efax = Spawn({"/usr/bin/efax", "-d", ptys[0], "-o1", "-v", "ewinchr", "-r", dir_ + "/got/fax"},
                     dir_ + "/efax.log", false);
  EXPECT_EQ(Wait(efax, 150), 0) << Log("efax.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result << Log("line.log");
  EXPECT_NE(result.find("code=0 pages=1 bitrate=14400"), std::string::npos) << result;
  EXPECT_NE(Log("efax.log").find("+1 555 0100"), std::string::npos) << "far end's station id";
  const auto pages = ReadTiff(dir_ + "/got/fax.001");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(MatchingRows(page_, pages[0], 0), kRows);
}

// Two modems back to back: efax on one dials, efax on the other (auto-answer)
// receives.
TEST_F(LineEfaxTest, EfaxToEfaxThroughPair) {
  const auto ptys = StartLine({"--pair", "--link", dir_ + "/modemA", "--link", dir_ + "/modemB"}, 2);
  ASSERT_EQ(ptys.size(), 2u) << Log("line.log");
  ASSERT_TRUE(fs::is_symlink(dir_ + "/modemA"));
  fs::create_directory(dir_ + "/got");
  Child receiver = Spawn({"/usr/bin/efax", "-d", dir_ + "/modemB", "-o1", "-iS0=1", "-w", "-v", "ewinc",
                          "-r", dir_ + "/got/fax"},
                         dir_ + "/efax-rx.log", false);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  Child sender = Spawn({"/usr/bin/efax", "-d", dir_ + "/modemA", "-o1", "-h", "", "-v", "ewinc", "-t", "2",
                        dir_ + "/page.tif"},
                       dir_ + "/efax-tx.log", false);
  EXPECT_EQ(Wait(sender, 150), 0) << Log("efax-tx.log");
  EXPECT_EQ(Wait(receiver, 30), 0) << Log("efax-rx.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result << Log("line.log");
  EXPECT_NE(result.find("text=\"call ended\" code=0"), std::string::npos) << result;
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ + "/modemA"))) << "links are removed at the end";
  const auto pages = ReadTiff(dir_ + "/got/fax.001");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_GE(MatchingRows(page_, pages[0], 40), kRows - 42);
}

// Two calls in a row to one line (--calls 2): the second dials while the first
// is still winding down, and both faxes arrive in files of their own.
TEST_F(LineEfaxTest, TwoCallsInARow) {
  const auto ptys = StartLine({"--answer", dir_ + "/in", "--calls", "2"});
  ASSERT_EQ(ptys.size(), 1u) << Log("line.log");
  for (const char* number : {"1", "2"}) {
    Child efax = Spawn({"/usr/bin/efax", "-d", ptys[0], "-o1", "-h", "", "-v", "ewinc", "-t", number,
                        dir_ + "/page.tif"},
                       dir_ + "/efax.log", false);
    EXPECT_EQ(Wait(efax, 100), 0) << "call " << number << "\n" << Log("efax.log");
  }
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << Log("line.log");
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir_ + "/in")) files.push_back(e.path());
  ASSERT_EQ(files.size(), 2u);
  for (const auto& f : files) {
    const auto pages = ReadTiff(f.string());
    ASSERT_EQ(pages.size(), 1u) << f;
    EXPECT_GE(MatchingRows(page_, pages[0], 40), kRows - 42) << f;
  }
}

}  // namespace
