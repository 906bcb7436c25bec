// Table engine figures on the outgoing table: building its five tags over
// 100,000 rows, appending 10,000 rows with the tags kept up to date, and
// opening a table and reading the first screen (30 rows) in DATESENT order
// for tables of different sizes.
#include <unistd.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/core/error_codes.h"
#include "platform/xbase/xbase_table.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<tv::XbaseField> kFields = {
    {"SUBJECT", 'C', 50, 0},   {"DATESENT", 'D', 8, 0},  {"TIMESENT", 'C', 5, 0},
    {"RECIPIENT", 'C', 35, 0}, {"PHONE", 'C', 25, 0},    {"LASTRESULT", 'C', 100, 0},
    {"FAXDOC", 'C', 12, 0},    {"FAXCOVER", 'C', 12, 0}, {"NOTES", 'C', 50, 0},
    {"CODES", 'C', 25, 0},     {"ARCHIVED", 'L', 1, 0}};

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Processor time of this process, so that figures on a busy machine can be
// told apart from waiting.
double CpuMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::mt19937 rng(42);

void AddRow(tv::XbaseTable& t, int i) {
  static const char* words[] = {"Invoice", "offer", "Contract", "minutes", "Quote", "order", "Letter", "memo"};
  t.Append();
  t.SetString("SUBJECT", std::string(words[rng() % 8]) + " " + std::to_string(rng() % 100000));
  if (rng() % 10) {
    char d[16];
    std::snprintf(d, sizeof d, "%04d%02d%02d", 2000 + static_cast<int>(rng() % 26), 1 + static_cast<int>(rng() % 12),
                  1 + static_cast<int>(rng() % 28));
    t.SetDate("DATESENT", d);
    char tm[8];
    std::snprintf(tm, sizeof tm, "%02d:%02d", static_cast<int>(rng() % 24), static_cast<int>(rng() % 60));
    t.SetString("TIMESENT", tm);
  }
  t.SetString("RECIPIENT", "Recipient " + std::to_string(rng() % 5000));
  t.SetString("PHONE", "555-" + std::to_string(1000 + i % 9000));
  t.SetString("CODES", "C" + std::to_string(rng() % 300));
  t.SetBoolean("ARCHIVED", rng() % 4 == 0);
  t.Post();
}

void MakeTable(const fs::path& dir, int rows) {
  fs::create_directories(dir);
  if (tv::CreateTableFile(dir / "ZTOUT.DBF", "XXXXXXXXXX", tv::kXbaseTableTypeFoxPro, kFields) != tv::ecOK) {
    std::fprintf(stderr, "cannot create the table in %s\n", dir.c_str());
    std::exit(1);
  }
  tv::XbaseTable t;
  t.Open(dir, "ZTOUT.DBF", true);
  for (int i = 0; i < rows; ++i) AddRow(t, i);
}

struct TagDef {
  const char* name;
  const char* key;
  bool descending;
};
const TagDef kTags[] = {{"DATESENT", "DTOS(DATESENT)+TIMESENT", true},
                        {"SUBJECT", "UPPER(SUBJECT)", false},
                        {"RECIPIENT", "UPPER(RECIPIENT)", false},
                        {"CODES", "UPPER(CODES)", false},
                        {"ARCHIVED", "ARCHIVED", false}};

void MakeTags(tv::XbaseTable& t) {
  for (const TagDef& d : kTags) t.CreateIndexTag(d.name, d.key, false, d.descending, ".not. deleted()");
}

// Opens the table and reads the first 30 rows in DATESENT order, n times;
// returns the mean in milliseconds.
double OpenAndFirstScreen(const fs::path& dir, int repeats) {
  std::string sink;
  auto a = Clock::now();
  for (int k = 0; k < repeats; ++k) {
    tv::XbaseTable t;
    t.Open(dir, "ZTOUT.DBF", true);
    t.SetFilterExpression(".not. archived");
    t.SetOrderByNumber(1);
    int n = 0;
    for (t.First(); !t.Eof() && n < 30; t.Next(), ++n) sink += t.AsString("SUBJECT");
  }
  auto b = Clock::now();
  if (sink.empty()) std::printf("(no rows read)\n");
  return Ms(a, b) / repeats;
}

}  // namespace

int main() {
  char buf[] = "/tmp/xbase_bench_XXXXXX";
  fs::path root = ::mkdtemp(buf);
  fs::path big = root / "big", small = root / "small";

  auto a = Clock::now();
  MakeTable(big, 100000);
  auto b = Clock::now();
  std::printf("append 100,000 rows without tags:        %8.1f ms\n", Ms(a, b));

  double total = 0, totalCpu = 0;
  {
    tv::XbaseTable t;
    t.Open(big, "ZTOUT.DBF", true);
    for (const TagDef& d : kTags) {
      auto s = Clock::now();
      double c0 = CpuMs();
      t.CreateIndexTag(d.name, d.key, false, d.descending, ".not. deleted()");
      double c1 = CpuMs();
      auto e = Clock::now();
      std::printf("  build tag %-10s over 100,000 rows:  %8.1f ms (cpu %.1f ms)\n", d.name, Ms(s, e), c1 - c0);
      total += Ms(s, e);
      totalCpu += c1 - c0;
    }
    std::printf("build the five outgoing tags (100,000):  %8.1f ms (cpu %.1f ms)\n", total, totalCpu);

    auto s = Clock::now();
    double c0 = CpuMs();
    for (int i = 0; i < 10000; ++i) AddRow(t, 100000 + i);
    double c1 = CpuMs();
    auto e = Clock::now();
    std::printf("append 10,000 rows, five tags kept:      %8.1f ms (cpu %.1f ms, %.1f us per row)\n", Ms(s, e),
                c1 - c0, Ms(s, e) / 10);
    if (!t.VerifyIndex().empty()) std::printf("  INDEX FAULT after appends\n");
  }

  MakeTable(small, 1000);
  {
    tv::XbaseTable t;
    t.Open(small, "ZTOUT.DBF", true);
    MakeTags(t);
  }
  std::printf("open + first screen, 110,000 rows:       %8.3f ms\n", OpenAndFirstScreen(big, 50));
  std::printf("open + first screen, 1,000 rows:         %8.3f ms\n", OpenAndFirstScreen(small, 50));
  {
    tv::XbaseTable t;
    t.Open(big, "ZTOUT.DBF", true);
    t.SetFilterExpression(".not. archived");
    t.SetOrderByNumber(1);
    auto s = Clock::now();
    int n = t.VisibleCount();
    auto e = Clock::now();
    std::printf("VisibleCount (grid row count), 110,000:  %8.1f ms (%d visible)\n", Ms(s, e), n);
    s = Clock::now();
    for (int i = 0; i < 1000; ++i) t.GoToPosition((i * 7919) % n);
    e = Clock::now();
    std::printf("GoToPosition afterwards:                 %8.3f us each\n", Ms(s, e));
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
