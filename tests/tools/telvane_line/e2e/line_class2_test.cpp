// The virtual fax line's Class 2 and Class 2.0 modems against independent
// fax programs: efax (-o2 Class 2, -o0 Class 2.0) and mgetty's sendfax send
// documents through the emulated modem to the line's answering fax machine,
// and efax receives documents from its calling one. Each page that arrives is
// compared row by row with the page sent. The far end refusing a page once
// and hanging up in the middle of a document give the failure paths.
#include "line_e2e_support.h"

#include "tools/telvane-line/line_class2_pages.h"

namespace {

using namespace line_e2e;

enum class TProgram { Efax, Sendfax };

class LineClass2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* line = std::getenv("TELVANE_LINE");
    line_ = line ? line : "";
    if (line_.empty() || !fs::exists(line_)) GTEST_SKIP() << "TELVANE_LINE does not name telvane-line";
    char tmpl[] = "/tmp/telvane-line-c2-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty() && !HasFailure()) fs::remove_all(dir_);
    if (HasFailure()) std::fprintf(stderr, "logs kept in %s\n", dir_.c_str());
  }

  void Need(TProgram program) {
    const char* path = program == TProgram::Efax ? "/usr/bin/efax" : "/usr/sbin/sendfax";
    if (!fs::exists(path)) GTEST_SKIP() << path << " is not installed (scripts/install-deps.sh)";
  }

  // Pages 1..n, each a file of its own: a TIFF for efax, raw G3 for sendfax
  // (mgetty's G3 files hold each byte with its bits reversed; sendfax turns
  // them into stream order for the modem).
  std::vector<std::string> PageFiles(TProgram program, int n) {
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
      pages_.push_back(TestPage(i));
      if (program == TProgram::Efax) {
        files.push_back(dir_ + "/page" + std::to_string(i + 1) + ".tif");
        WriteTiff(files.back(), pages_.back());
      } else {
        tv::line::TTvPageRows rows;
        rows.width = kWidth;
        rows.rows = pages_.back();
        const std::vector<uint8_t> g3 = tv::line::EncodePage(rows, false, true, dir_ + "/scratch.tif");
        files.push_back(dir_ + "/page" + std::to_string(i + 1) + ".g3");
        FILE* f = std::fopen(files.back().c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
          std::fwrite(g3.data(), 1, g3.size(), f);
          std::fclose(f);
        }
      }
    }
    return files;
  }

  // Starts the line; returns the pseudo-terminal it printed.
  std::string StartLine(std::vector<std::string> args) {
    args.insert(args.begin(), line_);
    args.insert(args.end(), {"--timeout", "200", "--log"});
    lineProc_ = Spawn(args, dir_ + "/line.log", true);
    std::string first = ReadLines(lineProc_.out, 1, 10);
    if (!first.empty() && first.back() == '\n') first.pop_back();
    return first;
  }
  int FinishLine(std::string* result) {
    const int status = Wait(lineProc_, 60);
    *result = ReadLines(lineProc_.out, 1, 1);
    close(lineProc_.out);
    return status;
  }

  // The program sends the files through the modem at `pty`.
  Child Send(TProgram program, const char* lineClass, const std::string& pty,
             const std::vector<std::string>& files) {
    std::vector<std::string> args;
    if (program == TProgram::Efax) {
      args = {"/usr/bin/efax", "-d", pty, std::string(lineClass) == "2" ? "-o2" : "-o0",
              "-h", "", "-v", "ewinchr", "-t", "5551234"};
    } else {
      // sendfax names the port without /dev/; -x 0 keeps it from writing a log.
      args = {"/usr/sbin/sendfax", "-v", "-x", "0", "-n", "-C",
              std::string(lineClass) == "2" ? "cls2" : "c2.0", "-l", pty.substr(5), "5551234"};
    }
    args.insert(args.end(), files.begin(), files.end());
    return Spawn(args, dir_ + "/program.log", false);
  }

  // The pages the far end stored.
  std::vector<Rows> ReceivedPages() {
    std::vector<fs::path> files;
    if (fs::is_directory(dir_ + "/in")) {
      for (const auto& e : fs::directory_iterator(dir_ + "/in")) files.push_back(e.path());
    }
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? std::vector<Rows>{} : ReadTiff(files[0].string());
  }

  // efax draws a header over the top rows (even an empty one); sendfax
  // sends the page as it is.
  void ExpectPagesArrived(TProgram program, const std::vector<Rows>& got, size_t count) {
    ASSERT_EQ(got.size(), count);
    for (size_t i = 0; i < count; ++i) {
      if (program == TProgram::Efax) {
        EXPECT_GE(MatchingRows(pages_[i], got[i], 40), kRows - 42) << "page " << i + 1;
      } else {
        EXPECT_EQ(MatchingRows(pages_[i], got[i], 0), kRows) << "page " << i + 1;
      }
    }
  }

  std::string Log(const char* name) { return FileText(dir_ + "/" + name); }

  std::string line_, dir_;
  std::vector<Rows> pages_;
  Child lineProc_;
};

struct SendCase {
  const char* name;
  TProgram program;
  const char* lineClass;
  int pages;
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class LineClass2SendTest : public LineClass2Test, public ::testing::WithParamInterface<SendCase> {};

// The program dials and sends a document; the line's fax machine answers and
// stores every page.
TEST_P(LineClass2SendTest, ProgramSendsDocumentToAnsweringFarEnd) {
  const SendCase& c = GetParam();
  Need(c.program);
  const auto files = PageFiles(c.program, c.pages);
  const std::string pty = StartLine({"--answer", dir_ + "/in", "--class", c.lineClass});
  ASSERT_FALSE(pty.empty()) << Log("line.log");
  Child program = Send(c.program, c.lineClass, pty, files);
  EXPECT_EQ(Wait(program, 180), 0) << Log("program.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result;
  EXPECT_NE(result.find("code=0 pages=" + std::to_string(c.pages) + " bitrate=14400"),
            std::string::npos)
      << result;
  ExpectPagesArrived(c.program, ReceivedPages(), static_cast<size_t>(c.pages));
}

INSTANTIATE_TEST_SUITE_P(
    Programs, LineClass2SendTest,
    ::testing::Values(SendCase{"EfaxClass2", TProgram::Efax, "2", 3},
                      SendCase{"EfaxClass20", TProgram::Efax, "2.0", 3},
                      SendCase{"SendfaxClass2", TProgram::Sendfax, "2", 2},
                      SendCase{"SendfaxClass20", TProgram::Sendfax, "2.0", 2}),
    [](const auto& info) { return std::string(info.param.name); });

class LineClass2ReceiveTest : public LineClass2Test,
                              public ::testing::WithParamInterface<const char*> {};

// The line rings, efax answers, and the line's fax machine sends a two-page
// document: efax stores both pages exactly as sent, in either bit order of
// the modem's data.
TEST_P(LineClass2ReceiveTest, EfaxReceivesDocumentFromCallingFarEnd) {
  const std::string lineClass = GetParam();
  Need(TProgram::Efax);
  pages_ = {TestPage(0), TestPage(1)};
  WriteTiffDocument(dir_ + "/document.tif", pages_);
  const std::string pty = StartLine({"--call", dir_ + "/document.tif", "--class", lineClass,
                                     "--ident", "+1 555 0100"});
  ASSERT_FALSE(pty.empty()) << Log("line.log");
  fs::create_directory(dir_ + "/got");
  Child efax = Spawn({"/usr/bin/efax", "-d", pty, lineClass == "2" ? "-o2" : "-o0", "-v", "ewinchr",
                      "-r", dir_ + "/got/fax"},
                     dir_ + "/program.log", false);
  EXPECT_EQ(Wait(efax, 150), 0) << Log("program.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result;
  EXPECT_NE(result.find("code=0 pages=2 bitrate=14400"), std::string::npos) << result;
  EXPECT_NE(Log("program.log").find("+1 555 0100"), std::string::npos) << "far end's station id";
  for (int i = 0; i < 2; ++i) {
    const auto got = ReadTiff(dir_ + "/got/fax.00" + std::to_string(i + 1));
    ASSERT_EQ(got.size(), 1u) << "page " << i + 1;
    EXPECT_EQ(MatchingRows(pages_[static_cast<size_t>(i)], got[0], 0), kRows) << "page " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, LineClass2ReceiveTest, ::testing::Values("2", "2.0"),
                         [](const auto& info) {
                           return std::string(info.param) == "2" ? "Class2" : "Class20";
                         });

// The far end answers RTN to the first page once: the modem reports the
// refusal (+FPTS:2), efax sends the page again, and both pages arrive.
TEST_F(LineClass2Test, RefusedPageIsSentAgain) {
  Need(TProgram::Efax);
  const auto files = PageFiles(TProgram::Efax, 2);
  const std::string pty =
      StartLine({"--answer", dir_ + "/in", "--class", "2", "--refuse-page", "1"});
  ASSERT_FALSE(pty.empty()) << Log("line.log");
  Child efax = Send(TProgram::Efax, "2", pty, files);
  EXPECT_EQ(Wait(efax, 180), 0) << Log("program.log");
  std::string result;
  EXPECT_EQ(FinishLine(&result), 0) << result;
  const std::string lineLog = Log("line.log");
  EXPECT_NE(lineLog.find("refusing page 1 once"), std::string::npos);
  EXPECT_NE(lineLog.find("<- +FPTS:2"), std::string::npos) << "the refusal reaches efax";
  EXPECT_NE(lineLog.find("page 3 collected"), std::string::npos) << "page 1 sent twice";
  ExpectPagesArrived(TProgram::Efax, ReceivedPages(), 2);
}

// The far end hangs up after the first of two pages: sendfax (Class 2.0)
// hears of it in the hang-up report and fails; the page sent is stored.
TEST_F(LineClass2Test, FarEndHangsUpInTheMiddle) {
  Need(TProgram::Sendfax);
  const auto files = PageFiles(TProgram::Sendfax, 2);
  const std::string pty =
      StartLine({"--answer", dir_ + "/in", "--class", "2.0", "--hangup-after-page", "1"});
  ASSERT_FALSE(pty.empty()) << Log("line.log");
  Child sendfax = Send(TProgram::Sendfax, "2.0", pty, files);
  const int status = Wait(sendfax, 180);
  EXPECT_GE(status, 10) << "a failure after the far end picked up\n" << Log("program.log");
  std::string result;
  EXPECT_NE(FinishLine(&result), 0) << result;
  EXPECT_NE(result.find("pages=1 "), std::string::npos) << result;
  EXPECT_NE(Log("line.log").find("<- +FHS:"), std::string::npos);
  ExpectPagesArrived(TProgram::Sendfax, ReceivedPages(), 1);
}

}  // namespace
