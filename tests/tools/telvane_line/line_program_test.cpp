// The telvane-line program without a call: what it prints, how it refuses bad
// input, and that it ends cleanly on a signal or at its time limit, removing
// its links.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct LineRun {
  int status = -1;
  std::string out, err;
};

// Runs the line with args; sends SIGTERM after `termAfter` seconds when > 0.
LineRun RunLine(std::vector<std::string> args, double termAfter, const fs::path& dir) {
  const char* line = std::getenv("TELVANE_LINE");
  args.insert(args.begin(), line ? line : "telvane-line");
  const std::string outFile = (dir / "out.txt").string(), errFile = (dir / "err.txt").string();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (termAfter > 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(termAfter));
    // The link exists while the line runs.
    if (fs::exists(dir / "modem")) {
      EXPECT_TRUE(fs::is_symlink(dir / "modem"));
    }
    kill(pid, SIGTERM);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  auto slurp = [](const std::string& p) {
    std::string s;
    if (FILE* f = std::fopen(p.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
      std::fclose(f);
    }
    return s;
  };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outFile), slurp(errFile)};
}

class LineProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* line = std::getenv("TELVANE_LINE");
    if (line == nullptr || !fs::exists(line)) GTEST_SKIP() << "TELVANE_LINE does not name telvane-line";
    char tmpl[] = "/tmp/telvane-line-prog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  fs::path dir_;
};

struct EndCase {
  const char* name;
  std::vector<std::string> args;
  double termAfter;
  const char* result;
};

// The line prints its pseudo-terminal first, and on SIGTERM or at --timeout
// it prints a result line, removes its links and exits non-zero (no call).
TEST_F(LineProgramTest, EndsCleanlyAndRemovesLinks) {
  const std::vector<EndCase> cases = {
      {"sigterm-answer", {"--answer", "IN"}, 1.0, "result: text=\"stopped, no call\" code=-1"},
      {"timeout-answer", {"--answer", "IN", "--timeout", "1"}, 0, "result: text=\"timed out, no call\" code=-1"},
      {"sigterm-pair", {"--pair"}, 1.0, "result: text=\"stopped, no call\" code=-1"},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(a == "IN" ? (dir_ / "in").string() : a);
    args.insert(args.end(), {"--link", (dir_ / "modem").string()});
    const LineRun r = RunLine(args, c.termAfter, dir_);
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(r.out.rfind("/dev/pts/", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(c.result), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "modem")));
  }
}

// A link left behind by a killed line is replaced; a real file is not.
TEST_F(LineProgramTest, StaleLinkReplacedRealFileRefused) {
  fs::create_symlink("/dev/pts/9999", dir_ / "modem");
  LineRun r = RunLine({"--pair", "--timeout", "0.5", "--link", (dir_ / "modem").string()}, 0, dir_);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "modem")));

  std::FILE* f = std::fopen((dir_ / "modem").c_str(), "w");
  std::fclose(f);
  r = RunLine({"--pair", "--timeout", "0.5", "--link", (dir_ / "modem").string()}, 0, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("exists and is not a symbolic link"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "modem"));
}

struct BadCase {
  std::vector<std::string> args;
  const char* message;
};

// Bad input is refused with a message naming the problem, before any
// pseudo-terminal is made.
TEST_F(LineProgramTest, RefusesBadInput) {
  const std::string notTiff = (dir_ / "page.txt").string();
  std::FILE* f = std::fopen(notTiff.c_str(), "w");
  std::fputs("not a fax\n", f);
  std::fclose(f);
  const std::vector<BadCase> cases = {
      {{}, "give one of --answer DIR, --call FILE.tif, --pair"},
      {{"--pair", "--answer", "x"}, "give only one of"},
      {{"--call", (dir_ / "missing.tif").string()}, "cannot read"},
      {{"--call", notTiff}, "as a TIFF file"},
      {{"--pair", "--noise", "loud"}, "--noise takes a level in dBm0"},
      {{"--pair", "--modems", "v34"}, "--modems takes v17, v29 or v27ter"},
      {{"--pair", "--link", "a", "--link", "b", "--link", "c"}, "at most two --link"},
      {{"--answer", "x", "--ident", "an ident far longer than twenty"}, "at most 20 characters"},
      {{"--pair", "--bogus"}, "unknown option --bogus"},
      {{"--pair", "--class", "3"}, "--class takes 1, 2 or 2.0"},
      {{"--pair", "--fclass-reply", ""}, "--fclass-reply takes a list of classes"},
      {{"--answer", "x", "--refuse-page", "0"}, "--refuse-page takes a page number from 1"},
      {{"--answer", "x", "--hangup-after-page", "1.5"}, "--hangup-after-page takes a page number"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.message);
    const LineRun r = RunLine(c.args, 0, dir_);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("/dev/pts/"), std::string::npos);
  }
}

}  // namespace
