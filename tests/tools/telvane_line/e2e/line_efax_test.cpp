// The virtual fax line with efax, an independent Class 1 fax program, on the
// other side of the emulated modem: efax sends to the line's answering fax
// machine, receives from its calling one, and talks to itself through a pair
// of modems. The pages that arrive are compared row by row with the page sent.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<uint8_t>>;

constexpr int kWidth = 1728;
constexpr int kRows = 500;

// A page whose rows are all different: each carries its row number as a bar
// code, plus a slanted line, so that a shifted or damaged row shows.
Rows TestPage() {
  Rows rows(kRows, std::vector<uint8_t>(kWidth / 8, 0));
  for (int r = 0; r < kRows; ++r) {
    auto set = [&](int x) { rows[r][x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); };
    for (int bit = 0; bit < 10; ++bit) {
      if ((r >> bit) & 1) {
        for (int x = 100 + bit * 48; x < 100 + bit * 48 + 40; ++x) set(x);
      }
    }
    for (int x = 700 + (r * 2) % 900; x < 700 + (r * 2) % 900 + 24; ++x) set(x);
  }
  return rows;
}

void WriteTiff(const std::string& path, const Rows& rows) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 98.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    std::vector<uint8_t> row = rows[r];
    ASSERT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0), 1);
  }
  TIFFClose(tif);
}

// The pages of a TIFF file as rows, or an empty list.
std::vector<Rows> ReadTiff(const std::string& path) {
  std::vector<Rows> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return pages;
  do {
    uint32_t width = 0, length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    Rows rows(length, std::vector<uint8_t>((width + 7) / 8));
    for (uint32_t r = 0; r < length; ++r) {
      if (TIFFReadScanline(tif, rows[r].data(), r, 0) < 0) break;
    }
    pages.push_back(std::move(rows));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

// How many rows of `sent` from `firstRow` on appear in `got`, in order, at one
// common offset (a sender may put a header above the page).
int MatchingRows(const Rows& sent, const Rows& got, int firstRow) {
  int best = 0;
  for (int shift = -40; shift <= 40; ++shift) {
    int same = 0;
    for (int r = firstRow; r < static_cast<int>(sent.size()); ++r) {
      const int g = r + shift;
      if (g >= 0 && g < static_cast<int>(got.size()) && got[g] == sent[r]) ++same;
    }
    best = std::max(best, same);
  }
  return best;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output, when captured
};

Child Spawn(const std::vector<std::string>& args, const std::string& logFile, bool captureOut) {
  int fds[2] = {-1, -1};
  if (captureOut && pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 2);
    dup2(captureOut ? fds[1] : log, 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Child c;
  c.pid = pid;
  if (captureOut) {
    close(fds[1]);
    c.out = fds[0];
  }
  return c;
}

// Exit status, or -1 after killing a child that outlived the time limit.
int Wait(Child& c, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (waitpid(c.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(c.pid, SIGTERM);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      kill(c.pid, SIGKILL);
      waitpid(c.pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads from a child's output until `lines` lines have arrived or EOF/time-out.
std::string ReadLines(int fd, int lines, double seconds) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::count(text.begin(), text.end(), '\n') < lines) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now()).count();
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

std::string FileText(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return "";
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

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
